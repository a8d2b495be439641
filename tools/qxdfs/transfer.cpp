// The commands that move file contents: cat, head, tail, text, get, getmerge, put and
// appendToFile through the stream operations, cp and mv through the copy and move operations
// (watched from another thread for their progress). Nothing is left half-done: get writes a hidden
// file beside its target and renames it after the last byte, put checks its source before it
// creates anything and deletes what it wrote when a write fails.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "tools/qxdfs/commands.h"
#include "tools/qxdfs/java.h"
#include "tools/qxdfs/output.h"

namespace qxdfs {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int32_t kChunk = 1 << 20;
constexpr int64_t kProgressFrom = 4 << 20;
constexpr int64_t kTailBytes = 1024;  // what head and tail show, as Hadoop's shell does

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

// Whether a path of a connection is a directory.
bool isDirectory(Shell &shell, hdfsFS fs, const std::string &path) {
  bool directory = false;
  bool there = sizeOf(shell, shell.session.context(), fs, path, &directory) >= 0;
  shell.session.forget();
  return there && directory;
}

// Where a copy lands: into an existing directory under the source's name, else the path itself.
std::string landing(Shell &shell, hdfsFS fs, const std::string &source,
                    const std::string &destination) {
  return isDirectory(shell, fs, destination) ? joined(destination, baseName(source)) : destination;
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

// Copies a file of the file system to a stream through hdfsRead: the whole file, or from an
// offset up to a limit of bytes.
int copyOut(Shell &shell, const char *command, const std::string &path, FILE *out, int64_t size,
            int64_t offset = 0, int64_t limit = INT64_MAX) {
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string text = qx(path);
  FileHandle *file = session.ops().hdfsOpenFile(session.dfs(), session.context(), &status, shell.fs,
                                                text.c_str(), 0, 0, 0, 0);
  if (!file) return done(shell, false, command, path);
  std::vector<char> buffer(kChunk);
  Progress progress(shell, path, size);
  bool ok = offset == 0 || session.ops().hdfsSeek(session.dfs(), session.context(), &status,
                                                  shell.fs, file, offset) == 0;
  for (int32_t n; ok && !interrupted && limit > 0 &&
                  (n = session.ops().hdfsRead(
                       session.dfs(), session.context(), &status, shell.fs, file, buffer.data(),
                       static_cast<int32_t>(std::min<int64_t>(kChunk, limit)))) != 0;) {
    ok = n > 0 && fwrite(buffer.data(), 1, static_cast<size_t>(n), out) == static_cast<size_t>(n);
    if (ok) progress.add(n);
    limit -= n;
  }
  bool closed =
      session.ops().hdfsCloseFile(session.dfs(), session.context(), &status, shell.fs, file) == 0;
  if (interrupted) return localFailure(command, path, "interrupted");
  return done(shell, ok && closed, command, path);
}

// A local file written beside its target under a hidden name by fill, renamed at the end: a
// failed or interrupted write leaves nothing behind.
template <typename Fill>
int writeLocal(Shell &shell, const char *command, const std::string &local, Fill fill) {
  std::error_code ignored;
  if (int refused = refuseExisting(shell, command, fs::exists(local, ignored), local)) {
    return refused;
  }
  std::string directory = fs::path(local).parent_path().string();
  std::string temporary =
      joined(directory.empty() ? "." : directory, "." + baseName(local) + ".qxdfs-XXXXXX");
  int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) return localFailure(command, local, strerror(errno));
  mode_t mask = umask(0);  // the file gets the mode a new file gets, not mkstemp's 0600
  umask(mask);
  fchmod(descriptor, 0666 & ~mask);
  FILE *out = fdopen(descriptor, "wb");
  int result = fill(out);
  if (fclose(out) != 0 && result == kSucceeded) {
    result = localFailure(command, local, strerror(errno));
  }
  if (result == kSucceeded && rename(temporary.c_str(), local.c_str()) != 0) {
    result = localFailure(command, local, strerror(errno));
  }
  if (result != kSucceeded) unlink(temporary.c_str());
  return result;
}

// What get -p keeps of a file.
struct Attributes {
  double modified = 0, accessed = 0;
  int16_t permissions = 0;
  std::string owner, group;
};

Attributes attributesOf(const hdfsPathInfo &info) {
  return {info.lastModified, info.lastAccess, info.permissions, info.owner ? info.owner : "",
          info.group ? info.group : ""};
}

// get -p: the local file takes the times, permissions and (where this user may) the owner.
void keepLocally(const Attributes &from, const std::string &local) {
  struct timespec times[2] = {{static_cast<time_t>(from.accessed), 0},
                              {static_cast<time_t>(from.modified), 0}};
  utimensat(AT_FDCWD, local.c_str(), times, 0);
  chmod(local.c_str(), static_cast<mode_t>(from.permissions & 07777));
  struct passwd *owner = from.owner.empty() ? nullptr : getpwnam(from.owner.c_str());
  struct group *group = from.group.empty() ? nullptr : getgrnam(from.group.c_str());
  if (owner || group) {
    int ignored = chown(local.c_str(), owner ? owner->pw_uid : static_cast<uid_t>(-1),
                        group ? group->gr_gid : static_cast<gid_t>(-1));
    (void)ignored;  // only the superuser gives files away
  }
}

// One file of a tree copy: where from, where to, its size, and for get -p what it keeps.
struct TreeFile {
  std::string from, to;
  int64_t size;
  Attributes attributes;
};

// One file to a local file.
int getFile(Shell &shell, const TreeFile &file) {
  int result = writeLocal(shell, "get", file.to, [&](FILE *out) {
    return copyOut(shell, "get", file.from, out, file.size);
  });
  if (result == kSucceeded && shell.flag('p')) keepLocally(file.attributes, file.to);
  return result;
}

// The threads a tree copy runs on: -t N, else one for each core.
size_t threadsFor(const Shell &shell, size_t files) {
  size_t threads = shell.threads > 0 ? static_cast<size_t>(shell.threads)
                                     : std::max(1u, std::thread::hardware_concurrency());
  return std::max<size_t>(1, std::min(threads, files));
}

// Copies the files of a tree on several threads, each telling its failures in lines of its own,
// with one progress line for the whole tree; the worst status once every file had its turn.
template <typename CopyFile>
int copyFiles(Shell &shell, const char *command, const std::string &name,
              const std::vector<TreeFile> &files, CopyFile copyFile) {
  int64_t total = 0;
  for (const TreeFile &file : files) total += file.size;
  Shell quiet = shell;
  quiet.progress = false;
  std::atomic<size_t> next{0}, running{0};
  std::atomic<int64_t> copied{0};
  std::atomic<int> worst{kSucceeded};
  auto work = [&] {
    Session::ThreadMessages own;
    for (size_t i; !interrupted && (i = next++) < files.size();) {
      int status = copyFile(quiet, files[i]);
      for (int seen = worst; status > seen && !worst.compare_exchange_weak(seen, status);) {
      }
      copied += files[i].size;
    }
    running--;
  };
  size_t threads = threadsFor(shell, files.size());
  running = threads;
  std::vector<std::thread> pool;
  for (size_t i = 0; i < threads; i++) pool.emplace_back(work);
  Progress progress(shell, name, total);
  while (running > 0) {
    progress.reach(copied);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  for (std::thread &thread : pool) thread.join();
  if (interrupted && worst == kSucceeded) return localFailure(command, name, "interrupted");
  return worst;
}

// The files below a directory of a file system, each directory made first by makeDirectory
// (a local one for get, one on the other file system for cp).
template <typename MakeDirectory>
int planTree(Shell &shell, const char *command, hdfsFS source, const std::string &from,
             const std::string &to, int depth, std::vector<TreeFile> &files,
             MakeDirectory makeDirectory) {
  if (depth > kDeepest) return localFailure(command, from, "too deep (a loop of links?)");
  if (int failed = makeDirectory(to)) return failed;
  hdfsPathInfo *entries = nullptr;
  int32_t count = 0;
  if (!listOf(shell, command, from, entries, count, source)) return kFailed;
  int result = kSucceeded;
  for (int32_t i = 0; i < count && result == kSucceeded; i++) {
    std::string name = baseName(shortName(entries[i].name));
    if (entries[i].kind == HDFS_KIND_DIRECTORY) {
      result = planTree(shell, command, source, joined(from, name), joined(to, name), depth + 1,
                        files, makeDirectory);
    } else {
      files.push_back(
          {joined(from, name), joined(to, name), entries[i].size, attributesOf(entries[i])});
    }
  }
  release(shell, entries, count);
  return result;
}

int getTree(Shell &shell, const hdfsPathInfo &from, const std::string &local) {
  std::string path = shortName(from.name);
  std::vector<TreeFile> files;
  if (from.kind != HDFS_KIND_DIRECTORY) {
    return getFile(shell, {path, local, from.size, attributesOf(from)});
  }
  int planned = planTree(shell, "get", shell.fs, path, local, 0, files, [](const std::string &to) {
    std::error_code error;
    fs::create_directories(to, error);
    return error ? localFailure("get", to, error.message()) : kSucceeded;
  });
  return planned != kSucceeded ? planned : copyFiles(shell, "get", path, files, getFile);
}

// Writes what a descriptor gives into an open file through hdfsWrite; false with the local
// side's failure in readError when that side failed (or the copy was interrupted).
bool pour(Shell &shell, int descriptor, FileHandle *file, Progress &progress,
          std::string &readError) {
  Session &session = shell.session;
  std::vector<char> buffer(kChunk);
  int32_t status = 0;
  bool ok = true;
  for (ssize_t n; ok && !interrupted && (n = read(descriptor, buffer.data(), kChunk)) != 0;) {
    if (n < 0) readError = strerror(errno);
    ok = n > 0 && session.ops().hdfsWrite(session.dfs(), session.context(), &status, shell.fs, file,
                                          buffer.data(), static_cast<int32_t>(n)) == n;
    if (ok) progress.add(n);
  }
  if (interrupted) readError = "interrupted";
  return ok && !interrupted;
}

// put -p and cp -p: a path takes times and permissions, and, where the file system lets this
// user give files away, an owner and a group.
void keepAttributes(Shell &shell, hdfsFS fs, const std::string &path, double modified,
                    double accessed, int16_t mode, const char *owner, const char *group) {
  Session &session = shell.session;
  int32_t status = 0;
  session.ops().hdfsUtime(session.dfs(), session.context(), &status, fs, path.c_str(), modified,
                          accessed);
  session.ops().hdfsChmod(session.dfs(), session.context(), &status, fs, path.c_str(), mode);
  session.ops().hdfsChown(session.dfs(), session.context(), &status, fs, path.c_str(), owner,
                          group);
  session.forget();
}

// put -p: a new file takes what a local file's information gives.
void keepLocalAttributes(Shell &shell, const struct stat &info, const std::string &path) {
  struct passwd *owner = getpwuid(info.st_uid);
  struct group *group = getgrgid(info.st_gid);
  keepAttributes(shell, shell.fs, path, static_cast<double>(info.st_mtime),
                 static_cast<double>(info.st_atime), static_cast<int16_t>(info.st_mode & 07777),
                 owner ? owner->pw_name : nullptr, group ? group->gr_name : nullptr);
}

// Writes a descriptor's bytes to a new file of the file system; a failed write deletes what was
// written.
int putDescriptor(Shell &shell, int descriptor, const std::string &name, int64_t size,
                  const std::string &path) {
  if (int refused = refuseExisting(shell, "put", present(shell, shell.fs, path), path)) {
    return refused;
  }
  Session &session = shell.session;
  Session::WriteSizes sizes = session.writeSizes(shell.fs, path);
  int32_t status = 0;
  std::u16string text = qx(path);
  FileHandle *file =
      session.ops().hdfsOpenFile(session.dfs(), session.context(), &status, shell.fs, text.c_str(),
                                 HDFS_OPEN_WRITE, 0, sizes.replication, sizes.blockSize);
  if (!file) return done(shell, false, "put", path);
  Progress progress(shell, name, size);
  std::string readError;
  bool ok = pour(shell, descriptor, file, progress, readError);
  ok =
      session.ops().hdfsCloseFile(session.dfs(), session.context(), &status, shell.fs, file) == 0 &&
      ok;
  if (ok) return kSucceeded;
  int result =
      readError.empty() ? done(shell, false, "put", path) : localFailure("put", name, readError);
  session.ops().hdfsDelete(session.dfs(), session.context(), &status, shell.fs, text.c_str());
  session.forget();
  return result;
}

int putFile(Shell &shell, const std::string &local, const std::string &path) {
  int descriptor = open(local.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (descriptor < 0) return localFailure("put", local, strerror(errno));
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(descriptor);
    return localFailure("put", local, "not a regular file");
  }
  int result = putDescriptor(shell, descriptor, local, info.st_size, path);
  close(descriptor);
  if (result == kSucceeded && shell.flag('p')) keepLocalAttributes(shell, info, path);
  return result;
}

// A path as its file system names it in full ("hdfs://host:port/a", "file:/a"); "" after a
// failure.
std::string qualified(Java &java, hdfsFS fs, const std::string &path) {
  LocalRef<jobject> given = java.path(path);
  LocalRef<jobject> full =
      java.call(fs, "org/apache/hadoop/fs/FileSystem", "makeQualified",
                "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/Path;", given.get());
  LocalRef<jobject> text =
      java.call(full.get(), "org/apache/hadoop/fs/Path", "toString", "()Ljava/lang/String;");
  return java ? java.text(text.get()) : "";
}

// A directory copied onto itself or into itself would never end: refused before anything is
// made, as the copy operation refuses it.
int refuseIntoItself(Shell &shell, const char *command, const std::string &from, hdfsFS source,
                     hdfsFS destination, const std::string &landed) {
  Java java(shell.session);
  std::string whole = qualified(java, source, from);
  std::string target = qualified(java, destination, landed);
  if (!java) return localFailure(command, landed, java.error());
  if (target == whole) {
    return localFailure(command, from, "is its own destination; nothing was copied");
  }
  if (target.rfind(whole + "/", 0) == 0) {
    return localFailure(command, from,
                        "would land inside itself, at " + target + "; nothing was copied");
  }
  return kSucceeded;
}

// The files below a local directory, with their directories made on the file system first. A
// link back to a directory above is refused, not followed round.
int planPut(Shell &shell, const std::string &local, const std::string &path,
            std::vector<std::pair<dev_t, ino_t>> &above, std::vector<TreeFile> &files) {
  struct stat directory;
  if (stat(local.c_str(), &directory) != 0) return localFailure("put", local, strerror(errno));
  std::pair<dev_t, ino_t> identity{directory.st_dev, directory.st_ino};
  if (std::find(above.begin(), above.end(), identity) != above.end()) {
    return localFailure("put", local, "a link to a directory above it (a loop)");
  }
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string text = qx(path);
  if (session.ops().hdfsCreateDirectory(session.dfs(), session.context(), &status, shell.fs,
                                        text.c_str()) != 0) {
    return done(shell, false, "put", path, "cannot be made (a file is in the way)");
  }
  above.push_back(identity);
  std::error_code error;
  for (const fs::directory_entry &entry : fs::directory_iterator(local, error)) {
    std::string from = entry.path().string();
    std::string to = joined(path, entry.path().filename().string());
    std::error_code unknown;  // what cannot be told is sent on as a file, which put refuses
    if (entry.is_directory(unknown)) {
      if (int result = planPut(shell, from, to, above, files)) return result;
    } else {
      uintmax_t size = entry.is_regular_file(unknown) ? entry.file_size(unknown) : 0;
      files.push_back({from, to, unknown ? 0 : static_cast<int64_t>(size), {}});
    }
  }
  above.pop_back();
  return error ? localFailure("put", local, error.message()) : kSucceeded;
}

// One file of a tree, copied by Hadoop's FileUtil.copy in one Java call with the destination's
// own configuration. The module's stream operations open and close every stream under one lock,
// and its copy operation reads a fresh configuration on each call: either would keep the threads
// of a tree waiting on each other. A failed copy deletes what it wrote.
int copyFileInJava(Shell &shell, const char *command, hdfsFS source, hdfsFS destination,
                   const TreeFile &file) {
  if (int refused = refuseExisting(shell, command, present(shell, destination, file.to), file.to)) {
    return refused;
  }
  std::string cause;
  {
    Java java(shell.session);
    LocalRef<jobject> configuration =
        java.call(destination, "org/apache/hadoop/fs/FileSystem", "getConf",
                  "()Lorg/apache/hadoop/conf/Configuration;");
    LocalRef<jobject> from = java.path(file.from), to = java.path(file.to);
    jboolean copied = java.valueStatic<jboolean>(
        "org/apache/hadoop/fs/FileUtil", "copy",
        "(Lorg/apache/hadoop/fs/FileSystem;Lorg/apache/hadoop/fs/Path;Lorg/apache/hadoop/fs/"
        "FileSystem;Lorg/apache/hadoop/fs/Path;ZZLorg/apache/hadoop/conf/Configuration;)Z",
        source, from.get(), destination, to.get(), JNI_FALSE,
        shell.flag('f') ? JNI_TRUE : JNI_FALSE, configuration.get());
    cause = !java ? java.error() : copied ? "" : "not copied";
  }
  if (cause.empty()) return kSucceeded;
  // What another writer made at that name in the meantime stays.
  if (cause.find("File exists") == std::string::npos) {
    Session &session = shell.session;
    int32_t status = 0;
    std::u16string to = qx(file.to);
    session.ops().hdfsDelete(session.dfs(), session.context(), &status, destination, to.c_str());
    session.forget();
  }
  return localFailure(command, file.from, cause);
}

int putTree(Shell &shell, const std::string &local, const std::string &path) {
  if (!fs::is_directory(local)) return putFile(shell, local, path);
  hdfsFS localFs = localConnection(shell);
  if (!localFs) return kFailed;
  if (int refused = refuseIntoItself(shell, "put", local, localFs, shell.fs, path)) return refused;
  std::vector<TreeFile> files;
  std::vector<std::pair<dev_t, ino_t>> above;
  int planned = planPut(shell, local, path, above, files);
  if (planned != kSucceeded) return planned;
  return copyFiles(shell, "put", local, files, [localFs](Shell &worker, const TreeFile &file) {
    int result = copyFileInJava(worker, "put", localFs, worker.fs, file);
    struct stat info;
    if (result == kSucceeded && worker.flag('p') && stat(file.from.c_str(), &info) == 0) {
      keepLocalAttributes(worker, info, file.to);
    }
    return result;
  });
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

int refused(const char *command, const Location &location, const std::string &text) {
  fprintf(stderr, "qxdfs: %s: %s: %s\n", command, text.c_str(), location.error.c_str());
  return kUsage;
}

// cp -p: the copy below to takes the attributes of what is below from, file by file.
void keepTree(Shell &shell, hdfsFS source, const std::string &from, hdfsFS destination,
              const std::string &to, int depth) {
  hdfsPathInfo *info = peek(shell, from, source);
  shell.session.forget();
  if (!info) return;
  keepAttributes(shell, destination, to, info->lastModified, info->lastAccess, info->permissions,
                 info->owner, info->group);
  bool directory = info->kind == HDFS_KIND_DIRECTORY;
  release(shell, info, 1);
  if (!directory || depth >= kDeepest) return;
  Session &session = shell.session;
  std::u16string text = qx(from);
  hdfsPathInfo *entries = nullptr;
  int32_t count = 0;
  session.ops().hdfsListDirectory(session.dfs(), session.context(), source, text.c_str(), &count,
                                  &entries);
  session.forget();
  for (int32_t i = 0; i < count; i++) {
    std::string name = baseName(shortName(entries[i].name));
    keepTree(shell, source, joined(from, name), destination, joined(to, name), depth + 1);
  }
  release(shell, entries, count);
}

// Several sources go only into a directory; then each source in turn, the worst status.
template <typename One>
int eachSource(const char *command, const std::vector<std::string> &arguments, bool intoDirectory,
               One one) {
  if (arguments.size() > 2 && !intoDirectory) {
    return localFailure(command, arguments.back(),
                        "is not a directory (several sources go into a directory)");
  }
  int status = kSucceeded;
  for (size_t i = 0; i + 1 < arguments.size() && !interrupted; i++) {
    status = std::max(status, one(arguments[i]));
  }
  return status;
}

// Standard input to standard output (cat -).
int catInput() {
  std::vector<char> buffer(kChunk);
  for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), stdin)) > 0;) {
    if (fwrite(buffer.data(), 1, n, stdout) != n) return localFailure("cat", "-", strerror(errno));
  }
  return ferror(stdin) ? localFailure("cat", "-", strerror(errno)) : kSucceeded;
}

