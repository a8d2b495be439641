// The fault sweep: each operation of both modules is run once to count the fault points it
// passes (pool allocations, mutexes, thread attachments, conversions and the JVM's own JNI
// functions), then once more for every point with that point failed. Each run must end in a
// clean failure with a report or in a success whose results are right, with nothing left
// behind, nothing pending, and the module working for the next call.
#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

// A quiet failure is one the operation signals only through its status out-value or the Java
// exception it hands back, as it is meant to.
enum class Outcome { Succeeded, Failed, FailedQuietly, Lied };

struct SweptOperation {
  std::string what;
  std::function<Outcome()> run;
  std::function<void()> prepare = [] {};  // before each run, without faults
  std::function<void()> undo = [] {};     // after each run, without faults
  bool onNewThread = false;               // the operation is a thread's first request
  bool slow = false;  // a run takes seconds: the next call is tried once, after the sweep
};

Outcome outcomeOf(const void *result) {
  return result ? Outcome::Succeeded : Outcome::Failed;
}

Outcome outcomeOf(bool succeeded) {
  return succeeded ? Outcome::Succeeded : Outcome::Failed;
}

class FaultSweepTest : public HadoopTest {
 protected:
  void SetUp() override {
    HadoopTest::SetUp();
    silenceJavaErrors(true);
    directory = temporaryDirectory();
    local = connect(u"local", 0);
    hdfs = connectHdfs();
    writeAll(local, directory + "/data", kData);
    writeAll(hdfs, "/sweep/data", kData);
    messages.clear();
  }
  void TearDown() override {
    silenceJavaErrors(false);
    removeTree(directory);
    HadoopTest::TearDown();
  }

  // Java's own print-out of each described exception would fill the log.
  void silenceJavaErrors(bool silent) {
    hostkernel::quietJvmOutput(silent);
    LocalRef<jclass> system(env, env->FindClass("java/lang/System"));
    jmethodID setErr = env->GetStaticMethodID(system.get(), "setErr", "(Ljava/io/PrintStream;)V");
    if (!silent) {
      env->CallStaticVoidMethod(system.get(), setErr, savedErr);
      EXPECT_FALSE(env->ExceptionCheck());
      env->DeleteGlobalRef(savedErr);
      return;
    }
    jfieldID err = env->GetStaticFieldID(system.get(), "err", "Ljava/io/PrintStream;");
    LocalRef<jobject> current(env, env->GetStaticObjectField(system.get(), err));
    savedErr = env->NewGlobalRef(current.get());
    LocalRef<jclass> streams(env, env->FindClass("java/io/OutputStream"));
    jmethodID nullStream =
        env->GetStaticMethodID(streams.get(), "nullOutputStream", "()Ljava/io/OutputStream;");
    LocalRef<jobject> sink(env, env->CallStaticObjectMethod(streams.get(), nullStream));
    EXPECT_FALSE(env->ExceptionCheck());
    LocalRef<jclass> printStream(env, env->FindClass("java/io/PrintStream"));
    jmethodID make = env->GetMethodID(printStream.get(), "<init>", "(Ljava/io/OutputStream;)V");
    LocalRef<jobject> quiet(env, env->NewObject(printStream.get(), make, sink.get()));
    EXPECT_FALSE(env->ExceptionCheck());
    env->CallStaticVoidMethod(system.get(), setErr, quiet.get());
    EXPECT_FALSE(env->ExceptionCheck());
  }

  Outcome runOnce(const SweptOperation &operation, int64_t failAt, int64_t *passed,
                  std::string *failed = nullptr) {
    Outcome outcome = Outcome::Failed;
    auto body = [&] {
      hostkernel::startFaultSweep(failAt);
      outcome = operation.run();
      int64_t points = hostkernel::stopFaultSweep();
      if (passed) *passed = points;
      if (failed) *failed = hostkernel::sweptFault();
    };
    if (!operation.onNewThread) {
      body();
      return outcome;
    }
    std::thread([&] {
      body();
      QXJniExtension *jni = dfs->jvm->jniExtension;
      jni->releaseThread(jni, jni, nullptr);
    }).join();
    return outcome;
  }

