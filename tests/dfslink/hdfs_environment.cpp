// The test binary's cluster: HDFS alone, reached with the test configuration (fast failures).
#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

class HdfsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(testHdfs().start()) << testHdfs().error(); }
  void TearDown() override { testHdfs().stop(); }
};

const auto *registered = ::testing::AddGlobalTestEnvironment(new HdfsEnvironment);

}  // namespace

EmbeddedCluster &testHdfs() {
  static EmbeddedCluster hdfs;
  return hdfs;
}

std::string testConfigurationDirectory() {
  return QX_TEST_HADOOP_CONF;
}

}  // namespace testsupport
