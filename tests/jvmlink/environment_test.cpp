// getJNIEnv: the per-thread table, its growth and reuse, the class path applied once per
// thread, and concurrent calls through the bridge.
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "tests/jvmlink/bridge_fixture.h"

namespace testsupport {
namespace {

// Keeps threads alive, each with its environment, until released together.
class LiveThreads {
 public:
  template <typename Body>
  void start(int count, Body body) {
    for (int i = 0; i < count; i++) {
      threads_.emplace_back([this, body, i] {
        body(i);
        std::unique_lock<std::mutex> lock(mutex_);
        ready_++;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
      });
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return ready_ == static_cast<int>(threads_.size()); });
  }
  void finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = true;
      changed_.notify_all();
    }
    for (std::thread &thread : threads_) thread.join();
  }

 private:
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int ready_ = 0;
  bool released_ = false;
};

using EnvironmentTest = BridgeTest;

TEST_F(EnvironmentTest, TheSameThreadGetsTheSameEnvironmentWithoutANewEntry) {
  EXPECT_EQ(ops().getJNIEnv(bridge, context()), env);
  EXPECT_EQ(bridge->threadCount, 1);
  EXPECT_TRUE(reports().empty());
}

TEST_F(EnvironmentTest, AThreadGivenAnEndedThreadsIdGetsItsOwnEnvironment) {
  hostkernel::reuseThreadIds(true);
  QXKernel *kernel = hostkernel::kernel();
  uint32_t endedId = 0;
  onNewThread([&] {
    EXPECT_NE(ops().getJNIEnv(bridge, context()), nullptr);
    endedId = kernel->currentThreadId(kernel);
  });  // the thread ends attached; the host detaches it
  int32_t entries = bridge->threadCount;
  for (int i = 0; i < 3; i++) {
    onNewThread([&] {
      ASSERT_EQ(kernel->currentThreadId(kernel), endedId) << "the host reuses the id";
      JNIEnv *got = ops().getJNIEnv(bridge, context());
      JNIEnv *own = nullptr;
      hostkernel::javaVm()->GetEnv(reinterpret_cast<void **>(&own), JNI_VERSION_1_8);
      ASSERT_NE(got, nullptr);
      ASSERT_EQ(got, own) << "not the ended thread's environment";
      jclass usable = got->FindClass("java/lang/String");
      EXPECT_NE(usable, nullptr);
      got->DeleteLocalRef(usable);
    });
  }
  hostkernel::reuseThreadIds(false);
  EXPECT_EQ(bridge->threadCount, entries) << "the ended thread's entry is taken over";
  EXPECT_TRUE(reports().empty());
}

TEST_F(EnvironmentTest, EleventhThreadGrowsTheTableToTwentyAndFreedEntriesAreReused) {
  LiveThreads threads;
  std::vector<JNIEnv *> environments(10);
  threads.start(10, [&](int i) { environments[i] = ops().getJNIEnv(bridge, context()); });
  EXPECT_EQ(bridge->threadCapacity, 20);
  EXPECT_EQ(bridge->threadCount, 11);
  for (JNIEnv *threadEnv : environments) EXPECT_NE(threadEnv, nullptr);

  // A freed entry (thread id 0, as teardown leaves it) is taken before the table grows.
  ThreadEnvEntry saved = bridge->threadEntries[4];
  bridge->threadEntries[4] = ThreadEnvEntry{0, nullptr, 0};
  uint32_t newcomer = 0;
  onNewThread([&] {
    EXPECT_NE(ops().getJNIEnv(bridge, context()), nullptr);
    newcomer = hostkernel::kernel()->currentThreadId(hostkernel::kernel());
    QXJniExtension *jni = bridge->jniExtension;
    jni->releaseThread(jni, jni, nullptr);
  });
  EXPECT_EQ(bridge->threadEntries[4].threadId, newcomer);
  EXPECT_EQ(bridge->threadCount, 11);
  bridge->threadEntries[4] = saved;
  threads.finish();
  EXPECT_TRUE(reports().empty());
  // The ten threads ended attached; their attachments ended with them.
}

TEST_F(EnvironmentTest, FailedAttachReportsAndLeavesTheSlotFree) {
  onNewThread([&] {
    hostkernel::injectFault(Fault::ThreadAttach, 1);
    EXPECT_EQ(ops().getJNIEnv(bridge, context()), nullptr);
  });
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF009, {"getJNIEnv"})}));
  EXPECT_EQ(bridge->threadCount, 1);
}

TEST_F(EnvironmentTest, TableThatCannotGrowReportsOutOfMemory) {
  LiveThreads threads;
  threads.start(9, [&](int) { ops().getJNIEnv(bridge, context()); });
  onNewThread([&] {
    hostkernel::injectFault(Fault::Allocation, 1, "JVMLINK Pool");
    EXPECT_EQ(ops().getJNIEnv(bridge, context()), nullptr);
  });
  threads.finish();
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, QX_OUT_OF_MEMORY)}));
  EXPECT_EQ(bridge->threadCapacity, 10);
}

