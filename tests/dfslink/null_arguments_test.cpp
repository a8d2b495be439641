// Every operation of the table with NULL in each pointer argument the caller must give: a
// failure value and a report (or the status out-value) each time, nothing passed to Java,
// nothing left pending or allocated.
#include <filesystem>
#include <functional>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

class NullArgumentsTest : public HadoopTest {
 protected:
  void SetUp() override {
    HadoopTest::SetUp();
    directory = temporaryDirectory();
    fs = connect(u"local", 0);
    file = directory + "/file";
    writeAll(fs, file, "data");
    in = open(fs, file, 0);
    out = open(fs, directory + "/out", HDFS_OPEN_WRITE);
    QXKernel *kernel = hostkernel::kernel();
    QXPoolAttributes attributes = {};
    pool = kernel->createPool(kernel, &attributes, 0, "ENGINE Pool");
    std::string item = directory + '\0';  // a kept class path, so that javaComp looks further
    int32_t length = static_cast<int32_t>(item.size());
    ClassPathList list = {item.data(), &length, 1, length, 0};
    ASSERT_EQ(bridgeOps().haddpaths(dfs->jvm, context(), &list), 0);
    messages.clear();
  }
  void TearDown() override {
    close(fs, in);
    close(fs, out);
    pool->header.release(pool);
    removeTree(directory);
    HadoopTest::TearDown();
  }

  std::string directory, file;
  hdfsFS fs = nullptr;
  FileHandle *in = nullptr, *out = nullptr;
  QXPool *pool = nullptr;
};

struct Case {
  const char *what;
  int64_t failure;  // the operation's failure value
  std::function<int64_t(int32_t *status)> run;
  bool reported = true;  // false: returned, not reported (listings and block hosts)
};

