// hdfsOpenFile and hdfsCloseFile: Hadoop streams wrapped in FileHandles, kept in the open-file
// list. Java opens and closes streams with nothing locked; only the list's own short lock is
// taken, to register a handle and to take it out.
#include <cstdio>
#include <utility>

#include "dfslink/hdfs/handles.h"
#include "host/qxlayout.h"

namespace dfs {

// The engine holds handles and the module record; both are read by position.
QX_LAYOUT(offsetof(FileHandle, stream) == 0 && offsetof(FileHandle, type) == QX_WORD,
          "FileHandle: stream, then type");
QX_LAYOUT_32(sizeof(FileHandle) == 8, "FileHandle is 8 bytes");
QX_LAYOUT(offsetof(DfsLinkState, frame) == 0 && offsetof(DfsLinkState, exml) == 7 * QX_WORD,
          "DfsLinkState: the module record's frame, then dfslink's state from word 7");
namespace {

// The Java call that opens the stream, chosen by the open flags.
struct OpenCall {
  const char *method;
  const char *descriptor;
  int32_t type;
  bool creates;
  bool overwrites;
};

const char kCreateDescriptor[] =
    "(Lorg/apache/hadoop/fs/Path;ZISJ)Lorg/apache/hadoop/fs/FSDataOutputStream;";
const OpenCall kRead = {"open",
                        "(Lorg/apache/hadoop/fs/Path;I)Lorg/apache/hadoop/fs/FSDataInputStream;",
                        HDFS_STREAM_INPUT, false, false};
const OpenCall kCreate = {"create", kCreateDescriptor, HDFS_STREAM_OUTPUT, true, true};
// A file written beside its target: never over one that is there.
const OpenCall kCreateNew = {"create", kCreateDescriptor, HDFS_STREAM_OUTPUT, true, false};
const OpenCall kAppend = {"append",
                          "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/FSDataOutputStream;",
                          HDFS_STREAM_OUTPUT, false, false};

const OpenCall &openCallFor(int32_t flags) {
  if (!(flags & HDFS_OPEN_WRITE)) return kRead;
  return (flags & HDFS_OPEN_APPEND) ? kAppend : kCreate;
}

// The sizes the open call is made with, completed from the connection's configuration.
struct OpenSizes {
  jint bufferSize;
  jshort replication;
  jlong blockSize;
};

// What a new file gets where the configuration names no replication or block size: on HDFS what
// its own client gives (3 replicas and 128 MiB blocks unless the site says otherwise), as the
// HDFS defaults document ships with the server's jar, not the client's, so the connection's
// configuration does not hold them; elsewhere the fixed fallbacks.
struct Fallbacks {
  jshort replication = 1;
  jlong blockSize = 67108864;
};

Fallbacks fallbacksOf(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, JavaCall &call,
                      hdfsFS connection, jobject path) {
  Fallbacks fallbacks;
  // The bridge's cached reference: a create pays no class lookup. None without HDFS's client.
  jclass hdfs = bridgeOf(dfs).globalClassReference(dfs->jvm, context, kDistributed, env);
  if (!hdfs || !env->IsInstanceOf(connection, hdfs)) return fallbacks;
  Fallbacks given;
  if (call.onObject(&given.replication, connection, kFileSystem, "getDefaultReplication",
                    "(Lorg/apache/hadoop/fs/Path;)S", path) &&
      call.onObject(&given.blockSize, connection, kFileSystem, "getDefaultBlockSize",
                    "(Lorg/apache/hadoop/fs/Path;)J", path)) {
    fallbacks = given;
  }
  return fallbacks;
}

bool completeSizes(DfsLinkState *dfs, JNIEnv *env, JavaCall &call, jobject configuration,
                   const OpenCall &open, const char *openText, const Fallbacks &fallbacks,
                   OpenSizes &sizes) {
  // The keys are ASCII, the same in UTF-8 and in Java's modified form.
  LocalRef<jstring> bufferKey(env, env->NewStringUTF(dfs->keyBufferSize));
  LocalRef<jstring> replicationKey(env,
                                   bufferKey ? env->NewStringUTF(dfs->keyReplication) : nullptr);
  LocalRef<jstring> blockKey(env, replicationKey ? env->NewStringUTF(dfs->keyBlockSize) : nullptr);
  if (!blockKey) {
    call.report("java.lang.String::<init>");
    return false;
  }
  const char *getIntText = "org.apache.hadoop.conf.Configuration::getInt";
  if (sizes.bufferSize == 0 &&
      !call.onObject(&sizes.bufferSize, configuration, kConfiguration, "getInt",
                     "(Ljava/lang/String;I)I", bufferKey.get(), 4096)) {
    call.report(getIntText);
    return false;
  }
  if (!open.creates) return true;
  jint replication = sizes.replication;
  if (replication == 0) {
    if (!call.onObject(&replication, configuration, kConfiguration, "getInt",
                       "(Ljava/lang/String;I)I", replicationKey.get(),
                       jint{fallbacks.replication})) {
      call.report(getIntText);
      return false;
    }
    sizes.replication = static_cast<jshort>(replication);
  }
  if (sizes.blockSize != 0) return true;
  // Hadoop's current key first, then the older one, then the default.
  jlong fallback = 0;
  LocalRef<jstring> currentKey(env, env->NewStringUTF("dfs.blocksize"));
  if (!currentKey ||
      !call.onObject(&fallback, configuration, kConfiguration, "getLong", "(Ljava/lang/String;J)J",
                     blockKey.get(), fallbacks.blockSize) ||
      !call.onObject(&sizes.blockSize, configuration, kConfiguration, "getLong",
                     "(Ljava/lang/String;J)J", currentKey.get(), fallback)) {
    call.report(openText);
    return false;
  }
  return true;
}

// Closes a stream that can be handed to nobody: an output stream left open would hold the
// file's lease and lose its data.
void closeUnhandedStream(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, jobject stream,
                         int32_t type) {
  JavaCall call(dfs, context, env);
  if (!call.onObject(nullptr, stream, streamClassOf(type), "close", "()V")) {
    char text[80];
    snprintf(text, sizeof text, "%s::close", streamClassOf(type));
    call.report(text);
  }
}

// A handle record with room kept for it in the open-file list, made before the Java call that
// opens its stream: once the stream is open (a file made or replaced), nothing can fail.
class NewHandle {
 public:
  explicit NewHandle(DfsLinkState *dfs)
      : dfs_(dfs), file_(newHandleRecord(dfs)), reserved_(file_ && reserveHandleRoom(dfs)) {}
  ~NewHandle() {
    if (reserved_) unreserveHandleRoom(dfs_);
    if (file_) discardHandleRecord(dfs_, file_);
  }
  NewHandle(const NewHandle &) = delete;
  NewHandle &operator=(const NewHandle &) = delete;
  explicit operator bool() const { return reserved_; }
  bool hasRecord() const { return file_ != nullptr; }
  // Registers the handle with its stream: the record is the caller's from now on.
  FileHandle *keep(jobject stream, int32_t type) {
    file_->stream = stream;
    file_->type = type;
    registerHandle(dfs_, file_);
    reserved_ = false;
    return std::exchange(file_, nullptr);
  }

