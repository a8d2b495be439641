// Files written, read back byte for byte, positioned, appended and closed, on the local file
// system and on a real HDFS.
#include <atomic>
#include <random>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

enum class FileSystemKind { Local, Hdfs };

class FileIoTest : public HadoopTest, public ::testing::WithParamInterface<FileSystemKind> {
 protected:
  void SetUp() override {
    HadoopTest::SetUp();
    if (GetParam() == FileSystemKind::Local) {
      localRoot = temporaryDirectory();
      root = localRoot;
      fs = connect(u"local", 0);
    } else {
      static std::atomic<int> counter{0};
      root = "/io-" + std::to_string(counter++);
      fs = connectHdfs();
    }
    ASSERT_NE(fs, nullptr);
  }
  void TearDown() override {
    if (!localRoot.empty()) removeTree(localRoot);
    HadoopTest::TearDown();
  }

  std::string pathOf(const std::string &name) { return root + "/" + name; }

  std::string root;
  std::string localRoot;
  hdfsFS fs = nullptr;
};

TEST_P(FileIoTest, SixtyFourMebibytesGoInAndComeBackByteForByte) {
  const std::string data = randomBytes(64 << 20, 17);
  writeAll(fs, pathOf("copied.bin"), data);

  FileHandle *out = open(fs, pathOf("array.bin"), HDFS_OPEN_WRITE);
  ASSERT_NE(out, nullptr);
  LocalRef<jbyteArray> chunk(env, env->NewByteArray(1 << 20));
  for (size_t done = 0; done < data.size(); done += 1 << 20) {
    env->SetByteArrayRegion(chunk.get(), 0, 1 << 20,
                            reinterpret_cast<const jbyte *>(data.data() + done));
    int32_t status = 0;
    ASSERT_EQ(ops().hdfsWrite_jb(dfs, context(), &status, fs, out, chunk.get(), 0, 1 << 20),
              1 << 20);
  }
  close(fs, out);

  std::mt19937 random(5);
  for (const char *name : {"copied.bin", "array.bin"}) {
    FileHandle *in = open(fs, pathOf(name), 0);
    ASSERT_NE(in, nullptr);
    ASSERT_TRUE(readAll(fs, in) == data) << name << ": sequential read differs";
    jbyteArray slot = nullptr;
    for (int i = 0; i < 100; i++) {
      // The slot's array is made by the first call, so that call asks for the most.
      int32_t length = i == 0 ? (256 << 10) : static_cast<int32_t>(random() % (256 << 10)) + 1;
      int64_t position = static_cast<int64_t>(random() % (data.size() - length));
      std::string buffer(static_cast<size_t>(length), '\0');
      int32_t status = -7;
      int32_t n = ops().hdfsPread(dfs, context(), &status, fs, in, position, buffer.data(), length);
      ASSERT_GT(n, 0);
      ASSERT_EQ(status, 0);
      ASSERT_EQ(buffer.substr(0, n), data.substr(position, n)) << name << " pread at " << position;
      n = ops().hdfsPread_jb(dfs, context(), &status, fs, in, position, &slot, 0, length);
      ASSERT_GT(n, 0);
      std::string viaArray(static_cast<size_t>(n), '\0');
      env->GetByteArrayRegion(slot, 0, n, reinterpret_cast<jbyte *>(viaArray.data()));
      ASSERT_EQ(viaArray, data.substr(position, n)) << name << " pread_jb at " << position;
    }
    env->DeleteLocalRef(slot);
    close(fs, in);
  }
  EXPECT_TRUE(reports().empty());
}

