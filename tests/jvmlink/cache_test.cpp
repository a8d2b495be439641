// The class cache: keys as spelled, growth past 4096 entries, and resolution that goes on
// uncached when the cache cannot take a class.
#include <cstdio>
#include <cstring>

#include <atomic>
#include <thread>

#include "tests/jvmlink/bridge_fixture.h"

namespace testsupport {
namespace {

class CacheTest : public BridgeTest {
 protected:
  void TearDown() override {
    if (!generated.empty()) removeTree(generated);
    BridgeTest::TearDown();
  }

  // Writes count empty classes gen/C0000... into a new class directory on the class path.
  std::vector<std::string> generateClasses(int count, const std::string &prefix = "gen/C") {
    if (generated.empty()) generated = temporaryDirectory();
    std::vector<std::string> names;
    for (int i = 0; i < count; i++) {
      char name[64];
      snprintf(name, sizeof name, "%s%04d", prefix.c_str(), i);
      writeEmptyClass(generated, name);
      names.push_back(name);
    }
    return names;
  }

  void addGeneratedDirectory() {
    ASSERT_EQ(ops().haddpath(bridge, context(), generated.c_str()), 0);
  }

  jclass resolve(const char *name) {
    return ops().globalClassReference(bridge, context(), name, env);
  }

  bool cachedAs(const std::string &name) {
    for (uint32_t i = 0; i < bridge->cacheCapacity; i++) {
      const ClassCacheEntry &entry = bridge->cacheEntries[i];
      if ((entry.flags & CLASS_ENTRY_IN_USE) && entry.keyLength == static_cast<int>(name.size()) &&
          memcmp(entry.key, name.data(), name.size()) == 0) {
        return true;
      }
    }
    return false;
  }

  std::string generated;
};

// Two threads making their first lookups on a fresh bridge create the cache once and both find
// their classes (the cache's ready flag is published with release and read with acquire: the
// sanitizer build with threads shows any race).
TEST_F(CacheTest, FirstLookupsOfTwoThreadsOnAFreshBridge) {
  for (int round = 0; round < 20; round++) {
    BridgeState *fresh = loadBridge();
    ASSERT_NE(fresh, nullptr);
    std::atomic<int> found{0};
    auto lookUp = [&](const char *name) {
      JNIEnv *threadEnv = fresh->operations.getJNIEnv(fresh, context());
      if (fresh->operations.globalClassReference(fresh, context(), name, threadEnv)) found++;
      QXJniExtension *jni = fresh->jniExtension;
      jni->releaseThread(jni, jni, threadEnv);
    };
    std::thread one(lookUp, "java/lang/String"), two(lookUp, "java/util/ArrayList");
    one.join();
    two.join();
    EXPECT_EQ(found, 2);
    EXPECT_EQ(__atomic_load_n(&fresh->cacheReady, __ATOMIC_ACQUIRE), 1);
    releaseBridge(fresh);
  }
  EXPECT_TRUE(reports().empty());
}

TEST_F(CacheTest, AHitReturnsTheSameGlobalReference) {
  jclass first = resolve("java/lang/String");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(env->GetObjectRefType(first), JNIGlobalRefType);
  EXPECT_EQ(resolve("java/lang/String"), first);
  EXPECT_EQ(bridge->cacheCapacity, 4096u);
  EXPECT_EQ(cachedClasses(), 1);
  EXPECT_TRUE(reports().empty());
}

TEST_F(CacheTest, NullAndEmptyNamesAreNeverCached) {
  EXPECT_EQ(resolve(nullptr), nullptr);
  EXPECT_FALSE(env->ExceptionCheck());
  EXPECT_EQ(resolve(""), nullptr);
  EXPECT_FALSE(env->ExceptionCheck());
  EXPECT_EQ(cachedClasses(), 0);
  EXPECT_TRUE(reports().empty());
}

TEST_F(CacheTest, DotAndSlashSpellingsAreDifferentKeys) {
  ASSERT_NE(resolve("qxtest/Bridge"), nullptr);
  jclass dotted = resolve("qxtest.Bridge");
  EXPECT_FALSE(env->ExceptionCheck());
  EXPECT_TRUE(cachedAs("qxtest/Bridge"));
  EXPECT_EQ(cachedAs("qxtest.Bridge"), dotted != nullptr)
      << "a dotted name is looked up on its own, never answered by the slashed entry";
  EXPECT_EQ(cachedClasses(), dotted ? 2 : 1);
}

TEST_F(CacheTest, The4097thDistinctClassGrowsTheCacheTo8192) {
  std::vector<std::string> names = generateClasses(4097);
  addGeneratedDirectory();
  for (const std::string &name : names) ASSERT_NE(resolve(name.c_str()), nullptr) << name;
  EXPECT_EQ(bridge->cacheCapacity, 8192u);
  EXPECT_EQ(cachedClasses(), 4097);
  EXPECT_EQ(std::string(bridge->cacheEntries[4096].key, bridge->cacheEntries[4096].keyLength),
            names.back());
  EXPECT_TRUE(reports().empty());
}

TEST_F(CacheTest, FailedGrowthKeepsTheEntriesCachedSoFar) {
  std::vector<std::string> names = generateClasses(4097);
  addGeneratedDirectory();
  for (int i = 0; i < 4096; i++) ASSERT_NE(resolve(names[i].c_str()), nullptr);
  hostkernel::injectFault(Fault::Allocation, 1, "JVMLINK Pool");
  jclass uncached = resolve(names[4096].c_str());
  EXPECT_NE(uncached, nullptr) << "resolution goes on uncached";
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, QX_OUT_OF_MEMORY)}));
  // The caller never owns the reference: the bridge keeps it, once, until its teardown.
  hostkernel::injectFault(Fault::Allocation, 1, "JVMLINK Pool");
  EXPECT_EQ(resolve(names[4096].c_str()), uncached);
  EXPECT_EQ(bridge->uncachedCount, 1);
  EXPECT_EQ(bridge->cacheCapacity, 4096u);
  EXPECT_EQ(cachedClasses(), 4096);
  EXPECT_TRUE(cachedAs(names[0]));
  EXPECT_FALSE(cachedAs(names[4096]));
}

