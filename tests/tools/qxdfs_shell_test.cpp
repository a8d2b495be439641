// The shell's commands and path patterns on the local file system and on HDFS alike, each result
// held against the file system itself (the local one directly, HDFS through a get).
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "tests/support/test_support.h"
#include "tests/tools/process.h"
#include "tools/embedded_cluster.h"

namespace testsupport {
namespace {

namespace fs = std::filesystem;

const std::string kEmoji = "\xf0\x9f\x98\x80";  // outside the BMP: two UTF-16 units

struct Case {
  std::string arguments;  // R stands for the tree's root
  int status;
  std::string out;
  std::string err = "";
};

// Only an R that starts a word: a temporary directory's name (put in as it is) may end in R.
std::string replaced(std::string text, const std::string &root) {
  for (size_t at = 0; (at = text.find("R/", at)) != std::string::npos;) {
    if (at > 0 && (isalnum(static_cast<unsigned char>(text[at - 1])) || text[at - 1] == '.')) {
      at++;
      continue;
    }
    text.replace(at, 1, root);
    at += root.size();
  }
  return text;
}

std::vector<std::string> namesIn(const std::string &directory) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(directory)) {
    std::string name = entry.path().filename().string();
    if (name[0] != '.') names.push_back(name);  // the local file system's checksum files
  }
  std::sort(names.begin(), names.end());
  return names;
}

class QxdfsShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = temporaryDirectory();
    local = directory + "/src";
    for (const char *made : {"logs/2026-01", "logs/2026-02", "logs/2027-01", "q", "e"}) {
      fs::create_directories(local + "/" + made);
    }
    runCommand("printf 'alpha\\n' | gzip -n > " + local + "/logs/2026-01/a.gz");
    std::ofstream(local + "/logs/2026-02/b.txt") << "bravo\n";
    std::ofstream(local + "/logs/2026-02/" + kEmoji + ".txt") << "emoji!\n";
    std::ofstream(local + "/logs/2027-01/c.txt") << "charlie\n";
    std::ofstream(local + "/q/st*r") << "star\n";
    std::ofstream(local + "/q/stXr") << "x\n";
    std::ofstream(directory + "/kept") << "kept\n";
    chmod((directory + "/kept").c_str(), 0600);
    fs::last_write_time(directory + "/kept",
                        fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  }
  void TearDown() override { removeTree(directory); }

  // Every case on one file system: its prefix of options and where the tree is there.
  void runCases(const std::string &options, const std::string &root,
                const std::vector<Case> &cases) {
    for (const Case &c : cases) {
      std::string arguments = replaced(c.arguments, root);
      Outcome run = qxdfs(options + arguments);
      EXPECT_EQ(run.status, c.status) << arguments << "\n" << run.err;
      EXPECT_EQ(run.out, replaced(c.out, root)) << arguments;
      EXPECT_EQ(run.err, replaced(c.err, root)) << arguments;
    }
  }

  // What both file systems must answer alike, but for the checksum they keep and the replicas
  // of a new file.
  std::vector<Case> commonCases(const std::string &sum, int replicas) {
    // du's table: each column as wide as its widest cell, two spaces between.
    auto du = [replicas](const std::vector<std::pair<int, std::string>> &rows) {
      size_t sizeWidth = 0, usedWidth = 0;
      for (const auto &[bytes, path] : rows) {
        sizeWidth = std::max(sizeWidth, std::to_string(bytes).size());
        usedWidth = std::max(usedWidth, std::to_string(bytes * replicas).size());
      }
      std::string table;
      for (const auto &[bytes, path] : rows) {
        std::string size = std::to_string(bytes), used = std::to_string(bytes * replicas);
        table += size + std::string(sizeWidth - size.size() + 2, ' ') + used +
                 std::string(usedWidth - used.size() + 2, ' ') + path + "\n";
      }
      return table;
    };
    std::string gz = std::to_string(fs::file_size(local + "/logs/2026-01/a.gz"));
    struct stat kept;
    ::stat((directory + "/kept").c_str(), &kept);
    long long keptMs = kept.st_mtim.tv_sec * 1000LL + kept.st_mtim.tv_nsec / 1000000;
    std::string bytes = std::to_string(21 + fs::file_size(local + "/logs/2026-01/a.gz"));
    return {
        {"ls -C 'R/logs/2026-*/*' \\; ls -C 'R/logs/2026-02/?.txt' \\; "
         "ls -C 'R/logs/{2026-01,2027-01}/*' 'R/logs/202[6-7]-01' \\; ls -C 'R/q/st\\*r'",
         0,
         "R/logs/2026-01/a.gz\nR/logs/2026-02/b.txt\nR/logs/2026-02/" + kEmoji + ".txt\n" +
             "R/logs/2026-02/b.txt\nR/logs/2026-02/" + kEmoji + ".txt\n" +
             "R/logs/2026-01/a.gz\nR/logs/2027-01/c.txt\nR/logs/2026-01/a.gz\nR/logs/2027-01/"
             "c.txt\n"
             "R/q/st*r\n"},
        {"ls 'R/none*'", 1, "", "ls: `R/none*': No such file or directory\n"},
        {"cat 'R/logs/*/c.txt' 'R/logs/2026-02/b*' \\; head R/q/stXr \\; tail R/q/stXr \\; "
         "text R/logs/2026-01/a.gz R/q/stXr \\; stat '%n %b %F %a' 'R/logs/2026-02/*' \\; stat '%n "
         "%F %a' R/e \\; "
         "count 'R/logs' \\; count -q R/e \\; find R/logs -name '*.txt' \\; "
         "find R/logs -name '2026-0?' \\; checksum R/q/stXr \\; test -d R/e \\; "
         "test -f R/q/stXr \\; test -s R/q/stXr \\; test -e 'R/q/st\\*r'",
         0,
         "charlie\nbravo\nx\nx\nalpha\nx\nb.txt 6 regular file 644\n" + kEmoji +
             ".txt 7 regular file 644\ne directory 755\n           4            4 " +
             std::string(18 - bytes.size(), ' ') + bytes +
             " R/logs\n        none             inf            none             inf            1"
             "            0                  0 R/e\nR/logs/2026-02/b.txt\nR/logs/2026-02/" +
             kEmoji + ".txt\nR/logs/2027-01/c.txt\nR/logs/2026-01\nR/logs/2026-02\nR/q/stXr\t" +
             sum + "\n"},
        {"du -s 'R/logs/2026-0[2]' \\; du R/q", 0,
         du({{13, "R/logs/2026-02"}}) + du({{5, "R/q/st*r"}, {2, "R/q/stXr"}})},
        {"test -f R/e", 1, ""},
        {"test -z R/q/stXr", 1, ""},
        {"test -e R/none", 1, ""},
        {"rmdir R/logs", 1, "", "rmdir: `R/logs': Directory is not empty\n"},
        {"cp 'R/logs/2026-02/*' R/logs/2027-01/c.txt", 1, "",
         "cp: `R/logs/2027-01/c.txt': Is not a directory\n"},
        {"rmdir R/e \\; mkdir R/into \\; cp 'R/logs/*/*.txt' R/into \\; mv 'R/into/{b,c}.txt' R/e",
         1, "", "mv: `R/e': No such file or directory\n"},
        {"mkdir R/e \\; mv 'R/into/{b,c}.txt' R/e \\; getmerge -nl 'R/logs/2026-0[2]' " +
             directory + "/merged \\; put -p " + directory +
             "/kept R/kept \\; cp -p R/kept R/kept2 \\; "
             "stat '%a %Y' R/kept2",
         0, "600 " + std::to_string(keptMs) + "\n"},
    };
  }

  // The results of the cases, read back from the file system as it is now.
  void checkResults(const std::string &root, const std::string &readBack) {
    EXPECT_EQ(namesIn(readBack + "/into"), std::vector<std::string>{kEmoji + ".txt"}) << root;
    EXPECT_EQ(namesIn(readBack + "/e"), (std::vector<std::string>{"b.txt", "c.txt"})) << root;
    EXPECT_EQ(contents(readBack + "/e/c.txt"), "charlie\n");
    EXPECT_EQ(contents(directory + "/merged"), "bravo\n\nemoji!\n\n");
    fs::remove(directory + "/merged");
  }

  std::string directory, local;
};

