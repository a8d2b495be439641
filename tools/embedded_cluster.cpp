#include "tools/embedded_cluster.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
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

// Reads a line, waiting at most the start time-out for each byte.
bool readLine(int fd, std::string &line) {
  char c;
  while (true) {
    pollfd ready = {fd, POLLIN, 0};
    if (poll(&ready, 1, kStartTimeoutMs) <= 0) return false;
    if (read(fd, &c, 1) != 1) return false;
    if (c == '\n') return true;
    line += c;
  }
}

// Runs the launcher with its input and output on the given descriptors and its own messages in
// the log; the pid, or -1.
pid_t spawnLauncher(std::vector<std::string> command, int input, int output, const std::string &log,
                    bool ownSession) {
  pid_t child = fork();
  if (child == 0) {
    if (ownSession) setsid();
    int logFile = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (logFile >= 0) dup2(logFile, STDERR_FILENO);
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

}  // namespace

DetachedCluster startDetachedCluster(const ClusterOptions &options, const std::string &log) {
  DetachedCluster started;
  int fromChild[2];
  int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (nothing < 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
    started.error = "no pipe";
    if (nothing >= 0) close(nothing);
    return started;
  }
  std::vector<std::string> command = launcherCommand(options);
  command.push_back("--detached");
  started.pid = spawnLauncher(command, nothing, fromChild[1], log, true);
  close(nothing);
  close(fromChild[1]);
  std::string line;
  bool ready = started.pid > 0 && readLine(fromChild[0], line) && line.rfind("hdfs://", 0) == 0;
  close(fromChild[0]);
  if (ready) {
    started.uri = line;
  } else {
    started.error = "the cluster's launcher did not start; its log: " + log;
    if (started.pid > 0) {
      kill(started.pid, SIGKILL);
      waitpid(started.pid, nullptr, 0);
    }
    started.pid = -1;
  }
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
  int toChild[2], fromChild[2];
  // Close-on-exec: no later child may hold the launcher's input open after this process ends.
  if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
    error_ = "no pipe";
    return false;
  }
  ClusterOptions options = given;
  if (options.directory.empty()) {
    char pattern[] = "/tmp/qxcluster.XXXXXX";
    if (!mkdtemp(pattern)) {
      error_ = "no directory for the cluster";
      return false;
    }
    options.directory = pattern;
    ownDirectory_ = true;
  }
  directory_ = options.directory;
  std::vector<std::string> command = launcherCommand(options);
  log_ = "/tmp/qxcluster-" + std::to_string(getpid()) + "-" + std::to_string(toChild[1]) + ".log";
  child_ = spawnLauncher(command, toChild[0], fromChild[1], log_, false);
  close(toChild[0]);
  close(fromChild[1]);
  input_ = toChild[1];
  output_ = fromChild[0];
  std::string line;
  bool ready = readLine(output_, line) && line.rfind("hdfs://", 0) == 0;
  if (!ready) {
    error_ = "the cluster's launcher did not start (" + command[0] + "); its log: " + log_;
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
  bool running = child_ > 0 && waitpid(child_, nullptr, WNOHANG) == 0;
  if (!running) child_ = -1;
  if (input_ >= 0 && running) {
    const char stopLine[] = "stop\n";
    ssize_t written = write(input_, stopLine, sizeof stopLine - 1);
    (void)written;  // the closed input stops it as well
  }
  if (input_ >= 0) close(input_);
  if (output_ >= 0) close(output_);
  input_ = output_ = -1;
  if (child_ > 0) {
    waitpid(child_, nullptr, 0);
    child_ = -1;
  }
  if (!log_.empty() && !keepLog_) unlink(log_.c_str());
  if (ownDirectory_) rmdir(directory_.c_str());  // the launcher removed what it put there
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
