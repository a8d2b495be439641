// Whole files: hdfsCopy and hdfsMove hand the work to Hadoop's FileUtil.copy between two
// connections (or within one); hdfsCopyFromLocal uploads a local file through one Java array
// reused for every pass, into a stream opened and closed as hdfsOpenFile and hdfsCloseFile do.
#include <string_view>

#include "dfslink/hdfs/copy_guard.h"
#include "dfslink/hdfs/handles.h"
#include "dfslink/hdfs/operations.h"

namespace dfs {
namespace {

// FileUtil.copy of a source's status: the guard has asked for it already.
const char kCopyDescriptor[] =
    "(Lorg/apache/hadoop/fs/FileSystem;Lorg/apache/hadoop/fs/FileStatus;Lorg/apache/hadoop/fs/"
    "FileSystem;Lorg/apache/hadoop/fs/Path;ZZLorg/apache/hadoop/conf/Configuration;)Z";
const char kUpload[] = "hdfsCopyFromLocal";

// The Configuration a connection's file system was made with, or NULL after its report (nothing
// left pending). A fresh one per call would read Hadoop's XML defaults again each time, which a
// copy of many small files pays for every file.
jobject configurationOf(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, hdfsFS fs) {
  jobject configuration = nullptr;
  JavaCall call(dfs, context, env);
  if (!call.onObject(&configuration, fs, kFileSystem, "getConf",
                     "()Lorg/apache/hadoop/conf/Configuration;") ||
      !configuration) {
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

const CopyNames kCopyNames = {"hdfsCopy", "copied", "org.apache.hadoop.fs.FileUtil::copy"};
const CopyNames kMoveNames = {"hdfsMove", "moved", "org.apache.hadoop.fs.FileUtil::copy(move)"};
const CopyNames kUploadNames = {kUpload, "uploaded", kUpload};

// What one copy or move works with.
struct Copy {
  DfsLinkState *dfs;
  QXMessageContext *context;
  JNIEnv *env;
  const CopyNames &names;
  hdfsFS source, destination;
  jobject configuration;
  const char *sourceText, *destinationText;  // as the caller gave them
};

// Hadoop answers false when it could not complete the work (a source it could not delete, a
// destination directory it could not make): that is a failure too.
bool notCompleted(const Copy &copy) {
  printText(copy.context, QX_SEVERITY_ERROR,
            u"%hs: Hadoop did not complete the copy of %hs to %hs.", copy.names.operation,
            copy.sourceText, copy.destinationText);
  return false;
}

// FileUtil.copy of the source (by its status) onto a path; false after the report.
bool copyInJava(const Copy &copy, jobject sourceStatus, jobject to, bool deleteSource,
                bool overwrite) {
  JavaCall call(copy.dfs, copy.context, copy.env);
  jboolean copied = JNI_FALSE;
  if (!call.onClass(&copied, "org/apache/hadoop/fs/FileUtil", "copy", kCopyDescriptor, copy.source,
                    sourceStatus, copy.destination, to, deleteSource ? JNI_TRUE : JNI_FALSE,
                    overwrite ? JNI_TRUE : JNI_FALSE, copy.configuration)) {
    call.report(copy.names.methodText);
    return false;
  }
  return copied || notCompleted(copy);
}

// A file is copied beside where it lands and renamed over that after its last byte; a move then
// deletes its source. A failure leaves what was there as it was.
int32_t copyFile(const Copy &copy, const Landing &landing, jobject source, bool move) {
  LocalRef<jobject> temporary(copy.env, besidePath(copy.dfs, copy.context, copy.env,
                                                   landing.path.get(), copy.names.methodText));
  if (!temporary) return kFailed;
  if (!copyInJava(copy, landing.sourceStatus.get(), temporary.get(), false, false) ||
      !replaceWith(copy.dfs, copy.context, copy.env, copy.names, copy.destination, temporary.get(),
                   landing.path.get())) {
    discard(copy.dfs, copy.context, copy.env, copy.destination, temporary.get());
    return kFailed;
  }
  if (!move) return 0;
  JavaCall call(copy.dfs, copy.context, copy.env);
  jboolean deleted = JNI_FALSE;
  if (!call.onObject(&deleted, copy.source, kFileSystem, "delete",
                     "(Lorg/apache/hadoop/fs/Path;Z)Z", source, JNI_TRUE)) {
    call.report(copy.names.methodText);
    return kFailed;
  }
  return deleted || notCompleted(copy) ? 0 : kFailed;
}

// A directory is copied by FileUtil.copy as it is, merging into one that is there; when there
// was none, a failed copy removes what it made, unless it moved files there (a move deletes
// each source file as it goes).
int32_t copyDirectory(const Copy &copy, const Landing &landing, const CopyPaths &paths, bool move) {
  if (copyInJava(copy, landing.sourceStatus.get(), paths.destination.get(), move, true)) return 0;
  if (!move && !landing.existed) {
    discard(copy.dfs, copy.context, copy.env, copy.destination, landing.path.get(), true);
  }
  return kFailed;
}

// A copy or a move of two Paths; the operation's result.
int32_t copyPaths(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, JNIEnv *env,
                  hdfsFS source, hdfsFS destination, const CopyPaths &paths, bool move,
                  const char *sourceText, const char *destinationText) {
  const CopyNames &names = move ? kMoveNames : kCopyNames;
  Landing landing(env);
  if (!planLanding(dfs, context, env, names, source, paths.source.get(), destination,
                   paths.destination.get(), landing)) {
    return kFailed;
  }
  LocalRef<jobject> configuration(env, configurationOf(dfs, context, env, source));
  if (!configuration) {
    setStatus(status, QX_OPERATION_FAILED);
    return kFailed;
  }
  Copy copy{dfs,        context,        env, names, source, destination, configuration.get(),
            sourceText, destinationText};
  return landing.sourceIsDirectory ? copyDirectory(copy, landing, paths, move)
                                   : copyFile(copy, landing, paths.source.get(), move);
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

// The upload's destination stream: a new file beside the destination, renamed over it once the
// upload is complete.
struct Beside {
  explicit Beside(JNIEnv *env) : target(env, nullptr), temporary(env, nullptr) {}
  LocalRef<jobject> target;  // qualified
  LocalRef<jobject> temporary;
  FileHandle *handle = nullptr;
};

bool openBeside(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, hdfsFS fs,
                jobject destination, int32_t bufferSize, int16_t replication, int32_t blockSize,
                Beside &beside) {
  JavaCall call(dfs, context, env);
  jobject qualified = nullptr;
  if (!call.onObject(&qualified, fs, kFileSystem, "makeQualified",
                     "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/Path;", destination)) {
    call.report("org.apache.hadoop.fs.FileSystem::makeQualified");
    return false;
  }
  beside.target = LocalRef<jobject>(env, qualified);
  beside.temporary = LocalRef<jobject>(env, besidePath(dfs, context, env, qualified, kUpload));
  int32_t status = 0;
  beside.handle = beside.temporary
                      ? createNewFile(dfs, context, &status, env, fs, beside.temporary.get(),
                                      bufferSize, replication, blockSize)
                      : nullptr;
  return beside.handle != nullptr;
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
  LocalRef<jobject> configuration(env, configurationOf(dfs, context, env, fs));
  if (!configuration) return QX_OPERATION_FAILED;
  if (!localFileApart(dfs, context, env, kUploadNames, source.name.get(), fs, checked.get())) {
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
  Beside beside(env);
  if (!openBeside(dfs, context, env, fs, checked.get(), bufferSize, replication, blockSize,
                  beside)) {
    reportError(context, kDestinationNotOpened, kUpload, destinationPath);
    JnlFromException(dfs, context, nullptr, env, "org.apache.hadoop.fs.FileSystem::Open");
    return kDestinationNotOpened;
  }
  FileHandle *handle = beside.handle;
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
  if (!failure && !replaceWith(dfs, context, env, kUploadNames, fs, beside.temporary.get(),
                               beside.target.get())) {
    failure = QX_OPERATION_FAILED;
  }
  if (failure) discard(dfs, context, env, fs, beside.temporary.get());
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
  return copyPaths(dfs, context, status, env, source, destination, paths, false, from.utf8,
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
  return copyPaths(dfs, context, status, env, source, destination, paths, true, sourcePath,
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
