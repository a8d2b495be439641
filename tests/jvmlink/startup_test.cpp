// The bridge's start-up in its exact order, its failure path and its teardown.
#include <dlfcn.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "tests/jvmlink/bridge_fixture.h"

namespace testsupport {
namespace {

class StartupTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    baseline = hostkernel::liveCounters();
  }
  BridgeState *load() {
    QXKernel *kernel = hostkernel::kernel();
    return static_cast<BridgeState *>(kernel->loadExtension(kernel, u"jvmlink", 7, messages.get()));
  }
  void expectNothingLeft() { EXPECT_EQ(hostkernel::liveCounters(), baseline); }
  hostkernel::Counters baseline;
};

TEST_F(StartupTest, ReturnsACompleteRecord) {
  BridgeState *bridge = load();
  ASSERT_NE(bridge, nullptr);
  EXPECT_TRUE(messages.reports().empty());
  EXPECT_EQ(bridge->frame.header.eyeCatcher, QX_MODULE_EYE_CATCHER);
  EXPECT_NE(bridge->perfExtension, nullptr);
  EXPECT_EQ(bridge->nlsService, hostkernel::kernel()->qxnls);
  EXPECT_EQ(bridge->kernel, hostkernel::kernel());
  EXPECT_TRUE(bridge->utf8ToQXChar && bridge->qxcharToCompiler && bridge->pool &&
              bridge->hashMutex && bridge->jvmMutex && bridge->jniExtension);
  EXPECT_NE(bridge->jvmHandle, 0);
  EXPECT_EQ(bridge->threadCapacity, 10) << "the first request grows the table from 0 to 10";
  EXPECT_EQ(bridge->threadCount, 1);
  EXPECT_EQ(bridge->threadEntries[0].threadId,
            hostkernel::kernel()->currentThreadId(hostkernel::kernel()));
  EXPECT_EQ(bridge->cacheReady, 0);
  EXPECT_EQ(bridge->classPathText, nullptr);
  auto **slots = reinterpret_cast<void **>(&bridge->operations);
  for (size_t i = 0; i < sizeof(BridgeOperations) / sizeof(void *); i++) {
    EXPECT_NE(slots[i], nullptr) << "slot " << i;
  }
  int32_t a, b, c;
  bridge->frame.moduleVersion(bridge, &a, &b, &c);
  EXPECT_EQ(std::vector<int32_t>({a, b, c}), std::vector<int32_t>({5, 1, 1}));
  bridge->frame.moduleAttributes(bridge, &a, &b, &c);
  EXPECT_EQ(std::vector<int32_t>({a, b, c}), std::vector<int32_t>({1, 0, 0}));
  EXPECT_EQ(bridge->frame.moduleTerminate(nullptr), static_cast<int32_t>(QX_MISSING_ARGUMENT));
  bridge->frame.header.release(bridge);
  expectNothingLeft();
}

struct StartupFailure {
  const char *what;
  Fault fault;
  int nth;
  const char *name;
  std::vector<Report> expected;
};

class StartupFailureTest : public StartupTest,
                           public ::testing::WithParamInterface<StartupFailure> {};

TEST_P(StartupFailureTest, ReportsItsCodeOnceAndLeavesNothingBehind) {
  const StartupFailure &failure = GetParam();
  hostkernel::injectFault(failure.fault, failure.nth, failure.name);
  EXPECT_EQ(load(), nullptr);
  EXPECT_EQ(messages.reports(), failure.expected);
  EXPECT_FALSE(hostkernel::faultPending(failure.fault)) << "the fault did not fire";
  expectNothingLeft();
}

const Report kExtensionNotFound(const char *name) {
  return statusReport(4, QX_IO_NOT_FOUND, {name});
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, StartupFailureTest,
    ::testing::Values(
        StartupFailure{"pool", Fault::Allocation, 1, "JVMLINK Pool", {}},
        StartupFailure{
            "record", Fault::Allocation, 2, "JVMLINK Pool", {statusReport(4, QX_OUT_OF_MEMORY)}},
        StartupFailure{"qxperf",
                       Fault::ExtensionLoad,
                       1,
                       "qxperf",
                       {kExtensionNotFound("qxperf"), statusReport(4, 0x86BFF015, {"qxperf"})}},
        StartupFailure{"utf8 transcoder",
                       Fault::TranscoderCreation,
                       1,
                       "20->25",
                       {statusReport(4, 0x86BFF016, {"utf8->QXChar"})}},
        StartupFailure{"compiler transcoder",
                       Fault::TranscoderCreation,
                       1,
                       "25->62",
                       {statusReport(4, 0x86BFF016, {"QXChar->Compiler"})}},
        StartupFailure{"hash mutex",
                       Fault::MutexCreation,
                       1,
                       "dorn hdfsHashMutex",
                       {statusReport(4, 0x86BFF012)}},
        StartupFailure{"jvm mutex",
                       Fault::MutexCreation,
                       1,
                       "dorn hdfsjvmMutex",
                       {statusReport(4, 0x86BFF013)}},
        StartupFailure{"qxjni",
                       Fault::ExtensionLoad,
                       1,
                       "qxjni",
                       {kExtensionNotFound("qxjni"), statusReport(4, 0x86BFF015, {"qxjni"})}},
        StartupFailure{"no JVM", Fault::JvmObtain, 1, "", {statusReport(4, 0x86BFF014)}},
        StartupFailure{"no environment",
                       Fault::ThreadAttach,
                       1,
                       "",
                       {statusReport(4, 0x86BFF009, {"getJNIEnv"})}},
        StartupFailure{"thread table",
                       Fault::Allocation,
                       3,
                       "JVMLINK Pool",
                       {statusReport(4, QX_OUT_OF_MEMORY)}}),
    nameOf<StartupFailure>);