TEST_P(FileIoTest, SeekTellFlushAvailableAndEndOfFile) {
  FileHandle *out = open(fs, pathOf("small.txt"), HDFS_OPEN_WRITE);
  ASSERT_NE(out, nullptr);
  int32_t status = 0;
  ASSERT_EQ(ops().hdfsWrite(dfs, context(), &status, fs, out, "0123456789", 10), 10);
  EXPECT_EQ(ops().hdfsFlush(dfs, context(), &status, fs, out), 0);
  EXPECT_EQ(ops().hdfsTell(dfs, context(), &status, fs, out), 10) << "the output stream's position";
  ASSERT_EQ(ops().hdfsWrite(dfs, context(), &status, fs, out, "abc", 3), 3);
  close(fs, out);

  FileHandle *in = open(fs, pathOf("small.txt"), HDFS_OPEN_APPEND);  // append alone reads
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->type, HDFS_STREAM_INPUT);
  EXPECT_EQ(ops().hdfsAvailable(dfs, context(), &status, fs, in), 13);
  EXPECT_EQ(ops().hdfsSeek(dfs, context(), &status, fs, in, 5), 0);
  EXPECT_EQ(ops().hdfsTell(dfs, context(), &status, fs, in), 5);
  char buffer[16] = {};
  EXPECT_EQ(ops().hdfsRead(dfs, context(), &status, fs, in, buffer, 16), 8);
  EXPECT_EQ(std::string(buffer, 8), "56789abc");
  status = -7;
  EXPECT_EQ(ops().hdfsRead(dfs, context(), &status, fs, in, buffer, 16), 0) << "end of file";
  EXPECT_EQ(status, 0);
  close(fs, in);
  EXPECT_TRUE(reports().empty());
}

// HDFS appends; Hadoop's local file system checksums its files and refuses to.
TEST_P(FileIoTest, AppendAddsToTheEndWhereTheFileSystemAllowsIt) {
  writeAll(fs, pathOf("log.txt"), "first;");
  int32_t status = 0;
  FileHandle *appended =
      ops().hdfsOpenFile(dfs, context(), &status, fs, qx(pathOf("log.txt")).c_str(), 9, 0, 0, 0);
  if (GetParam() == FileSystemKind::Local) {
    EXPECT_EQ(appended, nullptr);
    std::vector<std::string> lines = messages.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "ERROR: Call to method org.apache.hadoop.conf.FileSystem::append((Lorg/apache/"
              "hadoop/fs/Path;)Lorg/apache/hadoop/fs/FSDataOutputStream;) failed.");
    EXPECT_EQ(lines[1], "ERROR: java.lang.UnsupportedOperationException");
    return;
  }
  ASSERT_NE(appended, nullptr);
  EXPECT_EQ(appended->type, HDFS_STREAM_OUTPUT);
  ASSERT_EQ(ops().hdfsWrite(dfs, context(), &status, fs, appended, "second;", 7), 7);
  close(fs, appended);
  FileHandle *in = open(fs, pathOf("log.txt"), 0);
  EXPECT_EQ(readAll(fs, in), "first;second;");
  close(fs, in);
  EXPECT_TRUE(reports().empty());
}

TEST_P(FileIoTest, PreadIntoAnEmptySlotMakesRoomForItsOffsetAndNoSlotIsRefused) {
  writeAll(fs, pathOf("p.bin"), "0123456789");
  FileHandle *in = open(fs, pathOf("p.bin"), 0);
  int32_t status = -7;
  EXPECT_EQ(ops().hdfsPread_jb(dfs, context(), &status, fs, in, 0, nullptr, 0, 0), -1);
  EXPECT_EQ(status, static_cast<int32_t>(QX_MISSING_ARGUMENT));
  jbyteArray slot = nullptr;
  EXPECT_EQ(ops().hdfsPread_jb(dfs, context(), &status, fs, in, 2, &slot, 6, 4), 4);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(env->GetArrayLength(slot), 10);
  char got[4];
  env->GetByteArrayRegion(slot, 6, 4, reinterpret_cast<jbyte *>(got));
  EXPECT_EQ(std::string(got, 4), "2345");
  env->DeleteLocalRef(slot);
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, QX_MISSING_ARGUMENT)}));
  close(fs, in);
}

TEST_P(FileIoTest, JavaReadOfZeroBytesIsReportedButNotAFailure) {
  writeAll(fs, pathOf("z.bin"), "data");
  FileHandle *in = open(fs, pathOf("z.bin"), 0);
  int32_t status = -7;
  char buffer[1];
  EXPECT_EQ(ops().hdfsRead(dfs, context(), &status, fs, in, buffer, 0), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF814, {"hdfsRead"}),
                                            statusReport(4, 0x86BFF815, {"hdfsRead", "0"})}));
  close(fs, in);
}

