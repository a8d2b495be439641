// A started dfslink for each test, loaded through the host kernel as the storage engine does;
// at the end everything it acquired must be gone.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "dfslink/dfslink.h"
#include "extframe/guards.h"
#include "tests/support/test_support.h"

namespace testsupport {

using extframe::LocalRef;
using hostkernel::Fault;
using hostkernel::Report;
using hostkernel::statusReport;
using hostkernel::textReport;

class DfsTest : public HostTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  DfsLinkState *loadDfs();
  DfsOperations &ops() { return dfs->operations; }
  BridgeOperations &bridgeOps() { return dfs->jvm->operations; }
  QXMessageContext *context() { return messages.get(); }
  std::vector<Report> reports() { return messages.reports(); }

  // The class name of a Java object, as Java gives it.
  std::string classNameOf(jobject object);
  // Blocks the modules keep on purpose from one call to the next: class cache keys and its
  // index, classes the cache could not take, and the records of closed handles.
  int64_t keptBlocks();

  DfsLinkState *dfs = nullptr;
  JNIEnv *env = nullptr;
  hostkernel::Counters baseline;
};

// QXChar text of UTF-8 text.
inline std::u16string qx(const std::string &text) {
  return hostkernel::toQXChar(text);
}

}  // namespace testsupport
