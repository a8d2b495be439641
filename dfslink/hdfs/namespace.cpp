// Operations on names rather than streams: existence, delete, rename, the working directory,
// directories, replication, owner, mode and times, and the file system's capacity, usage and
// default block size. Each is a fixed sequence around one Hadoop call on the connection.
#include <cmath>

#include "dfslink/hdfs/operations.h"

namespace dfs {
namespace {

const char kPathDescriptor[] = "(Lorg/apache/hadoop/fs/Path;)Z";

// A call on the connection whose boolean answer is the result: 0 for true, -1 for false or a
// failure reported with its method text.
template <typename... Arguments>
int32_t answerOf(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, hdfsFS fs,
                 const char *method, const char *descriptor, const char *methodText,
                 Arguments... arguments) {
  JavaCall call(dfs, context, env);
  jboolean answer = JNI_FALSE;
  if (!call.onObject(&answer, fs, kFileSystem, method, descriptor, arguments...)) {
    call.report(methodText);
    return kFailed;
  }
  return answer ? 0 : kFailed;
}

// The same for a method without a result: 0, or -1 after the report.
template <typename... Arguments>
int32_t doneOf(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, hdfsFS fs,
               const char *method, const char *descriptor, const char *methodText,
               Arguments... arguments) {
  JavaCall call(dfs, context, env);
  if (!call.onObject(nullptr, fs, kFileSystem, method, descriptor, arguments...)) {
    call.report(methodText);
    return kFailed;
  }
  return 0;
}

// The common steps of the operations on one QXChar path: the environment, the connection, the
// path converted and made a Path. The failure value when a step fails.
class OnePath {
 public:
  OnePath(DfsLinkState *dfs, QXMessageContext *context, hdfsFS fs, const QXChar *path,
          const char *name)
      : env_(environmentFor(dfs, context, name)), path_(env_, nullptr) {
    if (!env_) {
      failure_ = static_cast<int32_t>(kNoEnvironment);
      return;
    }
    PathText text;
    if (!connected(context, fs, name) || !toPathText(dfs, context, path, text)) return;
    path_ = LocalRef<jobject>(env_, makePathObject(dfs, context, env_, text, name));
    pathBuilt_ = static_cast<bool>(path_);
    converted_ = true;
  }
  JNIEnv *env() const { return env_; }
  jobject path() const { return path_.get(); }
  explicit operator bool() const { return pathBuilt_; }
  int32_t failure() const { return failure_; }
  // The path was converted and only its Path object failed.
  bool pathNotBuilt() const { return converted_ && !pathBuilt_; }

