// The test binary's cluster: HDFS with YARN beside it (two NodeManagers), reached through the
// client configuration directory the cluster's launcher wrote, as users reach a real cluster.
#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

ClusterOptions withYarn() {
  ClusterOptions options;
  options.dataNodes = 2;
  options.yarn = true;
  options.nodeManagers = 2;
  return options;
}

const bool registered = registerTestCluster(withYarn());

}  // namespace
}  // namespace testsupport