// Fails every allocation in turn until the start-up succeeds: each failure is clean.
TEST_F(StartupTest, EveryFailedAllocationIsClean) {
  for (int nth = 1;; nth++) {
    hostkernel::injectFault(Fault::Allocation, nth);
    messages.clear();
    BridgeState *bridge = load();
    bool fired = !hostkernel::faultPending(Fault::Allocation);
    hostkernel::clearFaults();
    if (bridge) {
      EXPECT_FALSE(fired) << "start-up succeeded although allocation " << nth << " failed";
      bridge->frame.header.release(bridge);
      expectNothingLeft();
      break;
    }
    EXPECT_TRUE(fired);
    expectNothingLeft();
    ASSERT_LT(nth, 50);
  }
}

TEST_F(StartupTest, MissingTranscodingServiceIsReported) {
  void *library = dlopen(QX_LIBRARY_DIR "/libjvmlink.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr);
  QXKernel withoutNls = *hostkernel::kernel();
  withoutNls.qxnls = nullptr;
  reinterpret_cast<QXExtentFunction>(dlsym(library, "qxextent"))(&withoutNls);
  auto entry = reinterpret_cast<QXModuleEntryFunction>(dlsym(library, "jvmlink"));
  EXPECT_EQ(entry(&withoutNls, messages.get()), nullptr);
  EXPECT_EQ(messages.reports(), std::vector<Report>({statusReport(4, 0x86BFF015, {"qxnls"})}));
  dlclose(library);
  expectNothingLeft();
}

// A loaded qxjni of the test's own, to release a thread the bridge left attached.
void releaseThisThreadThroughQxjni() {
  QXKernel *kernel = hostkernel::kernel();
  auto *jni = static_cast<QXJniExtension *>(kernel->loadExtension(kernel, u"qxjni", 5, nullptr));
  jni->releaseThread(jni, jni, nullptr);
  jni->header.release(jni);
}

TEST_F(StartupTest, TeardownOnAThreadWithoutEnvironmentReleasesNothingJavaSide) {
  BridgeState *bridge = load();
  ASSERT_NE(bridge, nullptr);
  JNIEnv *env = bridge->operations.getJNIEnv(bridge, messages.get());
  jclass cached =
      bridge->operations.globalClassReference(bridge, messages.get(), "java/lang/String", env);
  ASSERT_NE(cached, nullptr);
  std::thread([&] { bridge->frame.header.release(bridge); }).join();
  EXPECT_EQ(env->GetObjectRefType(cached), JNIGlobalRefType) << "the cache was not cleared";
  hostkernel::Counters left = hostkernel::liveCounters();
  EXPECT_EQ(left.attachedThreads, baseline.attachedThreads + 1) << "no thread was released";
  EXPECT_EQ(left.pools, baseline.pools);
  EXPECT_EQ(left.mutexes, baseline.mutexes);
  EXPECT_EQ(left.extensions, baseline.extensions);
  env->DeleteGlobalRef(cached);
  releaseThisThreadThroughQxjni();
}

TEST_F(StartupTest, TeardownReleasesOnlyTheTerminatingThread) {
  BridgeState *bridge = load();
  ASSERT_NE(bridge, nullptr);
  std::mutex mutex;
  std::condition_variable changed;
  int stage = 0;
  auto waitFor = [&](int wanted) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return stage >= wanted; });
  };
  auto advance = [&](int to) {
    std::lock_guard<std::mutex> lock(mutex);
    stage = to;
    changed.notify_all();
  };
  std::thread other([&] {
    EXPECT_NE(bridge->operations.getJNIEnv(bridge, messages.get()), nullptr);
    advance(1);
    waitFor(2);
    JNIEnv *env = nullptr;
    EXPECT_EQ(hostkernel::javaVm()->GetEnv(reinterpret_cast<void **>(&env), JNI_VERSION_1_8),
              JNI_OK)
        << "the other thread stays attached";
    releaseThisThreadThroughQxjni();
  });
  waitFor(1);
  EXPECT_EQ(bridge->threadCount, 2);
  bridge->frame.header.release(bridge);
  advance(2);
  other.join();
  EXPECT_EQ(hostkernel::liveCounters(), baseline);
}

TEST(JvmlinkExportsTest, ExportsOnlyTheFrameAndItsEntry) {
  EXPECT_EQ(exportedSymbols("jvmlink"),
            (std::set<std::string>{"qxextent", "qxextver", "qxvercn1", "jvmlink"}));
}

}  // namespace
}  // namespace testsupport
