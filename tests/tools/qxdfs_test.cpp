// qxdfs as a user runs it: commands on the local file system, their output, their one-line
// failures and their exit statuses.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "tests/support/test_support.h"
#include "tests/tools/process.h"
#include "tools/embedded_cluster.h"

namespace testsupport {
namespace {

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
                      "chmod 640 d/up.txt \\; touch d/empty \\; pwd \\; cat d/up.txt \\; ls d");
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
  std::string missing = directory + "/missing", links = temporaryDirectory(), binary = QX_QXDFS;
  std::filesystem::create_symlink("loop", links + "/loop");
  std::ofstream(links + "/file") << "stays";
  auto noSuch = [](const std::string &command, const std::string &path) {
    return command + ": `" + path + "': No such file or directory\n";
  };
  for (const Case &c : std::vector<Case>{
           {"cat " + missing, 1, noSuch("cat", missing)},
           {"rm " + missing, 1, noSuch("rm", missing)},
           {"ls " + missing, 1, noSuch("ls", missing)},
           {"put " + missing + " /x", 1, noSuch("put", missing)},
           {"get " + missing + " " + directory + "/out", 1, noSuch("get", missing)},
           {"get " + directory + " " + missing, 1,
            "get: `" + directory + "' to `" + missing + "': is a subdirectory of itself\n"},
           {"mapjob " + missing + " " + directory, 1,
            "mapjob: Output directory file:" + directory + " already exists\n"},
           {"cd " + directory + " \\; mapjob missing out", 1,
            "mapjob: Input path does not exist: file:" + missing + "\n"},
           {"get " + binary + " " + links + "/loop", 1,
            "get: `" + links + "/loop': Too many levels of symbolic links\n"},
           {"get " + binary + " " + links + "/" + std::string(300, 'n'), 1,
            "get: `" + links + "/" + std::string(300, 'n') + "': File name too long\n"},
           {"cp " + binary + " " + QX_QXDFS + "/x", 1,
            "cp: `" + std::string(QX_QXDFS) + "/x': Is not a directory\n"},
           {"cp hdfs://h:0/a /b", 1, "cp: `hdfs://h:0/a': the port must be 1 to 65535\n"},
           {"rm " + directory + " hdfs://no.such.host/a", 255,
            "-rm: java.net.UnknownHostException: no.such.host\nUsage: qxdfs [generic options] -rm "
            "[-f] [-r|-R] [-skipTrash] [-safely] <src> ...\n"},
       }) {
    Outcome run = qxdfs(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments;
    EXPECT_EQ(run.err, c.line) << c.arguments;
  }
  // A missing parent is named as the file system qualifies it, as Hadoop's shell does.
  for (const char *command : {"put", "cp", "mv", "touch", "get"}) {
    std::string source = std::string(command) == "mv" ? links + "/file " : binary + " ";
    if (std::string(command) == "touch") source.clear();
    Outcome run = qxdfs(std::string(command) + " " + source + missing + "/x");
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_EQ(run.err.rfind(std::string(command) + ": `" + missing +
                                "/x': No such file or "
                                "directory: `file:",
                            0),
              0u)
        << run.err;
  }
  std::string more = "\n(qxdfs --help lists the commands and options)\n";
  for (const Case &c : std::vector<Case>{
           {"frobnicate", 255, "frobnicate: Unknown command\n(qxdfs help lists the commands)\n"},
           {"ls -z", 255,
            "-ls: Illegal option -z\nUsage: qxdfs [generic options] -ls [-C] [-d] [-h] [-q] [-R] "
            "[-t] [-S] [-r] [-u] [-e] [<path> ...]\n"},
           {"chmod 9 " + missing, 255,
            "-chmod: chmod : mode '9' does not match the expected pattern.\nUsage: qxdfs [generic "
            "options] -chmod [-R] <MODE[,MODE]... | OCTALMODE> PATH...\n"},
           {"--fs hdfs://h:65536 ls", 255,
            "qxdfs: -fs hdfs://h:65536: the port must be 1 to 65535" + more},
           {"-fs hdfs://:8020 ls", 255, "qxdfs: -fs hdfs://:8020: no host name" + more},
           {"--fs ftp://h ls", 255,
            "qxdfs: -fs ftp://h: not a file system (local, default, embedded, hdfs://HOST[:PORT] "
            "or file:///)" +
                more},
           {"help nothing", 1, "help: `nothing': No such command\n"},
           {"\\;", 255, "qxdfs: ; without a command" + more},
           {"ls \\; \\; ls", 255, "qxdfs: ; without a command" + more},
       }) {
    Outcome run = qxdfs(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments;
    EXPECT_EQ(run.err, c.line) << c.arguments;
  }
  std::vector<std::string> left;
  for (const auto &entry : std::filesystem::directory_iterator(directory)) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_TRUE(left.empty()) << "a failed get leaves nothing: " << left.front();
  removeTree(links);
  Outcome help = qxdfs("help ls");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(
      help.out.rfind("-ls [-C] [-d] [-h] [-q] [-R] [-t] [-S] [-r] [-u] [-e] [<path> ...] :\n", 0),
      0u)
      << help.out;
}

// Whether a process is gone or a zombie (nobody may reap a detached launcher here).
bool processEnded(const std::string &pid) {
  std::ifstream state("/proc/" + pid + "/stat");
  std::string word, letter;
  return !(state >> word >> word >> letter) || letter == "Z";
}

// The ordinary mistakes of a shell user: nothing is replaced, emptied, moved into itself or
// deleted that the command did not plainly ask for, and the refusal is one line.
TEST_F(QxdfsTest, OrdinaryMistakesLoseNothing) {
  std::string d = directory + "/d", f = d + "/f", other = directory + "/other";
  std::filesystem::create_directories(d + "/sub");
  std::ofstream(f) << "keep";
  std::ofstream(other) << "other";
  struct Case {
    std::string arguments;
    int status;
    std::string line;
  };
  auto q = [](const std::string &path) { return "`" + path + "'"; };
  std::string usage = "\nUsage: qxdfs [generic options] -";
  for (const Case &c : std::vector<Case>{
           {"mv file://" + f + " file://" + d, 1, "mv: " + q("file://" + f) + ": File exists\n"},
           {"mv " + f + " " + d, 1, "mv: " + q(f) + ": File exists\n"},
           {"cp " + f + " " + d, 1, "cp: " + q(f) + ": File exists\n"},
           {"cp -f " + f + " " + d, 1, "cp: " + q(f) + " to " + q(f) + ": are identical\n"},
           {"mv file://" + d + " file://" + d + "/sub/x", 1,
            "mv: " + q("file://" + d) + " to " + q("file://" + d + "/sub/x") +
                ": is a subdirectory of itself\n"},
           {"cp -f " + d + " " + d + "/sub", 1,
            "cp: " + q(d) + " to " + q(d + "/sub/d") + ": is a subdirectory of itself\n"},
           {"cp -f " + d + " " + directory, 1, "cp: " + q(d) + " to " + q(d) + ": are identical\n"},
           {"put -f " + d + " " + d, 1,
            "put: " + q(d) + " to " + q(d + "/d") + ": is a subdirectory of itself\n"},
           {"mv " + d + " " + d, 1,
            "mv: " + q(d) + " to " + q(d + "/d") + ": is a subdirectory of itself\n"},
           {"rm " + d, 1, "rm: " + q(d) + ": Is a directory\n"},
           {"put " + other + " " + f, 1, "put: " + q(f) + ": File exists\n"},
           {"get " + other + " " + f, 1, "get: " + q(f) + ": File exists\n"},
           {"cp " + other + " " + f, 1, "cp: " + q(f) + ": File exists\n"},
           {"rm -skipTrash " + directory + "/none", 1,
            "rm: " + q(directory + "/none") + ": No such file or directory\n"},
           {"javac A.java \"\" B.java out", 255,
            "-javac: argument 2 is empty" + usage +
                "javac <source> ... <outdir> [--release V] [--bootclasspath P]\n"},
           {"jar app.jar Main \"\" x", 255,
            "-jar: argument 3 is empty" + usage + "jar <jar> <mainclass> [<arg> ...]\n"},
           {"mapjob in \"\"", 255,
            "-mapjob: argument 2 is empty" + usage + "mapjob <input> <output> [KEY=VALUE ...]\n"},
           {"rm -x " + d, 255,
            "-rm: Illegal option -x" + usage +
                "rm [-f] [-r|-R] [-skipTrash] [-safely] <src> ...\n"},
       }) {
    Outcome run = qxdfs(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments;
    EXPECT_EQ(run.err, c.line) << c.arguments;
    EXPECT_EQ(contents(f), "keep") << c.arguments;
    EXPECT_TRUE(std::filesystem::is_empty(d + "/sub")) << c.arguments;
  }
  EXPECT_EQ(contents(other), "other");

  // One file by other names: from its directory, through a link, a hard link, ".".
  std::filesystem::create_symlink("f", d + "/link");
  std::filesystem::create_hard_link(f, d + "/hard");
  for (const Case &c : std::vector<Case>{
           {"put -f f .", 1, "put: `f' to `f': are identical\n"},
           {"cp -f link f", 1, "cp: `link' to `f': are identical\n"},
           {"cp -f hard " + d, 1, "cp: `hard' to " + q(d + "/hard") + ": are identical\n"},
           {"get -f f .", 1, "get: `f' to `f': are identical\n"},
           {"put -f ../d ..", 1, "put: `../d' to `../d': are identical\n"},
       }) {
    Outcome run = qxdfs(c.arguments, "cd " + d + " && ");
    EXPECT_EQ(run.status, c.status) << c.arguments;
    EXPECT_EQ(run.err, c.line) << c.arguments;
    EXPECT_EQ(contents(f), "keep") << c.arguments;
  }
  std::filesystem::remove(d + "/link");
  std::filesystem::remove(d + "/hard");

  Outcome forced = qxdfs("put -f " + other + " " + f + " \\; rm -f " + directory +
                         "/none \\; rm -r -skipTrash " + d + "/sub");
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(contents(f), "other");
  EXPECT_FALSE(std::filesystem::exists(d + "/sub"));

  // Where the configuration keeps a trash, rm moves there and says where.
  std::string conf = directory + "/conf", home = directory + "/home";
  std::filesystem::create_directories(conf);
  std::ofstream(conf + "/core-site.xml")
      << "<configuration><property><name>fs.trash.interval</name><value>60</value></property>"
         "</configuration>";
  std::ofstream(directory + "/xmlopts.xml") << "<hadoop/>";
  std::string environment = "QXHOST_JVM_OPTIONS='-Xcheck:jni -Duser.home=" + home +
                            "' ZEL_HADOOP_JAR_PATH=" + QX_HADOOP_LIB_DIR +
                            " ZEL_HADOOP_CONFIG_PATH=" + conf + " ";
  Outcome trashed = qxdfs("--options " + directory + " rm -r " + d, environment);
  EXPECT_EQ(trashed.status, 0) << trashed.err;
  std::string landed = home + "/.Trash/Current" + d;
  EXPECT_EQ(trashed.out, "Moved: 'file:" + d + "' to trash at: file:" + home + "/.Trash/Current\n");
  EXPECT_FALSE(std::filesystem::exists(d));
  EXPECT_EQ(contents(landed + "/f"), "other");
}

// A script written for Hadoop's shell: its generic options and configuration directory are read
// where Hadoop reads them, both spellings of a command are one command, and an argument that
// cannot name a file system stops the command before anything is done.
TEST_F(QxdfsTest, HadoopsGenericOptionsAndSpellingsAreRead) {
  std::string home = directory + "/home", conf = directory + "/conf", d = directory + "/d";
  std::filesystem::create_directories(conf);
  std::string trash =
      "<configuration><property><name>fs.trash.interval</name><value>60</value>"
      "</property></configuration>";
  std::ofstream(conf + "/core-site.xml") << trash;
  std::ofstream(directory + "/trash.xml") << trash;
  std::string jvm = "QXHOST_JVM_OPTIONS='-Xcheck:jni -Duser.home=" + home + "' ";
  std::string moved = "Moved: 'file:" + d + "' to trash at: file:" + home + "/.Trash/Current\n";
  for (const std::string &given :
       {jvm + QX_QXDFS + " -D fs.trash.interval=60 -rm -r " + d,
        jvm + QX_QXDFS + " -Dfs.trash.interval=60 rm -r " + d,
        jvm + QX_QXDFS + " -conf " + directory + "/trash.xml -rm -r " + d,
        jvm + "HADOOP_CONF_DIR=" + conf + " " + QX_QXDFS + " -rm -r " + d}) {
    std::filesystem::create_directories(d);
    Outcome run = runCommand(given);
    EXPECT_EQ(run.status, 0) << given << "\n" << run.err;
    EXPECT_EQ(run.out, moved) << given;
    EXPECT_FALSE(std::filesystem::exists(d)) << given;
    std::filesystem::remove_all(home);
  }
  std::filesystem::create_directories(d + "/a");
  struct Case {
    std::string arguments;
    int status;
    std::string err;
  };
  for (const Case &c : std::vector<Case>{
           {"-mkdir " + d + "/a", 1, "mkdir: `" + d + "/a': File exists\n"},
           {"mkdir -p " + d + "/a " + d + "/b/c", 0, ""},
           {"-mkdir " + d + "/x/y", 1, "mkdir: `file:" + d + "/x': No such file or directory\n"},
           {"-rm -r " + d + "/a hdfs://no.such.host/x", 255,
            "-rm: java.net.UnknownHostException: no.such.host\nUsage: qxdfs [generic options] -rm "
            "[-f] [-r|-R] [-skipTrash] [-safely] <src> ...\n"},
       }) {
    Outcome run = qxdfs(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments;
    EXPECT_EQ(run.err, c.err) << c.arguments;
  }
  EXPECT_TRUE(std::filesystem::is_directory(d + "/a")) << "nothing was removed";
  EXPECT_TRUE(std::filesystem::is_directory(d + "/b/c"));
  Outcome dashed = qxdfs("-ls -R " + d), plain = qxdfs("ls -R " + d);
  EXPECT_EQ(dashed.status, 0) << dashed.err;
  EXPECT_EQ(dashed.out, plain.out);
  EXPECT_EQ(std::count(dashed.out.begin(), dashed.out.end(), '\n'), 3) << dashed.out;
}

// Another user may make the record's directory first and plant a record naming any directory:
// a directory that others may write is refused, and only a cluster's own data is removed.
TEST_F(QxdfsTest, APlantedClusterRecordRemovesNothing) {
  std::string home = directory + "/home", victim = directory + "/victim";
  std::filesystem::create_directories(victim);
  std::ofstream(victim + "/precious") << "mine";
  std::string environment = "QXDFS_CLUSTER_HOME=" + home + " ";
  mkdir(home.c_str(), 0700);
  chmod(home.c_str(), 0777);
  std::ofstream(home + "/cluster") << "999999 hdfs://127.0.0.1:1 1 " << victim << "\n";
  Outcome open = qxdfs("cluster stop", environment);
  EXPECT_EQ(open.status, 1);
  EXPECT_EQ(open.err, "qxdfs: cluster: " + home + ": not a directory of yours alone (owner " +
                          std::to_string(getuid()) +
                          ", mode 0777); remove it or choose another with QXDFS_CLUSTER_HOME\n");
  chmod(home.c_str(), 0700);
  Outcome stale = qxdfs("cluster status", environment);
  EXPECT_EQ(stale.status, 1);
  EXPECT_EQ(stale.err,
            "qxdfs: cluster: the cluster at hdfs://127.0.0.1:1 (pid 999999) went "
            "away; cleaned up\n");
  EXPECT_FALSE(std::filesystem::exists(home + "/cluster"));
  EXPECT_EQ(contents(victim + "/precious"), "mine") << "no marker, nothing removed";

  // A live process that looks like a launcher but is not this record's is no cluster: stop
  // must not end it.
  Outcome decoy = runCommand(
      "setsid bash -c 'exec -a qxhost.cluster.EmbeddedCluster sleep 60' > /dev/null 2>&1 & "
      "echo $!; sleep 0.3");
  std::string pid = decoy.out.substr(0, decoy.out.find('\n'));
  std::ofstream(home + "/cluster") << pid << " hdfs://127.0.0.1:1 1 " << victim << "\n";
  Outcome stop = qxdfs("cluster stop", environment);
  EXPECT_EQ(stop.status, 1);
  EXPECT_FALSE(processEnded(pid)) << "the decoy " << pid << " was ended";
  runCommand("kill " + pid);
}

// A copy stopped by SIGTERM (once the hidden file it writes shows) or by SIGINT, or failed by a
// full disk (a file size limit), removes what it made and leaves the file it would have
// replaced as it was.
TEST_F(QxdfsTest, AnInterruptedOrFailedCopyLeavesTheOldFile) {
  std::string in = directory + "/in/big", out = directory + "/out/big";
  std::filesystem::create_directories(directory + "/in");
  std::filesystem::create_directories(directory + "/out");
  std::ofstream(in).close();
  std::filesystem::resize_file(in, 1LL << 30);  // sparse
  std::ofstream(out) << "old";
  const std::string qxdfs = std::string(QX_QXDFS) + " ";
  auto stopped = [&](const std::string &command) {
    return qxdfs + command + " 2>&1 & p=$!; for i in $(seq 3000); do ls -A " + directory +
           "/out | grep -q '^.big.qxdfs-' && break; sleep 0.01; done; kill -TERM $p; wait $p";
  };
  struct Case {
    std::string command;
    int status;
    std::string said;
  };
  for (const Case &c : std::vector<Case>{
           {stopped("get -f " + in + " " + out), 143,
            "get: `" + out + "': interrupted (Terminated)\n"},
           {stopped("put -f " + in + " " + out), 143,
            "put: `" + out + "': interrupted (Terminated)\n"},
           {stopped("cp -f " + in + " file://" + out), 143,
            "cp: `file://" + out + "': interrupted (Terminated)\n"},
           {"(echo new; sleep 5) | timeout -s INT 2 " + qxdfs + "put -f - " + out, 124,
            "put: `" + out + "': interrupted (Interrupt)\n"},
           {"ulimit -f 64; " + qxdfs + "get -f " + in + " " + out, 1,
            "get: `" + out + "': File too large\n"},
           {"ulimit -f 64; " + qxdfs + "put -f " + in + " " + out, 1,
            "put: java.io.IOException: File too large\n"},
       }) {
    Outcome run = runCommand(c.command);
    EXPECT_EQ(run.status, c.status) << c.command;
    EXPECT_EQ(run.out + run.err, c.said) << c.command;
    EXPECT_EQ(contents(out), "old") << c.command;
    std::vector<std::string> left;
    for (const auto &entry : std::filesystem::directory_iterator(directory + "/out")) {
      left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"big"}) << c.command;
  }
}

// A jar's JVM ends with the qxdfs that launched it, however that ends; a keytab given for a file
// system without Kerberos is said to be unused.
TEST_F(QxdfsTest, ALaunchedJarEndsWithItsLauncher) {
  std::string jar = std::string(QX_TEST_DATA_DIR) + "/launched.jar";
  for (const char *signal : {"TERM", "KILL"}) {
    std::string mark = directory + "/who-" + signal;
    Outcome run = runCommand(std::string(QX_QXDFS) + " jar " + jar + " qxtest.Who " + mark +
                             " sleep > /dev/null & p=$!; for i in $(seq 300); do test -e " + mark +
                             " && break; sleep 0.1; done; kill -" + signal +
                             " $p; wait $p; "
                             "for i in $(seq 100); do pgrep -f -- '[J]arDORN qxtest.Who " +
                             mark +
                             "' > /dev/null || break; sleep 0.1; done; pgrep -f -- "
                             "'[J]arDORN qxtest.Who " +
                             mark + "'");
    EXPECT_EQ(run.out, "") << signal << ": the jar's JVM still runs";
  }
  Outcome unused = qxdfs("--keytab " + directory + "/x.keytab --principal x@Y ls " + directory);
  EXPECT_EQ(unused.status, 0);
  EXPECT_EQ(unused.err.substr(0, unused.err.find('\n')),
            "qxdfs: --keytab " + directory +
                "/x.keytab: the file system does not use Kerberos (hadoop.security.authentication "
                "is simple); not used");
}

// ls, stat and config as JSON, read back by a JSON parser and held against the files made.
TEST_F(QxdfsTest, JsonDocumentsDescribeTheFilesMade) {
  std::filesystem::create_directories(directory + "/t/sub");
  std::ofstream(directory + "/t/a.txt") << "12345";
  std::ofstream(directory + "/t/sub/\xc3\xbc\xf0\x9d\x84\x9e.txt") << "1234567";
  std::string summary =
      " | python3 -c 'import json,os,sys\n"
      "d=json.load(sys.stdin)\n"
      "for e in sorted(d[\"entries\"], key=lambda e: e[\"path\"]):\n"
      "  m = os.stat(e[\"path\"]).st_mtime_ns // 1000000\n"
      "  print(e[\"name\"], e[\"kind\"], e[\"size\"] if e[\"kind\"] == \"file\" else \"-\", "
      "e[\"permissions\"], e[\"modifiedMillis\"] == m, e[\"modified\"][-1])'";
  Outcome listed = qxdfs("--json ls -R " + directory + "/t" + summary);
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.out,
            "a.txt file 5 0644 True Z\nsub directory - 0755 True Z\n"
            "\xc3\xbc\xf0\x9d\x84\x9e.txt file 7 0644 True Z\n");
  Outcome stated = qxdfs("--json stat " + directory + "/t/a.txt" + summary);
  EXPECT_EQ(stated.out, "a.txt file 5 0644 True Z\n") << stated.err;
  std::ofstream(directory + "/xmlopts.xml")
      << "<hadoop><hdfs><host>h\xc3\xbc</host><port>9000</port></hdfs></hadoop>";
  Outcome config = qxdfs("--json config " + directory +
                         " | python3 -c 'import json,sys; d=json.load(sys.stdin); "
                         "print(d[\"hdfsPort\"], d[\"hdfsHost\"], d[\"classPath\"])'");
  EXPECT_EQ(config.out, "9000 h\xc3\xbc []\n") << config.err;
}

// A fresh process whose JVM knows nothing of Hadoop but what the options and the environment
// name: the document gives the name node and the user, the environment the jars.
TEST_F(QxdfsTest, TheOptionsAloneLetAFreshProcessReachHdfs) {
  EmbeddedCluster hdfs;
  ClusterOptions one;
  one.dataNodes = 1;
  ASSERT_TRUE(hdfs.start(one)) << hdfs.error();
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

// A cluster that stays: started once, used by three commands (a put drawing its progress on a
// terminal, a read as another user refused, a listing as JSON), stopped without leftovers.
TEST_F(QxdfsTest, AClusterStartedOnceServesTheCommandsAfterIt) {
  setenv("QXDFS_CLUSTER_HOME", (directory + "/cluster").c_str(), 1);
  std::string home;
  Outcome start = qxdfs("cluster start --datanodes 1", home);
  ASSERT_EQ(start.status, 0) << start.err;
  EXPECT_EQ(start.out.rfind("hdfs://127.0.0.1:", 0), 0u) << start.out;
  std::string pid = qxdfs("cluster status", home).out;
  pid = pid.substr(pid.find("(pid ") + 5);
  pid = pid.substr(0, pid.find(','));

  std::ofstream(directory + "/big", std::ios::binary) << std::string(6 << 20, 'x');
  Outcome terminal = runCommand("script -qec '" + std::string(QX_QXDFS) + " --fs embedded put " +
                                directory + "/big /big \\; cp /big /copy \\; mkdir /private " +
                                "\\; chmod 700 /private \\; touch /private/f' /dev/null");
  Outcome refused = qxdfs("--fs embedded --user other ls /private", home);
  Outcome json = qxdfs(
      "--fs embedded --json ls /big | python3 -c 'import json,sys; "
      "e=json.load(sys.stdin)[\"entries\"][0]; print(e[\"size\"], e[\"kind\"])'",
      home);
  EXPECT_EQ(terminal.status, 0) << terminal.err;
  EXPECT_NE(terminal.out.find("\r\033[K" + directory + "/big  100%  6 M of 6 M"), std::string::npos)
      << terminal.out;
  size_t put = terminal.out.find("\r\033[K" + directory + "/big  100%");
  std::string uri = start.out.substr(0, start.out.find('\n'));
  EXPECT_NE(terminal.out.find("\r\033[K" + uri + "/big ", put), std::string::npos)
      << "cp watched: " << terminal.out;
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err.substr(0, refused.err.find('\n')),
            "ls: Permission denied: user=other, access=READ_EXECUTE, "
            "inode=\"/private\":root:supergroup:drwx------");
  EXPECT_EQ(json.out, "6291456 file\n") << json.err;
  Outcome pipe = qxdfs("--fs embedded get /big " + directory + "/back", home);
  EXPECT_EQ(pipe.err, "") << "no progress line in a pipe";
  EXPECT_NE(qxdfs("cluster status", home).out.find("(pid " + pid + ","), std::string::npos)
      << "the commands used the one launcher and started none of their own";

  Outcome stop = qxdfs("cluster stop", home);
  EXPECT_EQ(stop.status, 0) << stop.err;
  EXPECT_FALSE(std::filesystem::exists(directory + "/cluster/cluster")) << "record removed";
  EXPECT_FALSE(std::filesystem::exists(directory + "/cluster/data")) << "data removed";
  EXPECT_TRUE(processEnded(pid)) << "launcher " << pid;
  EXPECT_EQ(qxdfs("cluster status", home).status, 1);
  unsetenv("QXDFS_CLUSTER_HOME");
}

// A cluster with YARN, started once: a map job from another process prints its id first, its
// progress on a terminal and its counters; stopping leaves no launcher, container or data.
TEST_F(QxdfsTest, AYarnClusterRunsAMapJobAndLeavesNothing) {
#ifdef QX_SANITIZED
  GTEST_SKIP() << "the job runs in the cluster's own JVMs, which the sanitizers do not see";
#endif
  std::string home = "QXDFS_CLUSTER_HOME=" + directory + "/cluster ";
  Outcome start = qxdfs("cluster start --datanodes 1 --yarn", home);
  ASSERT_EQ(start.status, 0) << start.err;
  Outcome status = qxdfs("cluster status", home);
  EXPECT_NE(status.out.find("\nResourceManager at localhost:"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("(2 NodeManagers)\nclient configuration: " + directory +
                            "/cluster/data/conf\n"),
            std::string::npos)
      << status.out;
  std::string pid = status.out.substr(status.out.find("(pid ") + 5);
  pid = pid.substr(0, pid.find(','));
  std::ofstream(directory + "/words") << "to be or not to be\n";
  ASSERT_EQ(qxdfs("--fs embedded mkdir /in \\; put " + directory + "/words /in/w", home).status, 0);
  Outcome job =
      runCommand(home + "script -qec '" + QX_QXDFS + " --fs embedded mapjob /in /out' /dev/null");
  EXPECT_EQ(job.status, 0) << job.out;
  EXPECT_EQ(job.out.rfind("job job_", 0), 0u) << "the id first: " << job.out;
  EXPECT_EQ(job.out.find("job_local"), std::string::npos) << "on YARN: " << job.out;
  EXPECT_NE(job.out.find("\r\033[Kjob_"), std::string::npos) << "a progress line: " << job.out;
  EXPECT_NE(job.out.find("  map 100%  reduce 100%"), std::string::npos) << job.out;
  EXPECT_NE(job.out.find("\t\tReduce output records=4\r\n"), std::string::npos) << job.out;
  Outcome counted = qxdfs("--fs embedded cat /out/part-r-00000", home);
  EXPECT_EQ(counted.out, "be\t2\nnot\t1\nor\t1\nto\t2\n") << counted.err;

  EXPECT_EQ(qxdfs("cluster stop", home).status, 0);
  EXPECT_FALSE(std::filesystem::exists(directory + "/cluster/cluster")) << "record removed";
  EXPECT_FALSE(std::filesystem::exists(directory + "/cluster/data")) << "data removed";
  EXPECT_TRUE(processEnded(pid)) << "launcher " << pid;
  // (The brackets keep the shell that runs pgrep from matching itself.)
  Outcome containers = runCommand("pgrep -f -- '[-]Dyarn.app.container.log.dir=" + directory + "'");
  EXPECT_EQ(containers.out, "") << "no container left";
}

// A secured cluster with two name nodes, as production runs them: no ticket, a ticket from kinit,
// a keytab, a user the file's mode keeps out, a failover between commands, and a destroyed
// ticket cache before the next command.
TEST_F(QxdfsTest, ASecuredHighlyAvailableClusterTakesTicketsAndKeytabs) {
  std::string home = "QXDFS_CLUSTER_HOME=" + directory + "/cluster ";
  Outcome start = qxdfs("cluster start --secure --ha --datanodes 2", home);
  ASSERT_EQ(start.status, 0) << start.err;
  EXPECT_EQ(start.out, "hdfs://qxcluster\n");
  std::string conf = directory + "/cluster/data/conf";
  Outcome status = qxdfs("cluster status", home);
  EXPECT_NE(status.out.find("Kerberos realm EXAMPLE.COM: krb5.conf " + conf + "/krb5.conf\n" +
                            "  alice@EXAMPLE.COM: keytab " + conf + "/alice.keytab\n"),
            std::string::npos)
      << status.out;
  std::string kerberos =
      home + "KRB5_CONFIG=" + conf + "/krb5.conf KRB5CCNAME=FILE:" + directory + "/ticket ";
  const std::string noTicket =
      "ls: no Kerberos credentials for hdfs://qxcluster: run kinit or give --keytab\n";
  Outcome none = qxdfs("--fs embedded ls /", kerberos);
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, noTicket);
  // A question the cluster would not take is no answer: "could not ask", never "not there".
  for (const char *asked : {"rm /user", "rm -f /user", "test -e /user", "mkdir -p /user"}) {
    Outcome refused = qxdfs(std::string("--fs embedded ") + asked, kerberos);
    std::string command = std::string(asked).substr(0, std::string(asked).find(' '));
    EXPECT_EQ(refused.status, 1) << asked;
    EXPECT_EQ(refused.err, command + noTicket.substr(2)) << asked;
  }

  ASSERT_EQ(runCommand(kerberos + "kinit -kt " + conf + "/alice.keytab alice@EXAMPLE.COM").status,
            0);
  std::ofstream(directory + "/note") << "alice's note\n";
  Outcome put =
      qxdfs("--fs embedded put " + directory +
                "/note /user/alice/note \\; chmod 600 /user/alice/note \\; ls /user/alice",
            kerberos);
  EXPECT_EQ(put.status, 0) << put.err;
  EXPECT_EQ(put.out.rfind("Found 1 items\n-rw-------", 0), 0u) << put.out;
  EXPECT_EQ(qxdfs("cluster failover", home).out, "active 1\n");
  Outcome cat = qxdfs("--fs embedded cat /user/alice/note", kerberos);
  EXPECT_EQ(cat.out, "alice's note\n") << cat.err;
  Outcome bob = qxdfs("--fs embedded --keytab " + conf +
                          "/bob.keytab --principal bob@EXAMPLE.COM "
                          "cat /user/alice/note",
                      kerberos);
  EXPECT_EQ(bob.status, 1);
  EXPECT_EQ(bob.err,
            "cat: Permission denied: user=bob, access=READ, "
            "inode=\"/user/alice/note\":alice:alice:-rw-------\n");
  Outcome keytab = qxdfs("--fs embedded --keytab " + conf +
                             "/alice.keytab --principal "
                             "alice@EXAMPLE.COM get /user/alice/note " +
                             directory +
                             "/back \\; "
                             "rm /user/alice/note",
                         home);
  EXPECT_EQ(keytab.status, 0) << keytab.err;
  EXPECT_EQ(contents(directory + "/back"), "alice's note\n");

  // Its secrets are its user's alone; a jar's JVM acts as the user the command names, through
  // the login's credentials; a map job, which Hadoop cannot run under Kerberos without its
  // native library, is refused before it is submitted.
  for (const std::string &secret :
       {conf + "/alice.keytab", conf + "/bob.keytab", conf + "/cluster.info",
        directory + "/cluster/data/kdc/hdfs.keytab"}) {
    struct stat info;
    ASSERT_EQ(stat(secret.c_str(), &info), 0) << secret;
    EXPECT_EQ(info.st_mode & 0777, 0600u) << secret;
  }
  std::string asAlice =
      "--fs embedded --keytab " + conf + "/alice.keytab --principal alice@EXAMPLE.COM ";
  Outcome who = qxdfs(asAlice + "--user bob jar " + QX_TEST_DATA_DIR +
                          "/launched.jar qxtest.Who /tmp/by-bob \\; stat %u /tmp/by-bob",
                      home);
  EXPECT_EQ(who.status, 0) << who.err;
  EXPECT_EQ(who.out, "Who: bob\nbob\n");
  Outcome job = qxdfs(asAlice + "mapjob /user/alice /user/alice/counted", home);
  EXPECT_EQ(job.status, 1);
  EXPECT_NE(job.err.find("without Hadoop's native library"), std::string::npos) << job.err;

  ASSERT_EQ(runCommand(kerberos + "kdestroy").status, 0);
  Outcome destroyed = qxdfs("--fs embedded ls /user/alice", kerberos);
  EXPECT_EQ(destroyed.status, 1);
  EXPECT_EQ(destroyed.err, noTicket);
  EXPECT_EQ(qxdfs("cluster stop", home).status, 0);
}

}  // namespace
}  // namespace testsupport
