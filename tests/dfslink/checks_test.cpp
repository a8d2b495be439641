// What the operations refuse before any Hadoop call, and what a missing Hadoop class path
// looks like. This binary never puts Hadoop on the JVM's class path.
#include "tests/dfslink/dfs_fixture.h"

namespace testsupport {
namespace {

class ChecksTest : public DfsTest {
 protected:
  void SetUp() override {
    DfsTest::SetUp();
    // Any Java object serves where an operation must not touch the connection.
    LocalRef<jstring> text(env, env->NewStringUTF("not a file system"));
    dummyConnection = env->NewGlobalRef(text.get());
  }
  void TearDown() override {
    if (env) env->DeleteGlobalRef(dummyConnection);
    DfsTest::TearDown();
  }
  hdfsFS dummyConnection = nullptr;
};

TEST_F(ChecksTest, MissingClassPathFailsTheConfigurationAndLeavesTheHandle) {
  hdfsFS handle = reinterpret_cast<hdfsFS>(0x1234);
  EXPECT_EQ(ops().hdfsConnectAsUser(dfs, context(), u"local", 0, nullptr, &handle),
            static_cast<int32_t>(QX_OPERATION_FAILED));
  EXPECT_EQ(handle, reinterpret_cast<hdfsFS>(0x1234));
  EXPECT_EQ(reports(),
            std::vector<Report>({statusReport(4, 0x86BFF011, {"constructNewObjectOfClass"}),
                                 statusReport(4, 0x86BFF811, {"JnlFromException"}),
                                 textReport(4,
                                            "ERROR: Can't construct instance of class "
                                            "org.apache.hadoop.conf.Configuration."),
                                 textReport(4, "ERROR: Probable classpath problem.")}));
}

TEST_F(ChecksTest, ConnectWithoutContextRecordOrHandleAddress) {
  hdfsFS handle = nullptr;
  EXPECT_EQ(ops().hdfsConnectAsUser(dfs, nullptr, u"local", 0, nullptr, &handle),
            static_cast<int32_t>(QX_MISSING_ARGUMENT));
  EXPECT_EQ(ops().hdfsConnectDefaultUser(dfs, context(), u"local", 0, nullptr),
            static_cast<int32_t>(QX_MISSING_ARGUMENT));
  EXPECT_EQ(ops().hdfsConnectDefaultUser(nullptr, context(), u"local", 0, &handle),
            static_cast<int32_t>(QX_MISSING_ARGUMENT));
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, QX_MISSING_ARGUMENT),
                                            statusReport(4, QX_MISSING_ARGUMENT)}));
}

TEST_F(ChecksTest, DisconnectWithoutHandle) {
  EXPECT_EQ(ops().hdfsDisconnect(dfs, context(), nullptr),
            static_cast<int32_t>(QX_OPERATION_FAILED));
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF808, {"hdfsDisconnect"})}));
}

TEST_F(ChecksTest, PathThatCannotBecomeAPathObjectIsReported) {
  int32_t status = 99;
  EXPECT_EQ(ops().hdfsOpenFile(dfs, context(), &status, dummyConnection, u"/data/f\u00fcr.txt", 0,
                               0, 0, 0),
            nullptr);
  EXPECT_EQ(status, 99);
  EXPECT_EQ(reports(),
            std::vector<Report>(
                {statusReport(4, 0x86BFF011, {"constructNewObjectOfClass"}),
                 statusReport(4, 0x86BFF80A, {"constructNewObjectOfPath", "/data/f\u00fcr.txt"}),
                 statusReport(4, 0x86BFF80C, {"hdfsOpenFile"})}));
}

TEST_F(ChecksTest, PathsOfAt260BytesAreUsedAndLongerOnesRefusedSilently) {
  int32_t status = 99;
  std::string exact = "/" + std::string(259, 'p');
  EXPECT_EQ(
      ops().hdfsOpenFile(dfs, context(), &status, dummyConnection, qx(exact).c_str(), 0, 0, 0, 0),
      nullptr);
  EXPECT_EQ(reports().back(), statusReport(4, 0x86BFF80C, {"hdfsOpenFile"})) << "it was used";
  messages.clear();
  std::string tooLong = exact + "p";
  EXPECT_EQ(
      ops().hdfsOpenFile(dfs, context(), &status, dummyConnection, qx(tooLong).c_str(), 0, 0, 0, 0),
      nullptr);
  EXPECT_TRUE(reports().empty()) << "a longer path fails silently";
  std::string exactInUtf8 = "/" + std::string(257, 'p') + "\u00e9";  // 260 bytes, 259 units
  EXPECT_EQ(ops().hdfsOpenFile(dfs, context(), &status, dummyConnection, qx(exactInUtf8).c_str(), 0,
                               0, 0, 0),
            nullptr);
  EXPECT_FALSE(reports().empty());
  messages.clear();
  EXPECT_EQ(ops().hdfsOpenFile(dfs, context(), &status, dummyConnection,
                               qx(exactInUtf8 + "\u00e9").c_str(), 0, 0, 0, 0),
            nullptr);
  EXPECT_TRUE(reports().empty());
  EXPECT_EQ(status, 99);
}

