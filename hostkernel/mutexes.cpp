// Host mutexes and thread ids.
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "hostkernel/internal.h"

namespace hostkernel {
namespace {

constexpr uint32_t kMutexEyeCatcher = 0x5854554D;  // "MUTX"

struct Mutex {
  QXMutex record;  // first: the record is the mutex
  std::mutex mutex;
  std::string name;
};

// The names of the mutexes the calling thread holds, for the check that no Java call runs under
// a lock that must not be held across one; kept only while that check runs.
thread_local std::vector<const std::string *> heldNames;
std::atomic<bool> trackingHeld{false};

int32_t lock(QXMutex *record, int32_t, int32_t) {
  Mutex *mutex = reinterpret_cast<Mutex *>(record);
  mutex->mutex.lock();
  if (trackingHeld) heldNames.push_back(&mutex->name);
  return 0;
}

int32_t unlock(QXMutex *record) {
  Mutex *mutex = reinterpret_cast<Mutex *>(record);
  for (auto it = heldNames.rbegin(); it != heldNames.rend(); ++it) {
    if (*it == &mutex->name) {
      heldNames.erase(std::next(it).base());
      break;
    }
  }
  mutex->mutex.unlock();
  return 0;
}

void destroy(void *record) {
  delete static_cast<Mutex *>(record);
  live().mutexes--;
}

std::atomic<uint32_t> lastThreadId{0};

// Ids of ended threads, handed out again lowest first when reuse is on.
std::mutex idMutex;
std::set<uint32_t> freeIds;
std::atomic<bool> reuseIds{false};

uint32_t newThreadId() {
  if (reuseIds) {
    std::lock_guard<std::mutex> lock(idMutex);
    if (!freeIds.empty()) {
      uint32_t id = *freeIds.begin();
      freeIds.erase(freeIds.begin());
      return id;
    }
  }
  return ++lastThreadId;
}

struct ThreadIdentity {
  uint32_t id = newThreadId();
  ~ThreadIdentity() {
    if (!reuseIds) return;
    std::lock_guard<std::mutex> lock(idMutex);
    freeIds.insert(id);
  }
};

}  // namespace

QXMutex *createMutex(QXKernel *, const QXMutexAttributes *, QXMessageContext *, const char *name) {
  if (shouldFail(Fault::MutexCreation, name ? name : "")) return nullptr;
  Mutex *mutex = new Mutex;
  mutex->record = {{kMutexEyeCatcher, nullptr, destroy}, lock, unlock};
  mutex->name = name ? name : "";
  live().mutexes++;
  return &mutex->record;
}

void trackHeldMutexes(bool track) {
  trackingHeld = track;
}

bool holdsMutexNamed(std::string_view name) {
  for (const std::string *held : heldNames) {
    if (*held == name) return true;
  }
  return false;
}

uint32_t currentThreadId(QXKernel *) {
  thread_local ThreadIdentity identity;
  return identity.id;
}

void reuseThreadIds(bool reuse) {
  reuseIds = reuse;
  if (reuse) return;
  std::lock_guard<std::mutex> lock(idMutex);
  freeIds.clear();
}

}  // namespace hostkernel
