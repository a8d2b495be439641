// qxdfs beside Hadoop's own shell (org.apache.hadoop.fs.FsShell on the same jars and the same
// client configuration, that of a cluster qxdfs cluster start started), each command a whole
// process as a user runs it: short commands on the local file system and the embedded HDFS, then a
// tree of many small files up and down. Rounds alternate which side goes first; each side's median
// is shown with their ratio (below 1: qxdfs takes less time).
//
//   shell_benchmark [--rounds N] [--tree-files N] [--tree-rounds N] [--threads N]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Settings {
  int rounds = 7;
  int treeFiles = 10000;
  int treeRounds = 3;
  int threads = 0;  // qxdfs's default: one for each core
};

// A command for each side, with what to run untimed before each try (making room for it).
struct Step {
  std::string ours, theirs;
  std::string before;  // a shell command line, or ""
};

struct Row {
  std::string fs, command;
  std::vector<Step> steps;  // timed together (mkdir + rm)
  int rounds;
};

double run(const std::string &command) {
  auto start = std::chrono::steady_clock::now();
  int status = system((command + " >/dev/null 2>/tmp/shell_benchmark.err").c_str());
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (status != 0) {
    fprintf(stderr, "failed (%d): %s\n", status, command.c_str());
    system("cat /tmp/shell_benchmark.err >&2");
    exit(1);
  }
  return seconds;
}

// A command's standard output.
std::string output(const std::string &command) {
  std::string text;
  FILE *pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  if (pipe) pclose(pipe);
  return text;
}

// The text between two markers.
std::string between(const std::string &text, const std::string &before, const std::string &after) {
  size_t start = text.find(before);
  if (start == std::string::npos) return "";
  start += before.size();
  return text.substr(start, text.find(after, start) - start);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double timeSide(const Row &row, bool ours) {
  double seconds = 0;
  for (const Step &step : row.steps) {
    if (!step.before.empty()) system((step.before + " >/dev/null 2>&1").c_str());
    seconds += run(ours ? step.ours : step.theirs);
  }
  return seconds;
}

void writeFile(const std::string &path, size_t bytes, std::mt19937 &random) {
  std::string data(bytes, '\0');
  for (char &c : data) c = static_cast<char>(random());
  std::ofstream(path, std::ios::binary) << data;
}

bool parse(int argc, char **argv, Settings &settings) {
  for (int i = 1; i + 1 < argc; i += 2) {
    int value = atoi(argv[i + 1]);
    if (!strcmp(argv[i], "--rounds")) {
      settings.rounds = std::max(1, value);
    } else if (!strcmp(argv[i], "--tree-files")) {
      settings.treeFiles = std::max(0, value);
    } else if (!strcmp(argv[i], "--tree-rounds")) {
      settings.treeRounds = std::max(1, value);
    } else if (!strcmp(argv[i], "--threads")) {
      settings.threads = std::max(0, value);
    } else {
      return false;
    }
  }
  return argc % 2 == 1;
}

}  // namespace

