// Reads, writes, seek, tell, flush and available on an open FileHandle.
#include <cstdint>

#include "dfslink/hdfs/handles.h"

namespace dfs {
namespace {

const char kReadText[] = "org.apache.hadoop.fs.FSDataInputStream::read";
const char kWriteText[] = "org.apache.hadoop.fs.FSDataOutputStream::write";
// From this length on, a stream that can reads straight into the caller's memory; below it the
// handle's kept array is faster (a ByteBuffer read costs more per call than the copy it saves).
constexpr int32_t kDirectReadFrom = 64 << 10;

enum class Needs { AnyStream, Input, Output };

// What is wrong with a handle in use for an operation, or 0.
uint32_t handleProblem(const HandleUse &use, const FileHandle *file, Needs needs) {
  if (use.problem()) return use.problem();
  if (needs == Needs::Input && file->type != HDFS_STREAM_INPUT) return kNotInputStream;
  if (needs == Needs::Output && file->type != HDFS_STREAM_OUTPUT) return kNotOutputStream;
  return 0;
}

// Whether the handle suits the operation; a problem is reported and goes to the status when
// one is given.
bool handleSuits(QXMessageContext *context, int32_t *status, const HandleUse &use,
                 const FileHandle *file, const char *name, Needs needs) {
  uint32_t problem = handleProblem(use, file, needs);
  if (problem == 0) return true;
  reportError(context, problem, name);
  setStatus(status, problem);
  return false;
}

// The thread's environment, or NULL after the report and the status.
JNIEnv *environmentWithStatus(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                              const char *name) {
  JNIEnv *env = environmentFor(dfs, context, name);
  if (!env) setStatus(status, kNoEnvironment);
  return env;
}

// The first steps of the operations that write their status: the environment, and the handle
// in use and of the kind the operation needs; ready when both are there.
struct StreamStart {
  StreamStart(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, FileHandle *file,
              const char *name, Needs needs)
      : env(environmentWithStatus(dfs, context, status, name)),
        use(dfs, env, env ? file : nullptr),
        ready(env && handleSuits(context, status, use, file, name, needs)) {}
  JNIEnv *env;
  HandleUse use;
  bool ready;
};

// Whether an operation reads its buffer argument for every length, or only for a positive one.
enum class Buffer { ReadForData, AlwaysRead };

// A negative length, or no buffer where one is read, never reaches Java.
bool validTransfer(QXMessageContext *context, int32_t *status, const char *name, const void *buffer,
                   int32_t length, Buffer use = Buffer::ReadForData) {
  bool bufferRead = length > 0 || use == Buffer::AlwaysRead;
  uint32_t problem = length < 0                ? kNegativeLength
                     : (!buffer && bufferRead) ? QX_MISSING_ARGUMENT
                                               : 0;
  if (problem == 0) return true;
  if (problem == kNegativeLength) {
    reportError(context, problem, name);
  } else {
    reportError(context, problem);
  }
  setStatus(status, problem);
  return false;
}

// The array the slot's first call makes must hold offset + length bytes: a negative offset,
// or one that takes it past the largest array, never reaches Java.
bool validOffset(QXMessageContext *context, int32_t *status, const char *name, int32_t offset,
                 int32_t length) {
  if (offset >= 0 && offset <= INT32_MAX - length) return true;
  reportError(context, kNegativeLength, name);
  setStatus(status, kNegativeLength);
  return false;
}

// Reports a Java array or buffer that could not be made as the given code; the failure's
// result.
int32_t transferNotMade(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, int32_t *status,
                        uint32_t failure, const char *name, const char *what) {
  setStatus(status, failure);
  reportError(context, failure, name);
  JnlFromException(dfs, context, nullptr, env, what);
  return kFailed;
}

// The result of a Java read count n for a request of length bytes.
int32_t readResult(QXMessageContext *context, int32_t *status, const char *name, jint n,
                   int32_t length) {
  setStatus(status, 0);
  if (n > 0 && n <= length) return n;
  if (n == -1) return 0;
  reportError(context, kReadFailed, name);
  reportError(context, kUnexpectedCount, name, static_cast<int>(n));
  return 0;
}

int32_t readFailed(QXMessageContext *context, int32_t *status, const char *name, JavaCall &call) {
  setStatus(status, kReadFailed);
  reportError(context, kReadFailed, name);
  call.report(kReadText);
  return kFailed;
}

// A positioned read into a Java array; the read count's result.
int32_t readAt(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, JNIEnv *env,
               const FileHandle *file, int64_t position, jbyteArray array, int32_t offset,
               int32_t length) {
  JavaCall call(dfs, context, env);
  jint n = 0;
  if (!call.onObject(&n, file->stream, kInputStream, "read", "(J[BII)I",
                     static_cast<jlong>(position), array, offset, length)) {
    return readFailed(context, status, "hdfsPread", call);
  }
  return readResult(context, status, "hdfsPread", n, length);
}

// A read into the caller's memory through a direct ByteBuffer: positioned when a position is
// given. Results and reports are those of the copying read.
int32_t readIntoNative(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, JNIEnv *env,
                       const FileHandle *file, const int64_t *position, void *buffer,
                       int32_t length, const char *name) {
  LocalRef<jobject> target(env, env->NewDirectByteBuffer(buffer, length));
  if (!target) {
    return transferNotMade(dfs, context, env, status, kReadFailed, name, "NewDirectByteBuffer");
  }
  JavaCall call(dfs, context, env);
  jint n = 0;
  bool called =
      position ? call.onObject(&n, file->stream, kInputStream, "read", "(JLjava/nio/ByteBuffer;)I",
                               static_cast<jlong>(*position), target.get())
               : call.onObject(&n, file->stream, kInputStream, "read", "(Ljava/nio/ByteBuffer;)I",
                               target.get());
  if (!called) return readFailed(context, status, name, call);
  return readResult(context, status, name, n, length);
}

int32_t writeFrom(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, JNIEnv *env,
                  const FileHandle *file, jbyteArray array, int32_t offset, int32_t length) {
  JavaCall call(dfs, context, env);
  if (!call.onObject(nullptr, file->stream, kOutputStream, "write", "([BII)V", array, offset,
                     length)) {
    setStatus(status, kWriteFailed);
    reportError(context, kWriteFailed, "hdfsWrite");
    call.report(kWriteText);
    return kFailed;
  }
  return length;
}

// tell, flush and available: a call without arguments on the handle's stream. A missing
// environment is their result; they never write the status.
struct StreamQuery {
  const char *name;
  Needs needs;
  const char *method;
  const char *descriptor;
  const char *methodText;
};

template <typename Result>
Result queryStream(DfsLinkState *dfs, QXMessageContext *context, FileHandle *file,
                   const StreamQuery &query) {
  JNIEnv *env = environmentFor(dfs, context, query.name);
  if (!env) return static_cast<int32_t>(kNoEnvironment);  // 64 bits: the high word all ones
  HandleUse use(dfs, env, file);
  if (!handleSuits(context, nullptr, use, file, query.name, query.needs)) return kFailed;
  JavaCall call(dfs, context, env);
  Result value = 0;  // a void method leaves it
  if (!call.onObject(&value, file->stream, streamClassOf(file->type), query.method,
                     query.descriptor)) {
    call.report(query.methodText);
    return kFailed;
  }
  return value;
}

// Whether a read of this length goes straight into the caller's memory.
bool readsDirect(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, FileHandle *file,
                 int32_t length, NativeRead kind) {
  return length >= kDirectReadFrom && readsIntoNativeMemory(dfs, context, env, file, kind);
}

}  // namespace

int32_t hdfsRead(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS,
                 FileHandle *file, void *buffer, int32_t length) {
  const char *name = "hdfsRead";
  StreamStart start(dfs, context, status, file, name, Needs::Input);
  if (!start.ready || !validTransfer(context, status, name, buffer, length)) {
    return kFailed;
  }
  JNIEnv *env = start.env;
  if (readsDirect(dfs, context, env, file, length, kSequentialNative)) {
    return readIntoNative(dfs, context, status, env, file, nullptr, buffer, length, name);
  }
  TransferArray array(dfs, env, file, length);
  if (!array.get()) {
    return transferNotMade(dfs, context, env, status, kReadFailed, name, "NewByteArray");
  }
  JavaCall call(dfs, context, env);
  jint n = 0;
  // The kept array may be longer than this call's length.
  if (!call.onObject(&n, file->stream, kInputStream, "read", "([BII)I", array.get(), 0, length)) {
    return readFailed(context, status, name, call);
  }
  int32_t result = readResult(context, status, name, n, length);
  if (result > 0) env->GetByteArrayRegion(array.get(), 0, result, static_cast<jbyte *>(buffer));
  return result;
}

int32_t hdfsPread(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS,
                  FileHandle *file, int64_t position, void *buffer, int32_t length) {
  const char *name = "hdfsPread_jb";
  StreamStart start(dfs, context, status, file, name, Needs::Input);
  if (!start.ready || !validTransfer(context, status, name, buffer, length)) {
    return kFailed;
  }
  JNIEnv *env = start.env;
  if (readsDirect(dfs, context, env, file, length, kPositionedNative)) {
    return readIntoNative(dfs, context, status, env, file, &position, buffer, length, "hdfsPread");
  }
  TransferArray array(dfs, env, file, length);
  if (!array.get()) {
    return transferNotMade(dfs, context, env, status, kReadFailed, "hdfsPread", "NewByteArray");
  }
  int32_t result = readAt(dfs, context, status, env, file, position, array.get(), 0, length);
  if (result > 0) env->GetByteArrayRegion(array.get(), 0, result, static_cast<jbyte *>(buffer));
  return result;
}

int32_t hdfsPread_jb(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS,
                     FileHandle *file, int64_t position, jbyteArray *array, int32_t offset,
                     int32_t length) {
  const char *name = "hdfsPread_jb";
  StreamStart start(dfs, context, status, file, name, Needs::Input);
  if (!start.ready || !validTransfer(context, status, name, array, length, Buffer::AlwaysRead)) {
    return kFailed;
  }
  JNIEnv *env = start.env;
  if (!*array) {
    // Made to hold what this call reads at its offset.
    if (!validOffset(context, status, name, offset, length)) return kFailed;
    *array = env->NewByteArray(offset + length);
    if (!*array) {
      return transferNotMade(dfs, context, env, status, kReadFailed, "hdfsPread", "NewByteArray");
    }
  }
  return readAt(dfs, context, status, env, file, position, *array, offset, length);
}

int32_t hdfsWrite(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS,
                  FileHandle *file, const void *buffer, int32_t length) {
  if (length == 0) return 0;
  const char *name = "hdfsWrite";
  StreamStart start(dfs, context, status, file, name, Needs::Output);
  if (!start.ready || !validTransfer(context, status, name, buffer, length)) {
    return kFailed;
  }
  JNIEnv *env = start.env;
  TransferArray array(dfs, env, file, length);
  if (!array.get()) {
    return transferNotMade(dfs, context, env, status, kWriteFailed, name, "NewByteArray");
  }
  env->SetByteArrayRegion(array.get(), 0, length, static_cast<const jbyte *>(buffer));
  return writeFrom(dfs, context, status, env, file, array.get(), 0, length);
}

int32_t hdfsWrite_jb(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS,
                     FileHandle *file, jbyteArray array, int32_t offset, int32_t length) {
  const char *name = "hdfsWrite";
  StreamStart start(dfs, context, status, file, name, Needs::Output);
  if (!start.ready || !validTransfer(context, status, name, array, length)) {
    return kFailed;
  }
  JNIEnv *env = start.env;
  if (length == 0) return 0;
  return writeFrom(dfs, context, status, env, file, array, offset, length);
}

int32_t hdfsSeek(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS,
                 FileHandle *file, int64_t position) {
  const char *name = "hdfsSeek";
  StreamStart start(dfs, context, status, file, name, Needs::Input);
  if (!start.ready) return kFailed;
  JavaCall call(dfs, context, start.env);
  if (!call.onObject(nullptr, file->stream, kInputStream, "seek", "(J)V",
                     static_cast<jlong>(position))) {
    setStatus(status, kSeekFailed);
    reportError(context, kSeekFailed, name);
    call.report("org.apache.hadoop.fs.FSDataInputStream::seek");
    return kFailed;
  }
  return 0;
}

int64_t hdfsTell(DfsLinkState *dfs, QXMessageContext *context, int32_t *, hdfsFS,
                 FileHandle *file) {
  return queryStream<jlong>(dfs, context, file,
                            {"hdfsTell", Needs::AnyStream, "getPos", "()J",
                             "org.apache.hadoop.fs.FSDataInputStream::getPos"});
}

int32_t hdfsFlush(DfsLinkState *dfs, QXMessageContext *context, int32_t *, hdfsFS,
                  FileHandle *file) {
  return queryStream<jint>(dfs, context, file,
                           {"hdfsFlush", Needs::Output, "flush", "()V",
                            "org.apache.hadoop.fs.FSDataOutputStream::flush"});
}

int32_t hdfsAvailable(DfsLinkState *dfs, QXMessageContext *context, int32_t *, hdfsFS,
                      FileHandle *file) {
  return queryStream<jint>(dfs, context, file,
                           {"hdfsAvailable", Needs::Input, "available", "()I",
                            "org.apache.hadoop.fs.FSDataInputStream::available"});
}

}  // namespace dfs
