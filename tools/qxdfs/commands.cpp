#include "tools/qxdfs/commands.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "tools/qxdfs/beside.h"
#include "tools/qxdfs/java.h"
#include "tools/qxdfs/output.h"

namespace qxdfs {

int done(Shell &shell, bool succeeded, const char *command, const std::string &subject,
         const char *quietCause) {
  if (succeeded) return kSucceeded;
  if (shell.session.reported()) {
    shell.session.fail(command, subject);
  } else {
    fprintf(stderr, "qxdfs: %s: %s: %s\n", command, subject.c_str(), quietCause);
  }
  return kFailed;
}

hdfsPathInfo *peek(Shell &shell, const std::string &path, hdfsFS fs, QXMessageContext *context) {
  int32_t status = 0;
  std::u16string text = qx(path);
  Session &session = shell.session;
  return session.ops().hdfsGetPathInfo(session.dfs(), context ? context : session.context(),
                                       &status, fs ? fs : shell.fs, text.c_str());
}

Found lookup(Shell &shell, hdfsFS fs, const std::string &path, hdfsPathInfo *&info,
             QXMessageContext *context) {
  int32_t status = 0;
  std::u16string text = qx(path);
  Session &session = shell.session;
  info = session.ops().hdfsGetPathInfo(session.dfs(), context ? context : session.context(),
                                       &status, fs ? fs : shell.fs, text.c_str());
  if (info) return Found::kThere;
  return status == static_cast<int32_t>(kPathMissing) ? Found::kMissing : Found::kUnknown;
}

hdfsPathInfo *infoOf(Shell &shell, const char *command, const std::string &path) {
  hdfsPathInfo *info = peek(shell, path);
  if (!info) done(shell, false, command, path, "No such file or directory");
  return info;
}

void release(Shell &shell, hdfsPathInfo *entries, int32_t count) {
  shell.session.ops().hdfsReleasePathInfo(shell.session.dfs(), nullptr, entries, count);
}

std::string sizeText(const Shell &shell, int64_t bytes) {
  return shell.flag('h') ? humanSize(bytes) : std::to_string(bytes);
}

hdfsFS connectionOf(Shell &shell, const Location &location) {
  return location.ownTarget ? shell.session.connect(location.target, shell.user) : shell.fs;
}

hdfsFS localConnection(Shell &shell) {
  Target target;
  parseTarget("local", target);
  return shell.session.connect(target, shell.user);
}

bool listOf(Shell &shell, const char *command, const std::string &path, hdfsPathInfo *&entries,
            int32_t &count, hdfsFS fs) {
  Session &session = shell.session;
  std::u16string text = qx(path);
  entries = nullptr;
  count = 0;
  int32_t result = session.ops().hdfsListDirectory(
      session.dfs(), session.context(), fs ? fs : shell.fs, text.c_str(), &count, &entries);
  // In name order whatever order the file system keeps, as Hadoop's shell lists.
  std::sort(entries, entries + count, [](const hdfsPathInfo &a, const hdfsPathInfo &b) {
    return strcmp(a.name, b.name) < 0;
  });
  return result == 0 || done(shell, false, command, path) == kSucceeded;
}

namespace {

constexpr size_t kAny = SIZE_MAX;

void printEntry(const Shell &shell, const hdfsPathInfo &entry, std::vector<std::string> &json) {
  if (shell.json) {
    json.push_back(jsonEntry(entry));
  } else if (shell.flag('l')) {
    bool directory = entry.kind == HDFS_KIND_DIRECTORY;
    std::string replication = directory ? "-" : std::to_string(entry.replication);
    printf("%s %3s %-10s %-10s %12s %s %s\n", permissionText(entry.permissions, entry.kind).c_str(),
           replication.c_str(), entry.owner ? entry.owner : "", entry.group ? entry.group : "",
           sizeText(shell, entry.size).c_str(), timeText(entry.lastModified).c_str(),
           shortName(entry.name).c_str());
  } else {
    printf("%s\n", shortName(entry.name).c_str());
  }
}

// A directory's entries, and with -R the entries of every directory below it.
int listDirectory(Shell &shell, const std::string &path, std::vector<std::string> &json) {
  hdfsPathInfo *entries = nullptr;
  int32_t count = 0;
  if (!listOf(shell, "ls", path, entries, count)) return kFailed;
  bool recursive = shell.flag('R');
  if (shell.flag('l') && !recursive && !shell.json) printf("Found %d items\n", count);
  int status = kSucceeded;
  for (int32_t i = 0; i < count; i++) {
    printEntry(shell, entries[i], json);
    if (recursive && entries[i].kind == HDFS_KIND_DIRECTORY) {
      status = std::max(status, listDirectory(shell, shortName(entries[i].name), json));
    }
  }
  release(shell, entries, count);
  return status;
}

int list(Shell &shell, const std::vector<std::string> &arguments) {
  std::vector<std::string> paths = arguments.empty() ? std::vector<std::string>{"."} : arguments;
  std::vector<std::string> json;
  int status = forEach(paths, [&](const std::string &path) {
    hdfsPathInfo *info = infoOf(shell, "ls", path);
    if (!info) return kFailed;
    bool directory = info->kind == HDFS_KIND_DIRECTORY;
    if (!directory) printEntry(shell, *info, json);
    release(shell, info, 1);
    return directory ? listDirectory(shell, path, json) : kSucceeded;
  });
  if (shell.json) printf("{\"entries\":%s}\n", jsonArray(json).c_str());
  return status;
}

int stat(Shell &shell, const std::vector<std::string> &arguments) {
  if (arguments.size() > 1 && arguments[0].find('%') != std::string::npos) {
    return statFormatted(shell, arguments[0], {arguments.begin() + 1, arguments.end()});
  }
  const std::vector<std::string> &paths = arguments;
  std::vector<std::string> json;
  int status = forEach(paths, [&](const std::string &path) {
    hdfsPathInfo *info = infoOf(shell, "stat", path);
    if (!info) return kFailed;
    if (shell.json) {
      json.push_back(jsonEntry(*info));
    } else {
      printf("  Path: %s\n  Kind: %s\n  Size: %lld\n  Replication: %d\n  Block size: %lld\n",
             info->name, info->kind == HDFS_KIND_DIRECTORY ? "directory" : "file",
             static_cast<long long>(info->size), info->replication,
             static_cast<long long>(info->blockSize));
      printf("  Owner: %s\n  Group: %s\n  Permissions: %04o %s\n  Modified: %s\n  Accessed: %s\n",
             info->owner ? info->owner : "", info->group ? info->group : "",
             info->permissions & 07777, permissionText(info->permissions, info->kind).c_str(),
             timeText(info->lastModified).c_str(), timeText(info->lastAccess).c_str());
    }
    release(shell, info, 1);
    return kSucceeded;
  });
  if (shell.json) printf("{\"entries\":%s}\n", jsonArray(json).c_str());
  return status;
}

// The namespace operations with one QXChar path and a 0/-1 result.
using PathOperation = int32_t (*)(DfsLinkState *, QXMessageContext *, int32_t *, hdfsFS,
                                  const QXChar *);

int eachPath(Shell &shell, const std::vector<std::string> &paths, PathOperation operation,
             const char *command, const char *quietCause) {
  Session &session = shell.session;
  return forEach(paths, [&](const std::string &path) {
    int32_t status = 0;
    std::u16string text = qx(path);
    bool ok = operation(session.dfs(), session.context(), &status, shell.fs, text.c_str()) == 0;
    return done(shell, ok, command, path, quietCause);
  });
}

int makeDirectory(Shell &shell, const std::vector<std::string> &paths) {
  return eachPath(shell, paths, shell.session.ops().hdfsCreateDirectory, "mkdir",
                  "cannot be made (a file is in the way)");
}

const char kFileSystemClass[] = "org/apache/hadoop/fs/FileSystem";
const char kPathClass[] = "org/apache/hadoop/fs/Path";
const char kConfigurationClass[] = "org/apache/hadoop/conf/Configuration";
const char kTrashClass[] = "org/apache/hadoop/fs/Trash";
const char kPathToPath[] = "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/Path;";

// How long the file system keeps what goes to its trash, in minutes: fs.trash.interval of the
// connection's configuration, or the server's own when that is 0 (as Hadoop's shell takes it).
jlong trashInterval(Shell &shell, Java &java, jobject configuration, jobject path) {
  LocalRef<jstring> key = java.string("fs.trash.interval");
  jlong minutes = java.value<jlong>(configuration, kConfigurationClass, "getLong",
                                    "(Ljava/lang/String;J)J", key.get(), jlong{0});
  if (minutes != 0 || !java) return minutes;
  Java server(shell.session);  // a file system without server defaults keeps no trash
  LocalRef<jobject> defaults =
      server.call(shell.fs, kFileSystemClass, "getServerDefaults",
                  "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/FsServerDefaults;", path);
  return server.value<jlong>(defaults.get(), "org/apache/hadoop/fs/FsServerDefaults",
                             "getTrashInterval", "()J");
}

// Moves a path to its file system's trash when the file system keeps one; where it went, or ""
// when there is no trash (or the path is in it already). The connection's own Trash, so that
// the path moves as the connection's user; false with the cause.
bool moveToTrash(Shell &shell, const std::string &path, std::string &where, std::string &cause) {
  Java java(shell.session);
  LocalRef<jobject> configuration =
      java.call(shell.fs, kFileSystemClass, "getConf", "()Lorg/apache/hadoop/conf/Configuration;");
  LocalRef<jobject> given = java.path(path);
  LocalRef<jobject> qualified =
      java.call(shell.fs, kFileSystemClass, "makeQualified", kPathToPath, given.get());
  jlong minutes = trashInterval(shell, java, configuration.get(), qualified.get());
  where.clear();
  if (java && minutes > 0) {
    LocalRef<jobject> copy = java.make(
        kConfigurationClass, "(Lorg/apache/hadoop/conf/Configuration;)V", configuration.get());
    LocalRef<jstring> key = java.string("fs.trash.interval");
    java.call(copy.get(), kConfigurationClass, "setLong", "(Ljava/lang/String;J)V", key.get(),
              minutes);
    LocalRef<jobject> trash = java.make(
        kTrashClass, "(Lorg/apache/hadoop/fs/FileSystem;Lorg/apache/hadoop/conf/Configuration;)V",
        shell.fs, copy.get());
    LocalRef<jobject> current =
        java.call(trash.get(), kTrashClass, "getCurrentTrashDir", kPathToPath, qualified.get());
    jboolean moved = java.value<jboolean>(trash.get(), kTrashClass, "moveToTrash",
                                          "(Lorg/apache/hadoop/fs/Path;)Z", qualified.get());
    LocalRef<jobject> landed = java.callStatic(
        kPathClass, "mergePaths",
        "(Lorg/apache/hadoop/fs/Path;Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/Path;",
        current.get(), qualified.get());
    LocalRef<jobject> text =
        java.call(landed.get(), kPathClass, "toString", "()Ljava/lang/String;");
    if (moved) where = java.text(text.get());
  }
  if (!java) cause = java.error() + ". Consider using -skipTrash option";
  return static_cast<bool>(java);
}

// rm as Hadoop's shell does it: a directory only with -r, to the trash when the file system
// keeps one (unless -skipTrash), a missing path is no failure with -f.
int remove(Shell &shell, const std::vector<std::string> &paths) {
  Session &session = shell.session;
  return forEach(paths, [&](const std::string &path) {
    hdfsPathInfo *info = peek(shell, path);
    session.forget();
    if (!info) return shell.flag('f') ? kSucceeded : done(shell, false, "rm", path, kNoSuchPath);
    bool directory = info->kind == HDFS_KIND_DIRECTORY;
    bool root = shortName(info->name) == "/";
    release(shell, info, 1);
    if (root) return done(shell, false, "rm", path, "is the root directory; not deleted");
    if (directory && !shell.flag('r') && !shell.flag('R')) {
      return done(shell, false, "rm", path, "is a directory (rm -r deletes it)");
    }
    std::string where, cause;
    if (!shell.flag(kSkipTrash)) {
      if (!moveToTrash(shell, path, where, cause))
        return done(shell, false, "rm", path, cause.c_str());
      if (!where.empty()) {
        printf("Moved: '%s' to trash at: %s\n", path.c_str(), where.c_str());
        return kSucceeded;
      }
    }
    int32_t status = 0;
    std::u16string text = qx(path);
    bool ok = session.ops().hdfsDelete(session.dfs(), session.context(), &status, shell.fs,
                                       text.c_str()) == 0;
    return done(shell, ok, "rm", path, kNoSuchPath);
  });
}

int changeMode(Shell &shell, const std::vector<std::string> &arguments) {
  char *end = nullptr;
  long mode = strtol(arguments[0].c_str(), &end, 8);
  if (arguments[0].empty() || *end || mode < 0 || mode > 07777) {
    fprintf(stderr, "qxdfs: chmod: %s: not an octal mode\n", arguments[0].c_str());
    return kUsage;
  }
  Session &session = shell.session;
  return forEach({arguments.begin() + 1, arguments.end()}, [&](const std::string &path) {
    int32_t status = 0;
    bool ok = session.ops().hdfsChmod(session.dfs(), session.context(), &status, shell.fs,
                                      path.c_str(), static_cast<int16_t>(mode)) == 0;
    return done(shell, ok, "chmod", path);
  });
}

int changeOwner(Shell &shell, const std::vector<std::string> &arguments) {
  std::string owner = arguments[0], group;
  size_t colon = owner.find(':');
  if (colon != std::string::npos) {
    group = owner.substr(colon + 1);
    owner = owner.substr(0, colon);
  }
  Session &session = shell.session;
  return forEach({arguments.begin() + 1, arguments.end()}, [&](const std::string &path) {
    int32_t status = 0;
    bool ok = session.ops().hdfsChown(session.dfs(), session.context(), &status, shell.fs,
                                      path.c_str(), owner.empty() ? nullptr : owner.c_str(),
                                      group.empty() ? nullptr : group.c_str()) == 0;
    return done(shell, ok, "chown", path);
  });
}

// touch: a file that is there takes the time now; one that is not is made empty, in a directory
// that is there.
int touch(Shell &shell, const std::vector<std::string> &paths) {
  Session &session = shell.session;
  return forEach(paths, [&](const std::string &path) {
    hdfsPathInfo *info = nullptr;
    Found found = lookup(shell, shell.fs, path, info);
    if (info) release(shell, info, 1);
    if (found == Found::kUnknown) return done(shell, false, "touch", path);
    if (found == Found::kMissing) {
      return writeBeside(shell, "touch", {shell.fs, path, false},
                         [](const Writer &) { return kSucceeded; });
    }
    int32_t status = 0;
    double now = static_cast<double>(time(nullptr));
    bool ok = session.ops().hdfsUtime(session.dfs(), session.context(), &status, shell.fs,
                                      path.c_str(), now, now) == 0;
    return done(shell, ok, "touch", path);
  });
}

int setReplication(Shell &shell, const std::vector<std::string> &arguments) {
  int replication = atoi(arguments[0].c_str());
  if (replication < 1 || replication > SHRT_MAX) {
    fprintf(stderr, "qxdfs: setrep: %s: not a replication factor\n", arguments[0].c_str());
    return kUsage;
  }
  Session &session = shell.session;
  return forEach({arguments.begin() + 1, arguments.end()}, [&](const std::string &path) {
    int32_t status = 0;
    bool ok =
        session.ops().hdfsSetReplication(session.dfs(), session.context(), &status, shell.fs,
                                         path.c_str(), static_cast<int16_t>(replication)) == 0;
    return done(shell, ok, "setrep", path);
  });
}

int diskFree(Shell &shell, const std::vector<std::string> &) {
  Session &session = shell.session;
  int32_t status = 0;
  int64_t capacity =
      session.ops().hdfsGetCapacity(session.dfs(), session.context(), &status, shell.fs);
  if (capacity < 0) return done(shell, false, "df", "capacity");
  int64_t used = session.ops().hdfsGetUsed(session.dfs(), session.context(), &status, shell.fs);
  if (used < 0) return done(shell, false, "df", "used");
  int percent = capacity > 0 ? static_cast<int>(100 * used / capacity) : 0;
  if (shell.json) {
    printf("{\"capacity\":%lld,\"used\":%lld,\"available\":%lld,\"usedPercent\":%d}\n",
           static_cast<long long>(capacity), static_cast<long long>(used),
           static_cast<long long>(capacity - used), percent);
    return kSucceeded;
  }
  printf("%15s %15s %15s %5s\n", "Size", "Used", "Available", "Use%");
  printf("%15s %15s %15s %4d%%\n", sizeText(shell, capacity).c_str(), sizeText(shell, used).c_str(),
         sizeText(shell, capacity - used).c_str(), percent);
  return kSucceeded;
}

int blocks(Shell &shell, const std::vector<std::string> &arguments) {
  const std::string &path = arguments[0];
  hdfsPathInfo *info = infoOf(shell, "blocks", path);
  if (!info) return kFailed;
  int64_t size = info->size, blockSize = info->blockSize > 0 ? info->blockSize : 1;
  release(shell, info, 1);
  Session &session = shell.session;
  char ***hosts = nullptr;
  int32_t result = session.ops().hdfsGetHosts(session.dfs(), session.context(), shell.fs,
                                              path.c_str(), 0, size, &hosts);
  if (result != 0 && !hosts) return done(shell, false, "blocks", path);
  std::vector<std::string> json;
  for (int64_t i = 0; hosts && hosts[i]; i++) {
    int64_t first = i * blockSize, length = std::min(size, first + blockSize) - first;
    if (shell.json) {
      std::vector<std::string> names;
      for (char **host = hosts[i]; *host; host++) names.push_back(jsonText(*host));
      json.push_back("{\"index\":" + std::to_string(i) + ",\"offset\":" + std::to_string(first) +
                     ",\"length\":" + std::to_string(length) + ",\"hosts\":" + jsonArray(names) +
                     "}");
      continue;
    }
    printf("block %lld (bytes %lld-%lld):", static_cast<long long>(i),
           static_cast<long long>(first), static_cast<long long>(first + length - 1));
    for (char **host = hosts[i]; *host; host++) printf(" %s", *host);
    printf("\n");
  }
  session.ops().hdfsReleaseHosts(session.dfs(), nullptr, hosts);
  if (shell.json && result == 0) {
    printf("{\"path\":%s,\"size\":%lld,\"blockSize\":%lld,\"blocks\":%s}\n", jsonText(path).c_str(),
           static_cast<long long>(size), static_cast<long long>(blockSize),
           jsonArray(json).c_str());
  }
  return done(shell, result == 0, "blocks", path);
}

int workingDirectory(Shell &shell, const std::vector<std::string> &) {
  Session &session = shell.session;
  QXChar buffer[4096];
  int32_t status = 0;
  if (!session.ops().hdfsGetWorkingDirectory(session.dfs(), session.context(), &status, shell.fs,
                                             buffer, sizeof buffer)) {
    return done(shell, false, "pwd", ".");
  }
  printf("%s\n", utf8(buffer).c_str());
  return kSucceeded;
}

int changeDirectory(Shell &shell, const std::vector<std::string> &arguments) {
  return eachPath(shell, arguments, shell.session.ops().hdfsSetWorkingDirectory, "cd", "failed");
}

int compileJava(Shell &shell, const std::vector<std::string> &arguments) {
  std::vector<std::string> positional;
  std::string release, bootClassPath;
  for (size_t i = 0; i < arguments.size(); i++) {
    if ((arguments[i] == "--release" || arguments[i] == "--bootclasspath") &&
        i + 1 < arguments.size()) {
      (arguments[i] == "--release" ? release : bootClassPath) = arguments[++i];
    } else {
      positional.push_back(arguments[i]);
    }
  }
  if (positional.size() < 2) {
    fprintf(stderr, "qxdfs: javac: SOURCE... OUTDIR\n");
    return kUsage;
  }
  std::vector<const char *> sources = textList(positional.begin(), positional.end() - 1);
  Session &session = shell.session;
  uint32_t status =
      session.ops().javaComp(session.dfs(), session.context(), sources.data(),
                             positional.back().c_str(), release.empty() ? nullptr : release.c_str(),
                             bootClassPath.empty() ? nullptr : bootClassPath.c_str());
  if (status != 0) session.printListing();  // the compiler's diagnostics
  return done(shell, status == 0, "javac", positional.back());
}

int runJar(Shell &shell, const std::vector<std::string> &arguments) {
  std::vector<const char *> list = textList(arguments.begin() + 2, arguments.end());
  Session &session = shell.session;
  uint32_t status = session.ops().javaJar(session.dfs(), session.context(), arguments[0].c_str(),
                                          arguments[1].c_str(), list.data());
  return done(shell, status == 0, "jar", arguments[0]);
}

}  // namespace

// What cp and mv both say of the file systems and of progress.
#define QXDFS_OTHER_SYSTEMS                                                              \
  "  Either side may name its own file system: hdfs://HOST[:PORT]/..., file:///...\n"    \
  "  A file of 4 MiB and more shows its progress on a terminal (the destination's size " \
  "as\n  the file system reports it).\n"

const std::vector<Command> &commands() {
  constexpr Operands kPaths = Operands::kPaths;
  static const std::vector<Command> table = {
      {"ls", "[-lRh] [PATH...]", "list directories and files", "lRh", 0, kAny, list,
       "  -l  kind and permissions, replication, owner, group, size, time, name\n"
       "  -R  the directories below, all the way down\n"
       "  -h  sizes with K, M, G (with -l)\n"
       "  --json: {\"entries\": [{path, name, kind, size, replication, blockSize, owner, group,\n"
       "          permissions, modified, modifiedMillis, accessed, accessedMillis}]}\n",
       false, kPaths},
      {"stat", "[FORMAT] PATH...", "everything the file system says of paths", "", 1, kAny, stat,
       "  FORMAT (when it holds a %): %n name, %s or %b size, %r replication, %o block size,\n"
       "  %y modified (UTC), %Y modified (epoch milliseconds), %x accessed, %u owner, %g group,\n"
       "  %a permissions (octal), %A permissions (rwx), %F kind\n"
       "  --json: {\"entries\": [...]}, each entry as ls --json gives it\n",
       false, kPaths},
      {"cat", "PATH...", "print files (- for standard input)", "", 1, kAny, cat, "", false, kPaths},
      {"head", "PATH", "print the first KiB of a file", "", 1, 1, head, "", false, kPaths},
      {"tail", "[-f] PATH", "print the last KiB of a file", "f", 1, 1, tail,
       "  -f  go on printing what is appended, looked for each second, until interrupted\n", false,
       kPaths},
      {"text", "PATH...", "print files, decompressed by their suffix (.gz, .bz2)", "", 1, kAny,
       text, "", false, kPaths},
      {"get", "[-r] [-f] [-p] [-t N] PATH... LOCAL",
       "copy to a local file (or into a local directory)", "rfpt", 2, kAny, get,
       "  -r  copy a directory with everything below it\n"
       "  -t  the files of a directory on N threads (one for each core unless given)\n"
       "  -f  replace a local file that is there (else: File exists)\n"
       "  -p  keep times and permissions (and the owner where this user may give files away)\n"
       "  Several sources go into a directory. The file is written under a hidden name beside\n"
       "  LOCAL and renamed after the last byte: a failed or interrupted get leaves nothing\n"
       "  behind. A progress line shows on a terminal.\n",
       false, Operands::kPathsThenLocal},
      {"getmerge", "[-nl] [-f] PATH... LOCAL",
       "the files of directories, joined into one local file", "nlf", 2, kAny, getMerge,
       "  -nl  a line end after each file\n"
       "  -f   replace a local file that is there (else: File exists)\n",
       false, Operands::kPathsThenLocal},
      {"put", "[-r] [-f] [-p] [-t N] LOCAL... PATH", "upload local files (or into a directory)",
       "rfpt", 2, kAny, put,
       "  -r  upload a directory with everything below it\n"
       "  -t  the files of a directory on N threads (one for each core unless given)\n"
       "  -f  replace a file that is there (else: File exists)\n"
       "  -p  keep times and permissions (and the owner where the file system allows)\n"
       "  LOCAL - reads standard input. Several sources go into a directory. The source is\n"
       "  checked (exists, regular file, readable) before anything is created; a failed or\n"
       "  interrupted write deletes the partial file. New files take the file system's\n"
       "  replication and block size. A progress line shows on a terminal.\n",
       false, Operands::kLocalsThenPath},
      {"appendToFile", "LOCAL... PATH", "append local files (- for standard input) to a file", "",
       2, kAny, appendToFile, "  A file that is not there is made.\n", false,
       Operands::kLocalsThenPath},
      {"cp", "[-r] [-f] [-p] [-t N] SOURCE... DESTINATION", "copy files or directories", "rfpt", 2,
       kAny, copy,
       "  -r  (a directory is copied with everything below it, with or without -r)\n"
       "  -f  replace what is there (else: File exists)\n"
       "  -t  the files of a directory on N threads (one for each core unless given)\n"
       "  -p  keep times and permissions (and the owner where the file system allows)\n"
       "  A copy onto its source or into it is refused. Several sources go into a "
       "directory.\n" QXDFS_OTHER_SYSTEMS,
       false, Operands::kLocations},
      {"mv", "SOURCE... DESTINATION", "rename, or move to another file system", "", 2, kAny, move,
       "  Never onto what is there (File exists), nor into itself. Several sources go into a\n"
       "  directory.\n" QXDFS_OTHER_SYSTEMS,
       false, Operands::kLocations},
      {"rm", "[-r] [-f] [-skipTrash] PATH...", "delete files, or directories with -r", "rRf~", 1,
       kAny, remove,
       "  -r, -R      delete directories with everything below them\n"
       "  -f          a path that is not there is no failure\n"
       "  -skipTrash  delete at once, even where the file system keeps a trash\n"
       "  Where the file system keeps a trash (fs.trash.interval above 0, in the configuration\n"
       "  or the server's), deleted paths go to the trash and the line says where.\n",
       false, kPaths},
      {"rmdir", "PATH...", "delete empty directories", "", 1, kAny, removeDirectory, "", false,
       kPaths},
      {"mkdir", "PATH...", "make directories and their parents", "", 1, kAny, makeDirectory, "",
       false, kPaths},
      {"touch", "PATH...", "make empty files, or set the times of existing ones to now", "", 1,
       kAny, touch, "", false, kPaths},
      {"test", "-e|-d|-f|-s|-z PATH",
       "exit status 0 when the path is there, a directory, a file, not empty, empty", "edfsz", 1, 1,
       testPath, "", false, kPaths},
      {"du", "[-s] [-h] PATH...", "bytes below each path (each entry of a directory)", "sh", 1,
       kAny, diskUsage,
       "  -s  one line for each path\n"
       "  -h  sizes with K, M, G\n"
       "  Columns: bytes, bytes with their replicas, path.\n"
       "  --json: {\"entries\": [{path, size, spaceConsumed}]}\n",
       false, kPaths},
      {"count", "[-q] [-h] PATH...", "directories, files and bytes below each path", "qh", 1, kAny,
       countPaths,
       "  -q  the quotas first: names, names left, space, space left (none, inf)\n"
       "  -h  sizes with K, M, G\n"
       "  --json: {\"entries\": [{path, directories, files, bytes[, quota, spaceQuota]}]}\n",
       false, kPaths},
      {"find", "PATH [-name PATTERN] [-type f|d]", "paths below PATH by name and kind", "", 1, kAny,
       findPaths,
       "  -name PATTERN  the last part of the name matches (*, ?, [a-z], {a,b})\n"
       "  --json: {\"paths\": [...]}\n",
       false, Operands::kFirstPath},
      {"checksum", "PATH...", "the file system's checksum of files (NONE where it keeps none)", "",
       1, kAny, checksum, "  --json: {\"entries\": [{path, algorithm, checksum}]}\n", false,
       kPaths},
      {"chmod", "MODE PATH...", "set permissions (octal)", "", 2, kAny, changeMode, "", false,
       kPaths, 1},
      {"chown", "OWNER[:GROUP] PATH...", "set owner and group", "", 2, kAny, changeOwner, "", false,
       kPaths, 1},
      {"setrep", "N PATH...", "set the replication factor", "", 2, kAny, setReplication, "", false,
       kPaths, 1},
      {"blocks", "PATH", "the hosts of each block of a file", "", 1, 1, blocks,
       "  --json: {path, size, blockSize, blocks: [{index, offset, length, hosts}]}\n", false,
       kPaths},
      {"df", "[-h]", "capacity and use of the file system (HDFS)", "h", 0, 0, diskFree,
       "  -h  sizes with K, M, G\n"
       "  --json: {capacity, used, available, usedPercent}\n"},
      {"pwd", "", "print the working directory", "", 0, 0, workingDirectory, ""},
      {"cd", "DIRECTORY", "set the working directory for the commands after it", "", 1, 1,
       changeDirectory, "", false, kPaths},
      {"javac", "SOURCE... OUTDIR [--release V] [--bootclasspath P]",
       "compile Java sources against the JVM's class path", "", 2, kAny, compileJava, "", true},
      {"jar", "JAR MAINCLASS [ARG...]", "run a jar's main class (JarDORN)", "", 2, kAny, runJar, "",
       true},
      {"mapjob", "INPUT OUTPUT [KEY=VALUE...]",
       "count the words of INPUT into OUTPUT with a map-reduce job (DORNmap)", "", 2, kAny, mapJob,
       "", true},
      {"config", "DIR", "the options read from DIR and the environment (runs alone)", "", 1, 1,
       nullptr,
       "  Reads DIR/xmlopts.xml, ZEL_HADOOP_CONFIG_PATH and ZEL_HADOOP_JAR_PATH as the storage\n"
       "  engine does.\n"
       "  --json: {javaWorkPath, ..., hdfsHost, hdfsUser, hdfsPort, optionFlags, options,\n"
       "          classPath}\n"},
      {"demo", "", "put a text and 16 MiB of random bytes, get them back, compare", "", 0, 0, demo,
       ""},
  };
  return table;
}

std::vector<const char *> textList(std::vector<std::string>::const_iterator first,
                                   std::vector<std::string>::const_iterator last) {
  std::vector<const char *> list;
  for (auto text = first; text != last; ++text) list.push_back(text->c_str());
  list.push_back("");
  return list;
}

const Command *findCommand(const std::string &name) {
  for (const Command &command : commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

}  // namespace qxdfs
