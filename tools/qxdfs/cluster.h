// The embedded HDFS that stays: started in the background by "qxdfs cluster start", recorded,
// and used by every later --fs embedded until "qxdfs cluster stop".
#pragma once

#include <string>
#include <vector>

namespace qxdfs {

// cluster start [--datanodes N] [--dir D] | status | stop: the exit status.
int clusterCommand(const std::vector<std::string> &arguments);

// The address of the recorded cluster while it runs, else "" (a record whose cluster went away
// is cleaned up).
std::string runningCluster();

}  // namespace qxdfs
