// Whole files: uploads compared byte for byte through Hadoop's own client, copies between two
// connections, moves that Hadoop cannot complete, and the failures of each.
#include <unistd.h>

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

// Copies and uploads read the connection's own configuration (what a client set on it), not a
// fresh one: a buffer size the connection says is invalid fails them, and nothing is left.
TEST_F(CopyTest, CopiesReadTheConnectionsOwnConfiguration) {
  std::string source = localFile("conf", "some bytes");
  int32_t status = 0;
  ASSERT_EQ(upload(source, u"/conf/f"), 0);
  LocalRef<jobject> configuration(env, callJava(hdfs, "org/apache/hadoop/fs/FileSystem", "getConf",
                                                "()Lorg/apache/hadoop/conf/Configuration;"));
  LocalRef<jstring> key(env, env->NewStringUTF("io.file.buffer.size"));
  auto setBufferSize = [&](jint size) {
    ASSERT_EQ(bridgeOps().invokeMethod(dfs->jvm, context(), env, nullptr, nullptr, JVMLINK_INSTANCE,
                                       configuration.get(), "org/apache/hadoop/conf/Configuration",
                                       0, "setInt", "(Ljava/lang/String;I)V", key.get(), size),
              0);
  };
  setBufferSize(-1);
  EXPECT_EQ(ops().hdfsCopy(dfs, context(), &status, hdfs, u"/conf/f", hdfs, u"/conf/copy"), -1);
  EXPECT_EQ(upload(source, u"/conf/up"), -1);
  EXPECT_FALSE(existsOnHdfs(u"/conf/copy"));
  EXPECT_FALSE(existsOnHdfs(u"/conf/up"));
  EXPECT_FALSE(reports().empty());
  setBufferSize(4096);
  messages.clear();
  EXPECT_EQ(ops().hdfsCopy(dfs, context(), &status, hdfs, u"/conf/f", hdfs, u"/conf/copy"), 0);
  EXPECT_EQ(upload(source, u"/conf/up"), 0);
  EXPECT_EQ(fetched(u"/conf/copy"), "some bytes");
  EXPECT_TRUE(reports().empty());
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

// Two spellings of one file are one file: a link and its target, two hard links, a relative and
// an absolute path, ".", a directory that resolves to DIRECTORY/NAME, an authority in capitals,
// and two connections to one cluster by different names. Each is refused in one line and
// leaves the file as it was.
TEST_F(CopyTest, TwoSpellingsOfOneFileAreOneFile) {
  std::string real = directory + "/real", link = directory + "/link";
  std::filesystem::create_directories(real + "/sub");
  std::filesystem::create_directory_symlink(real, link);
  writeAll(local, real + "/f", "kept");
  std::filesystem::create_hard_link(real + "/f", real + "/hard");
  writeAll(hdfs, "/spell/f", "kept");
  ASSERT_EQ(ops().hdfsCreateDirectory(dfs, context(), nullptr, hdfs, u"/spell/sub"), 0);
  hdfsFS named = connect(u"localhost", testHdfs().port());
  hdfsFS relative = connect(u"local", 0);
  ASSERT_EQ(ops().hdfsSetWorkingDirectory(dfs, context(), nullptr, relative, qx(real).c_str()), 0);
  std::string capitals = "hdfs://LOCALHOST:" + std::to_string(testHdfs().port());
  struct Case {
    hdfsFS from;
    std::string source;
    hdfsFS to;
    std::string destination;
    const char *refusal;
  };
  const char *same = "are the same file", *inside = "would land inside itself";
  for (const Case &c : std::vector<Case>{
           {local, link + "/f", local, real + "/f", same},
           {local, real + "/hard", local, real + "/f", same},
           {local, real + "/f", local, link, same},
           {relative, "f", local, real + "/f", same},
           {relative, "f", relative, ".", same},
           {local, link, local, real + "/sub", inside},
           {relative, ".", relative, "sub/x", inside},
           {hdfs, capitals + "/spell/f", hdfs, "/spell/f", same},
           {hdfs, "/spell/f", named, "/spell/f", same},
           {named, "/spell/f", hdfs, "/spell", same},
           {hdfs, "/spell", named, capitals + "/spell/sub", inside},
       }) {
    for (bool move : {false, true}) {
      std::string what = (move ? "move " : "copy ") + c.source + " to " + c.destination;
      messages.clear();
      int32_t result = move ? ops().hdfsMove(dfs, context(), nullptr, c.from, c.source.c_str(),
                                             c.to, c.destination.c_str())
                            : ops().hdfsCopy(dfs, context(), nullptr, c.from, qx(c.source).c_str(),
                                             c.to, qx(c.destination).c_str());
      EXPECT_EQ(result, -1) << what;
      std::vector<std::string> lines = messages.lines();
      ASSERT_EQ(lines.size(), 1u) << what << ::testing::PrintToString(lines);
      EXPECT_NE(lines[0].find(c.refusal), std::string::npos) << lines[0];
      EXPECT_FALSE(env->ExceptionCheck());
    }
  }
  for (hdfsFS fs : {local, hdfs}) {
    FileHandle *in = open(fs, fs == local ? real + "/f" : "/spell/f", 0);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(readAll(fs, in), "kept");
    close(fs, in);
  }
  EXPECT_EQ(namesIn(local, qx(real + "/sub")), std::vector<std::u16string>());
  EXPECT_EQ(namesIn(hdfs, u"/spell/sub"), std::vector<std::u16string>());

  // An upload names its local file as the process's current directory finds it, and any
  // character a local name may hold is accepted.
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(real.c_str()), 0);
  std::ofstream("a:b.csv") << "colon";
  int32_t status = 0;
  int32_t onItself = ops().hdfsCopyFromLocal(dfs, context(), &status, u"f", local,
                                             qx(link + "/f").c_str(), 0, 0, 0);
  int32_t colon =
      ops().hdfsCopyFromLocal(dfs, context(), &status, u"a:b.csv", hdfs, u"/spell/colon", 0, 0, 0);
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_EQ(onItself, -1);
  EXPECT_EQ(contentsOf(real + "/f"), "kept");
  EXPECT_EQ(colon, 0) << ::testing::PrintToString(messages.lines());
  EXPECT_EQ(fetched(u"/spell/colon"), "colon");
}

