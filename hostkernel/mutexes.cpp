// Host mutexes and thread ids.
#include <mutex>
#include <string>

#include "hostkernel/internal.h"

namespace hostkernel {
namespace {

constexpr uint32_t kMutexEyeCatcher = 0x5854554D;  // "MUTX"

struct Mutex {
  QXMutex record;  // first: the record is the mutex
  std::mutex mutex;
};

int32_t lock(QXMutex *record, int32_t, int32_t) {
  reinterpret_cast<Mutex *>(record)->mutex.lock();
  return 0;
}

int32_t unlock(QXMutex *record) {
  reinterpret_cast<Mutex *>(record)->mutex.unlock();
  return 0;
}

void destroy(void *record) {
  delete static_cast<Mutex *>(record);
  live().mutexes--;
}

std::atomic<uint32_t> lastThreadId{0};

}  // namespace

QXMutex *createMutex(QXKernel *, const QXMutexAttributes *, QXMessageContext *, const char *name) {
  if (shouldFail(Fault::MutexCreation, name ? name : "")) return nullptr;
  Mutex *mutex = new Mutex;
  mutex->record = {{kMutexEyeCatcher, nullptr, destroy}, lock, unlock};
  live().mutexes++;
  return &mutex->record;
}

uint32_t currentThreadId(QXKernel *) {
  thread_local uint32_t id = ++lastThreadId;
  return id;
}

}  // namespace hostkernel