int main(int argc, char **argv) {
  Settings settings;
  if (!parse(argc, argv, settings)) {
    fprintf(stderr,
            "usage: shell_benchmark [--rounds N] [--tree-files N] [--tree-rounds N] "
            "[--threads N]\n");
    return 2;
  }
  std::string work =
      fs::temp_directory_path().string() + "/shell_benchmark." + std::to_string(getpid());
  // The cluster as users start it, so that both sides read its client configuration.
  fs::create_directories(work + "/home");
  fs::permissions(work + "/home", fs::perms::owner_all);
  setenv("QXDFS_CLUSTER_HOME", (work + "/home").c_str(), 1);
  std::string qxdfs = QX_QXDFS;
  if (system((qxdfs + " cluster start --datanodes 1 >/dev/null").c_str()) != 0) return 1;
  std::string status = output(qxdfs + " cluster status");
  std::string uri = between(status, "running at ", " ");
  std::string configuration = between(status, "client configuration: ", "\n");
  std::mt19937 random(7);
  fs::create_directories(work + "/dir");
  for (int i = 0; i < 100; i++) writeFile(work + "/dir/f" + std::to_string(i), 100, random);
  writeFile(work + "/small", 1024, random);
  writeFile(work + "/mib", 1 << 20, random);
  for (int i = 0; i < settings.treeFiles; i++) {
    std::string directory = work + "/tree/d" + std::to_string(i / 500);
    fs::create_directories(directory);
    writeFile(directory + "/f" + std::to_string(i), 1024 + random() % (63 * 1024 + 1), random);
  }
  const char *javaHome = getenv("JAVA_HOME");
  std::string java = std::string(javaHome && *javaHome ? javaHome : "/usr") + "/bin/java";
  std::string hadoop =
      java + " -cp " + configuration + ":" + QX_HADOOP_LIB_DIR + "/* org.apache.hadoop.fs.FsShell";
  std::string threads = settings.threads ? " -t " + std::to_string(settings.threads) : "";
  std::vector<Row> rows;
  for (std::string fsName : {"local", "hdfs"}) {
    bool onHdfs = fsName == "hdfs";
    std::string root = onHdfs ? "/bench" : work + "/there";
    std::string ours = qxdfs + (onHdfs ? " --fs embedded " : " ");
    std::string theirs = hadoop + " -D fs.defaultFS=" + (onHdfs ? uri : "file:///") + " -";
    // The tree and the files to read, made once by qxdfs.
    system((ours + "mkdir " + root + " \\; put " + work + "/dir " + root + "/dir \\; put " +
            work + "/small " + root + "/small \\; put " + work + "/mib " + root + "/mib >/dev/null")
               .c_str());
    auto row = [&](const std::string &command, std::vector<Step> steps, int rounds) {
      rows.push_back({fsName, command, std::move(steps), rounds});
    };
    int r = settings.rounds;
    row("ls of 100 files", {{ours + "ls " + root + "/dir", theirs + "ls " + root + "/dir", ""}}, r);
    row("stat",
        {{ours + "stat '%n %s' " + root + "/small", theirs + "stat '%n %b' " + root + "/small",
          ""}},
        r);
    row("cat 1 KiB", {{ours + "cat " + root + "/small", theirs + "cat " + root + "/small", ""}}, r);
    row("put 1 MiB",
        {{ours + "put -f " + work + "/mib " + root + "/up",
          theirs + "put -f " + work + "/mib " + root + "/up", ""}},
        r);
    row("get 1 MiB",
        {{ours + "get -f " + root + "/mib " + work + "/down",
          theirs + "get -f " + root + "/mib " + work + "/down", ""}},
        r);
    row("mkdir + rm",
        {{ours + "mkdir " + root + "/m", theirs + "mkdir " + root + "/m", ""},
         {ours + "rm -r -skipTrash " + root + "/m", theirs + "rm -r -skipTrash " + root + "/m",
          ""}},
        r);
    if (!onHdfs || settings.treeFiles == 0) continue;
    std::string clean = ours + "rm -r -skipTrash " + root + "/tree";
    row("put tree " + std::to_string(settings.treeFiles) + " files",
        {{ours + "put" + threads + " " + work + "/tree " + root + "/tree",
          theirs + "put " + work + "/tree " + root + "/tree", clean}},
        settings.treeRounds);
    row("get tree " + std::to_string(settings.treeFiles) + " files",
        {{ours + "get" + threads + " " + root + "/tree " + work + "/back",
          theirs + "get " + root + "/tree " + work + "/back", "rm -rf " + work + "/back"}},
        settings.treeRounds);
  }
  printf("| fs    | command              | qxdfs s | Hadoop shell s | ratio |\n");
  printf("|-------|----------------------|---------|----------------|-------|\n");
  for (const Row &row : rows) {
    if (row.command.rfind("get tree", 0) == 0) {  // the tree to get is the one put last
      system(
          (qxdfs + " --fs embedded put " + work + "/tree /bench/tree >/dev/null 2>&1").c_str());
    }
    std::vector<double> ours, theirs;
    for (int round = 0; round < row.rounds; round++) {
      bool oursFirst = round % 2 == 0;
      double first = timeSide(row, oursFirst), second = timeSide(row, !oursFirst);
      ours.push_back(oursFirst ? first : second);
      theirs.push_back(oursFirst ? second : first);
    }
    if (row.command.rfind("put tree", 0) == 0) {
      system((qxdfs + " --fs embedded rm -r -skipTrash /bench/tree >/dev/null 2>&1").c_str());
    }
    printf("| %-5s | %-20s | %7.2f | %14.2f | %5.2f |\n", row.fs.c_str(), row.command.c_str(),
           median(ours), median(theirs), median(ours) / median(theirs));
    fflush(stdout);
  }
  system((qxdfs + " cluster stop >/dev/null").c_str());
  fs::remove_all(work);
  return 0;
}