int getOne(Shell &shell, const std::string &path, const std::string &destination) {
  hdfsPathInfo *info = infoOf(shell, "get", path);
  if (!info) return kFailed;
  std::string local =
      fs::is_directory(destination) ? joined(destination, baseName(path)) : destination;
  int result = kSucceeded;
  if (info->kind == HDFS_KIND_DIRECTORY && !shell.flag('r')) {
    result = localFailure("get", path, "is a directory (get -r copies it)");
  } else {
    result = getTree(shell, *info, local);
  }
  release(shell, info, 1);
  return result;
}

int putOne(Shell &shell, const std::string &local, const std::string &destination) {
  if (local == "-") return putDescriptor(shell, STDIN_FILENO, "-", 0, destination);
  struct stat info;
  if (stat(local.c_str(), &info) != 0) return localFailure("put", local, strerror(errno));
  if (S_ISDIR(info.st_mode) && !shell.flag('r')) {
    return localFailure("put", local, "is a directory (put -r copies it)");
  }
  if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) {
    return localFailure("put", local, "not a regular file");
  }
  if (access(local.c_str(), R_OK) != 0) return localFailure("put", local, strerror(errno));
  return putTree(shell, local, landing(shell, shell.fs, local, destination));
}

// A directory copied file by file on several threads, each file in one call of the copy
// operation.
int copyDirectory(Shell &shell, const Location &from, hdfsFS source, hdfsFS destination,
                  const std::string &landed) {
  if (int refused = refuseIntoItself(shell, "cp", from.path, source, destination, landed)) {
    return refused;
  }
  std::vector<TreeFile> files;
  int result =
      planTree(shell, "cp", source, from.path, landed, 0, files, [&](const std::string &to) {
        Session &session = shell.session;
        int32_t status = 0;
        std::u16string text = qx(to);
        bool made = session.ops().hdfsCreateDirectory(session.dfs(), session.context(), &status,
                                                      destination, text.c_str()) == 0;
        return done(shell, made, "cp", to, "cannot be made (a file is in the way)");
      });
  if (result == kSucceeded) {
    result = copyFiles(shell, "cp", from.path, files, [&](Shell &worker, const TreeFile &file) {
      return copyFileInJava(worker, "cp", source, destination, file);
    });
  }
  if (result == kSucceeded && shell.flag('p')) {
    keepTree(shell, source, from.path, destination, landed, 0);
  }
  return result;
}