 private:
  DfsLinkState *dfs_;
  FileHandle *file_;
  bool reserved_;
};

// Calls the open of the file system that the flags chose; the stream, or NULL after the report.
jobject callOpen(JavaCall &call, hdfsFS connection, jobject path, const OpenCall &open,
                 const OpenSizes &sizes, const char *openText) {
  jobject stream = nullptr;
  bool opened =
      open.type == HDFS_STREAM_INPUT ? call.onObject(&stream, connection, kFileSystem, open.method,
                                                     open.descriptor, path, sizes.bufferSize)
      : open.creates
          ? call.onObject(&stream, connection, kFileSystem, open.method, open.descriptor, path,
                          open.overwrites ? JNI_TRUE : JNI_FALSE, sizes.bufferSize,
                          static_cast<jint>(sizes.replication), sizes.blockSize)
          : call.onObject(&stream, connection, kFileSystem, open.method, open.descriptor, path);
  if (!opened) call.report(openText);
  return opened ? stream : nullptr;
}

// Opens a stream and hands it over in a registered FileHandle. Nothing is locked while Java
// opens the stream: the record and its room in the list are had first, so a handle that cannot
// be registered never leaves a file made behind it.
FileHandle *openStream(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, JNIEnv *env,
                       hdfsFS connection, jobject path, const OpenCall &open, OpenSizes sizes) {
  JavaCall call(dfs, context, env);
  jobject configuration = nullptr;
  if (!call.onObject(&configuration, connection, kFileSystem, "getConf",
                     "()Lorg/apache/hadoop/conf/Configuration;")) {
    call.report("get configuration object from filesystem");
    return nullptr;
  }
  LocalRef<jobject> configurationRef(env, configuration);
  char openText[200];
  snprintf(openText, sizeof openText, "org.apache.hadoop.conf.FileSystem::%s(%s)", open.method,
           open.descriptor);
  Fallbacks fallbacks = open.creates && (sizes.replication == 0 || sizes.blockSize == 0)
                            ? fallbacksOf(dfs, context, env, call, connection, path)
                            : Fallbacks{};
  if (!completeSizes(dfs, env, call, configuration, open, openText, fallbacks, sizes)) {
    return nullptr;
  }
  NewHandle handle(dfs);
  if (!handle) {
    if (handle.hasRecord()) reportError(context, QX_OUT_OF_MEMORY);  // the list could not grow
    setStatus(status, QX_OUT_OF_MEMORY);
    return nullptr;
  }
  LocalRef<jobject> stream(env, callOpen(call, connection, path, open, sizes, openText));
  if (!stream) return nullptr;
  jobject kept = env->NewGlobalRef(stream.get());
  if (kept) return handle.keep(kept, open.type);
  if (env->ExceptionCheck()) env->ExceptionDescribe();  // out of references: cleared to close
  reportError(context, QX_OUT_OF_MEMORY);
  setStatus(status, QX_OUT_OF_MEMORY);
  closeUnhandedStream(dfs, context, env, stream.get(), open.type);
  return nullptr;
}

}  // namespace

FileHandle *hdfsOpenFile(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                         hdfsFS connection, const QXChar *path, int32_t flags, int32_t bufferSize,
                         int16_t replication, int32_t blockSize) {
  const char *operation = "hdfsOpenFile";
  JNIEnv *env = environmentFor(dfs, context, operation);
  if (!env) {
    setStatus(status, kNoEnvironment);
    return nullptr;
  }
  if (!connected(context, connection, operation)) {
    setStatus(status, kNoConnection);
    return nullptr;
  }
  PathText text;
  if (!toPathText(dfs, context, path, text)) return nullptr;
  if (flags & HDFS_OPEN_READ_WRITE) {
    setStatus(status, kReadWriteRefused);
    reportError(context, kReadWriteRefused, operation);
    return nullptr;
  }
  const OpenCall &open = openCallFor(flags);
  LocalRef<jobject> pathObject(env, makePathObject(dfs, context, env, text, operation));
  if (!pathObject) return nullptr;
  return openStream(dfs, context, status, env, connection, pathObject.get(), open,
                    {bufferSize, replication, blockSize});
}

FileHandle *createNewFile(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                          JNIEnv *env, hdfsFS connection, jobject path, int32_t bufferSize,
                          int16_t replication, int32_t blockSize) {
  return openStream(dfs, context, status, env, connection, path, kCreateNew,
                    {bufferSize, replication, blockSize});
}

int32_t hdfsCloseFile(DfsLinkState *dfs, QXMessageContext *context, int32_t *, hdfsFS,
                      FileHandle *file) {
  const char *operation = "hdfsCloseFile";
  JNIEnv *env = environmentFor(dfs, context, operation);
  if (!env) return static_cast<int32_t>(kNoEnvironment);
  if (!file) {
    reportError(context, kNoFileHandle, operation);
    return kFailed;
  }
  // Out of the list first, so that no other call uses or closes it, then closed with nothing
  // locked: an output stream's close waits for the data nodes, and others' opens and closes go
  // on meanwhile.
  if (takeOutOfList(dfs, file) != 0) {
    reportError(context, kFileNotOpen, operation);
    return kFailed;
  }
  const char *streamClass = streamClassOf(file->type);
  JavaCall call(dfs, context, env);
  bool closed = call.onObject(nullptr, file->stream, streamClass, "close", "()V");
  if (!closed) {
    char text[80];
    snprintf(text, sizeof text, "%s::close", streamClass);
    call.report(text);
  }
  // A Java stream whose close failed cannot be closed again (Hadoop rethrows the failure), so
  // the handle goes either way.
  finishClose(dfs, env, file);
  return closed ? 0 : kFailed;
}

}  // namespace dfs
