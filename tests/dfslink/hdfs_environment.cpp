#include <random>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

class HdfsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(testHdfs().start(3)) << testHdfs().error(); }
  void TearDown() override { testHdfs().stop(); }
};

const auto *registered = ::testing::AddGlobalTestEnvironment(new HdfsEnvironment);

}  // namespace

EmbeddedHdfs &testHdfs() {
  static EmbeddedHdfs hdfs;
  return hdfs;
}

void HadoopTest::SetUp() {
  DfsTest::SetUp();
  BridgeState *bridge = dfs->jvm;
  ASSERT_EQ(bridge->operations.haddpaths(bridge, context(), nullptr), 0);
  ASSERT_EQ(bridge->operations.haddpath(bridge, context(), QX_TEST_HADOOP_CONF), 0);
  messages.clear();
}

void HadoopTest::TearDown() {
  for (hdfsFS fs : connections) EXPECT_EQ(ops().hdfsDisconnect(dfs, context(), fs), 0);
  DfsTest::TearDown();
}

hdfsFS HadoopTest::connect(const char16_t *host, uint16_t port, const char16_t *user) {
  hdfsFS fs = nullptr;
  EXPECT_EQ(ops().hdfsConnectAsUser(dfs, context(), host, port, user, &fs), 0);
  if (fs) connections.push_back(fs);
  return fs;
}

FileHandle *HadoopTest::open(hdfsFS fs, const std::string &path, int32_t flags) {
  int32_t status = 0;
  FileHandle *file =
      ops().hdfsOpenFile(dfs, context(), &status, fs, qx(path).c_str(), flags, 0, 0, 0);
  EXPECT_NE(file, nullptr) << path;
  return file;
}

void HadoopTest::close(hdfsFS fs, FileHandle *file) {
  int32_t status = 0;
  EXPECT_EQ(ops().hdfsCloseFile(dfs, context(), &status, fs, file), 0);
}

void HadoopTest::writeAll(hdfsFS fs, const std::string &path, const std::string &data) {
  FileHandle *file = open(fs, path, HDFS_OPEN_WRITE);
  ASSERT_NE(file, nullptr);
  for (size_t done = 0; done < data.size();) {
    int32_t chunk = static_cast<int32_t>(std::min<size_t>(data.size() - done, 1 << 20));
    int32_t status = 0;
    ASSERT_EQ(ops().hdfsWrite(dfs, context(), &status, fs, file, data.data() + done, chunk), chunk);
    done += static_cast<size_t>(chunk);
  }
  close(fs, file);
}

std::string HadoopTest::readAll(hdfsFS fs, FileHandle *file, int32_t chunk) {
  std::string data;
  std::vector<char> buffer(static_cast<size_t>(chunk));
  for (;;) {
    int32_t status = -7;
    int32_t n = ops().hdfsRead(dfs, context(), &status, fs, file, buffer.data(), chunk);
    EXPECT_EQ(status, 0);
    if (n <= 0) break;
    data.append(buffer.data(), static_cast<size_t>(n));
  }
  return data;
}

std::string randomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char &byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

}  // namespace testsupport