TEST_F(CacheTest, FailedCreationLeavesResolutionWorkingUncachedAndIsTriedAgain) {
  // The lookup and the insertion each try to create the cache.
  const Report noMemory = statusReport(4, QX_OUT_OF_MEMORY);
  const Report notCreated = statusReport(4, 0x86BFF002, {"hashTableInit"});
  const std::vector<Report> creationFailed = {noMemory, notCreated, noMemory, notCreated};
  for (int attempt = 0; attempt < 2; attempt++) {
    hostkernel::injectFault(Fault::Allocation, 1, "JVMLINK Pool");
    hostkernel::injectFault(Fault::Allocation, 2, "JVMLINK Pool");
    EXPECT_NE(ops().methodIdFromClass(bridge, context(), "qxtest/Bridge", "touch", "()V",
                                      JVMLINK_STATIC, env),
              nullptr);
    EXPECT_EQ(reports(), creationFailed);
    EXPECT_EQ(bridge->cacheReady, 0);
    messages.clear();
  }
  EXPECT_NE(resolve("qxtest/Bridge"), nullptr);
  EXPECT_EQ(bridge->cacheReady, 1);
  EXPECT_TRUE(reports().empty());
}

TEST_F(CacheTest, UncachableClassIsReportedWithItsNameCutTo100Bytes) {
  std::string longPackage = "gen/" + std::string(120, 'p');
  std::vector<std::string> names = generateClasses(1, longPackage + "/Long");
  addGeneratedDirectory();
  ASSERT_NE(resolve("java/lang/Object"), nullptr);  // the cache exists
  hostkernel::injectFault(Fault::Allocation, 1, "JVMLINK Pool");
  EXPECT_NE(resolve(names[0].c_str()), nullptr);
  EXPECT_EQ(reports(),
            std::vector<Report>(
                {statusReport(4, QX_OUT_OF_MEMORY),
                 statusReport(4, 0x86BFF003, {"insertEntryIntoTable", names[0].substr(0, 100)})}));
  EXPECT_FALSE(cachedAs(names[0]));
  EXPECT_EQ(cachedClasses(), 1);
}

}  // namespace
}  // namespace testsupport
