// dfslink with Hadoop's client jars on the JVM's class path, and one real HDFS for the whole
// test binary.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/dfslink/dfs_fixture.h"
#include "tools/embedded_cluster.h"

namespace testsupport {

// The cluster every test of this binary runs against, and the configuration directory the
// tests' JVM has on its class path.
EmbeddedCluster &testHdfs();
std::string testConfigurationDirectory();

// Registers the binary's cluster (from its environment file): started with these options before
// the first test, then `started` runs; stopped after the last. The tests' configuration is the
// cluster's own client configuration unless another is given.
bool registerTestCluster(const ClusterOptions &options, void (*started)() = nullptr,
                         const std::string &configuration = "");

class HadoopTest : public DfsTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Connects, expecting success; the fixture disconnects at the end.
  hdfsFS connect(const char16_t *host, uint16_t port, const char16_t *user = nullptr);
  hdfsFS connectHdfs() { return connect(qx("127.0.0.1").c_str(), testHdfs().port()); }

  FileHandle *open(hdfsFS fs, const std::string &path, int32_t flags);
  void close(hdfsFS fs, FileHandle *file);
  void writeAll(hdfsFS fs, const std::string &path, const std::string &data);
  std::string readAll(hdfsFS fs, FileHandle *file, int32_t chunk = 1 << 20);

  // An instance method with an object result, called through the bridge; expects success.
  template <typename... Arguments>
  jobject callJava(jobject object, const char *type, const char *method, const char *descriptor,
                   Arguments... arguments) {
    jobject result = nullptr;
    EXPECT_EQ(bridgeOps().invokeMethod(dfs->jvm, context(), env, &result, nullptr, JVMLINK_INSTANCE,
                                       object, type, 0, method, descriptor, arguments...),
              0)
        << method;
    return result;
  }

  // A Java string's text.
  std::u16string javaText(jstring text);
  // A Path object of a path, made directly through JNI.
  LocalRef<jobject> javaPath(const std::u16string &path);
  // The names in a directory and the owner of a path, asked of Hadoop directly.
  std::vector<std::u16string> namesIn(hdfsFS fs, const std::u16string &directory);
  std::u16string ownerOf(hdfsFS fs, const std::u16string &path);
  // The word counts a job wrote into its output directory (its part files).
  std::map<std::string, int64_t> countsIn(hdfsFS fs, const std::string &directory);
  // Makes a directory that every user may write in.
  void makeWorldWritable(hdfsFS fs, const std::u16string &directory);

  std::vector<hdfsFS> connections;
};

// Bytes from a fixed seed.
std::string randomBytes(size_t size, unsigned seed);

}  // namespace testsupport
