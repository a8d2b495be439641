// The commands that copy and move files: put (copyFromLocal), moveFromLocal, get (copyToLocal),
// moveToLocal, cp, mv, appendToFile and getmerge. Each checks its destination as Hadoop's shell
// does, refuses a landing that is its source or lies inside it, and writes every file through
// writeBeside; a directory is planned as a tree and its files copied on threads.
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
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

// A local file's bytes; kSucceeded or a failure's status after its line.
int pourLocalFile(Shell &shell, const char *command, const std::string &path, int64_t size,
                  const Writer &write) {
  int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return localFailure(command, path, strerror(errno));
  int result = pourLocal(shell, command, descriptor, path, size, write);
  close(descriptor);
  return result;
}

// What -p keeps of a local file.
Attributes localAttributes(const struct stat &info) {
  struct passwd *owner = getpwuid(info.st_uid);
  struct group *group = getgrgid(info.st_gid);
  auto seconds = [](const struct timespec &time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec / 1000000) / 1000;
  };
  return {seconds(info.st_mtim), seconds(info.st_atim), static_cast<int16_t>(info.st_mode & 07777),
          owner ? owner->pw_name : "", group ? group->gr_name : ""};
}

// -p on the file system's side: times and permissions, and, where the file system lets this user
// give files away, an owner and a group.
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

