// What the module's three parts (hdfs/, config/, javatools/) share: status codes, pool blocks,
// texts between the host and Java, the path argument, Java exception reporting and the bridge's
// operations.
#pragma once

#include <initializer_list>
#include <utility>

#include "dfslink/dfslink.h"
#include "extframe/extframe.h"
#include "extframe/guards.h"

namespace dfs {

using extframe::LocalRef;
using extframe::MutexLock;
using extframe::printText;
using extframe::reportError;

constexpr uint32_t kNoFileHandle = 0x86BFF801;
constexpr uint32_t kFileNotOpen = 0x86BFF802;
constexpr uint32_t kNotInputStream = 0x86BFF803;
constexpr uint32_t kNotOutputStream = 0x86BFF804;
constexpr uint32_t kNoEnvironment = 0x86BFF805;
constexpr uint32_t kNotConverted = 0x86BFF806;
constexpr uint32_t kNegativeLength = 0x86BFF807;
constexpr uint32_t kNoConnection = 0x86BFF808;
constexpr uint32_t kNoOwnerOrGroup = 0x86BFF809;
constexpr uint32_t kPathNotMade = 0x86BFF80A;
constexpr uint32_t kNotDistributed = 0x86BFF80B;
constexpr uint32_t kPathUnusable = 0x86BFF80C;
constexpr uint32_t kPathMissing = 0x86BFF80D;
constexpr uint32_t kClassMissing = 0x86BFF810;
constexpr uint32_t kNoException = 0x86BFF811;
constexpr uint32_t kReadWriteRefused = 0x86BFF812;
constexpr uint32_t kExistsFailed = 0x86BFF813;
constexpr uint32_t kReadFailed = 0x86BFF814;
constexpr uint32_t kUnexpectedCount = 0x86BFF815;
constexpr uint32_t kWriteFailed = 0x86BFF816;
constexpr uint32_t kSeekFailed = 0x86BFF817;
constexpr uint32_t kStringNotMade = 0x86BFF818;
constexpr uint32_t kByteArrayNotMade = 0x86BFF81E;
constexpr uint32_t kOperationFailedIn = 0x86BFF81F;
constexpr uint32_t kDestinationNotOpened = 0x86BFF820;
constexpr uint32_t kNoReadMethod = 0x86BFF821;
constexpr uint32_t kCompileFailed = 0x86BFF80E;
constexpr uint32_t kJarFailed = 0x86BFF80F;
constexpr uint32_t kArrayNotMade = 0x86BFF819;
constexpr uint32_t kMapFailed = 0x86BFF81A;
constexpr uint32_t kTextNotShown = 0x86BFF81B;
constexpr uint32_t kNoCompiler = 0x86BFF81C;
constexpr uint32_t kNoFileManager = 0x86BFF81D;
constexpr uint32_t kNoClassPath = 0x86BFF822;
constexpr uint32_t kNoOutputDirectory = 0x86BFF823;
constexpr uint32_t kExtensionNotLoaded = 0x86BFF825;
constexpr uint32_t kTranscoderNotCreated = 0x86BFF826;
constexpr uint32_t kOpenLockNotCreated = 0x86BFF827;

constexpr int32_t kFailed = -1;
constexpr int32_t kMaxPathBytes = 260;

constexpr char kFileSystem[] = "org/apache/hadoop/fs/FileSystem";
constexpr char kConfiguration[] = "org/apache/hadoop/conf/Configuration";
constexpr char kDistributed[] = "org/apache/hadoop/hdfs/DistributedFileSystem";
constexpr char kPathClass[] = "org/apache/hadoop/fs/Path";
constexpr char kInputStream[] = "org/apache/hadoop/fs/FSDataInputStream";
constexpr char kOutputStream[] = "org/apache/hadoop/fs/FSDataOutputStream";

// The Java class of a handle's stream.
inline const char *streamClassOf(int32_t type) {
  return type == HDFS_STREAM_INPUT ? kInputStream : kOutputStream;
}

inline BridgeOperations &bridgeOf(DfsLinkState *dfs) {
  return dfs->jvm->operations;
}

// The calling thread's JNI environment, or NULL after reporting 0x86BFF805 with the operation.
JNIEnv *environmentFor(DfsLinkState *dfs, QXMessageContext *context, const char *operation);

// Units of a NUL-terminated QXChar text.
inline size_t qxLength(const QXChar *text) {
  size_t length = 0;
  while (text[length]) length++;
  return length;
}

// Writes a status out-value when the caller gave one.
inline void setStatus(int32_t *status, uint32_t code) {
  if (status) *status = static_cast<int32_t>(code);
}

// A pool block freed at the end of the scope.
class PoolBlock {
 public:
  explicit PoolBlock(QXPool *pool, void *block = nullptr) : pool_(pool), block_(block) {}
  ~PoolBlock() {
    if (block_) pool_->free(pool_, block_);
  }
  PoolBlock(const PoolBlock &) = delete;
  PoolBlock &operator=(const PoolBlock &) = delete;
  PoolBlock(PoolBlock &&other) noexcept : pool_(other.pool_), block_(other.release()) {}
  PoolBlock &operator=(PoolBlock &&other) noexcept {
    if (this != &other) {
      reset(other.release());
      pool_ = other.pool_;
    }
    return *this;
  }
  void *get() const { return block_; }
  void reset(void *block) {
    if (block_) pool_->free(pool_, block_);
    block_ = block;
  }
  void *release() { return std::exchange(block_, nullptr); }

