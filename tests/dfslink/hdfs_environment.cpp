// The test binary's cluster: HDFS alone, reached with the test configuration (fast failures).
#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

const bool registered = registerTestCluster({}, nullptr, QX_TEST_HADOOP_CONF);

}  // namespace
}  // namespace testsupport
