// What every command that moves bytes shares: interruption, the progress line, standard output
// and the loop that moves bytes from a reader to a writer.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "tools/qxdfs/commands.h"

namespace qxdfs {

// While one lives, Ctrl-C and termination requests (SIGINT, SIGTERM, SIGHUP) are noted instead of
// ending the process: the copying loops stop at their next chunk and remove what they made. A
// second signal ends the process at once.
class Interruptible {
 public:
  Interruptible();
  ~Interruptible();
  Interruptible(const Interruptible &) = delete;
  Interruptible &operator=(const Interruptible &) = delete;

 private:
  struct sigaction before_[3];  // SIGINT, SIGTERM, SIGHUP as they were
};

// The signal that interrupted the command, or 0.
int interruption();
// One line for an interrupted command; its exit status, 128 + the signal.
int interrupted(const char *command, const std::string &subject);

// One redrawn line on stderr: bytes done, rate, time left. Drawn only for copies of a few MiB
// and more when stderr is a terminal; cleared when the copy ends.
class Progress {
 public:
  Progress(const Shell &shell, const std::string &name, int64_t total);
  ~Progress();
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;
  void add(int64_t bytes) { reach(done_ + bytes); }
  void reach(int64_t done);

 private:
  bool shown_;
  std::string name_;
  int64_t total_;
  int64_t done_ = 0;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), drawnAt_;
};

// Reads up to size bytes: how many, 0 at the end, -1 on a failure.
using Reader = std::function<int64_t(char *buffer, int64_t size)>;
// Writes all size bytes; false on a failure.
using Writer = std::function<bool(const char *buffer, int64_t size)>;

// A local descriptor; a failure's cause (strerror) goes to cause. A pipe or a terminal is waited
// on in short steps, so that an interruption is seen while nothing comes.
Reader localReader(int descriptor, std::string &cause);
Writer localWriter(int descriptor, std::string &cause);
// An open file of a connection; a failure is in the session's reports.
Reader remoteReader(Shell &shell, hdfsFS fs, FileHandle *file);
Writer remoteWriter(Shell &shell, hdfsFS fs, FileHandle *file);
// Standard output; a failure is kept for the command's end (outputFailure).
Writer outputWriter();

// Why a copy stopped.
enum class Stopped { kAtTheEnd, kReading, kWriting, kInterrupted };

// Moves bytes from read to write in chunks of a MiB, up to limit bytes, until the end, a
// failure or an interruption.
Stopped pour(const Reader &read, const Writer &write, Progress &progress,
             int64_t limit = INT64_MAX);

// What became of standard output: written, closed by its reader (a pipe whose reader ended), or
// failed (a full disk, /dev/full). Asked after each command, which flushes it first.
enum class Output { kWritten, kClosed, kFailed };
Output outputFailure();

// The exit status of a failure on the local side, after one line.
int localFailure(const char *command, const std::string &path, const std::string &cause);

}  // namespace qxdfs