 private:
  QXPool *pool_;
  void *block_;
};

// A Java string of QXChar text: Java's strings are UTF-16 too, so nothing is converted.
inline jstring newJavaString(JNIEnv *env, const QXChar *units, size_t count) {
  return env->NewString(reinterpret_cast<const jchar *>(units), static_cast<jsize>(count));
}

// A Java string's text as QXChar units in a pool block, terminated. Empty for a null string
// or when the block cannot be had.
class JavaChars {
 public:
  JavaChars(DfsLinkState *dfs, JNIEnv *env, jstring text);
  const QXChar *units() const { return static_cast<const QXChar *>(block_.get()); }
  size_t length() const { return length_; }
  explicit operator bool() const { return block_.get() != nullptr; }

 private:
  PoolBlock block_;
  size_t length_ = 0;
};

// A Java string of UTF-8 text (NULL for NULL); false after the reports of the routine when the
// text cannot be converted.
bool newJavaStringOfUtf8(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                         const char *utf8, const char *routine, LocalRef<jstring> &string);

// A Java string of one of the storage engine's texts (UTF-8, or Java's modified UTF-8); NULL
// when the JVM cannot make it (its exception pending) or no memory is left.
jstring newJavaStringOfEngineText(DfsLinkState *dfs, JNIEnv *env, const char *text);

// A Java string's text as a new UTF-8 block of exactly its length and a terminator in the module
// pool (strdup_hd); NULL for a null string. 0, or 0x803FC002 after its reports.
uint32_t strdup_hd(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, jstring text,
                   char *&copy);

// Whether the caller gave every pointer it must give; 0x803FC003 reported when one is missing.
inline bool given(QXMessageContext *context, std::initializer_list<const void *> pointers) {
  for (const void *pointer : pointers) {
    if (!pointer) {
      reportError(context, QX_MISSING_ARGUMENT);
      return false;
    }
  }
  return true;
}

// Whether the caller gave a connection; 0x86BFF808 with the operation's name when not.
bool connected(QXMessageContext *context, hdfsFS connection, const char *operation);

// A path argument: the caller's text, which Java receives as it is, and its UTF-8 form, which
// keeps the limit of 260 bytes.
struct PathText {
  const QXChar *units = nullptr;
  size_t unitCount = 0;
  char utf8[kMaxPathBytes + 1];
  int32_t utf8Length = 0;
};

// Measures a QXChar path; false when there is none (0x803FC003 reported) and, without a message,
// when its UTF-8 form does not fit or it cannot be converted.
bool toPathText(DfsLinkState *dfs, QXMessageContext *context, const QXChar *path, PathText &out);

// Makes an org/apache/hadoop/fs/Path of a path argument; NULL after the reports that end with
// 0x86BFF80C for the operation, with no exception left pending.
jobject makePathObject(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                       const PathText &path, const char *operation);
// The same for a path given in UTF-8.
jobject makePathObjectOfUtf8(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                             const char *path, const char *operation);

// Turns a Java exception (or the pending one when NULL) into host messages.
int32_t JnlFromException(DfsLinkState *dfs, QXMessageContext *context, jthrowable exception,
                         JNIEnv *env, const char *methodText);

// Java calls through the bridge that keep what the last one threw, for its report.
class JavaCall {
 public:
  JavaCall(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env)
      : dfs_(dfs), context_(context), env_(env) {}
  ~JavaCall() { forget(); }
  JavaCall(const JavaCall &) = delete;
  JavaCall &operator=(const JavaCall &) = delete;

  template <typename... Arguments>
  bool onObject(void *result, jobject object, const char *className, const char *method,
                const char *descriptor, Arguments... arguments) {
    return call(result, JVMLINK_INSTANCE, object, className, method, descriptor, arguments...);
  }

  template <typename... Arguments>
  bool onClass(void *result, const char *className, const char *method, const char *descriptor,
               Arguments... arguments) {
    return call(result, JVMLINK_STATIC, nullptr, className, method, descriptor, arguments...);
  }

  // Reports the last failure through JnlFromException; its result.
  int32_t report(const char *methodText) {
    int32_t result = JnlFromException(dfs_, context_, thrown_, env_, methodText);
    forget();
    return result;
  }

  // Hands over what the last call threw (a local reference, or NULL).
  jthrowable takeThrown() { return std::exchange(thrown_, nullptr); }

 private:
  template <typename... Arguments>
  bool call(void *result, int32_t kind, jobject object, const char *className, const char *method,
            const char *descriptor, Arguments... arguments) {
    forget();
    return bridgeOf(dfs_).invokeMethod(dfs_->jvm, context_, env_, result, &thrown_, kind, object,
                                       className, 0, method, descriptor, arguments...) == 0;
  }

  void forget() {
    if (thrown_) env_->DeleteLocalRef(thrown_);
    thrown_ = nullptr;
  }

  DfsLinkState *dfs_;
  QXMessageContext *context_;
  JNIEnv *env_;
  jthrowable thrown_ = nullptr;
};

}  // namespace dfs