int copyOne(Shell &shell, const std::string &sourceText, const std::string &destinationText) {
  Location from = parseLocation(sourceText), to = parseLocation(destinationText);
  if (!from.error.empty()) return refused("cp", from, sourceText);
  if (!to.error.empty()) return refused("cp", to, destinationText);
  hdfsFS source = connectionOf(shell, from), destination = connectionOf(shell, to);
  if (!source || !destination) return kFailed;
  std::string landed = landing(shell, destination, from.path, to.path);
  if (int refused = refuseExisting(shell, "cp", present(shell, destination, landed), landed)) {
    return refused;
  }
  if (isDirectory(shell, source, from.path)) {
    return copyDirectory(shell, from, source, destination, landed);
  }
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string sourcePath = qx(from.path), destinationPath = qx(to.path);
  CopyWatch watch(shell, from, source, to, destination);
  bool ok = session.ops().hdfsCopy(session.dfs(), session.context(), &status, source,
                                   sourcePath.c_str(), destination, destinationPath.c_str()) == 0;
  if (ok && shell.flag('p')) keepTree(shell, source, from.path, destination, landed, 0);
  return done(shell, ok, "cp", sourceText);
}

int moveOne(Shell &shell, const std::string &sourceText, const std::string &destinationText) {
  Location from = parseLocation(sourceText), to = parseLocation(destinationText);
  if (!from.error.empty()) return refused("mv", from, sourceText);
  if (!to.error.empty()) return refused("mv", to, destinationText);
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
    return done(shell, ok, "mv", sourceText, "cannot be renamed (missing, or in the way)");
  }
  CopyWatch watch(shell, from, source, to, destination);
  bool ok = session.ops().hdfsMove(session.dfs(), session.context(), &status, source,
                                   from.path.c_str(), destination, to.path.c_str()) == 0;
  return done(shell, ok, "mv", sourceText);
}

