// Texts of every kind between the host and Hadoop, connections of their own, and handles that
// stay safe while other threads open, close and reuse them.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <numeric>
#include <random>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

// Emoji (beyond the BMP), CJK and a combining mark.
const std::u16string kWorldName = u"smile-\U0001F600 \u6587\u5B57 e\u0301.txt";

class WorldTextTest : public HadoopTest, public ::testing::WithParamInterface<bool> {
 protected:
  bool onHdfs() const { return GetParam(); }
};

TEST_P(WorldTextTest, PathsGoInAndComeBackIdentical) {
  std::string local = onHdfs() ? "" : temporaryDirectory();
  hdfsFS fs = onHdfs() ? connectHdfs() : connect(u"local", 0);
  std::u16string directory = onHdfs() ? u"/world" : qx(local);
  std::u16string path = directory + u"/" + kWorldName;
  int32_t status = 0;
  FileHandle *out =
      ops().hdfsOpenFile(dfs, context(), &status, fs, path.c_str(), HDFS_OPEN_WRITE, 0, 0, 0);
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(ops().hdfsWrite(dfs, context(), &status, fs, out, "contents", 8), 8);
  close(fs, out);

  std::vector<std::u16string> names = namesIn(fs, directory);
  // The local file system keeps a hidden checksum file beside it.
  names.erase(std::remove_if(names.begin(), names.end(),
                             [](const std::u16string &name) { return name[0] == u'.'; }),
              names.end());
  EXPECT_EQ(names, std::vector<std::u16string>({kWorldName}));
  FileHandle *in = ops().hdfsOpenFile(dfs, context(), &status, fs, path.c_str(), 0, 0, 0, 0);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(readAll(fs, in), "contents");
  close(fs, in);
  if (!onHdfs()) {
    EXPECT_TRUE(std::filesystem::exists(local + "/" + hostkernel::fromQXChar(kWorldName)));
    removeTree(local);
  }
  EXPECT_TRUE(reports().empty());
}

INSTANTIATE_TEST_SUITE_P(BothFileSystems, WorldTextTest, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Hdfs" : "Local"; });

using TextTest = HadoopTest;

TEST_F(TextTest, UserAndHostNamesReachHadoopIntact) {
  makeWorldWritable(connectHdfs(), u"/shared-by-all");
  const std::u16string user = u"\u7528\u6237\U0001F600";
  hdfsFS fs = connect(qx("127.0.0.1").c_str(), testHdfs().port(), user.c_str());
  ASSERT_NE(fs, nullptr);
  int32_t status = 0;
  FileHandle *out = ops().hdfsOpenFile(dfs, context(), &status, fs, u"/shared-by-all/world",
                                       HDFS_OPEN_WRITE, 0, 0, 0);
  ASSERT_NE(out, nullptr);
  close(fs, out);
  EXPECT_EQ(ownerOf(fs, u"/shared-by-all/world"), user);

  const std::u16string host = u"\u4F8B\u3048\U0001F600.invalid";
  hdfsFS none = nullptr;
  EXPECT_EQ(ops().hdfsConnectAsUser(dfs, context(), host.c_str(), 8020, nullptr, &none),
            static_cast<int32_t>(QX_OPERATION_FAILED));
  EXPECT_EQ(none, nullptr);
  std::vector<std::string> lines = messages.lines();
  std::string hostText = hostkernel::fromQXChar(host);
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string &line) {
    return line.find(hostText) != std::string::npos;
  })) << "the name node's host as Java saw it";
}

using ConnectionsTest = HadoopTest;

TEST_F(ConnectionsTest, TwoConnectionsToOneClusterAreEachTheirOwn) {
  for (bool onHdfs : {true, false}) {
    std::string root = onHdfs ? "/own" : temporaryDirectory();
    hdfsFS kept = onHdfs ? connectHdfs() : connect(u"local", 0);
    hdfsFS other = nullptr;
    ASSERT_EQ(ops().hdfsConnectAsUser(dfs, context(), onHdfs ? u"127.0.0.1" : u"local",
                                      onHdfs ? testHdfs().port() : 0, nullptr, &other),
              0);
    writeAll(kept, root + "/before", "one");
    ASSERT_EQ(ops().hdfsDisconnect(dfs, context(), other), 0);
    writeAll(kept, root + "/after", "two");
    FileHandle *in = open(kept, root + "/before", 0);
    EXPECT_EQ(readAll(kept, in), "one");
    close(kept, in);
    if (!onHdfs) removeTree(root);
  }
  EXPECT_TRUE(reports().empty());
}

