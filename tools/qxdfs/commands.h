// The commands of qxdfs, each over the dfslink operations of one connection.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "tools/qxdfs/session.h"

namespace qxdfs {

// What a command runs with: the session, the command line's connection and its user.
struct Shell {
  Session &session;
  hdfsFS fs;
  std::string user;
  std::string uri;        // the file system as Hadoop names it (fs.defaultFS of a map job)
  bool json = false;      // one JSON document instead of text
  bool progress = false;  // a progress line for long copies (stderr is a terminal)
  std::string flags;      // the running command's one-letter options
  int threads = 0;        // -t N of a tree copy (0: one for each core)
  bool flag(char letter) const { return flags.find(letter) != std::string::npos; }
};

// Hadoop's shell spells some options as words; each stands for one letter of the flags.
constexpr char kSkipTrash = '~';  // rm -skipTrash

// The cause of a failure on a path that is not there.
constexpr char kNoSuchPath[] = "No such file or directory";

// hdfsGetPathInfo's status for a path that is not there (no report comes with it).
constexpr uint32_t kPathMissing = 0x86BFF80D;

// A walk below this depth is taken for a loop of links, not a tree.
constexpr int kDeepest = 256;

// Exit statuses.
constexpr int kSucceeded = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
// Standard output's reader went away (a pipe to head): as a process ended by SIGPIPE.
constexpr int kOutputClosed = 128 + 13;

// Which of a command's operands are paths, for the patterns among them.
enum class Operands {
  kNone,
  kPaths,           // every one (after the fixed ones)
  kFirstPath,       // the first (find PATH -name PATTERN)
  kLocations,       // sources and a destination, each perhaps of its own file system (cp, mv)
  kLocalsThenPath,  // local sources, a destination of the file system (put, appendToFile)
  kPathsThenLocal,  // sources of the file system, a local destination (get, getmerge)
};

struct Command {
  const char *name;
  const char *arguments;  // as the usage shows them
  const char *summary;
  const char *flags;  // the one-letter options it takes (kSkipTrash and the like for words)
  size_t least;       // arguments at least
  size_t most;        // and at most
  int (*run)(Shell &shell, const std::vector<std::string> &arguments);
  const char *details;    // for help COMMAND
  bool textList = false;  // its arguments become a text list of the Java tools: none may be empty
  Operands operands = Operands::kNone;
  size_t fixed = 0;  // operands before the paths (chmod's MODE)
};

// Every command, in the order the usage lists them.
const std::vector<Command> &commands();
const Command *findCommand(const std::string &name);

// An operation over each path argument; the worst exit status.
template <typename Each>
int forEach(const std::vector<std::string> &paths, Each each) {
  int status = kSucceeded;
  for (const std::string &path : paths) status = std::max(status, each(path));
  return status;
}

// A size in bytes, or with -h in K, M, G.
std::string sizeText(const Shell &shell, int64_t bytes);

// The commands that move file contents (transfer.cpp).
int cat(Shell &shell, const std::vector<std::string> &arguments);
int get(Shell &shell, const std::vector<std::string> &arguments);
int put(Shell &shell, const std::vector<std::string> &arguments);
int copy(Shell &shell, const std::vector<std::string> &arguments);
int move(Shell &shell, const std::vector<std::string> &arguments);
// The commands that describe what is there (survey.cpp).
int diskUsage(Shell &shell, const std::vector<std::string> &arguments);
int countPaths(Shell &shell, const std::vector<std::string> &arguments);
int testPath(Shell &shell, const std::vector<std::string> &arguments);
int checksum(Shell &shell, const std::vector<std::string> &arguments);
int findPaths(Shell &shell, const std::vector<std::string> &arguments);
int statFormatted(Shell &shell, const std::string &format, const std::vector<std::string> &paths);
int removeDirectory(Shell &shell, const std::vector<std::string> &paths);
// The stream commands beyond cat (transfer.cpp).
int head(Shell &shell, const std::vector<std::string> &arguments);
int tail(Shell &shell, const std::vector<std::string> &arguments);
int text(Shell &shell, const std::vector<std::string> &arguments);
int appendToFile(Shell &shell, const std::vector<std::string> &arguments);
int getMerge(Shell &shell, const std::vector<std::string> &arguments);
// A map job of the engine's entry class (mapjob.cpp).
int mapJob(Shell &shell, const std::vector<std::string> &arguments);
// The main job (main.cpp).
int demo(Shell &shell, const std::vector<std::string> &arguments);

// A text list of the Java tools: pointers to the texts and an empty text at the end.
std::vector<const char *> textList(std::vector<std::string>::const_iterator first,
                                   std::vector<std::string>::const_iterator last);

// The exit status of an operation; a failure is told in one line, by its reports or, when the
// operation reported nothing (Hadoop answered false), by the cause given.
int done(Shell &shell, bool succeeded, const char *command, const std::string &subject,
         const char *quietCause = "failed");

// What a file system says is at a path.
enum class Found {
  kThere,    // its information was given (back with release)
  kMissing,  // nothing is there
  kUnknown,  // the file system could not say; its reports are kept for the failure line
};
Found lookup(Shell &shell, hdfsFS fs, const std::string &path, hdfsPathInfo *&info,
             QXMessageContext *context = nullptr);

// A path's information; NULL after the failure's line ("No such file or directory" when it is
// missing). Given back with release.
hdfsPathInfo *infoOf(Shell &shell, const char *command, const std::string &path);
// The same without a failure line: NULL when the path is missing. By default on the command
// line's connection, reporting to the session.
hdfsPathInfo *peek(Shell &shell, const std::string &path, hdfsFS fs = nullptr,
                   QXMessageContext *context = nullptr);
void release(Shell &shell, hdfsPathInfo *entries, int32_t count);
// The connection of a path that may name its own file system; NULL after the failure's line.
hdfsFS connectionOf(Shell &shell, const Location &location);
// The local file system, for the local side of put and get.
hdfsFS localConnection(Shell &shell);
// A directory's entries in name order (count 0 and NULL for an empty one); false after the
// failure's line. By default on the command line's connection.
bool listOf(Shell &shell, const char *command, const std::string &path, hdfsPathInfo *&entries,
            int32_t &count, hdfsFS fs = nullptr);

}  // namespace qxdfs
