// What cannot be written or read ends in one line and costs nothing else: standard output that
// is full or closed, and directories of a tree that this user may not read or search.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/test_support.h"
#include "tests/tools/process.h"

namespace testsupport {
namespace {

class QxdfsSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = temporaryDirectory();
    chmod(directory.c_str(), 0755);
  }
  void TearDown() override {
    runCommand("chmod -R u+rwx " + directory);
    removeTree(directory);
  }
  std::string directory;
};

TEST_F(QxdfsSafetyTest, OutputThatCannotBeWrittenFailsTheCommand) {
  std::string file = directory + "/f.txt", big = directory + "/big";
  std::ofstream(file) << "some text\n";
  std::ofstream(big) << std::string(8 << 20, 'b');
  for (const std::string &command :
       {"cat " + file, "head " + file, "tail " + file, "text " + file, "ls " + directory,
        "--json ls " + directory, "--json stat " + file}) {
    Outcome full = qxdfs(command + " > /dev/full");
    std::string verb = command.substr(command.find("--json ") == 0 ? 7 : 0);
    verb = verb.substr(0, verb.find(' '));
    EXPECT_EQ(full.status, 1) << command;
    EXPECT_EQ(full.err, verb + ": Unable to write to output stream.\n") << command;
  }
  // A reader that goes away ends the command quietly, as it ends cat.
  Outcome closed = runCommand("{ " + std::string(QX_QXDFS) + " cat " + big + "; echo $? > " +
                              directory + "/status; } | head -c 1");
  EXPECT_EQ(closed.out, "b");
  EXPECT_EQ(closed.err, "");
  EXPECT_EQ(contents(directory + "/status"), "141\n");
}

// A tree copy goes on past what it may not read, and tells it with the other failures; run as
// another user when the tests run as root (who may read anything).
TEST_F(QxdfsSafetyTest, AnUnreadableDirectoryStopsNothingElse) {
  std::string prefix;
  if (getuid() == 0) {
    if (runCommand("command -v setpriv").status != 0) GTEST_SKIP() << "no setpriv to switch user";
    prefix = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
  }
  std::string src = directory + "/src", out = directory + "/out";
  for (const char *made : {"/src/ok", "/src/closed", "/out", "/locked"}) {
    std::filesystem::create_directories(directory + made);
  }
  std::ofstream(src + "/ok/a") << "a";
  std::ofstream(src + "/closed/b") << "b";
  std::ofstream(src + "/c") << "c";
  chmod((src + "/closed").c_str(), 0);
  chmod((directory + "/locked").c_str(), 0);
  chmod(out.c_str(), 0777);
  struct Case {
    std::string arguments, said;
  };
  for (const Case &c : std::vector<Case>{
           {"put " + src + " " + out + "/up", "put: `" + src + "/closed': Permission denied\n"},
           {"get " + src + " " + out + "/down", "get: " + src + "/closed: Permission denied\n"},
           {"get " + src + "/c " + directory + "/locked/c",
            "get: `" + directory + "/locked/c': Permission denied\n"},
       }) {
    Outcome run = runCommand(prefix + QX_QXDFS + " " + c.arguments);
    EXPECT_EQ(run.status, 1) << c.arguments;
    EXPECT_EQ(run.err, c.said) << c.arguments;
  }
  for (const char *copy : {"/up", "/down"}) {
    EXPECT_EQ(contents(out + copy + "/ok/a"), "a") << copy;
    EXPECT_EQ(contents(out + copy + "/c"), "c") << copy;
    EXPECT_FALSE(std::filesystem::exists(out + copy + "/closed")) << copy;
  }
}

}  // namespace
}  // namespace testsupport
