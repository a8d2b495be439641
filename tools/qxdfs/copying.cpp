#include "tools/qxdfs/copying.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/qxdfs/output.h"

namespace qxdfs {
namespace {

constexpr int64_t kChunk = 1 << 20;
constexpr int64_t kProgressFrom = 4 << 20;
constexpr int kWaitStepMillis = 100;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];
static_assert(kSignalCount == 3, "Interruptible keeps three");

std::atomic<int> caught{0};
std::atomic<int> outputState{static_cast<int>(Output::kWritten)};

void noteSignal(int signal) {
  caught = signal;
}

// Waits, in short steps, until a descriptor that is not a file has something to read.
bool readable(int descriptor) {
  struct pollfd wanted = {descriptor, POLLIN, 0};
  for (;;) {
    if (caught) return false;
    int ready = poll(&wanted, 1, kWaitStepMillis);
    if (ready > 0 || (ready < 0 && errno != EINTR)) return true;  // read tells what happened
  }
}

}  // namespace

Interruptible::Interruptible() {
  struct sigaction action = {};
  action.sa_handler = noteSignal;
  action.sa_flags = SA_RESETHAND;  // a second signal ends the process
  for (size_t i = 0; i < kSignalCount; i++) {
    sigaction(kSignals[i], nullptr, &before_[i]);
    if (before_[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &action, nullptr);  // nohup
  }
}

Interruptible::~Interruptible() {
  for (size_t i = 0; i < kSignalCount; i++) sigaction(kSignals[i], &before_[i], nullptr);
}

int interruption() {
  return caught;
}

int interrupted(const char *command, const std::string &subject) {
  static std::atomic<bool> told{false};  // the threads of a tree each see it: one line
  if (!told.exchange(true)) {
    localFailure(command, subject, std::string("interrupted (") + strsignal(caught) + ")");
  }
  return 128 + caught;
}

Progress::Progress(const Shell &shell, const std::string &name, int64_t total)
    : shown_(shell.progress && total >= kProgressFrom), name_(name), total_(total) {}

Progress::~Progress() {
  if (drawn_) fprintf(stderr, "\r\033[K");
}

void Progress::reach(int64_t done) {
  done_ = std::min(done, total_);
  if (!shown_) return;
  auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - drawnAt_ < std::chrono::milliseconds(100) && done_ < total_) return;
  double seconds = std::chrono::duration<double>(now - start_).count();
  double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0;
  long left = rate > 0 ? static_cast<long>(static_cast<double>(total_ - done_) / rate) : 0;
  fprintf(stderr, "\r\033[K%s  %3d%%  %s of %s  %s/s  %ld:%02ld left", name_.c_str(),
          static_cast<int>(total_ ? 100 * done_ / total_ : 100), humanSize(done_).c_str(),
          humanSize(total_).c_str(), humanSize(static_cast<int64_t>(rate)).c_str(), left / 60,
          left % 60);
  fflush(stderr);
  drawn_ = true;
  drawnAt_ = now;
}

Reader localReader(int descriptor, std::string &cause) {
  struct stat info;
  bool waits = fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode);
  return [descriptor, waits, &cause](char *buffer, int64_t size) -> int64_t {
    for (;;) {
      if (waits && !readable(descriptor)) return 0;  // interrupted: the loop sees it
      ssize_t n = read(descriptor, buffer, static_cast<size_t>(size));
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      cause = strerror(errno);
      return -1;
    }
  };
}

Writer localWriter(int descriptor, std::string &cause) {
  return [descriptor, &cause](const char *buffer, int64_t size) {
    while (size > 0) {
      ssize_t n = write(descriptor, buffer, static_cast<size_t>(size));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        cause = strerror(n < 0 ? errno : ENOSPC);
        return false;
      }
      buffer += n;
      size -= n;
    }
    return true;
  };
}

Reader remoteReader(Shell &shell, hdfsFS fs, FileHandle *file) {
  return [&shell, fs, file](char *buffer, int64_t size) -> int64_t {
    Session &session = shell.session;
    int32_t status = 0;
    return session.ops().hdfsRead(session.dfs(), session.context(), &status, fs, file, buffer,
                                  static_cast<int32_t>(size));
  };
}

Writer remoteWriter(Shell &shell, hdfsFS fs, FileHandle *file) {
  return [&shell, fs, file](const char *buffer, int64_t size) {
    Session &session = shell.session;
    int32_t status = 0;
    return session.ops().hdfsWrite(session.dfs(), session.context(), &status, fs, file, buffer,
                                   static_cast<int32_t>(size)) == size;
  };
}

Writer outputWriter() {
  return [](const char *buffer, int64_t size) {
    if (fwrite(buffer, 1, static_cast<size_t>(size), stdout) == static_cast<size_t>(size) &&
        !ferror(stdout)) {
      return true;
    }
    outputState = static_cast<int>(errno == EPIPE ? Output::kClosed : Output::kFailed);
    return false;
  };
}

Output outputFailure() {
  if (outputState == static_cast<int>(Output::kWritten) &&
      (fflush(stdout) != 0 || ferror(stdout))) {
    outputState = static_cast<int>(errno == EPIPE ? Output::kClosed : Output::kFailed);
  }
  return static_cast<Output>(outputState.load());
}

Stopped pour(const Reader &read, const Writer &write, Progress &progress, int64_t limit) {
  std::vector<char> buffer(static_cast<size_t>(std::min(kChunk, std::max<int64_t>(limit, 1))));
  while (limit > 0) {
    if (caught) return Stopped::kInterrupted;
    int64_t n = read(buffer.data(), std::min<int64_t>(static_cast<int64_t>(buffer.size()), limit));
    if (caught) return Stopped::kInterrupted;
    if (n == 0) return Stopped::kAtTheEnd;
    if (n < 0) return Stopped::kReading;
    if (!write(buffer.data(), n)) return Stopped::kWriting;
    progress.add(n);
    limit -= n;
  }
  return Stopped::kAtTheEnd;
}

int localFailure(const char *command, const std::string &path, const std::string &cause) {
  tell(command, pathError(path, cause));
  return kFailed;
}

}  // namespace qxdfs