TEST_F(QxdfsShellTest, PatternsAndCommandsReadTheLocalFileSystemAsHadoopsShell) {
  runCases("", local, commonCases("NONE", 1));
  checkResults(local, local);
  Outcome piped =
      runCommand("printf 'from stdin' | " + std::string(QX_QXDFS) + " put - " + local +
                 "/piped; printf ' and back' | " + QX_QXDFS + " cat " + local + "/piped -");
  EXPECT_EQ(piped.out, "from stdin and back") << piped.err;
  Outcome kept = qxdfs("get -p " + local + "/kept2 " + directory + "/back");
  EXPECT_EQ(kept.status, 0) << kept.err;
  EXPECT_EQ(fs::status(directory + "/back").permissions(), fs::perms(0600));
  struct stat back, made;
  ASSERT_EQ(stat((directory + "/back").c_str(), &back), 0);
  stat((directory + "/kept").c_str(), &made);
  EXPECT_EQ(back.st_mtime, made.st_mtime);

  // The start-up archive changes nothing a command does: none, one that is no archive, the
  // build's.
  std::ofstream(directory + "/garbage.jsa") << "not an archive";
  std::string listing = "ls '" + local + "/logs/2026-02/?.txt' " + local + "/none";
  Outcome usual = qxdfs(listing);
  for (std::string archive : {std::string(), directory + "/garbage.jsa"}) {
    Outcome other = qxdfs(listing, "QXDFS_CLASS_ARCHIVE='" + archive + "' ");
    EXPECT_EQ(std::tie(other.status, other.out, other.err),
              std::tie(usual.status, usual.out, usual.err))
        << archive;
  }
  EXPECT_EQ(usual.status, 1);
  EXPECT_EQ(usual.err, "ls: `" + local + "/none': No such file or directory\n");
}

