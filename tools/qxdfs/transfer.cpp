// The commands that move file contents: cat, get and put through the stream operations, cp and
// mv through the copy and move operations (watched from another thread for their progress). Nothing
// is left half-done: get writes a hidden file beside its target and renames it after the last byte,
// put checks its source before it creates anything and deletes what it wrote when a write fails.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "tools/qxdfs/commands.h"
#include "tools/qxdfs/output.h"

namespace qxdfs {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int32_t kChunk = 1 << 20;
constexpr int64_t kProgressFrom = 4 << 20;

// One redrawn line on stderr: bytes done, rate, time left. Drawn only for copies of a few MiB
// and more when stderr is a terminal; cleared when the copy ends.
class Progress {
 public:
  Progress(const Shell &shell, const std::string &name, int64_t total)
      : shown_(shell.progress && total >= kProgressFrom), name_(name), total_(total) {}
  ~Progress() {
    if (drawn_) fprintf(stderr, "\r\033[K");
  }
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

  void add(int64_t bytes) { reach(done_ + bytes); }
  void reach(int64_t done) {
    done_ = std::min(done, total_);
    if (!shown_) return;
    Clock::time_point now = Clock::now();
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

 private:
  bool shown_;
  std::string name_;
  int64_t total_;
  int64_t done_ = 0;
  bool drawn_ = false;
  Clock::time_point start_ = Clock::now(), drawnAt_;
};

std::string baseName(const std::string &path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  return trimmed.substr(trimmed.rfind('/') + 1);
}

std::string joined(const std::string &directory, const std::string &name) {
  return directory.empty() || directory.back() == '/' ? directory + name : directory + "/" + name;
}

int localFailure(const char *command, const std::string &path, const std::string &cause) {
  fprintf(stderr, "qxdfs: %s: %s: %s\n", command, path.c_str(), cause.c_str());
  return kFailed;
}

// A path's size and kind on a connection, asked with a message context of the caller's; -1 for
// a path that is missing.
int64_t sizeOf(Shell &shell, QXMessageContext *context, hdfsFS fs, const std::string &path,
               bool *directory = nullptr) {
  hdfsPathInfo *info = peek(shell, path, fs, context);
  if (!info) return -1;
  int64_t size = info->size;
  if (directory) *directory = info->kind == HDFS_KIND_DIRECTORY;
  release(shell, info, 1);
  return size;
}

// Where a copy lands: into an existing directory under the source's name, else the path itself.
std::string landing(Shell &shell, hdfsFS fs, const std::string &source,
                    const std::string &destination) {
  bool directory = false;
  bool there = sizeOf(shell, shell.session.context(), fs, destination, &directory) >= 0;
  shell.session.forget();
  return there && directory ? joined(destination, baseName(source)) : destination;
}

// Whether a path of a connection is there.
bool present(Shell &shell, hdfsFS fs, const std::string &path) {
  bool there = sizeOf(shell, shell.session.context(), fs, path) >= 0;
  shell.session.forget();
  return there;
}

// Refuses to replace what is there, as Hadoop's shell does, unless -f allows it (when the command
// takes it); kSucceeded when the destination is free.
int refuseExisting(Shell &shell, const char *command, bool exists, const std::string &path,
                   bool forceable = true) {
  if (!exists || (forceable && shell.flag('f'))) return kSucceeded;
  return localFailure(command, path, "File exists");
}

// Set by Ctrl-C or a termination request while get or put copies: the loop stops at the next
// chunk and what it made is removed. A second signal ends the process at once.
std::atomic<bool> interrupted{false};

void noteInterrupt(int) {
  interrupted = true;
}

class Interruptible {
 public:
  Interruptible() {
    struct sigaction action = {};
    action.sa_handler = noteInterrupt;
    action.sa_flags = SA_RESETHAND;
    for (int i = 0; i < 2; i++) {
      sigaction(kSignals[i], nullptr, &before_[i]);
      if (before_[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &action, nullptr);  // nohup
    }
  }
  ~Interruptible() {
    for (int i = 0; i < 2; i++) sigaction(kSignals[i], &before_[i], nullptr);
  }
  Interruptible(const Interruptible &) = delete;
  Interruptible &operator=(const Interruptible &) = delete;

 private:
  static constexpr int kSignals[2] = {SIGINT, SIGTERM};
  struct sigaction before_[2];
};

// Copies a file of the file system to a stream through hdfsRead.
int copyOut(Shell &shell, const char *command, const std::string &path, FILE *out, int64_t size) {
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string text = qx(path);
  FileHandle *file = session.ops().hdfsOpenFile(session.dfs(), session.context(), &status, shell.fs,
                                                text.c_str(), 0, 0, 0, 0);
  if (!file) return done(shell, false, command, path);
  std::vector<char> buffer(kChunk);
  Progress progress(shell, path, size);
  bool ok = true;
  for (int32_t n; ok && !interrupted &&
                  (n = session.ops().hdfsRead(session.dfs(), session.context(), &status, shell.fs,
                                              file, buffer.data(), kChunk)) != 0;) {
    ok = n > 0 && fwrite(buffer.data(), 1, static_cast<size_t>(n), out) == static_cast<size_t>(n);
    if (ok) progress.add(n);
  }
  bool closed =
      session.ops().hdfsCloseFile(session.dfs(), session.context(), &status, shell.fs, file) == 0;
  if (interrupted) return localFailure(command, path, "interrupted");
  return done(shell, ok && closed, command, path);
}

// One file to a local file: written beside the target under a hidden name, renamed at the end.
int getFile(Shell &shell, const std::string &path, const std::string &local, int64_t size) {
  std::error_code ignored;
  if (int refused = refuseExisting(shell, "get", fs::exists(local, ignored), local)) return refused;
  std::string directory = fs::path(local).parent_path().string();
  std::string temporary =
      joined(directory.empty() ? "." : directory, "." + baseName(local) + ".qxdfs-XXXXXX");
  int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) return localFailure("get", local, strerror(errno));
  mode_t mask = umask(0);  // the file gets the mode a new file gets, not mkstemp's 0600
  umask(mask);
  fchmod(descriptor, 0666 & ~mask);
  FILE *out = fdopen(descriptor, "wb");
  int result = copyOut(shell, "get", path, out, size);
  if (fclose(out) != 0 && result == kSucceeded)
    result = localFailure("get", local, strerror(errno));
  if (result == kSucceeded && rename(temporary.c_str(), local.c_str()) != 0) {
    result = localFailure("get", local, strerror(errno));
  }
  if (result != kSucceeded) unlink(temporary.c_str());
  return result;
}

int getTree(Shell &shell, const hdfsPathInfo &from, const std::string &local) {
  std::string path = shortName(from.name);
  if (from.kind != HDFS_KIND_DIRECTORY) return getFile(shell, path, local, from.size);
  std::error_code error;
  fs::create_directories(local, error);
  if (error) return localFailure("get", local, error.message());
  hdfsPathInfo *entries = nullptr;
  int32_t count = 0;
  if (!listOf(shell, "get", path, entries, count)) return kFailed;
  int result = kSucceeded;
  for (int32_t i = 0; i < count && result == kSucceeded; i++) {
    result = getTree(shell, entries[i], joined(local, baseName(shortName(entries[i].name))));
  }
  release(shell, entries, count);
  return result;
}

// Writes a local file to a new file of the file system through hdfsWrite; a failed write
// deletes what was written.
int putFile(Shell &shell, const std::string &local, const std::string &path) {
  if (int refused = refuseExisting(shell, "put", present(shell, shell.fs, path), path)) {
    return refused;
  }
  int descriptor = open(local.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (descriptor < 0) return localFailure("put", local, strerror(errno));
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(descriptor);
    return localFailure("put", local, "not a regular file");
  }
  Session &session = shell.session;
  Session::WriteSizes sizes = session.writeSizes(shell.fs, path);
  int32_t status = 0;
  std::u16string text = qx(path);
  FileHandle *file =
      session.ops().hdfsOpenFile(session.dfs(), session.context(), &status, shell.fs, text.c_str(),
                                 HDFS_OPEN_WRITE, 0, sizes.replication, sizes.blockSize);
  if (!file) {
    close(descriptor);
    return done(shell, false, "put", path);
  }
  std::vector<char> buffer(kChunk);
  Progress progress(shell, local, info.st_size);
  bool ok = true;
  std::string readError;
  for (ssize_t n; ok && !interrupted && (n = read(descriptor, buffer.data(), kChunk)) != 0;) {
    if (n < 0) readError = strerror(errno);
    ok = n > 0 && session.ops().hdfsWrite(session.dfs(), session.context(), &status, shell.fs, file,
                                          buffer.data(), static_cast<int32_t>(n)) == n;
    if (ok) progress.add(n);
  }
  close(descriptor);
  if (interrupted) {
    ok = false;
    readError = "interrupted";
  }
  ok =
      session.ops().hdfsCloseFile(session.dfs(), session.context(), &status, shell.fs, file) == 0 &&
      ok;
  if (ok) return kSucceeded;
  int result =
      readError.empty() ? done(shell, false, "put", path) : localFailure("put", local, readError);
  session.ops().hdfsDelete(session.dfs(), session.context(), &status, shell.fs, text.c_str());
  session.forget();
  return result;
}

int putTree(Shell &shell, const std::string &local, const std::string &path) {
  if (!fs::is_directory(local)) return putFile(shell, local, path);
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string text = qx(path);
  if (session.ops().hdfsCreateDirectory(session.dfs(), session.context(), &status, shell.fs,
                                        text.c_str()) != 0) {
    return done(shell, false, "put", path, "cannot be made (a file is in the way)");
  }
  std::error_code error;
  for (const fs::directory_entry &entry : fs::directory_iterator(local, error)) {
    std::string name = entry.path().filename().string();
    int result = putTree(shell, entry.path().string(), joined(path, name));
    if (result != kSucceeded) return result;
  }
  return error ? localFailure("put", local, error.message()) : kSucceeded;
}

// The progress of a copy made by one call (cp, mv): another thread reads the destination's size
// as the file system reports it (HDFS counts the blocks completed) until the copy ends.
class CopyWatch {
 public:
  CopyWatch(Shell &shell, const Location &from, hdfsFS source, const Location &to,
            hdfsFS destination) {
    if (!shell.progress) return;
    bool directory = true;
    int64_t total = sizeOf(shell, shell.session.context(), source, from.path, &directory);
    shell.session.forget();
    if (directory || total < kProgressFrom) return;
    std::string landed = landing(shell, destination, from.path, to.path);
    watcher_ = std::thread([this, &shell, destination, landed, name = from.path, total] {
      hostkernel::MessageContext quiet(nullptr);  // a file not there yet is no failure
      Progress progress(shell, name, total);
      std::unique_lock<std::mutex> lock(mutex_);
      while (!ended_) {
        lock.unlock();
        progress.reach(std::max<int64_t>(0, sizeOf(shell, quiet.get(), destination, landed)));
        lock.lock();
        changed_.wait_for(lock, std::chrono::milliseconds(200), [this] { return ended_; });
      }
    });
  }
  ~CopyWatch() {
    if (!watcher_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
    }
    changed_.notify_one();
    watcher_.join();
  }
  CopyWatch(const CopyWatch &) = delete;
  CopyWatch &operator=(const CopyWatch &) = delete;

