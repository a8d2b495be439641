// Connections to the local file system, the configured default and a real name node.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

using ConnectionTest = HadoopTest;

TEST_F(ConnectionTest, LocalInCapitalsWithAPortIsTheLocalFileSystemAfterANote) {
  hdfsFS fs = connect(u"LOCAL", 9000);
  ASSERT_NE(fs, nullptr);
  EXPECT_EQ(classNameOf(fs), "org.apache.hadoop.fs.LocalFileSystem");
  EXPECT_EQ(reports(),
            std::vector<Report>({textReport(2, "NOTE: Option HDFSPORT= has been ignored.")}));
}

TEST_F(ConnectionTest, DefaultAndNoHostNeedNoNote) {
  hdfsFS byDefault = connect(u"Default", 0);
  ASSERT_NE(byDefault, nullptr);
  EXPECT_EQ(classNameOf(byDefault), "org.apache.hadoop.fs.LocalFileSystem")
      << "the configuration names no other default";
  hdfsFS noHost = nullptr;
  EXPECT_EQ(ops().hdfsConnectDefaultUser(dfs, context(), nullptr, 8020, &noHost), 0);
  EXPECT_EQ(classNameOf(noHost), "org.apache.hadoop.fs.LocalFileSystem");
  EXPECT_EQ(ops().hdfsDisconnect(dfs, context(), noHost), 0);
  EXPECT_TRUE(reports().empty());
}

TEST_F(ConnectionTest, NameNodeByHostAndPort) {
  hdfsFS fs = connectHdfs();
  ASSERT_NE(fs, nullptr);
  EXPECT_EQ(classNameOf(fs), "org.apache.hadoop.hdfs.DistributedFileSystem");
  EXPECT_TRUE(reports().empty());
}

TEST_F(ConnectionTest, TheUserNameIsHandedToHadoop) {
  hdfsFS fs = connect(qx("127.0.0.1").c_str(), testHdfs().port(), u"tester");
  ASSERT_NE(fs, nullptr);
  int32_t status = 0;
  EXPECT_EQ(
      ops().hdfsOpenFile(dfs, context(), &status, fs, u"/owned-by-root", HDFS_OPEN_WRITE, 0, 0, 0),
      nullptr);
  std::vector<std::string> lines = messages.lines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string &line) {
    return line.find("Permission denied: user=tester") != std::string::npos;
  }));
}

uint16_t unusedPort() {
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(probe, reinterpret_cast<sockaddr *>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length);
  ::close(probe);
  return ntohs(address.sin_port);
}

TEST_F(ConnectionTest, NoNameNodeOnThePortFailsWithTheJavaChainInBoundedTime) {
  auto start = std::chrono::steady_clock::now();
  hdfsFS fs = connect(qx("127.0.0.1").c_str(), unusedPort());
  ASSERT_NE(fs, nullptr) << "Hadoop makes no call before the first request";
  int32_t status = 0;
  EXPECT_EQ(ops().hdfsOpenFile(dfs, context(), &status, fs, u"/anything", 0, 0, 0, 0), nullptr);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 60.0);
  std::vector<std::string> lines = messages.lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "ERROR: Call to method org.apache.hadoop.conf.FileSystem::open((Lorg/apache/hadoop/fs/"
            "Path;I)Lorg/apache/hadoop/fs/FSDataInputStream;) failed.");
  EXPECT_EQ(lines[1], "ERROR: java.net.ConnectException");
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                          [](const std::string &line) { return line == " caused by"; }));
}

TEST_F(ConnectionTest, DisconnectReleasesTheConnection) {
  hdfsFS fs = nullptr;
  ASSERT_EQ(ops().hdfsConnectAsUser(dfs, context(), u"local", 0, nullptr, &fs), 0);
  EXPECT_EQ(env->GetObjectRefType(fs), JNIGlobalRefType);
  EXPECT_EQ(ops().hdfsDisconnect(dfs, context(), fs), 0);
  EXPECT_TRUE(reports().empty());
}

}  // namespace
}  // namespace testsupport
