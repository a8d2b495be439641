#include "tools/qxdfs/cluster.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tools/embedded_cluster.h"
#include "tools/qxdfs/commands.h"

namespace qxdfs {
namespace {

namespace fs = std::filesystem;

// Where the record lives: QXDFS_CLUSTER_HOME, or a directory of the user's own under /tmp.
std::string home() {
  const char *chosen = getenv("QXDFS_CLUSTER_HOME");
  if (chosen && *chosen) return chosen;
  return "/tmp/qxdfs-cluster-" + std::to_string(getuid());
}

std::string recordPath() {
  return home() + "/cluster";
}

std::string logPath() {
  return home() + "/cluster.log";
}

// The file that marks a directory as a cluster's own data: nothing without it is ever removed.
constexpr char kMarker[] = ".qxdfs-cluster";

// The record's directory must be the user's alone, as ssh wants its keys: another user who made
// it first could plant a record whose data directory names any directory of this user's. Made
// 0700 when missing; "" when it may be used, else why not.
std::string secureHome() {
  std::string directory = home();
  if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
    return directory + ": " + strerror(errno);
  }
  struct stat info;
  if (lstat(directory.c_str(), &info) != 0) return directory + ": " + strerror(errno);
  if (!S_ISDIR(info.st_mode) || info.st_uid != getuid() || (info.st_mode & 022)) {
    char mode[8];
    snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return directory + ": not a directory of yours alone (owner " + std::to_string(info.st_uid) +
           ", mode " + mode + "); remove it or choose another with QXDFS_CLUSTER_HOME";
  }
  return "";
}

struct Record {
  pid_t pid = -1;
  std::string uri;
  int dataNodes = 0;
  std::string directory;
};

bool readRecord(Record &record) {
  std::ifstream in(recordPath());
  return static_cast<bool>(in >> record.pid >> record.uri >> record.dataNodes >> record.directory);
}

// The launcher is still there: the process lives, is not a zombie, and is the launcher (a pid
// may have been reused).
bool launcherRuns(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/stat");
  std::string pidText, name, state;
  if (pid <= 0 || !(status >> pidText >> name >> state) || state == "Z") return false;
  std::ifstream command("/proc/" + std::to_string(pid) + "/cmdline");
  std::string words(std::istreambuf_iterator<char>(command), {});
  return words.find("qxhost.cluster.EmbeddedCluster") != std::string::npos;
}

void forget(const Record &record) {
  std::error_code ignored;
  if (!record.directory.empty() && fs::exists(record.directory + "/" + kMarker, ignored)) {
    fs::remove_all(record.directory, ignored);
  }
  fs::remove(recordPath(), ignored);
  fs::remove(logPath(), ignored);
  fs::remove(home(), ignored);  // only when empty
}

// The record of a running cluster; a stale one is cleaned up and told about.
bool running(Record &record) {
  if (!readRecord(record)) return false;
  if (launcherRuns(record.pid)) return true;
  fprintf(stderr, "qxdfs: cluster: the cluster at %s (pid %d) went away; cleaned up\n",
          record.uri.c_str(), record.pid);
  forget(record);
  return false;
}

// What the running launcher takes, and how many numbers follow each.
const std::pair<const char *, size_t> kLauncherCommands[] = {
    {"failover", 0},  {"stopnn", 1}, {"startnn", 1}, {"stopdn", 1},
    {"restartdn", 1}, {"stopnm", 1}, {"startnm", 1}};

int usage(const char *why) {
  fprintf(stderr, "qxdfs: cluster: %s\nusage: %s", why, kClusterUsage);
  return kUsage;
}

// A count option's value within its bounds; false after the usage line.
bool countOf(const std::string &option, const std::string &value, int most, int &count) {
  count = atoi(value.c_str());
  if (count >= 1 && count <= most) return true;
  usage((option + " must be 1 to " + std::to_string(most)).c_str());
  return false;
}

// The options of cluster start; false after the usage line.
bool startOptions(const std::vector<std::string> &arguments, ClusterOptions &options) {
  options.directory = home() + "/data";
  for (size_t i = 1; i < arguments.size(); i++) {
    const std::string &option = arguments[i];
    if (option == "--yarn" || option == "--ha" || option == "--secure") {
      (option == "--yarn" ? options.yarn : option == "--ha" ? options.ha : options.secure) = true;
      continue;
    }
    if (i + 1 >= arguments.size()) return usage(("missing value of " + option).c_str()), false;
    const std::string &value = arguments[++i];
    if (option == "--datanodes") {
      if (!countOf(option, value, 16, options.dataNodes)) return false;
    } else if (option == "--nodemanagers") {
      if (!countOf(option, value, 8, options.nodeManagers)) return false;
    } else if (option == "--dir") {
      options.directory = fs::absolute(value).string();
    } else {
      return usage(("unknown option " + option).c_str()), false;
    }
  }
  if (options.secure && options.yarn) return usage("--secure does not combine with --yarn"), false;
  return true;
}

std::string plural(int count, const char *what) {
  return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

int start(const std::vector<std::string> &arguments) {
  ClusterOptions options;
  if (!startOptions(arguments, options)) return kUsage;
  Record record;
  if (running(record)) {
    fprintf(stderr, "qxdfs: cluster: already running at %s (pid %d)\n", record.uri.c_str(),
            record.pid);
    return kFailed;
  }
  std::error_code error;
  if (fs::exists(options.directory) && !fs::is_empty(options.directory, error)) {
    fprintf(stderr, "qxdfs: cluster: %s: not empty (the cluster removes its directory)\n",
            options.directory.c_str());
    return kFailed;
  }
  std::string yarn =
      options.yarn ? " and YARN with " + plural(options.nodeManagers, "NodeManager") : "";
  fprintf(stderr, "qxdfs: starting an embedded %sHDFS with %s%s%s...\n",
          options.secure ? "Kerberos-secured " : "", options.ha ? "two name nodes, " : "",
          plural(options.dataNodes, "data node").c_str(), yarn.c_str());
  DetachedCluster started = startDetachedCluster(options, logPath());
  if (started.pid < 0) {
    fprintf(stderr, "qxdfs: cluster: %s\n", started.error.c_str());
    return kFailed;
  }
  std::ofstream(recordPath()) << started.pid << ' ' << started.uri << ' ' << options.dataNodes
                              << ' ' << options.directory << '\n';
  printf("%s\n", started.uri.c_str());
  return kSucceeded;
}

int status() {
  Record record;
  if (!running(record)) {
    printf("no cluster running\n");
    return kFailed;
  }
  std::string conf = record.directory + "/conf";
  printf("running at %s (pid %d, %s, directory %s)\n", record.uri.c_str(), record.pid,
         plural(record.dataNodes, "data node").c_str(), record.directory.c_str());
  std::string nameNodes = clusterInfo(conf, "namenodes");
  if (!nameNodes.empty()) printf("name nodes at %s\n", nameNodes.c_str());
  std::string resourceManager = clusterInfo(conf, "resourcemanager");
  if (!resourceManager.empty()) {
    printf("ResourceManager at %s (%s)\n", resourceManager.c_str(),
           plural(atoi(clusterInfo(conf, "nodemanagers").c_str()), "NodeManager").c_str());
  }
  std::string realm = clusterInfo(conf, "realm");
  if (!realm.empty()) {
    printf("Kerberos realm %s: krb5.conf %s\n", realm.c_str(), clusterInfo(conf, "krb5").c_str());
    for (const char *user : {"alice", "bob"}) {
      printf("  %s: keytab %s\n", clusterInfo(conf, std::string("principal.") + user).c_str(),
             clusterInfo(conf, std::string("keytab.") + user).c_str());
    }
  }
  printf("client configuration: %s\n", conf.c_str());
  return kSucceeded;
}

// A command for the running launcher (failover, stopdn 1, ...); its answer is printed.
int tellLauncher(const std::vector<std::string> &arguments, size_t numbers) {
  if (arguments.size() != 1 + numbers) {
    return usage((arguments[0] + (numbers ? " takes an index" : " takes no argument")).c_str());
  }
  if (numbers && arguments[1].find_first_not_of("0123456789") != std::string::npos) {
    return usage((arguments[0] + ": not an index: " + arguments[1]).c_str());
  }
  Record record;
  if (!running(record)) {
    fprintf(stderr, "qxdfs: cluster: no cluster running\n");
    return kFailed;
  }
  std::string line = arguments[0] + (numbers ? " " + arguments[1] : "");
  std::string answer;
  if (!commandDetachedCluster(record.directory + "/conf", line, answer)) {
    fprintf(stderr, "qxdfs: cluster: %s: %s\n", arguments[0].c_str(), answer.c_str());
    return kFailed;
  }
  printf("%s\n", answer.c_str());
  return kSucceeded;
}

int stop() {
  Record record;
  if (!running(record)) {
    fprintf(stderr, "qxdfs: cluster: no cluster running\n");
    return kFailed;
  }
  kill(record.pid, SIGTERM);  // the launcher shuts the cluster down and removes its directory
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (launcherRuns(record.pid) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (launcherRuns(record.pid)) kill(record.pid, SIGKILL);
  forget(record);
  fprintf(stderr, "qxdfs: cluster at %s stopped\n", record.uri.c_str());
  return kSucceeded;
}

}  // namespace

const char kClusterUsage[] =
    "qxdfs cluster start [--datanodes N] [--yarn [--nodemanagers N]] [--ha] [--secure]\n"
    "                           [--dir D]\n"
    "                     | status | stop\n"
    "                     | failover | stopnn N | startnn N | stopdn N | restartdn N\n"
    "                     | stopnm N | startnm N\n";

int clusterCommand(const std::vector<std::string> &arguments) {
  if (arguments.empty()) return usage("start, status or stop?");
  std::string unsafe = secureHome();
  if (!unsafe.empty()) {
    fprintf(stderr, "qxdfs: cluster: %s\n", unsafe.c_str());
    return kFailed;
  }
  if (arguments[0] == "start") return start(arguments);
  for (const auto &[name, numbers] : kLauncherCommands) {
    if (arguments[0] == name) return tellLauncher(arguments, numbers);
  }
  if (arguments.size() > 1) return usage("too many arguments");
  if (arguments[0] == "status") return status();
  if (arguments[0] == "stop") return stop();
  return usage(("unknown command " + arguments[0]).c_str());
}

RunningCluster runningCluster() {
  std::string unsafe = secureHome();
  if (!unsafe.empty()) {
    fprintf(stderr, "qxdfs: cluster: %s\n", unsafe.c_str());
    return {};
  }
  Record record;
  if (!running(record)) return {};
  return {record.uri, record.directory + "/conf"};
}

}  // namespace qxdfs