 private:
  std::thread watcher_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ended_ = false;
};

hdfsFS connectionOf(Shell &shell, const Location &location) {
  return location.ownTarget ? shell.session.connect(location.target, shell.user) : shell.fs;
}

int refused(const char *command, const Location &location, const std::string &text) {
  fprintf(stderr, "qxdfs: %s: %s: %s\n", command, text.c_str(), location.error.c_str());
  return kUsage;
}

}  // namespace

int cat(Shell &shell, const std::vector<std::string> &arguments) {
  int status = kSucceeded;
  for (const std::string &path : arguments) {
    status = std::max(status, copyOut(shell, "cat", path, stdout, 0));
  }
  return status;
}

int get(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  const std::string &path = arguments[0];
  std::string local = arguments[1];
  hdfsPathInfo *info = infoOf(shell, "get", path);
  if (!info) return kFailed;
  if (fs::is_directory(local)) local = joined(local, baseName(path));
  int result = kSucceeded;
  if (info->kind == HDFS_KIND_DIRECTORY && !shell.flag('r')) {
    result = localFailure("get", path, "is a directory (get -r copies it)");
  } else {
    result = getTree(shell, *info, local);
  }
  release(shell, info, 1);
  return result;
}

int put(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  const std::string &local = arguments[0];
  struct stat info;
  if (stat(local.c_str(), &info) != 0) return localFailure("put", local, strerror(errno));
  if (S_ISDIR(info.st_mode) && !shell.flag('r')) {
    return localFailure("put", local, "is a directory (put -r copies it)");
  }
  if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) {
    return localFailure("put", local, "not a regular file");
  }
  if (access(local.c_str(), R_OK) != 0) return localFailure("put", local, strerror(errno));
  return putTree(shell, local, landing(shell, shell.fs, local, arguments[1]));
}

