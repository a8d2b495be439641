// mapjob: the engine's map job (javaMap, DORNmap) on the connection's file system, as its user,
// from its working directory. The job keeps its state in a status file while it runs (its id,
// map and reduce progress; at the end its counters); another thread reads it to print the job's
// id as soon as it has one and to draw a progress line on a terminal.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include "tools/qxdfs/commands.h"
#include "tools/qxdfs/output.h"

namespace qxdfs {
namespace {

// A path as the connection resolves it: relative paths from its working directory (cd).
std::string absolutePath(Shell &shell, const std::string &path) {
  if (path.empty() || path[0] == '/' || path.find("://") != std::string::npos) return path;
  Session &session = shell.session;
  QXChar buffer[4096];
  int32_t status = 0;
  if (!session.ops().hdfsGetWorkingDirectory(session.dfs(), session.context(), &status, shell.fs,
                                             buffer, sizeof buffer)) {
    session.forget();
    return path;
  }
  return shortName(utf8(buffer).c_str()) + "/" + path;
}

std::string contentsOf(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Follows a running job through its status file: the id line once, then the progress line.
class JobWatch {
 public:
  JobWatch(const Shell &shell, std::string file) : file_(std::move(file)) {
    watcher_ = std::thread([this, print = !shell.json, draw = shell.progress] {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!ended_) {
        lock.unlock();
        look(print, draw);
        lock.lock();
        changed_.wait_for(lock, std::chrono::milliseconds(200), [this] { return ended_; });
      }
      lock.unlock();
      look(print, false);
    });
  }
  ~JobWatch() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
    }
    changed_.notify_one();
    watcher_.join();
    if (drawn_) fprintf(stderr, "\r\033[K");
  }
  JobWatch(const JobWatch &) = delete;
  JobWatch &operator=(const JobWatch &) = delete;

 private:
  void look(bool print, bool draw) {
    std::string state = contentsOf(file_);
    std::string id = jsonField(state, "id");
    if (id.empty()) return;
    if (print && !idShown_) {
      printf("job %s\n", id.c_str());
      fflush(stdout);
      idShown_ = true;
    }
    if (!draw) return;
    int map = static_cast<int>(100 * atof(jsonField(state, "map").c_str()));
    int reduce = static_cast<int>(100 * atof(jsonField(state, "reduce").c_str()));
    if (drawn_ && map == map_ && reduce == reduce_) return;
    fprintf(stderr, "\r\033[K%s  map %3d%%  reduce %3d%%", id.c_str(), map, reduce);
    fflush(stderr);
    drawn_ = true;
    map_ = map;
    reduce_ = reduce;
  }

  std::string file_;
  std::thread watcher_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ended_ = false;
  bool idShown_ = false;
  bool drawn_ = false;
  int map_ = 0, reduce_ = 0;
};

// The counters of the job's last state, as Hadoop prints them.
void printCounters(const std::string &state) {
  std::vector<CounterGroup> groups = jsonCounters(state);
  size_t count = 0;
  for (const CounterGroup &group : groups) count += group.counters.size();
  printf("Counters: %zu\n", count);
  for (const CounterGroup &group : groups) {
    printf("\t%s\n", group.name.c_str());
    for (const auto &[name, value] : group.counters) {
      printf("\t\t%s=%s\n", name.c_str(), value.c_str());
    }
  }
}

}  // namespace

int mapJob(Shell &shell, std::vector<std::string> &arguments) {
  // The status file, and the job's own rewrites of it, in a directory only this user may enter.
  char directory[] = "/tmp/qxdfs-job-XXXXXX";
  if (!mkdtemp(directory)) return done(shell, false, "mapjob", arguments[0], "no status file");
  std::string file = std::string(directory) + "/status";
  std::vector<std::string> settings(arguments.begin() + 2, arguments.end());
  if (!shell.user.empty()) {
    settings.insert(settings.begin(), "mapreduce.job.user.name=" + shell.user);
  }
  if (!shell.uri.empty()) settings.insert(settings.begin(), "fs.defaultFS=" + shell.uri);
  settings.push_back(std::string("dornmap.status=") + file);
  std::vector<const char *> settingList = textList(settings.begin(), settings.end());
  std::vector<std::string> inOut = {absolutePath(shell, arguments[0]),
                                    absolutePath(shell, arguments[1])};
  std::vector<const char *> paths = textList(inOut.begin(), inOut.end());
  Session &session = shell.session;
  uint32_t status = 0;
  {
    JobWatch watch(shell, file);
    status =
        session.ops().javaMap(session.dfs(), session.context(), settingList.data(), paths.data());
  }
  std::string state = contentsOf(file);
  unlink(file.c_str());
  rmdir(directory);
  if (shell.json && !state.empty()) {
    printf("%s", state.c_str());
  } else if (status == 0) {
    printCounters(state);
  }
  return done(shell, status == 0, "mapjob", arguments[0]);
}

}  // namespace qxdfs
