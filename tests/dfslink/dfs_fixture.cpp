#include "tests/dfslink/dfs_fixture.h"

namespace testsupport {

void DfsTest::SetUp() {
  HostTest::SetUp();
  baseline = hostkernel::liveCounters();
  dfs = loadDfs();
  ASSERT_NE(dfs, nullptr);
  env = bridgeOps().getJNIEnv(dfs->jvm, context());
  ASSERT_NE(env, nullptr);
  messages.clear();
}

void DfsTest::TearDown() {
  if (env && env->ExceptionCheck()) {
    ADD_FAILURE() << "the test left a Java exception pending";
    env->ExceptionDescribe();
  }
  if (dfs) dfs->frame.header.release(dfs);
  EXPECT_EQ(hostkernel::liveCounters(), baseline) << "dfslink left something behind";
  HostTest::TearDown();
}

DfsLinkState *DfsTest::loadDfs() {
  QXKernel *kernel = hostkernel::kernel();
  return static_cast<DfsLinkState *>(kernel->loadExtension(kernel, u"dfslink", 7, context()));
}

std::string DfsTest::classNameOf(jobject object) {
  char *name = bridgeOps().classNameOfObject(dfs->jvm, context(), object, env);
  std::string copy = name ? name : "";
  if (name) dfs->jvm->pool->free(dfs->jvm->pool, name);
  return copy;
}

int64_t DfsTest::keptBlocks() {
  BridgeState *bridge = dfs->jvm;
  int64_t kept = (bridge->uncachedClasses ? 1 : 0) + dfs->retiredCount + (dfs->retired ? 1 : 0) +
                 (bridge->lookupIndex ? 1 : 0) + bridge->indexedCount;
  for (uint32_t i = 0; i < bridge->cacheCapacity; i++) {
    if (bridge->cacheEntries[i].key) kept++;
  }
  return kept + (bridge->cacheEntries ? 1 : 0);
}

}  // namespace testsupport
