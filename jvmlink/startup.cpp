// The bridge's module entry, its failure path and its teardown.
#include "jvmlink/bridge.h"

namespace bridge {
namespace {

const QXMutexAttributes kMutexAttributes = {256, 0, 0};

ThreadEnvEntry *threadEntryOf(BridgeState *bridge, uint32_t threadId) {
  for (int32_t i = 0; i < bridge->threadCount; i++) {
    if (bridge->threadEntries[i].threadId == threadId) return &bridge->threadEntries[i];
  }
  return nullptr;
}

// Releases the terminating thread's Java side, then everything the start-up acquired, the
// pool (and with it the record) last.
void releaseFromThreadOn(BridgeState *bridge) {
  if (bridge->jvmMutex) {
    uint32_t threadId = bridge->kernel->currentThreadId(bridge->kernel);
    bridge->jvmMutex->lock(bridge->jvmMutex, 1, 1);
    ThreadEnvEntry *entry = threadEntryOf(bridge, threadId);
    if (entry && entry->environment) clearClassCache(bridge, entry->environment);
    entry = threadEntryOf(bridge, threadId);
    if (entry) {
      QXJniExtension *jni = bridge->jniExtension;
      jni->releaseThread(jni, jni, entry->environment);
      *entry = ThreadEnvEntry{0, nullptr, 0};
    }
    bridge->jvmMutex->unlock(bridge->jvmMutex);
  }
  if (bridge->jniExtension) bridge->jniExtension->header.release(bridge->jniExtension);
  if (bridge->jvmMutex) bridge->jvmMutex->header.release(bridge->jvmMutex);
  if (bridge->hashMutex) bridge->hashMutex->header.release(bridge->hashMutex);
  bridge->pool->header.release(bridge->pool);
}

// Also the failure path of the start-up: every step checks what was acquired.
void teardown(void *record) {
  auto *bridge = static_cast<BridgeState *>(record);
  if (bridge->perfExtension) bridge->perfExtension->header.release(bridge->perfExtension);
  releaseFromThreadOn(bridge);
}

QXTranscoder *createTranscoder(BridgeState *bridge, QXMessageContext *context, int32_t from,
                               int32_t to, const QXChar *description) {
  QXTranscoder *transcoder =
      bridge->nlsService->createTranscoder(bridge->nlsService, from, to, 0, context);
  if (!transcoder) reportError(context, kTranscoderMissing, description);
  return transcoder;
}

QXMutex *createMutex(BridgeState *bridge, QXMessageContext *context, const char *name,
                     uint32_t failure) {
  QXMutex *mutex = bridge->kernel->createMutex(bridge->kernel, &kMutexAttributes, context, name);
  if (!mutex) reportError(context, failure);
  return mutex;
}

// The start-up steps after the record exists; false after the failing step's report.
bool acquireResources(BridgeState *bridge, QXKernel *kernel, QXMessageContext *context) {
  bridge->perfExtension =
      static_cast<QXPerfExtension *>(kernel->loadExtension(kernel, u"qxperf", 6, context));
  if (!bridge->perfExtension) {
    reportError(context, kExtensionMissing, u"qxperf");
    return false;
  }
  bridge->nlsService = kernel->qxnls;
  if (!bridge->nlsService) {
    reportError(context, kExtensionMissing, u"qxnls");
    return false;
  }
  bridge->utf8ToQXChar =
      createTranscoder(bridge, context, QX_ENCODING_UTF8, QX_ENCODING_QXCHAR, u"utf8->QXChar");
  if (!bridge->utf8ToQXChar) return false;
  bridge->qxcharToCompiler = createTranscoder(bridge, context, QX_ENCODING_QXCHAR,
                                              QX_ENCODING_COMPILER, u"QXChar->Compiler");
  if (!bridge->qxcharToCompiler) return false;
  bridge->hashMutex = createMutex(bridge, context, "dorn hdfsHashMutex", kCacheMutexNotCreated);
  if (!bridge->hashMutex) return false;
  bridge->jvmMutex = createMutex(bridge, context, "dorn hdfsjvmMutex", kJvmMutexNotCreated);
  if (!bridge->jvmMutex) return false;
  QXKernel *loader = extframe::loaderRecord;
  bridge->jniExtension =
      loader ? static_cast<QXJniExtension *>(loader->loadExtension(loader, u"qxjni", 5, context))
             : nullptr;
  if (!bridge->jniExtension) {
    reportError(context, kExtensionMissing, u"qxjni");
    return false;
  }
  QXJniExtension *jni = bridge->jniExtension;
  bridge->jvmHandle = jni->obtainJvm(jni, 0, 0, 1);
  if (!bridge->jvmHandle) {
    reportError(context, kNoJvm);
    return false;
  }
  return getJNIEnv(bridge, context) != nullptr;
}

void fillOperations(BridgeOperations *operations) {
  *operations = {invokeMethod,
                 constructNewObjectOfClass,
                 methodIdFromClass,
                 fieldIdFromClass,
                 globalClassReference,
                 classNameOfObject,
                 getJNIEnv,
                 haddpaths,
                 haddpath,
                 constructNewArrayString};
}

}  // namespace
}  // namespace bridge

extern "C" QX_EXPORT void *QX_CALL jvmlink(QXKernel *kernel, QXMessageContext *context) {
  using namespace bridge;
  QXPool *pool = nullptr;
  auto *bridge = static_cast<BridgeState *>(
      extframe::newModuleRecord(kernel, context, "JVMLINK Pool", sizeof(BridgeState), &pool));
  if (!bridge) return nullptr;
  bridge->pool = pool;
  bridge->kernel = kernel;
  bridge->instance = newBridgeInstance();
  if (!acquireResources(bridge, kernel, context)) {
    teardown(bridge);
    return nullptr;
  }
  fillOperations(&bridge->operations);
  extframe::completeFrame(&bridge->frame, extframe::moduleTerminate<teardown>);
  return bridge;
}
