// The commands that make, remove and change paths: mkdir, rm, rmdir, expunge, touchz, touch,
// truncate, setrep, chmod, chown and chgrp, with Hadoop's shell's checks, messages and waits.
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <chrono>
// GCC 12 warns inside <regex> itself once the sanitizers' build inlines it: a false positive of
// its own headers, not of this file.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#include <thread>

#include "tools/qxdfs/commands.h"
#include "tools/qxdfs/copying.h"
#include "tools/qxdfs/java.h"
#include "tools/qxdfs/pathdata.h"

namespace qxdfs {
namespace {

const char kFileSystemClass[] = "org/apache/hadoop/fs/FileSystem";
const char kPathClass[] = "org/apache/hadoop/fs/Path";
const char kConfigurationClass[] = "org/apache/hadoop/conf/Configuration";
const char kTrashClass[] = "org/apache/hadoop/fs/Trash";
const char kPathToPath[] = "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/Path;";

// How long -w of setrep and truncate waits, in steps.
constexpr int kWaitSteps = 600;
constexpr auto kWaitStep = std::chrono::seconds(1);

// The namespace operations with one QXChar path and a 0/-1 result.
using PathOperation = int32_t (*)(DfsLinkState *, QXMessageContext *, int32_t *, hdfsFS,
                                  const QXChar *);

bool onPath(Shell &shell, PathOperation operation, const Item &item) {
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string text = qx(item.path);
  return operation(session.dfs(), session.context(), &status, item.fs, text.c_str()) == 0;
}

// A path that is not there may be made only in a directory that is: "`NAME': No such file or
// directory: `QUALIFIED'" otherwise, as Hadoop's shell says it for touch and touchz.
bool parentIsThere(Shell &shell, const Item &item) {
  bool exists = false;
  std::string parent, error;
  if (!parentExists(shell, item, Parent::ByForm, exists, parent, error)) {
    displayError(shell, error);
    return false;
  }
  if (!exists) {
    displayError(shell, pathError(item.text, kNoSuchPath) + ": " + quoted(qualified(shell, item)));
  }
  return exists;
}

// A new empty file (or an empty one made again), through Hadoop's create.
void createEmpty(Shell &shell, const Item &item, bool overwrite) {
  Java java(shell.session);
  LocalRef<jobject> path = java.path(item.path);
  LocalRef<jobject> stream =
      java.call(item.fs, kFileSystemClass, "create",
                "(Lorg/apache/hadoop/fs/Path;Z)Lorg/apache/hadoop/fs/FSDataOutputStream;",
                path.get(), static_cast<jboolean>(overwrite));
  java.call(stream.get(), "java/io/OutputStream", "close", "()V");
  if (!java) displayError(shell, java.error());
}

// How long the file system keeps what goes to its trash, in minutes: the server's when it sets
// one, else fs.trash.interval of the connection's configuration (as Hadoop's shell takes it).
jlong trashInterval(Shell &shell, Java &java, jobject fs, jobject configuration, jobject path) {
  Java server(shell.session);  // a file system without server defaults keeps no trash of its own
  LocalRef<jobject> defaults =
      server.call(fs, kFileSystemClass, "getServerDefaults",
                  "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/FsServerDefaults;", path);
  jlong minutes = server.value<jlong>(defaults.get(), "org/apache/hadoop/fs/FsServerDefaults",
                                      "getTrashInterval", "()J");
  if (minutes != 0) return minutes;
  LocalRef<jstring> key = java.string("fs.trash.interval");
  return java.value<jlong>(configuration, kConfigurationClass, "getLong", "(Ljava/lang/String;J)J",
                           key.get(), jlong{0});
}

// Moves a path to its file system's trash when the file system keeps one: the line saying where
// it went, or "" when there is no trash (or the path is in it already). The connection's own
// Trash, so that the path moves as the connection's user; false with the cause.
bool moveToTrash(Shell &shell, const Item &item, std::string &line, std::string &cause) {
  Java java(shell.session);
  LocalRef<jobject> configuration =
      java.call(item.fs, kFileSystemClass, "getConf", "()Lorg/apache/hadoop/conf/Configuration;");
  LocalRef<jobject> given = java.path(item.path);
  LocalRef<jobject> qualified =
      java.call(item.fs, kFileSystemClass, "makeQualified", kPathToPath, given.get());
  jlong minutes = trashInterval(shell, java, item.fs, configuration.get(), qualified.get());
  line.clear();
  if (java && minutes > 0) {
    LocalRef<jobject> copy = java.make(
        kConfigurationClass, "(Lorg/apache/hadoop/conf/Configuration;)V", configuration.get());
    LocalRef<jstring> key = java.string("fs.trash.interval");
    java.call(copy.get(), kConfigurationClass, "setLong", "(Ljava/lang/String;J)V", key.get(),
              minutes);
    LocalRef<jobject> trash = java.make(
        kTrashClass, "(Lorg/apache/hadoop/fs/FileSystem;Lorg/apache/hadoop/conf/Configuration;)V",
        item.fs, copy.get());
    jboolean moved = java.value<jboolean>(trash.get(), kTrashClass, "moveToTrash",
                                          "(Lorg/apache/hadoop/fs/Path;)Z", qualified.get());
    LocalRef<jobject> current =
        java.call(trash.get(), kTrashClass, "getCurrentTrashDir", kPathToPath, qualified.get());
    auto text = [&](jobject path) {
      LocalRef<jobject> shown = java.call(path, kPathClass, "toString", "()Ljava/lang/String;");
      return java.text(shown.get());
    };
    if (moved) line = "Moved: '" + text(qualified.get()) + "' to trash at: " + text(current.get());
  }
  if (!java) cause = java.error() + ". Consider using -skipTrash option";
  return static_cast<bool>(java);
}

void removeOne(Shell &shell, Item &item) {
  if (item.isDirectory() && !shell.flag("r") && !shell.flag("R")) {
    return displayError(shell, pathError(item.text, kIsDirectory));
  }
  if (nameOf(item.path).empty())
    return displayError(shell, pathError(item.text, "Cannot delete the root directory"));
  if (!shell.flag("skipTrash")) {
    std::string line, cause;
    if (!moveToTrash(shell, item, line, cause)) return displayError(shell, cause);
    if (!line.empty()) {
      printf("%s\n", line.c_str());
      return;
    }
  }
  if (!onPath(shell, shell.session.ops().hdfsDelete, item)) return displayFailure(shell, item.text);
  printf("Deleted %s\n", item.text.c_str());
}

// Hadoop's wording of a number that does not parse (Java's NumberFormatException).
std::string badNumber(const std::string &text, bool inRange) {
  return inRange ? "For input string: \"" + text + "\""
                 : "Value out of range. Value:\"" + text + "\" Radix:10";
}

// A whole number in [low, high]; false with Java's wording of why not.
bool parseNumber(const std::string &text, long long low, long long high, long long &value,
                 std::string &why) {
  char *end = nullptr;
  errno = 0;
  value = text.empty() ? 0 : strtoll(text.c_str(), &end, 10);
  bool digits = !text.empty() && *end == '\0' && text.find_first_of(" \t+") != 0;
  if (!digits || (errno == ERANGE && value != LLONG_MIN && value != LLONG_MAX)) {
    why = badNumber(text, true);
    return false;
  }
  if (errno == ERANGE || value < low || value > high) {
    why = badNumber(text, false);
    return false;
  }
  return true;
}

// Waits, a second at a time, up to the bound, until `reached` says so or Ctrl-C; whether it did.
template <typename Reached>
bool waitFor(Reached reached) {
  Interruptible interruptible;
  for (int step = 0; step < kWaitSteps && !interruption(); step++) {
    if (reached()) return true;
    std::this_thread::sleep_for(kWaitStep);
  }
  return false;
}

// How many replicas each block of a file has, at least; -1 when that cannot be told.
int fewestReplicas(Shell &shell, const Item &item) {
  Java java(shell.session);
  LocalRef<jobject> path = java.path(item.path);
  LocalRef<jobject> status =
      java.call(item.fs, kFileSystemClass, "getFileStatus",
                "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/FileStatus;", path.get());
  jlong length =
      java.value<jlong>(status.get(), "org/apache/hadoop/fs/FileStatus", "getLen", "()J");
  LocalRef<jobject> blocks =
      java.call(item.fs, kFileSystemClass, "getFileBlockLocations",
                "(Lorg/apache/hadoop/fs/FileStatus;JJ)[Lorg/apache/hadoop/fs/BlockLocation;",
                status.get(), jlong{0}, length);
  if (!java) return -1;
  JNIEnv *env = java.env();
  jsize count = blocks ? env->GetArrayLength(static_cast<jobjectArray>(blocks.get())) : 0;
  int fewest = INT_MAX;
  for (jsize i = 0; i < count && java; i++) {
    LocalRef<jobject> block(env,
                            env->GetObjectArrayElement(static_cast<jobjectArray>(blocks.get()), i));
    LocalRef<jobject> hosts = java.call(block.get(), "org/apache/hadoop/fs/BlockLocation",
                                        "getHosts", "()[Ljava/lang/String;");
    if (hosts)
      fewest = std::min<int>(fewest, env->GetArrayLength(static_cast<jobjectArray>(hosts.get())));
  }
  return !java ? -1 : fewest;
}

// A symbolic or octal mode of chmod, applied as Hadoop's ChmodParser applies it: each clause
// sets (not adds to) what its classes get, its last operator deciding how.
class Mode {
 public:
  // False when the text is no mode.
  bool parse(const std::string &text) {
    static const std::regex octal("^\\s*[+]?([01]?)([0-7]{3})\\s*$");
    static const std::regex clause("^\\s*([ugoa]*)([+=-]+)([rwxXt]+)([,\\s]*)\\s*");
    std::smatch match;
    if (std::regex_match(text, match, octal)) {
      std::string digits = match[2];
      sticky_ = {'=', match[1].length() ? match[1].str()[0] - '0' : 0};
      for (int i = 0; i < 3; i++) classes_[i] = {'=', digits[static_cast<size_t>(i)] - '0'};
      return true;
    }
    std::string rest = text;
    bool more = true;
    while (more) {
      if (!std::regex_search(rest, match, clause)) return false;
      applyClause(match[1], match[2].str().back(), match[3]);
      more = match[4].str().find(',') != std::string::npos;
      rest = match.suffix();
      if (!more) return rest.empty();
      if (rest.empty()) return true;
    }
    return true;
  }

