// What HDFS keeps beside a path's bytes and permissions: ACLs (getfacl, setfacl), extended
// attributes (getfattr, setfattr) and snapshots, through Hadoop's client, printed as Hadoop's
// shell prints them.
#include <cstdio>

#include "tools/qxdfs/commands.h"
#include "tools/qxdfs/java.h"
#include "tools/qxdfs/pathdata.h"

namespace qxdfs {
namespace {

const char kFileSystemClass[] = "org/apache/hadoop/fs/FileSystem";
const char kListClass[] = "java/util/List";
const char kEntryClass[] = "org/apache/hadoop/fs/permission/AclEntry";
const char kPermissionClass[] = "org/apache/hadoop/fs/permission/FsPermission";
const char kCodecClass[] = "org/apache/hadoop/fs/XAttrCodec";

std::string textOf(Java &java, jobject target, const char *type, const char *method) {
  LocalRef<jobject> text = java.call(target, type, method, "()Ljava/lang/String;");
  return java.text(text.get());
}

// An FsAction as getfacl shows it ("r-x").
std::string symbolOf(Java &java, jobject action) {
  JNIEnv *env = java.env();
  LocalRef<jclass> type(env, env->GetObjectClass(action));
  jfieldID symbol = env->GetFieldID(type.get(), "SYMBOL", "Ljava/lang/String;");
  LocalRef<jobject> text(env, symbol ? env->GetObjectField(action, symbol) : nullptr);
  if (env->ExceptionCheck()) env->ExceptionClear();
  return java.text(text.get());
}

// Each element of a Java list, while the calls go through.
template <typename Each>
void eachOf(Java &java, jobject list, Each each) {
  jint size = java.value<jint>(list, kListClass, "size", "()I");
  for (jint i = 0; i < size && java; i++) {
    LocalRef<jobject> element = java.call(list, kListClass, "get", "(I)Ljava/lang/Object;", i);
    each(element.get());
  }
}

// One scope's entries of getfacl: as they are for a minimal ACL, else with what the mask leaves
// of a named or group entry.
void printScope(Java &java, jobject status, jobject permission, jobject entries) {
  if (java.value<jint>(entries, kListClass, "size", "()I") == 0) return;
  jboolean minimal = java.valueStatic<jboolean>("org/apache/hadoop/fs/permission/AclUtil",
                                                "isMinimalAcl", "(Ljava/util/List;)Z", entries);
  eachOf(java, entries, [&](jobject entry) {
    std::string line = textOf(java, entry, kEntryClass, "toStringStable");
    LocalRef<jobject> type = java.call(entry, kEntryClass, "getType",
                                       "()Lorg/apache/hadoop/fs/permission/AclEntryType;");
    bool named = !textOf(java, entry, kEntryClass, "getName").empty() ||
                 textOf(java, type.get(), "java/lang/Enum", "name") == "GROUP";
    if (!minimal && status && named) {
      const char *actionType = "Lorg/apache/hadoop/fs/permission/FsAction;";
      LocalRef<jobject> given =
          java.call(entry, kEntryClass, "getPermission", (std::string("()") + actionType).c_str());
      LocalRef<jobject> effective =
          java.call(status, "org/apache/hadoop/fs/permission/AclStatus", "getEffectivePermission",
                    (std::string("(Lorg/apache/hadoop/fs/permission/AclEntry;") +
                     "Lorg/apache/hadoop/fs/permission/FsPermission;)" + actionType)
                        .c_str(),
                    entry, permission);
      if (java && !java.env()->IsSameObject(given.get(), effective.get())) {
        line = textOf(java, entry, kEntryClass, "toString") +
               "\t#effective:" + symbolOf(java, effective.get());
      }
    }
    if (java) printf("%s\n", line.c_str());
  });
}

void printAcl(Shell &shell, const Item &item) {
  const Stat &stat = item.stat;
  printf("# file: %s\n# owner: %s\n# group: %s\n", item.text.c_str(), stat.owner.c_str(),
         stat.group.c_str());
  if (stat.permission & 01000) printf("# flags: --%c\n", stat.permission & 1 ? 't' : 'T');
  Java java(shell.session);
  LocalRef<jobject> path = java.path(item.path);
  LocalRef<jobject> status(java.env(), nullptr);
  LocalRef<jobject> entries(java.env(), nullptr);
  if (stat.acl) {
    status = java.call(item.fs, kFileSystemClass, "getAclStatus",
                       "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/permission/AclStatus;",
                       path.get());
    entries = java.call(status.get(), "org/apache/hadoop/fs/permission/AclStatus", "getEntries",
                        "()Ljava/util/List;");
  } else {
    entries = java.make("java/util/ArrayList", "()V");
  }
  LocalRef<jobject> permission = java.make(kPermissionClass, "(S)V", stat.permission);
  LocalRef<jobject> full = java.callStatic(
      "org/apache/hadoop/fs/permission/AclUtil", "getAclFromPermAndEntries",
      "(Lorg/apache/hadoop/fs/permission/FsPermission;Ljava/util/List;)Ljava/util/List;",
      permission.get(), entries.get());
  const char *scopedClass = "org/apache/hadoop/fs/permission/ScopedAclEntries";
  LocalRef<jobject> scoped = java.make(scopedClass, "(Ljava/util/List;)V", full.get());
  for (const char *scope : {"getAccessEntries", "getDefaultEntries"}) {
    LocalRef<jobject> list = java.call(scoped.get(), scopedClass, scope, "()Ljava/util/List;");
    if (java) printScope(java, status.get(), permission.get(), list.get());
  }
  if (!java) return displayError(shell, java.error());
  printf("\n");
}

// getfacl and getfattr take one path, and say so in Hadoop's words.
int onePath(Shell &shell, const std::vector<std::string> &operands, const char *missing,
            const char *tooMany) {
  if (operands.empty()) return usageError(*shell.command, missing);
  if (operands.size() > 1) return usageError(*shell.command, tooMany);
  return kSucceeded;
}

// One item, and with -R every path below it.
int eachOfTree(Shell &shell, std::vector<std::string> &operands, const ItemAction &action) {
  ItemAction visit = [&](Item &item) {
    action(item);
    if (shell.flag("R") && item.isDirectory()) eachBelow(shell, item, visit, false);
  };
  return eachItem(shell, operands, visit);
}

void printAttribute(Java &java, const std::string &name, jobject value, jobject encoding) {
  if (!value) return;
  jsize length = java.env()->GetArrayLength(static_cast<jbyteArray>(value));
  if (length == 0) {
    printf("%s\n", name.c_str());
    return;
  }
  LocalRef<jobject> text =
      java.callStatic(kCodecClass, "encodeValue",
                      "([BLorg/apache/hadoop/fs/XAttrCodec;)Ljava/lang/String;", value, encoding);
  if (java) printf("%s=%s\n", name.c_str(), java.text(text.get()).c_str());
}

// A snapshot command's directory: one that is there and is a directory; false after its line.
bool snapshotDirectory(Shell &shell, const std::string &operand, Item &directory) {
  eachItem(shell, {operand}, [&](Item &item) {
    if (!item.isDirectory()) return displayError(shell, pathError(item.text, kIsNotDirectory));
    directory = item;
  });
  return shell.errors == 0 && directory.exists;
}

std::string pathText(Java &java, jobject path) {
  return textOf(java, path, "org/apache/hadoop/fs/Path", "toString");
}

}  // namespace

int getAcl(Shell &shell, std::vector<std::string> &operands) {
  if (int refused = onePath(shell, operands, "<path> is missing", "Too many arguments")) {
    return refused;
  }
  return eachOfTree(shell, operands, [&](Item &item) { printAcl(shell, item); });
}

int setAcl(Shell &shell, std::vector<std::string> &operands) {
  bool removeAll = shell.flag("b"), removeDefault = shell.flag("k"), modify = shell.flag("m"),
       removeEntries = shell.flag("x"), set = shell.flag("-set");
  bool oneRemove = removeAll || removeDefault, oneModify = modify || removeEntries;
  if ((removeAll && removeDefault) || (modify && removeEntries) || (oneRemove && oneModify) ||
      (set && (oneRemove || oneModify))) {
    return usageError(*shell.command, "Specified flags contains both remove and modify flags");
  }
  Java java(shell.session);
  LocalRef<jobject> entries(java.env(), nullptr);
  if (oneModify || set) {
    if (operands.empty()) return usageError(*shell.command, "Missing arguments: <acl_spec> <path>");
    if (operands.size() < 2)
      return usageError(*shell.command, "Missing either <acl_spec> or <path>");
    LocalRef<jstring> aclText = java.string(operands[0]);
    entries = java.callStatic(kEntryClass, "parseAclSpec", "(Ljava/lang/String;Z)Ljava/util/List;",
                              aclText.get(), static_cast<jboolean>(!removeEntries));
    if (!java) return usageError(*shell.command, java.error());
    if (java.value<jint>(entries.get(), kListClass, "size", "()I") == 0) {
      return usageError(*shell.command, "Missing <acl_spec> entry");
    }
    operands.erase(operands.begin());
  }
  if (int refused = onePath(shell, operands, "<path> is missing", "Too many arguments")) {
    return refused;
  }
  if (!(oneRemove || oneModify || set)) {
    return usageError(*shell.command, "Expected one of -b, -k, -m, -x or --set options");
  }
  // Below a directory, files take only the access entries.
  LocalRef<jobject> access = java.make("java/util/ArrayList", "()V");
  if (entries) {
    eachOf(java, entries.get(), [&](jobject entry) {
      LocalRef<jobject> scope = java.call(entry, kEntryClass, "getScope",
                                          "()Lorg/apache/hadoop/fs/permission/AclEntryScope;");
      if (textOf(java, scope.get(), "java/lang/Enum", "name") == "ACCESS") {
        java.value<jboolean>(access.get(), kListClass, "add", "(Ljava/lang/Object;)Z", entry);
      }
    });
  }
  return eachOfTree(shell, operands, [&](Item &item) {
    Java change(shell.session);
    LocalRef<jobject> path = change.path(item.path);
    const char *pathOnly = "(Lorg/apache/hadoop/fs/Path;)V";
    const char *withList = "(Lorg/apache/hadoop/fs/Path;Ljava/util/List;)V";
    jobject list = shell.flag("R") && !item.isDirectory() ? access.get() : entries.get();
    bool empty = list && change.value<jint>(list, kListClass, "size", "()I") == 0;
    if (removeAll) {
      change.call(item.fs, kFileSystemClass, "removeAcl", pathOnly, path.get());
    } else if (removeDefault) {
      change.call(item.fs, kFileSystemClass, "removeDefaultAcl", pathOnly, path.get());
    } else if (!empty) {
      change.call(item.fs, kFileSystemClass,
                  modify          ? "modifyAclEntries"
                  : removeEntries ? "removeAclEntries"
                                  : "setAcl",
                  withList, path.get(), list);
    }
    if (!change) displayError(shell, change.error());
  });
}

int getAttribute(Shell &shell, std::vector<std::string> &operands) {
  std::string name = shell.value("n");
  Java java(shell.session);
  LocalRef<jobject> encoding(java.env(), nullptr);
  std::string given = shell.options.count("e") ? shell.value("e") : "text";
  for (char &c : given) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  LocalRef<jstring> encodingName = java.string(given);
  encoding =
      java.callStatic(kCodecClass, "valueOf",
                      "(Ljava/lang/String;)Lorg/apache/hadoop/fs/XAttrCodec;", encodingName.get());
  if (!java || !encoding) {
    return usageError(*shell.command,
                      "Invalid/unsupported encoding option specified: " + shell.value("e"));
  }
  if (!shell.flag("d") && name.empty()) {
    return usageError(*shell.command, "Must specify '-n name' or '-d' option.");
  }
  if (int refused = onePath(shell, operands, "<path> is missing.", "Too many arguments.")) {
    return refused;
  }
  return eachOfTree(shell, operands, [&](Item &item) {
    printf("# file: %s\n", item.text.c_str());
    Java read(shell.session);
    LocalRef<jobject> path = read.path(item.path);
    if (shell.flag("d")) {
      LocalRef<jobject> all = read.call(item.fs, kFileSystemClass, "getXAttrs",
                                        "(Lorg/apache/hadoop/fs/Path;)Ljava/util/Map;", path.get());
      LocalRef<jobject> keys =
          all ? read.call(all.get(), "java/util/Map", "keySet", "()Ljava/util/Set;")
              : LocalRef<jobject>(read.env(), nullptr);
      LocalRef<jobject> list =
          keys ? read.make("java/util/ArrayList", "(Ljava/util/Collection;)V", keys.get())
               : LocalRef<jobject>(read.env(), nullptr);
      if (list) {
        eachOf(read, list.get(), [&](jobject key) {
          LocalRef<jobject> value = read.call(all.get(), "java/util/Map", "get",
                                              "(Ljava/lang/Object;)Ljava/lang/Object;", key);
          printAttribute(read, read.text(key), value.get(), encoding.get());
        });
      }
    } else {
      LocalRef<jstring> key = read.string(name);
      LocalRef<jobject> value =
          read.call(item.fs, kFileSystemClass, "getXAttr",
                    "(Lorg/apache/hadoop/fs/Path;Ljava/lang/String;)[B", path.get(), key.get());
      printAttribute(read, name, value.get(), encoding.get());
    }
    if (!read) displayError(shell, read.error());
  });
}

int setAttribute(Shell &shell, std::vector<std::string> &operands) {
  bool naming = shell.options.count("n") != 0, removing = shell.options.count("x") != 0;
  if (naming && removing) {
    return usageError(*shell.command, "Can not specify both '-n name' and '-x name' option.");
  }
  if (!naming && !removing) {
    return usageError(*shell.command, "Must specify '-n name' or '-x name' option.");
  }
  Java java(shell.session);
  LocalRef<jobject> value(java.env(), nullptr);
  if (shell.options.count("v")) {
    LocalRef<jstring> text = java.string(shell.value("v"));
    value = java.callStatic(kCodecClass, "decodeValue", "(Ljava/lang/String;)[B", text.get());
    if (!java) return usageError(*shell.command, java.error());
  }
  return eachItem(shell, operands, [&](Item &item) {
    Java change(shell.session);
    LocalRef<jobject> path = change.path(item.path);
    LocalRef<jstring> name = change.string(shell.value(naming ? "n" : "x"));
    if (naming) {
      change.call(item.fs, kFileSystemClass, "setXAttr",
                  "(Lorg/apache/hadoop/fs/Path;Ljava/lang/String;[B)V", path.get(), name.get(),
                  value.get());
    } else {
      change.call(item.fs, kFileSystemClass, "removeXAttr",
                  "(Lorg/apache/hadoop/fs/Path;Ljava/lang/String;)V", path.get(), name.get());
    }
    if (!change) displayError(shell, change.error());
  });
}

int createSnapshot(Shell &shell, std::vector<std::string> &operands) {
  Item directory;
  if (!snapshotDirectory(shell, operands[0], directory)) return statusOf(shell);
  Java java(shell.session);
  LocalRef<jobject> path = java.path(directory.path);
  LocalRef<jstring> name =
      operands.size() > 1 ? java.string(operands[1]) : LocalRef<jstring>(java.env(), nullptr);
  LocalRef<jobject> made =
      java.call(directory.fs, kFileSystemClass, "createSnapshot",
                "(Lorg/apache/hadoop/fs/Path;Ljava/lang/String;)Lorg/apache/hadoop/fs/Path;",
                path.get(), name.get());
  if (!java) {
    displayError(shell, java.error());
  } else {
    printf("Created snapshot %s\n", pathText(java, made.get()).c_str());
  }
  return statusOf(shell);
}

int deleteSnapshot(Shell &shell, std::vector<std::string> &operands) {
  Item directory;
  if (!snapshotDirectory(shell, operands[0], directory)) return statusOf(shell);
  Java java(shell.session);
  LocalRef<jobject> path = java.path(directory.path);
  LocalRef<jstring> name = java.string(operands[1]);
  java.call(directory.fs, kFileSystemClass, "deleteSnapshot",
            "(Lorg/apache/hadoop/fs/Path;Ljava/lang/String;)V", path.get(), name.get());
  if (!java) {
    displayError(shell, java.error());
  } else {
    printf("Deleted snapshot %s under %s\n", operands[1].c_str(), directory.path.c_str());
  }
  return statusOf(shell);
}

int renameSnapshot(Shell &shell, std::vector<std::string> &operands) {
  Item directory;
  if (!snapshotDirectory(shell, operands[0], directory)) return statusOf(shell);
  Java java(shell.session);
  LocalRef<jobject> path = java.path(directory.path);
  LocalRef<jstring> from = java.string(operands[1]);
  LocalRef<jstring> to = java.string(operands[2]);
  java.call(directory.fs, kFileSystemClass, "renameSnapshot",
            "(Lorg/apache/hadoop/fs/Path;Ljava/lang/String;Ljava/lang/String;)V", path.get(),
            from.get(), to.get());
  if (!java) {
    displayError(shell, java.error());
  } else {
    printf("Renamed snapshot %s to %s under %s\n", operands[1].c_str(), operands[2].c_str(),
           directory.path.c_str());
  }
  return statusOf(shell);
}

}  // namespace qxdfs
