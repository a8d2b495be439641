// A real HDFS in a child process: the project's MiniDFSCluster launcher on loopback. The child
// shuts down when asked, or by itself when this process ends and its input closes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class EmbeddedHdfs {
 public:
  EmbeddedHdfs() = default;
  ~EmbeddedHdfs() { stop(); }
  EmbeddedHdfs(const EmbeddedHdfs &) = delete;
  EmbeddedHdfs &operator=(const EmbeddedHdfs &) = delete;

  // Starts the cluster and waits until it serves; false with a reason in error().
  bool start(int dataNodes = 3);
  void stop();

  const std::string &uri() const { return uri_; }  // "hdfs://127.0.0.1:PORT"
  uint16_t port() const { return port_; }
  const std::string &error() const { return error_; }

  // The data nodes' transfer ports, in the cluster's order; empty on failure.
  std::vector<uint16_t> dataNodePorts();
  // Stops the data node at an index of that order, and starts it again; false on failure.
  bool stopDataNode(int index);
  bool restartDataNode(int index);
  // Makes the entries e0 ... eN-1 in a directory: every tenth a directory, the others empty.
  bool populate(const std::string &directory, int count);

 private:
  // Sends a command line to the launcher; its answer after "ok ", or false with error().
  bool command(const std::string &line, std::string &answer);

  pid_t child_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string uri_;
  uint16_t port_ = 0;
  std::string error_;
  std::string log_;  // the launcher's own messages
  bool keepLog_ = false;
};

// A cluster that outlives the process that started it: in a session of its own, with its data
// in a given directory, until it is sent SIGTERM (it then removes the directory).
struct DetachedHdfs {
  pid_t pid = -1;
  std::string uri;    // "hdfs://127.0.0.1:PORT" once it serves
  std::string error;  // why it did not start
};
DetachedHdfs startDetachedHdfs(int dataNodes, const std::string &directory, const std::string &log);
