// The commands that copy and move files: get, getmerge, put, appendToFile, cp and mv. Each
// resolves where a source lands, refuses a landing that is the source or lies inside it, and
// writes every file through writeBeside; a directory is planned as a tree and its files copied
// on threads.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/qxdfs/beside.h"
#include "tools/qxdfs/identity.h"
#include "tools/qxdfs/output.h"
#include "tools/qxdfs/tree.h"

namespace qxdfs {
namespace {

// Pours a file of a connection into a writer; kSucceeded, kWriteFailed, or a failure's status
// after its line (an interruption is told by whoever removes what was made).
int pourFrom(Shell &shell, const char *command, hdfsFS fs, const std::string &path, int64_t size,
             const Writer &write) {
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string text = qx(path);
  FileHandle *file = session.ops().hdfsOpenFile(session.dfs(), session.context(), &status, fs,
                                                text.c_str(), 0, 0, 0, 0);
  if (!file) return done(shell, false, command, path);
  Progress progress(shell, path, size);
  Stopped stopped = pour(remoteReader(shell, fs, file), write, progress);
  if (stopped == Stopped::kReading) done(shell, false, command, path);
  bool closed =
      session.ops().hdfsCloseFile(session.dfs(), session.context(), &status, fs, file) == 0;
  if (stopped == Stopped::kAtTheEnd) return done(shell, closed, command, path);
  session.forget();  // a failed write's reports are the destination's to tell
  return stopped == Stopped::kWriting ? kWriteFailed : kFailed;
}

// Pours a local descriptor into a writer, as pourFrom does.
int pourLocal(Shell &shell, const char *command, int descriptor, const std::string &name,
              int64_t size, const Writer &write) {
  std::string cause;
  Progress progress(shell, name, size);
  Stopped stopped = pour(localReader(descriptor, cause), write, progress);
  if (stopped == Stopped::kReading) return localFailure(command, name, cause);
  return stopped == Stopped::kWriting    ? kWriteFailed
         : stopped == Stopped::kAtTheEnd ? kSucceeded
                                         : kFailed;
}

// put -p and cp -p: a path takes times and permissions, and, where the file system lets this
// user give files away, an owner and a group.
void keepAttributes(Shell &shell, hdfsFS fs, const std::string &path, const Attributes &kept) {
  Session &session = shell.session;
  int32_t status = 0;
  session.ops().hdfsUtime(session.dfs(), session.context(), &status, fs, path.c_str(),
                          kept.modified, kept.accessed);
  session.ops().hdfsChmod(session.dfs(), session.context(), &status, fs, path.c_str(),
                          kept.permissions);
  session.ops().hdfsChown(session.dfs(), session.context(), &status, fs, path.c_str(),
                          kept.owner.empty() ? nullptr : kept.owner.c_str(),
                          kept.group.empty() ? nullptr : kept.group.c_str());
  session.forget();
}

// What -p keeps of a local file.
Attributes localAttributes(const struct stat &info) {
  struct passwd *owner = getpwuid(info.st_uid);
  struct group *group = getgrgid(info.st_gid);
  return {static_cast<double>(info.st_mtime), static_cast<double>(info.st_atime),
          static_cast<int16_t>(info.st_mode & 07777), owner ? owner->pw_name : "",
          group ? group->gr_name : ""};
}

// get -p: the local file takes the times, permissions and (where this user may) the owner.
void keepLocally(const Attributes &from, const std::string &local) {
  struct timespec times[2] = {{static_cast<time_t>(from.accessed), 0},
                              {static_cast<time_t>(from.modified), 0}};
  utimensat(AT_FDCWD, local.c_str(), times, 0);
  chmod(local.c_str(), static_cast<mode_t>(from.permissions & 07777));
  struct passwd *owner = from.owner.empty() ? nullptr : getpwnam(from.owner.c_str());
  struct group *group = from.group.empty() ? nullptr : getgrnam(from.group.c_str());
  if (owner || group) {
    int ignored = chown(local.c_str(), owner ? owner->pw_uid : static_cast<uid_t>(-1),
                        group ? group->gr_gid : static_cast<gid_t>(-1));
    (void)ignored;  // only the superuser gives files away
  }
}

// cp -p of a directory: the copy below `to` takes the attributes of what is below `from`.
void keepTree(Shell &shell, hdfsFS source, const std::string &from, hdfsFS destination,
              const std::string &to, int depth) {
  hdfsPathInfo *info = peek(shell, from, source);
  shell.session.forget();
  if (!info) return;
  keepAttributes(shell, destination, to, attributesOf(*info));
  bool directory = info->kind == HDFS_KIND_DIRECTORY;
  release(shell, info, 1);
  hdfsPathInfo *entries = nullptr;
  int32_t count = 0;
  if (!directory || depth >= kDeepest || !listOf(shell, "cp", from, entries, count, source)) return;
  for (int32_t i = 0; i < count; i++) {
    std::string name = baseName(shortName(entries[i].name));
    keepTree(shell, source, joined(from, name), destination, joined(to, name), depth + 1);
  }
  release(shell, entries, count);
}

// A landing that is its source, or lies inside it, is refused before anything is made. A file's
// landing that is there is no concern without -f: the write refuses it first ("File exists"), as
// Hadoop's shell does.
int checkOverlap(Shell &shell, const char *command, const std::string &sourceText,
                 const Place &from, const Place &to, bool directory) {
  if (!directory && !shell.flag('f')) return kSucceeded;
  return refuseOverlap(shell, command, sourceText, from, to, directory);
}

// Where a source lands: into a destination directory under the source's name, else the
// destination itself.
std::string landing(const std::string &source, const std::string &destination, bool intoDirectory) {
  return intoDirectory ? joined(destination, baseName(source)) : destination;
}

// A file of a connection copied to a file of a connection (the same or another).
int copyRemoteFile(Shell &shell, const char *command, hdfsFS source, hdfsFS destination,
                   const TreeFile &file) {
  int result = writeBeside(shell, command, {destination, file.to, shell.flag('f')},
                           [&](const Writer &write) {
                             return pourFrom(shell, command, source, file.from, file.size, write);
                           });
  if (result == kSucceeded && shell.flag('p')) {
    keepAttributes(shell, destination, file.to, file.attributes);
  }
  return result;
}

// A directory made on a connection for a tree copy.
MakeDirectory remoteDirectoryMaker(Shell &shell, const char *command, hdfsFS fs) {
  return [&shell, command, fs](const std::string &path) {
    Session &session = shell.session;
    int32_t status = 0;
    std::u16string text = qx(path);
    bool made = session.ops().hdfsCreateDirectory(session.dfs(), session.context(), &status, fs,
                                                  text.c_str()) == 0;
    return done(shell, made, command, path, "cannot be made (a file is in the way)");
  };
}

// A directory of a connection copied into another place of a connection; its top must have
// its directory.
int copyRemoteTree(Shell &shell, const char *command, hdfsFS source, const std::string &from,
                   hdfsFS destination, const std::string &to) {
  if (int refused = checkParent(shell, command, {destination, to})) return refused;
  std::vector<TreeFile> files;
  int result = planRemoteTree(shell, command, source, from, to, files,
                              remoteDirectoryMaker(shell, command, destination));
  result = std::max(
      result, copyFiles(shell, command, from, files, [&](Shell &worker, const TreeFile &file) {
        return copyRemoteFile(worker, command, source, destination, file);
      }));
  if (result == kSucceeded && shell.flag('p')) keepTree(shell, source, from, destination, to, 0);
  return result;
}

// A file of the file system to a local file.
int getFile(Shell &shell, const TreeFile &file) {
  int result =
      writeBeside(shell, "get", {nullptr, file.to, shell.flag('f')}, [&](const Writer &write) {
        return pourFrom(shell, "get", shell.fs, file.from, file.size, write);
      });
  if (result == kSucceeded && shell.flag('p')) keepLocally(file.attributes, file.to);
  return result;
}

int makeLocalDirectory(const std::string &path) {
  struct stat info;
  if (mkdir(path.c_str(), 0777) == 0) return kSucceeded;
  int error = errno;
  if (error == EEXIST) {  // a directory to merge into, or what is in the way
    if (stat(path.c_str(), &info) != 0) return localFailure("get", path, strerror(errno));
    if (S_ISDIR(info.st_mode)) return kSucceeded;
  }
  return localFailure("get", path, strerror(error));
}

int getOne(Shell &shell, const std::string &path, const std::string &destination,
           bool intoDirectory) {
  hdfsPathInfo *info = infoOf(shell, "get", path);
  if (!info) return kFailed;
  TreeFile file{path, landing(path, destination, intoDirectory), info->size, attributesOf(*info)};
  bool directory = info->kind == HDFS_KIND_DIRECTORY;
  release(shell, info, 1);
  if (directory && !shell.flag('r')) {
    return localFailure("get", path, "is a directory (get -r copies it)");
  }
  if (int refused =
          checkOverlap(shell, "get", path, {shell.fs, path}, {nullptr, file.to}, directory)) {
    return refused;
  }
  if (!directory) return getFile(shell, file);
  if (int refused = checkParent(shell, "get", {nullptr, file.to})) return refused;
  std::vector<TreeFile> files;
  int result = planRemoteTree(shell, "get", shell.fs, path, file.to, files, makeLocalDirectory);
  return std::max(result, copyFiles(shell, "get", path, files, getFile));
}

// A local file to a file of the file system.
int putFile(Shell &shell, const TreeFile &file) {
  int descriptor = open(file.from.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (descriptor < 0) return localFailure("put", file.from, strerror(errno));
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(descriptor);
    return localFailure("put", file.from, "not a regular file");
  }
  int result =
      writeBeside(shell, "put", {shell.fs, file.to, shell.flag('f')}, [&](const Writer &write) {
        return pourLocal(shell, "put", descriptor, file.from, info.st_size, write);
      });
  close(descriptor);
  if (result == kSucceeded && shell.flag('p')) {
    keepAttributes(shell, shell.fs, file.to, localAttributes(info));
  }
  return result;
}

int putOne(Shell &shell, const std::string &local, const std::string &destination,
           bool intoDirectory) {
  if (local == "-") {
    return writeBeside(
        shell, "put", {shell.fs, destination, shell.flag('f')},
        [&](const Writer &write) { return pourLocal(shell, "put", STDIN_FILENO, "-", 0, write); });
  }
  struct stat info;
  if (stat(local.c_str(), &info) != 0) return localFailure("put", local, strerror(errno));
  bool directory = S_ISDIR(info.st_mode);
  if (directory && !shell.flag('r')) {
    return localFailure("put", local, "is a directory (put -r copies it)");
  }
  if (!directory && !S_ISREG(info.st_mode)) return localFailure("put", local, "not a regular file");
  if (access(local.c_str(), R_OK) != 0) return localFailure("put", local, strerror(errno));
  TreeFile file{
      local, landing(local, destination, intoDirectory), static_cast<int64_t>(info.st_size), {}};
  if (int refused =
          checkOverlap(shell, "put", local, {nullptr, local}, {shell.fs, file.to}, directory)) {
    return refused;
  }
  if (!directory) return putFile(shell, file);
  if (int refused = checkParent(shell, "put", {shell.fs, file.to})) return refused;
  std::vector<TreeFile> files;
  int result =
      planLocalTree("put", local, file.to, files, remoteDirectoryMaker(shell, "put", shell.fs));
  return std::max(result, copyFiles(shell, "put", local, files, putFile));
}

// A source or destination that names its own file system, with its connection.
struct Located {
  Location location;
  hdfsFS fs = nullptr;
};

// Parses and connects; false after the failure's line (a usage error's status in status).
bool locate(Shell &shell, const char *command, const std::string &text, Located &located,
            int &status) {
  located.location = parseLocation(text);
  if (!located.location.error.empty()) {
    fprintf(stderr, "qxdfs: %s: %s: %s\n", command, text.c_str(), located.location.error.c_str());
    status = kUsage;
    return false;
  }
  located.fs = connectionOf(shell, located.location);
  status = kFailed;
  return located.fs != nullptr;
}

// A source of cp or mv: its file system, where it lands and whether it is a directory.
struct Source {
  Located from;
  TreeFile file;
  bool directory = false;
};

// Finds a source and where it lands, refusing a landing that overlaps it; kSucceeded, or a
// failure's status after its line.
int planSource(Shell &shell, const char *command, const std::string &text, const Located &to,
               bool intoDirectory, Source &source) {
  int status = kFailed;
  if (!locate(shell, command, text, source.from, status)) return status;
  const std::string &path = source.from.location.path;
  hdfsPathInfo *info = nullptr;
  Found found = lookup(shell, source.from.fs, path, info);
  if (found == Found::kMissing) return localFailure(command, text, kNoSuchPath);
  if (found == Found::kUnknown) return done(shell, false, command, text);
  source.file = {path, landing(path, to.location.path, intoDirectory), info->size,
                 attributesOf(*info)};
  source.directory = info->kind == HDFS_KIND_DIRECTORY;
  release(shell, info, 1);
  return checkOverlap(shell, command, text, {source.from.fs, path}, {to.fs, source.file.to},
                      source.directory);
}

int copyOne(Shell &shell, const std::string &text, const Located &to, bool intoDirectory) {
  Source source;
  if (int failed = planSource(shell, "cp", text, to, intoDirectory, source)) return failed;
  if (!source.directory) return copyRemoteFile(shell, "cp", source.from.fs, to.fs, source.file);
  return copyRemoteTree(shell, "cp", source.from.fs, source.file.from, to.fs, source.file.to);
}

// mv within one file system renames (however the two paths name it); to another file system it
// copies, then deletes the source once everything arrived.
int moveOne(Shell &shell, const std::string &text, const Located &to, bool intoDirectory) {
  Source source;
  if (int failed = planSource(shell, "mv", text, to, intoDirectory, source)) return failed;
  const TreeFile &file = source.file;
  hdfsFS from = source.from.fs;
  // Hadoop's shell never moves onto what is there.
  hdfsPathInfo *there = nullptr;
  Found found = lookup(shell, to.fs, file.to, there);
  if (there) release(shell, there, 1);
  if (found == Found::kUnknown) return done(shell, false, "mv", file.to);
  if (found == Found::kThere) return localFailure("mv", file.to, "File exists");
  if (int refused = checkParent(shell, "mv", {to.fs, file.to})) return refused;
  Session &session = shell.session;
  int32_t result = 0;
  std::u16string path = qx(file.from), target = qx(file.to);
  if (oneFileSystem(shell, from, to.fs)) {
    bool ok = session.ops().hdfsRename(session.dfs(), session.context(), &result, from,
                                       path.c_str(), target.c_str()) == 0;
    return done(shell, ok, "mv", text, "cannot be renamed (missing, or in the way)");
  }
  int status = source.directory ? copyRemoteTree(shell, "mv", from, file.from, to.fs, file.to)
                                : copyRemoteFile(shell, "mv", from, to.fs, file);
  if (status != kSucceeded) return status;
  bool deleted =
      session.ops().hdfsDelete(session.dfs(), session.context(), &result, from, path.c_str()) == 0;
  return done(shell, deleted, "mv", text, "copied, but the source could not be deleted");
}

// Several sources go only into a directory; then each source in turn, the worst status.
template <typename One>
int eachSource(const char *command, const std::vector<std::string> &arguments, bool intoDirectory,
               One one) {
  if (arguments.size() > 2 && !intoDirectory) {
    return localFailure(command, arguments.back(),
                        "is not a directory (several sources go into a directory)");
  }
  int status = kSucceeded;
  for (size_t i = 0; i + 1 < arguments.size() && !interruption(); i++) {
    status = std::max(status, one(arguments[i]));
  }
  return status;
}

// Whether a path of a connection is a directory; false for what is not there or cannot be told
// (the command then tells it).
bool isDirectory(Shell &shell, hdfsFS fs, const std::string &path) {
  hdfsPathInfo *info = nullptr;
  lookup(shell, fs, path, info);
  bool directory = info && info->kind == HDFS_KIND_DIRECTORY;
  if (info) release(shell, info, 1);
  shell.session.forget();
  return directory;
}

bool isLocalDirectory(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The files getmerge joins: each file argument, and the files of each directory argument in
// name order; false after the failure's line.
bool mergedFiles(Shell &shell, const std::vector<std::string> &arguments,
                 std::vector<std::pair<std::string, int64_t>> &files) {
  for (size_t i = 0; i + 1 < arguments.size(); i++) {
    hdfsPathInfo *info = infoOf(shell, "getmerge", arguments[i]);
    if (!info) return false;
    bool directory = info->kind == HDFS_KIND_DIRECTORY;
    if (!directory) files.emplace_back(arguments[i], static_cast<int64_t>(info->size));
    release(shell, info, 1);
    hdfsPathInfo *entries = nullptr;
    int32_t count = 0;
    if (directory && !listOf(shell, "getmerge", arguments[i], entries, count)) return false;
    for (int32_t j = 0; j < count; j++) {
      if (entries[j].kind != HDFS_KIND_DIRECTORY) {
        files.emplace_back(shortName(entries[j].name), static_cast<int64_t>(entries[j].size));
      }
    }
    release(shell, entries, count);
  }
  return true;
}

// appendToFile's sources, every one opened before the file is touched; false after the line.
bool openSources(const std::vector<std::string> &arguments, std::vector<int> &descriptors) {
  for (size_t i = 0; i + 1 < arguments.size(); i++) {
    const std::string &local = arguments[i];
    int descriptor = local == "-" ? STDIN_FILENO : open(local.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (descriptor < 0 || fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
      std::string cause = descriptor < 0 ? strerror(errno) : "is a directory";
      if (descriptor > STDIN_FILENO) close(descriptor);
      localFailure("appendToFile", local, cause);
      return false;
    }
    descriptors.push_back(descriptor);
  }
  return true;
}

}  // namespace

int get(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  const std::string &destination = arguments.back();
  bool intoDirectory = isLocalDirectory(destination);
  return eachSource("get", arguments, intoDirectory, [&](const std::string &path) {
    return getOne(shell, path, destination, intoDirectory);
  });
}

int put(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  const std::string &destination = arguments.back();
  bool intoDirectory = isDirectory(shell, shell.fs, destination);
  return eachSource("put", arguments, intoDirectory, [&](const std::string &local) {
    return putOne(shell, local, destination, intoDirectory);
  });
}

int copy(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  Located to;
  int status = kFailed;
  if (!locate(shell, "cp", arguments.back(), to, status)) return status;
  bool intoDirectory = isDirectory(shell, to.fs, to.location.path);
  return eachSource("cp", arguments, intoDirectory, [&](const std::string &source) {
    return copyOne(shell, source, to, intoDirectory);
  });
}

int move(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  Located to;
  int status = kFailed;
  if (!locate(shell, "mv", arguments.back(), to, status)) return status;
  bool intoDirectory = isDirectory(shell, to.fs, to.location.path);
  return eachSource("mv", arguments, intoDirectory, [&](const std::string &source) {
    return moveOne(shell, source, to, intoDirectory);
  });
}

// appendToFile LOCAL... PATH: a file that is there grows in place; one that is not is written
// beside and renamed, as every new file is.
int appendToFile(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  std::vector<int> descriptors;
  bool opened = openSources(arguments, descriptors);
  auto pourAll = [&](const Writer &write) {
    int result = kSucceeded;
    for (size_t i = 0; result == kSucceeded && i < descriptors.size(); i++) {
      result = pourLocal(shell, "appendToFile", descriptors[i], arguments[i], 0, write);
    }
    return result;
  };
  const std::string &path = arguments.back();
  hdfsPathInfo *info = nullptr;
  Found found = opened ? lookup(shell, shell.fs, path, info) : Found::kUnknown;
  if (info) release(shell, info, 1);
  int result = kFailed;
  if (opened && found == Found::kUnknown) {
    result = done(shell, false, "appendToFile", path);
  } else if (found == Found::kMissing) {
    result = writeBeside(shell, "appendToFile", {shell.fs, path, false}, pourAll);
  } else if (found == Found::kThere) {
    Session &session = shell.session;
    int32_t status = 0;
    std::u16string text = qx(path);
    FileHandle *file =
        session.ops().hdfsOpenFile(session.dfs(), session.context(), &status, shell.fs,
                                   text.c_str(), HDFS_OPEN_WRITE | HDFS_OPEN_APPEND, 0, 0, 0);
    result = file ? pourAll(remoteWriter(shell, shell.fs, file)) : kWriteFailed;
    bool closed = file && session.ops().hdfsCloseFile(session.dfs(), session.context(), &status,
                                                      shell.fs, file) == 0;
    if (result == kWriteFailed || (result == kSucceeded && !closed)) {
      result = done(shell, false, "appendToFile", path);
    }
    if (interruption()) result = interrupted("appendToFile", path);
  }
  for (int descriptor : descriptors) {
    if (descriptor != STDIN_FILENO) close(descriptor);
  }
  return result;
}

// getmerge [-nl] SOURCE... LOCAL: the files of each source (a directory's files in order) into
// one local file, with -nl a line end after each file.
int getMerge(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  std::vector<std::pair<std::string, int64_t>> files;
  if (!mergedFiles(shell, arguments, files)) return kFailed;
  return writeBeside(shell, "getmerge", {nullptr, arguments.back(), shell.flag('f')},
                     [&](const Writer &write) {
                       for (const auto &[path, size] : files) {
                         int result = pourFrom(shell, "getmerge", shell.fs, path, size, write);
                         if (result != kSucceeded) return result;
                         if (shell.flag('n') && !write("\n", 1)) return kWriteFailed;
                       }
                       return kSucceeded;
                     });
}

}  // namespace qxdfs