  void checkRun(const SweptOperation &operation, int64_t point) {
    std::string where = operation.what + ", fault point " + std::to_string(point);
    hostkernel::Counters before = hostkernel::liveCounters();
    int64_t keptBefore = keptBlocks();
    int32_t handles = dfs->openFiles.count;
    operation.prepare();
    messages.clear();
    std::string failed;
    Outcome outcome = runOnce(operation, point, nullptr, &failed);
    SCOPED_TRACE(where + " (" + failed + ")");
    EXPECT_NE(outcome, Outcome::Lied) << "a success whose result is wrong";
    if (env->ExceptionCheck()) {
      ADD_FAILURE() << "a Java exception was left pending";
      env->ExceptionClear();
    }
    std::vector<Report> got = reports();
    // A path that cannot be converted fails silently, as one over the length limit does, and
    // so does a start-up whose pool cannot be made.
    bool silentByDesign =
        failed.rfind("Conversion:25->20", 0) == 0 || failed.rfind("PoolCreation:", 0) == 0;
    if (outcome == Outcome::Failed && !silentByDesign) {
      EXPECT_TRUE(std::any_of(got.begin(), got.end(), [](const Report &r) {
        return r.severity >= QX_SEVERITY_WARNING;
      })) << "a failure without a report";
    }
    operation.undo();
    hostkernel::Counters after = hostkernel::liveCounters();
    EXPECT_EQ(after.blocks - keptBlocks(), before.blocks - keptBefore) << "pool blocks";
    EXPECT_EQ(after.pools, before.pools);
    EXPECT_EQ(after.mutexes, before.mutexes);
    EXPECT_EQ(after.extensions, before.extensions);
    EXPECT_EQ(after.attachedThreads, before.attachedThreads);
    EXPECT_EQ(dfs->openFiles.count, handles) << "open handles";
    if (!operation.slow) expectNextCallWorks(operation);
  }

  void expectNextCallWorks(const SweptOperation &operation) {
    operation.prepare();
    EXPECT_EQ(runOnce(operation, 0, nullptr), Outcome::Succeeded) << "the next call works";
    operation.undo();
  }

  // Sweeps one operation; the number of fault points it passes.
  int64_t sweep(const SweptOperation &operation) {
    env->PushLocalFrame(24);  // a local reference leaked by any run adds up past this
    int64_t points = 0;
    operation.prepare();
    EXPECT_EQ(runOnce(operation, 0, &points), Outcome::Succeeded) << operation.what;
    operation.undo();
    for (int64_t point = 1; point <= points; point++) checkRun(operation, point);
    if (operation.slow) expectNextCallWorks(operation);
    env->PopLocalFrame(nullptr);
    printf("[ sweep    ] %-40s %3lld fault points\n", operation.what.c_str(),
           static_cast<long long>(points));
    return points;
  }

  void sweepAll(const std::vector<SweptOperation> &operations) {
    for (const SweptOperation &operation : operations) {
      sweep(operation);
      if (HasFailure()) return;
    }
  }

  // An open handle, or a failure that the open's status tells of.
  Outcome opened(int32_t status) {
    if (handle) return Outcome::Succeeded;
    return status != 0 ? Outcome::FailedQuietly : Outcome::Failed;
  }

  // An open handle for the operations on streams.
  FileHandle *handle = nullptr;
  std::function<void()> opening(hdfsFS fs, const std::string &path, int32_t flags) {
    return [this, fs, path, flags] {
      int32_t status = 0;
      handle = ops().hdfsOpenFile(dfs, context(), &status, fs, qx(path).c_str(), flags, 0, 0, 0);
      ASSERT_NE(handle, nullptr);
    };
  }
  std::function<void()> closing(hdfsFS fs) {
    return [this, fs] {
      int32_t status = 0;
      if (handle) ops().hdfsCloseFile(dfs, context(), &status, fs, handle);
      handle = nullptr;
    };
  }

  const std::string kData = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string directory;
  hdfsFS local = nullptr;
  hdfsFS hdfs = nullptr;
  jobject savedErr = nullptr;
};