TEST_F(NullArgumentsTest, EveryOperationRefusesAMissingPointer) {
  DfsOperations &o = ops();
  DfsLinkState *d = dfs;
  QXMessageContext *c = context();
  const int64_t kMissing = QX_MISSING_ARGUMENT, kJar = 0x86BFF80F, kMap = 0x86BFF81A;
  std::u16string p16 = qx(file), dir16 = qx(directory);
  const QXChar *p = p16.c_str(), *dirp = dir16.c_str();
  const char *p8 = file.c_str();
  const int32_t dirBytes = static_cast<int32_t>(dir16.size() * 2);
  char buffer[16];
  QXChar units[512];
  jbyteArray array = nullptr;
  int32_t count = 0;
  hdfsPathInfo *entries = nullptr;
  char ***hosts = nullptr;
  hdfsFS connection = nullptr;
  OptionsRecord options{};
  const char *const texts[] = {"x", ""};
  std::vector<Case> cases = {
      {"loadEnvPaths pool", kMissing,
       [&](int32_t *) { return o.loadEnvPaths(d, c, nullptr, &options); }},
      {"loadEnvPaths options", kMissing,
       [&](int32_t *) { return o.loadEnvPaths(d, c, pool, nullptr); }},
      {"loadXmlOptions pool", kMissing,
       [&](int32_t *) { return o.loadXmlOptions(d, c, nullptr, dirp, dirBytes, &options); }},
      {"loadXmlOptions directory", kMissing,
       [&](int32_t *) { return o.loadXmlOptions(d, c, pool, nullptr, dirBytes, &options); }},
      {"loadXmlOptions options", kMissing,
       [&](int32_t *) { return o.loadXmlOptions(d, c, pool, dirp, dirBytes, nullptr); }},
      {"hdfsConnectAsUser connection", kMissing,
       [&](int32_t *) { return o.hdfsConnectAsUser(d, c, u"local", 0, nullptr, nullptr); }},
      {"hdfsConnectDefaultUser connection", kMissing,
       [&](int32_t *) { return o.hdfsConnectDefaultUser(d, c, u"local", 0, nullptr); }},
      {"hdfsDisconnect connection", QX_OPERATION_FAILED,
       [&](int32_t *) { return o.hdfsDisconnect(d, c, nullptr); }},
      {"hdfsOpenFile connection", 0,
       [&](int32_t *s) {
         return reinterpret_cast<int64_t>(o.hdfsOpenFile(d, c, s, nullptr, p, 0, 0, 0, 0));
       }},
      {"hdfsOpenFile path", 0,
       [&](int32_t *s) {
         return reinterpret_cast<int64_t>(o.hdfsOpenFile(d, c, s, fs, nullptr, 0, 0, 0, 0));
       }},
      {"hdfsCloseFile handle", -1,
       [&](int32_t *s) { return o.hdfsCloseFile(d, c, s, fs, nullptr); }},
      {"hdfsExists connection", -1, [&](int32_t *s) { return o.hdfsExists(d, c, s, nullptr, p); }},
      {"hdfsExists path", -1, [&](int32_t *s) { return o.hdfsExists(d, c, s, fs, nullptr); }},
      {"hdfsSeek handle", -1, [&](int32_t *s) { return o.hdfsSeek(d, c, s, fs, nullptr, 0); }},
      {"hdfsTell handle", -1, [&](int32_t *s) { return o.hdfsTell(d, c, s, fs, nullptr); }},
      {"hdfsRead handle", -1,
       [&](int32_t *s) { return o.hdfsRead(d, c, s, fs, nullptr, buffer, 4); }},
      {"hdfsRead buffer", -1, [&](int32_t *s) { return o.hdfsRead(d, c, s, fs, in, nullptr, 4); }},
      {"hdfsPread handle", -1,
       [&](int32_t *s) { return o.hdfsPread(d, c, s, fs, nullptr, 0, buffer, 4); }},
      {"hdfsPread buffer", -1,
       [&](int32_t *s) { return o.hdfsPread(d, c, s, fs, in, 0, nullptr, 4); }},
      {"hdfsPread_jb handle", -1,
       [&](int32_t *s) { return o.hdfsPread_jb(d, c, s, fs, nullptr, 0, &array, 0, 4); }},
      {"hdfsPread_jb array", -1,
       [&](int32_t *s) { return o.hdfsPread_jb(d, c, s, fs, in, 0, nullptr, 0, 4); }},
      {"hdfsWrite handle", -1,
       [&](int32_t *s) { return o.hdfsWrite(d, c, s, fs, nullptr, buffer, 4); }},
      {"hdfsWrite buffer", -1,
       [&](int32_t *s) { return o.hdfsWrite(d, c, s, fs, out, nullptr, 4); }},
      {"hdfsWrite_jb handle", -1,
       [&](int32_t *s) { return o.hdfsWrite_jb(d, c, s, fs, nullptr, array, 0, 4); }},
      {"hdfsWrite_jb array", -1,
       [&](int32_t *s) { return o.hdfsWrite_jb(d, c, s, fs, out, nullptr, 0, 4); }},
      {"hdfsFlush handle", -1, [&](int32_t *s) { return o.hdfsFlush(d, c, s, fs, nullptr); }},
      {"hdfsAvailable handle", -1,
       [&](int32_t *s) { return o.hdfsAvailable(d, c, s, fs, nullptr); }},
      {"hdfsCopy source connection", -1,
       [&](int32_t *s) { return o.hdfsCopy(d, c, s, nullptr, p, fs, u"/qx-nowhere/x"); }},
      {"hdfsCopy source path", -1,
       [&](int32_t *s) { return o.hdfsCopy(d, c, s, fs, nullptr, fs, u"/qx-nowhere/x"); }},
      {"hdfsCopy destination connection", -1,
       [&](int32_t *s) { return o.hdfsCopy(d, c, s, fs, p, nullptr, u"/qx-nowhere/x"); }},
      {"hdfsCopy destination path", -1,
       [&](int32_t *s) { return o.hdfsCopy(d, c, s, fs, p, fs, nullptr); }},
      {"hdfsMove source connection", -1,
       [&](int32_t *s) { return o.hdfsMove(d, c, s, nullptr, p8, fs, "/qx-nowhere/x"); }},
      {"hdfsMove source path", -1,
       [&](int32_t *s) { return o.hdfsMove(d, c, s, fs, nullptr, fs, "/qx-nowhere/x"); }},
      {"hdfsMove destination connection", -1,
       [&](int32_t *s) { return o.hdfsMove(d, c, s, fs, p8, nullptr, "/qx-nowhere/x"); }},
      {"hdfsMove destination path", -1,
       [&](int32_t *s) { return o.hdfsMove(d, c, s, fs, p8, fs, nullptr); }},
      {"hdfsCopyFromLocal local path", -1,
       [&](int32_t *s) {
         return o.hdfsCopyFromLocal(d, c, s, nullptr, fs, u"/qx-nowhere/x", 0, 0, 0);
       }},
      {"hdfsCopyFromLocal connection", -1,
       [&](int32_t *s) {
         return o.hdfsCopyFromLocal(d, c, s, p, nullptr, u"/qx-nowhere/x", 0, 0, 0);
       }},
      {"hdfsCopyFromLocal destination", -1,
       [&](int32_t *s) { return o.hdfsCopyFromLocal(d, c, s, p, fs, nullptr, 0, 0, 0); }},
      {"hdfsDelete connection", -1, [&](int32_t *s) { return o.hdfsDelete(d, c, s, nullptr, p); }},
      {"hdfsDelete path", -1, [&](int32_t *s) { return o.hdfsDelete(d, c, s, fs, nullptr); }},
      {"hdfsRename connection", -1,
       [&](int32_t *s) { return o.hdfsRename(d, c, s, nullptr, p, u"/qx-nowhere/x"); }},
      {"hdfsRename old path", -1,
       [&](int32_t *s) { return o.hdfsRename(d, c, s, fs, nullptr, u"/qx-nowhere/x"); }},
      {"hdfsRename new path", -1,
       [&](int32_t *s) { return o.hdfsRename(d, c, s, fs, p, nullptr); }},
      {"hdfsGetWorkingDirectory connection", 0,
       [&](int32_t *s) {
         return reinterpret_cast<int64_t>(
             o.hdfsGetWorkingDirectory(d, c, s, nullptr, units, sizeof units));
       }},
      {"hdfsGetWorkingDirectory buffer", 0,
       [&](int32_t *s) {
         return reinterpret_cast<int64_t>(
             o.hdfsGetWorkingDirectory(d, c, s, fs, nullptr, sizeof units));
       }},
      {"hdfsSetWorkingDirectory connection", -1,
       [&](int32_t *s) { return o.hdfsSetWorkingDirectory(d, c, s, nullptr, dirp); }},
      {"hdfsSetWorkingDirectory path", -1,
       [&](int32_t *s) { return o.hdfsSetWorkingDirectory(d, c, s, fs, nullptr); }},
      {"hdfsCreateDirectory connection", -1,
       [&](int32_t *s) { return o.hdfsCreateDirectory(d, c, s, nullptr, dirp); }},
      {"hdfsCreateDirectory path", -1,
       [&](int32_t *s) { return o.hdfsCreateDirectory(d, c, s, fs, nullptr); }},
      {"hdfsSetReplication connection", -1,
       [&](int32_t *s) { return o.hdfsSetReplication(d, c, s, nullptr, p8, 1); }},
      {"hdfsSetReplication path", -1,
       [&](int32_t *s) { return o.hdfsSetReplication(d, c, s, fs, nullptr, 1); }},
      {"hdfsListDirectory connection", kMissing,
       [&](int32_t *) { return o.hdfsListDirectory(d, c, nullptr, dirp, &count, &entries); },
       false},
      {"hdfsListDirectory path", kMissing,
       [&](int32_t *) { return o.hdfsListDirectory(d, c, fs, nullptr, &count, &entries); }, false},
      {"hdfsListDirectory count", kMissing,
       [&](int32_t *) { return o.hdfsListDirectory(d, c, fs, dirp, nullptr, &entries); }, false},
      {"hdfsListDirectory entries", kMissing,
       [&](int32_t *) { return o.hdfsListDirectory(d, c, fs, dirp, &count, nullptr); }, false},
      {"hdfsGetPathInfo connection", 0,
       [&](int32_t *s) {
         return reinterpret_cast<int64_t>(o.hdfsGetPathInfo(d, c, s, nullptr, p));
       }},
      {"hdfsGetPathInfo path", 0,
       [&](int32_t *s) {
         return reinterpret_cast<int64_t>(o.hdfsGetPathInfo(d, c, s, fs, nullptr));
       }},
      {"hdfsGetHosts connection", kMissing,
       [&](int32_t *) { return o.hdfsGetHosts(d, c, nullptr, p8, 0, 4, &hosts); }, false},
      {"hdfsGetHosts path", kMissing,
       [&](int32_t *) { return o.hdfsGetHosts(d, c, fs, nullptr, 0, 4, &hosts); }, false},
      {"hdfsGetHosts hosts", kMissing,
       [&](int32_t *) { return o.hdfsGetHosts(d, c, fs, p8, 0, 4, nullptr); }, false},
      {"hdfsGetDefaultBlockSize connection", -1,
       [&](int32_t *s) { return o.hdfsGetDefaultBlockSize(d, c, s, nullptr); }},
      {"hdfsGetCapacity connection", -1,
       [&](int32_t *s) { return o.hdfsGetCapacity(d, c, s, nullptr); }},
      {"hdfsGetUsed connection", -1, [&](int32_t *s) { return o.hdfsGetUsed(d, c, s, nullptr); }},
      {"hdfsChown connection", -1,
       [&](int32_t *s) { return o.hdfsChown(d, c, s, nullptr, p8, "u", "g"); }},
      {"hdfsChown path", -1,
       [&](int32_t *s) { return o.hdfsChown(d, c, s, fs, nullptr, "u", "g"); }},
      {"hdfsChown owner and group", -1,
       [&](int32_t *s) { return o.hdfsChown(d, c, s, fs, p8, nullptr, nullptr); }},
      {"hdfsChmod connection", -1,
       [&](int32_t *s) { return o.hdfsChmod(d, c, s, nullptr, p8, 0644); }},
      {"hdfsChmod path", -3, [&](int32_t *s) { return o.hdfsChmod(d, c, s, fs, nullptr, 0644); }},
      {"hdfsUtime connection", -1,
       [&](int32_t *s) { return o.hdfsUtime(d, c, s, nullptr, p8, 0, 0); }},
      {"hdfsUtime path", -2, [&](int32_t *s) { return o.hdfsUtime(d, c, s, fs, nullptr, 0, 0); }},
      {"javaComp sources", kMissing,
       [&](int32_t *) { return o.javaComp(d, c, nullptr, directory.c_str(), nullptr, nullptr); }},
      {"javaComp output directory", 0x86BFF823,
       [&](int32_t *) { return o.javaComp(d, c, texts, nullptr, nullptr, nullptr); }},
      {"javaJar jar", kJar, [&](int32_t *) { return o.javaJar(d, c, nullptr, "Main", texts); }},
      {"javaJar main class", kJar,
       [&](int32_t *) { return o.javaJar(d, c, file.c_str(), nullptr, texts); }},
      {"javaJar arguments", kJar,
       [&](int32_t *) { return o.javaJar(d, c, file.c_str(), "Main", nullptr); }},
      {"javaMap settings", kMap, [&](int32_t *) { return o.javaMap(d, c, nullptr, texts); }},
      {"javaMap arguments", kMap, [&](int32_t *) { return o.javaMap(d, c, texts, nullptr); }},
  };
  (void)connection;
  for (const Case &test : cases) {
    messages.clear();
    int32_t status = 77;
    int64_t result = test.run(&status);
    // Status codes come back as int32_t or uint32_t, pointers as NULL.
    EXPECT_TRUE(test.failure == 0
                    ? result == 0
                    : static_cast<uint32_t>(result) == static_cast<uint32_t>(test.failure))
        << test.what << ": " << std::hex << result;
    if (test.reported) {
      EXPECT_TRUE(!reports().empty() || status != 77) << test.what << ": no report";
    } else {
      EXPECT_TRUE(reports().empty() && status == 77) << test.what << ": returned, not reported";
    }
    EXPECT_FALSE(env->ExceptionCheck()) << test.what;
    if (env->ExceptionCheck()) env->ExceptionClear();
    EXPECT_EQ(dfs->openFiles.count, 2) << test.what;
  }
  EXPECT_EQ(options.classPath.count, 0);
  o.hdfsReleasePathInfo(d, nullptr, nullptr, 3);
  o.hdfsReleaseHosts(d, nullptr, nullptr);
}

