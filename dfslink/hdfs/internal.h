// What the parts of the file-system module share: status codes, the path argument, Java
// exception reporting and the bridge's operations.
#pragma once

#include "dfslink/hdfs/dfslink.h"
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
constexpr uint32_t kPathNotMade = 0x86BFF80A;
constexpr uint32_t kPathUnusable = 0x86BFF80C;
constexpr uint32_t kNoException = 0x86BFF811;
constexpr uint32_t kReadWriteRefused = 0x86BFF812;
constexpr uint32_t kReadFailed = 0x86BFF814;
constexpr uint32_t kUnexpectedCount = 0x86BFF815;
constexpr uint32_t kWriteFailed = 0x86BFF816;
constexpr uint32_t kSeekFailed = 0x86BFF817;
constexpr uint32_t kExtensionNotLoaded = 0x86BFF825;
constexpr uint32_t kTranscoderNotCreated = 0x86BFF826;
constexpr uint32_t kOpenLockNotCreated = 0x86BFF827;

constexpr int32_t kFailed = -1;
constexpr int32_t kMaxPathBytes = 260;

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

// A path argument in UTF-8: at most 260 bytes and the terminator.
struct Utf8Path {
  char text[kMaxPathBytes + 1];
  int32_t length;
};

// Converts a QXChar path; false, without a message, when it does not fit or cannot convert.
bool toUtf8Path(DfsLinkState *dfs, const QXChar *path, Utf8Path &out);

// Makes an org/apache/hadoop/fs/Path of a UTF-8 path; NULL after the reports that end with
// 0x86BFF80C for the operation.
jobject makePathObject(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                       const Utf8Path &path, const char *operation);

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

// The handle's place in the open-file list, or -1 (openLock held).
int32_t indexOfHandle(const OpenFileList &list, const FileHandle *file);

// Whether a handle is one of the module's open handles (openLock is taken).
bool isRegistered(DfsLinkState *dfs, const FileHandle *file);

}  // namespace dfs