TEST_F(FaultSweepTest, StartUpAndTeardownOfBothModules) {
  QXKernel *kernel = hostkernel::kernel();
  DfsLinkState *second = nullptr;
  sweepAll({{"dfslink and jvmlink start-up",
             [&] {
               second = static_cast<DfsLinkState *>(
                   kernel->loadExtension(kernel, u"dfslink", 7, context()));
               return outcomeOf(second != nullptr);
             },
             [] {},
             [&] {
               if (second) second->frame.header.release(second);
               second = nullptr;
             }},
            {"dfslink and jvmlink teardown",
             [&] {
               second->frame.header.release(second);
               second = nullptr;
               return Outcome::Succeeded;
             },
             [&] {
               second = static_cast<DfsLinkState *>(
                   kernel->loadExtension(kernel, u"dfslink", 7, context()));
             }}});
}

TEST_F(FaultSweepTest, BridgeOperations) {
  BridgeState *bridge = dfs->jvm;
  BridgeOperations &bridgeOps = bridge->operations;
  std::string arrayClass = "[Ljava/lang/Object;";  // a name never cached before each run
  auto freshClassName = [&] { return (arrayClass = "[" + arrayClass).c_str(); };
  LocalRef<jstring> text(env, env->NewStringUTF("text"));
  sweepAll({
      {"invokeMethod",
       [&] {
         jint length = 0;
         jthrowable thrown = nullptr;
         int32_t result =
             bridgeOps.invokeMethod(bridge, context(), env, &length, &thrown, JVMLINK_INSTANCE,
                                    text.get(), "java/lang/String", 0, "length", "()I");
         if (thrown) env->DeleteLocalRef(thrown);
         if (result != 0) return thrown ? Outcome::FailedQuietly : Outcome::Failed;
         return length == 4 ? Outcome::Succeeded : Outcome::Lied;
       }},
      {"constructNewObjectOfClass",
       [&] {
         LocalRef<jobject> made(env, bridgeOps.constructNewObjectOfClass(
                                         bridge, context(), env, "java/lang/StringBuilder",
                                         "(Ljava/lang/String;)V", text.get()));
         if (env->ExceptionCheck()) env->ExceptionDescribe();  // left pending by design
         return outcomeOf(static_cast<bool>(made));
       }},
      {"methodIdFromClass",
       [&] {
         jmethodID method =
             bridgeOps.methodIdFromClass(bridge, context(), freshClassName(), "clone",
                                         "()Ljava/lang/Object;", JVMLINK_INSTANCE, env);
         if (env->ExceptionCheck()) env->ExceptionDescribe();  // left pending by design
         return outcomeOf(method);
       }},
      {"fieldIdFromClass",
       [&] {
         jfieldID field = bridgeOps.fieldIdFromClass(bridge, context(), env, "java/lang/Integer",
                                                     "MAX_VALUE", "I", JVMLINK_STATIC);
         if (field) return Outcome::Succeeded;
         if (!env->ExceptionCheck()) return Outcome::Failed;
         env->ExceptionDescribe();  // a missing field leaves its exception pending by design
         return Outcome::FailedQuietly;
       }},
      {"globalClassReference",
       [&] {
         // A class that cannot be had is for the caller to report.
         jclass found = bridgeOps.globalClassReference(bridge, context(), freshClassName(), env);
         return found ? Outcome::Succeeded : Outcome::FailedQuietly;
       }},
      {"classNameOfObject",
       [&] {
         char *name = bridgeOps.classNameOfObject(bridge, context(), text.get(), env);
         if (!name) return reports().empty() ? Outcome::FailedQuietly : Outcome::Failed;
         Outcome outcome =
             std::string(name) == "java.lang.String" ? Outcome::Succeeded : Outcome::Lied;
         bridge->pool->free(bridge->pool, name);
         return outcome;
       }},
      {"constructNewArrayString",
       [&] {
         const char *const texts[] = {"a", "b"};
         LocalRef<jobjectArray> array(
             env, bridgeOps.constructNewArrayString(bridge, context(), env, nullptr, texts, 2));
         return outcomeOf(static_cast<bool>(array));
       }},
      {"getJNIEnv (first request of a thread)",
       [&] { return outcomeOf(bridgeOps.getJNIEnv(bridge, context())); }, [] {}, [] {}, true},
      // Both return the host's own status code, which tells of the failure.
      {"haddpaths",
       [&] {
         int32_t status = bridgeOps.haddpaths(bridge, context(), nullptr);
         return status == 0 ? Outcome::Succeeded : Outcome::FailedQuietly;
       }},
      {"haddpath",
       [&] {
         int32_t status = bridgeOps.haddpath(bridge, context(), directory.c_str());
         return status == 0 ? Outcome::Succeeded : Outcome::FailedQuietly;
       }},
  });
}