// Where a destination of several sources lives, for the check that it is a directory.
bool destinationIsDirectory(Shell &shell, const std::string &text) {
  Location to = parseLocation(text);
  hdfsFS fs = to.error.empty() ? connectionOf(shell, to) : nullptr;
  return fs && isDirectory(shell, fs, to.path);
}

// The bytes of a file a codec of Hadoop's knows by its suffix, decompressed, to standard output;
// any other file as it is.
int textOne(Shell &shell, const std::string &path) {
  const char *fileSystem = "org/apache/hadoop/fs/FileSystem";
  const char *codecType = "org/apache/hadoop/io/compress/CompressionCodec";
  Java java(shell.session);
  LocalRef<jobject> configuration =
      java.call(shell.fs, fileSystem, "getConf", "()Lorg/apache/hadoop/conf/Configuration;");
  LocalRef<jobject> factory =
      java.make("org/apache/hadoop/io/compress/CompressionCodecFactory",
                "(Lorg/apache/hadoop/conf/Configuration;)V", configuration.get());
  LocalRef<jobject> given = java.path(path);
  LocalRef<jobject> codec = java.call(
      factory.get(), "org/apache/hadoop/io/compress/CompressionCodecFactory", "getCodec",
      "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/io/compress/CompressionCodec;", given.get());
  if (java && !codec) return copyOut(shell, "text", path, stdout, 0);
  LocalRef<jobject> raw = java.call(
      shell.fs, fileSystem, "open",
      "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/FSDataInputStream;", given.get());
  LocalRef<jobject> stream = java.call(
      codec.get(), codecType, "createInputStream",
      "(Ljava/io/InputStream;)Lorg/apache/hadoop/io/compress/CompressionInputStream;", raw.get());
  JNIEnv *env = java.env();
  LocalRef<jbyteArray> buffer(env, java ? env->NewByteArray(kChunk) : nullptr);
  std::vector<jbyte> bytes(kChunk);
  bool written = true;
  for (jint n; java && buffer && written && !interrupted &&
               (n = java.value<jint>(stream.get(), "java/io/InputStream", "read", "([BII)I",
                                     buffer.get(), jint{0}, jint{kChunk})) >= 0;) {
    env->GetByteArrayRegion(buffer.get(), 0, n, bytes.data());
    written = fwrite(bytes.data(), 1, static_cast<size_t>(n), stdout) == static_cast<size_t>(n);
  }
  std::string cause = !buffer && java ? "out of Java memory" : java.error();
  Java closing(shell.session);  // the stream goes even after a failure
  if (stream || raw)
    closing.call(stream ? stream.get() : raw.get(), "java/io/InputStream", "close", "()V");
  if (!written) cause = strerror(errno);
  return cause.empty() ? kSucceeded : localFailure("text", path, cause);
}

}  // namespace

