// qxdfs as a user runs it: commands on the local file system, their output, their one-line
// failures and their exit statuses.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/support/test_support.h"
#include "tools/embedded_hdfs.h"

namespace testsupport {
namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome qxdfs(const std::string &arguments, const std::string &environment = "") {
  std::string errors = temporaryDirectory() + "/stderr";
  std::string command = environment + std::string(QX_QXDFS) + " " + arguments + " 2>" + errors;
  FILE *pipe = popen(command.c_str(), "r");
  Outcome run{-1, "", ""};
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(errors);
  run.err.assign(std::istreambuf_iterator<char>(in), {});
  removeTree(errors.substr(0, errors.rfind('/')));
  return run;
}

class QxdfsTest : public ::testing::Test {
 protected:
  void SetUp() override { directory = temporaryDirectory(); }
  void TearDown() override { removeTree(directory); }
  std::string directory;
};

TEST_F(QxdfsTest, CommandsOfOneLineShareItsWorkingDirectory) {
  std::ofstream(directory + "/in.txt") << "hello\n";
  Outcome run = qxdfs("mkdir " + directory + "/d \\; cd " + directory + " \\; put " + directory +
                      "/in.txt d/up.txt \\; "
                      "chmod 640 d/up.txt \\; touch d/empty \\; pwd \\; cat d/up.txt \\; ls -l d");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "") << "no JNI warning, no Java print-out";
  EXPECT_NE(run.out.find(directory + "\nhello\nFound 2 items\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("-rw-r-----   1 "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" 6 "), std::string::npos) << run.out;
  EXPECT_TRUE(std::filesystem::exists(directory + "/d/empty"));
}

TEST_F(QxdfsTest, FailuresAreOneLineWithTheirExitStatus) {
  struct Case {
    std::string arguments;
    int status;
    std::string line;
  };
  std::string missing = directory + "/missing";
  for (const Case &c : std::vector<Case>{
           {"cat " + missing, 1,
            "qxdfs: cat: " + missing + ": File " + missing + " does not exist\n"},
           {"rm " + missing, 1, "qxdfs: rm: " + missing + ": No such file or directory\n"},
           {"ls " + missing, 1, "qxdfs: ls: " + missing + ": No such file or directory\n"},
           {"df", 1,
            "qxdfs: df: capacity: hdfsGetCapacity: the file system is not a distributed "
            "file system\n"},
           {"chmod 9 " + missing, 2, "qxdfs: chmod: 9: not an octal mode\n"},
       }) {
    Outcome run = qxdfs(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments;
    EXPECT_EQ(run.err, c.line) << c.arguments;
  }
  Outcome usage = qxdfs("frobnicate");
  EXPECT_EQ(usage.status, 2);
  EXPECT_EQ(usage.err.rfind("usage: qxdfs", 0), 0u);
}

// A fresh process whose JVM knows nothing of Hadoop but what the options and the environment
// name: the document gives the name node and the user, the environment the jars.
TEST_F(QxdfsTest, TheOptionsAloneLetAFreshProcessReachHdfs) {
  EmbeddedHdfs hdfs;
  ASSERT_TRUE(hdfs.start(1)) << hdfs.error();
  std::ofstream(directory + "/in.txt") << "through the options\n";
  Outcome put = qxdfs("--fs " + hdfs.uri() + " put " + directory + "/in.txt /opts.txt");
  ASSERT_EQ(put.status, 0) << put.err;
  std::string port = hdfs.uri().substr(hdfs.uri().rfind(':') + 1);
  std::ofstream(directory + "/xmlopts.xml") << "<hadoop><hdfs><host>127.0.0.1</host><port>" << port
                                            << "</port><user>reader</user></hdfs></hadoop>";
  std::string environment = "QXHOST_JAR_ROOT=" + directory +
                            "/no-jar-lists ZEL_HADOOP_JAR_PATH=" + QX_HADOOP_LIB_DIR +
                            " ZEL_HADOOP_CONFIG_PATH=" + QX_TEST_HADOOP_CONF + " ";
  Outcome bare =
      qxdfs("--fs " + hdfs.uri() + " cat /opts.txt", "QXHOST_JAR_ROOT=" + directory + " ");
  EXPECT_EQ(bare.status, 1) << "no class path, no Hadoop";
  Outcome read = qxdfs("--options " + directory + " cat /opts.txt", environment);
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read.out, "through the options\n");
  Outcome shown = qxdfs("config " + directory, environment);
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("hdfsUser: reader\nhdfsPort: " + port + "\n"), std::string::npos)
      << shown.out;
  EXPECT_NE(shown.out.find("  " + std::string(QX_TEST_HADOOP_CONF) + "\n"), std::string::npos)
      << shown.out;
}

}  // namespace
}  // namespace testsupport
