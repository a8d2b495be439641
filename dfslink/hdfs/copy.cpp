// Whole files: hdfsCopy and hdfsMove hand the work to Hadoop's FileUtil.copy between two
// connections (or within one); hdfsCopyFromLocal uploads a local file through one Java array
// reused for every pass, into a stream opened and closed as hdfsOpenFile and hdfsCloseFile do.
#include <string_view>

#include "dfslink/hdfs/operations.h"

namespace dfs {
namespace {

const char kCopyDescriptor[] =
    "(Lorg/apache/hadoop/fs/FileSystem;Lorg/apache/hadoop/fs/Path;Lorg/apache/hadoop/fs/"
    "FileSystem;Lorg/apache/hadoop/fs/Path;ZLorg/apache/hadoop/conf/Configuration;)Z";
const char kUpload[] = "hdfsCopyFromLocal";

// A fresh Configuration, or NULL after its report (nothing left pending).
jobject newConfiguration(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env) {
  jobject configuration =
      bridgeOf(dfs).constructNewObjectOfClass(dfs->jvm, context, env, kConfiguration, "()V");
  if (!configuration) {
    if (env->ExceptionCheck()) env->ExceptionDescribe();
    printText(context, QX_SEVERITY_ERROR, u"%hs %hs", "Can't construct instance of class",
              "org.apache.hadoop.conf.Configuration");
  }
  return configuration;
}

// The paths of a copy or a move as Path objects.
struct CopyPaths {
  LocalRef<jobject> source;
  LocalRef<jobject> destination;
};

// A path as its file system qualifies it (scheme, authority, absolute), in text; empty after
// the report when Java failed.
class QualifiedPath {
 public:
  QualifiedPath(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env)
      : dfs_(dfs),
        context_(context),
        env_(env),
        call_(dfs, context, env),
        path_(env, nullptr),
        text_(dfs, env, nullptr) {}

  bool qualify(hdfsFS fs, jobject path) {
    jobject qualified = nullptr;
    if (!call_.onObject(&qualified, fs, kFileSystem, "makeQualified",
                        "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/Path;", path)) {
      return failed("org.apache.hadoop.fs.FileSystem::makeQualified");
    }
    return take(qualified);
  }
  // Where FileUtil.copy puts the source when this path is an existing directory: inside it,
  // under the source's name.
  bool resolveInto(hdfsFS fs, const QualifiedPath &source) {
    jboolean exists = JNI_FALSE;
    if (!call_.onObject(&exists, fs, kFileSystem, "exists", "(Lorg/apache/hadoop/fs/Path;)Z",
                        path_.get())) {
      return failed("org.apache.hadoop.fs.FileSystem::exists");
    }
    if (!exists) return true;
    jobject status = nullptr;
    if (!call_.onObject(&status, fs, kFileSystem, "getFileStatus",
                        "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/FileStatus;",
                        path_.get())) {
      return failed("org.apache.hadoop.fs.FileSystem::getFileStatus");
    }
    LocalRef<jobject> statusRef(env_, status);
    jboolean directory = JNI_FALSE;
    jobject name = nullptr;
    if (!call_.onObject(&directory, status, "org/apache/hadoop/fs/FileStatus", "isDirectory",
                        "()Z") ||
        (directory && !call_.onObject(&name, source.path_.get(), kPathClass, "getName",
                                      "()Ljava/lang/String;"))) {
      return failed("org.apache.hadoop.fs.FileStatus::isDirectory");
    }
    LocalRef<jobject> nameRef(env_, name);
    if (!directory || env_->GetStringLength(static_cast<jstring>(name)) == 0) return true;
    jobject inside = bridgeOf(dfs_).constructNewObjectOfClass(
        dfs_->jvm, context_, env_, kPathClass, "(Lorg/apache/hadoop/fs/Path;Ljava/lang/String;)V",
        path_.get(), name);
    if (!inside) return failed("org.apache.hadoop.fs.Path::<init>");
    return take(inside);
  }

  const JavaChars &text() const { return text_; }
  std::u16string_view view() const { return {text_.units(), text_.length()}; }

 private:
  bool take(jobject path) {
    path_ = LocalRef<jobject>(env_, path);
    jobject text = nullptr;
    if (!call_.onObject(&text, path, kPathClass, "toString", "()Ljava/lang/String;")) {
      return failed("org.apache.hadoop.fs.Path::toString");
    }
    LocalRef<jstring> textRef(env_, static_cast<jstring>(text));
    text_ = JavaChars(dfs_, env_, textRef.get());
    if (text_) return true;
    reportError(context_, QX_OUT_OF_MEMORY);
    return false;
  }
  bool failed(const char *methodText) {
    call_.report(methodText);
    return false;
  }

