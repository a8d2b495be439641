// getJNIEnv: one JNI environment per host thread, attached through qxjni on the thread's first
// request, with the kept class path applied once per thread. A thread's later requests are
// answered from what it remembers, without the mutex.
#include <atomic>

#include "host/qxplatform.h"
#include "jvmlink/bridge.h"

namespace bridge {
namespace {

constexpr int32_t kThreadTableGrowth = 10;

// The thread's entry, or a slot for it (index threadCount when no free one is known), or -1.
struct ThreadSlot {
  int32_t index = -1;
  bool found = false;
};

ThreadSlot findThreadSlot(BridgeState *bridge, uint32_t threadId) {
  ThreadSlot slot;
  for (int32_t i = 0; i < bridge->threadCount; i++) {
    uint32_t id = bridge->threadEntries[i].threadId;
    if (id == threadId) return {i, true};
    if (id == 0 && slot.index < 0) slot.index = i;
  }
  return slot;
}

// The JVM, known from the first attached thread; one per process.
std::atomic<JavaVM *> knownJvm{nullptr};

// The environment this thread last got from a bridge, for the path without the mutex.
struct RememberedEnvironment {
  const BridgeState *bridge;
  uint32_t instance;
  bool classPathApplied;
  JNIEnv *env;
};
thread_local RememberedEnvironment remembered;

std::atomic<uint32_t> lastInstance{0};

bool classPathKept(const BridgeState *bridge) {
  return __atomic_load_n(&bridge->classPathText, __ATOMIC_ACQUIRE) != nullptr;
}

// The remembered environment when it is still this thread's for this bridge and nothing is
// left to apply to it; NULL otherwise.
JNIEnv *rememberedEnvironment(const BridgeState *bridge) {
  if (remembered.bridge != bridge || remembered.instance != bridge->instance) return nullptr;
  if (!remembered.classPathApplied && classPathKept(bridge)) return nullptr;
  JavaVM *vm = knownJvm.load(std::memory_order_acquire);
  JNIEnv *current = nullptr;
  if (!vm || vm->GetEnv(reinterpret_cast<void **>(&current), JNI_VERSION_1_8) != JNI_OK) {
    return nullptr;
  }
  return current == remembered.env ? current : nullptr;
}

// Whether an entry's environment is the calling thread's own. A host that hands a dead
// thread's id to a new thread leaves an entry whose environment belongs to the dead thread.
bool belongsToThisThread(JNIEnv *env) {
  JavaVM *vm = knownJvm;
  if (!vm) return true;
  JNIEnv *current = nullptr;
  return vm->GetEnv(reinterpret_cast<void **>(&current), JNI_VERSION_1_8) == JNI_OK &&
         current == env;
}

// Entries of other ids that hold an environment the JVM has just given this thread: their
// threads have ended, so their slots are free again.
void freeEntriesOf(BridgeState *bridge, JNIEnv *env, int32_t keep) {
  for (int32_t i = 0; i < bridge->threadCount; i++) {
    if (i != keep && bridge->threadEntries[i].environment == env) {
      bridge->threadEntries[i] = ThreadEnvEntry{0, nullptr, 0};
    }
  }
}

// A slot past the entries in use, growing the table when it is full.
bool appendThreadSlot(BridgeState *bridge, QXMessageContext *context, ThreadSlot &slot) {
  if (bridge->threadCount >= bridge->threadCapacity) {
    int32_t capacity = bridge->threadCapacity + kThreadTableGrowth;
    void *grown = bridge->pool->reallocate(bridge->pool, bridge->threadEntries,
                                           sizeof(ThreadEnvEntry) * capacity, QX_ZERO_FILL);
    if (!grown) {
      reportError(context, QX_OUT_OF_MEMORY);
      return false;
    }
    bridge->threadEntries = static_cast<ThreadEnvEntry *>(grown);
    bridge->threadCapacity = capacity;
  }
  slot.index = bridge->threadCount;
  return true;
}

JNIEnv *attachThread(BridgeState *bridge, QXMessageContext *context, uint32_t threadId,
                     int32_t index) {
  QXJniExtension *jni = bridge->jniExtension;
  JNIEnv *env = nullptr;
  if (jni->attachThread(jni, jni, &env, 0, 0) != 0 || !env) {
    reportError(context, kThreadNotAttached, "getJNIEnv");
    return nullptr;
  }
  if (!knownJvm) {
    JavaVM *vm = nullptr;
    if (env->GetJavaVM(&vm) == JNI_OK) knownJvm = vm;
  }
  bridge->threadEntries[index] = ThreadEnvEntry{threadId, env, 0};
  if (index == bridge->threadCount) bridge->threadCount++;
  freeEntriesOf(bridge, env, index);
  return env;
}

}  // namespace

bool applyKeptClassPath(BridgeState *bridge, JNIEnv *env) {
  QXJniExtension *jni = bridge->jniExtension;
  char *item = bridge->classPathText;
  int32_t status = 0;
  for (int32_t i = 0; i < bridge->classPathCount && status == 0; i++) {
    char *separator = item + bridge->classPathLengths[i] - 1;
    *separator = '\0';
    status = jni->addClassPathItem(jni, env, item);
    if (i + 1 < bridge->classPathCount) *separator = QX_PATH_SEPARATOR;
    item = separator + 1;
  }
  return status == 0;
}

uint32_t newBridgeInstance() {
  return ++lastInstance;
}

JNIEnv *getJNIEnv(BridgeState *bridge, QXMessageContext *context) {
  if (JNIEnv *env = rememberedEnvironment(bridge)) return env;
  uint32_t threadId = bridge->kernel->currentThreadId(bridge->kernel);
  MutexLock lock(bridge->jvmMutex);
  ThreadSlot slot = findThreadSlot(bridge, threadId);
  JNIEnv *env = slot.found ? bridge->threadEntries[slot.index].environment : nullptr;
  if (env && !belongsToThisThread(env)) {
    // The id was a dead thread's: its entry is taken over with a fresh attachment.
    bridge->threadEntries[slot.index] = ThreadEnvEntry{0, nullptr, 0};
    env = nullptr;
  }
  if (!env) {
    if (slot.index < 0 && !appendThreadSlot(bridge, context, slot)) return nullptr;
    env = attachThread(bridge, context, threadId, slot.index);
    if (!env) return nullptr;
  }
  ThreadEnvEntry &entry = bridge->threadEntries[slot.index];
  if (bridge->classPathText && !(entry.flags & THREAD_CLASS_PATH_APPLIED) &&
      applyKeptClassPath(bridge, env)) {
    entry.flags |= THREAD_CLASS_PATH_APPLIED;
  }
  // Only what was really applied is remembered: a class path kept later by another thread's
  // haddpaths sends this thread through here again.
  bool applied = (entry.flags & THREAD_CLASS_PATH_APPLIED) != 0;
  remembered = RememberedEnvironment{bridge, bridge->instance, applied, env};
  return env;
}

}  // namespace bridge