TEST_F(FaultSweepTest, ConnectionsAndHandles) {
  hdfsFS made = nullptr;
  auto disconnectMade = [&] {
    if (made) {
      EXPECT_EQ(ops().hdfsDisconnect(dfs, context(), made), 0);
    }
    made = nullptr;
  };
  auto connecting = [&](const char16_t *host, uint16_t port) {
    return [&, host, port] {
      int32_t result = ops().hdfsConnectAsUser(dfs, context(), host, port, u"sweeper", &made);
      if (result != 0) return made ? Outcome::Lied : Outcome::Failed;
      return made ? Outcome::Succeeded : Outcome::Lied;
    };
  };
  uint16_t port = testHdfs().port();
  sweepAll({
      {"hdfsConnectAsUser (local)", connecting(u"local", 0), [] {}, disconnectMade},
      {"hdfsConnectAsUser (default)", connecting(u"default", 0), [] {}, disconnectMade},
      {"hdfsConnectAsUser (name node)", connecting(u"127.0.0.1", port), [] {}, disconnectMade},
      {"hdfsDisconnect",
       [&] {
         if (ops().hdfsDisconnect(dfs, context(), made) != 0) return Outcome::Failed;
         made = nullptr;
         return Outcome::Succeeded;
       },
       [&] { ASSERT_EQ(ops().hdfsConnectAsUser(dfs, context(), u"local", 0, nullptr, &made), 0); },
       disconnectMade},
      {"hdfsOpenFile (read)",
       [&] {
         int32_t status = 0;
         handle = ops().hdfsOpenFile(dfs, context(), &status, local,
                                     qx(directory + "/data").c_str(), 0, 0, 0, 0);
         return opened(status);
       },
       [] {}, closing(local)},
      {"hdfsOpenFile (create)",
       [&] {
         int32_t status = 0;
         handle = ops().hdfsOpenFile(dfs, context(), &status, local,
                                     qx(directory + "/made").c_str(), HDFS_OPEN_WRITE, 0, 0, 0);
         return opened(status);
       },
       [] {}, closing(local)},
      {"hdfsOpenFile (append, HDFS)",
       [&] {
         int32_t status = 0;
         handle = ops().hdfsOpenFile(dfs, context(), &status, hdfs, u"/sweep/data",
                                     HDFS_OPEN_WRITE | HDFS_OPEN_APPEND, 0, 0, 0);
         return opened(status);
       },
       [] {}, closing(hdfs)},
      {"hdfsCloseFile",
       [&] {
         int32_t status = 0;
         int32_t result = ops().hdfsCloseFile(dfs, context(), &status, local, handle);
         handle = nullptr;  // gone either way
         return outcomeOf(result == 0);
       },
       opening(local, directory + "/data", 0), closing(local)},
  });
}