// A handle keeps one Java array for its copying calls, or reads HDFS straight into the caller's
// memory; neither may change a byte or a report, whatever the length.
TEST_P(FileIoTest, CopyingCallsOfEveryLengthKeepTheBytesAndLeaveNoArrayBehind) {
  const std::string data = randomBytes(24 << 20, 23);
  const int32_t lengths[] = {1, 4096, 65537, 1 << 20, 9 << 20};  // the last is never kept
  FileHandle *out = open(fs, pathOf("lengths.bin"), HDFS_OPEN_WRITE);
  ASSERT_NE(out, nullptr);
  int32_t status = 0;
  for (size_t done = 0, i = 0; done < data.size(); i++) {
    int32_t length = static_cast<int32_t>(std::min<size_t>(lengths[i % 5], data.size() - done));
    ASSERT_EQ(ops().hdfsWrite(dfs, context(), &status, fs, out, data.data() + done, length),
              length);
    done += static_cast<size_t>(length);
  }
  close(fs, out);
  FileHandle *in = open(fs, pathOf("lengths.bin"), 0);
  ASSERT_NE(in, nullptr);
  std::string got, buffer(9 << 20, '\0');
  for (size_t i = 0;; i++) {
    status = -7;
    int32_t n = ops().hdfsRead(dfs, context(), &status, fs, in, buffer.data(), lengths[i % 5]);
    ASSERT_GE(n, 0);
    ASSERT_EQ(status, 0);
    if (n == 0) break;
    got.append(buffer.data(), static_cast<size_t>(n));
  }
  ASSERT_TRUE(got == data);
  for (int32_t length : lengths) {
    int64_t position = static_cast<int64_t>(data.size()) - length - 3;
    ASSERT_EQ(ops().hdfsPread(dfs, context(), &status, fs, in, position, buffer.data(), length),
              length);
    ASSERT_TRUE(buffer.compare(0, length, data, position, length) == 0) << length;
  }
  close(fs, in);
  EXPECT_EQ(dfs->keptArrayBytes, 0);
  EXPECT_TRUE(reports().empty());
}

TEST_P(FileIoTest, FailuresInTheMiddleOfAStreamReportAlikeAndReadingGoesOn) {
  const std::string data = randomBytes(4 << 20, 29);
  writeAll(fs, pathOf("mid.bin"), data);
  FileHandle *in = open(fs, pathOf("mid.bin"), 0);
  std::string buffer(300 << 10, '\0');
  int32_t status = 0;
  ASSERT_EQ(ops().hdfsRead(dfs, context(), &status, fs, in, buffer.data(), 100), 100);
  // Local reads use the handle's array, made anew when a call needs a longer one; HDFS reads
  // go through a buffer over native memory.
  const std::string transfer =
      GetParam() == FileSystemKind::Local ? "NewByteArray" : "NewDirectByteBuffer";
  const std::string read = "org.apache.hadoop.fs.FSDataInputStream::read";
  struct Case {
    std::string function, methodText, exception;
    bool positioned;
    int32_t length;
  } cases[] = {{"CallIntMethodV", read, "java.io.IOException", false, 100},
               {transfer, transfer, "java.lang.OutOfMemoryError", false, 200 << 10},
               {"CallIntMethodV", read, "java.io.IOException", true, 100},
               {transfer, transfer, "java.lang.OutOfMemoryError", true, 300 << 10}};
  size_t position = 100;
  for (const Case &c : cases) {
    messages.clear();
    hostkernel::injectFault(Fault::JniCall, 1, c.function);
    int32_t result =
        c.positioned ? ops().hdfsPread(dfs, context(), &status, fs, in, 0, buffer.data(), c.length)
                     : ops().hdfsRead(dfs, context(), &status, fs, in, buffer.data(), c.length);
    EXPECT_EQ(result, -1) << c.function;
    EXPECT_EQ(status, static_cast<int32_t>(0x86BFF814));
    std::vector<std::string> lines = messages.lines();
    ASSERT_GE(lines.size(), 3u) << c.function;
    EXPECT_EQ(reports()[0], statusReport(4, 0x86BFF814, {c.positioned ? "hdfsPread" : "hdfsRead"}));
    EXPECT_EQ(lines[1], "ERROR: Call to method " + c.methodText + " failed.");
    EXPECT_EQ(lines[2], "ERROR: " + c.exception);
    for (int32_t filled = 0, n; filled < c.length; filled += n) {
      n = ops().hdfsRead(dfs, context(), &status, fs, in, buffer.data() + filled,
                         c.length - filled);
      ASSERT_GT(n, 0);
    }
    ASSERT_TRUE(buffer.compare(0, c.length, data, position, c.length) == 0)
        << "reading goes on where it was after " << c.function;
    position += static_cast<size_t>(c.length);
  }
  close(fs, in);
}

