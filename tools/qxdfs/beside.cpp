#include "tools/qxdfs/beside.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "tools/qxdfs/java.h"

namespace qxdfs {
namespace {

// Bytes of the destination's name kept in the hidden name: enough to tell it, few enough that
// the whole stays within the usual limit of 255 bytes for a name.
constexpr size_t kNameBytes = 100;

// The directory of a path, a file system's root included ("hdfs://host:8020/" of
// "hdfs://host:8020/a").
std::string directoryOf(const std::string &path) {
  size_t authority = path.find("://");
  size_t root = authority == std::string::npos ? 0 : path.find('/', authority + 3);
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || root == std::string::npos) return ".";
  return slash == root ? path.substr(0, root + 1) : path.substr(0, slash);
}

// ".NAME.qxdfs-" in the destination's directory: hidden from listings and from the jobs that
// read a directory, and telling whose it is.
std::string hiddenPrefix(const std::string &path) {
  std::string directory = directoryOf(path);
  std::string name = path.substr(path.find_last_of('/') + 1);
  if (name.size() > kNameBytes) {
    size_t cut = kNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) cut--;
    name.resize(cut);  // whole characters only
  }
  return (directory.back() == '/' ? directory : directory + "/") + "." + name + ".qxdfs-";
}

// The line for what a file system said of a destination that must not be there or must be a
// file; kSucceeded when it may be written.
int checkTarget(const char *command, const Destination &to, bool there, bool directory) {
  if (there && directory) return localFailure(command, to.text(), kIsDirectory);
  if (there && !to.replace) return localFailure(command, to.text(), kExists);
  return kSucceeded;
}

int writeLocally(Shell &shell, const char *command, const Destination &to,
                 const std::function<int(const Writer &)> &fill) {
  struct stat there;
  bool exists = stat(to.path.c_str(), &there) == 0;
  if (!exists && errno != ENOENT) return localFailure(command, to.text(), strerror(errno));
  if (int refused = checkTarget(command, to, exists, exists && S_ISDIR(there.st_mode))) {
    return refused;
  }
  if (int refused = checkParent(shell, command, to)) return refused;
  std::string temporary = hiddenPrefix(to.path) + "XXXXXX";
  int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) return localFailure(command, to.text(), strerror(errno));
  mode_t mask = umask(0);  // the file gets the mode a new file gets, not mkstemp's 0600
  umask(mask);
  fchmod(descriptor, 0666 & ~mask);
  std::string cause;
  int result = fill(localWriter(descriptor, cause));
  if (close(descriptor) != 0 && cause.empty()) cause = strerror(errno);
  if (!interruption() && (result == kSucceeded || result == kWriteFailed) && !cause.empty()) {
    result = localFailure(command, to.text(), cause);
  }
  // Without -f nothing is replaced, even what another writer made meanwhile.
  if (result == kSucceeded && !interruption() &&
      (to.replace ? rename(temporary.c_str(), to.path.c_str())
                  : renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, to.path.c_str(),
                              RENAME_NOREPLACE)) != 0) {
    result = localFailure(command, to.text(), strerror(errno));
  }
  if (result == kSucceeded && !interruption()) return kSucceeded;
  unlink(temporary.c_str());
  return interruption() ? interrupted(command, to.text()) : result;
}

// Renames over a file that is there: Hadoop's rename that overwrites (on HDFS one step at the
// name node); an empty text, or why not.
std::string renameOver(Shell &shell, hdfsFS fs, const std::string &from, const std::string &to) {
  Java java(shell.session);
  const char *renameClass = "org/apache/hadoop/fs/Options$Rename";
  LocalRef<jstring> name = java.string("OVERWRITE");
  LocalRef<jobject> overwrite =
      java.callStatic(renameClass, "valueOf",
                      "(Ljava/lang/String;)Lorg/apache/hadoop/fs/Options$Rename;", name.get());
  JNIEnv *env = java.env();
  LocalRef<jclass> type(env, java ? env->GetObjectClass(overwrite.get()) : nullptr);
  LocalRef<jobjectArray> options(
      env, type ? env->NewObjectArray(1, type.get(), overwrite.get()) : nullptr);
  if (java && !options) {
    env->ExceptionClear();
    return "out of Java memory";
  }
  LocalRef<jobject> source = java.path(from), target = java.path(to);
  java.callStatic("org/apache/hadoop/fs/FileUtil", "rename",
                  "(Lorg/apache/hadoop/fs/FileSystem;Lorg/apache/hadoop/fs/Path;Lorg/apache/hadoop/"
                  "fs/Path;[Lorg/apache/hadoop/fs/Options$Rename;)V",
                  fs, source.get(), target.get(), options.get());
  return java.error();
}