TEST_F(FaultSweepTest, StreamOperations) {
  std::string data = directory + "/data";
  std::string written = directory + "/written";
  auto readsData = [&](int32_t n, const char *got, int64_t at) {
    if (n < 0) return Outcome::Failed;
    return n > 0 && std::string(got, n) == kData.substr(at, n) ? Outcome::Succeeded : Outcome::Lied;
  };
  int32_t status = 0;
  char buffer[16];
  sweepAll({
      {"hdfsRead",
       [&] {
         return readsData(ops().hdfsRead(dfs, context(), &status, local, handle, buffer, 16),
                          buffer, 0);
       },
       opening(local, data, 0), closing(local)},
      {"hdfsPread",
       [&] {
         return readsData(ops().hdfsPread(dfs, context(), &status, local, handle, 5, buffer, 16),
                          buffer, 5);
       },
       opening(local, data, 0), closing(local)},
      {"hdfsPread_jb",
       [&] {
         jbyteArray slot = nullptr;
         int32_t n = ops().hdfsPread_jb(dfs, context(), &status, local, handle, 3, &slot, 2, 8);
         if (n > 0) env->GetByteArrayRegion(slot, 2, n, reinterpret_cast<jbyte *>(buffer));
         if (slot) env->DeleteLocalRef(slot);
         return readsData(n, buffer, 3);
       },
       opening(local, data, 0), closing(local)},
      {"hdfsWrite",
       [&] {
         return outcomeOf(ops().hdfsWrite(dfs, context(), &status, local, handle, "abc", 3) == 3);
       },
       opening(local, written, HDFS_OPEN_WRITE), closing(local)},
      {"hdfsWrite_jb",
       [&] {
         LocalRef<jbyteArray> array(env, env->NewByteArray(8));
         return outcomeOf(
             ops().hdfsWrite_jb(dfs, context(), &status, local, handle, array.get(), 2, 4) == 4);
       },
       opening(local, written, HDFS_OPEN_WRITE), closing(local)},
      {"hdfsSeek",
       [&] { return outcomeOf(ops().hdfsSeek(dfs, context(), &status, local, handle, 7) == 0); },
       opening(local, data, 0), closing(local)},
      {"hdfsTell",
       [&] {
         int64_t position = ops().hdfsTell(dfs, context(), &status, local, handle);
         if (position < 0) return Outcome::Failed;
         return position == 0 ? Outcome::Succeeded : Outcome::Lied;
       },
       opening(local, data, 0), closing(local)},
      {"hdfsFlush",
       [&] { return outcomeOf(ops().hdfsFlush(dfs, context(), &status, local, handle) == 0); },
       opening(local, written, HDFS_OPEN_WRITE), closing(local)},
      {"hdfsAvailable",
       [&] {
         int32_t available = ops().hdfsAvailable(dfs, context(), &status, local, handle);
         if (available < 0) return Outcome::Failed;
         return available == static_cast<int32_t>(kData.size()) ? Outcome::Succeeded
                                                                : Outcome::Lied;
       },
       opening(local, data, 0), closing(local)},
  });
}

