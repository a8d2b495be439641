// The kernel record and the accounting of live objects.
#include "hostkernel/internal.h"

namespace hostkernel {

LiveCounters &live() {
  static LiveCounters *counters = new LiveCounters;  // used until the very end of the process
  return *counters;
}

QXKernel *kernel() {
  static QXKernel record = {{0x4C4E524B /* "KRNL" */, nullptr, nullptr},
                            createPool,
                            createMutex,
                            loadExtension,
                            currentThreadId,
                            nlsService(),
                            lookupOption,
                            qxzinfo,
                            localeService()};
  return &record;
}

Counters liveCounters() {
  Counters counters;
  counters.pools = live().pools;
  counters.blocks = live().blocks;
  counters.bytes = live().bytes;
  counters.mutexes = live().mutexes;
  counters.extensions = live().extensions;
  counters.attachedThreads = live().attachedThreads;
  counters.ioObjects = live().ioObjects;
  return counters;
}

}  // namespace hostkernel
