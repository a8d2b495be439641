// A real Hadoop cluster in a child process, all on loopback: the project's launcher of Hadoop's
// mini clusters (HDFS, and YARN beside it when asked). The child shuts down when asked, or by
// itself when this process ends and its input closes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// What the cluster runs.
struct ClusterOptions {
  int dataNodes = 3;
  bool yarn = false;      // a ResourceManager, NodeManagers and the job history server
  int nodeManagers = 2;   // with yarn
  bool ha = false;        // two name nodes under the logical name hdfs://qxcluster
  bool secure = false;    // Kerberos: a KDC of its own, user keytabs in the configuration
  std::string directory;  // where its data and client configuration go; empty: a new one
};

class EmbeddedCluster {
 public:
  EmbeddedCluster() = default;
  ~EmbeddedCluster() { stop(); }
  EmbeddedCluster(const EmbeddedCluster &) = delete;
  EmbeddedCluster &operator=(const EmbeddedCluster &) = delete;

  // Starts the cluster and waits until it serves; false with a reason in error().
  bool start(const ClusterOptions &options = {});
  void stop();

  // "hdfs://127.0.0.1:PORT", or "hdfs://qxcluster" with two name nodes (port 0)
  const std::string &uri() const { return uri_; }
  uint16_t port() const { return port_; }
  const std::string &error() const { return error_; }
  // The client configuration directory the launcher wrote for this cluster.
  std::string configurationDirectory() const { return directory_ + "/conf"; }
  // A fact of the cluster's conf/cluster.info ("fs", "resourcemanager", ...), or "".
  std::string info(const std::string &key) const;

  // The data nodes' transfer ports, in the cluster's order; empty on failure.
  std::vector<uint16_t> dataNodePorts();
  // Stops the data node at an index of that order, and starts it again; false on failure.
  bool stopDataNode(int index);
  bool restartDataNode(int index);
  // Stops NodeManager N; starts one in its place; false on failure.
  bool stopNodeManager(int index);
  bool startNodeManager(int index);
  // With two name nodes: the active one becomes standby (unless it is stopped) and the other
  // active; a name node stopped, and started again as a standby.
  int failover();  // the index of the name node now active, or -1
  bool stopNameNode(int index);
  bool startNameNode(int index);
  // Makes the entries e0 ... eN-1 in a directory: every tenth a directory, the others empty.
  bool populate(const std::string &directory, int count);

 private:
  // Sends a command line to the launcher; its answer after "ok ", or false with error().
  bool command(const std::string &line, std::string &answer);
  // The same for a command whose answer says nothing but ok.
  bool command(const std::string &line);

  pid_t child_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string uri_;
  uint16_t port_ = 0;
  std::string directory_;
  std::string own_;  // a directory of this process's own: the log, and the data unless given
  std::string error_;
  std::string log_;  // the launcher's own messages
  bool keepLog_ = false;
};

// A cluster that outlives the process that started it: in a session of its own, with its data
// in a given directory, until it is sent SIGTERM (it then removes the directory). Started in two
// steps, so that the caller can record the launcher before waiting for it.
struct LaunchingCluster {
  pid_t pid = -1;
  int output = -1;    // where its first line comes
  std::string error;  // why it was not launched
};
LaunchingCluster launchDetachedCluster(const ClusterOptions &options, const std::string &log);

struct DetachedCluster {
  pid_t pid = -1;
  std::string uri;    // the file system's URI once it serves
  std::string error;  // why it did not start
};
// Waits, at most three minutes, for a launched cluster to serve. A launcher that does not (it
// failed, the wait ran out, or a signal interrupted it) is ended with its cluster.
DetachedCluster awaitDetachedCluster(LaunchingCluster launching, const ClusterOptions &options,
                                     const std::string &log);

// Ends a cluster: SIGTERM to its launcher's process group (the launcher shuts the cluster down
// and removes its directory), SIGKILL to what is left after a bound, and the same for every
// process of this user whose command line names the cluster's directory (the containers of
// its jobs, in sessions of their own). Whether the launcher had ended by itself in time.
bool endCluster(pid_t launcher, const std::string &directory, int waitSeconds);

// A file made anew for this user alone (0600, O_EXCL, never through a link); -1 with errno.
int createPrivateFile(const std::string &path);

// A fact of a cluster.info file in a client configuration directory, or "".
std::string clusterInfo(const std::string &configurationDirectory, const std::string &key);

// Sends a command ("failover", "stopdn 1", ...) to the detached cluster of a client
// configuration directory: true with the answer after "ok ", or false with why.
bool commandDetachedCluster(const std::string &configurationDirectory, const std::string &command,
                            std::string &answer);
