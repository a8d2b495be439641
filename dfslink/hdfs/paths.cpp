// The path argument every operation shares, texts between the host and Java, and the thread's
// environment.
#include "dfslink/internal.h"

namespace dfs {
namespace {

const char kMakePath[] = "constructNewObjectOfPath";

// The Path constructor with a Java string of the path; NULL when either fails, with nothing
// left pending.
jobject newPathObject(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                      const QXChar *units, size_t count) {
  LocalRef<jstring> text(env, newJavaString(env, units, count));
  jobject object = text ? bridgeOf(dfs).constructNewObjectOfClass(
                              dfs->jvm, context, env, "org/apache/hadoop/fs/Path",
                              "(Ljava/lang/String;)V", text.get())
                        : nullptr;
  if (!object && env->ExceptionCheck()) env->ExceptionDescribe();
  return object;
}

// A UTF-8 text as QXChar units in a pool block, terminated; 0 or the transcoder's code.
uint32_t unitsOfUtf8(DfsLinkState *dfs, const char *utf8, PoolBlock &block, int32_t &count) {
  size_t length = extframe::byteLength(utf8);
  size_t capacity = sizeof(QXChar) * (length + 1);
  block.reset(dfs->pool->allocate(dfs->pool, capacity, 0));
  if (!block.get()) return QX_OUT_OF_MEMORY;
  auto *units = static_cast<QXChar *>(block.get());
  uint32_t status =
      dfs->fromUtf8->convert(dfs->fromUtf8, utf8 ? utf8 : "", static_cast<int32_t>(length), units,
                             static_cast<int32_t>(capacity - sizeof(QXChar)), &count, 0);
  if (status == 0) units[count] = 0;
  return status;
}

// Bytes of the UTF-8 form of QXChar text.
size_t utf8Length(const QXChar *units, size_t count) {
  size_t bytes = 0;
  for (size_t i = 0; i < count; i++) {
    QXChar unit = units[i];
    bool pair = unit >= 0xD800 && unit < 0xDC00 && i + 1 < count && units[i + 1] >= 0xDC00 &&
                units[i + 1] < 0xE000;
    bytes += unit < 0x80 ? 1 : unit < 0x800 ? 2 : pair ? 4 : 3;
    if (pair) i++;
  }
  return bytes;
}

void reportCopyFailed(QXMessageContext *context) {
  reportError(context, QX_OUT_OF_MEMORY);
  reportError(context, kOperationFailedIn, "strdup_hd");
}

}  // namespace

JavaChars::JavaChars(DfsLinkState *dfs, JNIEnv *env, jstring text) : block_(dfs->pool) {
  if (!text) return;
  length_ = static_cast<size_t>(env->GetStringLength(text));
  auto *units =
      static_cast<QXChar *>(dfs->pool->allocate(dfs->pool, sizeof(QXChar) * (length_ + 1), 0));
  if (!units) return;
  env->GetStringRegion(text, 0, static_cast<jsize>(length_), reinterpret_cast<jchar *>(units));
  units[length_] = 0;
  block_.reset(units);
}

JNIEnv *environmentFor(DfsLinkState *dfs, QXMessageContext *context, const char *operation) {
  // Without a message context nothing could be reported: the operation does nothing, as it
  // does without an environment.
  if (!context) return nullptr;
  JNIEnv *env = bridgeOf(dfs).getJNIEnv(dfs->jvm, context);
  if (!env) reportError(context, kNoEnvironment, operation);
  return env;
}

bool toPathText(DfsLinkState *dfs, QXMessageContext *context, const QXChar *path, PathText &out) {
  if (!given(context, {path})) return false;
  out.units = path;
  out.unitCount = qxLength(path);
  out.utf8Length = 0;
  if (dfs->toUtf8->convert(dfs->toUtf8, path, static_cast<int32_t>(out.unitCount * sizeof(QXChar)),
                           out.utf8, kMaxPathBytes, &out.utf8Length, 0)) {
    return false;
  }
  out.utf8[out.utf8Length] = '\0';
  return true;
}

jobject makePathObject(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                       const PathText &path, const char *operation) {
  jobject object = newPathObject(dfs, context, env, path.units, path.unitCount);
  if (!object) {
    reportError(context, kPathNotMade, kMakePath, path.units);
    reportError(context, kPathUnusable, operation);
  }
  return object;
}

jobject makePathObjectOfUtf8(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                             const char *path, const char *operation) {
  PoolBlock block(dfs->pool);
  int32_t count = 0;
  uint32_t status = unitsOfUtf8(dfs, path, block, count);
  jobject object = nullptr;
  if (status != 0) {
    reportError(context, kNotConverted, kMakePath, u"utf8->QXChar");
    reportError(context, status);
  } else {
    auto *units = static_cast<const QXChar *>(block.get());
    object = newPathObject(dfs, context, env, units, static_cast<size_t>(count));
    if (!object) reportError(context, kPathNotMade, kMakePath, units);
  }
  if (!object) reportError(context, kPathUnusable, operation);
  return object;
}

bool newJavaStringOfUtf8(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                         const char *utf8, const char *routine, LocalRef<jstring> &string) {
  string = LocalRef<jstring>(env, nullptr);
  if (!utf8) return true;
  PoolBlock block(dfs->pool);
  int32_t count = 0;
  uint32_t status = unitsOfUtf8(dfs, utf8, block, count);
  if (status != 0) {
    reportError(context, kNotConverted, routine, u"utf8->QXChar");
    reportError(context, status);
    return false;
  }
  string = LocalRef<jstring>(env, newJavaString(env, static_cast<const QXChar *>(block.get()),
                                                static_cast<size_t>(count)));
  if (!string) JnlFromException(dfs, context, nullptr, env, "NewString");
  return static_cast<bool>(string);
}

jstring newJavaStringOfEngineText(DfsLinkState *dfs, JNIEnv *env, const char *text) {
  PoolBlock block(dfs->pool);
  int32_t count = 0;
  if (unitsOfUtf8(dfs, text, block, count) == 0) {
    return newJavaString(env, static_cast<const QXChar *>(block.get()), static_cast<size_t>(count));
  }
  // Not standard UTF-8: the engine's texts may be Java's modified UTF-8 (surrogates as two
  // sequences, NUL as C0 80), which is what NewStringUTF reads.
  return block.get() ? env->NewStringUTF(text) : nullptr;
}

uint32_t strdup_hd(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, jstring text,
                   char *&copy) {
  copy = nullptr;
  if (!text) return 0;
  JavaChars chars(dfs, env, text);
  size_t bytes = chars ? utf8Length(chars.units(), chars.length()) : 0;
  auto *block = chars ? static_cast<char *>(dfs->pool->allocate(dfs->pool, bytes + 1, 0)) : nullptr;
  if (!block) {
    reportCopyFailed(context);
    return QX_OUT_OF_MEMORY;
  }
  int32_t written = 0;
  uint32_t status = dfs->toUtf8->convert(dfs->toUtf8, chars.units(),
                                         static_cast<int32_t>(chars.length() * sizeof(QXChar)),
                                         block, static_cast<int32_t>(bytes), &written, 0);
  if (status != 0) {
    dfs->pool->free(dfs->pool, block);
    reportError(context, kNotConverted, "strdup_hd", u"QXChar->utf8");
    reportError(context, status);
    return QX_OPERATION_FAILED;
  }
  block[written] = '\0';
  copy = block;
  return 0;
}

bool connected(QXMessageContext *context, hdfsFS connection, const char *operation) {
  if (!connection) reportError(context, kNoConnection, operation);
  return connection != nullptr;
}

}  // namespace dfs