// A copy that fails half way leaves the file it would have replaced as it was, and nothing
// beside it: a source that fails its checksum after its first megabyte, and an upload whose
// second write fails.
TEST_F(CopyTest, AFailedCopyLeavesItsDestinationAsItWas) {
  std::string source = directory + "/corrupt";
  writeAll(local, source, std::string(3 << 20, 'a'));
  {
    std::fstream data(source, std::ios::in | std::ios::out | std::ios::binary);
    data.seekp(2 << 20);
    data.put('b');
  }
  writeAll(local, directory + "/old", "old");
  writeAll(hdfs, "/failed/old", "old");
  for (const auto &[fs, destination] : std::vector<std::pair<hdfsFS, std::string>>{
           {local, directory + "/old"}, {hdfs, "/failed/old"}}) {
    for (bool move : {false, true}) {
      int32_t result = move ? ops().hdfsMove(dfs, context(), nullptr, local, source.c_str(), fs,
                                             destination.c_str())
                            : ops().hdfsCopy(dfs, context(), nullptr, local, qx(source).c_str(), fs,
                                             qx(destination).c_str());
      EXPECT_EQ(result, -1) << destination;
      std::string said = ::testing::PrintToString(messages.lines());
      EXPECT_NE(said.find("ChecksumException"), std::string::npos) << said;
      messages.clear();
      FileHandle *in = open(fs, destination, 0);
      ASSERT_NE(in, nullptr);
      EXPECT_EQ(readAll(fs, in), "old");
      close(fs, in);
    }
  }
  EXPECT_TRUE(std::filesystem::exists(source)) << "a failed move keeps its source";
  hostkernel::injectFault(Fault::JniCall, 2, "CallVoidMethodV");  // the second write
  int32_t status = 0;
  EXPECT_EQ(upload(localFile("twelve", "twelve bytes"), u"/failed/old", 4, &status), -1);
  EXPECT_EQ(status, static_cast<int32_t>(0x86BFF816));
  EXPECT_EQ(fetched(u"/failed/old"), "old");
  EXPECT_EQ(namesIn(hdfs, u"/failed"), std::vector<std::u16string>{u"old"}) << "nothing beside";
  std::vector<std::string> left;
  for (const auto &entry : std::filesystem::directory_iterator(directory)) {
    std::string name = entry.path().filename().string();
    if (name.find("qxcopy") != std::string::npos) left.push_back(name);
  }
  EXPECT_EQ(left, std::vector<std::string>());
  EXPECT_EQ(dfs->openFiles.count, 0);
}

}  // namespace
}  // namespace testsupport
