// What the parts of the bridge share: the operations of the table, the class cache and small
// RAII guards for host mutexes and JNI references.
#pragma once

#include <cstdarg>
#include <utility>

#include "extframe/extframe.h"
#include "extframe/guards.h"
#include "jvmlink/jvmlink.h"

namespace bridge {

using extframe::LocalRef;
using extframe::MutexLock;
using extframe::reportError;

// A class resolved through the cache. A reference that could not be cached is owned here and
// deleted at the end of the scope, so an uncached resolution leaks nothing.
class ResolvedClass {
 public:
  ResolvedClass(JNIEnv *env, jclass ref, bool cached) : env_(env), ref_(ref), cached_(cached) {}
  ~ResolvedClass() {
    if (ref_ && !cached_) env_->DeleteGlobalRef(ref_);
  }
  ResolvedClass(ResolvedClass &&other) noexcept
      : env_(other.env_), ref_(std::exchange(other.ref_, nullptr)), cached_(other.cached_) {}
  ResolvedClass(const ResolvedClass &) = delete;
  ResolvedClass &operator=(const ResolvedClass &) = delete;
  jclass get() const { return ref_; }
  bool cached() const { return cached_; }
  explicit operator bool() const { return ref_ != nullptr; }
  // Hands the reference to a caller that keeps it.
  jclass release() { return std::exchange(ref_, nullptr); }

 private:
  JNIEnv *env_;
  jclass ref_;
  bool cached_;
};

// A Java name as QXChar text for a message argument.
struct MessageText {
  QXChar units[202];  // up to 201 units from at most 201 bytes, and the terminator
};

// Status codes of the bridge.
constexpr uint32_t kBadMethodKind = 0x86BFF001;
constexpr uint32_t kCacheNotCreated = 0x86BFF002;
constexpr uint32_t kClassNotCached = 0x86BFF003;
constexpr uint32_t kClassNotFound = 0x86BFF004;
constexpr uint32_t kArrayNotCreated = 0x86BFF005;
constexpr uint32_t kStringNotCreated = 0x86BFF006;
constexpr uint32_t kMethodNotFound = 0x86BFF007;
constexpr uint32_t kNameNotCopied = 0x86BFF008;
constexpr uint32_t kThreadNotAttached = 0x86BFF009;
constexpr uint32_t kClassPathNotApplied = 0x86BFF00A;
constexpr uint32_t kNoEnvironment = 0x86BFF00B;
constexpr uint32_t kNotTranscoded = 0x86BFF00C;
constexpr uint32_t kNotAllocated = 0x86BFF00D;
constexpr uint32_t kCallFailed = 0x86BFF00F;
constexpr uint32_t kConstructorFailed = 0x86BFF010;
constexpr uint32_t kObjectNotConstructed = 0x86BFF011;
constexpr uint32_t kCacheMutexNotCreated = 0x86BFF012;
constexpr uint32_t kJvmMutexNotCreated = 0x86BFF013;
constexpr uint32_t kNoJvm = 0x86BFF014;
constexpr uint32_t kExtensionMissing = 0x86BFF015;
constexpr uint32_t kTranscoderMissing = 0x86BFF016;

// The operations of the table.
int32_t invokeMethod(BridgeState *bridge, QXMessageContext *context, JNIEnv *env, void *result,
                     jthrowable *exception, int32_t kind, jobject object, const char *className,
                     int32_t nonVirtual, const char *methodName, const char *descriptor, ...);
jobject constructNewObjectOfClass(BridgeState *bridge, QXMessageContext *context, JNIEnv *env,
                                  const char *className, const char *descriptor, ...);
jmethodID methodIdFromClass(BridgeState *bridge, QXMessageContext *context, const char *className,
                            const char *methodName, const char *descriptor, int32_t kind,
                            JNIEnv *env);
jfieldID fieldIdFromClass(BridgeState *bridge, QXMessageContext *context, JNIEnv *env,
                          const char *className, const char *fieldName, const char *descriptor,
                          int32_t kind);
jclass globalClassReference(BridgeState *bridge, QXMessageContext *context, const char *className,
                            JNIEnv *env);
char *classNameOfObject(BridgeState *bridge, QXMessageContext *context, jobject object,
                        JNIEnv *env);
JNIEnv *getJNIEnv(BridgeState *bridge, QXMessageContext *context);
int32_t haddpaths(BridgeState *bridge, QXMessageContext *context, const ClassPathList *list);
int32_t haddpath(BridgeState *bridge, QXMessageContext *context, const char *item);
jobjectArray constructNewArrayString(BridgeState *bridge, QXMessageContext *context, JNIEnv *env,
                                     void *ignored, const char *const *texts, int32_t count);

// Resolves a class name through the class cache. When FindClass or NewGlobalRef fails the
// pending exception has been described (printed and cleared).
ResolvedClass resolveClass(BridgeState *bridge, QXMessageContext *context, const char *className,
                           JNIEnv *env);

// Deletes every cached (or kept uncached) global reference and frees the cache (teardown,
// jvmMutex held).
void clearClassCache(BridgeState *bridge, JNIEnv *env);

// A key of the lookup index: a class name alone, or a class name, method name and descriptor
// with the method's kind.
struct IndexKey {
  int32_t kind;          // kIndexedClass, JVMLINK_STATIC, JVMLINK_INSTANCE or kNotIndexed
  const char *texts[3];  // terminated; a class's second and third are empty
};
constexpr int32_t kIndexedClass = 2;
constexpr int32_t kNotIndexed = -1;  // never found, never added

// What the index holds for a key: the cached class, and the method id of a method key.
struct IndexedMember {
  jclass type;
  jmethodID method;
};

// Looks a key up without a lock; true when it was found.
bool findIndexed(const BridgeState *bridge, const IndexKey &key, IndexedMember *found);

// Indexes a cached class or a method of one (takes hashMutex).
void addToIndex(BridgeState *bridge, const IndexKey &key, IndexedMember member);

// Frees the index (teardown).
void clearIndex(BridgeState *bridge);

// At most limit bytes of a UTF-8 Java name as QXChar text for a message.
MessageText toMessageText(BridgeState *bridge, QXMessageContext *context, const char *functionName,
                          const char *utf8, size_t limit);

// A method resolved for a call: its class (owned here when the cache could not take it) and
// its id. No class: the resolution failed; no id: the lookup failed and was reported.
struct ResolvedMethod {
  ResolvedClass type;
  jmethodID method;
};
ResolvedMethod resolveMethod(BridgeState *bridge, QXMessageContext *context, JNIEnv *env,
                             const char *className, const char *methodName, const char *descriptor,
                             int32_t kind);

// A number for a new start of the bridge, never given before by this load of the module. The
// numbers start again when the module is loaded again, but so does the thread-local state that
// remembers them: a reloaded bridge never meets a number remembered from before.
uint32_t newBridgeInstance();

// Adds the kept class-path items on this thread (jvmMutex held); true when all were added.
bool applyKeptClassPath(BridgeState *bridge, JNIEnv *env);

}  // namespace bridge