// A message context whose text entry answers something other than 0.
int32_t quietStatus(QXMessageContext *, int32_t, uint32_t, va_list) {
  return 0;
}
int32_t printAnswersFive(QXMessageContext *, int32_t, const QXChar *, int32_t, ...) {
  return 5;
}

TEST_F(ConnectionsTest, AConnectionSucceedsWhateverThePrintOfItsNoteAnswers) {
  QXMessageContext answering = {{0, nullptr, nullptr}, quietStatus, printAnswersFive};
  hdfsFS fs = nullptr;
  EXPECT_EQ(ops().hdfsConnectAsUser(dfs, &answering, u"local", 9000, nullptr, &fs), 0);
  ASSERT_NE(fs, nullptr);
  EXPECT_EQ(ops().hdfsDisconnect(dfs, context(), fs), 0);
}

TEST_F(ConnectionsTest, JvmFailuresFailTheConnectAndLeaveNoHandle) {
  connect(u"local", 0);  // every class the connect needs is cached
  for (const char *function : {"NewGlobalRef", "NewString"}) {
    messages.clear();
    hostkernel::injectFault(Fault::JniCall, 1, function);
    hdfsFS fs = reinterpret_cast<hdfsFS>(0x1);
    int32_t result = ops().hdfsConnectAsUser(dfs, context(), u"local", 0, u"someone", &fs);
    EXPECT_NE(result, 0) << function;
    EXPECT_EQ(fs, nullptr) << function;
    EXPECT_FALSE(reports().empty()) << function;
    EXPECT_FALSE(env->ExceptionCheck()) << function;
  }
}

class HandleSafetyTest : public HadoopTest {
 protected:
  void SetUp() override {
    HadoopTest::SetUp();
    directory = temporaryDirectory();
    fs = connect(u"local", 0);
    writeAll(fs, directory + "/a", std::string(1 << 20, 'a'));
    writeAll(fs, directory + "/b", std::string(1 << 20, 'b'));
  }
  void TearDown() override {
    removeTree(directory);
    HadoopTest::TearDown();
  }

  void releaseThread() {
    QXJniExtension *jni = dfs->jvm->jniExtension;
    jni->releaseThread(jni, jni, nullptr);
  }

  std::string directory;
  hdfsFS fs = nullptr;
};

TEST_F(HandleSafetyTest, StreamOperationsDoNotWaitForAnOpenOrClose) {
  FileHandle *in = open(fs, directory + "/a", 0);
  dfs->openLock->lock(dfs->openLock, 1, 1);  // as a long Java open on another thread holds it
  auto done = std::async(std::launch::async, [&] {
    int32_t status = 0;
    char byte = 0;
    int64_t position = ops().hdfsTell(dfs, context(), &status, fs, in);
    int32_t read = ops().hdfsRead(dfs, context(), &status, fs, in, &byte, 1);
    releaseThread();
    return position == 0 && read == 1 && byte == 'a';
  });
  bool finishedWhileHeld = done.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  dfs->openLock->unlock(dfs->openLock);
  EXPECT_TRUE(finishedWhileHeld);
  EXPECT_TRUE(done.get());
  close(fs, in);
}

// A close waits in Java for what it closes (on HDFS, the data nodes' acknowledgements); other
// threads open, write and close meanwhile, and the closing handle is refused to them.
TEST_F(HandleSafetyTest, AStreamsCloseKeepsNoOtherOpenOrCloseWaiting) {
  FileHandle *slow = open(fs, directory + "/slow", HDFS_OPEN_WRITE);
  hostkernel::holdNextJniCall("CallVoidMethodV");  // inside the close of slow
  auto closing = std::async(std::launch::async, [&] {
    int32_t status = 0;
    int32_t closed = ops().hdfsCloseFile(dfs, context(), &status, fs, slow);
    releaseThread();
    return closed;
  });
  ASSERT_TRUE(hostkernel::waitForHeldJniCall());
  auto other = std::async(std::launch::async, [&] {
    int32_t status = 0;
    bool refused = ops().hdfsWrite(dfs, context(), &status, fs, slow, "x", 1) == -1 &&
                   status == static_cast<int32_t>(0x86BFF802);
    FileHandle *fast = ops().hdfsOpenFile(
        dfs, context(), &status, fs, qx(directory + "/fast").c_str(), HDFS_OPEN_WRITE, 0, 0, 0);
    bool done = refused && fast &&
                ops().hdfsWrite(dfs, context(), &status, fs, fast, "y", 1) == 1 &&
                ops().hdfsCloseFile(dfs, context(), &status, fs, fast) == 0;
    releaseThread();
    return done;
  });
  bool finishedWhileHeld = other.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  hostkernel::releaseHeldJniCall();
  EXPECT_TRUE(finishedWhileHeld);
  EXPECT_TRUE(other.get());
  EXPECT_EQ(closing.get(), 0);
  EXPECT_EQ(dfs->openFiles.count, 0);
}