 private:
  JNIEnv *env_;
  LocalRef<jobject> path_;
  bool converted_ = false;
  bool pathBuilt_ = false;
  int32_t failure_ = kFailed;
};

// A boolean method of the connection on one QXChar path: 0 for true, else -1.
int32_t answerOnPath(DfsLinkState *dfs, QXMessageContext *context, hdfsFS fs, const QXChar *path,
                     const char *name, const char *method, const char *methodText) {
  OnePath target(dfs, context, fs, path, name);
  if (!target) return target.failure();
  return answerOf(dfs, context, target.env(), fs, method, kPathDescriptor, methodText,
                  target.path());
}

// The common steps of the operations on a UTF-8 path: a Path object, or NULL after the
// reports (a missing path is refused before Java).
jobject utf8PathObject(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, hdfsFS fs,
                       const char *path, const char *name) {
  if (!connected(context, fs, name)) return nullptr;
  if (!path) {
    reportError(context, QX_MISSING_ARGUMENT);
    return nullptr;
  }
  return makePathObjectOfUtf8(dfs, context, env, path, name);
}

// Seconds since 1970 as Java's milliseconds, truncated toward zero; false when they are not a
// finite number that fits.
bool toMilliseconds(double seconds, jlong &milliseconds) {
  double scaled = seconds * 1000.0;
  if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2e18) return false;
  milliseconds = static_cast<jlong>(scaled);
  return true;
}

// getCapacity and getUsed of the file system's status; the result, or -1 after the reports.
int64_t distributedFigure(DfsLinkState *dfs, QXMessageContext *context, hdfsFS fs, const char *name,
                          const char *figure, const char *methodText) {
  JNIEnv *env = environmentFor(dfs, context, name);
  if (!env) return static_cast<int32_t>(kNoEnvironment);  // the code, sign-extended
  if (!connected(context, fs, name)) return kFailed;
  jclass distributed = bridgeOf(dfs).globalClassReference(dfs->jvm, context, kDistributed, env);
  if (!distributed || !env->IsInstanceOf(fs, distributed)) {
    reportError(context, kNotDistributed, name);
    return kFailed;
  }
  // The raw figures are those of the file system's status (Hadoop 3 has no getRawCapacity).
  JavaCall call(dfs, context, env);
  jobject status = nullptr;
  jlong value = 0;
  if (!call.onObject(&status, fs, kDistributed, "getStatus", "()Lorg/apache/hadoop/fs/FsStatus;")) {
    call.report(methodText);
    return kFailed;
  }
  LocalRef<jobject> statusRef(env, status);
  if (!call.onObject(&value, status, "org/apache/hadoop/fs/FsStatus", figure, "()J")) {
    call.report(methodText);
    return kFailed;
  }
  return value;
}

}  // namespace

int32_t hdfsExists(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS fs,
                   const QXChar *path) {
  const char *name = "hdfsExists";
  OnePath target(dfs, context, fs, path, name);
  if (!target) {
    if (target.pathNotBuilt()) setStatus(status, kPathUnusable);
    return target.failure();
  }
  JavaCall call(dfs, context, target.env());
  jboolean exists = JNI_FALSE;
  if (!call.onObject(&exists, fs, kFileSystem, "exists", kPathDescriptor, target.path())) {
    setStatus(status, kExistsFailed);
    reportError(context, kExistsFailed, name);
    call.report("org.apache.hadoop.fs.FileSystem::exists");
    return kFailed;
  }
  return exists ? 0 : kFailed;
}

int32_t hdfsDelete(DfsLinkState *dfs, QXMessageContext *context, int32_t *, hdfsFS fs,
                   const QXChar *path) {
  return answerOnPath(dfs, context, fs, path, "hdfsDelete", "delete",
                      "org.apache.hadoop.fs.FileSystem::delete");
}

int32_t hdfsCreateDirectory(DfsLinkState *dfs, QXMessageContext *context, int32_t *, hdfsFS fs,
                            const QXChar *path) {
  return answerOnPath(dfs, context, fs, path, "hdfsCreateDirectory", "mkdirs",
                      "org.apache.hadoop.fs.FileSystem::mkdirs");
}

int32_t hdfsSetWorkingDirectory(DfsLinkState *dfs, QXMessageContext *context, int32_t *, hdfsFS fs,
                                const QXChar *path) {
  OnePath target(dfs, context, fs, path, "hdfsSetWorkingDirectory");
  if (!target) return target.failure();
  return doneOf(dfs, context, target.env(), fs, "setWorkingDirectory",
                "(Lorg/apache/hadoop/fs/Path;)V", "FileSystem::setWorkingDirectory", target.path());
}

int32_t hdfsRename(DfsLinkState *dfs, QXMessageContext *context, int32_t *, hdfsFS fs,
                   const QXChar *oldPath, const QXChar *newPath) {
  const char *name = "hdfsRename";
  JNIEnv *env = environmentFor(dfs, context, name);
  if (!env) return static_cast<int32_t>(kNoEnvironment);
  PathText oldText, newText;
  if (!connected(context, fs, name) || !toPathText(dfs, context, oldPath, oldText) ||
      !toPathText(dfs, context, newPath, newText)) {
    return kFailed;
  }
  LocalRef<jobject> from(env, makePathObject(dfs, context, env, oldText, name));
  if (!from) return kFailed;
  LocalRef<jobject> to(env, makePathObject(dfs, context, env, newText, name));
  if (!to) return kFailed;
  return answerOf(dfs, context, env, fs, "rename",
                  "(Lorg/apache/hadoop/fs/Path;Lorg/apache/hadoop/fs/Path;)Z",
                  "org.apache.hadoop.fs.FileSystem::rename", from.get(), to.get());
}

