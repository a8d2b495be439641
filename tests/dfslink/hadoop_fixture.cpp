// The fixture of the tests that run against a real cluster.
#include <random>
#include <sstream>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

std::string &givenConfiguration() {
  static std::string directory;
  return directory;
}

class ClusterEnvironment : public ::testing::Environment {
 public:
  ClusterEnvironment(const ClusterOptions &options, void (*started)())
      : options_(options), started_(started) {}
  void SetUp() override {
    ASSERT_TRUE(testHdfs().start(options_)) << testHdfs().error();
    if (started_) started_();
  }
  void TearDown() override { testHdfs().stop(); }

 private:
  ClusterOptions options_;
  void (*started_)();
};

}  // namespace

EmbeddedCluster &testHdfs() {
  static EmbeddedCluster cluster;
  return cluster;
}

std::string testConfigurationDirectory() {
  const std::string &given = givenConfiguration();
  return given.empty() ? testHdfs().configurationDirectory() : given;
}

bool registerTestCluster(const ClusterOptions &options, void (*started)(),
                         const std::string &configuration) {
  givenConfiguration() = configuration;
  ::testing::AddGlobalTestEnvironment(new ClusterEnvironment(options, started));
  return true;
}

void HadoopTest::SetUp() {
  DfsTest::SetUp();
  BridgeState *bridge = dfs->jvm;
  ASSERT_EQ(bridge->operations.haddpaths(bridge, context(), nullptr), 0);
  ASSERT_EQ(bridge->operations.haddpath(bridge, context(), testConfigurationDirectory().c_str()),
            0);
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

std::map<std::string, int64_t> HadoopTest::countsIn(hdfsFS fs, const std::string &directory) {
  std::map<std::string, int64_t> counted;
  for (const std::u16string &name : namesIn(fs, qx(directory))) {
    if (name.rfind(u"part-", 0) != 0) continue;
    FileHandle *in = open(fs, directory + "/" + hostkernel::fromQXChar(name), 0);
    std::istringstream lines(readAll(fs, in));
    close(fs, in);
    for (std::string word, count; std::getline(lines, word, '\t') && std::getline(lines, count);) {
      counted[word] += std::stoll(count);
    }
  }
  return counted;
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

std::u16string HadoopTest::javaText(jstring text) {
  std::u16string units(static_cast<size_t>(env->GetStringLength(text)), u'\0');
  env->GetStringRegion(text, 0, static_cast<jsize>(units.size()),
                       reinterpret_cast<jchar *>(units.data()));
  return units;
}

LocalRef<jobject> HadoopTest::javaPath(const std::u16string &path) {
  LocalRef<jstring> text(env, env->NewString(reinterpret_cast<const jchar *>(path.data()),
                                             static_cast<jsize>(path.size())));
  jclass type = env->FindClass("org/apache/hadoop/fs/Path");
  jmethodID constructor = env->GetMethodID(type, "<init>", "(Ljava/lang/String;)V");
  LocalRef<jobject> object(env, env->NewObject(type, constructor, text.get()));
  env->DeleteLocalRef(type);
  return object;
}

std::vector<std::u16string> HadoopTest::namesIn(hdfsFS fs, const std::u16string &directory) {
  LocalRef<jobject> path = javaPath(directory);
  LocalRef<jobjectArray> statuses(
      env, static_cast<jobjectArray>(callJava(
               fs, "org/apache/hadoop/fs/FileSystem", "listStatus",
               "(Lorg/apache/hadoop/fs/Path;)[Lorg/apache/hadoop/fs/FileStatus;", path.get())));
  std::vector<std::u16string> names;
  for (jsize i = 0; statuses && i < env->GetArrayLength(statuses.get()); i++) {
    LocalRef<jobject> status(env, env->GetObjectArrayElement(statuses.get(), i));
    LocalRef<jobject> entry(env, callJava(status.get(), "org/apache/hadoop/fs/FileStatus",
                                          "getPath", "()Lorg/apache/hadoop/fs/Path;"));
    LocalRef<jstring> name(
        env, static_cast<jstring>(callJava(entry.get(), "org/apache/hadoop/fs/Path", "getName",
                                           "()Ljava/lang/String;")));
    names.push_back(javaText(name.get()));
  }
  return names;
}

std::u16string HadoopTest::ownerOf(hdfsFS fs, const std::u16string &path) {
  LocalRef<jobject> pathObject = javaPath(path);
  LocalRef<jobject> status(env, callJava(fs, "org/apache/hadoop/fs/FileSystem", "getFileStatus",
                                         "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/"
                                         "FileStatus;",
                                         pathObject.get()));
  LocalRef<jstring> owner(
      env, static_cast<jstring>(callJava(status.get(), "org/apache/hadoop/fs/FileStatus",
                                         "getOwner", "()Ljava/lang/String;")));
  return javaText(owner.get());
}

void HadoopTest::makeWorldWritable(hdfsFS fs, const std::u16string &directory) {
  LocalRef<jobject> path = javaPath(directory);
  jboolean made = JNI_FALSE;
  EXPECT_EQ(bridgeOps().invokeMethod(dfs->jvm, context(), env, &made, nullptr, JVMLINK_INSTANCE, fs,
                                     "org/apache/hadoop/fs/FileSystem", 0, "mkdirs",
                                     "(Lorg/apache/hadoop/fs/Path;)Z", path.get()),
            0);
  LocalRef<jobject> everyone(
      env, bridgeOps().constructNewObjectOfClass(dfs->jvm, context(), env,
                                                 "org/apache/hadoop/fs/permission/FsPermission",
                                                 "(S)V", static_cast<jint>(0777)));
  EXPECT_EQ(bridgeOps().invokeMethod(dfs->jvm, context(), env, nullptr, nullptr, JVMLINK_INSTANCE,
                                     fs, "org/apache/hadoop/fs/FileSystem", 0, "setPermission",
                                     "(Lorg/apache/hadoop/fs/Path;Lorg/apache/hadoop/fs/"
                                     "permission/FsPermission;)V",
                                     path.get(), everyone.get()),
            0);
}

std::string randomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char &byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

}  // namespace testsupport