// An open for writing makes (or replaces) the file in Java; whatever allocation fails, it fails
// before that, and the file that was there stays as it was. Swept with the list full (it must
// grow) and with the set of open handles about to be rebuilt.
TEST_F(HandleSafetyTest, AnOpenThatCannotKeepItsHandleReplacesNothing) {
  std::string kept = directory + "/kept";
  writeAll(fs, kept, "kept");
  std::vector<FileHandle *> held;
  for (int open : {100, 127}) {
    while (static_cast<int>(held.size()) < open)
      held.push_back(this->open(fs, directory + "/a", 0));
    for (int nth = 1;; nth++) {
      hostkernel::injectFault(Fault::Allocation, nth, "DFSLINK Pool");
      int32_t status = 0;
      FileHandle *file = ops().hdfsOpenFile(dfs, context(), &status, fs, qx(kept).c_str(),
                                            HDFS_OPEN_WRITE, 0, 0, 0);
      bool faulted = !hostkernel::faultPending(Fault::Allocation);
      hostkernel::clearFaults();
      messages.clear();
      if (file) {
        EXPECT_FALSE(faulted) << nth;
        close(fs, file);
        writeAll(fs, kept, "kept");
        break;
      }
      EXPECT_EQ(status, static_cast<int32_t>(QX_OUT_OF_MEMORY)) << nth;
      FileHandle *in = this->open(fs, kept, 0);
      EXPECT_EQ(readAll(fs, in), "kept") << "allocation " << nth << " with " << open << " open";
      close(fs, in);
    }
  }
  for (FileHandle *file : held) close(fs, file);
}

// The set marks a removed handle with a value no caller's handle can be: a stale handle whose
// address is the old mark (8) is refused where the probe for it passes a mark.
TEST_F(HandleSafetyTest, TheMarkOfARemovedHandleIsNeverTakenForOne) {
  auto *mark = reinterpret_cast<FileHandle *>(alignof(FileHandle));
  // Where the set's probe for that address begins.
  uint64_t bits = reinterpret_cast<uintptr_t>(mark) >> 3;
  int32_t status = 0;
  char byte = 0;
  for (int round = 0; round < 5000; round++) {
    uint32_t start =
        static_cast<uint32_t>((bits * 0x9E3779B97F4A7C15ull) >> 32) & (dfs->indexCapacity - 1);
    close(fs, open(fs, directory + "/a", 0));
    if (!dfs->indexSlots[start]) continue;  // no mark where the probe begins yet
    EXPECT_EQ(ops().hdfsRead(dfs, context(), &status, fs, mark, &byte, 1), -1);
    EXPECT_EQ(status, static_cast<int32_t>(0x86BFF802));
    return;
  }
  ADD_FAILURE() << "no removed handle was marked where the probe begins";
}

TEST_F(HandleSafetyTest, AClosedHandleIsRefusedEvenWhereANewOneCouldTakeItsPlace) {
  FileHandle *stale = open(fs, directory + "/a", 0);
  close(fs, stale);
  std::vector<FileHandle *> fresh;
  for (int i = 0; i < 50; i++) fresh.push_back(open(fs, directory + "/b", 0));
  int32_t status = 0;
  char byte = 0;
  EXPECT_EQ(ops().hdfsRead(dfs, context(), &status, fs, stale, &byte, 1), -1);
  EXPECT_EQ(status, static_cast<int32_t>(0x86BFF802));
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF802, {"hdfsRead"})}));
  for (FileHandle *file : fresh) close(fs, file);
}

TEST_F(HandleSafetyTest, AHandleClosedWhileAnotherThreadIsInsideAReadIsNotTakenFromIt) {
  FileHandle *in = open(fs, directory + "/a", 0);
  hostkernel::holdNextJniCall("NewByteArray");  // past the handle check, before its stream
  int32_t status = 0;
  std::string got(16, '\0');
  auto reading = std::async(std::launch::async, [&] {
    int32_t n = ops().hdfsRead(dfs, context(), &status, fs, in, got.data(), 16);
    releaseThread();
    return n;
  });
  ASSERT_TRUE(hostkernel::waitForHeldJniCall());
  close(fs, in);
  FileHandle *other = open(fs, directory + "/b", 0);  // may take the closed handle's memory
  hostkernel::releaseHeldJniCall();
  int32_t n = reading.get();
  if (n > 0) {
    EXPECT_EQ(got.substr(0, n), std::string(n, 'a')) << "another file's bytes";
  } else {
    EXPECT_EQ(status, static_cast<int32_t>(0x86BFF814)) << "the closed stream's refusal";
  }
  close(fs, other);
}

