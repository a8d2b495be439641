// The embedded HDFS that stays: started in the background by "qxdfs cluster start", recorded,
// and used by every later --fs embedded until "qxdfs cluster stop".
#pragma once

#include <string>
#include <vector>

namespace qxdfs {

// "qxdfs cluster ...": its synopsis, and the exit status of one.
extern const char kClusterUsage[];
int clusterCommand(const std::vector<std::string> &arguments);

// The recorded cluster while it runs: its file system's address and its client configuration
// directory; empty when none runs (a record whose cluster went away is cleaned up), with why
// when one may be recorded but cannot be used (the record's directory is not the user's alone,
// the cluster is still starting).
struct RunningCluster {
  std::string uri;
  std::string configuration;
  std::string error;
};
RunningCluster runningCluster();

}  // namespace qxdfs
