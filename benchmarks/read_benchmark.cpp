// Read throughput of a 64 MiB local file through dfslink: the copying hdfsRead (a fresh Java
// array per call) against hdfsPread_jb with one Java array reused, for several chunk sizes.
// Run without -Xcheck:jni.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "dfslink/hdfs/dfslink.h"
#include "hostkernel/hostkernel.h"

namespace {

constexpr int64_t kFileSize = 64 << 20;

double mebibytesPerSecond(int64_t bytes, std::chrono::steady_clock::time_point start) {
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return static_cast<double>(bytes) / (1 << 20) / elapsed.count();
}

}  // namespace

int main() {
  hostkernel::MessageContext messages;
  QXMessageContext *context = messages.get();
  QXKernel *kernel = hostkernel::kernel();
  auto *dfs = static_cast<DfsLinkState *>(kernel->loadExtension(kernel, u"dfslink", 7, context));
  if (!dfs || dfs->jvm->operations.haddpaths(dfs->jvm, context, nullptr) != 0) return 1;
  DfsOperations &ops = dfs->operations;
  JNIEnv *env = dfs->jvm->operations.getJNIEnv(dfs->jvm, context);
  hdfsFS fs = nullptr;
  if (ops.hdfsConnectAsUser(dfs, context, u"local", 0, nullptr, &fs) != 0) return 1;

  const std::u16string path = u"/tmp/qxdfs-read-benchmark.bin";
  int32_t status = 0;
  FileHandle *out =
      ops.hdfsOpenFile(dfs, context, &status, fs, path.c_str(), HDFS_OPEN_WRITE, 0, 0, 0);
  std::vector<char> chunk(1 << 20, 'x');
  for (int64_t written = 0; written < kFileSize; written += 1 << 20) {
    ops.hdfsWrite(dfs, context, &status, fs, out, chunk.data(), 1 << 20);
  }
  ops.hdfsCloseFile(dfs, context, &status, fs, out);

  printf("reading %lld MiB from the local file system\n", static_cast<long long>(kFileSize >> 20));
  for (int32_t size : {4 << 10, 64 << 10, 1 << 20}) {
    std::vector<char> buffer(static_cast<size_t>(size));
    FileHandle *in = ops.hdfsOpenFile(dfs, context, &status, fs, path.c_str(), 0, 0, 0, 0);
    auto start = std::chrono::steady_clock::now();
    int64_t total = 0;
    for (int32_t n; (n = ops.hdfsRead(dfs, context, &status, fs, in, buffer.data(), size)) > 0;) {
      total += n;
    }
    double copying = mebibytesPerSecond(total, start);
    jbyteArray slot = nullptr;
    start = std::chrono::steady_clock::now();
    total = 0;
    for (int32_t n;
         (n = ops.hdfsPread_jb(dfs, context, &status, fs, in, total, &slot, 0, size)) > 0;) {
      total += n;
    }
    double reused = mebibytesPerSecond(total, start);
    env->DeleteLocalRef(slot);
    ops.hdfsCloseFile(dfs, context, &status, fs, in);
    printf("  chunks of %4d KiB: hdfsRead %7.0f MiB/s, hdfsPread_jb %7.0f MiB/s\n", size >> 10,
           copying, reused);
  }
  remove("/tmp/qxdfs-read-benchmark.bin");
  ops.hdfsDisconnect(dfs, context, fs);
  dfs->frame.header.release(dfs);
  return 0;
}