TEST_P(FileIoTest, TwoThreadsPreadingOneHandleEachGetTheirOwnBytes) {
  const std::string data = randomBytes(4 << 20, 31);
  writeAll(fs, pathOf("two.bin"), data);
  FileHandle *in = open(fs, pathOf("two.bin"), 0);
  std::atomic<int> wrong{0};
  auto preads = [&](unsigned seed) {
    std::mt19937 random(seed);
    std::string buffer(256 << 10, '\0');
    for (int i = 0; i < 200; i++) {
      int32_t length = static_cast<int32_t>(random() % buffer.size()) + 1;
      int64_t position = static_cast<int64_t>(random() % (data.size() - length));
      int32_t status = 0;
      int32_t n = ops().hdfsPread(dfs, context(), &status, fs, in, position, buffer.data(), length);
      if (n <= 0 || buffer.compare(0, n, data, position, n) != 0) wrong++;
    }
    QXJniExtension *jni = dfs->jvm->jniExtension;
    jni->releaseThread(jni, jni, nullptr);
  };
  std::thread first(preads, 1), second(preads, 2);
  first.join();
  second.join();
  EXPECT_EQ(wrong, 0);
  close(fs, in);
  EXPECT_TRUE(reports().empty());
}

TEST_P(FileIoTest, WrongKindOfHandleAndBadLengthsFailClearly) {
  FileHandle *out = open(fs, pathOf("kinds.bin"), HDFS_OPEN_WRITE);
  int32_t status = 0;
  char buffer[8] = {};
  EXPECT_EQ(ops().hdfsRead(dfs, context(), &status, fs, out, buffer, 8), -1);
  EXPECT_EQ(status, static_cast<int32_t>(0x86BFF803));
  EXPECT_EQ(ops().hdfsSeek(dfs, context(), &status, fs, out, 0), -1);
  EXPECT_EQ(ops().hdfsWrite(dfs, context(), &status, fs, out, buffer, -1), -1);
  EXPECT_EQ(status, static_cast<int32_t>(0x86BFF807));
  ASSERT_EQ(ops().hdfsWrite(dfs, context(), &status, fs, out, buffer, 8), 8);
  close(fs, out);
  FileHandle *in = open(fs, pathOf("kinds.bin"), 0);
  EXPECT_EQ(ops().hdfsFlush(dfs, context(), &status, fs, in), -1);
  EXPECT_EQ(ops().hdfsRead(dfs, context(), &status, fs, in, buffer, -5), -1);
  EXPECT_EQ(status, static_cast<int32_t>(0x86BFF807));
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF803, {"hdfsRead"}),
                                            statusReport(4, 0x86BFF803, {"hdfsSeek"}),
                                            statusReport(4, 0x86BFF807, {"hdfsWrite"}),
                                            statusReport(4, 0x86BFF804, {"hdfsFlush"}),
                                            statusReport(4, 0x86BFF807, {"hdfsRead"})}));
  messages.clear();
  jbyteArray small = env->NewByteArray(4);
  EXPECT_EQ(ops().hdfsPread_jb(dfs, context(), &status, fs, in, 0, &small, 2, 8), -1)
      << "outside the caller's array";
  EXPECT_EQ(status, static_cast<int32_t>(0x86BFF814));
  std::vector<std::string> lines = messages.lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(reports()[0], statusReport(4, 0x86BFF814, {"hdfsPread"}));
  EXPECT_EQ(lines[1], "ERROR: Call to method org.apache.hadoop.fs.FSDataInputStream::read failed.");
  EXPECT_EQ(lines[2], "ERROR: java.lang.IndexOutOfBoundsException");
  env->DeleteLocalRef(small);
  close(fs, in);
}