QXChar *hdfsGetWorkingDirectory(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                                hdfsFS fs, QXChar *buffer, int32_t bufferSize) {
  const char *name = "hdfsGetWorkingDirectory";
  JNIEnv *env = environmentFor(dfs, context, name);
  if (!env) {
    setStatus(status, kNoEnvironment);
    return nullptr;
  }
  if (!connected(context, fs, name) || !given(context, {buffer})) return nullptr;
  JavaCall call(dfs, context, env);
  jobject directory = nullptr;
  if (!call.onObject(&directory, fs, kFileSystem, "getWorkingDirectory",
                     "()Lorg/apache/hadoop/fs/Path;") ||
      !directory) {
    call.report("FileSystem::getWorkingDirectory");
    return nullptr;
  }
  LocalRef<jobject> directoryRef(env, directory);
  jobject text = nullptr;
  if (!call.onObject(&text, directory, kPathClass, "toString", "()Ljava/lang/String;") || !text) {
    call.report("Path::toString");
    return nullptr;
  }
  LocalRef<jstring> textRef(env, static_cast<jstring>(text));
  jsize units = env->GetStringLength(textRef.get());
  // Nothing is written past the buffer, and a text that does not fit is not cut: null, with
  // nothing reported.
  if (bufferSize < 0 ||
      static_cast<size_t>(units) + 1 > static_cast<size_t>(bufferSize) / sizeof(QXChar)) {
    return nullptr;
  }
  env->GetStringRegion(textRef.get(), 0, units, reinterpret_cast<jchar *>(buffer));
  buffer[units] = 0;
  return buffer;
}

int32_t hdfsSetReplication(DfsLinkState *dfs, QXMessageContext *context, int32_t *, hdfsFS fs,
                           const char *path, int16_t replication) {
  const char *name = "hdfsSetReplication";
  JNIEnv *env = environmentFor(dfs, context, name);
  if (!env) return static_cast<int32_t>(kNoEnvironment);
  LocalRef<jobject> target(env, utf8PathObject(dfs, context, env, fs, path, name));
  if (!target) return kFailed;
  return answerOf(dfs, context, env, fs, "setReplication", "(Lorg/apache/hadoop/fs/Path;S)Z",
                  "org.apache.hadoop.fs.FileSystem::setReplication", target.get(),
                  static_cast<jint>(replication));
}

int32_t hdfsChown(DfsLinkState *dfs, QXMessageContext *context, int32_t *, hdfsFS fs,
                  const char *path, const char *owner, const char *group) {
  const char *name = "hdfsChown";
  JNIEnv *env = environmentFor(dfs, context, name);
  if (!env) return static_cast<int32_t>(kNoEnvironment);
  if (!owner && !group) {
    reportError(context, kNoOwnerOrGroup, name);
    return kFailed;
  }
  LocalRef<jobject> target(env, utf8PathObject(dfs, context, env, fs, path, name));
  LocalRef<jstring> ownerName(env, nullptr), groupName(env, nullptr);
  if (!target || !newJavaStringOfUtf8(dfs, context, env, owner, name, ownerName) ||
      !newJavaStringOfUtf8(dfs, context, env, group, name, groupName)) {
    return kFailed;
  }
  return doneOf(dfs, context, env, fs, "setOwner",
                "(Lorg/apache/hadoop/fs/Path;Ljava/lang/String;Ljava/lang/String;)V",
                "org.apache.hadoop.fs.FileSystem::setOwner", target.get(), ownerName.get(),
                groupName.get());
}

