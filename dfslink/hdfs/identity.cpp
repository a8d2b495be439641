// Whether a copy's destination is its source, or lies inside it, asked of the file systems: the
// canonical service of each connection (one cluster however a connection spells it), then HDFS's
// file id or the local file's device and inode. Spellings never decide: LOCALHOST and 127.0.0.1,
// a link and its target, two hard links, a relative and an absolute path.
#include <string_view>

#include "dfslink/hdfs/copy_guard.h"

namespace dfs {
namespace {

constexpr char kFileStatus[] = "org/apache/hadoop/fs/FileStatus";
constexpr char kStatusOf[] = "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/FileStatus;";
constexpr char kPathOfPath[] = "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/Path;";
constexpr char kFile[] = "java/io/File";
// Directories above a local destination that are compared with the source, at most.
constexpr int kDeepestAncestor = 4096;

// The Java calls of one check: each failure is reported once, under the copy's method text.
class Guard {
 public:
  Guard(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, const CopyNames &names)
      : dfs_(dfs), context_(context), env_(env), names_(names), call_(dfs, context, env) {}

  JNIEnv *env() const { return env_; }
  const CopyNames &names() const { return names_; }

  // An object result (a null reference is an answer too); false after the report.
  template <typename... Arguments>
  bool object(LocalRef<jobject> &result, jobject target, const char *type, const char *method,
              const char *descriptor, Arguments... arguments) {
    jobject made = nullptr;
    bool ok = target ? call_.onObject(&made, target, type, method, descriptor, arguments...)
                     : call_.onClass(&made, type, method, descriptor, arguments...);
    result = LocalRef<jobject>(env_, made);
    return ok || failed();
  }
  template <typename Result, typename... Arguments>
  bool value(Result &result, jobject target, const char *type, const char *method,
             const char *descriptor, Arguments... arguments) {
    bool ok = target ? call_.onObject(&result, target, type, method, descriptor, arguments...)
                     : call_.onClass(&result, type, method, descriptor, arguments...);
    return ok || failed();
  }
  template <typename... Arguments>
  bool make(LocalRef<jobject> &result, const char *type, const char *descriptor,
            Arguments... arguments) {
    result =
        LocalRef<jobject>(env_, bridgeOf(dfs_).constructNewObjectOfClass(
                                    dfs_->jvm, context_, env_, type, descriptor, arguments...));
    if (!result) JnlFromException(dfs_, context_, nullptr, env_, names_.methodText);
    return static_cast<bool>(result);
  }
  // The status of a path; a null reference when nothing is there and that is an answer. Called
  // directly: a path that is not there is the usual answer, not a failure to print.
  bool status(LocalRef<jobject> &result, hdfsFS fs, jobject path, bool missingAnswers) {
    jmethodID getFileStatus = bridgeOf(dfs_).methodIdFromClass(
        dfs_->jvm, context_, kFileSystem, "getFileStatus", kStatusOf, JVMLINK_INSTANCE, env_);
    if (!getFileStatus) {
      JnlFromException(dfs_, context_, nullptr, env_, names_.methodText);
      return false;
    }
    result = LocalRef<jobject>(env_, env_->CallObjectMethod(fs, getFileStatus, path));
    LocalRef<jthrowable> thrown(env_, env_->ExceptionOccurred());
    if (!thrown) return true;
    env_->ExceptionClear();
    result = LocalRef<jobject>(env_, nullptr);
    if (missingAnswers && isInstance(thrown.get(), "java/io/FileNotFoundException")) return true;
    JnlFromException(dfs_, context_, thrown.get(), env_, names_.methodText);
    return false;
  }
  bool outOfMemory() {
    reportError(context_, QX_OUT_OF_MEMORY);
    return false;
  }
  bool isInstance(jobject object, const char *className) {
    jclass type = bridgeOf(dfs_).globalClassReference(dfs_->jvm, context_, className, env_);
    return type && env_->IsInstanceOf(object, type);
  }
  // One line naming the operation, both paths and what was left undone; false.
  template <size_t N>
  bool refuse(const QXChar (&format)[N], jobject first, jobject second) {
    LocalRef<jobject> one(env_, nullptr), two(env_, nullptr);
    if (!object(one, first, "java/lang/Object", "toString", "()Ljava/lang/String;") ||
        !object(two, second, "java/lang/Object", "toString", "()Ljava/lang/String;")) {
      return false;
    }
    JavaChars a(dfs_, env_, static_cast<jstring>(one.get()));
    JavaChars b(dfs_, env_, static_cast<jstring>(two.get()));
    if (!a || !b) return outOfMemory();
    printText(context_, QX_SEVERITY_ERROR, format, names_.operation, a.units(), b.units(),
              names_.done);
    return false;
  }