TEST_P(FileIoTest, MissingFileFailsWithTheJavaReport) {
  int32_t status = 42;
  EXPECT_EQ(
      ops().hdfsOpenFile(dfs, context(), &status, fs, qx(pathOf("absent")).c_str(), 0, 0, 0, 0),
      nullptr);
  EXPECT_EQ(status, 42);
  std::vector<std::string> lines = messages.lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "ERROR: Call to method org.apache.hadoop.conf.FileSystem::open((Lorg/apache/hadoop/fs/"
            "Path;I)Lorg/apache/hadoop/fs/FSDataInputStream;) failed.");
  EXPECT_EQ(lines[1], "ERROR: java.io.FileNotFoundException");
}

TEST_P(FileIoTest, HundredAndFirstHandleGrowsTheListAndClosingKeepsTheOrder) {
  writeAll(fs, pathOf("shared.bin"), "x");
  std::vector<FileHandle *> handles;
  for (int i = 0; i < 101; i++) handles.push_back(open(fs, pathOf("shared.bin"), 0));
  EXPECT_EQ(dfs->openFiles.capacity, 200);
  ASSERT_EQ(dfs->openFiles.count, 101);
  close(fs, handles[50]);
  close(fs, handles[0]);
  handles.erase(handles.begin() + 50);
  handles.erase(handles.begin());
  ASSERT_EQ(dfs->openFiles.count, 99);
  EXPECT_EQ(std::vector<FileHandle *>(dfs->openFiles.items, dfs->openFiles.items + 99), handles);
  int32_t status = 0;
  EXPECT_EQ(ops().hdfsCloseFile(dfs, context(), &status, fs, handles[3]), 0);
  EXPECT_EQ(ops().hdfsCloseFile(dfs, context(), &status, fs, handles[3]), -1) << "closed twice";
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF802, {"hdfsCloseFile"})}));
  handles.erase(handles.begin() + 3);
  for (FileHandle *file : handles) close(fs, file);
  EXPECT_EQ(dfs->openFiles.count, 0);
}

INSTANTIATE_TEST_SUITE_P(BothFileSystems, FileIoTest,
                         ::testing::Values(FileSystemKind::Local, FileSystemKind::Hdfs),
                         [](const ::testing::TestParamInfo<FileSystemKind> &info) {
                           return info.param == FileSystemKind::Local ? "Local" : "Hdfs";
                         });

using SharedFileTest = HadoopTest;

TEST_F(SharedFileTest, ThreadsReadingTheirOwnHandlesOfOneHdfsFileGetCorrectData) {
  hdfsFS fs = connectHdfs();
  const std::string data = randomBytes(8 << 20, 3);
  writeAll(fs, "/shared/eight.bin", data);
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; t++) {
    readers.emplace_back([&, t] {
      int32_t status = 0;
      FileHandle *in =
          ops().hdfsOpenFile(dfs, context(), &status, fs, u"/shared/eight.bin", 0, 0, 0, 0);
      std::string got;
      std::vector<char> buffer(static_cast<size_t>(64 << 10) + t);
      for (int32_t n; (n = ops().hdfsRead(dfs, context(), &status, fs, in, buffer.data(),
                                          static_cast<int32_t>(buffer.size()))) > 0;) {
        got.append(buffer.data(), static_cast<size_t>(n));
      }
      if (got != data) wrong++;
      if (ops().hdfsCloseFile(dfs, context(), &status, fs, in) != 0) wrong++;
      QXJniExtension *jni = dfs->jvm->jniExtension;
      jni->releaseThread(jni, jni, nullptr);
    });
  }
  for (std::thread &reader : readers) reader.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_TRUE(reports().empty());
}

