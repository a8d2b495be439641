// Whole files: uploads compared byte for byte through Hadoop's own client, copies between two
// connections, moves that Hadoop cannot complete, and the failures of each.
#include <filesystem>
#include <fstream>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

class CopyTest : public HadoopTest {
 protected:
  void SetUp() override {
    HadoopTest::SetUp();
    directory = temporaryDirectory();
    hdfs = connectHdfs();
    local = connect(u"local", 0);
  }
  void TearDown() override {
    removeTree(directory);
    HadoopTest::TearDown();
  }

  std::string localFile(const std::string &name, const std::string &data) {
    std::string path = directory + "/" + name;
    std::ofstream(path, std::ios::binary) << data;
    return path;
  }
  static std::string contentsOf(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // A file of HDFS fetched by Hadoop's own client.
  std::string fetched(const std::u16string &path) {
    std::string copy = directory + "/fetched";
    std::filesystem::remove(copy);
    LocalRef<jobject> from = javaPath(path);
    LocalRef<jobject> to = javaPath(qx(copy));
    EXPECT_EQ(
        bridgeOps().invokeMethod(dfs->jvm, context(), env, nullptr, nullptr, JVMLINK_INSTANCE, hdfs,
                                 "org/apache/hadoop/fs/FileSystem", 0, "copyToLocalFile",
                                 "(Lorg/apache/hadoop/fs/Path;Lorg/apache/hadoop/fs/Path;)V",
                                 from.get(), to.get()),
        0);
    return contentsOf(copy);
  }
  int32_t upload(const std::string &source, const char16_t *destination, int32_t bufferSize = 0,
                 int32_t *status = nullptr) {
    int32_t ignored = 0;
    return ops().hdfsCopyFromLocal(dfs, context(), status ? status : &ignored, qx(source).c_str(),
                                   hdfs, destination, bufferSize, 0, 0);
  }
  bool existsOnHdfs(const char16_t *path) {
    int32_t status = 0;
    return ops().hdfsExists(dfs, context(), &status, hdfs, path) == 0;
  }

  std::string directory;
  hdfsFS hdfs = nullptr;
  hdfsFS local = nullptr;
};

TEST_F(CopyTest, UploadsOfEverySizeArriveByteForByte) {
  const std::string big = randomBytes(256 << 20, 8);
  std::string source = localFile("big", big);
  EXPECT_EQ(upload(source, u"/upload/big-default"), 0);
  EXPECT_TRUE(fetched(u"/upload/big-default") == big);
  EXPECT_EQ(upload(source, u"/upload/big-odd", 65537), 0);
  EXPECT_TRUE(fetched(u"/upload/big-odd") == big);
  EXPECT_EQ(upload(localFile("empty", ""), u"/upload/empty"), 0);
  EXPECT_EQ(fetched(u"/upload/empty"), "");
  EXPECT_EQ(upload(localFile("small", "replaced"), u"/upload/big-odd"), 0);
  EXPECT_EQ(fetched(u"/upload/big-odd"), "replaced") << "an existing destination is replaced";
  EXPECT_TRUE(reports().empty());
  EXPECT_EQ(dfs->openFiles.count, 0);
}

TEST_F(CopyTest, AMissingLocalFileCreatesNoDestination) {
  int32_t status = 0;
  EXPECT_EQ(upload(directory + "/absent", u"/upload/never", 0, &status), -1);
  EXPECT_EQ(status, static_cast<int32_t>(QX_OPERATION_FAILED));
  EXPECT_FALSE(existsOnHdfs(u"/upload/never"));
  std::vector<Report> got = reports();
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(got[0],
            statusReport(4, 0x86BFF010, {"constructNewObjectOfClass", "java/io/FileInputStream"}));
  EXPECT_EQ(got.back(), statusReport(4, 0x86BFF81F, {"hdfsCopyFromLocal"}));
}

TEST_F(CopyTest, ABufferOfNoBytesFailsBeforeTheDestinationIsMade) {
  int32_t status = 0;
  EXPECT_EQ(upload(localFile("some", "bytes"), u"/upload/no-buffer", -1, &status), -1);
  EXPECT_EQ(status, static_cast<int32_t>(0x86BFF81E));
  EXPECT_FALSE(existsOnHdfs(u"/upload/no-buffer"));
  EXPECT_EQ(reports().front(), statusReport(4, 0x86BFF81E, {"hdfsCopyFromLocal"}));
  EXPECT_EQ(reports().back(), statusReport(4, 0x86BFF81F, {"hdfsCopyFromLocal"}));
}

TEST_F(CopyTest, AFailedCloseOfTheDestinationFailsTheUploadAndFreesItsHandle) {
  // The void calls of a one-pass upload: the write, the local close, the destination's close.
  hostkernel::injectFault(Fault::JniCall, 3, "CallVoidMethodV");
  int32_t status = 0;
  EXPECT_EQ(upload(localFile("one", "one pass"), u"/upload/unclosed", 0, &status), -1);
  EXPECT_EQ(status, static_cast<int32_t>(QX_OPERATION_FAILED));
  EXPECT_EQ(dfs->openFiles.count, 0);
  EXPECT_EQ(reports().back(), statusReport(4, 0x86BFF81F, {"hdfsCopyFromLocal"}));
  EXPECT_FALSE(env->ExceptionCheck());
}

TEST_F(CopyTest, TheConfigurationsBlockSizeKeyIsTheCurrentOne) {
  LocalRef<jobject> configuration(env, callJava(hdfs, "org/apache/hadoop/fs/FileSystem", "getConf",
                                                "()Lorg/apache/hadoop/conf/Configuration;"));
  LocalRef<jstring> key(env, env->NewStringUTF("dfs.blocksize"));
  ASSERT_EQ(
      bridgeOps().invokeMethod(dfs->jvm, context(), env, nullptr, nullptr, JVMLINK_INSTANCE,
                               configuration.get(), "org/apache/hadoop/conf/Configuration", 0,
                               "setLong", "(Ljava/lang/String;J)V", key.get(), jlong{2 << 20}),
      0);
  EXPECT_EQ(upload(localFile("sized", "x"), u"/upload/sized"), 0);
  int32_t status = 0;
  hdfsPathInfo *info = ops().hdfsGetPathInfo(dfs, context(), &status, hdfs, u"/upload/sized");
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(int64_t{info->blockSize}, 2 << 20);
  ops().hdfsReleasePathInfo(dfs, nullptr, info, 1);
}

TEST_F(CopyTest, CopiesGoBetweenTwoConnections) {
  std::string data = randomBytes(3 << 20, 12);
  std::string source = localFile("across", data);
  int32_t status = 0;
  EXPECT_EQ(
      ops().hdfsCopy(dfs, context(), &status, local, qx(source).c_str(), hdfs, u"/across/copy"), 0);
  EXPECT_TRUE(fetched(u"/across/copy") == data);
  EXPECT_TRUE(std::filesystem::exists(source)) << "a copy keeps its source";
  EXPECT_EQ(ops().hdfsMove(dfs, context(), &status, hdfs, "/across/copy", local,
                           (directory + "/moved").c_str()),
            0);
  EXPECT_TRUE(contentsOf(directory + "/moved") == data);
  EXPECT_FALSE(existsOnHdfs(u"/across/copy")) << "a move deletes its source";
  EXPECT_TRUE(reports().empty());
}

TEST_F(CopyTest, CopiesHadoopCannotCompleteAreFailures) {
  std::filesystem::create_directories(directory + "/tree/sub");
  int32_t status = 0;
  // A directory whose destination cannot be made: FileUtil.copy answers false.
  EXPECT_EQ(ops().hdfsCopy(dfs, context(), &status, local, qx(directory + "/tree").c_str(), local,
                           u"/proc/qx-not-here"),
            -1);
  EXPECT_EQ(reports(),
            std::vector<Report>({textReport(4,
                                            "ERROR: hdfsCopy: Hadoop did not complete the copy "
                                            "of " +
                                                directory + "/tree to /proc/qx-not-here.")}));
  messages.clear();

  // A move whose source its user may read but not delete.
  makeWorldWritable(hdfs, u"/guarded-out");
  writeAll(hdfs, "/guarded/source", "kept");
  hdfsFS mover = connect(qx("127.0.0.1").c_str(), testHdfs().port(), u"mover");
  EXPECT_EQ(ops().hdfsMove(dfs, context(), &status, mover, "/guarded/source", mover,
                           "/guarded-out/moved"),
            -1);
  EXPECT_TRUE(existsOnHdfs(u"/guarded/source"));
  std::vector<std::string> lines = messages.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "ERROR: Call to method org.apache.hadoop.fs.FileUtil::copy(move) failed.");
  EXPECT_EQ(lines[1], "ERROR: org.apache.hadoop.security.AccessControlException");
}