int cat(Shell &shell, const std::vector<std::string> &arguments) {
  int status = kSucceeded;
  for (const std::string &path : arguments) {
    status = std::max(status, path == "-" ? catInput() : copyOut(shell, "cat", path, stdout, 0));
  }
  return status;
}

int head(Shell &shell, const std::vector<std::string> &arguments) {
  return copyOut(shell, "head", arguments[0], stdout, 0, 0, kTailBytes);
}

// The last KiB, and with -f what is appended after it, looked for each second until interrupted.
int tail(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  const std::string &path = arguments[0];
  int64_t shown = sizeOf(shell, shell.session.context(), shell.fs, path);
  if (shown < 0) return done(shell, false, "tail", path, kNoSuchPath);
  int result = copyOut(shell, "tail", path, stdout, 0, std::max<int64_t>(0, shown - kTailBytes));
  while (result == kSucceeded && shell.flag('f') && fflush(stdout) == 0) {
    for (int tenth = 0; tenth < 10 && !interrupted; tenth++) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (interrupted) return kSucceeded;
    int64_t size = sizeOf(shell, shell.session.context(), shell.fs, path);
    if (size < 0) return done(shell, false, "tail", path, kNoSuchPath);
    if (size > shown) result = copyOut(shell, "tail", path, stdout, 0, shown, size - shown);
    shown = std::max(shown, size);
  }
  return result;
}

