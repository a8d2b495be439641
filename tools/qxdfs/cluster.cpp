#include "tools/qxdfs/cluster.h"

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>

#include "tools/embedded_cluster.h"
#include "tools/qxdfs/commands.h"

namespace qxdfs {
namespace {

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
// What the record says of a cluster whose launcher has not served yet.
constexpr char kStarting[] = "starting";
// How long a start may wait for another start or stop to end.
constexpr int kLockWaitSeconds = 240;

// The record's directory must be the user's alone, as ssh wants its keys: another user who made
// it first could plant a record whose data directory names any directory of this user's, read
// the control token or the keytabs. Made 0700 when missing; "" when it may be used, else why
// not.
std::string secureHome() {
  std::string directory = home();
  if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
    return directory + ": " + strerror(errno);
  }
  struct stat info;
  if (lstat(directory.c_str(), &info) != 0) return directory + ": " + strerror(errno);
  if (!S_ISDIR(info.st_mode) || info.st_uid != getuid() || (info.st_mode & 077)) {
    char mode[8];
    snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return directory + ": not a directory of yours alone (owner " + std::to_string(info.st_uid) +
           ", mode " + mode + "); remove it or choose another with QXDFS_CLUSTER_HOME";
  }
  return "";
}

// Held while a start or a stop runs, so that two never break each other: the lock of a file in
// the record's directory, waited for a while.
class HomeLock {
 public:
  HomeLock() {
    descriptor_ = open((home() + "/lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    for (int tenth = 0; descriptor_ >= 0 && tenth < 10 * kLockWaitSeconds; tenth++) {
      if (flock(descriptor_, LOCK_EX | LOCK_NB) == 0) {
        held_ = true;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  ~HomeLock() {
    if (descriptor_ >= 0) close(descriptor_);  // the lock goes with it
  }
  HomeLock(const HomeLock &) = delete;
  HomeLock &operator=(const HomeLock &) = delete;
  bool held() const { return held_; }

 private:
  int descriptor_ = -1;
  bool held_ = false;
};

struct Record {
  pid_t pid = -1;
  std::string uri;  // kStarting until the launcher serves
  int dataNodes = 0;
  std::string directory;
};

bool readRecord(Record &record) {
  std::ifstream in(recordPath());
  return static_cast<bool>(in >> record.pid >> record.uri >> record.dataNodes >> record.directory);
}

// Replaces the record in one step: a reader finds the old one or the new one.
bool writeRecord(const Record &record) {
  std::string temporary = home() + "/.cluster-XXXXXX";
  int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) return false;
  std::string line = std::to_string(record.pid) + ' ' + record.uri + ' ' +
                     std::to_string(record.dataNodes) + ' ' + record.directory + '\n';
  bool written = write(descriptor, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  written = close(descriptor) == 0 && written;
  if (written && rename(temporary.c_str(), recordPath().c_str()) == 0) return true;
  unlink(temporary.c_str());
  return false;
}

// The recorded launcher is still there: a live process of this user's, and the launcher of this
// record's cluster (a pid may have been reused by anything).
bool launcherRuns(const Record &record) {
  std::string process = "/proc/" + std::to_string(record.pid);
  std::ifstream status(process + "/stat");
  std::string pidText, name, state;
  struct stat owner;
  if (record.pid <= 0 || !(status >> pidText >> name >> state) || state == "Z" ||
      stat(process.c_str(), &owner) != 0 || owner.st_uid != getuid()) {
    return false;
  }
  std::ifstream command(process + "/cmdline");
  std::string words(std::istreambuf_iterator<char>(command), {});
  return words.find("qxhost.cluster.EmbeddedCluster") != std::string::npos &&
         words.find(std::string("--dir") + '\0' + record.directory + '\0') != std::string::npos;
}

int removeEntry(const char *path, const struct stat *, int, struct FTW *) {
  ::remove(path);
  return 0;
}

// Removes a directory with everything below it, when it carries the marker: depth first, links
// removed as links, never leaving the directory's file system.
void removeMarked(const std::string &directory) {
  std::string marker = directory + "/" + kMarker;
  struct stat info;
  if (directory.empty() || lstat(marker.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  nftw(directory.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

// Forgets a cluster: its data (marked), its record, and its log, which is kept under another
// name when the cluster went away by itself and it says something (the only clue of why); the
// kept log's path, or "".
std::string forget(const Record &record, bool wentAway) {
  removeMarked(record.directory);
  unlink(recordPath().c_str());
  struct stat log;
  std::string kept = logPath() + "." + std::to_string(time(nullptr));
  if (wentAway && stat(logPath().c_str(), &log) == 0 && log.st_size > 0 &&
      rename(logPath().c_str(), kept.c_str()) == 0) {
    return kept;
  }
  unlink(logPath().c_str());
  return "";
}

// The record of a running (or starting) cluster; a stale one is cleaned up and told about.
bool running(Record &record) {
  if (!readRecord(record)) return false;
  if (launcherRuns(record)) return true;
  endCluster(-1, record.directory, 0);  // what its jobs left running
  std::string log = forget(record, true);
  fprintf(stderr, "qxdfs: cluster: the cluster at %s (pid %d) went away; cleaned up%s\n",
          record.uri.c_str(), record.pid, log.empty() ? "" : (" (its log: " + log + ")").c_str());
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

// A path made absolute against the current directory, as the launcher will see it.
std::string absolute(const std::string &path) {
  char directory[PATH_MAX];
  if (path.empty() || path[0] == '/' || !getcwd(directory, sizeof directory)) return path;
  return std::string(directory) + "/" + path;
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
      options.directory = absolute(value);
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

// A start interrupted (Ctrl-C, SIGTERM, SIGHUP) ends the launcher instead of leaving it behind.
volatile sig_atomic_t startInterrupted = 0;

void noteInterrupt(int signal) {
  startInterrupted = signal;
}

class InterruptibleStart {
 public:
  InterruptibleStart() {
    struct sigaction action = {};
    action.sa_handler = noteInterrupt;
    action.sa_flags = SA_RESETHAND;  // no SA_RESTART: the wait for the launcher ends
    for (size_t i = 0; i < 3; i++) sigaction(kSignals[i], &action, &before_[i]);
  }
  ~InterruptibleStart() {
    for (size_t i = 0; i < 3; i++) sigaction(kSignals[i], &before_[i], nullptr);
  }
  InterruptibleStart(const InterruptibleStart &) = delete;
  InterruptibleStart &operator=(const InterruptibleStart &) = delete;

 private:
  static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction before_[3];
};

int start(const std::vector<std::string> &arguments) {
  ClusterOptions options;
  if (!startOptions(arguments, options)) return kUsage;
  HomeLock lock;
  if (!lock.held()) {
    fprintf(stderr, "qxdfs: cluster: another start or stop of the cluster did not end\n");
    return kFailed;
  }
  Record record;
  if (running(record)) {
    fprintf(stderr, "qxdfs: cluster: already running at %s (pid %d)\n", record.uri.c_str(),
            record.pid);
    return kFailed;
  }
  removeMarked(home() + "/data");  // what a launcher ended without its record left
  unlink(logPath().c_str());
  std::string yarn =
      options.yarn ? " and YARN with " + plural(options.nodeManagers, "NodeManager") : "";
  fprintf(stderr, "qxdfs: starting an embedded %sHDFS with %s%s%s...\n",
          options.secure ? "Kerberos-secured " : "", options.ha ? "two name nodes, " : "",
          plural(options.dataNodes, "data node").c_str(), yarn.c_str());
  InterruptibleStart interruptible;
  LaunchingCluster launching = launchDetachedCluster(options, logPath());
  if (launching.pid < 0) {
    fprintf(stderr, "qxdfs: cluster: %s\n", launching.error.c_str());
    return kFailed;
  }
  // Recorded before it is waited for: a start that is itself stopped leaves a launcher that
  // status and stop can see.
  record = {launching.pid, kStarting, options.dataNodes, options.directory};
  writeRecord(record);
  DetachedCluster started = awaitDetachedCluster(launching, options, logPath());
  if (started.pid < 0) {
    forget(record, !startInterrupted);  // its log tells why it failed
    fprintf(stderr, "qxdfs: cluster: %s\n",
            startInterrupted ? (std::string("interrupted (") + strsignal(startInterrupted) +
                                "); the cluster was stopped")
                                   .c_str()
                             : started.error.c_str());
    return startInterrupted ? 128 + startInterrupted : kFailed;
  }
  record.uri = started.uri;
  writeRecord(record);
  printf("%s\n", started.uri.c_str());
  return kSucceeded;
}

int status() {
  Record record;
  if (!running(record)) {
    printf("no cluster running\n");
    return kFailed;
  }
  if (record.uri == kStarting) {
    printf("starting (pid %d, directory %s)\n", record.pid, record.directory.c_str());
    return kSucceeded;
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
  if (!running(record) || record.uri == kStarting) {
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
  HomeLock lock;
  if (!lock.held()) {
    fprintf(stderr, "qxdfs: cluster: another start or stop of the cluster did not end\n");
    return kFailed;
  }
  Record record;
  if (!running(record)) {
    fprintf(stderr, "qxdfs: cluster: no cluster running\n");
    return kFailed;
  }
  // SIGTERM first: the launcher shuts the cluster down and removes its directory.
  bool inTime = endCluster(record.pid, record.directory, 60);
  forget(record, false);
  fprintf(stderr, "qxdfs: cluster at %s stopped%s\n", record.uri.c_str(),
          inTime ? "" : " (its launcher did not end within a minute and was killed)");
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
  RunningCluster cluster;
  cluster.error = secureHome();
  Record record;
  if (!cluster.error.empty() || !running(record)) return cluster;
  if (record.uri == kStarting) {
    cluster.error = "the cluster (pid " + std::to_string(record.pid) + ") is still starting";
    return cluster;
  }
  cluster.uri = record.uri;
  cluster.configuration = record.directory + "/conf";
  return cluster;
}

}  // namespace qxdfs
