// Fault injection: a countdown per injected fault, checked by every operation that can fail,
// and fault sweeps that count or fail the points one thread passes, whatever their kind.
#include <mutex>
#include <vector>

#include "hostkernel/internal.h"

namespace hostkernel {
namespace {

struct ArmedFault {
  Fault fault;
  int remaining;
  std::string name;
};

std::mutex faultMutex;
std::vector<ArmedFault> armedFaults;
std::atomic<size_t> armedCount{0};  // armedFaults.size(), read without the lock

// The sweep of the calling thread: every fault point it passes is counted, and the one whose
// number is failAt fails.
struct ThreadSweep {
  bool active = false;
  int64_t passed = 0;
  int64_t failAt = 0;
  std::string failed;  // the point that failed: "Kind:name"
};
thread_local ThreadSweep sweep;

const char *kindName(Fault fault) {
  static const char *const names[] = {"Allocation",         "MutexCreation", "ExtensionLoad",
                                      "TranscoderCreation", "Conversion",    "JvmObtain",
                                      "ThreadAttach",       "ClassPathAdd",  "JarList",
                                      "ClassPathApply",     "JniCall",       "PoolCreation",
                                      "HostService"};
  static_assert(sizeof names / sizeof names[0] == static_cast<size_t>(Fault::HostService) + 1,
                "a name for every kind of fault");
  return names[static_cast<int>(fault)];
}

bool sweepFails(Fault fault, std::string_view name) {
  if (!sweep.active || ++sweep.passed != sweep.failAt) return false;
  sweep.failed = std::string(kindName(fault)) + ":" + std::string(name);
  return true;
}

}  // namespace

void injectFault(Fault fault, int nth, std::string_view name) {
  if (fault == Fault::JniCall) interposeJniFunctions();
  std::lock_guard<std::mutex> lock(faultMutex);
  armedFaults.push_back({fault, nth, std::string(name)});
  armedCount = armedFaults.size();
}

void clearFaults() {
  std::lock_guard<std::mutex> lock(faultMutex);
  armedFaults.clear();
  armedCount = 0;
}

bool faultPending(Fault fault) {
  std::lock_guard<std::mutex> lock(faultMutex);
  for (const ArmedFault &armed : armedFaults) {
    if (armed.fault == fault) return true;
  }
  return false;
}

void startFaultSweep(int64_t failAt) {
  interposeJniFunctions();
  sweep = {true, 0, failAt, {}};
}

int64_t stopFaultSweep() {
  int64_t passed = sweep.passed;
  sweep.active = false;
  return passed;
}

std::string sweptFault() {
  return sweep.failed;
}

bool shouldFail(Fault fault, std::string_view name) {
  bool fires = sweepFails(fault, name);
  std::lock_guard<std::mutex> lock(faultMutex);
  for (auto it = armedFaults.begin(); it != armedFaults.end();) {
    bool sameKind =
        it->fault == fault || (fault == Fault::PoolCreation && it->fault == Fault::Allocation);
    bool matches = sameKind && (it->name.empty() || it->name == name);
    if (matches && --it->remaining <= 0) {
      fires = true;
      it = armedFaults.erase(it);
    } else {
      ++it;
    }
  }
  armedCount = armedFaults.size();
  return fires;
}

bool anyFaultArmed() {
  return sweep.active || armedCount > 0;
}

}  // namespace hostkernel