int copy(Shell &shell, const std::vector<std::string> &arguments) {
  Location from = parseLocation(arguments[0]), to = parseLocation(arguments[1]);
  if (!from.error.empty()) return refused("cp", from, arguments[0]);
  if (!to.error.empty()) return refused("cp", to, arguments[1]);
  hdfsFS source = connectionOf(shell, from), destination = connectionOf(shell, to);
  if (!source || !destination) return kFailed;
  std::string landed = landing(shell, destination, from.path, to.path);
  if (int refused = refuseExisting(shell, "cp", present(shell, destination, landed), landed)) {
    return refused;
  }
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string sourcePath = qx(from.path), destinationPath = qx(to.path);
  CopyWatch watch(shell, from, source, to, destination);
  bool ok = session.ops().hdfsCopy(session.dfs(), session.context(), &status, source,
                                   sourcePath.c_str(), destination, destinationPath.c_str()) == 0;
  return done(shell, ok, "cp", arguments[0]);
}

int move(Shell &shell, const std::vector<std::string> &arguments) {
  Location from = parseLocation(arguments[0]), to = parseLocation(arguments[1]);
  if (!from.error.empty()) return refused("mv", from, arguments[0]);
  if (!to.error.empty()) return refused("mv", to, arguments[1]);
  hdfsFS source = connectionOf(shell, from), destination = connectionOf(shell, to);
  if (!source || !destination) return kFailed;
  // Hadoop's shell never moves onto what is there (a local rename would fall back to a copy
  // that deletes its source).
  std::string landed = landing(shell, destination, from.path, to.path);
  if (int refused =
          refuseExisting(shell, "mv", present(shell, destination, landed), landed, false)) {
    return refused;
  }
  Session &session = shell.session;
  int32_t status = 0;
  if (!from.ownTarget && !to.ownTarget) {
    std::u16string oldPath = qx(from.path), newPath = qx(to.path);
    bool ok = session.ops().hdfsRename(session.dfs(), session.context(), &status, shell.fs,
                                       oldPath.c_str(), newPath.c_str()) == 0;
    return done(shell, ok, "mv", arguments[0], "cannot be renamed (missing, or in the way)");
  }
  CopyWatch watch(shell, from, source, to, destination);
  bool ok = session.ops().hdfsMove(session.dfs(), session.context(), &status, source,
                                   from.path.c_str(), destination, to.path.c_str()) == 0;
  return done(shell, ok, "mv", arguments[0]);
}

}  // namespace qxdfs