TEST_F(ChecksTest, ReadWriteFlagIsRefusedWithStatus) {
  for (int32_t flags : {2, 3}) {
    int32_t status = 0;
    EXPECT_EQ(ops().hdfsOpenFile(dfs, context(), &status, dummyConnection, u"/x", flags, 0, 0, 0),
              nullptr);
    EXPECT_EQ(status, static_cast<int32_t>(0x86BFF812));
  }
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF812, {"hdfsOpenFile"}),
                                            statusReport(4, 0x86BFF812, {"hdfsOpenFile"})}));
}

TEST_F(ChecksTest, MissingClosedAndForeignHandlesAreRefusedWithoutBeingUsed) {
  FileHandle foreign = {nullptr, HDFS_STREAM_INPUT};
  int32_t status = 0;
  char buffer[8];
  EXPECT_EQ(ops().hdfsRead(dfs, context(), &status, nullptr, nullptr, buffer, 8), -1);
  EXPECT_EQ(status, static_cast<int32_t>(0x86BFF801));
  EXPECT_EQ(ops().hdfsRead(dfs, context(), &status, nullptr, &foreign, buffer, 8), -1);
  EXPECT_EQ(status, static_cast<int32_t>(0x86BFF802));
  EXPECT_EQ(ops().hdfsCloseFile(dfs, context(), &status, nullptr, nullptr), -1);
  EXPECT_EQ(ops().hdfsCloseFile(dfs, context(), &status, nullptr, &foreign), -1);
  EXPECT_EQ(ops().hdfsTell(dfs, context(), &status, nullptr, &foreign), -1);
  EXPECT_EQ(ops().hdfsFlush(dfs, context(), &status, nullptr, nullptr), -1);
  EXPECT_EQ(ops().hdfsAvailable(dfs, context(), &status, nullptr, &foreign), -1);
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF801, {"hdfsRead"}),
                                            statusReport(4, 0x86BFF802, {"hdfsRead"}),
                                            statusReport(4, 0x86BFF801, {"hdfsCloseFile"}),
                                            statusReport(4, 0x86BFF802, {"hdfsCloseFile"}),
                                            statusReport(4, 0x86BFF802, {"hdfsTell"}),
                                            statusReport(4, 0x86BFF801, {"hdfsFlush"}),
                                            statusReport(4, 0x86BFF802, {"hdfsAvailable"})}));
}

TEST_F(ChecksTest, ZeroLengthWritesNeedNoHandleOnlyInTheCopyingForm) {
  int32_t status = 5;
  EXPECT_EQ(ops().hdfsWrite(dfs, context(), &status, nullptr, nullptr, nullptr, 0), 0);
  EXPECT_TRUE(reports().empty());
  EXPECT_EQ(ops().hdfsWrite_jb(dfs, context(), &status, nullptr, nullptr, nullptr, 0, 0), -1);
  EXPECT_EQ(status, static_cast<int32_t>(0x86BFF801));
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF801, {"hdfsWrite"})}));
}

TEST_F(ChecksTest, WithoutAnEnvironmentEveryOperationSaysSo) {
  std::thread([&] {
    hostkernel::injectFault(Fault::ThreadAttach, 1);
    int32_t status = 0;
    EXPECT_EQ(ops().hdfsOpenFile(dfs, context(), &status, dummyConnection, u"/x", 0, 0, 0, 0),
              nullptr);
    EXPECT_EQ(status, static_cast<int32_t>(0x86BFF805));
    for (int i = 0; i < 3; i++) hostkernel::injectFault(Fault::ThreadAttach, i + 1);
    EXPECT_EQ(ops().hdfsTell(dfs, context(), &status, nullptr, nullptr),
              static_cast<int64_t>(static_cast<int32_t>(0x86BFF805)));
    EXPECT_EQ(ops().hdfsFlush(dfs, context(), &status, nullptr, nullptr),
              static_cast<int32_t>(0x86BFF805));
    hdfsFS handle = nullptr;
    EXPECT_EQ(ops().hdfsConnectAsUser(dfs, context(), nullptr, 0, nullptr, &handle),
              static_cast<int32_t>(0x86BFF805));
  }).join();
  const Report noAttach = statusReport(4, 0x86BFF009, {"getJNIEnv"});
  EXPECT_EQ(reports(),
            std::vector<Report>({noAttach, statusReport(4, 0x86BFF805, {"hdfsOpenFile"}), noAttach,
                                 statusReport(4, 0x86BFF805, {"hdfsTell"}), noAttach,
                                 statusReport(4, 0x86BFF805, {"hdfsFlush"}), noAttach,
                                 statusReport(4, 0x86BFF805, {"hdfsConnectAsUser"})}));
}

}  // namespace
}  // namespace testsupport
