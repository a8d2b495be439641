// Sixteen threads at once on the embedded HDFS and the local file system: connecting, writing,
// reading, seeking, closing and disconnecting, reading handles other threads own while they
// close them, and passing handles already closed. Every byte read is checked, every refusal
// must be a clean status, and nothing may be left at the end.
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <random>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

constexpr int kThreads = 16;
constexpr size_t kStaleKept = 256;  // far fewer than the closed handles the module keeps

// The byte at a position of a file: every reader can check what it got.
char byteOf(uint32_t file, int64_t position) {
  return static_cast<char>((file * 131 + position * 7 + (position >> 9)) & 0xFF);
}

std::string contentOf(uint32_t file, int64_t from, size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; i++) bytes[i] = byteOf(file, from + static_cast<int64_t>(i));
  return bytes;
}

struct Published {
  FileHandle *handle;
  uint32_t file;
  int64_t size;
};

// What the threads share: handles open for anyone to read, and handles already closed.
class Shared {
 public:
  void publish(const Published &entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.push_back(entry);
  }
  void withdraw(FileHandle *handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(std::remove_if(open_.begin(), open_.end(),
                               [&](const Published &entry) { return entry.handle == handle; }),
                open_.end());
  }
  bool pickOpen(std::mt19937 &random, Published &entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_.empty()) return false;
    entry = open_[random() % open_.size()];
    return true;
  }
  void closed(FileHandle *handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    stale_.push_back(handle);
    if (stale_.size() > kStaleKept) stale_.pop_front();
  }
  FileHandle *pickStale(std::mt19937 &random) {
    std::lock_guard<std::mutex> lock(mutex_);
    return stale_.empty() ? nullptr : stale_[random() % stale_.size()];
  }

 private:
  std::mutex mutex_;
  std::vector<Published> open_;
  std::deque<FileHandle *> stale_;
};

class StressTest : public HadoopTest {
 protected:
  void worker(int index, Shared &shared, std::chrono::steady_clock::time_point end);

  std::atomic<int64_t> operations{0};
  std::atomic<int> wrongBytes{0};
  std::atomic<int> unexpected{0};
  std::atomic<uint32_t> nextFile{1};
  std::string localRoot;
};

// Writes a file in chunks of varying size; false on any failure.
bool writeFile(DfsOperations &op, DfsLinkState *dfs, QXMessageContext *context, hdfsFS fs,
               const std::u16string &path, uint32_t file, int64_t size, std::mt19937 &random,
               Shared &shared) {
  int32_t status = 0;
  FileHandle *out =
      op.hdfsOpenFile(dfs, context, &status, fs, path.c_str(), HDFS_OPEN_WRITE, 0, 0, 0);
  if (!out) return false;
  std::string data = contentOf(file, 0, static_cast<size_t>(size));
  bool written = true;
  for (int64_t done = 0; done < size;) {
    int32_t chunk = static_cast<int32_t>(std::min<int64_t>(size - done, 16384 + random() % 50000));
    written &= op.hdfsWrite(dfs, context, &status, fs, out, data.data() + done, chunk) == chunk;
    done += chunk;
  }
  written &= op.hdfsCloseFile(dfs, context, &status, fs, out) == 0;
  shared.closed(out);
  return written;
}