int32_t hdfsChmod(DfsLinkState *dfs, QXMessageContext *context, int32_t *, hdfsFS fs,
                  const char *path, int16_t mode) {
  const char *name = "hdfsChmod";
  JNIEnv *env = environmentFor(dfs, context, name);
  if (!env) return static_cast<int32_t>(kNoEnvironment);
  if (!connected(context, fs, name)) return kFailed;
  LocalRef<jobject> permission(
      env, bridgeOf(dfs).constructNewObjectOfClass(dfs->jvm, context, env,
                                                   "org/apache/hadoop/fs/permission/FsPermission",
                                                   "(S)V", static_cast<jint>(mode)));
  if (!permission) {
    if (env->ExceptionCheck()) env->ExceptionDescribe();  // the constructor's, reported by it
    return -2;
  }
  LocalRef<jobject> target(env, utf8PathObject(dfs, context, env, fs, path, name));
  if (!target) return -3;
  return doneOf(dfs, context, env, fs, "setPermission",
                "(Lorg/apache/hadoop/fs/Path;Lorg/apache/hadoop/fs/permission/FsPermission;)V",
                "org.apache.hadoop.fs.FileSystem::setPermission", target.get(), permission.get());
}

int32_t hdfsUtime(DfsLinkState *dfs, QXMessageContext *context, int32_t *, hdfsFS fs,
                  const char *path, double modificationTime, double accessTime) {
  const char *name = "hdfsUtime";
  JNIEnv *env = environmentFor(dfs, context, name);
  if (!env) return static_cast<int32_t>(kNoEnvironment);
  if (!connected(context, fs, name)) return kFailed;
  jlong modified = 0, accessed = 0;
  if (!toMilliseconds(modificationTime, modified) || !toMilliseconds(accessTime, accessed)) {
    printText(context, QX_SEVERITY_ERROR,
              u"hdfsUtime: a time is not a number of seconds that milliseconds can hold.");
    return kFailed;
  }
  LocalRef<jobject> target(env, utf8PathObject(dfs, context, env, fs, path, name));
  if (!target) return -2;
  JavaCall call(dfs, context, env);
  if (!call.onObject(nullptr, fs, kFileSystem, "setTimes", "(Lorg/apache/hadoop/fs/Path;JJ)V",
                     target.get(), modified, accessed)) {
    printText(context, QX_SEVERITY_ERROR, u"Call to setTime failed");
    call.report("org.apache.hadoop.fs.FileSystem::setTimes");
    return kFailed;
  }
  return 0;
}

int64_t hdfsGetCapacity(DfsLinkState *dfs, QXMessageContext *context, int32_t *, hdfsFS fs) {
  return distributedFigure(dfs, context, fs, "hdfsGetCapacity", "getCapacity",
                           "org.apache.hadoop.fs.FileSystem::getRawCapacity");
}

int64_t hdfsGetUsed(DfsLinkState *dfs, QXMessageContext *context, int32_t *, hdfsFS fs) {
  return distributedFigure(dfs, context, fs, "hdfsGetUsed", "getUsed",
                           "org.apache.hadoop.fs.FileSystem::getRawUsed");
}

int64_t hdfsGetDefaultBlockSize(DfsLinkState *dfs, QXMessageContext *context, int32_t *,
                                hdfsFS fs) {
  const char *name = "hdfsGetDefaultBlockSize";
  JNIEnv *env = environmentFor(dfs, context, name);
  if (!env) return static_cast<int32_t>(kNoEnvironment);
  if (!connected(context, fs, name)) return kFailed;
  JavaCall call(dfs, context, env);
  jlong size = 0;
  if (!call.onObject(&size, fs, kFileSystem, "getDefaultBlockSize", "()J")) {
    call.report("org.apache.hadoop.fs.FileSystem::getDefaultBlockSize");
    return kFailed;
  }
  return size;
}

}  // namespace dfs
