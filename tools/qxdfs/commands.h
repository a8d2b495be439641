// The commands of qxdfs, each over the dfslink operations of one connection.
#pragma once

#include <string>
#include <vector>

#include "tools/qxdfs/session.h"

namespace qxdfs {

// What a command runs with: the session, the command line's connection and its user.
struct Shell {
  Session &session;
  hdfsFS fs;
  std::string user;
  std::string uri;  // the file system as Hadoop names it (fs.defaultFS of a map job)
};

// Exit statuses.
constexpr int kSucceeded = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

struct Command {
  const char *name;
  const char *arguments;  // as the usage shows them
  const char *summary;
  size_t least;  // arguments at least
  size_t most;   // and at most
  int (*run)(Shell &shell, const std::vector<std::string> &arguments);
};

// Every command, in the order the usage lists them.
const std::vector<Command> &commands();

}  // namespace qxdfs
