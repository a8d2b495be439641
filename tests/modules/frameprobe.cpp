// A module made only of the shared frame, so that the frame can be tested before the real
// modules stand on it: it creates a pool, loads qxperf through the loader record and returns.
#include "extframe/extframe.h"

namespace {

struct ProbeRecord {
  QXModuleFrame frame;
  QXPool *pool;
  QXPerfExtension *perf;
};

void teardown(void *record) {
  auto *probe = static_cast<ProbeRecord *>(record);
  probe->perf->header.release(probe->perf);
  probe->pool->header.release(probe->pool);
}

}  // namespace

extern "C" QX_EXPORT void *frameprobe(QXKernel *kernel, QXMessageContext *context) {
  QXPool *pool = nullptr;
  auto *probe = static_cast<ProbeRecord *>(
      extframe::newModuleRecord(kernel, context, "FRAMEPROBE Pool", sizeof(ProbeRecord), &pool));
  if (!probe) return nullptr;
  probe->pool = pool;
  QXKernel *loader = extframe::loaderRecord;
  probe->perf =
      static_cast<QXPerfExtension *>(loader->loadExtension(loader, u"qxperf", 6, context));
  if (!probe->perf) {
    pool->header.release(pool);
    return nullptr;
  }
  extframe::completeFrame(&probe->frame, extframe::moduleTerminate<teardown>);
  return probe;
}
