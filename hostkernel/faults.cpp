// Fault injection: a countdown per injected fault, checked by every operation that can fail.
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

}  // namespace

void injectFault(Fault fault, int nth, std::string_view name) {
  std::lock_guard<std::mutex> lock(faultMutex);
  armedFaults.push_back({fault, nth, std::string(name)});
}

void clearFaults() {
  std::lock_guard<std::mutex> lock(faultMutex);
  armedFaults.clear();
}

bool faultPending(Fault fault) {
  std::lock_guard<std::mutex> lock(faultMutex);
  for (const ArmedFault &armed : armedFaults) {
    if (armed.fault == fault) return true;
  }
  return false;
}

bool shouldFail(Fault fault, std::string_view name) {
  std::lock_guard<std::mutex> lock(faultMutex);
  bool fires = false;
  for (auto it = armedFaults.begin(); it != armedFaults.end();) {
    bool matches = it->fault == fault && (it->name.empty() || it->name == name);
    if (matches && --it->remaining <= 0) {
      fires = true;
      it = armedFaults.erase(it);
    } else {
      ++it;
    }
  }
  return fires;
}

}  // namespace hostkernel