  DfsLinkState *dfs_;
  QXMessageContext *context_;
  JNIEnv *env_;
  JavaCall call_;
  LocalRef<jobject> path_;
  JavaChars text_;
};

// Refuses a copy or move whose destination, resolved as FileUtil.copy resolves it, is its source
// or lies inside it: FileUtil.copy would empty the file (and the move then delete it) or copy a
// directory into itself without end. Hadoop's own guard compares the two FileSystem objects,
// which are never the same between two connections. True when the copy may go ahead; false
// after the report.
bool apart(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, const char *name,
           const char *done, hdfsFS source, hdfsFS destination, const CopyPaths &paths,
           bool intoDirectory = true) {
  QualifiedPath from(dfs, context, env), to(dfs, context, env);
  if (!from.qualify(source, paths.source.get()) ||
      !to.qualify(destination, paths.destination.get()) ||
      (intoDirectory && !to.resolveInto(destination, from))) {
    return false;
  }
  std::u16string_view a = from.view(), b = to.view();
  bool same = a == b;
  bool inside = b.size() > a.size() && b.substr(0, a.size()) == a &&
                (a.back() == u'/' || b[a.size()] == u'/');
  if (!same && !inside) return true;
  if (same) {
    printText(context, QX_SEVERITY_ERROR, u"%hs: %s and %s are the same file; nothing was %hs.",
              name, from.text().units(), to.text().units(), done);
  } else {
    printText(context, QX_SEVERITY_ERROR,
              u"%hs: %s would land inside itself, at %s; nothing was %hs.", name,
              from.text().units(), to.text().units(), done);
  }
  return false;
}

// FileUtil.copy of two Paths; the operation's result.
int32_t copyPaths(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, JNIEnv *env,
                  hdfsFS source, hdfsFS destination, const CopyPaths &paths, bool move,
                  const char *name, const char *sourceText, const char *destinationText) {
  if (!apart(dfs, context, env, name, move ? "moved" : "copied", source, destination, paths)) {
    return kFailed;
  }
  LocalRef<jobject> configuration(env, newConfiguration(dfs, context, env));
  if (!configuration) {
    setStatus(status, QX_OPERATION_FAILED);
    return kFailed;
  }
  JavaCall call(dfs, context, env);
  jboolean copied = JNI_FALSE;
  if (!call.onClass(&copied, "org/apache/hadoop/fs/FileUtil", "copy", kCopyDescriptor, source,
                    paths.source.get(), destination, paths.destination.get(),
                    move ? JNI_TRUE : JNI_FALSE, configuration.get())) {
    call.report(move ? "org.apache.hadoop.fs.FileUtil::copy(move)"
                     : "org.apache.hadoop.fs.FileUtil::copy");
    return kFailed;
  }
  // Hadoop answers false when it could not complete the work (a source it could not delete, a
  // destination directory it could not make): that is a failure too.
  if (!copied) {
    printText(context, QX_SEVERITY_ERROR, u"%hs: Hadoop did not complete the copy of %hs to %hs.",
              name, sourceText, destinationText);
    return kFailed;
  }
  return 0;
}

bool bothConnected(QXMessageContext *context, hdfsFS source, hdfsFS destination, const char *name) {
  return connected(context, source, name) && connected(context, destination, name);
}

// The local file's stream and what the copy loop reads it with.
struct LocalSource {
  explicit LocalSource(JNIEnv *env)
      : type(env, nullptr), name(env, nullptr), stream(env, nullptr) {}
  LocalRef<jclass> type;
  LocalRef<jstring> name;
  LocalRef<jobject> stream;
};

// Opens the local file; 0, or the failure's status after its reports.
uint32_t openLocalFile(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                       const PathText &path, LocalSource &source) {
  source.type = LocalRef<jclass>(env, env->FindClass("java/io/FileInputStream"));
  if (!source.type) {
    reportError(context, kClassMissing, kUpload, u"java/io/FileInputStream");
    JnlFromException(dfs, context, nullptr, env, "FindClass");
    return kClassMissing;
  }
  source.name = LocalRef<jstring>(env, newJavaString(env, path.units, path.unitCount));
  if (!source.name) {
    reportError(context, kStringNotMade, kUpload);
    JnlFromException(dfs, context, nullptr, env, "NewStringUTF");
    return kStringNotMade;
  }
  source.stream = LocalRef<jobject>(env, bridgeOf(dfs).constructNewObjectOfClass(
                                             dfs->jvm, context, env, "java/io/FileInputStream",
                                             "(Ljava/lang/String;)V", source.name.get()));
  if (!source.stream) {
    JnlFromException(dfs, context, nullptr, env, "java.io.FileInputStream.::<init>");
    return QX_OPERATION_FAILED;
  }
  return 0;
}

// The size of the copy buffer: the argument, or the fresh configuration's; 0 after the reports.
jint copyBufferSize(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                    jobject configuration, int32_t bufferSize, uint32_t &failure) {
  if (bufferSize != 0) return bufferSize;
  LocalRef<jstring> key(env, env->NewStringUTF(dfs->keyBufferSize));  // ASCII
  if (!key) {
    reportError(context, kStringNotMade, kUpload);
    JnlFromException(dfs, context, nullptr, env, "NewStringUTF");
    failure = kStringNotMade;
    return 0;
  }
  JavaCall call(dfs, context, env);
  jint size = 0;
  if (!call.onObject(&size, configuration, kConfiguration, "getInt", "(Ljava/lang/String;I)I",
                     key.get(), 131072)) {
    call.report("org.apache.hadoop.conf.Configuration::getInt");
    failure = QX_OPERATION_FAILED;
  }
  return size;
}

// The copy loop: the local file's bytes through one reused array into the handle; 0 or the
// failing step's status after its reports.
uint32_t copyStream(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                    const LocalSource &source, jmethodID read, jbyteArray buffer,
                    FileHandle *handle) {
  for (;;) {
    jint n = env->CallIntMethod(source.stream.get(), read, buffer);
    if (jthrowable thrown = env->ExceptionOccurred()) {
      LocalRef<jthrowable> thrownRef(env, thrown);
      JnlFromException(dfs, context, thrown, env, "java.io.FileInputStream::read");
      return QX_OPERATION_FAILED;
    }
    if (n == -1) return 0;  // only the end of the file ends the input
    if (n <= 0) continue;
    int32_t status = 0;
    if (hdfsWrite_jb(dfs, context, &status, nullptr, handle, buffer, 0, n) != n) {
      JnlFromException(dfs, context, nullptr, env, "org.apache.hadoop.fs.FileSystem::write");
      return static_cast<uint32_t>(status);
    }
  }
}

// A path of the upload measured as every path is; false after its reports.
bool convertedPath(DfsLinkState *dfs, QXMessageContext *context, const QXChar *path,
                   PathText &text) {
  if (toPathText(dfs, context, path, text)) return true;
  reportError(context, kNotConverted, kUpload, u"QXChar->utf8");
  reportError(context, QX_OPERATION_FAILED);
  return false;
}

// Refuses an upload onto the local file it reads: opening the destination would empty it first.
bool apartFromLocal(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                    const PathText &local, hdfsFS fs, jobject destination, jobject configuration) {
  JavaCall call(dfs, context, env);
  jobject localFs = nullptr;
  if (!call.onClass(
          &localFs, kFileSystem, "getLocal",
          "(Lorg/apache/hadoop/conf/Configuration;)Lorg/apache/hadoop/fs/LocalFileSystem;",
          configuration)) {
    call.report("org.apache.hadoop.fs.FileSystem::getLocal");
    return false;
  }
  LocalRef<jobject> localRef(env, localFs);  // the shared instance: never closed here
  CopyPaths paths{LocalRef<jobject>(env, makePathObject(dfs, context, env, local, kUpload)),
                  LocalRef<jobject>(env, env->NewLocalRef(destination))};
  return paths.source && paths.destination &&
         apart(dfs, context, env, kUpload, "uploaded", localFs, fs, paths, false);
}

// The upload after its environment: 0, or the status of the failure exit.
uint32_t upload(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, const QXChar *localPath,
                hdfsFS fs, const QXChar *destinationPath, int32_t bufferSize, int16_t replication,
                int32_t blockSize) {
  PathText local, destination;
  if (!convertedPath(dfs, context, localPath, local)) return QX_OPERATION_FAILED;
  LocalSource source(env);
  if (uint32_t failure = openLocalFile(dfs, context, env, local, source)) return failure;
  if (!convertedPath(dfs, context, destinationPath, destination)) return QX_OPERATION_FAILED;
  LocalRef<jobject> checked(env, makePathObject(dfs, context, env, destination, kUpload));
  if (!checked) return QX_OPERATION_FAILED;
  LocalRef<jobject> configuration(env, newConfiguration(dfs, context, env));
  if (!configuration) return QX_OPERATION_FAILED;
  if (!apartFromLocal(dfs, context, env, local, fs, checked.get(), configuration.get())) {
    return QX_OPERATION_FAILED;
  }
  uint32_t failure = 0;
  jint size = copyBufferSize(dfs, context, env, configuration.get(), bufferSize, failure);
  if (failure) return failure;
  LocalRef<jbyteArray> buffer(env, size > 0 ? env->NewByteArray(size) : nullptr);
  if (!buffer) {
    reportError(context, kByteArrayNotMade, kUpload);
    JnlFromException(dfs, context, nullptr, env, "NewObjectArray");
    return kByteArrayNotMade;
  }
  int32_t openStatus = 0;
  FileHandle *handle = hdfsOpenFile(dfs, context, &openStatus, fs, destinationPath, HDFS_OPEN_WRITE,
                                    bufferSize, replication, blockSize);
  if (!handle) {
    reportError(context, kDestinationNotOpened, kUpload, destinationPath);
    JnlFromException(dfs, context, nullptr, env, "org.apache.hadoop.fs.FileSystem::Open");
    return kDestinationNotOpened;
  }
  jmethodID read = env->GetMethodID(source.type.get(), "read", "([B)I");
  if (!read) {
    env->ExceptionDescribe();
    reportError(context, kNoReadMethod, kUpload);
    failure = kNoReadMethod;
  } else {
    failure = copyStream(dfs, context, env, source, read, buffer.get(), handle);
  }
  // The local file is closed whatever happened; a destination whose close fails was not
  // completed (HDFS commits a file in close), so the upload fails.
  JavaCall call(dfs, context, env);
  call.onObject(nullptr, source.stream.get(), "java/io/InputStream", "close", "()V");
  int32_t status = 0;
  if (hdfsCloseFile(dfs, context, &status, fs, handle) != 0 && !failure) {
    failure = QX_OPERATION_FAILED;
  }
  return failure;
}

}  // namespace

int32_t hdfsCopy(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS source,
                 const QXChar *sourcePath, hdfsFS destination, const QXChar *destinationPath) {
  const char *name = "hdfsCopy";
  JNIEnv *env = environmentFor(dfs, context, name);
  if (!env) return static_cast<int32_t>(kNoEnvironment);
  PathText from, to;
  if (!bothConnected(context, source, destination, name) ||
      !toPathText(dfs, context, sourcePath, from) ||
      !toPathText(dfs, context, destinationPath, to)) {
    return kFailed;
  }
  CopyPaths paths{LocalRef<jobject>(env, makePathObject(dfs, context, env, from, name)),
                  LocalRef<jobject>(env, nullptr)};
  if (!paths.source) return kFailed;
  paths.destination = LocalRef<jobject>(env, makePathObject(dfs, context, env, to, name));
  if (!paths.destination) return kFailed;
  return copyPaths(dfs, context, status, env, source, destination, paths, false, name, from.utf8,
                   to.utf8);
}

int32_t hdfsMove(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS source,
                 const char *sourcePath, hdfsFS destination, const char *destinationPath) {
  const char *name = "hdfsMove";
  JNIEnv *env = environmentFor(dfs, context, name);
  if (!env) return static_cast<int32_t>(kNoEnvironment);
  if (!bothConnected(context, source, destination, name)) return kFailed;
  if (!sourcePath || !destinationPath) {
    reportError(context, QX_MISSING_ARGUMENT);
    return kFailed;
  }
  CopyPaths paths{LocalRef<jobject>(env, makePathObjectOfUtf8(dfs, context, env, sourcePath, name)),
                  LocalRef<jobject>(env, nullptr)};
  if (!paths.source) return kFailed;
  paths.destination =
      LocalRef<jobject>(env, makePathObjectOfUtf8(dfs, context, env, destinationPath, name));
  if (!paths.destination) return kFailed;
  return copyPaths(dfs, context, status, env, source, destination, paths, true, name, sourcePath,
                   destinationPath);
}

int32_t hdfsCopyFromLocal(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                          const QXChar *localPath, hdfsFS fs, const QXChar *destinationPath,
                          int32_t bufferSize, int16_t replication, int32_t blockSize) {
  JNIEnv *env = environmentFor(dfs, context, kUpload);
  if (!env) return static_cast<int32_t>(kNoEnvironment);
  uint32_t failure = connected(context, fs, kUpload)
                         ? upload(dfs, context, env, localPath, fs, destinationPath, bufferSize,
                                  replication, blockSize)
                         : QX_MISSING_ARGUMENT;
  if (!failure) return 0;
  reportError(context, kOperationFailedIn, kUpload);
  setStatus(status, failure);
  return kFailed;
}

}  // namespace dfs
