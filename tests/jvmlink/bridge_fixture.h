// A started bridge for each test, loaded through the host kernel like a holder does, with the
// test classes on the JVM's class path; at the end everything it acquired must be gone.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "extframe/guards.h"
#include "jvmlink/jvmlink.h"
#include "tests/support/test_support.h"

namespace testsupport {

using extframe::LocalRef;
using hostkernel::Fault;
using hostkernel::Report;
using hostkernel::statusReport;

class BridgeTest : public HostTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Loads jvmlink through the host kernel's loader; NULL when its start-up failed.
  BridgeState *loadBridge();
  void releaseBridge(BridgeState *record);

  BridgeOperations &ops() { return bridge->operations; }
  QXMessageContext *context() { return messages.get(); }
  std::vector<Report> reports() { return messages.reports(); }

  // Calls body on a new host thread, joined before returning.
  template <typename Body>
  void onNewThread(Body body) {
    std::thread(body).join();
  }

  // A static int method of qxtest/Bridge without arguments, or -999 when the call failed.
  int callsSoFar();

  // The in-use entries of the class cache.
  int cachedClasses();

  BridgeState *bridge = nullptr;
  JNIEnv *env = nullptr;
  hostkernel::Counters baseline;
};

// A class-path list of the given items, with NUL separators as its builder writes them.
struct OwnedList {
  std::string text;
  std::vector<int32_t> lengths;
  ClassPathList list{};

  explicit OwnedList(const std::vector<std::string> &items, uint32_t flags = 0) {
    for (const std::string &item : items) {
      text += item;
      text += '\0';
      lengths.push_back(static_cast<int32_t>(item.size() + 1));
    }
    list = {text.data(), lengths.data(), static_cast<int32_t>(items.size()),
            static_cast<int32_t>(text.size()), flags};
  }
};

// The jar with qxtest/Bridge and qxtest/Derived.
std::string bridgeClassesJar();

// Writes an empty public class named name (slash form) as a class file under directory.
void writeEmptyClass(const std::string &directory, const std::string &name);

}  // namespace testsupport
