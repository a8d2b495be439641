#include "tools/qxdfs/commands.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <ctime>

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

hdfsPathInfo *infoOf(Shell &shell, const char *command, const std::string &path) {
  hdfsPathInfo *info = peek(shell, path);
  if (!info) done(shell, false, command, path, "No such file or directory");
  return info;
}

void release(Shell &shell, hdfsPathInfo *entries, int32_t count) {
  shell.session.ops().hdfsReleasePathInfo(shell.session.dfs(), nullptr, entries, count);
}

bool listOf(Shell &shell, const char *command, const std::string &path, hdfsPathInfo *&entries,
            int32_t &count) {
  Session &session = shell.session;
  std::u16string text = qx(path);
  entries = nullptr;
  count = 0;
  int32_t result = session.ops().hdfsListDirectory(session.dfs(), session.context(), shell.fs,
                                                   text.c_str(), &count, &entries);
  return result == 0 || done(shell, false, command, path) == kSucceeded;
}

namespace {

constexpr size_t kAny = SIZE_MAX;

// An operation over each path argument; the worst exit status.
template <typename Each>
int forEach(const std::vector<std::string> &paths, Each each) {
  int status = kSucceeded;
  for (const std::string &path : paths) status = std::max(status, each(path));
  return status;
}

std::string sizeText(const Shell &shell, int64_t bytes) {
  return shell.flag('h') ? humanSize(bytes) : std::to_string(bytes);
}

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

int stat(Shell &shell, const std::vector<std::string> &paths) {
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

int remove(Shell &shell, const std::vector<std::string> &paths) {
  return eachPath(shell, paths, shell.session.ops().hdfsDelete, "rm", "No such file or directory");
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

int touch(Shell &shell, const std::vector<std::string> &paths) {
  Session &session = shell.session;
  return forEach(paths, [&](const std::string &path) {
    int32_t status = 0;
    std::u16string text = qx(path);
    if (session.ops().hdfsExists(session.dfs(), session.context(), &status, shell.fs,
                                 text.c_str()) == 0) {
      double now = static_cast<double>(time(nullptr));
      bool ok = session.ops().hdfsUtime(session.dfs(), session.context(), &status, shell.fs,
                                        path.c_str(), now, now) == 0;
      return done(shell, ok, "touch", path);
    }
    FileHandle *file = session.ops().hdfsOpenFile(session.dfs(), session.context(), &status,
                                                  shell.fs, text.c_str(), HDFS_OPEN_WRITE, 0, 0, 0);
    bool ok = file && session.ops().hdfsCloseFile(session.dfs(), session.context(), &status,
                                                  shell.fs, file) == 0;
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

// A text list of the Java tools: pointers to the texts and an empty text at the end.
std::vector<const char *> textList(std::vector<std::string>::const_iterator first,
                                   std::vector<std::string>::const_iterator last) {
  std::vector<const char *> list;
  for (auto text = first; text != last; ++text) list.push_back(text->c_str());
  list.push_back("");
  return list;
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

int mapJob(Shell &shell, const std::vector<std::string> &arguments) {
  std::vector<std::string> settings(arguments.begin() + 2, arguments.end());
  if (!shell.uri.empty()) settings.insert(settings.begin(), "fs.defaultFS=" + shell.uri);
  std::vector<const char *> settingList = textList(settings.begin(), settings.end());
  std::vector<const char *> paths = textList(arguments.begin(), arguments.begin() + 2);
  Session &session = shell.session;
  uint32_t status =
      session.ops().javaMap(session.dfs(), session.context(), settingList.data(), paths.data());
  fflush(stdout);  // the job's counters, printed by the JVM
  return done(shell, status == 0, "mapjob", arguments[0]);
}

}  // namespace

const char kOtherSystems[] =
    "  Either side may name its own file system: hdfs://HOST[:PORT]/..., file:///...\n"
    "  A file of 4 MiB and more shows its progress on a terminal (the destination's size as\n"
    "  the file system reports it).\n";

const std::vector<Command> &commands() {
  static const std::vector<Command> table = {
      {"ls", "[-lRh] [PATH...]", "list directories and files", "lRh", 0, kAny, list,
       "  -l  kind and permissions, replication, owner, group, size, time, name\n"
       "  -R  the directories below, all the way down\n"
       "  -h  sizes with K, M, G (with -l)\n"
       "  --json: {\"entries\": [{path, name, kind, size, replication, blockSize, owner, group,\n"
       "          permissions, modified, modifiedMillis, accessed, accessedMillis}]}\n"},
      {"stat", "PATH...", "everything the file system says of paths", "", 1, kAny, stat,
       "  --json: {\"entries\": [...]}, each entry as ls --json gives it\n"},
      {"cat", "PATH...", "print files", "", 1, kAny, cat, ""},
      {"get", "[-r] PATH LOCAL", "copy to a local file (or into a local directory)", "r", 2, 2, get,
       "  -r  copy a directory with everything below it\n"
       "  The file is written under a hidden name beside LOCAL and renamed after the last byte:\n"
       "  a failed or interrupted get leaves nothing behind. A progress line shows on a\n"
       "  terminal.\n"},
      {"put", "[-r] LOCAL PATH", "upload a local file (or into a directory)", "r", 2, 2, put,
       "  -r  upload a directory with everything below it\n"
       "  The source is checked (exists, regular file, readable) before anything is created;\n"
       "  a failed or interrupted write deletes the partial file. New files take the file\n"
       "  system's replication and block size. A progress line shows on a terminal.\n"},
      {"cp", "SOURCE DESTINATION", "copy files or directories", "", 2, 2, copy, kOtherSystems},
      {"mv", "SOURCE DESTINATION", "rename, or move to another file system", "", 2, 2, move,
       kOtherSystems},
      {"rm", "PATH...", "delete paths, directories with all they hold", "", 1, kAny, remove, ""},
      {"mkdir", "PATH...", "make directories and their parents", "", 1, kAny, makeDirectory, ""},
      {"touch", "PATH...", "make empty files, or set the times of existing ones to now", "", 1,
       kAny, touch, ""},
      {"chmod", "MODE PATH...", "set permissions (octal)", "", 2, kAny, changeMode, ""},
      {"chown", "OWNER[:GROUP] PATH...", "set owner and group", "", 2, kAny, changeOwner, ""},
      {"setrep", "N PATH...", "set the replication factor", "", 2, kAny, setReplication, ""},
      {"blocks", "PATH", "the hosts of each block of a file", "", 1, 1, blocks,
       "  --json: {path, size, blockSize, blocks: [{index, offset, length, hosts}]}\n"},
      {"df", "[-h]", "capacity and use of the file system (HDFS)", "h", 0, 0, diskFree,
       "  -h  sizes with K, M, G\n"
       "  --json: {capacity, used, available, usedPercent}\n"},
      {"pwd", "", "print the working directory", "", 0, 0, workingDirectory, ""},
      {"cd", "DIRECTORY", "set the working directory for the commands after it", "", 1, 1,
       changeDirectory, ""},
      {"javac", "SOURCE... OUTDIR [--release V] [--bootclasspath P]",
       "compile Java sources against the JVM's class path", "", 2, kAny, compileJava, ""},
      {"jar", "JAR MAINCLASS [ARG...]", "run a jar's main class (JarDORN)", "", 2, kAny, runJar,
       ""},
      {"mapjob", "INPUT OUTPUT [KEY=VALUE...]",
       "count the words of INPUT into OUTPUT with a map-reduce job (DORNmap)", "", 2, kAny, mapJob,
       ""},
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

const Command *findCommand(const std::string &name) {
  for (const Command &command : commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

}  // namespace qxdfs