  int16_t applied(int existing, bool directory) const {
    bool executable = directory || (existing & 0111) != 0;
    int mode = combine(sticky_, existing >> 9 & 1, false) << 9;
    for (int i = 0; i < 3; i++) {
      int shift = 6 - 3 * i;
      mode |= combine(classes_[i], existing >> shift & 7, executable) << shift;
    }
    return static_cast<int16_t>(mode);
  }

 private:
  struct Part {
    char type = '+';
    int bits = 0;  // r 4, w 2, x 1, X 8
  };

  void applyClause(const std::string &who, char type, const std::string &what) {
    bool user = who.find('u') != std::string::npos, group = who.find('g') != std::string::npos,
         others = who.find('o') != std::string::npos;
    if (!(user || group || others)) user = group = others = true;
    int bits = 0;
    bool sticky = false;
    for (char c : what) {
      bits |= c == 'r' ? 4 : c == 'w' ? 2 : c == 'x' ? 1 : c == 'X' ? 8 : 0;
      sticky = sticky || c == 't';
    }
    if (user) classes_[0] = {type, bits};
    if (group) classes_[1] = {type, bits};
    if (others) {
      classes_[2] = {type, bits};
      sticky_ = {type, sticky ? 1 : 0};
    }
  }

  static int combine(Part part, int existing, bool executable) {
    int bits = part.bits;
    bool capitalX = bits & 8;
    if (capitalX) bits = (bits & ~8) | 1;
    if (part.type == '+') bits |= existing;
    if (part.type == '-') bits = ~bits & existing;
    if (capitalX && !executable && (bits & 1) && !(existing & 1)) bits &= ~1;
    return bits & 7;
  }