TEST_F(QxdfsShellTest, PatternsAndCommandsReadHdfsAsHadoopsShell) {
  EmbeddedCluster hdfs;
  ClusterOptions one;
  one.dataNodes = 1;
  ASSERT_TRUE(hdfs.start(one)) << hdfs.error();
  std::string options = "--fs " + hdfs.uri() + " ";
  ASSERT_EQ(qxdfs(options + "put " + local + " /t").status, 0);
  runCases(options, "/t",
           commonCases("MD5-of-0MD5-of-"
                       "512CRC32C\t0000020000000000000000000c2d4923cde59ed94a0a916ff9c05065",
                       3));
  ASSERT_EQ(qxdfs(options + "get /t " + directory + "/back").status, 0);
  checkResults("/t", directory + "/back");

  std::ofstream(directory + "/one") << "one\n";
  std::string tailed = directory + "/tailed";
  Outcome appended =
      runCommand(std::string(QX_QXDFS) + " " + options + "appendToFile " + directory +
                 "/one /t/log \\; setrep 1 /t/log; printf 'two\\n' | " + QX_QXDFS + " " + options +
                 "appendToFile - /t/log \\; cat /t/log; (" + QX_QXDFS + " " + options +
                 "tail -f /t/log > " + tailed + " & p=$!; for i in $(seq 300); do grep -q two " +
                 tailed + " && break; sleep 0.1; done; printf 'three\\n' | " + QX_QXDFS + " " +
                 options + "appendToFile - /t/log; for i in $(seq 300); do grep -q three " +
                 tailed + " && break; sleep 0.1; done; kill -TERM $p; wait $p)");
  EXPECT_EQ(appended.status, 0) << appended.err;
  EXPECT_EQ(appended.out, "Replication 1 set: /t/log\none\ntwo\n");
  EXPECT_EQ(contents(tailed), "one\ntwo\nthree\n");

  // One cluster by two names; a move to another file system that fails half way (a file size
  // limit) keeps its source and the file it would have replaced.
  std::string port = hdfs.uri().substr(hdfs.uri().rfind(':') + 1);
  runCases(options, "/t",
           {{"cp -f hdfs://LOCALHOST:" + port + "/t/q/stXr /t/q/stXr", 1, "",
             "cp: `hdfs://LOCALHOST:" + port + "/t/q/stXr' to `/t/q/stXr': are identical\n"},
            {"cp -f /t/logs hdfs://localhost:" + port + "/t/logs/2026-01", 1, "",
             "cp: `/t/logs' to `hdfs://localhost:" + port +
                 "/t/logs/2026-01/logs': is a subdirectory of itself\n"}});
  std::ofstream(directory + "/old") << "old";
  std::ofstream(directory + "/big") << std::string(64 << 10, 'b');
  ASSERT_EQ(qxdfs(options + "put " + directory + "/big /t/big").status, 0);
  Outcome moved = runCommand("ulimit -f 8; " + std::string(QX_QXDFS) + " " + options +
                             "mv /t/big file://" + directory + "/old");
  EXPECT_EQ(moved.status, 1);
  EXPECT_EQ(moved.err, "mv: `file://" + directory + "/old': File exists\n");
  moved = runCommand("ulimit -f 8; " + std::string(QX_QXDFS) + " " + options + "mv /t/big file://" +
                     directory + "/new");
  EXPECT_EQ(moved.status, 1);
  EXPECT_EQ(moved.err, "mv: java.io.IOException: File too large\n");
  EXPECT_FALSE(fs::exists(directory + "/new"));
  EXPECT_EQ(qxdfs(options + "test -f /t/big").status, 0) << "the source stays";
}

// A tree copied on several threads, up, across and down: a file that cannot be copied fails the
// command once the others are done, in one line naming it, and every other file arrives byte for
// byte.
TEST_F(QxdfsShellTest, ATreeGoesUpAndDownOnSeveralThreads) {
  EmbeddedCluster hdfs;
  ClusterOptions one;
  one.dataNodes = 1;
  ASSERT_TRUE(hdfs.start(one)) << hdfs.error();
  std::string tree = directory + "/tree", options = "--fs " + hdfs.uri() + " ";
  for (int i = 0; i < 120; i++) {
    fs::create_directories(tree + "/d" + std::to_string(i % 7));
    std::ofstream(tree + "/d" + std::to_string(i % 7) + "/f" + std::to_string(i) + kEmoji)
        << std::string(static_cast<size_t>(i * 37 % 5000), static_cast<char>('a' + i % 26));
  }
  ASSERT_EQ(qxdfs(options + "mkdir -p /up/tree/d3 \\; touch /up/tree/d3/f10" + kEmoji).status, 0);
  Outcome up = qxdfs(options + "put -t 4 " + tree + " /up");
  EXPECT_EQ(up.status, 1);
  EXPECT_EQ(up.err, "put: `/up/tree/d3/f10" + kEmoji + "': File exists\n");
  Outcome copied = qxdfs(options + "cp -t 3 /up/tree /copied");
  EXPECT_EQ(copied.status, 0) << copied.err;
  Outcome down = qxdfs(options + "get -t 3 /copied " + directory + "/down");
  EXPECT_EQ(down.status, 0) << down.err;
  size_t files = 0;
  for (const auto &entry : fs::recursive_directory_iterator(tree)) {
    if (!entry.is_regular_file()) continue;
    std::string relative = entry.path().string().substr(tree.size());
    std::string back = contents(directory + "/down" + relative);
    EXPECT_EQ(back, relative == "/d3/f10" + kEmoji ? "" : contents(entry.path())) << relative;
    files++;
  }
  EXPECT_EQ(files, 120u);
}

}  // namespace
}  // namespace testsupport