TEST_F(EnvironmentTest, FailedItemMakesTheNextCallApplyTheWholeListAgain) {
  std::string directory = temporaryDirectory();
  std::string late = directory + "/late";
  OwnedList list({testDataDirectory() + "/in-jar.jar", late});
  ASSERT_EQ(ops().haddpaths(bridge, context(), &list.list), 0);
  onNewThread([&] {
    ASSERT_NE(ops().getJNIEnv(bridge, context()), nullptr);
    EXPECT_EQ(bridge->threadEntries[1].flags & THREAD_CLASS_PATH_APPLIED, 0u);
    std::filesystem::create_directory(late);
    ASSERT_NE(ops().getJNIEnv(bridge, context()), nullptr);
    EXPECT_EQ(bridge->threadEntries[1].flags, THREAD_CLASS_PATH_APPLIED);
    // Applied once: a failing add would show if the list were applied again.
    hostkernel::injectFault(Fault::ClassPathAdd, 1);
    ASSERT_NE(ops().getJNIEnv(bridge, context()), nullptr);
    EXPECT_TRUE(hostkernel::faultPending(Fault::ClassPathAdd));
    hostkernel::clearFaults();
    QXJniExtension *jni = bridge->jniExtension;
    jni->releaseThread(jni, jni, nullptr);
  });
  removeTree(directory);
}

TEST_F(EnvironmentTest, WithoutAKeptClassPathNoItemIsAddedAndNoFlagSet) {
  onNewThread([&] {
    hostkernel::injectFault(Fault::ClassPathAdd, 1);
    ASSERT_NE(ops().getJNIEnv(bridge, context()), nullptr);
    EXPECT_TRUE(hostkernel::faultPending(Fault::ClassPathAdd));
    EXPECT_EQ(bridge->threadEntries[1].flags, 0u);
    QXJniExtension *jni = bridge->jniExtension;
    jni->releaseThread(jni, jni, nullptr);
  });
}

// The flags of the calling thread's entry, read under the lock other threads grow the table with.
uint32_t ownFlags(BridgeState *bridge) {
  QXKernel *kernel = hostkernel::kernel();
  uint32_t id = kernel->currentThreadId(kernel);
  extframe::MutexLock lock(bridge->jvmMutex);
  for (int32_t i = 0; i < bridge->threadCount; i++) {
    if (bridge->threadEntries[i].threadId == id) return bridge->threadEntries[i].flags;
  }
  return 0xFFFFFFFFu;
}

// A thread that asked for its environment before another thread kept the class path gets it
// applied on its next request: alone, and with 200 threads racing the haddpaths.
TEST_F(EnvironmentTest, AThreadThatAskedBeforeHaddpathsGetsTheKeptClassPath) {
  OwnedList list({testDataDirectory() + "/in-jar.jar"});
  constexpr int kThreads = 200;
  std::mutex mutex;
  std::condition_variable changed;
  bool kept = false;
  std::atomic<int> asked{0}, missing{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      JNIEnv *first = ops().getJNIEnv(bridge, context());
      asked++;
      if (t == 0) {  // one thread surely asks before the class path is kept
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return kept; });
      }
      JNIEnv *again = nullptr;
      for (bool done = false; !done;) {
        again = ops().getJNIEnv(bridge, context());
        std::lock_guard<std::mutex> lock(mutex);
        done = kept;
      }
      again = ops().getJNIEnv(bridge, context());
      if (!first || again != first || !(ownFlags(bridge) & THREAD_CLASS_PATH_APPLIED)) missing++;
      QXJniExtension *jni = bridge->jniExtension;
      jni->releaseThread(jni, jni, again);
    });
  }
  while (asked == 0) std::this_thread::yield();
  ASSERT_EQ(ops().haddpaths(bridge, context(), &list.list), 0);
  {
    std::lock_guard<std::mutex> lock(mutex);
    kept = true;
  }
  changed.notify_all();
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(missing, 0) << "threads whose entry never got the kept class path";
  EXPECT_TRUE(reports().empty());
}

TEST_F(EnvironmentTest, SixteenThreadsInvokeConcurrentlyWithNoLockHeldAcrossJava) {
  constexpr int kThreads = 16;
  constexpr int kRounds = 50;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      JNIEnv *threadEnv = ops().getJNIEnv(bridge, context());
      for (int round = 0; round < kRounds; round++) {
        jint sum = 0, met = 0;
        int32_t added =
            ops().invokeMethod(bridge, context(), threadEnv, &sum, nullptr, JVMLINK_STATIC, nullptr,
                               "qxtest/Bridge", 0, "add", "(II)I", t, round);
        // Every thread must be inside Java at once for this call to return.
        int32_t joined =
            ops().invokeMethod(bridge, context(), threadEnv, &met, nullptr, JVMLINK_STATIC, nullptr,
                               "qxtest/Bridge", 0, "rendezvous", "(I)I", t);
        if (added != 0 || sum != t + round || joined != 0 || met != 2 * t) wrong++;
      }
      QXJniExtension *jni = bridge->jniExtension;
      jni->releaseThread(jni, jni, threadEnv);
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_TRUE(reports().empty());
}

}  // namespace
}  // namespace testsupport
