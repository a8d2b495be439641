// The commands of qxdfs: Hadoop's shell commands for files, spelt with their dash or without it,
// and qxdfs's own, each over the dfslink operations of the command line's connection. What they
// print where a script reads it, their failures and their exit statuses are Hadoop's shell's.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tools/qxdfs/session.h"

namespace qxdfs {

struct Command;
struct Item;

// What a command runs with: the session, the command line's connection and its user, and the
// running command with its options and the failures it told.
struct Shell {
  Shell(Session &session, hdfsFS fs, std::string user, std::string uri)
      : session(session), fs(fs), user(std::move(user)), uri(std::move(uri)) {}

  Session &session;
  hdfsFS fs;
  std::string user;
  std::string uri;        // the file system as Hadoop names it (fs.defaultFS of a map job)
  bool json = false;      // one JSON document instead of text
  bool progress = false;  // a progress line for long copies (stderr is a terminal)
  const Command *command = nullptr;
  std::map<std::string, std::string> options;  // the running command's ("" for a flag)
  int errors = 0;                              // the failures it told
  int threads = 0;                             // -t N of a copy (0: one for each core)

  bool flag(const char *option) const { return options.count(option) != 0; }
  std::string value(const char *option) const {
    auto found = options.find(option);
    return found == options.end() ? "" : found->second;
  }
  const char *name() const;  // the running command's
};

// Exit statuses, as Hadoop's shell gives them (-1 for usage), and qxdfs's own.
constexpr int kSucceeded = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 255;
// Standard output's reader went away (a pipe to head): as a process ended by SIGPIPE.
constexpr int kOutputClosed = 128 + 13;

// The causes of Hadoop's shell for what is found at a path.
constexpr char kNoSuchPath[] = "No such file or directory";
constexpr char kIsDirectory[] = "Is a directory";
constexpr char kIsNotDirectory[] = "Is not a directory";
constexpr char kExists[] = "File exists";

// hdfsGetPathInfo's status for a path that is not there (no report comes with it).
constexpr uint32_t kPathMissing = 0x86BFF80D;

// A walk below this depth is taken for a loop of links, not a tree.
constexpr int kDeepest = 256;

struct Command {
  const char *name;
  const char *usage;    // as Hadoop's shell shows it, after the command's name
  const char *summary;  // one line for the list of commands
  // The options it takes, separated by spaces, a value after those ending in '=' ("p d t= q=").
  const char *options;
  size_t least;  // operands at least
  size_t most;   // and at most
  int (*run)(Shell &shell, std::vector<std::string> &operands);
  const char *details = "";  // for help COMMAND
  bool textList = false;     // its operands become a text list of the Java tools: none may be empty
};

// Every command, in the order the usage lists them.
const std::vector<Command> &commands();
// A command by its name, with or without the dash.
const Command *findCommand(const std::string &name);
// "-NAME USAGE".
std::string usageLine(const Command &command);

// A usage error of the running command: "-NAME: WHY" and its usage line on stderr; kUsage.
int usageError(const Command &command, const std::string &why);

// Takes a command's options off the front of its arguments as Hadoop's shell does (each option a
// word of its own; "-" and the first word without a dash end them, "--" is dropped and ends them)
// and checks the number of operands left; "" or why they cannot be taken ("Illegal option -x",
// "Not enough arguments: expected 1 but got 0").
std::string takeOptions(const Command &command, std::vector<std::string> &arguments,
                        std::map<std::string, std::string> &options);

// Prints "COMMAND: MESSAGE" on stderr.
void tell(const char *command, const std::string &message);
// The same for the running command, counted as one of its failures.
void displayError(Shell &shell, const std::string &message);
// A path as Hadoop's messages quote it: "`PATH'"; with its reason: "`PATH': REASON".
std::string quoted(const std::string &path);
std::string pathError(const std::string &path, const std::string &reason);
// A failure of the running command on a path, told by the modules' reports (the Java exception's
// message) or, when they reported nothing, as "`SHOWN': QUIETCAUSE".
void displayFailure(Shell &shell, const std::string &shown,
                    const char *quietCause = "Input/output error");
// The exit status of the running command: 1 once it told a failure.
inline int statusOf(const Shell &shell) {
  return shell.errors ? kFailed : kSucceeded;
}

// The exit status of an operation; a failure is told in one line, by its reports or, when the
// operation reported nothing (Hadoop answered false), by the cause given.
int done(Shell &shell, bool succeeded, const char *command, const std::string &subject,
         const char *quietCause = "Input/output error");

// Every argument expanded before any is acted on, as Hadoop's shell does; an argument that
// matches nothing is told (unless `quietMissing`) and skipped. False when an argument's file
// system cannot be had: nothing may be done, and `status` is the command's (a usage error when
// the argument cannot name a file system).
bool expandAll(Shell &shell, const std::vector<std::string> &arguments, std::vector<Item> &items,
               int &status, bool quietMissing = false);

// What a command does with a path it was given.
using ItemAction = std::function<void(Item &item)>;
// Each argument expanded as a pattern, each of its items in turn to `there`; an argument that
// names nothing is "`ARG': No such file or directory" unless `missing` takes it. The command's
// status.
int eachItem(Shell &shell, const std::vector<std::string> &arguments, const ItemAction &there,
             const ItemAction &missing = nullptr);
// What a directory holds, each entry to `action` in path order, and with `deeper` what each
// directory below holds after the directory itself; depth bounded.
void eachBelow(Shell &shell, const Item &directory, const ItemAction &action, bool deeper,
               int depth = 0);

// What a file system says is at a path.
enum class Found {
  kThere,    // its information was given (back with release)
  kMissing,  // nothing is there
  kUnknown,  // the file system could not say; its reports are kept for the failure line
};
Found lookup(Shell &shell, hdfsFS fs, const std::string &path, hdfsPathInfo *&info,
             QXMessageContext *context = nullptr);
// The same without a failure line: NULL when the path is missing. By default on the command
// line's connection, reporting to the session.
hdfsPathInfo *peek(Shell &shell, const std::string &path, hdfsFS fs = nullptr,
                   QXMessageContext *context = nullptr);
void release(Shell &shell, hdfsPathInfo *entries, int32_t count);
// The local file system, for the local side of put and get.
hdfsFS localConnection(Shell &shell);
// A directory's entries in name order (count 0 and NULL for an empty one); false after the
// failure's line. By default on the command line's connection.
bool listOf(Shell &shell, const char *command, const std::string &path, hdfsPathInfo *&entries,
            int32_t &count, hdfsFS fs = nullptr);

// A size in bytes, or with -h as Hadoop's shell shows it ("1.5 K").
std::string sizeText(const Shell &shell, int64_t bytes);

// A text list of the Java tools: pointers to the texts and an empty text at the end.
std::vector<const char *> textList(std::vector<std::string>::const_iterator first,
                                   std::vector<std::string>::const_iterator last);

// The command families (one file each).
// listing.cpp: what is there
int list(Shell &shell, std::vector<std::string> &operands);
int stat(Shell &shell, std::vector<std::string> &operands);
int testPath(Shell &shell, std::vector<std::string> &operands);
int findPaths(Shell &shell, std::vector<std::string> &operands);
int checksum(Shell &shell, std::vector<std::string> &operands);
// usage.cpp: how much is there
int diskUsage(Shell &shell, std::vector<std::string> &operands);
int diskFree(Shell &shell, std::vector<std::string> &operands);
int countPaths(Shell &shell, std::vector<std::string> &operands);
// namespace.cpp: making, removing and changing paths
int makeDirectory(Shell &shell, std::vector<std::string> &operands);
int remove(Shell &shell, std::vector<std::string> &operands);
int removeDirectory(Shell &shell, std::vector<std::string> &operands);
int expunge(Shell &shell, std::vector<std::string> &operands);
int touchZero(Shell &shell, std::vector<std::string> &operands);
int touch(Shell &shell, std::vector<std::string> &operands);
int truncate(Shell &shell, std::vector<std::string> &operands);
int setReplication(Shell &shell, std::vector<std::string> &operands);
int changeMode(Shell &shell, std::vector<std::string> &operands);
int changeOwner(Shell &shell, std::vector<std::string> &operands);
int changeGroup(Shell &shell, std::vector<std::string> &operands);
// attributes.cpp: ACLs, extended attributes, snapshots
int getAcl(Shell &shell, std::vector<std::string> &operands);
int setAcl(Shell &shell, std::vector<std::string> &operands);
int getAttribute(Shell &shell, std::vector<std::string> &operands);
int setAttribute(Shell &shell, std::vector<std::string> &operands);
int createSnapshot(Shell &shell, std::vector<std::string> &operands);
int deleteSnapshot(Shell &shell, std::vector<std::string> &operands);
int renameSnapshot(Shell &shell, std::vector<std::string> &operands);
// transfer.cpp: the commands that copy and move files
int put(Shell &shell, std::vector<std::string> &operands);
int moveFromLocal(Shell &shell, std::vector<std::string> &operands);
int get(Shell &shell, std::vector<std::string> &operands);
int moveToLocal(Shell &shell, std::vector<std::string> &operands);
int copy(Shell &shell, std::vector<std::string> &operands);
int move(Shell &shell, std::vector<std::string> &operands);
int appendToFile(Shell &shell, std::vector<std::string> &operands);
int getMerge(Shell &shell, std::vector<std::string> &operands);
// display.cpp: the commands that print files
int cat(Shell &shell, std::vector<std::string> &operands);
int head(Shell &shell, std::vector<std::string> &operands);
int tail(Shell &shell, std::vector<std::string> &operands);
int text(Shell &shell, std::vector<std::string> &operands);
// engine.cpp: what qxdfs adds: the working directory, blocks, the Java tools
int workingDirectory(Shell &shell, std::vector<std::string> &operands);
int changeDirectory(Shell &shell, std::vector<std::string> &operands);
int blocks(Shell &shell, std::vector<std::string> &operands);
int compileJava(Shell &shell, std::vector<std::string> &operands);
int runJar(Shell &shell, std::vector<std::string> &operands);
int mapJob(Shell &shell, std::vector<std::string> &operands);  // mapjob.cpp
int demo(Shell &shell, std::vector<std::string> &operands);    // main.cpp

}  // namespace qxdfs