// A copy or move onto its own source, or into it, is refused before Hadoop touches anything:
// on the local file system and on HDFS, on one connection and on two to the same cluster.
TEST_F(CopyTest, NothingIsCopiedOrMovedOntoOrIntoItself) {
  hdfsFS second = connectHdfs();
  struct Side {
    const char *what;
    hdfsFS from, to;
    std::string root;
  };
  const std::string kept = "must survive";
  for (const Side &side :
       {Side{"local", local, local, directory + "/self"}, Side{"hdfs", hdfs, hdfs, "/self"},
        Side{"hdfs, two connections", hdfs, second, "/self2"}}) {
    std::string d = side.root, f = d + "/f";
    writeAll(side.from, f, kept);
    ASSERT_EQ(ops().hdfsCreateDirectory(dfs, context(), nullptr, side.from, qx(d + "/sub").c_str()),
              0);
    struct Attempt {
      bool move;
      std::string source, destination;
    };
    for (const Attempt &attempt :
         {Attempt{false, f, f}, Attempt{false, f, d}, Attempt{true, f, f}, Attempt{true, f, d},
          Attempt{false, d, d + "/sub"}, Attempt{true, d, d + "/sub"}, Attempt{true, d, d + "/new"},
          Attempt{false, d, d}}) {
      std::string what = std::string(side.what) + (attempt.move ? ": move " : ": copy ") +
                         attempt.source + " to " + attempt.destination;
      messages.clear();
      int32_t status = -7;
      int32_t result =
          attempt.move
              ? ops().hdfsMove(dfs, context(), &status, side.from, attempt.source.c_str(), side.to,
                               attempt.destination.c_str())
              : ops().hdfsCopy(dfs, context(), &status, side.from, qx(attempt.source).c_str(),
                               side.to, qx(attempt.destination).c_str());
      EXPECT_EQ(result, -1) << what;
      EXPECT_EQ(status, -7) << what;
      std::vector<std::string> lines = messages.lines();
      ASSERT_EQ(lines.size(), 1u) << what << ::testing::PrintToString(lines);
      std::string name = attempt.move ? "hdfsMove" : "hdfsCopy";
      EXPECT_EQ(lines[0].rfind("ERROR: " + name + ": ", 0), 0u) << lines[0];
      EXPECT_NE(lines[0].find(attempt.source + " "), std::string::npos) << lines[0];
      FileHandle *in = open(side.from, f, 0);
      ASSERT_NE(in, nullptr) << what;
      EXPECT_EQ(readAll(side.from, in), kept) << what;
      close(side.from, in);
      EXPECT_EQ(namesIn(side.from, qx(d + "/sub")), std::vector<std::u16string>()) << what;
      EXPECT_FALSE(env->ExceptionCheck());
    }
  }
  // An upload of a local file onto itself would empty it before its first read.
  std::string file = localFile("upload-self", kept);
  int32_t status = 0;
  EXPECT_EQ(ops().hdfsCopyFromLocal(dfs, context(), &status, qx(file).c_str(), local,
                                    qx(file).c_str(), 0, 0, 0),
            -1);
  EXPECT_EQ(status, static_cast<int32_t>(QX_OPERATION_FAILED));
  EXPECT_EQ(contentsOf(file), kept);
  EXPECT_EQ(reports().back(), statusReport(4, 0x86BFF81F, {"hdfsCopyFromLocal"}));
  EXPECT_EQ(dfs->openFiles.count, 0);
}

}  // namespace
}  // namespace testsupport
