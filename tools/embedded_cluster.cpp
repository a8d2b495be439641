#include "tools/embedded_cluster.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "hostkernel/hostkernel.h"

namespace {

constexpr int kStartTimeoutMs = 180000;

// The JDK the cluster runs on: JAVA_HOME, else the one of the java command on the PATH. The
// NodeManagers start their containers with the JAVA_HOME they inherit.
std::string javaHome() {
  const char *home = getenv("JAVA_HOME");
  if (home && *home) return home;
  char resolved[PATH_MAX];
  for (std::string directory : {"/usr/bin", "/usr/local/bin", "/bin"}) {
    if (realpath((directory + "/java").c_str(), resolved)) {
      std::string java = resolved;                                  // HOME/bin/java
      return java.substr(0, java.rfind('/', java.rfind('/') - 1));  // HOME
    }
  }
  return "";
}

std::vector<std::string> launcherCommand(const ClusterOptions &options) {
  std::vector<std::string> command = {javaHome() + "/bin/java", "-Xmx1g"};
  for (std::string &option : hostkernel::hadoopJvmOptions()) command.push_back(option);
  command.push_back("-cp");
  command.push_back(std::string(QX_LIBRARY_DIR) + "/qxhost-cluster.jar:" + QX_HADOOP_CLUSTER_DIR +
                    "/*");
  command.push_back("qxhost.cluster.EmbeddedCluster");
  command.insert(command.end(),
                 {"--datanodes", std::to_string(options.dataNodes), "--dir", options.directory});
  if (options.yarn) {
    command.insert(command.end(),
                   {"--yarn", "--nodemanagers", std::to_string(options.nodeManagers)});
  }
  if (options.ha) command.push_back("--ha");
  if (options.secure) command.push_back("--secure");
  return command;
}

// Reads a line, waiting at most the start time-out for it; false when that runs out, the
// writer went away or a signal interrupted the wait.
bool readLine(int fd, std::string &line) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  for (char c;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready = {fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
    if (read(fd, &c, 1) != 1) return false;
    if (c == '\n') return true;
    line += c;
  }
}

// Runs the launcher with its input and output on the given descriptors and its own messages in
// the log; everything it makes is its user's alone (umask 077). The pid, or -1.
pid_t spawnLauncher(std::vector<std::string> command, int input, int output, int log,
                    bool ownSession) {
  pid_t child = fork();
  if (child == 0) {
    if (ownSession) setsid();
    umask(077);
    dup2(log, STDERR_FILENO);
    dup2(input, STDIN_FILENO);
    dup2(output, STDOUT_FILENO);
    setenv("JAVA_HOME", javaHome().c_str(), 1);
    std::vector<char *> argv;
    for (std::string &word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

// Whether a process is there and not a zombie.
bool alive(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/stat");
  std::string pidText, name, state;
  return pid > 0 && (status >> pidText >> name >> state) && state != "Z";
}

// Waits, in tenths of a second, until a process is gone; whether it went in time.
bool waitGone(pid_t pid, int waitSeconds) {
  for (int tenth = 0; tenth < 10 * waitSeconds && alive(pid); tenth++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return !alive(pid);
}

// This user's processes whose command line names a directory (a path in it, or itself).
std::vector<pid_t> processesNaming(const std::string &directory) {
  std::vector<pid_t> found;
  DIR *processes = directory.empty() ? nullptr : opendir("/proc");
  if (!processes) return found;
  for (struct dirent *entry; (entry = readdir(processes)) != nullptr;) {
    pid_t pid = static_cast<pid_t>(atoi(entry->d_name));
    struct stat owner;
    std::string here = std::string("/proc/") + entry->d_name;
    if (pid <= 0 || pid == getpid() || stat(here.c_str(), &owner) != 0 ||
        owner.st_uid != getuid()) {
      continue;
    }
    std::ifstream command(here + "/cmdline");
    std::string words(std::istreambuf_iterator<char>(command), {});
    for (size_t at = 0; (at = words.find(directory, at)) != std::string::npos; at++) {
      char next = at + directory.size() < words.size() ? words[at + directory.size()] : '\0';
      if (next == '/' || next == '\0') {
        found.push_back(pid);
        break;
      }
    }
  }
  closedir(processes);
  return found;
}

// The launcher's first line: its file system's URI, or "error WHY" when it refused to start.
std::string firstLine(int output, bool &served) {
  std::string line;
  served = readLine(output, line) && line.rfind("hdfs://", 0) == 0;
  return line;
}

}  // namespace

int createPrivateFile(const std::string &path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

bool endCluster(pid_t launcher, const std::string &directory, int waitSeconds) {
  if (launcher > 0) kill(-launcher, SIGTERM);  // its own session: the group is its own
  bool ended = launcher <= 0 || waitGone(launcher, waitSeconds);
  if (!ended) {
    kill(-launcher, SIGKILL);
    kill(launcher, SIGKILL);
    waitGone(launcher, 5);
  }
  std::vector<pid_t> left = processesNaming(directory);
  for (pid_t pid : left) kill(pid, SIGTERM);
  for (pid_t pid : left) {
    if (!waitGone(pid, 2)) kill(pid, SIGKILL);
  }
  if (launcher > 0) waitpid(launcher, nullptr, WNOHANG);  // reaped, when it was a child here
  return ended;
}

LaunchingCluster launchDetachedCluster(const ClusterOptions &options, const std::string &log) {
  LaunchingCluster launching;
  int fromChild[2];
  int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int logFile = createPrivateFile(log);
  if (logFile < 0) {
    launching.error = log + ": " + strerror(errno);
  } else if (nothing < 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
    launching.error = "no pipe";
  } else {
    std::vector<std::string> command = launcherCommand(options);
    command.push_back("--detached");
    launching.pid = spawnLauncher(command, nothing, fromChild[1], logFile, true);
    close(fromChild[1]);
    launching.output = fromChild[0];
  }
  if (nothing >= 0) close(nothing);
  if (logFile >= 0) close(logFile);
  return launching;
}

DetachedCluster awaitDetachedCluster(LaunchingCluster launching, const ClusterOptions &options,
                                     const std::string &log) {
  DetachedCluster started;
  bool served = false;
  std::string line = launching.pid > 0 ? firstLine(launching.output, served) : "";
  if (launching.output >= 0) close(launching.output);
  if (served) {
    started.pid = launching.pid;
    started.uri = line;
    return started;
  }
  started.error = line.rfind("error ", 0) == 0
                      ? line.substr(6)
                      : "the cluster's launcher did not start; its log: " + log;
  endCluster(launching.pid, options.directory, 20);
  return started;
}

std::string clusterInfo(const std::string &configurationDirectory, const std::string &key) {
  std::ifstream in(configurationDirectory + "/cluster.info");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return "";
}

bool commandDetachedCluster(const std::string &configurationDirectory, const std::string &command,
                            std::string &answer) {
  int port = atoi(clusterInfo(configurationDirectory, "control").c_str());
  std::string token = clusterInfo(configurationDirectory, "token");
  if (port <= 0 || port > 65535 || token.empty()) {
    answer = "the cluster takes no commands (not started by qxdfs cluster start)";
    return false;
  }
  int channel = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string line = token + " " + command + "\n";
  std::string reply;
  bool answered = channel >= 0 &&
                  connect(channel, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                  write(channel, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
                  readLine(channel, reply);
  if (channel >= 0) close(channel);
  if (!answered) {
    answer = "the cluster does not answer on port " + std::to_string(port);
    return false;
  }
  if (reply.rfind("ok", 0) == 0) {
    answer = reply.size() > 3 ? reply.substr(3) : "";
    return true;
  }
  answer = reply.rfind("error ", 0) == 0 ? reply.substr(6) : reply;
  return false;
}

bool EmbeddedCluster::start(const ClusterOptions &given) {
  // Its log, and its data unless a directory is given, in a directory only this user may enter:
  // no name another user could plant a link at.
  char pattern[] = "/tmp/qxcluster.XXXXXX";
  if (!mkdtemp(pattern)) {
    error_ = std::string("no directory for the cluster: ") + strerror(errno);
    return false;
  }
  own_ = pattern;
  log_ = own_ + "/launcher.log";
  ClusterOptions options = given;
  if (options.directory.empty()) options.directory = own_ + "/data";
  directory_ = options.directory;
  int toChild[2], fromChild[2];
  int log = createPrivateFile(log_);
  // Close-on-exec: no later child may hold the launcher's input open after this process ends.
  if (log < 0 || pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
    error_ = log < 0 ? log_ + ": " + strerror(errno) : "no pipe";
    if (log >= 0) close(log);
    keepLog_ = log >= 0;
    stop();
    return false;
  }
  std::vector<std::string> command = launcherCommand(options);
  child_ = spawnLauncher(command, toChild[0], fromChild[1], log, false);
  close(log);
  close(toChild[0]);
  close(fromChild[1]);
  input_ = toChild[1];
  output_ = fromChild[0];
  bool served = false;
  std::string line = firstLine(output_, served);
  if (!served) {
    error_ = line.rfind("error ", 0) == 0
                 ? line.substr(6)
                 : "the cluster's launcher did not start (" + command[0] + "); its log: " + log_;
    keepLog_ = true;
    stop();
    return false;
  }
  uri_ = line;
  size_t colon = line.rfind(':');
  port_ = colon > 5 ? static_cast<uint16_t>(atoi(line.c_str() + colon + 1)) : 0;  // not "hdfs:"
  return true;
}

std::string EmbeddedCluster::info(const std::string &key) const {
  return clusterInfo(configurationDirectory(), key);
}

void EmbeddedCluster::stop() {
  if (input_ >= 0 && alive(child_)) {
    const char stopLine[] = "stop\n";
    ssize_t written = write(input_, stopLine, sizeof stopLine - 1);
    (void)written;  // the closed input stops it as well
  }
  if (input_ >= 0) close(input_);
  if (output_ >= 0) close(output_);
  input_ = output_ = -1;
  if (child_ > 0) {
    // It shuts the cluster down and removes its directory; what does not end in time is ended.
    if (!waitGone(child_, 60)) endCluster(child_, directory_, 10);
    waitpid(child_, nullptr, 0);
    child_ = -1;
  }
  if (own_.empty()) return;
  if (!keepLog_) unlink(log_.c_str());
  rmdir((own_ + "/data").c_str());  // the launcher removed what it put there
  rmdir(own_.c_str());              // kept while it holds a log to read
  own_.clear();
}

bool EmbeddedCluster::command(const std::string &line, std::string &answer) {
  std::string text = line + "\n";
  std::string reply;
  if (input_ < 0 || write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
      !readLine(output_, reply)) {
    error_ = "the HDFS launcher does not answer";
    return false;
  }
  if (reply.rfind("ok", 0) != 0) {
    error_ = reply;
    return false;
  }
  answer = reply.size() > 3 ? reply.substr(3) : "";
  return true;
}

std::vector<uint16_t> EmbeddedCluster::dataNodePorts() {
  std::string answer;
  std::vector<uint16_t> ports;
  if (!command("ports", answer)) return ports;
  for (const char *at = answer.c_str(); *at;) {
    char *end = nullptr;
    ports.push_back(static_cast<uint16_t>(strtoul(at, &end, 10)));
    if (end == at) break;
    at = end;
  }
  return ports;
}

bool EmbeddedCluster::stopDataNode(int index) {
  return command("stopdn " + std::to_string(index));
}

bool EmbeddedCluster::restartDataNode(int index) {
  return command("restartdn " + std::to_string(index));
}

bool EmbeddedCluster::stopNodeManager(int index) {
  return command("stopnm " + std::to_string(index));
}

bool EmbeddedCluster::startNodeManager(int index) {
  return command("startnm " + std::to_string(index));
}

int EmbeddedCluster::failover() {
  std::string answer;
  return command("failover", answer) ? atoi(answer.c_str() + answer.find(' ') + 1) : -1;
}

bool EmbeddedCluster::stopNameNode(int index) {
  return command("stopnn " + std::to_string(index));
}

bool EmbeddedCluster::startNameNode(int index) {
  return command("startnn " + std::to_string(index));
}

bool EmbeddedCluster::populate(const std::string &directory, int count) {
  return command("populate " + directory + " " + std::to_string(count));
}

bool EmbeddedCluster::command(const std::string &line) {
  std::string answer;
  return command(line, answer);
}