int text(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  int status = kSucceeded;
  for (const std::string &path : arguments) status = std::max(status, textOne(shell, path));
  return status;
}

int get(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  const std::string &destination = arguments.back();
  bool intoDirectory = arguments.size() > 2 && fs::is_directory(destination);
  return eachSource("get", arguments, intoDirectory,
                    [&](const std::string &path) { return getOne(shell, path, destination); });
}

int put(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  const std::string &destination = arguments.back();
  bool intoDirectory = arguments.size() > 2 && isDirectory(shell, shell.fs, destination);
  return eachSource("put", arguments, intoDirectory,
                    [&](const std::string &local) { return putOne(shell, local, destination); });
}

int copy(Shell &shell, const std::vector<std::string> &arguments) {
  const std::string &destination = arguments.back();
  bool intoDirectory = arguments.size() > 2 && destinationIsDirectory(shell, destination);
  return eachSource("cp", arguments, intoDirectory,
                    [&](const std::string &source) { return copyOne(shell, source, destination); });
}

int move(Shell &shell, const std::vector<std::string> &arguments) {
  const std::string &destination = arguments.back();
  bool intoDirectory = arguments.size() > 2 && destinationIsDirectory(shell, destination);
  return eachSource("mv", arguments, intoDirectory,
                    [&](const std::string &source) { return moveOne(shell, source, destination); });
}