TEST_F(SharedFileTest, HundredThousandReadsLeakNoLocalReference) {
  std::string directory = temporaryDirectory();
  hdfsFS fs = connect(u"local", 0);
  const std::string data = randomBytes(100000 * 16, 9);
  writeAll(fs, directory + "/many.bin", data);
  FileHandle *in = open(fs, directory + "/many.bin", 0);
  std::string got;
  char buffer[16];
  for (int i = 0; i < 100000; i++) {
    int32_t status = 0;
    int32_t n = ops().hdfsRead(dfs, context(), &status, fs, in, buffer, 16);
    ASSERT_EQ(n, 16) << "read " << i;
    got.append(buffer, 16);
  }
  EXPECT_TRUE(got == data);
  close(fs, in);
  removeTree(directory);
}

}  // namespace
}  // namespace testsupport

namespace testsupport {
namespace {

class HdfsFileTest : public HadoopTest {
 protected:
  void SetUp() override {
    HadoopTest::SetUp();
    fs = connectHdfs();
    ASSERT_NE(fs, nullptr);
  }

  // The replication and block size HDFS recorded for a file.
  std::pair<jshort, jlong> storedSizes(const char *path) {
    LocalRef<jstring> text(env, env->NewStringUTF(path));
    LocalRef<jobject> pathObject(env, bridgeOps().constructNewObjectOfClass(
                                          dfs->jvm, context(), env, "org/apache/hadoop/fs/Path",
                                          "(Ljava/lang/String;)V", text.get()));
    jobject status = nullptr;
    EXPECT_EQ(bridgeOps().invokeMethod(dfs->jvm, context(), env, &status, nullptr, JVMLINK_INSTANCE,
                                       fs, "org/apache/hadoop/fs/FileSystem", 0, "getFileStatus",
                                       "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/"
                                       "FileStatus;",
                                       pathObject.get()),
              0);
    LocalRef<jobject> statusRef(env, status);
    jshort replication = 0;
    jlong blockSize = 0;
    bridgeOps().invokeMethod(dfs->jvm, context(), env, &replication, nullptr, JVMLINK_INSTANCE,
                             status, "org/apache/hadoop/fs/FileStatus", 0, "getReplication", "()S");
    bridgeOps().invokeMethod(dfs->jvm, context(), env, &blockSize, nullptr, JVMLINK_INSTANCE,
                             status, "org/apache/hadoop/fs/FileStatus", 0, "getBlockSize", "()J");
    return {replication, blockSize};
  }

