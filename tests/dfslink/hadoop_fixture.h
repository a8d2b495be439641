// dfslink with Hadoop's client jars on the JVM's class path, and one real HDFS for the whole
// test binary.
#pragma once

#include <string>
#include <vector>

#include "tests/dfslink/dfs_fixture.h"
#include "tools/embedded_hdfs.h"

namespace testsupport {

// The cluster every test of this binary runs against.
EmbeddedHdfs &testHdfs();

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

  std::vector<hdfsFS> connections;
};

// Bytes from a fixed seed.
std::string randomBytes(size_t size, unsigned seed);

}  // namespace testsupport