// The hidden file over its destination: a plain rename where nothing is there (it fails rather
// than replace), else one that overwrites.
bool renameRemotely(Shell &shell, const char *command, const Destination &to,
                    const std::string &temporary) {
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string from = qx(temporary), target = qx(to.path);
  if (session.ops().hdfsRename(session.dfs(), session.context(), &status, to.fs, from.c_str(),
                               target.c_str()) == 0) {
    return true;
  }
  if (!to.replace) {
    done(shell, false, command, to.text(), kExists);
    return false;
  }
  session.forget();
  std::string cause = renameOver(shell, to.fs, temporary, to.path);
  if (cause.empty()) return true;
  localFailure(command, to.text(), cause);
  return false;
}

std::string randomText() {
  std::random_device device;
  char text[17];
  snprintf(text, sizeof text, "%08x%08x", device(), device());
  return text;
}

int writeRemotely(Shell &shell, const char *command, const Destination &to,
                  const std::function<int(const Writer &)> &fill) {
  hdfsPathInfo *info = nullptr;
  Found found = lookup(shell, to.fs, to.path, info);
  bool directory = info && info->kind == HDFS_KIND_DIRECTORY;
  if (info) release(shell, info, 1);
  if (found == Found::kUnknown) return done(shell, false, command, to.text());
  if (int refused = checkTarget(command, to, found == Found::kThere, directory)) return refused;
  if (int refused = checkParent(shell, command, to)) return refused;
  Session &session = shell.session;
  std::string temporary = hiddenPrefix(to.path) + randomText();
  std::u16string hidden = qx(temporary);
  int32_t status = 0;
  // Replication and block size as the file system gives a new file (dfslink asks it for 0).
  FileHandle *file = session.ops().hdfsOpenFile(session.dfs(), session.context(), &status, to.fs,
                                                hidden.c_str(), HDFS_OPEN_WRITE, 0, 0, 0);
  if (!file) return done(shell, false, command, to.text());
  int result = fill(remoteWriter(shell, to.fs, file));
  bool closed =
      session.ops().hdfsCloseFile(session.dfs(), session.context(), &status, to.fs, file) == 0;
  if (!interruption() && (result == kWriteFailed || (result == kSucceeded && !closed))) {
    result = done(shell, false, command, to.text());
  }
  if (result == kSucceeded && !interruption() && renameRemotely(shell, command, to, temporary)) {
    return kSucceeded;
  }
  if (result == kSucceeded) result = kFailed;
  session.ops().hdfsDelete(session.dfs(), session.context(), &status, to.fs, hidden.c_str());
  session.forget();
  return interruption() ? interrupted(command, to.text()) : result;
}

}  // namespace

int writeBeside(Shell &shell, const char *command, const Destination &to,
                const std::function<int(const Writer &)> &fill) {
  return to.fs ? writeRemotely(shell, command, to, fill) : writeLocally(shell, command, to, fill);
}

int checkParent(Shell &shell, const char *command, const Destination &to) {
  std::string parent = directoryOf(to.path);
  bool missing = false, directory = false;
  if (!to.fs) {
    struct stat info;
    bool failed = stat(parent.c_str(), &info) != 0;
    if (failed && errno != ENOENT) return localFailure(command, to.text(), strerror(errno));
    missing = failed;
    directory = !failed && S_ISDIR(info.st_mode);
  } else {
    hdfsPathInfo *info = nullptr;
    Found found = lookup(shell, to.fs, parent, info);
    directory = info && info->kind == HDFS_KIND_DIRECTORY;
    if (info) release(shell, info, 1);
    if (found == Found::kUnknown) return done(shell, false, command, to.text());
    missing = found == Found::kMissing;
  }
  if (missing) return localFailure(command, to.text(), kNoSuchPath);
  return directory ? kSucceeded : localFailure(command, to.text(), kIsNotDirectory);
}

}  // namespace qxdfs