// -p on the local side: times to the millisecond, permissions and (where this user may) the owner.
void keepLocally(const Attributes &from, const std::string &local) {
  auto timeOf = [](double seconds) {
    auto whole = static_cast<time_t>(seconds);
    long nanoseconds =
        static_cast<long>((seconds - static_cast<double>(whole)) * 1e3 + 0.5) * 1000000L;
    return timespec{whole, nanoseconds};
  };
  struct timespec times[2] = {timeOf(from.accessed), timeOf(from.modified)};
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

void keep(Shell &shell, hdfsFS fs, const std::string &path, const Attributes &kept) {
  if (fs) {
    keepAttributes(shell, fs, path, kept);
  } else {
    keepLocally(kept, path);
  }
}

// One file of a copy, from either side to either side (NULL: the local disk), written beside.
int copyFile(Shell &shell, const char *command, hdfsFS from, hdfsFS to, const TreeFile &file,
             const std::string &shown = "") {
  int result =
      writeBeside(shell, command, {to, file.to, shell.flag("f"), shown}, [&](const Writer &write) {
        return from ? pourFrom(shell, command, from, file.from, file.size, write)
                    : pourLocalFile(shell, command, file.from, file.size, write);
      });
  if (result == kSucceeded && shell.flag("p")) keep(shell, to, file.to, file.attributes);
  return result;
}

// A directory made for a tree copy on a side; what is there must be a directory.
MakeDirectory directoryMaker(Shell &shell, const char *command, hdfsFS fs) {
  if (!fs) {
    return [command](const std::string &path) {
      struct stat info;
      if (mkdir(path.c_str(), 0777) == 0) return kSucceeded;
      int error = errno;
      if (error == EEXIST) {  // a directory to merge into, or what is in the way
        if (stat(path.c_str(), &info) != 0) return localFailure(command, path, strerror(errno));
        if (S_ISDIR(info.st_mode)) return kSucceeded;
        error = ENOTDIR;
      }
      return localFailure(command, path, error == ENOTDIR ? kIsNotDirectory : strerror(error));
    };
  }
  return [&shell, command, fs](const std::string &path) {
    Session &session = shell.session;
    int32_t status = 0;
    std::u16string text = qx(path);
    bool made = session.ops().hdfsCreateDirectory(session.dfs(), session.context(), &status, fs,
                                                  text.c_str()) == 0;
    return done(shell, made, command, path, kIsNotDirectory);
  };
}

// -p of a tree: each directory takes the attributes of its source, after what is below it.
void keepTree(Shell &shell, const Item &from, hdfsFS fs, const std::string &to, int depth) {
  keep(shell, fs, to, attributesOf(from.stat));
  std::vector<Item> children;
  std::string error;
  if (depth >= kDeepest || !childrenOf(shell, from, children, error)) return;
  for (const Item &child : children) {
    if (child.stat.directory) keepTree(shell, child, fs, joined(to, nameOf(child.path)), depth + 1);
  }
  keep(shell, fs, to, attributesOf(from.stat));
}

// A directory of the local disk or of a connection, copied into `to` on threads; a file's
// failures name it below the target as the command line showed the target.
int copyTree(Shell &shell, const char *command, const Item &from, hdfsFS to,
             const std::string &target, const std::string &shown) {
  std::vector<TreeFile> files;
  MakeDirectory make = directoryMaker(shell, command, to);
  int result = from.fs ? planRemoteTree(shell, command, from, target, files, make)
                       : planLocalTree(command, from.path, target, files, make);
  result = std::max(
      result, copyFiles(shell, command, from.text, files, [&](Shell &worker, const TreeFile &file) {
        return copyFile(worker, command, from.fs, to, file, shown + file.to.substr(target.size()));
      }));
  if (result == kSucceeded && shell.flag("p")) {
    if (from.fs) {
      keepTree(shell, from, to, target, 0);
    } else {
      keep(shell, to, target, attributesOf(from.stat));
    }
  }
  return result;
}

// The local path a text names: a file: URI's path, else the text.
std::string localPathOf(const std::string &text) {
  if (text.compare(0, 5, "file:") != 0) return text;
  std::string rest = text.substr(5);
  if (rest.compare(0, 2, "//") == 0) {
    size_t slash = rest.find('/', 2);
    rest = slash == std::string::npos ? "/" : rest.substr(slash);
  }
  return rest;
}

// A path of the local disk as the shell holds it; false with the error's message when the disk
// cannot say what is there.
bool localItem(const std::string &text, Item &item, std::string &error) {
  item = Item{};
  item.path = item.text = localPathOf(text);
  struct stat info;
  if (stat(item.path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return true;
    error = pathError(item.text, strerror(errno));
    return false;
  }
  item.exists = true;
  item.stat.directory = S_ISDIR(info.st_mode);
  item.stat.length = static_cast<int64_t>(info.st_size);
  Attributes kept = localAttributes(info);
  item.stat.modified = static_cast<int64_t>(kept.modified * 1000);
  item.stat.accessed = static_cast<int64_t>(kept.accessed * 1000);
  item.stat.permission = kept.permissions;
  item.stat.owner = kept.owner;
  item.stat.group = kept.group;
  return true;
}

// The local directory a path goes in is there; its absolute URI for the message otherwise.
bool localParentExists(const Item &item, std::string &qualified) {
  std::string path = item.path;
  if (path.empty() || path[0] != '/') {
    char directory[PATH_MAX];
    path = std::string(getcwd(directory, sizeof directory) ? directory : ".") + "/" + path;
  }
  qualified = "file:" + path;
  std::string parent = representsDirectory(item) ? path : path.substr(0, path.rfind('/'));
  struct stat info;
  return stat(parent.empty() ? "/" : parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Where the sources of a copy go, as Hadoop's shell checks it: several sources only into a
// directory that is there; one source not onto a file that is there (without -f), nor into a
// directory that is not. False after the failure's line.
bool checkDestination(Shell &shell, size_t sources, const Item &to, bool overwrite) {
  if (sources > 1) {
    if (!to.exists) displayError(shell, pathError(to.text, kNoSuchPath));
    if (to.exists && !to.isDirectory()) displayError(shell, pathError(to.text, kIsNotDirectory));
    return to.isDirectory();
  }
  if (to.exists) {
    if (!to.isDirectory() && !overwrite) displayError(shell, pathError(to.text, kExists));
    return to.isDirectory() || overwrite;
  }
  bool exists = false;
  std::string parent, error, full;
  if (to.fs) {
    if (!parentExists(shell, to, Parent::ByForm, exists, parent, error)) {
      displayError(shell, error);
      return false;
    }
    full = qualified(shell, to);
  } else {
    exists = localParentExists(to, full);
  }
  if (!exists) {
    displayError(shell, pathError(to.text, kNoSuchPath) +
                            (full != to.text ? ": " + quoted(full) : std::string()));
  }
  return exists;
}

// Where a source lands: below a destination directory that is there, or named as one ("dir/"),
// under the source's name; else the destination itself.
Item landing(Shell &shell, const Item &to, const Item &source) {
  std::string name = nameOf(source.path);
  if (to.isDirectory()) return childOf(shell, to, name);
  if (!representsDirectory(to)) return to;
  Item below = to;
  below.exists = false;
  below.text = joined(to.text, name);
  below.path = joined(to.path, name);
  return below;
}

// The destination on the file system: the last operand, or the working directory when there
// is one; a pattern must name one path. False after the failure's line, with the command's
// status.
bool remoteDestination(Shell &shell, std::vector<std::string> &operands, Item &to, int &status) {
  std::string text = operands.size() < 2 ? "." : operands.back();
  if (operands.size() >= 2) operands.pop_back();
  std::vector<Item> items;
  std::string error;
  Reach reach = Reach::kArgument;
  status = kFailed;
  if (!expand(shell, text, items, error, reach)) {
    if (reach == Reach::kUsage) {
      status = usageError(*shell.command, error);
    } else {
      displayError(shell, error);
    }
    return false;
  }
  if (items.size() > 1) {
    displayError(shell, pathError(text, "Too many matches"));
    return false;
  }
  to = items[0];
  return true;
}

bool localDestination(Shell &shell, std::vector<std::string> &operands, Item &to) {
  std::string text = operands.size() < 2 ? "." : operands.back();
  if (operands.size() >= 2) operands.pop_back();
  std::string error;
  if (localItem(text, to, error)) return true;
  displayError(shell, error);
  return false;
}

// The sources of put: local paths, not patterns ("-": standard input).
std::vector<Item> localSources(Shell &shell, const std::vector<std::string> &operands) {
  std::vector<Item> sources;
  for (const std::string &operand : operands) {
    Item item;
    std::string error;
    if (operand == "-") {
      item.text = item.path = "-";
      item.exists = true;
    } else if (!localItem(operand, item, error)) {
      displayError(shell, error);
      continue;
    }
    sources.push_back(item);
  }
  return sources;
}

// One source copied to where it lands: a file written beside, a directory as a tree. A landing
// that is the source, or lies inside it, is refused before anything is made.
int copyOne(Shell &shell, const Item &source, const Item &to) {
  const char *command = shell.name();
  Item target = landing(shell, to, source);
  if (source.path == "-") {
    return writeBeside(shell, command, {to.fs, target.path, shell.flag("f"), target.text},
                       [&](const Writer &write) {
                         return pourLocal(shell, command, STDIN_FILENO, "-", 0, write);
                       });
  }
  bool directory = source.isDirectory();
  if (directory || shell.flag("f")) {
    if (int refused =
            refuseOverlap(shell, command, source.text, target.text, {source.fs, source.path},
                          {target.fs, target.path}, directory)) {
      return refused;
    }
  }
  if (directory) {
    if (target.exists && !target.isDirectory()) {
      return localFailure(command, target.text, kIsNotDirectory);
    }
    return copyTree(shell, command, source, target.fs, target.path, target.text);
  }
  return copyFile(shell, command, source.fs, target.fs,
                  {source.path, target.path, source.stat.length, attributesOf(source.stat)},
                  target.text);
}

// Copies the sources to the destination, one after the other; with `then` what follows each
// source that arrived (a move's delete).
int copyAll(Shell &shell, const std::vector<Item> &sources, const Item &to,
            const std::function<void(const Item &source)> &then = nullptr) {
  Interruptible interruptible;
  for (const Item &source : sources) {
    if (interruption()) break;
    if (!source.exists) {
      displayError(shell, pathError(source.text, kNoSuchPath));
    } else if (copyOne(shell, source, to) != kSucceeded) {
      shell.errors++;
    } else if (then) {
      then(source);
    }
  }
  if (interruption()) return interrupted(shell.name(), to.text);
  return statusOf(shell);
}

int removeLocal(const char *path, const struct stat *, int, struct FTW *) {
  return ::remove(path) == 0 ? 0 : errno;
}

// A move's source, gone once it arrived.
void deleteSource(Shell &shell, const Item &source) {
  if (!source.fs) {
    int failed = nftw(source.path.c_str(), removeLocal, 16, FTW_DEPTH | FTW_PHYS);
    if (failed) displayError(shell, "remove " + pathError(source.text, strerror(failed)));
    return;
  }
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string text = qx(source.path);
  if (session.ops().hdfsDelete(session.dfs(), session.context(), &status, source.fs,
                               text.c_str()) != 0) {
    displayFailure(shell, source.text);
  }
}

// mv within one file system renames (however the two paths name it); to another file system it
// copies, then deletes the source once everything arrived. It never moves onto what is there.
void moveOne(Shell &shell, const Item &source, const Item &to) {
  const char *command = shell.name();
  Item target = landing(shell, to, source);
  if (source.isDirectory() &&
      refuseOverlap(shell, command, source.text, target.text, {source.fs, source.path},
                    {target.fs, target.path}, true) != kSucceeded) {
    shell.errors++;
    return;
  }
  std::string error;
  if (!refresh(shell, target, error)) return displayError(shell, error);
  if (target.exists) return displayError(shell, pathError(target.text, kExists));
  if (!oneFileSystem(shell, source.fs, target.fs)) {
    if (copyOne(shell, source, to) != kSucceeded) {
      shell.errors++;
    } else {
      deleteSource(shell, source);
    }
    return;
  }
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string from = qx(source.path), path = qx(target.path);
  if (session.ops().hdfsRename(session.dfs(), session.context(), &status, source.fs, from.c_str(),
                               path.c_str()) != 0) {
    displayFailure(shell, source.text);
  }
}

// appendToFile's sources, every one opened before the file is touched; false after the line.
bool openSources(Shell &shell, const std::vector<std::string> &operands,
                 std::vector<int> &descriptors) {
  for (const std::string &operand : operands) {
    if (operand == "-" && operands.size() > 1) {
      displayError(shell, "stdin (-) must be the sole input argument when present");
      return false;
    }
    std::string local = localPathOf(operand);
    int descriptor = operand == "-" ? STDIN_FILENO : open(local.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (descriptor < 0 || fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
      std::string cause =
          descriptor < 0 ? (errno == ENOENT ? kNoSuchPath : strerror(errno)) : kIsDirectory;
      if (descriptor > STDIN_FILENO) close(descriptor);
      displayError(shell, pathError(local, cause));
      return false;
    }
    descriptors.push_back(descriptor);
  }
  return true;
}

// Appends to a file that is there, in place.
int appendInPlace(Shell &shell, const Item &to, const std::function<int(const Writer &)> &pourAll) {
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string text = qx(to.path);
  FileHandle *file =
      session.ops().hdfsOpenFile(session.dfs(), session.context(), &status, to.fs, text.c_str(),
                                 HDFS_OPEN_WRITE | HDFS_OPEN_APPEND, 0, 0, 0);
  int result = file ? pourAll(remoteWriter(shell, to.fs, file)) : kWriteFailed;
  bool closed = file && session.ops().hdfsCloseFile(session.dfs(), session.context(), &status,
                                                    to.fs, file) == 0;
  if (result == kWriteFailed || (result == kSucceeded && !closed)) {
    result = done(shell, false, shell.name(), to.text);
  }
  return interruption() ? interrupted(shell.name(), to.text) : result;
}

// The files getmerge joins: each file source, and the files directly in each directory source,
// in path order; false when a source is not there.
bool mergedFiles(Shell &shell, const std::vector<Item> &sources, std::vector<Item> &files) {
  for (const Item &source : sources) {
    if (!source.exists) {
      displayError(shell, pathError(source.text, kNoSuchPath));
      continue;
    }
    if (!source.isDirectory()) {
      files.push_back(source);
      continue;
    }
    std::vector<Item> children;
    std::string error;
    if (!childrenOf(shell, source, children, error)) {
      displayError(shell, error);
      continue;
    }
    for (const Item &child : children) {
      if (!child.isDirectory()) files.push_back(child);
    }
  }
  return shell.errors == 0;
}

// Where a transfer's sources are and where they go: the local disk up to a file system, a file
// system down to the local disk, or between file systems.
enum class Sides { kUp, kDown, kAcross };

// A transfer as Hadoop's shell checks it (the destination, then every source, then the two
// together), each source then copied and `then` done with each that arrived.
int transfer(Shell &shell, std::vector<std::string> &operands, Sides sides, bool overwrite,
             const std::function<void(const Item &source)> &then = nullptr) {
  Item to;
  std::vector<Item> sources;
  int status = kFailed;
  bool found = sides == Sides::kDown ? localDestination(shell, operands, to)
                                     : remoteDestination(shell, operands, to, status);
  if (!found) return status;
  if (sides == Sides::kUp) {
    sources = localSources(shell, operands);
  } else if (!expandAll(shell, operands, sources, status)) {
    return status;
  }
  size_t given = sides == Sides::kUp ? operands.size() : sources.size();
  if (!checkDestination(shell, given, to, overwrite)) return kFailed;
  return copyAll(shell, sources, to, then);
}

}  // namespace

int put(Shell &shell, std::vector<std::string> &operands) {
  return transfer(shell, operands, Sides::kUp, shell.flag("f"));
}

int moveFromLocal(Shell &shell, std::vector<std::string> &operands) {
  return transfer(shell, operands, Sides::kUp, shell.flag("f"), [&](const Item &source) {
    if (source.path != "-") deleteSource(shell, source);
  });
}

int get(Shell &shell, std::vector<std::string> &operands) {
  return transfer(shell, operands, Sides::kDown, shell.flag("f"));
}

int moveToLocal(Shell &shell, std::vector<std::string> &operands) {
  return transfer(shell, operands, Sides::kDown, false,
                  [&](const Item &source) { deleteSource(shell, source); });
}

int copy(Shell &shell, std::vector<std::string> &operands) {
  return transfer(shell, operands, Sides::kAcross, shell.flag("f"));
}

int move(Shell &shell, std::vector<std::string> &operands) {
  Interruptible interruptible;
  Item to;
  std::vector<Item> sources;
  int status = kFailed;
  if (!remoteDestination(shell, operands, to, status) ||
      !expandAll(shell, operands, sources, status)) {
    return status;
  }
  if (!checkDestination(shell, sources.size(), to, false)) return kFailed;
  for (const Item &source : sources) {
    if (interruption()) return interrupted(shell.name(), source.text);
    if (!source.exists) {
      displayError(shell, pathError(source.text, kNoSuchPath));
    } else {
      moveOne(shell, source, to);
    }
  }
  return statusOf(shell);
}

// appendToFile LOCAL... PATH: a file that is there grows in place; one that is not is written
// beside and renamed, as every new file is.
int appendToFile(Shell &shell, std::vector<std::string> &operands) {
  Interruptible interruptible;
  Item to;
  int status = kFailed;
  if (!remoteDestination(shell, operands, to, status)) return status;
  std::vector<int> descriptors;
  bool opened = openSources(shell, operands, descriptors);
  auto pourAll = [&](const Writer &write) {
    int result = kSucceeded;
    for (size_t i = 0; result == kSucceeded && i < descriptors.size(); i++) {
      result = pourLocal(shell, shell.name(), descriptors[i], operands[i], 0, write);
    }
    return result;
  };
  if (opened) {
    int result = to.exists
                     ? appendInPlace(shell, to, pourAll)
                     : writeBeside(shell, shell.name(), {to.fs, to.path, false, to.text}, pourAll);
    if (result != kSucceeded) shell.errors++;
  }
  for (int descriptor : descriptors) {
    if (descriptor != STDIN_FILENO) close(descriptor);
  }
  return statusOf(shell);
}

// getmerge [-nl] [-skip-empty-file] SOURCE... LOCAL: the files of each source (a directory's
// files in order) into one local file, written beside it; with -nl a line end after each file.
int getMerge(Shell &shell, std::vector<std::string> &operands) {
  Interruptible interruptible;
  Item to;
  if (!localDestination(shell, operands, to)) return kFailed;
  if (to.isDirectory()) return localFailure(shell.name(), to.text, kIsDirectory);
  std::vector<Item> sources, files;
  int status = kFailed;
  if (!expandAll(shell, operands, sources, status)) return status;
  if (!mergedFiles(shell, sources, files)) return kFailed;
  bool lines = shell.flag("nl"), skipEmpty = shell.flag("skip-empty-file");
  int result =
      writeBeside(shell, shell.name(), {nullptr, to.path, true, to.text}, [&](const Writer &write) {
        for (const Item &file : files) {
          if (file.stat.length == 0 && skipEmpty) continue;
          int poured = pourFrom(shell, shell.name(), file.fs, file.path, file.stat.length, write);
          if (poured != kSucceeded) return poured;
          if (lines && !write("\n", 1)) return kWriteFailed;
        }
        return kSucceeded;
      });
  return result == kSucceeded ? statusOf(shell) : result;
}

}  // namespace qxdfs