 private:
  bool failed() {
    call_.report(names_.methodText);
    return false;
  }

  DfsLinkState *dfs_;
  QXMessageContext *context_;
  JNIEnv *env_;
  const CopyNames &names_;
  JavaCall call_;
};

bool isLocal(Guard &guard, hdfsFS fs) {
  return guard.isInstance(fs, "org/apache/hadoop/fs/LocalFileSystem") ||
         guard.isInstance(fs, "org/apache/hadoop/fs/RawLocalFileSystem");
}

// The canonical service ("127.0.0.1:8020", "ha-hdfs:qxcluster") names a cluster however the
// connection spelled it; the local file system has none, and its canonical URI tells it.
bool sameFileSystem(Guard &guard, hdfsFS a, hdfsFS b, bool &same) {
  same = guard.env()->IsSameObject(a, b);
  if (same) return true;
  LocalRef<jobject> serviceA(guard.env(), nullptr), serviceB(guard.env(), nullptr);
  const char *serviceName = "getCanonicalServiceName";
  if (!guard.object(serviceA, a, kFileSystem, serviceName, "()Ljava/lang/String;") ||
      !guard.object(serviceB, b, kFileSystem, serviceName, "()Ljava/lang/String;")) {
    return false;
  }
  jobject first = serviceA.get(), second = serviceB.get();
  LocalRef<jobject> uriA(guard.env(), nullptr), uriB(guard.env(), nullptr);
  if (!first && !second) {
    if (!guard.object(uriA, a, kFileSystem, "getCanonicalUri", "()Ljava/net/URI;") ||
        !guard.object(uriB, b, kFileSystem, "getCanonicalUri", "()Ljava/net/URI;")) {
      return false;
    }
    first = uriA.get();
    second = uriB.get();
  }
  jboolean equal = JNI_FALSE;
  if (first && second &&
      !guard.value(equal, first, "java/lang/Object", "equals", "(Ljava/lang/Object;)Z", second)) {
    return false;
  }
  same = equal;
  return true;
}

// A path of the local file system as a file of its own.
bool localFile(Guard &guard, hdfsFS fs, jobject path, LocalRef<jobject> &file) {
  const char *type = guard.isInstance(fs, "org/apache/hadoop/fs/LocalFileSystem")
                         ? "org/apache/hadoop/fs/LocalFileSystem"
                         : "org/apache/hadoop/fs/RawLocalFileSystem";
  return guard.object(file, fs, type, "pathToFile", "(Lorg/apache/hadoop/fs/Path;)Ljava/io/File;",
                      path);
}

// The same as java.nio names it, for the device and inode behind it.
bool localPath(Guard &guard, hdfsFS fs, jobject path, LocalRef<jobject> &nioPath) {
  LocalRef<jobject> file(guard.env(), nullptr);
  return localFile(guard, fs, path, file) &&
         guard.object(nioPath, file.get(), kFile, "toPath", "()Ljava/nio/file/Path;");
}

bool sameLocalFile(Guard &guard, jobject a, jobject b, jboolean &same) {
  return guard.value(same, nullptr, "java/nio/file/Files", "isSameFile",
                     "(Ljava/nio/file/Path;Ljava/nio/file/Path;)Z", a, b);
}

// HDFS names a file by its id, whatever path reaches it; the local file system by its device and
// inode; any other by its qualified path.
bool sameFile(Guard &guard, hdfsFS fs, jobject a, jobject b, bool local, jboolean &same) {
  const char *hdfsStatus = "org/apache/hadoop/hdfs/protocol/HdfsFileStatus";
  if (guard.isInstance(a, hdfsStatus) && guard.isInstance(b, hdfsStatus)) {
    jlong idA = 0, idB = 0;
    if (!guard.value(idA, a, hdfsStatus, "getFileId", "()J") ||
        !guard.value(idB, b, hdfsStatus, "getFileId", "()J")) {
      return false;
    }
    same = idA == idB;
    return true;
  }
  LocalRef<jobject> pathA(guard.env(), nullptr), pathB(guard.env(), nullptr);
  const char *getPath = "()Lorg/apache/hadoop/fs/Path;";
  if (!guard.object(pathA, a, kFileStatus, "getPath", getPath) ||
      !guard.object(pathB, b, kFileStatus, "getPath", getPath)) {
    return false;
  }
  if (!local) {
    return guard.value(same, pathA.get(), "java/lang/Object", "equals", "(Ljava/lang/Object;)Z",
                       pathB.get());
  }
  LocalRef<jobject> fileA(guard.env(), nullptr), fileB(guard.env(), nullptr);
  return localPath(guard, fs, pathA.get(), fileA) && localPath(guard, fs, pathB.get(), fileB) &&
         sameLocalFile(guard, fileA.get(), fileB.get(), same);
}

// Whether a local path lies below a directory: each directory above it that exists is compared
// with the directory itself, so a link anywhere on the way is seen through.
bool insideLocally(Guard &guard, hdfsFS fs, jobject directory, jobject path, jboolean &inside) {
  LocalRef<jobject> top(guard.env(), nullptr), file(guard.env(), nullptr);
  if (!localPath(guard, fs, directory, top) || !localFile(guard, fs, path, file)) return false;
  inside = JNI_FALSE;
  for (int depth = 0; depth < kDeepestAncestor && file && !inside; depth++) {
    LocalRef<jobject> parent(guard.env(), nullptr), nio(guard.env(), nullptr);
    jboolean exists = JNI_FALSE;
    if (!guard.object(parent, file.get(), kFile, "getParentFile", "()Ljava/io/File;") ||
        (parent &&
         (!guard.value(exists, parent.get(), kFile, "exists", "()Z") ||
          (exists && (!guard.object(nio, parent.get(), kFile, "toPath", "()Ljava/nio/file/Path;") ||
                      !sameLocalFile(guard, nio.get(), top.get(), inside)))))) {
      return false;
    }
    file = std::move(parent);
  }
  return true;
}

// The path part of a qualified path.
bool pathText(Guard &guard, jobject path, LocalRef<jobject> &text) {
  LocalRef<jobject> uri(guard.env(), nullptr);
  return guard.object(uri, path, kPathClass, "toUri", "()Ljava/net/URI;") &&
         guard.object(text, uri.get(), "java/net/URI", "getPath", "()Ljava/lang/String;");
}

// Elsewhere one file system's paths have no links: below means below by name.
bool insideByName(DfsLinkState *dfs, Guard &guard, jobject directory, jobject path,
                  jboolean &inside) {
  LocalRef<jobject> aboveText(guard.env(), nullptr), belowText(guard.env(), nullptr);
  if (!pathText(guard, directory, aboveText) || !pathText(guard, path, belowText)) return false;
  JavaChars above(dfs, guard.env(), static_cast<jstring>(aboveText.get()));
  JavaChars below(dfs, guard.env(), static_cast<jstring>(belowText.get()));
  if (!above || !below) return guard.outOfMemory();
  std::u16string_view a(above.units(), above.length()), b(below.units(), below.length());
  if (!a.empty() && a.back() == u'/') a.remove_suffix(1);
  inside = b.size() > a.size() && b.substr(0, a.size()) == a && b[a.size()] == u'/';
  return true;
}

// Where a copy onto destination lands: inside it under the source's name when it is a
// directory (unless the source is the root, which has no name), as FileUtil.copy resolves it.
bool resolveLanding(Guard &guard, hdfsFS fs, jobject source, jobject destination,
                    LocalRef<jobject> &path, LocalRef<jobject> &status) {
  jboolean directory = JNI_FALSE;
  if (!guard.object(path, fs, kFileSystem, "makeQualified", kPathOfPath, destination) ||
      !guard.status(status, fs, path.get(), true) ||
      (status && !guard.value(directory, status.get(), kFileStatus, "isDirectory", "()Z"))) {
    return false;
  }
  if (!directory) return true;
  LocalRef<jobject> name(guard.env(), nullptr), inside(guard.env(), nullptr);
  if (!guard.object(name, source, kPathClass, "getName", "()Ljava/lang/String;")) return false;
  if (guard.env()->GetStringLength(static_cast<jstring>(name.get())) == 0) return true;
  if (!guard.make(inside, kPathClass, "(Lorg/apache/hadoop/fs/Path;Ljava/lang/String;)V",
                  path.get(), name.get())) {
    return false;
  }
  path = std::move(inside);
  return guard.status(status, fs, path.get(), true);
}

}  // namespace

bool planLanding(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, const CopyNames &names,
                 hdfsFS sourceFs, jobject source, hdfsFS destinationFs, jobject destination,
                 Landing &landing) {
  Guard guard(dfs, context, env, names);
  LocalRef<jobject> landingStatus(env, nullptr), qualified(env, nullptr);
  jboolean directory = JNI_FALSE;
  jboolean landingIsDirectory = JNI_FALSE;
  // The source as FileUtil.copy asks for it, so that a missing one is told as it always was.
  if (!guard.status(landing.sourceStatus, sourceFs, source, false) ||
      !guard.value(directory, landing.sourceStatus.get(), kFileStatus, "isDirectory", "()Z") ||
      !guard.object(qualified, sourceFs, kFileSystem, "makeQualified", kPathOfPath, source) ||
      !resolveLanding(guard, destinationFs, source, destination, landing.path, landingStatus) ||
      (landingStatus &&
       !guard.value(landingIsDirectory, landingStatus.get(), kFileStatus, "isDirectory", "()Z"))) {
    return false;
  }
  landing.sourceIsDirectory = directory;
  landing.existed = static_cast<bool>(landingStatus);
  if (!directory && landingIsDirectory) {
    return guard.refuse(u"%hs: %s cannot replace the directory %s; nothing was %hs.",
                        qualified.get(), landing.path.get());
  }
  bool one = false;
  if (!sameFileSystem(guard, sourceFs, destinationFs, one)) return false;
  if (!one) return true;
  bool local = isLocal(guard, destinationFs);
  jboolean identical = JNI_FALSE, inside = JNI_FALSE;
  if (landingStatus && !sameFile(guard, destinationFs, landing.sourceStatus.get(),
                                 landingStatus.get(), local, identical)) {
    return false;
  }
  if (directory && !identical &&
      !(local ? insideLocally(guard, destinationFs, qualified.get(), landing.path.get(), inside)
              : insideByName(dfs, guard, qualified.get(), landing.path.get(), inside))) {
    return false;
  }
  if (identical) {
    return guard.refuse(u"%hs: %s and %s are the same file; nothing was %hs.", qualified.get(),
                        landing.path.get());
  }
  if (inside) {
    return guard.refuse(u"%hs: %s would land inside itself, at %s; nothing was %hs.",
                        qualified.get(), landing.path.get());
  }
  return true;
}

bool localFileApart(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                    const CopyNames &names, jstring localName, hdfsFS fs, jobject destination) {
  Guard guard(dfs, context, env, names);
  if (!isLocal(guard, fs)) return true;
  LocalRef<jobject> target(env, nullptr), targetPath(env, nullptr), source(env, nullptr),
      sourcePath(env, nullptr);
  jboolean exists = JNI_FALSE, same = JNI_FALSE;
  if (!localFile(guard, fs, destination, target) ||
      !guard.value(exists, target.get(), kFile, "exists", "()Z")) {
    return false;
  }
  if (!exists) return true;
  // The local name as FileInputStream opened it: relative to the process's directory, any
  // character a local name may hold.
  if (!guard.object(targetPath, target.get(), kFile, "toPath", "()Ljava/nio/file/Path;") ||
      !guard.make(source, kFile, "(Ljava/lang/String;)V", localName) ||
      !guard.object(sourcePath, source.get(), kFile, "toPath", "()Ljava/nio/file/Path;") ||
      !sameLocalFile(guard, sourcePath.get(), targetPath.get(), same)) {
    return false;
  }
  return !same || guard.refuse(u"%hs: %s and %s are the same file; nothing was %hs.", localName,
                               target.get());
}

bool isLocalFileSystem(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, hdfsFS fs) {
  const CopyNames none{"", "", ""};
  Guard guard(dfs, context, env, none);
  return isLocal(guard, fs);
}

}  // namespace dfs
