// dfslink beside Hadoop's Java client, in one JVM, on the same FileSystem objects and files:
// sequential reads, copying and Java-array positioned reads, writes and uploads on the local file
// system and the embedded HDFS, then qxdfs get and put against the Java client's own copy, each
// a process. Rounds are interleaved and the median of their ratios is shown, so that only
// ratios matter on a noisy machine. With --writers, instead: files per second of 1, 2, 4 and 8
// threads each writing 1 KiB files, and of hdfsCopy against FileUtil.copy of small files, as an
// engine with many writers sees them. Run without -Xcheck:jni.
//
//   side_by_side [--rounds N] [--size MIB] [--copy-size MIB]
//   side_by_side --writers [--files N]
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dfslink/dfslink.h"
#include "hostkernel/hostkernel.h"
#include "tools/embedded_cluster.h"

namespace {

// Both sides write new files with these, as Hadoop's shell does by default.
constexpr int16_t kReplication = 3;
constexpr int32_t kBlockSize = 128 << 20;

struct Settings {
  bool writers = false;  // the many-writers table instead
  int files = 2000;      // the small files each writers row makes
  int rounds = 7;
  int64_t size = 256 << 20;      // the file read and written in one JVM
  int64_t copySize = 1LL << 30;  // the file qxdfs and the Java client copy
};

double secondsOf(const std::function<void()> &work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Both sides' throughput and the median of the ratios of each round's pair of runs: the runs of
// a pair are next to each other in time, so a slow spell of the machine touches both.
struct Comparison {
  double ours, theirs, ratio;  // MiB/s, MiB/s, ours / theirs
};

// Runs both sides in turn, alternating which goes first. In one JVM, a first pass that is not
// counted lets the JIT compile both sides' paths first.
Comparison interleaved(int rounds, int64_t bytes, const std::function<void()> &dfslink,
                       const std::function<void()> &java, bool warmUp = true) {
  if (warmUp) {
    dfslink();
    java();
  }
  std::vector<double> ours, theirs, ratios;
  for (int round = 0; round < rounds; round++) {
    double mine = 0, other = 0;
    if (round % 2 == 0) {
      mine = secondsOf(dfslink);
      other = secondsOf(java);
    } else {
      other = secondsOf(java);
      mine = secondsOf(dfslink);
    }
    double mebibytes = static_cast<double>(bytes) / (1 << 20);
    ours.push_back(mebibytes / mine);
    theirs.push_back(mebibytes / other);
    ratios.push_back(other / mine);
  }
  return {median(ours), median(theirs), median(ratios)};
}

void printRow(const std::string &fs, const std::string &operation, const std::string &chunk,
              const Comparison &comparison) {
  printf("| %-6s | %-28s | %6s | %13.0f | %10.0f | %5.2f |\n", fs.c_str(), operation.c_str(),
         chunk.c_str(), comparison.ours, comparison.theirs, comparison.ratio);
  fflush(stdout);
}

std::string chunkName(int32_t chunk) {
  return chunk >= (1 << 20) ? std::to_string(chunk >> 20) + " MiB"
                            : std::to_string(chunk >> 10) + " KiB";
}

void fail(const char *what) {
  fprintf(stderr, "side_by_side: %s\n", what);
  exit(1);
}

// The JNI side: Hadoop's objects made directly, and the Java loops of JavaSide.
class Java {
 public:
  explicit Java(JNIEnv *env) : env_(env) {
    side_ = global(env->FindClass("qxbench/JavaSide"));
    path_ = global(env->FindClass("org/apache/hadoop/fs/Path"));
    fileSystem_ = global(env->FindClass("org/apache/hadoop/fs/FileSystem"));
    inputStream_ = global(env->FindClass("org/apache/hadoop/fs/FSDataInputStream"));
    outputStream_ = global(env->FindClass("org/apache/hadoop/fs/FSDataOutputStream"));
    if (!side_ || !path_ || !fileSystem_) fail("the Java side's classes are missing");
  }

  jobject open(jobject fs, const std::string &name) {
    jobject path = pathOf(name);
    jmethodID method = env_->GetMethodID(fileSystem_, "open",
                                         "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/"
                                         "FSDataInputStream;");
    jobject stream = env_->CallObjectMethod(fs, method, path);
    check();
    env_->DeleteLocalRef(path);
    return stream;
  }
  // A small file made by the Java client: create, one write, close.
  void writeSmall(jobject fs, const std::string &name, jbyteArray bytes) {
    jobject out = create(fs, name);
    jmethodID write = env_->GetMethodID(outputStream_, "write", "([BII)V");
    env_->CallVoidMethod(out, write, bytes, 0, env_->GetArrayLength(bytes));
    check();
    close(out, false);
  }
  // FileUtil.copy of one file within a file system, with the file system's own configuration.
  void copy(jobject fs, const std::string &from, const std::string &to) {
    jobject source = pathOf(from), target = pathOf(to);
    jclass util = env_->FindClass("org/apache/hadoop/fs/FileUtil");
    jmethodID getConf =
        env_->GetMethodID(fileSystem_, "getConf", "()Lorg/apache/hadoop/conf/Configuration;");
    jobject conf = env_->CallObjectMethod(fs, getConf);
    jmethodID copyMethod = env_->GetStaticMethodID(
        util, "copy",
        "(Lorg/apache/hadoop/fs/FileSystem;Lorg/apache/hadoop/fs/Path;Lorg/apache/hadoop/fs/"
        "FileSystem;Lorg/apache/hadoop/fs/Path;ZLorg/apache/hadoop/conf/Configuration;)Z");
    env_->CallStaticBooleanMethod(util, copyMethod, fs, source, fs, target, JNI_FALSE, conf);
    check();
    for (jobject local : {source, target, static_cast<jobject>(util), conf}) {
      env_->DeleteLocalRef(local);
    }
  }
  jobject create(jobject fs, const std::string &name) {
    jobject path = pathOf(name);
    jmethodID method = env_->GetMethodID(fileSystem_, "create",
                                         "(Lorg/apache/hadoop/fs/Path;ZISJ)Lorg/apache/hadoop/fs/"
                                         "FSDataOutputStream;");
    jobject stream = env_->CallObjectMethod(fs, method, path, JNI_TRUE, jint{4096},
                                            jshort{kReplication}, jlong{kBlockSize});
    check();
    env_->DeleteLocalRef(path);
    return stream;
  }
  void close(jobject stream, bool input) {
    jmethodID method = env_->GetMethodID(input ? inputStream_ : outputStream_, "close", "()V");
    env_->CallVoidMethod(stream, method);
    check();
    env_->DeleteLocalRef(stream);
  }
  // A static method of JavaSide with a long result.
  template <typename... Arguments>
  jlong side(const char *method, const char *descriptor, Arguments... arguments) {
    jmethodID id = env_->GetStaticMethodID(side_, method, descriptor);
    jlong result = env_->CallStaticLongMethod(side_, id, arguments...);
    check();
    return result;
  }
  template <typename... Arguments>
  void sideVoid(const char *method, const char *descriptor, Arguments... arguments) {
    jmethodID id = env_->GetStaticMethodID(side_, method, descriptor);
    env_->CallStaticVoidMethod(side_, id, arguments...);
    check();
  }
  JNIEnv *env() { return env_; }
  jmethodID readMethod() { return env_->GetMethodID(inputStream_, "read", "([BII)I"); }

 private:
  jclass global(jclass local) {
    if (!local) return nullptr;
    auto reference = static_cast<jclass>(env_->NewGlobalRef(local));
    env_->DeleteLocalRef(local);
    return reference;
  }
  jobject pathOf(const std::string &name) {
    jstring text = env_->NewStringUTF(name.c_str());  // ASCII paths of the benchmark
    jobject path =
        env_->NewObject(path_, env_->GetMethodID(path_, "<init>", "(Ljava/lang/String;)V"), text);
    env_->DeleteLocalRef(text);
    return path;
  }
  void check() {
    if (env_->ExceptionCheck()) {
      env_->ExceptionDescribe();
      fail("a Java call failed");
    }
  }

  JNIEnv *env_;
  jclass side_ = nullptr, path_ = nullptr, fileSystem_ = nullptr;
  jclass inputStream_ = nullptr, outputStream_ = nullptr;
};

class Bench {
 public:
  Bench(const Settings &settings, DfsLinkState *dfs, QXMessageContext *context, Java &java)
      : settings_(settings), dfs_(dfs), ops_(dfs->operations), context_(context), java_(java) {}

  FileHandle *open(hdfsFS fs, const std::string &path, int32_t flags) {
    int32_t status = 0;
    std::u16string text = hostkernel::toQXChar(path);
    bool write = flags == HDFS_OPEN_WRITE;
    FileHandle *file = ops_.hdfsOpenFile(dfs_, context_, &status, fs, text.c_str(), flags, 4096,
                                         write ? kReplication : 0, write ? kBlockSize : 0);
    if (!file) fail("a file cannot be opened through dfslink");
    return file;
  }
  void close(hdfsFS fs, FileHandle *file) {
    int32_t status = 0;
    if (ops_.hdfsCloseFile(dfs_, context_, &status, fs, file) != 0) fail("a close failed");
  }

  void write(hdfsFS fs, const std::string &path, int64_t bytes, int32_t chunk) {
    std::vector<char> buffer(static_cast<size_t>(chunk), 'w');
    FileHandle *out = open(fs, path, HDFS_OPEN_WRITE);
    int32_t status = 0;
    for (int64_t done = 0; done < bytes; done += chunk) {
      if (ops_.hdfsWrite(dfs_, context_, &status, fs, out, buffer.data(), chunk) != chunk) {
        fail("a write failed");
      }
    }
    close(fs, out);
  }

  void readRows(const std::string &name, hdfsFS fs, const std::string &path) {
    for (int32_t chunk : {4 << 10, 64 << 10, 1 << 20}) {
      std::vector<char> buffer(static_cast<size_t>(chunk));
      JNIEnv *env = java_.env();
      jbyteArray array = env->NewByteArray(chunk);
      auto dfslinkRead = [&] {
        FileHandle *in = open(fs, path, 0);
        int32_t status = 0;
        int64_t total = 0;
        for (int32_t n;
             (n = ops_.hdfsRead(dfs_, context_, &status, fs, in, buffer.data(), chunk)) > 0;) {
          total += n;
        }
        close(fs, in);
        if (total != settings_.size) fail("a read came short");
      };
      auto javaRead = [&](bool toNative) {
        jobject in = java_.open(fs, path);
        jobject nativeMemory = env->NewDirectByteBuffer(buffer.data(), chunk);
        jlong total = toNative ? java_.side("readToNative",
                                            "(Lorg/apache/hadoop/fs/FSDataInputStream;[B"
                                            "Ljava/nio/ByteBuffer;)J",
                                            in, array, nativeMemory)
                               : java_.side("read", "(Lorg/apache/hadoop/fs/FSDataInputStream;[B)J",
                                            in, array);
        env->DeleteLocalRef(nativeMemory);
        java_.close(in, true);
        if (total != settings_.size) fail("a Java read came short");
      };
      printRow(
          name, "read", chunkName(chunk),
          interleaved(settings_.rounds, settings_.size, dfslinkRead, [&] { javaRead(false); }));
      printRow(name, "read (Java copies to native)", chunkName(chunk),
               interleaved(settings_.rounds, settings_.size, dfslinkRead, [&] { javaRead(true); }));
      // The floor of any call per read through JNI: a bare call with a cached method id and the
      // copy out, without dfslink, against the same Java loop.
      jmethodID readMethod = java_.readMethod();
      auto bareRead = [&] {
        jobject in = java_.open(fs, path);
        int64_t total = 0;
        for (jint n; (n = env->CallIntMethod(in, readMethod, array, 0, chunk)) > 0;) {
          env->GetByteArrayRegion(array, 0, n, reinterpret_cast<jbyte *>(buffer.data()));
          total += n;
        }
        java_.close(in, true);
        if (total != settings_.size) fail("a bare JNI read came short");
      };
      printRow(name, "bare JNI read + copy vs Java", chunkName(chunk),
               interleaved(settings_.rounds, settings_.size, bareRead, [&] { javaRead(false); }));
      // Positioned reads build a block reader each: small ones cover less of the file.
      int64_t preadBytes = std::min<int64_t>(settings_.size, 512LL * chunk);
      auto javaPread = [&] {
        jobject in = java_.open(fs, path);
        java_.side("pread", "(Lorg/apache/hadoop/fs/FSDataInputStream;[BJ)J", in, array,
                   static_cast<jlong>(preadBytes));
        java_.close(in, true);
      };
      auto dfslinkPread = [&](bool javaArray) {
        FileHandle *in = open(fs, path, 0);
        int32_t status = 0;
        jbyteArray slot = nullptr;
        for (int64_t at = 0; at < preadBytes;) {
          int32_t n =
              javaArray ? ops_.hdfsPread_jb(dfs_, context_, &status, fs, in, at, &slot, 0, chunk)
                        : ops_.hdfsPread(dfs_, context_, &status, fs, in, at, buffer.data(), chunk);
          if (n <= 0) fail("a pread failed");
          at += n;
        }
        if (slot) env->DeleteLocalRef(slot);
        close(fs, in);
      };
      printRow(name, "pread (copying)", chunkName(chunk),
               interleaved(
                   settings_.rounds, preadBytes, [&] { dfslinkPread(false); }, javaPread));
      printRow(name, "pread (_jb)", chunkName(chunk),
               interleaved(
                   settings_.rounds, preadBytes, [&] { dfslinkPread(true); }, javaPread));
      auto javaWrite = [&] {
        jobject out = java_.create(fs, path + ".java-written");
        java_.sideVoid("write", "(Lorg/apache/hadoop/fs/FSDataOutputStream;[BJ)V", out, array,
                       static_cast<jlong>(settings_.size));
        java_.close(out, false);
      };
      printRow(name, "write", chunkName(chunk),
               interleaved(
                   settings_.rounds, settings_.size,
                   [&] { write(fs, path + ".written", settings_.size, chunk); }, javaWrite));
      env->DeleteLocalRef(array);
    }
  }

  void uploadRow(const std::string &name, hdfsFS fs, const std::string &local,
                 const std::string &destination) {
    JNIEnv *env = java_.env();
    auto dfslinkUpload = [&] {
      int32_t status = 0;
      std::u16string from = hostkernel::toQXChar(local), to = hostkernel::toQXChar(destination);
      if (ops_.hdfsCopyFromLocal(dfs_, context_, &status, from.c_str(), fs, to.c_str(), 0,
                                 kReplication, kBlockSize) != 0) {
        fail("an upload failed");
      }
    };
    auto javaUpload = [&] {
      jstring from = env->NewStringUTF(local.c_str());
      jstring to = env->NewStringUTF((destination + ".java").c_str());
      java_.sideVoid("copyFromLocal",
                     "(Lorg/apache/hadoop/fs/FileSystem;Ljava/lang/String;Ljava/lang/String;)V", fs,
                     from, to);
      env->DeleteLocalRef(from);
      env->DeleteLocalRef(to);
    };
    printRow(name, "hdfsCopyFromLocal", "-",
             interleaved(settings_.rounds, settings_.size, dfslinkUpload, javaUpload));
  }

 private:
  const Settings &settings_;
  DfsLinkState *dfs_;
  DfsOperations &ops_;
  QXMessageContext *context_;
  Java &java_;
};

using MakeFile = std::function<void(JNIEnv *, QXMessageContext *, int)>;

// The seconds threads take to make files first to first + count - 1 between them, each thread
// with its own JNI environment and message context.
double secondsFor(BridgeOperations &bridge, BridgeState *jvm, int threads, int first, int count,
                  const MakeFile &makeOne) {
  return secondsOf([&] {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; t++) {
      workers.emplace_back([&, t] {
        hostkernel::MessageContext messages;
        JNIEnv *env = bridge.getJNIEnv(jvm, messages.get());
        if (!env) fail("a thread has no JNI environment");
        for (int i = first + t; i < first + count; i += threads) makeOne(env, messages.get(), i);
      });
    }
    for (std::thread &worker : workers) worker.join();
  });
}

// Files per second of each side, in rounds that alternate which side goes first, so that a slow
// spell of the cluster touches both.
std::pair<double, double> interleavedFiles(BridgeOperations &bridge, BridgeState *jvm, int threads,
                                           int files, const MakeFile &ours,
                                           const MakeFile &theirs) {
  constexpr int kRounds = 4;
  double ourSeconds = 0, theirSeconds = 0;
  int share = files / kRounds;
  for (int round = 0; round < kRounds; round++) {
    int first = round * share;
    if (round % 2 == 0) {
      ourSeconds += secondsFor(bridge, jvm, threads, first, share, ours);
      theirSeconds += secondsFor(bridge, jvm, threads, first, share, theirs);
    } else {
      theirSeconds += secondsFor(bridge, jvm, threads, first, share, theirs);
      ourSeconds += secondsFor(bridge, jvm, threads, first, share, ours);
    }
  }
  return {kRounds * share / ourSeconds, kRounds * share / theirSeconds};
}

void printWritersRow(const std::string &operation, int threads, double ours, double theirs) {
  printf("| %-30s | %7d | %15.1f | %12.1f | %5.2f |\n", operation.c_str(), threads, ours, theirs,
         ours / theirs);
  fflush(stdout);
}

// The many-writers table: 1 KiB files through hdfsOpenFile/hdfsWrite/hdfsCloseFile against the
// Java client's create/write/close, at 1, 2, 4 and 8 threads, then hdfsCopy of the files made
// against FileUtil.copy, one thread each. Each pair alternates which side goes first.
void writersRows(const Settings &settings, DfsLinkState *dfs, hdfsFS remote) {
  BridgeOperations &bridge = dfs->jvm->operations;
  DfsOperations &ops = dfs->operations;
  std::vector<char> kib(1024, 'k');
  auto dfslinkFile = [&](QXMessageContext *context, const std::string &name) {
    int32_t status = 0;
    std::u16string path = hostkernel::toQXChar(name);
    FileHandle *out = ops.hdfsOpenFile(dfs, context, &status, remote, path.c_str(), HDFS_OPEN_WRITE,
                                       0, kReplication, kBlockSize);
    if (!out || ops.hdfsWrite(dfs, context, &status, remote, out, kib.data(), 1024) != 1024 ||
        ops.hdfsCloseFile(dfs, context, &status, remote, out) != 0) {
      fail("a small file could not be written through dfslink");
    }
  };
  auto javaFile = [&](JNIEnv *env, const std::string &name) {
    Java java(env);
    jbyteArray bytes = env->NewByteArray(1024);
    java.writeSmall(remote, name, bytes);
    env->DeleteLocalRef(bytes);
  };
  // A pass of each side that is not counted: the JIT, the connection and the data nodes'
  // pipelines warm up before the first row.
  interleavedFiles(
      bridge, dfs->jvm, 1, settings.files / 10,
      [&](JNIEnv *, QXMessageContext *context, int i) {
        dfslinkFile(context, "/writers/warm/d/" + std::to_string(i));
      },
      [&](JNIEnv *env, QXMessageContext *, int i) {
        javaFile(env, "/writers/warm/j/" + std::to_string(i));
      });
  printf("| operation                      | threads | dfslink files/s | Java files/s | ratio |\n");
  printf("|--------------------------------|---------|-----------------|--------------|-------|\n");
  for (int threads : {1, 2, 4, 8}) {
    std::string root = "/writers/" + std::to_string(threads);
    auto [ours, theirs] = interleavedFiles(
        bridge, dfs->jvm, threads, settings.files,
        [&](JNIEnv *, QXMessageContext *context, int i) {
          dfslinkFile(context, root + "/d/" + std::to_string(i));
        },
        [&](JNIEnv *env, QXMessageContext *, int i) {
          javaFile(env, root + "/j/" + std::to_string(i));
        });
    printWritersRow("1 KiB files: open, write, close", threads, ours, theirs);
  }
  auto [ours, theirs] = interleavedFiles(
      bridge, dfs->jvm, 1, settings.files,
      [&](JNIEnv *, QXMessageContext *context, int i) {
        int32_t status = 0;
        std::u16string from = hostkernel::toQXChar("/writers/1/d/" + std::to_string(i)),
                       to = hostkernel::toQXChar("/copies/d/" + std::to_string(i));
        if (ops.hdfsCopy(dfs, context, &status, remote, from.c_str(), remote, to.c_str()) != 0) {
          fail("an hdfsCopy failed");
        }
      },
      [&](JNIEnv *env, QXMessageContext *, int i) {
        Java(env).copy(remote, "/writers/1/j/" + std::to_string(i),
                       "/copies/j/" + std::to_string(i));
      });
  printWritersRow("hdfsCopy vs FileUtil.copy", 1, ours, theirs);
}

// A process's wall time; exits the benchmark when it fails.
double processSeconds(const std::string &command) {
  return secondsOf([&] {
    if (system(command.c_str()) != 0) fail(command.c_str());
  });
}

void copyRows(const Settings &settings, const std::string &uri, const std::string &local) {
  std::string java = std::string(getenv("JAVA_HOME") ? getenv("JAVA_HOME") : "/usr") + "/bin/java";
  std::string classPath = std::string(QX_BENCHMARK_JAR) + ":" + QX_HADOOP_LIB_DIR + "/*";
  std::string quiet = " >/dev/null 2>&1";
  std::string qxdfs = std::string(QX_QXDFS) + " --fs " + uri;
  std::string client = java + " -cp '" + classPath + "' qxbench.JavaSide";
  // Each run is a process of its own: nothing to warm up.
  auto run = [&](const std::string &command) { processSeconds(command + quiet); };
  printRow("hdfs", "qxdfs put (process)", "-",
           interleaved(
               settings.rounds, settings.copySize,
               [&] { run(qxdfs + " put " + local + " /copy/qxdfs"); },
               [&] { run(client + " put " + local + " " + uri + " /copy/java"); }, false));
  printRow("hdfs", "qxdfs get (process)", "-",
           interleaved(
               settings.rounds, settings.copySize,
               [&] { run(qxdfs + " get /copy/qxdfs " + local + ".qxdfs"); },
               [&] { run(client + " get " + uri + " /copy/qxdfs " + local + ".java"); }, false));
  remove((local + ".qxdfs").c_str());
  remove((local + ".java").c_str());
}

void writeLocalFile(const std::string &path, int64_t size) {
  std::ofstream out(path, std::ios::binary);
  std::vector<char> block(1 << 20);
  for (size_t i = 0; i < block.size(); i++) block[i] = static_cast<char>(i * 31 + 7);
  for (int64_t done = 0; done < size; done += static_cast<int64_t>(block.size())) {
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
}

}  // namespace

int main(int argc, char **argv) {
  Settings settings;
  for (int i = 1; i < argc; i++) {
    std::string option = argv[i];
    if (option == "--writers") {
      settings.writers = true;
      continue;
    }
    if (i + 1 >= argc) break;
    int value = atoi(argv[++i]);
    if (option == "--files") settings.files = value;
    if (option == "--rounds") settings.rounds = value;
    if (option == "--size") settings.size = static_cast<int64_t>(value) << 20;
    if (option == "--copy-size") settings.copySize = static_cast<int64_t>(value) << 20;
  }
  EmbeddedCluster hdfs;
  if (!hdfs.start()) fail(hdfs.error().c_str());
  hostkernel::MessageContext messages;
  QXMessageContext *context = messages.get();
  QXKernel *kernel = hostkernel::kernel();
  auto *dfs = static_cast<DfsLinkState *>(kernel->loadExtension(kernel, u"dfslink", 7, context));
  if (!dfs) fail("dfslink did not start");
  BridgeOperations &bridge = dfs->jvm->operations;
  if (bridge.haddpaths(dfs->jvm, context, nullptr) != 0 ||
      bridge.haddpath(dfs->jvm, context, QX_BENCHMARK_JAR) != 0) {
    fail("the class path cannot be set");
  }
  JNIEnv *env = bridge.getJNIEnv(dfs->jvm, context);
  Java java(env);
  DfsOperations &ops = dfs->operations;
  hdfsFS local = nullptr, remote = nullptr;
  std::u16string host = hostkernel::toQXChar("127.0.0.1");
  if (ops.hdfsConnectAsUser(dfs, context, u"local", 0, nullptr, &local) != 0 ||
      ops.hdfsConnectAsUser(dfs, context, host.c_str(), hdfs.port(), nullptr, &remote) != 0) {
    fail("no connection");
  }
  if (settings.writers) {
    writersRows(settings, dfs, remote);
    ops.hdfsDisconnect(dfs, context, local);
    ops.hdfsDisconnect(dfs, context, remote);
    dfs->frame.header.release(dfs);
    return 0;
  }
  std::string directory = "/tmp/qxbench-" + std::to_string(getpid());
  mkdir(directory.c_str(), 0755);
  Bench bench(settings, dfs, context, java);
  bench.write(local, directory + "/data", settings.size, 1 << 20);
  bench.write(remote, "/bench/data", settings.size, 1 << 20);
  printf(
      "| fs     | operation                    | chunk  | dfslink MiB/s | Java MiB/s | ratio |\n");
  printf(
      "|--------|------------------------------|--------|---------------|------------|-------|\n");
  bench.readRows("local", local, directory + "/data");
  bench.readRows("hdfs", remote, "/bench/data");
  bench.uploadRow("hdfs", remote, directory + "/data", "/bench/uploaded");
  ops.hdfsDisconnect(dfs, context, local);
  ops.hdfsDisconnect(dfs, context, remote);
  dfs->frame.header.release(dfs);
  writeLocalFile(directory + "/copy", settings.copySize);
  copyRows(settings, hdfs.uri(), directory + "/copy");
  std::string cleanUp = "rm -rf " + directory;
  return system(cleanUp.c_str()) == 0 ? 0 : 1;
}
