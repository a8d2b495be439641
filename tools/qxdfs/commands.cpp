#include "tools/qxdfs/commands.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace qxdfs {
namespace {

constexpr int32_t kChunk = 1 << 20;
constexpr size_t kAny = SIZE_MAX;

// The exit status of an operation; a failure is told in one line, by its reports or, when the
// operation reported nothing (Hadoop answered false), by the cause given.
int done(Shell &shell, bool succeeded, const char *command, const std::string &subject,
         const char *quietCause = "failed") {
  if (succeeded) return kSucceeded;
  if (shell.session.reported()) {
    shell.session.fail(command, subject);
  } else {
    fprintf(stderr, "qxdfs: %s: %s: %s\n", command, subject.c_str(), quietCause);
  }
  return kFailed;
}

// An operation over each path argument; the worst exit status.
template <typename Each>
int forEach(const std::vector<std::string> &paths, Each each) {
  int status = kSucceeded;
  for (const std::string &path : paths) status = std::max(status, each(path));
  return status;
}

// A path's information; NULL after the failure's line, "No such file or directory" when it is
// missing.
hdfsPathInfo *infoOf(Shell &shell, const char *command, const std::string &path) {
  int32_t status = 0;
  std::u16string text = qx(path);
  Session &session = shell.session;
  hdfsPathInfo *info = session.ops().hdfsGetPathInfo(session.dfs(), session.context(), &status,
                                                     shell.fs, text.c_str());
  if (!info) done(shell, false, command, path, "No such file or directory");
  return info;
}

void release(Shell &shell, hdfsPathInfo *entries, int32_t count) {
  shell.session.ops().hdfsReleasePathInfo(shell.session.dfs(), nullptr, entries, count);
}

std::string permissionText(int16_t bits, int32_t kind) {
  std::string text(1, kind == HDFS_KIND_DIRECTORY ? 'd' : '-');
  const char *letters = "rwx";
  for (int shift = 8; shift >= 0; shift--)
    text += (bits >> shift) & 1 ? letters[(8 - shift) % 3] : '-';
  if (bits & 01000) text.back() = text.back() == 'x' ? 't' : 'T';
  return text;
}

std::string timeText(double seconds) {
  time_t when = static_cast<time_t>(seconds);
  struct tm parts;
  localtime_r(&when, &parts);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M", &parts);
  return text;
}

// A name as the file system gave it, without its scheme and authority.
std::string shortName(const char *name) {
  std::string text = name ? name : "";
  for (const char *scheme : {"hdfs://", "file://"}) {
    if (text.rfind(scheme, 0) == 0) {
      size_t slash = text.find('/', strlen(scheme));
      return slash == std::string::npos ? "/" : text.substr(slash);
    }
  }
  return text.rfind("file:", 0) == 0 ? text.substr(5) : text;
}

void printLong(const hdfsPathInfo &entry) {
  bool directory = entry.kind == HDFS_KIND_DIRECTORY;
  std::string replication = directory ? "-" : std::to_string(entry.replication);
  printf("%s %3s %-10s %-10s %12lld %s %s\n", permissionText(entry.permissions, entry.kind).c_str(),
         replication.c_str(), entry.owner ? entry.owner : "", entry.group ? entry.group : "",
         static_cast<long long>(entry.size), timeText(entry.lastModified).c_str(),
         shortName(entry.name).c_str());
}

int list(Shell &shell, const std::vector<std::string> &arguments) {
  bool longForm = !arguments.empty() && arguments[0] == "-l";
  std::vector<std::string> paths(arguments.begin() + (longForm ? 1 : 0), arguments.end());
  if (paths.empty()) paths.push_back(".");
  Session &session = shell.session;
  return forEach(paths, [&](const std::string &path) {
    hdfsPathInfo *info = infoOf(shell, "ls", path);
    if (!info) return kFailed;
    int32_t count = 1;
    hdfsPathInfo *entries = info;
    if (info->kind == HDFS_KIND_DIRECTORY) {
      release(shell, info, 1);
      std::u16string text = qx(path);
      int32_t result = session.ops().hdfsListDirectory(session.dfs(), session.context(), shell.fs,
                                                       text.c_str(), &count, &entries);
      if (result != 0) return done(shell, false, "ls", path);
      if (longForm) printf("Found %d items\n", count);
    }
    for (int32_t i = 0; i < count; i++) {
      if (longForm) {
        printLong(entries[i]);
      } else {
        printf("%s\n", shortName(entries[i].name).c_str());
      }
    }
    release(shell, entries, count);
    return kSucceeded;
  });
}

int stat(Shell &shell, const std::vector<std::string> &paths) {
  return forEach(paths, [&](const std::string &path) {
    hdfsPathInfo *info = infoOf(shell, "stat", path);
    if (!info) return kFailed;
    printf("  Path: %s\n  Kind: %s\n  Size: %lld\n  Replication: %d\n  Block size: %lld\n",
           info->name, info->kind == HDFS_KIND_DIRECTORY ? "directory" : "file",
           static_cast<long long>(info->size), info->replication,
           static_cast<long long>(info->blockSize));
    printf("  Owner: %s\n  Group: %s\n  Permissions: %04o %s\n  Modified: %s\n  Accessed: %s\n",
           info->owner ? info->owner : "", info->group ? info->group : "",
           info->permissions & 07777, permissionText(info->permissions, info->kind).c_str(),
           timeText(info->lastModified).c_str(), timeText(info->lastAccess).c_str());
    release(shell, info, 1);
    return kSucceeded;
  });
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

hdfsFS connectionOf(Shell &shell, const Location &location) {
  return location.ownTarget ? shell.session.connect(location.target, shell.user) : shell.fs;
}

int copy(Shell &shell, const std::vector<std::string> &arguments) {
  Location from = parseLocation(arguments[0]), to = parseLocation(arguments[1]);
  hdfsFS source = connectionOf(shell, from), destination = connectionOf(shell, to);
  if (!source || !destination) return kFailed;
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string sourcePath = qx(from.path), destinationPath = qx(to.path);
  bool ok = session.ops().hdfsCopy(session.dfs(), session.context(), &status, source,
                                   sourcePath.c_str(), destination, destinationPath.c_str()) == 0;
  return done(shell, ok, "cp", arguments[0]);
}

int move(Shell &shell, const std::vector<std::string> &arguments) {
  Location from = parseLocation(arguments[0]), to = parseLocation(arguments[1]);
  Session &session = shell.session;
  int32_t status = 0;
  if (!from.ownTarget && !to.ownTarget) {
    std::u16string oldPath = qx(from.path), newPath = qx(to.path);
    bool ok = session.ops().hdfsRename(session.dfs(), session.context(), &status, shell.fs,
                                       oldPath.c_str(), newPath.c_str()) == 0;
    return done(shell, ok, "mv", arguments[0], "cannot be renamed (missing, or in the way)");
  }
  hdfsFS source = connectionOf(shell, from), destination = connectionOf(shell, to);
  if (!source || !destination) return kFailed;
  bool ok = session.ops().hdfsMove(session.dfs(), session.context(), &status, source,
                                   from.path.c_str(), destination, to.path.c_str()) == 0;
  return done(shell, ok, "mv", arguments[0]);
}

int put(Shell &shell, const std::vector<std::string> &arguments) {
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string local = qx(arguments[0]), path = qx(arguments[1]);
  Session::WriteSizes sizes = session.writeSizes(shell.fs, arguments[1]);
  bool ok = session.ops().hdfsCopyFromLocal(session.dfs(), session.context(), &status,
                                            local.c_str(), shell.fs, path.c_str(), 0,
                                            sizes.replication, sizes.blockSize) == 0;
  return done(shell, ok, "put", arguments[0]);
}

// Copies a file of the file system to a stream through hdfsRead.
int copyOut(Shell &shell, const char *command, const std::string &path, FILE *out) {
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string text = qx(path);
  FileHandle *file = session.ops().hdfsOpenFile(session.dfs(), session.context(), &status, shell.fs,
                                                text.c_str(), 0, 0, 0, 0);
  if (!file) return done(shell, false, command, path);
  std::vector<char> buffer(kChunk);
  bool ok = true;
  for (int32_t n; ok && (n = session.ops().hdfsRead(session.dfs(), session.context(), &status,
                                                    shell.fs, file, buffer.data(), kChunk)) != 0;) {
    ok = n > 0 && fwrite(buffer.data(), 1, static_cast<size_t>(n), out) == static_cast<size_t>(n);
  }
  bool closed =
      session.ops().hdfsCloseFile(session.dfs(), session.context(), &status, shell.fs, file) == 0;
  return done(shell, ok && closed, command, path);
}

int cat(Shell &shell, const std::vector<std::string> &arguments) {
  return forEach(arguments,
                 [&](const std::string &path) { return copyOut(shell, "cat", path, stdout); });
}

int get(Shell &shell, const std::vector<std::string> &arguments) {
  FILE *out = fopen(arguments[1].c_str(), "wb");
  if (!out) {
    fprintf(stderr, "qxdfs: get: %s: %s\n", arguments[1].c_str(), strerror(errno));
    return kFailed;
  }
  int result = copyOut(shell, "get", arguments[0], out);
  return fclose(out) == 0 ? result : kFailed;
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
  printf("%15s %15s %15s %5s\n", "Size", "Used", "Available", "Use%");
  printf("%15lld %15lld %15lld %4d%%\n", static_cast<long long>(capacity),
         static_cast<long long>(used), static_cast<long long>(capacity - used),
         capacity > 0 ? static_cast<int>(100 * used / capacity) : 0);
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
  for (int64_t i = 0; hosts && hosts[i]; i++) {
    int64_t first = i * blockSize, last = std::min(size, first + blockSize) - 1;
    printf("block %lld (bytes %lld-%lld):", static_cast<long long>(i),
           static_cast<long long>(first), static_cast<long long>(last));
    for (char **host = hosts[i]; *host; host++) printf(" %s", *host);
    printf("\n");
  }
  session.ops().hdfsReleaseHosts(session.dfs(), nullptr, hosts);
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

const std::vector<Command> &commands() {
  static const std::vector<Command> table = {
      {"ls", "[-l] [PATH...]",
       "list a directory (-l: kind, permissions, replication, owner, "
       "group, size, time, name)",
       0, kAny, list},
      {"stat", "PATH...", "describe paths", 1, kAny, stat},
      {"cat", "PATH...", "print files", 1, kAny, cat},
      {"get", "PATH LOCAL", "copy a file to a local file", 2, 2, get},
      {"put", "LOCAL PATH", "upload a local file", 2, 2, put},
      {"cp", "SOURCE DESTINATION", "copy (either may be hdfs://HOST:PORT/... or file:///...)", 2, 2,
       copy},
      {"mv", "SOURCE DESTINATION", "rename, or move to another file system", 2, 2, move},
      {"rm", "PATH...", "delete paths, directories with all they hold", 1, kAny, remove},
      {"mkdir", "PATH...", "make directories and their parents", 1, kAny, makeDirectory},
      {"touch", "PATH...", "make empty files, or set the times of existing ones to now", 1, kAny,
       touch},
      {"chmod", "MODE PATH...", "set permissions (octal)", 2, kAny, changeMode},
      {"chown", "OWNER[:GROUP] PATH...", "set owner and group", 2, kAny, changeOwner},
      {"setrep", "N PATH...", "set the replication factor", 2, kAny, setReplication},
      {"blocks", "PATH", "the hosts of each block of a file", 1, 1, blocks},
      {"df", "", "capacity and use of the file system", 0, 0, diskFree},
      {"pwd", "", "print the working directory", 0, 0, workingDirectory},
      {"cd", "DIRECTORY", "set the working directory for the commands after it", 1, 1,
       changeDirectory},
      {"javac", "SOURCE... OUTDIR [--release V] [--bootclasspath P]",
       "compile Java sources against the JVM's class path", 2, kAny, compileJava},
      {"jar", "JAR MAINCLASS [ARG...]", "run a jar's main class (JarDORN)", 2, kAny, runJar},
      {"mapjob", "INPUT OUTPUT [KEY=VALUE...]",
       "count the words of INPUT into OUTPUT with a map-reduce job (DORNmap)", 2, kAny, mapJob},
  };
  return table;
}

}  // namespace qxdfs