TEST_F(FaultSweepTest, NamespaceInformationAndCopies) {
  int32_t status = 0;
  std::u16string file = qx(directory + "/data"), made = qx(directory + "/made");
  std::string moved = directory + "/moved";
  auto makeFile = [&] { writeAll(local, directory + "/made", "m"); };
  auto removeMade = [&] {
    ops().hdfsDelete(dfs, context(), &status, local, made.c_str());
    ops().hdfsDelete(dfs, context(), &status, local, qx(moved).c_str());
  };
  auto flag = [](int32_t result) { return result == 0 ? Outcome::Succeeded : Outcome::Failed; };
  auto figure = [](int64_t result) { return result > 0 ? Outcome::Succeeded : Outcome::Failed; };
  auto listing = [&](hdfsFS fs, const std::u16string &path, int32_t expected) {
    int32_t count = 0;
    hdfsPathInfo *entries = nullptr;
    int32_t result = ops().hdfsListDirectory(dfs, context(), fs, path.c_str(), &count, &entries);
    ops().hdfsReleasePathInfo(dfs, nullptr, entries, count);
    // The listing returns its status code: that tells of the failure.
    if (result != 0) return count == 0 && !entries ? Outcome::FailedQuietly : Outcome::Lied;
    return count == expected ? Outcome::Succeeded : Outcome::Lied;
  };
  sweepAll({
      {"hdfsExists",
       [&] { return flag(ops().hdfsExists(dfs, context(), &status, local, file.c_str())); }},
      {"hdfsDelete",
       [&] { return flag(ops().hdfsDelete(dfs, context(), &status, local, made.c_str())); },
       makeFile, removeMade},
      {"hdfsRename",
       [&] {
         return flag(
             ops().hdfsRename(dfs, context(), &status, local, made.c_str(), qx(moved).c_str()));
       },
       makeFile, removeMade},
      {"hdfsCreateDirectory",
       [&] {
         return flag(ops().hdfsCreateDirectory(dfs, context(), &status, local, made.c_str()));
       },
       [] {}, removeMade},
      {"hdfsSetWorkingDirectory",
       [&] {
         return flag(
             ops().hdfsSetWorkingDirectory(dfs, context(), &status, local, qx(directory).c_str()));
       }},
      {"hdfsGetWorkingDirectory",
       [&] {
         QXChar buffer[300];
         return outcomeOf(
             ops().hdfsGetWorkingDirectory(dfs, context(), &status, local, buffer, sizeof buffer));
       }},
      {"hdfsSetReplication (HDFS)",
       [&] {
         return flag(ops().hdfsSetReplication(dfs, context(), &status, hdfs, "/sweep/data", 2));
       }},
      {"hdfsChown (HDFS)",
       [&] {
         return flag(ops().hdfsChown(dfs, context(), &status, hdfs, "/sweep/data", "o", "g"));
       }},
      {"hdfsChmod",
       [&] {
         int32_t result =
             ops().hdfsChmod(dfs, context(), &status, local, (directory + "/data").c_str(), 0644);
         return result == -2 ? Outcome::FailedQuietly : flag(result);  // reported by the bridge
       }},
      {"hdfsUtime",
       [&] {
         return flag(
             ops().hdfsUtime(dfs, context(), &status, local, (directory + "/data").c_str(), 5, 6));
       }},
      {"hdfsGetCapacity (HDFS)",
       [&] { return figure(ops().hdfsGetCapacity(dfs, context(), &status, hdfs)); }},
      {"hdfsGetUsed (HDFS)",
       [&] { return figure(ops().hdfsGetUsed(dfs, context(), &status, hdfs)); }},
      {"hdfsGetDefaultBlockSize",
       [&] { return figure(ops().hdfsGetDefaultBlockSize(dfs, context(), &status, local)); }},
      {"hdfsGetPathInfo",
       [&] {
         int32_t missing = 0;
         hdfsPathInfo *info = ops().hdfsGetPathInfo(dfs, context(), &missing, local, file.c_str());
         if (!info) return Outcome::Failed;
         Outcome outcome =
             info->size == static_cast<int64_t>(kData.size()) ? Outcome::Succeeded : Outcome::Lied;
         ops().hdfsReleasePathInfo(dfs, nullptr, info, 1);
         return outcome;
       }},
      {"hdfsListDirectory", [&] { return listing(local, qx(directory), 1); }},
      {"hdfsListDirectory (HDFS)", [&] { return listing(hdfs, u"/sweep", 1); }},
      {"hdfsGetHosts (HDFS)",
       [&] {
         char ***hosts = nullptr;
         int32_t result = ops().hdfsGetHosts(dfs, context(), hdfs, "/sweep/data", 0, 100, &hosts);
         Outcome outcome = result != 0                        ? Outcome::FailedQuietly
                           : hosts && hosts[0] && hosts[0][0] ? Outcome::Succeeded
                                                              : Outcome::Lied;
         ops().hdfsReleaseHosts(dfs, nullptr, hosts);
         return outcome;
       }},
      {"hdfsCopy",
       [&] {
         return flag(
             ops().hdfsCopy(dfs, context(), &status, local, file.c_str(), local, made.c_str()));
       },
       [] {}, removeMade},
      {"hdfsMove",
       [&] {
         return flag(ops().hdfsMove(dfs, context(), &status, local, (directory + "/made").c_str(),
                                    local, moved.c_str()));
       },
       makeFile, removeMade},
      {"hdfsCopyFromLocal",
       [&] {
         int32_t failure = 0;
         int32_t result = ops().hdfsCopyFromLocal(dfs, context(), &failure, file.c_str(), hdfs,
                                                  u"/sweep/uploaded", 0, 0, 0);
         return result == 0 ? Outcome::Succeeded : Outcome::Failed;
       }},
  });
}