// appendToFile LOCAL... PATH: every source is checked before the file is touched; a file that is
// not there is made.
int appendToFile(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  std::vector<int> descriptors;
  auto closeAll = [&] {
    for (int descriptor : descriptors) {
      if (descriptor != STDIN_FILENO) close(descriptor);
    }
  };
  for (size_t i = 0; i + 1 < arguments.size(); i++) {
    const std::string &local = arguments[i];
    int descriptor = local == "-" ? STDIN_FILENO : open(local.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (descriptor < 0 || fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
      std::string cause = descriptor < 0 ? strerror(errno) : "is a directory";
      if (descriptor >= 0 && descriptor != STDIN_FILENO) close(descriptor);
      closeAll();
      return localFailure("appendToFile", local, cause);
    }
    descriptors.push_back(descriptor);
  }
  const std::string &path = arguments.back();
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string text = qx(path);
  bool there = present(shell, shell.fs, path);
  FileHandle *file = session.ops().hdfsOpenFile(
      session.dfs(), session.context(), &status, shell.fs, text.c_str(),
      there ? HDFS_OPEN_WRITE | HDFS_OPEN_APPEND : HDFS_OPEN_WRITE, 0, 0, 0);
  if (!file) {
    closeAll();
    return done(shell, false, "appendToFile", path);
  }
  Progress progress(shell, path, 0);
  std::string readError;
  bool ok = true;
  for (size_t i = 0; ok && i < descriptors.size(); i++) {
    ok = pour(shell, descriptors[i], file, progress, readError);
  }
  closeAll();
  ok =
      session.ops().hdfsCloseFile(session.dfs(), session.context(), &status, shell.fs, file) == 0 &&
      ok;
  if (!readError.empty()) return localFailure("appendToFile", path, readError);
  return done(shell, ok, "appendToFile", path);
}

// getmerge [-nl] SOURCE... LOCAL: the files of each source (a directory's files in order) into
// one local file, written as get writes, with -nl a line end after each file.
int getMerge(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  std::vector<std::pair<std::string, int64_t>> files;
  for (size_t i = 0; i + 1 < arguments.size(); i++) {
    hdfsPathInfo *info = infoOf(shell, "getmerge", arguments[i]);
    if (!info) return kFailed;
    bool directory = info->kind == HDFS_KIND_DIRECTORY;
    if (!directory) files.emplace_back(arguments[i], static_cast<int64_t>(info->size));
    release(shell, info, 1);
    hdfsPathInfo *entries = nullptr;
    int32_t count = 0;
    if (directory && !listOf(shell, "getmerge", arguments[i], entries, count)) return kFailed;
    for (int32_t j = 0; j < count; j++) {
      if (entries[j].kind != HDFS_KIND_DIRECTORY) {
        files.emplace_back(shortName(entries[j].name), static_cast<int64_t>(entries[j].size));
      }
    }
    release(shell, entries, count);
  }
  return writeLocal(shell, "getmerge", arguments.back(), [&](FILE *out) {
    for (const auto &[path, size] : files) {
      if (int failed = copyOut(shell, "getmerge", path, out, size)) return failed;
      if (shell.flag('n') && fputc('\n', out) == EOF) return kFailed;
    }
    return kSucceeded;
  });
}

}  // namespace qxdfs
