// The embedded cluster on a machine other people use: its files are its user's alone, its
// control port serves its user whatever others send it, what it launches runs as whom the
// command says, and no start, stop, interruption or dead launcher leaves a process or a record
// behind.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/test_support.h"
#include "tests/tools/process.h"
#include "tools/embedded_cluster.h"

namespace testsupport {
namespace {

namespace fs = std::filesystem;

// Runs a command as another user when the tests run as root (who may read anything); empty
// when there is no way to.
std::string asAnotherUser() {
  if (getuid() != 0) return "";
  return runCommand("command -v setpriv").status == 0
             ? "setpriv --reuid=nobody --regid=nogroup --clear-groups "
             : "";
}

// A connection to a loopback port, or -1.
int connectTo(int port) {
  int channel = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (channel >= 0 &&
      connect(channel, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    close(channel);
    channel = -1;
  }
  return channel;
}

// The processes whose command line names a directory.
std::string processesNaming(const std::string &directory) {
  return runCommand("pgrep -f -- '[" + directory.substr(0, 1) + "]" + directory.substr(1) + "'")
      .out;
}

class QxdfsClusterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = temporaryDirectory();
    chmod(directory.c_str(), 0755);
    home = directory + "/home";
    environment = "QXDFS_CLUSTER_HOME=" + home + " ";
  }
  void TearDown() override {
    qxdfs("cluster stop", environment);
    runCommand("pkill -KILL -f -- '[" + directory.substr(0, 1) + "]" + directory.substr(1) + "'");
    removeTree(directory);
  }
  Outcome cluster(const std::string &arguments) {
    return qxdfs("cluster " + arguments, environment);
  }
  std::string directory, home, environment;
};

// Everything the cluster keeps is its user's alone; another user reads nothing, and what it sends
// the control port stops nothing. The client configuration is a client's, a job's jar runs as the
// user the command names, and a configuration that names another file system is refused.
TEST_F(QxdfsClusterTest, WhatTheClusterKeepsIsItsUsersAlone) {
  ASSERT_EQ(cluster("start --datanodes 1").status, 0);
  std::string conf = home + "/data/conf";
  for (const auto &entry : fs::recursive_directory_iterator(home)) {
    struct stat info;
    ASSERT_EQ(lstat(entry.path().c_str(), &info), 0);
    if (!S_ISLNK(info.st_mode)) {
      EXPECT_EQ(info.st_mode & 077, 0u) << entry.path();
    }
  }
  std::string other = asAnotherUser();
  if (!other.empty()) {
    EXPECT_NE(runCommand(other + "cat " + conf + "/cluster.info").status, 0);
  }
  std::string configuration = runCommand("cat " + conf + "/*.xml").out;
  for (const char *server :
       {"hdfs.minidfs.basedir", "dfs.namenode.name.dir", "dfs.namenode.checkpoint.dir",
        "dfs.namenode.startup", "mapreduce.client.genericoptionsparser.used", "rpc.engine."}) {
    EXPECT_EQ(configuration.find(server), std::string::npos) << server;
  }

  // A connection reset, a line without end, a sender that sends nothing: then a command.
  int port = atoi(clusterInfo(conf, "control").c_str());
  int reset = connectTo(port), endless = connectTo(port), silent = connectTo(port);
  ASSERT_TRUE(reset >= 0 && endless >= 0 && silent >= 0);
  linger abrupt = {1, 0};
  setsockopt(reset, SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
  EXPECT_EQ(write(reset, "x", 1), 1);
  close(reset);
  std::string line(64 << 10, 'a');
  EXPECT_GT(write(endless, line.data(), line.size()), 0);
  std::string answer;
  EXPECT_TRUE(commandDetachedCluster(conf, "stopdn 0", answer)) << answer;
  EXPECT_EQ(answer, "stopped 0");
  EXPECT_TRUE(commandDetachedCluster(conf, "restartdn 0", answer)) << answer;
  close(endless);
  close(silent);

  // The jar's JVM runs as --user names it, not as whoever runs qxdfs.
  std::string jar = std::string(QX_TEST_DATA_DIR) + "/launched.jar";
  ASSERT_EQ(qxdfs("--fs embedded mkdir /tmp \\; chmod 1777 /tmp", environment).status, 0);
  Outcome made = qxdfs(
      "--fs embedded --user bob jar " + jar + " qxtest.Who /tmp/by-jar \\; stat %u /tmp/by-jar",
      environment);
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(made.out, "Who: bob\nbob\n");

  fs::rename(conf + "/core-site.xml", directory + "/core-site.xml");
  Outcome elsewhere = qxdfs("--fs embedded ls /", environment);
  fs::rename(directory + "/core-site.xml", conf + "/core-site.xml");
  EXPECT_EQ(elsewhere.status, 1);
  EXPECT_EQ(elsewhere.err, "qxdfs: --fs embedded: the client configuration at " + conf +
                               " names file:///, not the cluster's " + clusterInfo(conf, "fs") +
                               "\n");
}

// A launcher killed outright: the next command sees it went away, ends what its jobs left (a
// process naming the cluster's directory, as a container does) and keeps its log.
TEST_F(QxdfsClusterTest, ADeadLaunchersProcessesEndAndItsLogStays) {
  ASSERT_EQ(cluster("start --datanodes 1").status, 0);
  std::string launcher = contents(home + "/cluster");
  launcher = launcher.substr(0, launcher.find(' '));
  std::string data = home + "/data";
  runCommand("setsid bash -c 'exec -a \"java -Dyarn.app.container.log.dir=" + data +
             "/yarn/c1\" sleep 600' > /dev/null 2>&1 &");
  ASSERT_NE(processesNaming(data + "/yarn"), "");
  ASSERT_EQ(runCommand("kill -KILL " + launcher).status, 0);
  Outcome status;
  for (int tenth = 0; tenth < 100 && status.err.empty(); tenth++) {
    status = cluster("status");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(status.status, 1);
  EXPECT_EQ(status.err.find("qxdfs: cluster: the cluster at hdfs://127.0.0.1:"), 0u) << status.err;
  std::string log = status.err.substr(status.err.find("(its log: ") + 10);
  log = log.substr(0, log.find(')'));
  EXPECT_NE(contents(log), "") << "the log of a cluster that went away is kept";
  EXPECT_EQ(processesNaming(data), "");
  EXPECT_FALSE(fs::exists(data));
}

// Two starts at once, a start interrupted, directories that are not the user's alone or that
// Hadoop cannot use: one cluster or none, told in one line, and nothing left behind.
TEST_F(QxdfsClusterTest, StartsNeverBreakEachOther) {
  fs::create_directories(home);
  chmod(home.c_str(), 0755);
  Outcome open = cluster("status");
  Outcome noThrowaway = qxdfs("--fs embedded ls /", environment);
  EXPECT_EQ(open.status, 1);
  EXPECT_NE(open.err.find("mode 0755"), std::string::npos) << open.err;
  EXPECT_EQ(noThrowaway.status, 1);
  EXPECT_EQ(noThrowaway.err.find("qxdfs: --fs embedded: " + home + ": not a directory of yours"),
            0u)
      << noThrowaway.err;
  chmod(home.c_str(), 0700);

  std::string spaced = directory + "/my cluster", shared = directory + "/shared";
  fs::create_directories(shared);
  chmod(shared.c_str(), 0777);
  Outcome space = cluster("start --dir '" + spaced + "'");
  Outcome writable = cluster("start --dir " + shared);
  EXPECT_EQ(space.status, 1);
  EXPECT_NE(space.err.find("holds a space"), std::string::npos) << space.err;
  EXPECT_FALSE(fs::exists(spaced));
  EXPECT_EQ(writable.status, 1);
  EXPECT_NE(writable.err.find("not a directory of yours that only you may write"),
            std::string::npos)
      << writable.err;

  Outcome both = runCommand("(" + environment + QX_QXDFS + " cluster start --datanodes 1 & " +
                            environment + QX_QXDFS + " cluster start --datanodes 1; wait)");
  EXPECT_NE(both.err.find("already running at hdfs://"), std::string::npos) << both.err;
  EXPECT_EQ(cluster("status").status, 0);
  EXPECT_EQ(cluster("stop").status, 0);

  Outcome interrupted = runCommand(environment + QX_QXDFS + " cluster start --datanodes 1 2>" +
                                   directory + "/said & p=$!; sleep 1.5; kill -INT $p; wait $p");
  EXPECT_EQ(interrupted.status, 130);
  EXPECT_NE(contents(directory + "/said").find("interrupted (Interrupt); the cluster was stopped"),
            std::string::npos)
      << contents(directory + "/said");
  EXPECT_EQ(processesNaming(home), "");
  EXPECT_EQ(cluster("status").out, "no cluster running\n");
  Outcome again = cluster("start --datanodes 1");
  EXPECT_EQ(again.status, 0) << "no leftover keeps the next start: " << again.err
                             << contents(home + "/cluster.log");
}

// The log of a throwaway cluster is made where no one else can plant a link to a file of ours.
TEST_F(QxdfsClusterTest, AThrowawayClusterWritesThroughNoPlantedLink) {
  std::string victim = directory + "/victim";
  std::ofstream(victim) << "mine";
  chmod(victim.c_str(), 0600);
  Outcome run = runCommand("sh -c 'for fd in 3 4 5 6 7 8 9 10 11 12; do ln -s " + victim +
                           " /tmp/qxcluster-$$-$fd.log; done; echo $$ > " + directory +
                           "/pid; exec " + QX_QXDFS + " --fs embedded ls /'");
  std::string pid = contents(directory + "/pid");
  runCommand("rm -f /tmp/qxcluster-" + pid.substr(0, pid.find('\n')) + "-*.log");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(contents(victim), "mine");
}

}  // namespace
}  // namespace testsupport