// One thread's work until the end time; every unexpected result is counted.
void StressTest::worker(int index, Shared &shared, std::chrono::steady_clock::time_point end) {
  hostkernel::MessageContext messages(nullptr);
  QXMessageContext *context = messages.get();
  DfsOperations &op = ops();
  std::mt19937 random(static_cast<unsigned>(index));
  bool onHdfs = index % 2 == 0;
  std::string root =
      onHdfs ? "/stress/" + std::to_string(index) : localRoot + "/" + std::to_string(index);
  auto count = [&] { operations++; };
  auto expectStatus = [&](int32_t status, std::initializer_list<uint32_t> allowed) {
    for (uint32_t code : allowed) {
      if (status == static_cast<int32_t>(code)) return;
    }
    unexpected++;
  };
  hdfsFS fs = nullptr;
  std::vector<std::tuple<std::u16string, uint32_t, int64_t>> written;
  while (std::chrono::steady_clock::now() < end) {
    if (!fs) {
      int32_t connected =
          onHdfs ? op.hdfsConnectAsUser(dfs, context, u"127.0.0.1", testHdfs().port(), nullptr, &fs)
                 : op.hdfsConnectAsUser(dfs, context, u"local", 0, nullptr, &fs);
      count();
      if (connected != 0) unexpected++;
      if (!fs) break;
    }
    // A new file now and then (a close on HDFS waits for its blocks); mostly one written before.
    if (written.empty() || random() % 4 == 0) {
      uint32_t file = nextFile++;
      int64_t size = static_cast<int64_t>(random() % (192 << 10)) + 1;
      std::u16string path = qx(root + "/f" + std::to_string(file));
      if (writeFile(op, dfs, context, fs, path, file, size, random, shared)) {
        written.push_back({path, file, size});
      } else {
        unexpected++;
      }
      operations += 3 + size / 16384;
    }
    const auto &[path, file, size] = written[random() % written.size()];
    std::string data = contentOf(file, 0, static_cast<size_t>(size));
    int32_t status = 0;
    FileHandle *in = op.hdfsOpenFile(dfs, context, &status, fs, path.c_str(), 0, 0, 0, 0);
    count();
    if (!in) {
      unexpected++;
      continue;
    }
    shared.publish({in, file, size});
    std::vector<char> buffer(65536);
    std::string got;
    for (int32_t n; (n = op.hdfsRead(dfs, context, &status, fs, in, buffer.data(),
                                     static_cast<int32_t>(random() % 65536) + 1)) > 0;) {
      count();
      got.append(buffer.data(), static_cast<size_t>(n));
    }
    count();
    if (got != data) wrongBytes++;
    int64_t at = static_cast<int64_t>(random() % size);
    if (op.hdfsSeek(dfs, context, &status, fs, in, at) != 0 ||
        op.hdfsTell(dfs, context, &status, fs, in) != at) {
      unexpected++;
    }
    operations += 2;

    // Someone's open handle, perhaps being closed at this very moment.
    Published other{};
    if (shared.pickOpen(random, other)) {
      int64_t position = static_cast<int64_t>(random() % other.size);
      int32_t length = static_cast<int32_t>(std::min<int64_t>(other.size - position, 8192));
      status = 0;
      int32_t n =
          op.hdfsPread(dfs, context, &status, fs, other.handle, position, buffer.data(), length);
      count();
      if (n > 0 && std::string(buffer.data(), static_cast<size_t>(n)) !=
                       contentOf(other.file, position, static_cast<size_t>(n))) {
        wrongBytes++;
      }
      if (n < 0) expectStatus(status, {0x86BFF802, 0x86BFF814});
    }
    // A handle closed before: refused without being used.
    if (FileHandle *stale = shared.pickStale(random)) {
      status = 0;
      if (op.hdfsRead(dfs, context, &status, fs, stale, buffer.data(), 16) != -1) unexpected++;
      count();
      expectStatus(status, {0x86BFF802});
    }
    // Half the time the handle is closed while it is still published.
    bool closeWhilePublished = random() % 2 == 0;
    if (!closeWhilePublished) shared.withdraw(in);
    if (op.hdfsCloseFile(dfs, context, &status, fs, in) != 0) unexpected++;
    count();
    if (closeWhilePublished) shared.withdraw(in);
    shared.closed(in);
    if (random() % 8 == 0) {
      if (op.hdfsDisconnect(dfs, context, fs) != 0) unexpected++;
      count();
      fs = nullptr;
    }
    messages.clear();
  }
  if (fs && op.hdfsDisconnect(dfs, context, fs) != 0) unexpected++;
  QXJniExtension *jni = dfs->jvm->jniExtension;
  jni->releaseThread(jni, jni, nullptr);
}

TEST_F(StressTest, SixteenThreadsOnBothFileSystems) {
  const char *configured = getenv("QX_STRESS_SECONDS");
  int seconds = std::clamp(configured ? atoi(configured) : 10, 1, 30);
  localRoot = temporaryDirectory();
  hostkernel::Counters before = hostkernel::liveCounters();
  Shared shared;
  auto start = std::chrono::steady_clock::now();
  auto end = start + std::chrono::seconds(seconds);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; i++) {
    threads.emplace_back([this, i, &shared, end] { worker(i, shared, end); });
  }
  for (std::thread &thread : threads) thread.join();
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  printf("[ stress   ] %d threads, %.1f s: %lld operations, %.0f per second\n", kThreads, elapsed,
         static_cast<long long>(operations.load()), operations / elapsed);
  EXPECT_EQ(wrongBytes, 0);
  EXPECT_EQ(unexpected, 0);
  EXPECT_EQ(dfs->openFiles.count, 0);
  hostkernel::Counters after = hostkernel::liveCounters();
  EXPECT_EQ(after.attachedThreads, before.attachedThreads);
  EXPECT_EQ(after.mutexes, before.mutexes);
  removeTree(localRoot);
}

}  // namespace
}  // namespace testsupport