  hdfsFS fs = nullptr;
};

// Sizes of 0 are what the configuration names, else what Java's create(Path) gives on the same
// connection (HDFS's client defaults, which no document on the client's class path holds).
TEST_F(HdfsFileTest, CreateTakesTheGivenSizesOrThoseOfTheConfiguration) {
  LocalRef<jobject> javaFile = javaPath(u"/sizes/java");
  LocalRef<jobject> javaMade(env, callJava(fs, "org/apache/hadoop/fs/FileSystem", "create",
                                           "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/"
                                           "FSDataOutputStream;",
                                           javaFile.get()));
  bridgeOps().invokeMethod(dfs->jvm, context(), env, nullptr, nullptr, JVMLINK_INSTANCE,
                           javaMade.get(), "java/io/OutputStream", 0, "close", "()V");
  int32_t status = 0;
  FileHandle *configured = ops().hdfsOpenFile(dfs, context(), &status, fs, u"/sizes/configured",
                                              HDFS_OPEN_WRITE, 0, 0, 0);
  FileHandle *given = ops().hdfsOpenFile(dfs, context(), &status, fs, u"/sizes/given",
                                         HDFS_OPEN_WRITE, 8192, 2, 1 << 20);
  ASSERT_TRUE(configured && given);
  close(fs, configured);
  close(fs, given);
  EXPECT_EQ(storedSizes("/sizes/configured"), storedSizes("/sizes/java"));
  EXPECT_EQ(storedSizes("/sizes/java"), std::make_pair(jshort{3}, jlong{134217728}));
  EXPECT_EQ(storedSizes("/sizes/given"), std::make_pair(jshort{2}, jlong{1 << 20}));

  // What the configuration names wins.
  LocalRef<jobject> configuration(env, callJava(fs, "org/apache/hadoop/fs/FileSystem", "getConf",
                                                "()Lorg/apache/hadoop/conf/Configuration;"));
  auto setKey = [&](const char *key, const char *value) {
    LocalRef<jstring> name(env, env->NewStringUTF(key));
    LocalRef<jstring> text(env, value ? env->NewStringUTF(value) : nullptr);
    bridgeOps().invokeMethod(
        dfs->jvm, context(), env, nullptr, nullptr, JVMLINK_INSTANCE, configuration.get(),
        "org/apache/hadoop/conf/Configuration", 0, value ? "set" : "unset",
        value ? "(Ljava/lang/String;Ljava/lang/String;)V" : "(Ljava/lang/String;)V", name.get(),
        text.get());
  };
  setKey("dfs.replication", "2");
  setKey("dfs.blocksize", "2097152");
  FileHandle *site =
      ops().hdfsOpenFile(dfs, context(), &status, fs, u"/sizes/site", HDFS_OPEN_WRITE, 0, 0, 0);
  setKey("dfs.replication", nullptr);
  setKey("dfs.blocksize", nullptr);
  ASSERT_NE(site, nullptr);
  close(fs, site);
  EXPECT_EQ(storedSizes("/sizes/site"), std::make_pair(jshort{2}, jlong{2097152}));
  EXPECT_TRUE(reports().empty());
}

TEST_F(HdfsFileTest, StreamWhoseHandleCannotBeMadeIsClosedSoItsLeaseIsFree) {
  writeAll(fs, "/lease/file", "kept");
  int32_t status = 0;
  hostkernel::injectFault(Fault::Allocation, 1, "DFSLINK Pool");
  EXPECT_EQ(ops().hdfsOpenFile(dfs, context(), &status, fs, u"/lease/file",
                               HDFS_OPEN_WRITE | HDFS_OPEN_APPEND, 0, 0, 0),
            nullptr);
  EXPECT_EQ(status, static_cast<int32_t>(QX_OUT_OF_MEMORY));
  EXPECT_TRUE(reports().empty());
  FileHandle *again = ops().hdfsOpenFile(dfs, context(), &status, fs, u"/lease/file",
                                         HDFS_OPEN_WRITE | HDFS_OPEN_APPEND, 0, 0, 0);
  ASSERT_NE(again, nullptr) << "an append stream left open would still hold the lease";
  ASSERT_EQ(ops().hdfsWrite(dfs, context(), &status, fs, again, "+more", 5), 5);
  close(fs, again);
  FileHandle *in = open(fs, "/lease/file", 0);
  EXPECT_EQ(readAll(fs, in), "kept+more");
  close(fs, in);
}

TEST_F(HdfsFileTest, SeekPastTheEndFailsWithStatusAndTheJavaReport) {
  writeAll(fs, "/seek/short", "0123");
  FileHandle *in = open(fs, "/seek/short", 0);
  int32_t status = 0;
  EXPECT_EQ(ops().hdfsSeek(dfs, context(), &status, fs, in, 1000), -1);
  EXPECT_EQ(status, static_cast<int32_t>(0x86BFF817));
  std::vector<Report> got = reports();
  ASSERT_GE(got.size(), 4u);
  EXPECT_EQ(got[0], statusReport(4, 0x86BFF817, {"hdfsSeek"}));
  EXPECT_EQ(
      got[1],
      textReport(4, "ERROR: Call to method org.apache.hadoop.fs.FSDataInputStream::seek failed."));
  EXPECT_EQ(got[2], textReport(4, "ERROR: java.io.EOFException"));
  close(fs, in);
}

}  // namespace
}  // namespace testsupport
