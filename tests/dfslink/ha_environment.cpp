// The test binary's cluster: two name nodes under the logical name hdfs://qxcluster, reached
// through the client configuration directory the cluster's launcher wrote.
#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

class HaEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ClusterOptions options;
    options.ha = true;
    ASSERT_TRUE(testHdfs().start(options)) << testHdfs().error();
  }
  void TearDown() override { testHdfs().stop(); }
};

const auto *registered = ::testing::AddGlobalTestEnvironment(new HaEnvironment);

}  // namespace

EmbeddedCluster &testHdfs() {
  static EmbeddedCluster cluster;
  return cluster;
}

std::string testConfigurationDirectory() {
  return testHdfs().configurationDirectory();
}

}  // namespace testsupport
