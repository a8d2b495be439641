// The test binary's cluster: an HDFS that requires Kerberos, with a KDC of its own. The JVM
// finds the KDC through KRB5_CONFIG, and starts with no ticket: the ticket cache it is given is
// empty, so a test logs in from a user's keytab when it needs to.
#include <cstdlib>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

ClusterOptions secured() {
  ClusterOptions options;
  options.secure = true;
  options.dataNodes = 1;
  return options;
}

void useItsKdcWithoutATicket() {
  setenv("KRB5_CONFIG", testHdfs().info("krb5").c_str(), 1);
  setenv("KRB5CCNAME", ("FILE:" + testHdfs().configurationDirectory() + "/no-ticket").c_str(), 1);
}

const bool registered = registerTestCluster(secured(), useItsKdcWithoutATicket);

}  // namespace
}  // namespace testsupport
