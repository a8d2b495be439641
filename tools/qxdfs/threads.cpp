// The threads a tree's files are copied on: each takes the next file, tells its failures with a
// message context of its own, and stops at an interruption; one progress line for the tree.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "tools/qxdfs/copying.h"
#include "tools/qxdfs/tree.h"

namespace qxdfs {
namespace {

// The threads a tree copy runs on: -t N, else one for each core.
size_t threadsFor(const Shell &shell, size_t files) {
  size_t threads = shell.threads > 0 ? static_cast<size_t>(shell.threads)
                                     : std::max(1u, std::thread::hardware_concurrency());
  return std::max<size_t>(1, std::min(threads, files));
}

}  // namespace

int copyFiles(Shell &shell, const char *command, const std::string &name,
              const std::vector<TreeFile> &files,
              const std::function<int(Shell &worker, const TreeFile &file)> &copyFile) {
  int64_t total = 0;
  for (const TreeFile &file : files) total += file.size;
  Shell quiet = shell;
  quiet.progress = false;
  std::atomic<size_t> next{0}, running{0};
  std::atomic<int64_t> copied{0};
  std::atomic<int> worst{kSucceeded};
  auto work = [&] {
    Session::ThreadMessages own;
    for (size_t i; !interruption() && (i = next++) < files.size();) {
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
  {
    Progress progress(shell, name, total);
    while (running > 0) {
      progress.reach(copied);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  for (std::thread &thread : pool) thread.join();
  if (interruption()) return interrupted(command, name);
  return worst;
}

}  // namespace qxdfs
