// Pools, mutexes and thread ids of the host kernel implementation, with their accounting and
// fault injection.
#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using hostkernel::Fault;

class PoolTest : public testsupport::HostTest {
 protected:
  QXPool *createPool(const char *name) {
    QXKernel *kernel = hostkernel::kernel();
    QXPoolAttributes attributes = {};
    return kernel->createPool(kernel, &attributes, 0, name);
  }
};

TEST_F(PoolTest, DestroyFreesEveryBlockAndTheCountersReturn) {
  hostkernel::Counters before = hostkernel::liveCounters();
  QXPool *pool = createPool("test pool");
  ASSERT_NE(pool, nullptr);
  for (size_t size : {1, 100, 4096}) ASSERT_NE(pool->allocate(pool, size, 0), nullptr);
  hostkernel::Counters during = hostkernel::liveCounters();
  EXPECT_EQ(during.pools, before.pools + 1);
  EXPECT_EQ(during.blocks, before.blocks + 3);
  EXPECT_EQ(during.bytes, before.bytes + 4197);
  pool->header.release(pool);
  EXPECT_EQ(hostkernel::liveCounters(), before);
}

TEST_F(PoolTest, ZeroFillCoversAllocationAndTheGrownPartOfAReallocation) {
  QXPool *pool = createPool("test pool");
  auto *zeroed = static_cast<unsigned char *>(pool->allocate(pool, 64, QX_ZERO_FILL));
  ASSERT_NE(zeroed, nullptr);
  for (int i = 0; i < 64; i++) ASSERT_EQ(zeroed[i], 0);

  auto *block = static_cast<unsigned char *>(pool->allocate(pool, 16, 0));
  memset(block, 0xAB, 16);
  block = static_cast<unsigned char *>(pool->reallocate(pool, block, 4096, QX_ZERO_FILL));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 16; i++) ASSERT_EQ(block[i], 0xAB) << i;
  for (int i = 16; i < 4096; i++) ASSERT_EQ(block[i], 0) << i;
  hostkernel::Counters counters = hostkernel::liveCounters();
  pool->free(pool, block);
  EXPECT_EQ(hostkernel::liveCounters().bytes, counters.bytes - 4096);
  pool->header.release(pool);
}

TEST_F(PoolTest, ReallocatingNothingAllocates) {
  QXPool *pool = createPool("test pool");
  void *block = pool->reallocate(pool, nullptr, 32, QX_ZERO_FILL);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(static_cast<char *>(block)[31], 0);
  pool->header.release(pool);
}

TEST_F(PoolTest, TheNthAllocationFailsInAnyPoolOrOnlyInTheNamedOne) {
  QXPool *first = createPool("first");
  QXPool *second = createPool("second");
  hostkernel::injectFault(Fault::Allocation, 3);
  EXPECT_NE(first->allocate(first, 8, 0), nullptr);
  EXPECT_NE(second->allocate(second, 8, 0), nullptr);
  EXPECT_EQ(first->allocate(first, 8, 0), nullptr);
  EXPECT_NE(first->allocate(first, 8, 0), nullptr) << "a fault fires once";

  hostkernel::injectFault(Fault::Allocation, 1, "second");
  EXPECT_NE(first->allocate(first, 8, 0), nullptr);
  EXPECT_EQ(second->allocate(second, 8, 0), nullptr);
  EXPECT_FALSE(hostkernel::faultPending(Fault::Allocation));
  first->header.release(first);
  second->header.release(second);
}

TEST_F(PoolTest, AFailedReallocationKeepsTheBlock) {
  QXPool *pool = createPool("test pool");
  auto *block = static_cast<char *>(pool->allocate(pool, 8, 0));
  strcpy(block, "kept");
  hostkernel::injectFault(Fault::Allocation, 1, "test pool");
  EXPECT_EQ(pool->reallocate(pool, block, 1 << 20, 0), nullptr);
  EXPECT_STREQ(block, "kept");
  pool->free(pool, block);
  pool->header.release(pool);
}

TEST_F(PoolTest, PoolCreationCanFail) {
  hostkernel::Counters before = hostkernel::liveCounters();
  hostkernel::injectFault(Fault::Allocation, 1, "doomed");
  EXPECT_EQ(createPool("doomed"), nullptr);
  EXPECT_EQ(hostkernel::liveCounters(), before);
}

class MutexTest : public testsupport::HostTest {
 protected:
  QXMutex *createMutex(const char *name) {
    QXKernel *kernel = hostkernel::kernel();
    QXMutexAttributes attributes = {256, 0, 0};
    return kernel->createMutex(kernel, &attributes, messages.get(), name);
  }
};

TEST_F(MutexTest, GivesExclusiveOwnershipAcrossThreads) {
  QXMutex *mutex = createMutex("counter");
  ASSERT_NE(mutex, nullptr);
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; i++) {
        mutex->lock(mutex, 1, 1);
        long seen = counter;
        counter = seen + 1;
        mutex->unlock(mutex);
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(counter, 80000);
  mutex->header.release(mutex);
}

TEST_F(MutexTest, CreationIsCountedAndCanBeMadeToFailByName) {
  hostkernel::Counters before = hostkernel::liveCounters();
  hostkernel::injectFault(Fault::MutexCreation, 1, "second");
  QXMutex *first = createMutex("first");
  EXPECT_EQ(createMutex("second"), nullptr);
  EXPECT_EQ(hostkernel::liveCounters().mutexes, before.mutexes + 1);
  first->header.release(first);
  EXPECT_EQ(hostkernel::liveCounters(), before);
}

TEST(ThreadIdTest, NonzeroStablePerThreadAndDistinctAcrossThreads) {
  QXKernel *kernel = hostkernel::kernel();
  uint32_t mine = kernel->currentThreadId(kernel);
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(kernel->currentThreadId(kernel), mine);
  std::set<uint32_t> ids = {mine};
  for (int t = 0; t < 3; t++) {
    std::thread([&] { ids.insert(kernel->currentThreadId(kernel)); }).join();
  }
  EXPECT_EQ(ids.size(), 4u);
}

}  // namespace
