// What a stream call on one handle costs as more handles are open: hdfsTell and a 4 KiB hdfsRead
// on the handle opened last, with 0, 1,000 and 10,000 other handles open on the local file
// system, then 16 threads each calling on their own handle with 10,000 open. Rounds alternate
// the cases; each figure is the median of the rounds. Run without -Xcheck:jni.
//
//   handles_benchmark [--rounds N]
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dfslink/dfslink.h"
#include "hostkernel/hostkernel.h"

namespace {

constexpr int32_t kChunk = 4096;
constexpr int kReadsBeforeSeek = 256;  // the file holds 1 MiB: back to its start after that
constexpr int kCalls = 200000;

[[noreturn]] void fail(const char *why) {
  fprintf(stderr, "handles_benchmark: %s\n", why);
  exit(1);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Bench {
  DfsLinkState *dfs;
  QXMessageContext *context;
  hdfsFS fs;
  std::u16string path;

  FileHandle *open() {
    int32_t status = 0;
    FileHandle *file =
        dfs->operations.hdfsOpenFile(dfs, context, &status, fs, path.c_str(), 0, 0, 0, 0);
    if (!file) fail("a handle cannot be opened (the limit on open files?)");
    return file;
  }
  void close(FileHandle *file) {
    int32_t status = 0;
    dfs->operations.hdfsCloseFile(dfs, context, &status, fs, file);
  }

  // Nanoseconds a call, over kCalls calls of one kind on one handle.
  double tellCost(FileHandle *file) {
    int32_t status = 0;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; i++) dfs->operations.hdfsTell(dfs, context, &status, fs, file);
    return nanosecondsSince(start) / kCalls;
  }
  double readCost(FileHandle *file, int calls = kCalls / 4) {
    std::vector<char> buffer(kChunk);
    int32_t status = 0;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; i++) {
      if (i % kReadsBeforeSeek == 0) dfs->operations.hdfsSeek(dfs, context, &status, fs, file, 0);
      dfs->operations.hdfsRead(dfs, context, &status, fs, file, buffer.data(), kChunk);
    }
    return nanosecondsSince(start) / calls;
  }
  static double nanosecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
        .count();
  }
};

// The calls of 16 threads, each on its own handle: wall-clock nanoseconds a call, over all.
double threadedCost(Bench &bench, const std::vector<FileHandle *> &handles) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  auto start = std::chrono::steady_clock::now();
  for (FileHandle *file : handles) {
    threads.emplace_back([&, file] {
      ready++;
      while (!go) std::this_thread::yield();
      bench.tellCost(file);
      bench.readCost(file);
      BridgeState *bridge = bench.dfs->jvm;
      bridge->jniExtension->releaseThread(bridge->jniExtension, bridge->jniExtension, nullptr);
    });
  }
  while (ready < static_cast<int>(handles.size())) std::this_thread::yield();
  start = std::chrono::steady_clock::now();
  go = true;
  for (std::thread &thread : threads) thread.join();
  double calls = static_cast<double>(handles.size()) * (kCalls + kCalls / 4);
  return Bench::nanosecondsSince(start) / calls;
}

}  // namespace

int main(int argc, char **argv) {
  int rounds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--rounds") rounds = atoi(argv[i + 1]);
  }
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  int others = static_cast<int>(std::min<rlim_t>(10000, files.rlim_cur - 200));
  std::string directory = "/tmp/qxbench-handles-" + std::to_string(getpid());
  mkdir(directory.c_str(), 0755);
  std::ofstream(directory + "/plain", std::ios::binary) << std::string(1 << 20, 'x');

  hostkernel::MessageContext messages;
  QXMessageContext *context = messages.get();
  QXKernel *kernel = hostkernel::kernel();
  auto *dfs = static_cast<DfsLinkState *>(kernel->loadExtension(kernel, u"dfslink", 7, context));
  if (!dfs) fail("dfslink did not start");
  if (dfs->jvm->operations.haddpaths(dfs->jvm, context, nullptr) != 0) fail("no class path");
  hdfsFS fs = nullptr;
  if (dfs->operations.hdfsConnectAsUser(dfs, context, u"local", 0, nullptr, &fs) != 0) {
    fail("no connection");
  }
  Bench bench{dfs, context, fs, hostkernel::toQXChar(directory + "/plain")};

  // For each count: that many other handles open, then the measured one opened last.
  const std::vector<int> counts = {0, 1000, others};
  std::vector<double> tell(counts.size()), read(counts.size());
  std::vector<FileHandle *> opened;
  for (size_t k = 0; k < counts.size(); k++) {
    while (static_cast<int>(opened.size()) < counts[k]) opened.push_back(bench.open());
    FileHandle *last = bench.open();
    bench.tellCost(last);  // warm-up
    bench.readCost(last);
    std::vector<double> tells, reads;
    for (int round = 0; round < rounds; round++) {
      tells.push_back(bench.tellCost(last));
      reads.push_back(bench.readCost(last));
    }
    tell[k] = median(tells);
    read[k] = median(reads);
    bench.close(last);
  }
  std::vector<FileHandle *> threadHandles;
  for (int i = 0; i < 16; i++) threadHandles.push_back(bench.open());
  std::vector<double> threaded;
  for (int round = 0; round < rounds; round++)
    threaded.push_back(threadedCost(bench, threadHandles));

  printf("| other handles open | hdfsTell ns | ratio | 4 KiB hdfsRead ns | ratio |\n");
  printf("|--------------------|-------------|-------|-------------------|-------|\n");
  for (size_t k = 0; k < counts.size(); k++) {
    printf("| %18d | %11.0f | %5.2f | %17.0f | %5.2f |\n", counts[k], tell[k], tell[k] / tell[0],
           read[k], read[k] / read[0]);
  }
  printf(
      "16 threads, each on its own handle, %zu open: %.0f ns a call (tell and read, wall "
      "clock over all threads)\n",
      opened.size() + threadHandles.size(), median(threaded));
  for (FileHandle *file : threadHandles) bench.close(file);
  for (FileHandle *file : opened) bench.close(file);
  dfs->operations.hdfsDisconnect(dfs, context, fs);
  dfs->frame.header.release(dfs);
  std::remove((directory + "/plain").c_str());
  rmdir(directory.c_str());
  return 0;
}
