#include "tools/qxdfs/identity.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "tools/qxdfs/copying.h"
#include "tools/qxdfs/java.h"

namespace qxdfs {
namespace {

const char kFileSystemClass[] = "org/apache/hadoop/fs/FileSystem";
const char kHdfsStatusClass[] = "org/apache/hadoop/hdfs/protocol/HdfsFileStatus";

enum class Overlap { kApart, kSame, kInside };

// A path qualified by its connection (its working directory, its scheme and authority), as the
// path part of its URI; "" after a failure, with the cause.
std::string qualifiedPath(Java &java, hdfsFS fs, const std::string &path) {
  LocalRef<jobject> given = java.path(path);
  LocalRef<jobject> full =
      java.call(fs, kFileSystemClass, "makeQualified",
                "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/Path;", given.get());
  LocalRef<jobject> uri =
      java.call(full.get(), "org/apache/hadoop/fs/Path", "toUri", "()Ljava/net/URI;");
  LocalRef<jobject> text = java.call(uri.get(), "java/net/URI", "getPath", "()Ljava/lang/String;");
  return java ? java.text(text.get()) : "";
}

// The local disk's path of a place, absolute; "" for a place elsewhere.
bool localPathOf(Shell &shell, const Place &place, std::string &path, std::string &cause) {
  if (!place.fs) {
    path = place.path;
    if (path.empty() || path[0] != '/') {
      char directory[PATH_MAX];
      if (!getcwd(directory, sizeof directory)) {
        cause = strerror(errno);
        return false;
      }
      path = std::string(directory) + "/" + path;
    }
    return true;
  }
  path.clear();
  if (!shell.session.isLocal(place.fs)) return true;
  Java java(shell.session);
  path = qualifiedPath(java, place.fs, place.path);
  cause = java.error();
  return static_cast<bool>(java);
}

bool sameInode(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// On the local disk: the same device and inode (through links), or a directory above `to` that
// is `from`.
Overlap localOverlap(const std::string &from, const std::string &to, bool fromIsDirectory) {
  struct stat source, target;
  if (stat(from.c_str(), &source) != 0) return Overlap::kApart;  // the copy itself will say
  if (stat(to.c_str(), &target) == 0 && sameInode(source, target)) return Overlap::kSame;
  if (!fromIsDirectory) return Overlap::kApart;
  std::string above = to;
  for (size_t slash; (slash = above.find_last_of('/')) != std::string::npos && !above.empty();) {
    above.resize(slash);
    if (stat(above.empty() ? "/" : above.c_str(), &target) == 0 && sameInode(source, target)) {
      return Overlap::kInside;
    }
  }
  return Overlap::kApart;
}

// The canonical service ("127.0.0.1:8020", "ha-hdfs:qxcluster") names a cluster however a
// connection spelled it; where there is none, the canonical URI.
bool sameFileSystem(Java &java, hdfsFS a, hdfsFS b) {
  if (a == b) return true;
  std::string names[2];
  hdfsFS both[2] = {a, b};
  for (int i = 0; i < 2; i++) {
    LocalRef<jobject> service =
        java.call(both[i], kFileSystemClass, "getCanonicalServiceName", "()Ljava/lang/String;");
    names[i] = java.text(service.get());
    if (names[i].empty()) {
      LocalRef<jobject> uri =
          java.call(both[i], kFileSystemClass, "getCanonicalUri", "()Ljava/net/URI;");
      LocalRef<jobject> text =
          java.call(uri.get(), "java/net/URI", "toString", "()Ljava/lang/String;");
      names[i] = "uri " + java.text(text.get());
    }
  }
  return java && names[0] == names[1];
}

// HDFS's id of the file at a path, or -1 where the file system keeps none.
jlong fileIdOf(Java &java, hdfsFS fs, const std::string &path) {
  LocalRef<jobject> given = java.path(path);
  LocalRef<jobject> status =
      java.call(fs, kFileSystemClass, "getFileStatus",
                "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/FileStatus;", given.get());
  JNIEnv *env = java.env();
  LocalRef<jclass> type(env, java ? env->FindClass(kHdfsStatusClass) : nullptr);
  if (!type) {
    if (env) env->ExceptionClear();  // no HDFS classes: no HDFS file
    return -1;
  }
  if (!env->IsInstanceOf(status.get(), type.get())) return -1;
  return java.value<jlong>(status.get(), kHdfsStatusClass, "getFileId", "()J");
}

// On one cluster: the same file id, or a path below the other by name.
bool remoteOverlap(Shell &shell, const Place &from, const Place &to, bool fromIsDirectory,
                   Overlap &overlap, std::string &cause) {
  Java java(shell.session);
  overlap = Overlap::kApart;
  bool one = sameFileSystem(java, from.fs, to.fs);
  if (!java || !one) {
    cause = java.error();
    return static_cast<bool>(java);
  }
  hdfsPathInfo *info = nullptr;
  Found found = lookup(shell, to.fs, to.path, info);
  if (info) release(shell, info, 1);
  shell.session.forget();
  if (found == Found::kThere) {
    jlong source = fileIdOf(java, from.fs, from.path), target = fileIdOf(java, to.fs, to.path);
    bool same = source >= 0 ? source == target
                            : qualifiedPath(java, from.fs, from.path) ==
                                  qualifiedPath(java, to.fs, to.path);
    if (java && same) overlap = Overlap::kSame;
  }
  if (java && overlap == Overlap::kApart && fromIsDirectory) {
    std::string above = qualifiedPath(java, from.fs, from.path);
    std::string below = qualifiedPath(java, to.fs, to.path);
    if (!above.empty() && above.back() != '/') above += '/';
    if (java && below.size() > above.size() && below.compare(0, above.size(), above) == 0) {
      overlap = Overlap::kInside;
    }
  }
  cause = java.error();
  return static_cast<bool>(java);
}

bool overlapOf(Shell &shell, const char *command, const Place &from, const Place &to,
               bool fromIsDirectory, Overlap &overlap) {
  std::string source, target, cause;
  overlap = Overlap::kApart;
  if (!localPathOf(shell, from, source, cause) || !localPathOf(shell, to, target, cause)) {
    localFailure(command, from.path, cause);
    return false;
  }
  if (!source.empty() || !target.empty()) {
    if (!source.empty() && !target.empty()) overlap = localOverlap(source, target, fromIsDirectory);
    return true;
  }
  if (remoteOverlap(shell, from, to, fromIsDirectory, overlap, cause)) return true;
  localFailure(command, from.path, cause);
  return false;
}

}  // namespace

bool oneFileSystem(Shell &shell, hdfsFS a, hdfsFS b) {
  if (a == b) return true;
  if (shell.session.isLocal(a) || shell.session.isLocal(b)) {
    return shell.session.isLocal(a) && shell.session.isLocal(b);
  }
  Java java(shell.session);
  return sameFileSystem(java, a, b);
}

int refuseOverlap(Shell &shell, const char *command, const std::string &sourceText,
                  const std::string &targetText, const Place &from, const Place &to,
                  bool fromIsDirectory) {
  Overlap overlap;
  if (!overlapOf(shell, command, from, to, fromIsDirectory, overlap)) return kFailed;
  if (overlap == Overlap::kApart) return kSucceeded;
  tell(command, quoted(sourceText) + " to " + quoted(targetText) + ": " +
                    (overlap == Overlap::kSame ? "are identical" : "is a subdirectory of itself"));
  return kFailed;
}

}  // namespace qxdfs