  Part classes_[3];
  Part sticky_;
};

// Owner and group names as Hadoop's shell allows them.
const char kNameCharacters[] = "[-+_./@a-zA-Z0-9]";

// Sets the owner and the group of each item (each NULL to keep it), what differs only.
int changeOwnership(Shell &shell, std::vector<std::string> &paths, const std::string &owner,
                    const std::string &group) {
  Session &session = shell.session;
  ItemAction change = [&](Item &item) {
    std::string newOwner = owner == item.stat.owner ? "" : owner;
    std::string newGroup = group == item.stat.group ? "" : group;
    if (!newOwner.empty() || !newGroup.empty()) {
      int32_t status = 0;
      bool changed =
          session.ops().hdfsChown(session.dfs(), session.context(), &status, item.fs,
                                  item.path.c_str(), newOwner.empty() ? nullptr : newOwner.c_str(),
                                  newGroup.empty() ? nullptr : newGroup.c_str()) == 0;
      bool thrown = false;
      if (!changed) {
        displayError(shell,
                     "changing ownership of '" + item.text + "': " + session.takeCause(thrown));
      }
    }
    if (shell.flag("R") && item.isDirectory()) eachBelow(shell, item, change, false);
  };
  return eachItem(shell, paths, change);
}

}  // namespace

int makeDirectory(Shell &shell, std::vector<std::string> &operands) {
  bool parents = shell.flag("p");
  return eachItem(
      shell, operands,
      [&](Item &item) {
        if (!item.isDirectory()) return displayError(shell, pathError(item.text, kIsNotDirectory));
        if (!parents) displayError(shell, pathError(item.text, kExists));
      },
      [&](Item &item) {
        if (!parents) {
          bool exists = false;
          std::string parent, error;
          if (!parentExists(shell, item, Parent::OfPath, exists, parent, error))
            return displayError(shell, error);
          if (parent.empty()) {
            return displayError(shell, "Item: " + item.text +
                                           " parent's path is null. This can happen if mkdir is "
                                           "called on root, so there's no parent.");
          }
          if (!exists) return displayError(shell, pathError(parent, kNoSuchPath));
        }
        if (!onPath(shell, shell.session.ops().hdfsCreateDirectory, item)) {
          displayFailure(shell, item.text);
        }
      });
}

// rm as Hadoop's shell does it: a directory only with -r, to the trash when the file system
// keeps one (unless -skipTrash), and with -f nothing that is not there is a failure.
int remove(Shell &shell, std::vector<std::string> &operands) {
  bool quiet = shell.flag("f");
  std::vector<Item> items;
  int status = kSucceeded;
  if (!expandAll(shell, operands, items, status, quiet)) return status;
  for (Item &item : items) {
    if (item.exists) {
      removeOne(shell, item);
    } else if (!quiet) {
      displayError(shell, pathError(item.text, kNoSuchPath));
    }
  }
  return statusOf(shell);
}

// rmdir: only an empty directory goes.
int removeDirectory(Shell &shell, std::vector<std::string> &operands) {
  return eachItem(shell, operands, [&](Item &item) {
    if (!item.isDirectory()) return displayError(shell, pathError(item.text, kIsNotDirectory));
    std::vector<Item> children;
    std::string error;
    if (!childrenOf(shell, item, children, error)) return displayError(shell, error);
    if (!children.empty()) {
      if (!shell.flag("-ignore-fail-on-non-empty")) {
        displayError(shell, pathError(item.text, "Directory is not empty"));
      }
      return;
    }
    if (!onPath(shell, shell.session.ops().hdfsDelete, item)) displayFailure(shell, item.text);
  });
}

// expunge: the trash's checkpoints older than its interval go, and what is in it becomes a
// checkpoint (with -immediate, everything in it goes).
int expunge(Shell &shell, std::vector<std::string> &) {
  std::string named = shell.value("fs");
  hdfsFS fs = shell.fs;
  std::string error;
  if (!named.empty() && !(fs = fileSystemOf(shell, named, error))) {
    displayError(shell, error);
    return kFailed;
  }
  Java java(shell.session);
  LocalRef<jobject> configuration =
      java.call(fs, kFileSystemClass, "getConf", "()Lorg/apache/hadoop/conf/Configuration;");
  LocalRef<jobject> trash = java.make(
      kTrashClass, "(Lorg/apache/hadoop/fs/FileSystem;Lorg/apache/hadoop/conf/Configuration;)V", fs,
      configuration.get());
  if (shell.flag("immediate")) {
    java.call(trash.get(), kTrashClass, "expungeImmediately", "()V");
  } else {
    java.call(trash.get(), kTrashClass, "expunge", "()V");
    java.call(trash.get(), kTrashClass, "checkpoint", "()V");
  }
  if (!java) displayError(shell, java.error());
  return statusOf(shell);
}

int touchZero(Shell &shell, std::vector<std::string> &operands) {
  return eachItem(
      shell, operands,
      [&](Item &item) {
        if (item.isDirectory()) return displayError(shell, pathError(item.text, kIsDirectory));
        if (item.stat.length != 0) {
          return displayError(shell, pathError(item.text, "Not a zero-length file"));
        }
        createEmpty(shell, item, true);
      },
      [&](Item &item) {
        if (parentIsThere(shell, item)) createEmpty(shell, item, false);
      });
}

// touch [-a] [-m] [-t yyyyMMdd:HHmmss] [-c]: the times of what is there, to now or the time given;
// what is not there is made empty (not with -c).
int touch(Shell &shell, std::vector<std::string> &operands) {
  jlong when = static_cast<jlong>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count());
  bool timed = shell.options.count("t") != 0;
  if (timed) {
    struct tm parts = {};
    std::string given = shell.value("t");
    const char *end = strptime(given.c_str(), "%Y%m%d:%H%M%S", &parts);
    if (!end || *end) {
      return usageError(*shell.command, "Unable to parse the specified timestamp " + given +
                                            ". The expected format is yyyyMMdd:HHmmss");
    }
    parts.tm_isdst = -1;
    when = static_cast<jlong>(mktime(&parts)) * 1000;
  }
  bool modification = shell.flag("m"), access = shell.flag("a");
  auto setTimes = [&](Item &item) {
    jlong modified = when, accessed = when;
    if (modification != access) (modification ? accessed : modified) = -1;
    Java java(shell.session);
    LocalRef<jobject> path = java.path(item.path);
    java.call(item.fs, kFileSystemClass, "setTimes", "(Lorg/apache/hadoop/fs/Path;JJ)V", path.get(),
              modified, accessed);
    if (!java) displayError(shell, java.error());
  };
  return eachItem(shell, operands, setTimes, [&](Item &item) {
    if (!parentIsThere(shell, item) || shell.flag("c")) return;
    int errors = shell.errors;
    createEmpty(shell, item, false);
    if (timed && shell.errors == errors) setTimes(item);
  });
}

