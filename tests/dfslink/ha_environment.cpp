// The test binary's cluster: two name nodes under the logical name hdfs://qxcluster, reached
// through the client configuration directory the cluster's launcher wrote.
#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

ClusterOptions highlyAvailable() {
  ClusterOptions options;
  options.ha = true;
  return options;
}

const bool registered = registerTestCluster(highlyAvailable());

}  // namespace
}  // namespace testsupport
