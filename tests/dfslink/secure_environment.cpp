// The test binary's cluster: an HDFS that requires Kerberos, with a KDC of its own. The JVM
// finds the KDC through KRB5_CONFIG, and starts with no ticket: the ticket cache it is given is
// empty, so a test logs in from a user's keytab when it needs to.
#include <cstdlib>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

class SecureEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ClusterOptions options;
    options.secure = true;
    options.dataNodes = 1;
    ASSERT_TRUE(testHdfs().start(options)) << testHdfs().error();
    setenv("KRB5_CONFIG", testHdfs().info("krb5").c_str(), 1);
    setenv("KRB5CCNAME", ("FILE:" + testHdfs().configurationDirectory() + "/no-ticket").c_str(), 1);
  }
  void TearDown() override { testHdfs().stop(); }
};

const auto *registered = ::testing::AddGlobalTestEnvironment(new SecureEnvironment);

}  // namespace

EmbeddedCluster &testHdfs() {
  static EmbeddedCluster cluster;
  return cluster;
}

std::string testConfigurationDirectory() {
  return testHdfs().configurationDirectory();
}

}  // namespace testsupport