TEST_F(FaultSweepTest, Configuration) {
  QXKernel *kernel = hostkernel::kernel();
  QXPoolAttributes attributes = {};
  QXPool *pool = kernel->createPool(kernel, &attributes, 0, "ENGINE Pool");
  OptionsRecord options{};
  auto clear = [&] {
    for (QXChar *text : {options.hdfsHost, options.hdfsUser, options.javaWorkPath}) {
      if (text) dfs->pool->free(dfs->pool, text);
    }
    if (options.classPath.text) pool->free(pool, options.classPath.text);
    if (options.classPath.lengths) pool->free(pool, options.classPath.lengths);
    options = OptionsRecord{};
  };
  std::string jars = directory + "/jars", tree = directory + "/tree";
  std::filesystem::create_directories(jars);
  std::filesystem::create_directories(tree + "/sub");
  for (const std::string &file : {jars + "/a.jar", tree + "/b.jar", tree + "/sub/C.class"}) {
    std::ofstream(file) << "x";
  }
  std::ofstream(directory + "/xmlopts.xml")
      << "<hadoop><mapreduce><java_work_path>/w</java_work_path></mapreduce><hdfs><host>h</host>"
         "<user>u</user><port>8020</port></hdfs><classpaths><classpath>" +
             tree + "</classpath></classpaths></hadoop>";
  setenv("ZEL_HADOOP_CONFIG_PATH", directory.c_str(), 1);
  setenv("ZEL_HADOOP_JAR_PATH", jars.c_str(), 1);
  std::u16string where = qx(directory);
  sweepAll({
      {"loadEnvPaths",
       [&] {
         uint32_t status = ops().loadEnvPaths(dfs, context(), pool, &options);
         if (status != 0)
           return options.classPath.count < 2 ? Outcome::FailedQuietly : Outcome::Lied;
         return options.classPath.count == 2 ? Outcome::Succeeded : Outcome::Lied;
       },
       [] {}, clear},
      {"loadXmlOptions",
       [&] {
         uint32_t status = ops().loadXmlOptions(dfs, context(), pool, where.c_str(),
                                                static_cast<int32_t>(where.size() * 2), &options);
         if (status != 0) return Outcome::FailedQuietly;  // its status tells
         return options.hdfsPort == 8020 && options.classPath.count == 2 ? Outcome::Succeeded
                                                                         : Outcome::Lied;
       },
       [] {}, clear},
  });
  unsetenv("ZEL_HADOOP_CONFIG_PATH");
  unsetenv("ZEL_HADOOP_JAR_PATH");
  pool->header.release(pool);
}

TEST_F(FaultSweepTest, JavaTools) {
  std::string item = std::string(QX_HADOOP_LIB_DIR) + "/hadoop-client-api-3.5.0.jar" + '\0';
  int32_t length = static_cast<int32_t>(item.size());
  ClassPathList list = {item.data(), &length, 1, length, 0};
  ASSERT_EQ(bridgeOps().haddpaths(dfs->jvm, context(), &list), 0);
  std::string source = directory + "/Swept.java", second = directory + "/Second.java",
              output = directory + "/classes";
  std::ofstream(source) << "public class Swept { int x = 1; }\n";
  std::ofstream(second) << "public class Second { int y = 2; }\n";
  std::filesystem::create_directories(output);
  const char *const sources[] = {source.c_str(), second.c_str(), ""};
  auto classFiles = [&] {
    return std::filesystem::exists(output + "/Swept.class") &&
           std::filesystem::exists(output + "/Second.class");
  };
  std::string jar = testDataDirectory() + "/launched.jar", echoed = directory + "/echoed";
  const char *const arguments[] = {echoed.c_str(), "one", "two", ""};
  writeAll(hdfs, "/sweep/words", "a b a\n");
  std::string filesystem = "fs.defaultFS=" + testHdfs().uri();
  const char *const settings[] = {filesystem.c_str(), ""};
  const char *const paths[] = {"/sweep/words", "/sweep/counted", ""};
  auto status = [](uint32_t result) { return result == 0 ? Outcome::Succeeded : Outcome::Failed; };
  sweepAll({
      {"javaComp",
       [&] {
         uint32_t result =
             ops().javaComp(dfs, context(), sources, output.c_str(), nullptr, nullptr);
         if (result != 0) return Outcome::Failed;
         return classFiles() ? Outcome::Succeeded : Outcome::Lied;  // both sources compiled
       },
       [&] {
         std::filesystem::remove_all(output);
         std::filesystem::create_directories(output);
       }},
      {"javaJar",
       [&] {
         return status(ops().javaJar(dfs, context(), jar.c_str(), "qxtest.Echo", arguments));
       }},
      {"javaMap", [&] { return status(ops().javaMap(dfs, context(), settings, paths)); }, [] {},
       [&] {
         int32_t ignored = 0;
         ops().hdfsDelete(dfs, context(), &ignored, hdfs, u"/sweep/counted");
       },
       false, true},
  });
}

}  // namespace
}  // namespace testsupport