int truncate(Shell &shell, std::vector<std::string> &operands) {
  long long length = 0;
  std::string why;
  if (!parseNumber(operands[0], LLONG_MIN, LLONG_MAX, length, why)) {
    tell(shell.name(), "Illegal length, a non-negative integer expected");
    return usageError(*shell.command, why);
  }
  if (length < 0) return usageError(*shell.command, "length must be >= 0");
  operands.erase(operands.begin());
  std::vector<Item> waiting;
  bool refused = false;
  eachItem(shell, operands, [&](Item &item) {
    if (refused) return;
    if (item.isDirectory()) return displayError(shell, pathError(item.text, kIsDirectory));
    if (length > item.stat.length) {
      refused = true;
      usageError(*shell.command, "Cannot truncate to a larger file size. Current size: " +
                                     std::to_string(item.stat.length) +
                                     ", truncate size: " + std::to_string(length) + ".");
      return;
    }
    Java java(shell.session);
    LocalRef<jobject> path = java.path(item.path);
    jboolean finished = java.value<jboolean>(item.fs, kFileSystemClass, "truncate",
                                             "(Lorg/apache/hadoop/fs/Path;J)Z", path.get(),
                                             static_cast<jlong>(length));
    if (!java) return displayError(shell, java.error());
    if (finished) {
      printf("Truncated %s to length: %lld\n", item.text.c_str(), length);
    } else if (shell.flag("w")) {
      waiting.push_back(item);
    } else {
      printf(
          "Truncating %s to length: %lld. Wait for block recovery to complete before further "
          "updating this file.\n",
          item.text.c_str(), length);
    }
  });
  if (refused) return kUsage;
  for (Item &item : waiting) {
    printf("Waiting for %s ...\n", item.text.c_str());
    fflush(stdout);
    std::string error;
    if (!waitFor([&] { return refresh(shell, item, error) && item.stat.length == length; })) {
      displayError(shell, pathError(item.text, error.empty() ? "still recovering after " +
                                                                   std::to_string(kWaitSteps) + " s"
                                                             : error));
      continue;
    }
    printf("Truncated %s to length: %lld\n", item.text.c_str(), length);
  }
  return statusOf(shell);
}

