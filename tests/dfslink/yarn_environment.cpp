// The test binary's cluster: HDFS with YARN beside it (two NodeManagers), reached through the
// client configuration directory the cluster's launcher wrote, as users reach a real cluster.
#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

class YarnEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ClusterOptions options;
    options.dataNodes = 2;
    options.yarn = true;
    options.nodeManagers = 2;
    ASSERT_TRUE(testHdfs().start(options)) << testHdfs().error();
  }
  void TearDown() override { testHdfs().stop(); }
};

const auto *registered = ::testing::AddGlobalTestEnvironment(new YarnEnvironment);

}  // namespace

EmbeddedCluster &testHdfs() {
  static EmbeddedCluster cluster;
  return cluster;
}

std::string testConfigurationDirectory() {
  return testHdfs().configurationDirectory();
}

}  // namespace testsupport