TEST_F(HandleSafetyTest, CloseWhileOtherThreadsReadTheHandleEndsTheirReadsCleanly) {
  for (int round = 0; round < 20; round++) {
    FileHandle *in = open(fs, directory + "/a", 0);
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; t++) {
      readers.emplace_back([&] {
        std::vector<char> buffer(4096);
        for (;;) {
          int32_t status = 0;
          int32_t n = ops().hdfsRead(dfs, context(), &status, fs, in, buffer.data(), 4096);
          if (n <= 0) break;
          if (std::count(buffer.begin(), buffer.begin() + n, 'a') != n) wrong++;
        }
        releaseThread();
      });
    }
    close(fs, in);
    for (std::thread &reader : readers) reader.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(dfs->openFiles.count, 0);
  }
}

// Ten thousand handles opened, then closed in a random order: every stream call on an open one
// is answered, every call on a closed one refused, the list keeps the opening order, and nothing
// is left.
TEST_F(HandleSafetyTest, TenThousandHandlesOpenedAndClosedInRandomOrder) {
  constexpr int kHandles = 10000;
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;  // one descriptor a handle on the local file system
  setrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < kHandles + 1000) GTEST_SKIP() << "the hard limit on open files is too low";
  std::ofstream(directory + "/plain") << std::string(64, 'a');  // no checksum file to open too
  std::vector<FileHandle *> opened;
  for (int i = 0; i < kHandles; i++) {
    opened.push_back(open(fs, directory + "/plain", 0));
    ASSERT_NE(opened.back(), nullptr) << i;
  }
  std::vector<size_t> order(kHandles);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), std::mt19937(21));
  std::vector<bool> closed(kHandles, false);
  int wrong = 0;
  for (size_t n = 0; n < order.size(); n++) {
    FileHandle *file = opened[order[n]];
    close(fs, file);
    closed[order[n]] = true;
    int32_t status = 0;
    if (ops().hdfsTell(dfs, context(), &status, fs, file) != -1) wrong++;  // reported, below
    if (n + 1 < order.size()) {
      char byte = 0;
      FileHandle *live = opened[order[n + 1]];
      if (ops().hdfsRead(dfs, context(), &status, fs, live, &byte, 1) != 1 || byte != 'a' ||
          ops().hdfsTell(dfs, context(), &status, fs, live) != 1) {
        wrong++;
      }
      ops().hdfsSeek(dfs, context(), &status, fs, live, 0);
    }
    if (n % 1000 == 0) {  // the open ones, in the order they were opened
      std::vector<FileHandle *> expected;
      for (int i = 0; i < kHandles; i++) {
        if (!closed[i]) expected.push_back(opened[i]);
      }
      const OpenFileList &list = dfs->openFiles;
      EXPECT_EQ(std::vector<FileHandle *>(list.items, list.items + list.count), expected) << n;
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(dfs->openFiles.count, 0);
  std::vector<Report> refusals = reports();
  EXPECT_EQ(refusals.size(), static_cast<size_t>(kHandles));
  EXPECT_EQ(refusals.back(), statusReport(4, 0x86BFF802, {"hdfsTell"}));
}

// The module may be unloaded and loaded again while the JVM lives on: handles left open keep
// their streams (as the engine left them), but the Java arrays kept for their copying calls go.
TEST_F(HandleSafetyTest, ReloadsWithHandlesLeftOpenLeaveNoKeptArrays) {
  int64_t before = hostkernel::liveGlobalReferences();
  for (int cycle = 0; cycle < 3; cycle++) {
    DfsLinkState *again = loadDfs();
    ASSERT_NE(again, nullptr);
    DfsOperations &o = again->operations;
    int32_t status = 0;
    std::u16string path = qx(directory + "/a");
    std::vector<FileHandle *> left;
    for (int i = 0; i < 2; i++) {
      left.push_back(o.hdfsOpenFile(again, context(), &status, fs, path.c_str(), 0, 0, 0, 0));
      char buffer[64];
      ASSERT_GT(o.hdfsRead(again, context(), &status, fs, left.back(), buffer, 64), 0);
    }
    ASSERT_GT(again->keptArrayBytes, 0) << "the reads kept their arrays";
    again->frame.header.release(again);
    EXPECT_EQ(hostkernel::liveGlobalReferences(), before + 2 * (cycle + 1))
        << "only the streams left open remain, cycle " << cycle;
  }
}

}  // namespace
}  // namespace testsupport