int setReplication(Shell &shell, std::vector<std::string> &operands) {
  long long replication = 0;
  std::string why;
  if (!parseNumber(operands[0], SHRT_MIN, SHRT_MAX, replication, why)) {
    tell(shell.name(), "Illegal replication, a positive integer expected");
    return usageError(*shell.command, why);
  }
  if (replication < 1) return usageError(*shell.command, "replication must be >= 1");
  operands.erase(operands.begin());
  Session &session = shell.session;
  std::vector<Item> waiting;
  ItemAction set = [&](Item &item) {
    if (item.isDirectory()) return eachBelow(shell, item, set, false);
    int32_t status = 0;
    if (session.ops().hdfsSetReplication(session.dfs(), session.context(), &status, item.fs,
                                         item.path.c_str(),
                                         static_cast<int16_t>(replication)) != 0) {
      return displayFailure(shell, item.text);
    }
    printf("Replication %lld set: %s\n", replication, item.text.c_str());
    if (shell.flag("w")) waiting.push_back(item);
  };
  eachItem(shell, operands, set);
  for (const Item &item : waiting) {
    printf("Waiting for %s ...", item.text.c_str());
    fflush(stdout);
    if (!waitFor([&] { return fewestReplicas(shell, item) == replication; })) {
      printf("\n");
      displayError(shell,
                   pathError(item.text, "not replicated " + std::to_string(replication) +
                                            " times within " + std::to_string(kWaitSteps) + " s"));
      continue;
    }
    printf(" done\n");
  }
  return statusOf(shell);
}

