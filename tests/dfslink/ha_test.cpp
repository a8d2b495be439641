// Two name nodes under one logical name: reads, positioned reads and a write that go on across a
// failover with every byte right, the namespace right after one, and a read that outlives the
// active name node's stop. Files have blocks of 1 MiB, so that a read asks the name node for
// block locations again every few MiB.
#include <future>
#include <thread>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

constexpr int32_t kBlock = 1 << 20;

class HaTest : public HadoopTest {
 protected:
  void SetUp() override {
    HadoopTest::SetUp();
    fs = connect(u"qxcluster", 0);
    ASSERT_NE(fs, nullptr);
  }

  // A new file of small blocks with the given bytes.
  void writeFile(const std::string &path, const std::string &data) {
    int32_t status = 0;
    FileHandle *out = ops().hdfsOpenFile(dfs, context(), &status, fs, qx(path).c_str(),
                                         HDFS_OPEN_WRITE, 0, 3, kBlock);
    ASSERT_NE(out, nullptr);
    for (size_t done = 0; done < data.size(); done += kBlock) {
      ASSERT_EQ(ops().hdfsWrite(dfs, context(), &status, fs, out, data.data() + done, kBlock),
                kBlock);
    }
    close(fs, out);
  }
  // Reads the next bytes of a handle into text; false on a failed read.
  bool readInto(FileHandle *in, size_t bytes, std::string &text) {
    std::vector<char> buffer(kBlock);
    while (bytes > 0) {
      int32_t status = 0;
      int32_t n = ops().hdfsRead(dfs, context(), &status, fs, in, buffer.data(),
                                 static_cast<int32_t>(std::min<size_t>(bytes, kBlock)));
      if (n <= 0) return false;
      text.append(buffer.data(), static_cast<size_t>(n));
      bytes -= static_cast<size_t>(n);
    }
    return true;
  }
  bool exists(const char16_t *path) {
    int32_t status = 0;
    return ops().hdfsExists(dfs, context(), &status, fs, path) == 0;
  }

  hdfsFS fs = nullptr;
};

TEST_F(HaTest, ReadsAndPositionedReadsGoOnAcrossAFailover) {
  const std::string data = randomBytes(64 << 20, 19);
  writeFile("/ha/big", data);
  FileHandle *in = open(fs, "/ha/big", 0);
  std::string read;
  ASSERT_TRUE(readInto(in, 16 << 20, read));
  ASSERT_GE(testHdfs().failover(), 0) << testHdfs().error();
  ASSERT_TRUE(readInto(in, data.size() - read.size(), read));
  EXPECT_TRUE(read == data) << "every byte right";
  int32_t status = 0;
  std::vector<char> piece(4096);
  for (int64_t at : {int64_t{0}, int64_t{33 << 20} + 17, int64_t{(64 << 20) - 4096}}) {
    ASSERT_GE(testHdfs().failover(), 0) << testHdfs().error();
    ASSERT_EQ(ops().hdfsPread(dfs, context(), &status, fs, in, at, piece.data(), 4096), 4096);
    EXPECT_EQ(std::string(piece.data(), 4096), data.substr(static_cast<size_t>(at), 4096)) << at;
  }
  close(fs, in);
  EXPECT_TRUE(reports().empty()) << ::testing::PrintToString(messages.lines());
}

TEST_F(HaTest, AWriteAcrossAFailoverClosesWithTheFileComplete) {
  const std::string data = randomBytes(16 << 20, 20);
  int32_t status = 0;
  FileHandle *out = ops().hdfsOpenFile(dfs, context(), &status, fs, u"/ha/written", HDFS_OPEN_WRITE,
                                       0, 3, kBlock);
  ASSERT_NE(out, nullptr);
  for (size_t done = 0; done < data.size(); done += kBlock) {
    if (done == data.size() / 2) {
      ASSERT_GE(testHdfs().failover(), 0) << testHdfs().error();
    }
    ASSERT_EQ(ops().hdfsWrite(dfs, context(), &status, fs, out, data.data() + done, kBlock),
              kBlock);
  }
  EXPECT_EQ(ops().hdfsCloseFile(dfs, context(), &status, fs, out), 0);
  FileHandle *in = open(fs, "/ha/written", 0);
  EXPECT_TRUE(readAll(fs, in) == data);
  close(fs, in);
}

TEST_F(HaTest, TheNamespaceAnswersRightAfterAFailover) {
  writeAll(fs, "/ha/names/a", "a");
  ASSERT_GE(testHdfs().failover(), 0) << testHdfs().error();
  EXPECT_EQ(namesIn(fs, u"/ha/names"), std::vector<std::u16string>({u"a"}));
  int32_t status = 0;
  EXPECT_EQ(ops().hdfsRename(dfs, context(), &status, fs, u"/ha/names/a", u"/ha/names/b"), 0);
  EXPECT_EQ(ops().hdfsDelete(dfs, context(), &status, fs, u"/ha/names/b"), 0);
  EXPECT_FALSE(exists(u"/ha/names/b"));
  EXPECT_TRUE(reports().empty()) << ::testing::PrintToString(messages.lines());
}

// The active name node goes down without handing over: the stream's client waits for the other
// one and goes on once it is made active.
TEST_F(HaTest, AReadOutlivesTheActiveNameNodesStop) {
  const std::string data = randomBytes(32 << 20, 21);
  writeFile("/ha/outlived", data);
  int active = testHdfs().failover();  // which one is active, known
  ASSERT_GE(active, 0) << testHdfs().error();
  FileHandle *in = open(fs, "/ha/outlived", 0);
  std::string read;
  ASSERT_TRUE(readInto(in, 4 << 20, read));
  ASSERT_TRUE(testHdfs().stopNameNode(active)) << testHdfs().error();
  auto takeOver = std::async(std::launch::async, [] {
    std::this_thread::sleep_for(std::chrono::seconds(2));
    return testHdfs().failover();
  });
  EXPECT_TRUE(readInto(in, data.size() - read.size(), read))
      << ::testing::PrintToString(messages.lines());
  EXPECT_EQ(takeOver.get(), 1 - active);
  EXPECT_TRUE(read == data) << "every byte right";
  close(fs, in);
  EXPECT_TRUE(testHdfs().startNameNode(active)) << testHdfs().error();
}

}  // namespace
}  // namespace testsupport