// Without a message context an operation has nowhere to say why it fails: it does nothing and
// returns its failure value (what it returns without a JNI environment, or the missing
// argument), whatever else it is given.
TEST_F(NullArgumentsTest, WithoutAMessageContextNothingIsDone) {
  DfsOperations &o = ops();
  DfsLinkState *d = dfs;
  const int64_t kMissing = QX_MISSING_ARGUMENT, kNoEnv = 0x86BFF805;
  std::string target = directory + "/made";
  std::u16string p16 = qx(file), t16 = qx(target), dir16 = qx(directory);
  const QXChar *p = p16.c_str(), *t = t16.c_str();
  const char *p8 = file.c_str(), *t8 = target.c_str();
  char buffer[16] = {};
  QXChar units[512];
  int32_t count = 0;
  hdfsPathInfo *entries = nullptr;
  char ***hosts = nullptr;
  hdfsFS connection = nullptr;
  OptionsRecord options{};
  const char *const texts[] = {"x", ""};
  const int32_t dirBytes = static_cast<int32_t>(dir16.size() * 2);
  std::vector<Case> cases = {
      {"loadEnvPaths", kMissing,
       [&](int32_t *) { return o.loadEnvPaths(d, nullptr, pool, &options); }},
      {"loadXmlOptions", kMissing,
       [&](int32_t *) {
         return o.loadXmlOptions(d, nullptr, pool, dir16.c_str(), dirBytes, &options);
       }},
      {"hdfsConnectAsUser", kMissing,
       [&](int32_t *) {
         return o.hdfsConnectAsUser(d, nullptr, u"local", 0, nullptr, &connection);
       }},
      {"hdfsOpenFile", 0,
       [&](int32_t *s) {
         return reinterpret_cast<int64_t>(
             o.hdfsOpenFile(d, nullptr, s, fs, t, HDFS_OPEN_WRITE, 0, 0, 0));
       }},
      {"hdfsExists", kNoEnv, [&](int32_t *s) { return o.hdfsExists(d, nullptr, s, fs, p); }},
      {"hdfsRead", -1, [&](int32_t *s) { return o.hdfsRead(d, nullptr, s, fs, in, buffer, 4); }},
      {"hdfsWrite", -1, [&](int32_t *s) { return o.hdfsWrite(d, nullptr, s, fs, out, buffer, 4); }},
      {"hdfsCloseFile", kNoEnv, [&](int32_t *s) { return o.hdfsCloseFile(d, nullptr, s, fs, in); }},
      {"hdfsCopy", kNoEnv, [&](int32_t *s) { return o.hdfsCopy(d, nullptr, s, fs, p, fs, t); }},
      {"hdfsCopy onto itself", kNoEnv,
       [&](int32_t *s) { return o.hdfsCopy(d, nullptr, s, fs, p, fs, p); }},
      {"hdfsMove", kNoEnv, [&](int32_t *s) { return o.hdfsMove(d, nullptr, s, fs, p8, fs, t8); }},
      {"hdfsCopyFromLocal", kNoEnv,
       [&](int32_t *s) { return o.hdfsCopyFromLocal(d, nullptr, s, p, fs, t, 0, 0, 0); }},
      {"hdfsDelete", kNoEnv, [&](int32_t *s) { return o.hdfsDelete(d, nullptr, s, fs, p); }},
      {"hdfsRename", kNoEnv, [&](int32_t *s) { return o.hdfsRename(d, nullptr, s, fs, p, t); }},
      {"hdfsCreateDirectory", kNoEnv,
       [&](int32_t *s) { return o.hdfsCreateDirectory(d, nullptr, s, fs, t); }},
      {"hdfsGetWorkingDirectory", 0,
       [&](int32_t *s) {
         return reinterpret_cast<int64_t>(
             o.hdfsGetWorkingDirectory(d, nullptr, s, fs, units, sizeof units));
       }},
      {"hdfsListDirectory", kMissing,
       [&](int32_t *) {
         return o.hdfsListDirectory(d, nullptr, fs, dir16.c_str(), &count, &entries);
       }},
      {"hdfsGetPathInfo", 0,
       [&](int32_t *s) {
         return reinterpret_cast<int64_t>(o.hdfsGetPathInfo(d, nullptr, s, fs, p));
       }},
      {"hdfsGetHosts", kMissing,
       [&](int32_t *) { return o.hdfsGetHosts(d, nullptr, fs, p8, 0, 4, &hosts); }},
      {"hdfsChmod", kNoEnv, [&](int32_t *s) { return o.hdfsChmod(d, nullptr, s, fs, p8, 0600); }},
      {"javaComp", kNoEnv,
       [&](int32_t *) {
         return o.javaComp(d, nullptr, texts, directory.c_str(), nullptr, nullptr);
       }},
      {"javaJar", 0x86BFF80F,
       [&](int32_t *) { return o.javaJar(d, nullptr, file.c_str(), "Main", texts); }},
      {"javaMap", 0x86BFF81A, [&](int32_t *) { return o.javaMap(d, nullptr, texts, texts); }},
      {"hdfsDisconnect", kNoEnv, [&](int32_t *) { return o.hdfsDisconnect(d, nullptr, fs); }},
  };
  for (const Case &test : cases) {
    int32_t status = 77;
    int64_t result = test.run(&status);
    EXPECT_TRUE(test.failure == 0
                    ? result == 0
                    : static_cast<uint32_t>(result) == static_cast<uint32_t>(test.failure))
        << test.what << ": " << std::hex << result;
    EXPECT_FALSE(env->ExceptionCheck()) << test.what;
    if (env->ExceptionCheck()) env->ExceptionClear();
    EXPECT_EQ(dfs->openFiles.count, 2) << test.what;
    EXPECT_FALSE(std::filesystem::exists(target)) << test.what;
    EXPECT_TRUE(std::filesystem::exists(file)) << test.what;
  }
  EXPECT_EQ(connection, nullptr);
  EXPECT_EQ(options.classPath.count, 0);
}

}  // namespace
}  // namespace testsupport