int changeMode(Shell &shell, std::vector<std::string> &operands) {
  Mode mode;
  if (!mode.parse(operands[0])) {
    return usageError(*shell.command,
                      "chmod : mode '" + operands[0] + "' does not match the expected pattern.");
  }
  operands.erase(operands.begin());
  Session &session = shell.session;
  ItemAction change = [&](Item &item) {
    int16_t wanted = mode.applied(item.stat.permission, item.stat.directory);
    int32_t status = 0;
    if (wanted != item.stat.permission &&
        session.ops().hdfsChmod(session.dfs(), session.context(), &status, item.fs,
                                item.path.c_str(), wanted) != 0) {
      bool thrown = false;
      displayError(shell,
                   "changing permissions of '" + item.text + "': " + session.takeCause(thrown));
    }
    if (shell.flag("R") && item.isDirectory()) eachBelow(shell, item, change, false);
  };
  return eachItem(shell, operands, change);
}

int changeOwner(Shell &shell, std::vector<std::string> &operands) {
  std::smatch match;
  const std::string given = operands[0];
  std::regex pattern(std::string("^\\s*(") + kNameCharacters + "+)?([:](" + kNameCharacters +
                     "*))?\\s*$");
  if (!std::regex_match(given, match, pattern)) {
    return usageError(*shell.command,
                      "'" + given + "' does not match expected pattern for [owner][:group].");
  }
  std::string owner = match[1], group = match[3];
  if (owner.empty() && group.empty()) {
    return usageError(*shell.command, "'" + given + "' does not specify owner or group.");
  }
  operands.erase(operands.begin());
  return changeOwnership(shell, operands, owner, group);
}

int changeGroup(Shell &shell, std::vector<std::string> &operands) {
  std::smatch match;
  const std::string given = operands[0];
  if (!std::regex_match(given, match,
                        std::regex(std::string("^\\s*(") + kNameCharacters + "+)\\s*$"))) {
    return usageError(*shell.command, "'" + given + "' does not match expected pattern for group");
  }
  std::string group = match[1];
  operands.erase(operands.begin());
  return changeOwnership(shell, operands, "", group);
}

}  // namespace qxdfs
