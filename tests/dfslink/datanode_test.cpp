// Data nodes that stop in the middle of a write: with three replicas the file is completed with
// all its bytes; with one, the write or the close fails cleanly and the handle is gone.
#include <chrono>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

class DataNodeTest : public HadoopTest {
 protected:
  void SetUp() override {
    HadoopTest::SetUp();
    fs = connectHdfs();
    ASSERT_NE(fs, nullptr);
  }
  void TearDown() override {
    if (stopped >= 0) {
      EXPECT_TRUE(testHdfs().restartDataNode(stopped)) << testHdfs().error();
    }
    HadoopTest::TearDown();
  }

  FileHandle *create(const char16_t *path, int16_t replication) {
    int32_t status = 0;
    return ops().hdfsOpenFile(dfs, context(), &status, fs, path, HDFS_OPEN_WRITE, 0, replication,
                              0);
  }

  // Writes bytes [from, to) of data; false at the first failed write.
  bool write(FileHandle *out, const std::string &data, size_t from, size_t to) {
    for (size_t done = from; done < to; done += 1 << 20) {
      int32_t chunk = static_cast<int32_t>(std::min<size_t>(to - done, 1 << 20));
      int32_t status = 0;
      if (ops().hdfsWrite(dfs, context(), &status, fs, out, data.data() + done, chunk) != chunk) {
        return false;
      }
    }
    return true;
  }

  // The index, in the cluster's order, of the data node the stream writes its block to.
  int pipelineDataNode(FileHandle *out, const std::u16string &path) {
    EXPECT_EQ(bridgeOps().invokeMethod(dfs->jvm, context(), env, nullptr, nullptr, JVMLINK_INSTANCE,
                                       out->stream, "org/apache/hadoop/fs/FSDataOutputStream", 0,
                                       "hflush", "()V"),
              0);
    LocalRef<jobject> pathObject = javaPath(path);
    LocalRef<jobjectArray> blocks(
        env, static_cast<jobjectArray>(
                 callJava(fs, "org/apache/hadoop/fs/FileSystem", "getFileBlockLocations",
                          "(Lorg/apache/hadoop/fs/Path;JJ)[Lorg/apache/hadoop/fs/BlockLocation;",
                          pathObject.get(), jlong{0}, jlong{1} << 40)));
    EXPECT_GT(env->GetArrayLength(blocks.get()), 0);
    LocalRef<jobject> block(env, env->GetObjectArrayElement(blocks.get(), 0));
    LocalRef<jobjectArray> names(
        env, static_cast<jobjectArray>(callJava(block.get(), "org/apache/hadoop/fs/BlockLocation",
                                                "getNames", "()[Ljava/lang/String;")));
    EXPECT_EQ(env->GetArrayLength(names.get()), 1);
    LocalRef<jstring> name(env, static_cast<jstring>(env->GetObjectArrayElement(names.get(), 0)));
    std::string address = hostkernel::fromQXChar(javaText(name.get()));
    auto port = static_cast<uint16_t>(atoi(address.c_str() + address.rfind(':') + 1));
    std::vector<uint16_t> ports = testHdfs().dataNodePorts();
    auto found = std::find(ports.begin(), ports.end(), port);
    EXPECT_NE(found, ports.end()) << address;
    return static_cast<int>(found - ports.begin());
  }

  hdfsFS fs = nullptr;
  int stopped = -1;
};

TEST_F(DataNodeTest, ThreeReplicasCompleteTheFileWhenADataNodeStopsMidway) {
  const std::string data = randomBytes(8 << 20, 21);
  FileHandle *out = create(u"/datanodes/three", 3);
  ASSERT_NE(out, nullptr);
  ASSERT_TRUE(write(out, data, 0, 3 << 20));
  ASSERT_TRUE(testHdfs().stopDataNode(0)) << testHdfs().error();
  stopped = 0;
  EXPECT_TRUE(write(out, data, 3 << 20, data.size()));
  close(fs, out);
  FileHandle *in = open(fs, "/datanodes/three", 0);
  EXPECT_TRUE(readAll(fs, in) == data) << "the file holds every byte written";
  close(fs, in);
  EXPECT_TRUE(reports().empty());
}

TEST_F(DataNodeTest, OneReplicaFailsCleanlyWhenItsDataNodeStopsAndTheHandleIsGone) {
  const std::string data = randomBytes(8 << 20, 22);
  FileHandle *out = create(u"/datanodes/one", 1);
  ASSERT_NE(out, nullptr);
  ASSERT_TRUE(write(out, data, 0, 2 << 20));
  int index = pipelineDataNode(out, u"/datanodes/one");
  ASSERT_TRUE(testHdfs().stopDataNode(index)) << testHdfs().error();
  stopped = index;
  messages.clear();
  bool written = write(out, data, 2 << 20, data.size());
  int32_t status = 0;
  int32_t closed = ops().hdfsCloseFile(dfs, context(), &status, fs, out);
  EXPECT_FALSE(written && closed == 0) << "a file whose only replica went cannot be completed";
  EXPECT_EQ(dfs->openFiles.count, 0) << "the handle is gone after the failed close";
  EXPECT_FALSE(env->ExceptionCheck());
  std::vector<Report> got = reports();
  ASSERT_FALSE(got.empty());
  Report failedWrite = statusReport(4, 0x86BFF816, {"hdfsWrite"});
  Report failedClose =
      textReport(4, "ERROR: Call to method org.apache.hadoop.fs.FSDataOutputStream::close failed.");
  EXPECT_TRUE(got[0] == failedWrite || got[0] == failedClose) << got[0].line;
}

// With two data nodes down the name node still counts both live for minutes: restarting one
// waits for that node alone, within the launcher's bound.
TEST_F(DataNodeTest, RestartingADataNodeWaitsForItAloneWhileAnotherIsDown) {
  ASSERT_TRUE(testHdfs().stopDataNode(2)) << testHdfs().error();
  ASSERT_TRUE(testHdfs().stopDataNode(1)) << testHdfs().error();
  auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(testHdfs().restartDataNode(1)) << testHdfs().error();
  EXPECT_TRUE(testHdfs().restartDataNode(2)) << testHdfs().error();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(120));
  writeAll(fs, "/datanodes/after-restarts", "three replicas again");
  FileHandle *in = open(fs, "/datanodes/after-restarts", 0);
  EXPECT_EQ(readAll(fs, in), "three replicas again");
  close(fs, in);
}

}  // namespace
}  // namespace testsupport
