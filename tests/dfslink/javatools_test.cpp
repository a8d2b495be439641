// The Java tools: sources compiled against the kept class path with their diagnostics listed,
// a real jar launched through JarDORN, and a real word count run through DORNmap over HDFS.
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

const std::string kHadoopApi = std::string(QX_HADOOP_LIB_DIR) + "/hadoop-client-api-3.5.0.jar";

// Where the local job runner stages jobs unless told otherwise.
const std::string kStagingRoot = "/tmp/hadoop/mapred/staging";
constexpr char DORN_USER[] = "mapreduce.job.user.name";

std::string contents(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t entriesIn(const std::string &directory) {
  std::error_code missing;
  auto entries = std::filesystem::directory_iterator(directory, missing);
  return missing ? 0 : static_cast<size_t>(std::distance(entries, {}));
}

class JavaToolsTest : public HadoopTest {
 protected:
  // The local job runners' metrics sources the platform's MBean server holds.
  jint runnerMetrics() {
    LocalRef<jobject> server(env, nullptr), pattern(env, nullptr), names(env, nullptr);
    jobject found = nullptr;
    EXPECT_EQ(
        bridgeOps().invokeMethod(dfs->jvm, context(), env, &found, nullptr, JVMLINK_STATIC, nullptr,
                                 "java/lang/management/ManagementFactory", 0,
                                 "getPlatformMBeanServer", "()Ljavax/management/MBeanServer;"),
        0);
    server = LocalRef<jobject>(env, found);
    LocalRef<jstring> text(
        env, env->NewStringUTF("Hadoop:service=JobTracker,name=LocalJobRunnerMetrics-*"));
    pattern = LocalRef<jobject>(env, bridgeOps().constructNewObjectOfClass(
                                         dfs->jvm, context(), env, "javax/management/ObjectName",
                                         "(Ljava/lang/String;)V", text.get()));
    names = LocalRef<jobject>(
        env, callJava(server.get(), "javax/management/MBeanServer", "queryNames",
                      "(Ljavax/management/ObjectName;Ljavax/management/QueryExp;)Ljava/util/Set;",
                      pattern.get(), nullptr));
    jint size = -1;
    bridgeOps().invokeMethod(dfs->jvm, context(), env, &size, nullptr, JVMLINK_INSTANCE,
                             names.get(), "java/util/Set", 0, "size", "()I");
    return size;
  }

  void SetUp() override {
    HadoopTest::SetUp();
    directory = temporaryDirectory();
    // The kept class path the compiler is given: Hadoop's client API.
    std::string item = kHadoopApi + '\0';
    int32_t length = static_cast<int32_t>(item.size());
    ClassPathList list = {item.data(), &length, 1, length, 0};
    ASSERT_EQ(bridgeOps().haddpaths(dfs->jvm, context(), &list), 0);
    messages.clear();
  }
  void TearDown() override {
    removeTree(directory);
    HadoopTest::TearDown();
  }

  std::string source(const std::string &name, const std::string &text) {
    std::string path = directory + "/src/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
    return path;
  }
  uint32_t compile(const std::vector<std::string> &sources, const char *version = nullptr,
                   const char *boot = nullptr, const std::string &output = "") {
    std::vector<const char *> texts;
    for (const std::string &path : sources) texts.push_back(path.c_str());
    texts.push_back("");
    std::string out = output.empty() ? directory + "/out" : output;
    std::filesystem::create_directories(out);
    return ops().javaComp(dfs, context(), texts.data(), out.c_str(), version, boot);
  }
  // The lines after the compile failure's report.
  std::vector<std::string> listing() {
    std::vector<std::string> lines = messages.lines();
    auto start =
        std::find(lines.begin(), lines.end(), "The Java Compiler generated these diagnostics:");
    return std::vector<std::string>(start, lines.end());
  }
  bool listed(const std::string &text) {
    std::vector<std::string> lines = listing();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string &line) {
      return line.find(text) != std::string::npos;
    });
  }

  std::string directory;
};

TEST_F(JavaToolsTest, ASyntaxErrorIsListedWithItsPosition) {
  std::string broken = source("Broken.java", "public class Broken {\n  int x = ;\n}\n");
  EXPECT_EQ(compile({broken}), 0x86BFF80Eu);
  EXPECT_EQ(reports().front(), statusReport(4, 0x86BFF80E, {"javaComp"}));
  std::vector<std::string> lines = listing();
  ASSERT_EQ(lines.size(), 7u) << ::testing::PrintToString(messages.lines());
  EXPECT_EQ(lines[1], "KIND: ERROR");
  EXPECT_EQ(lines[2], "SOURCE: SimpleFileObject[" + broken + "]");
  EXPECT_EQ(lines[3], "LineNumber: 2");
  EXPECT_EQ(lines[4], "ColumnNumber: 11");
  EXPECT_EQ(lines[5], "Message: illegal start of expression");
  EXPECT_EQ(lines[6], "--------");
}

TEST_F(JavaToolsTest, ACleanSourceCompilesAgainstTheClassPathAndLoads) {
  std::string hello = source("qxgen/Hello.java",
                             "package qxgen;\npublic class Hello {\n"
                             "  public static String path() { return new "
                             "org.apache.hadoop.fs.Path(\"/x\").getName(); }\n}\n");
  ASSERT_EQ(compile({hello}), 0u) << ::testing::PrintToString(messages.lines());
  EXPECT_TRUE(std::filesystem::exists(directory + "/out/qxgen/Hello.class"));
  ASSERT_EQ(bridgeOps().haddpath(dfs->jvm, context(), (directory + "/out").c_str()), 0);
  EXPECT_NE(bridgeOps().globalClassReference(dfs->jvm, context(), "qxgen/Hello", env), nullptr);
  // A second compilation does not look the compiler up again: the lookup would fail here.
  hostkernel::injectFault(Fault::JniCall, 1, "CallStaticObjectMethodV");
  EXPECT_EQ(compile({hello}), 0u);
  hostkernel::clearFaults();
  EXPECT_TRUE(reports().empty());
}

// The compiler the module keeps goes with the module: three load, compile and unload cycles
// leave no global reference behind.
TEST_F(JavaToolsTest, ReloadsLeaveNoCompilerBehind) {
  std::string plain = source("Plain.java", "public class Plain {}\n");
  int64_t before = hostkernel::liveGlobalReferences();
  for (int cycle = 0; cycle < 3; cycle++) {
    DfsLinkState *again = loadDfs();
    ASSERT_NE(again, nullptr);
    std::string item = kHadoopApi + '\0';
    int32_t length = static_cast<int32_t>(item.size());
    ClassPathList list = {item.data(), &length, 1, length, 0};
    ASSERT_EQ(again->jvm->operations.haddpaths(again->jvm, context(), &list), 0);
    const char *const sources[] = {plain.c_str(), ""};
    std::string out = directory + "/cycle";
    std::filesystem::create_directories(out);
    EXPECT_EQ(again->operations.javaComp(again, context(), sources, out.c_str(), nullptr, nullptr),
              0u);
    EXPECT_NE(again->javaCompiler, nullptr);
    again->frame.header.release(again);
    EXPECT_EQ(hostkernel::liveGlobalReferences(), before) << "cycle " << cycle;
  }
}

// The bridge's lock is never held across a Java call: not while the kept class path is read,
// and not when making its Java string fails and the failure is reported.
TEST_F(JavaToolsTest, NoJavaCallRunsUnderTheBridgesLock) {
  std::string plain = source("Plain.java", "public class Plain {}\n");
  hostkernel::watchJavaCallsUnder("dorn hdfsjvmMutex");
  int64_t before = hostkernel::javaCallsUnderWatchedMutex();
  EXPECT_EQ(compile({plain}), 0u);
  hostkernel::injectFault(Fault::JniCall, 1, "NewString");  // the class path's string
  EXPECT_EQ(compile({plain}), 0x86BFF818u);
  int64_t under = hostkernel::javaCallsUnderWatchedMutex() - before;
  hostkernel::watchJavaCallsUnder("");
  EXPECT_EQ(under, 0);
  std::vector<std::string> lines = messages.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "ERROR: Call to method NewString failed."),
            lines.end());
}

TEST_F(JavaToolsTest, TheOptionsReachTheCompiler) {
  // Compiles at 10 and later only.
  std::string modern = source("Modern.java", "public class Modern { void f() { var x = 1; } }\n");
  EXPECT_EQ(compile({modern}), 0u);
  EXPECT_EQ(compile({modern}, "17", directory.c_str()), 0u)
      << "no -bootclasspath for a target above 8";
  messages.clear();
  EXPECT_EQ(compile({modern}, "8"), 0x86BFF80Eu) << "-source 8 reached the compiler";
  EXPECT_TRUE(listed("'var' is a restricted type name")) << ::testing::PrintToString(listing());
  // A diagnostic without a position: the options warning prints no line and no column.
  std::vector<std::string> lines = listing();
  auto warning = std::find(lines.begin(), lines.end(), "KIND: WARNING");
  ASSERT_NE(warning, lines.end()) << ::testing::PrintToString(lines);
  EXPECT_EQ(warning[1].rfind("Message: bootstrap class path not set", 0), 0u);
  EXPECT_EQ(warning[2], "--------");
  messages.clear();
  std::string plain = source("Plain.java", "public class Plain {}\n");
  EXPECT_EQ(compile({plain}, "1.8", directory.c_str()), 0x86BFF80Eu)
      << "an empty boot class path: -bootclasspath reached the compiler";
  messages.clear();
  EXPECT_EQ(compile({plain}, "1.6"), 0x86BFF80Eu) << "JDK 17 refuses 1.6";
  EXPECT_EQ(reports().front(), statusReport(4, 0x86BFF80E, {"javaComp"}));
  std::vector<std::string> refused = messages.lines();
  EXPECT_TRUE(std::any_of(refused.begin(), refused.end(), [](const std::string &line) {
    return line.find("6") != std::string::npos &&
           line.find("no longer supported") != std::string::npos;
  })) << ::testing::PrintToString(refused);
  EXPECT_FALSE(env->ExceptionCheck());
}

TEST_F(JavaToolsTest, RefusedBeforeTheCompilerRuns) {
  const char *const sources[] = {"A.java", ""};
  EXPECT_EQ(ops().javaComp(dfs, context(), sources, "", nullptr, nullptr), 0x86BFF823u);
  EXPECT_EQ(ops().javaComp(dfs, context(), sources, nullptr, nullptr, nullptr), 0x86BFF823u);
  const char *const none[] = {""};
  EXPECT_EQ(ops().javaComp(dfs, context(), none, "/tmp", nullptr, nullptr), QX_MISSING_ARGUMENT);
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF823, {"javaComp"}),
                                            statusReport(4, 0x86BFF823, {"javaComp"}),
                                            textReport(4, "ERROR: javaComp: no source to compile."),
                                            statusReport(4, QX_MISSING_ARGUMENT)}));
}

TEST_F(JavaToolsTest, ASourceThatCannotBeAddedIsNamed) {
  std::string good = source("Good.java", "public class Good {}\n");
  hostkernel::injectFault(Fault::JniCall, 3, "NewString");  // the second source's name
  EXPECT_EQ(compile({good, good + "2"}), 0x86BFF80Eu);
  std::vector<std::string> lines = messages.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "ERROR: javaComp: source 2 (" + good + "2) could not be added."),
            lines.end())
      << ::testing::PrintToString(lines);
  EXPECT_FALSE(env->ExceptionCheck());
}

TEST_F(JavaToolsTest, ManySourcesAndDiagnosticsLeaveNoReference) {
  std::vector<std::string> sources;
  for (int i = 0; i < 60; i++) {
    sources.push_back(source("S" + std::to_string(i) + ".java",
                             "public class S" + std::to_string(i) + " { int x = y; }\n"));
  }
  EXPECT_EQ(compile({sources[0]}), 0x86BFF80Eu);  // every class it needs is cached
  messages.clear();
  hostkernel::Counters before = hostkernel::liveCounters();
  EXPECT_EQ(compile(sources), 0x86BFF80Eu);
  std::vector<std::string> lines = messages.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "--------"), 60);
  EXPECT_EQ(hostkernel::liveCounters(), before);
}

TEST_F(JavaToolsTest, AJarRunsWithTheArgumentsBeforeTheEmptyText) {
  std::string jar = testDataDirectory() + "/launched.jar", out = directory + "/echo.txt";
  const char *const arguments[] = {out.c_str(), "a", "\xF0\x9D\x84\x9E", "", "c"};
  hostkernel::Counters before = hostkernel::liveCounters();
  for (int i = 0; i < 3; i++) {
    ASSERT_EQ(ops().javaJar(dfs, context(), jar.c_str(), "qxtest.Echo", arguments), 0u);
  }
  EXPECT_EQ(hostkernel::liveCounters(), before);
  std::ifstream echoed(out);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(echoed), {}), "a\n\xF0\x9D\x84\x9E\n");
  EXPECT_TRUE(reports().empty());
}

// A jar runs in a JVM of its own: however its main ends, this process lives on, and a status
// other than 0 fails the launch with the status and the last lines the child wrote on stderr.
TEST_F(JavaToolsTest, WhateverALaunchedMainDoesTheHostLivesOn) {
  std::string jar = testDataDirectory() + "/launched.jar", out = directory + "/context.txt";
  struct Case {
    std::vector<const char *> how;
    std::string failure;  // the exception's first line, or "" for success
    std::string lastLine;
  };
  for (const Case &c : std::vector<Case>{
           {{"exit", "0"}, "", ""},
           {{"thread"}, "", ""},
           {{"exit", "3"},
            "java.io.IOException: JarDORN: qxtest.Exiter of " + jar +
                " ended with exit status 3; the last lines of its standard error:",
            "Exiter: exit"},
           {{"halt", "4"},
            "java.io.IOException: JarDORN: qxtest.Exiter of " + jar +
                " ended with exit status 4; the last lines of its standard error:",
            "Exiter: halt"},
           {{"throw"},
            "java.io.IOException: JarDORN: qxtest.Exiter of " + jar +
                " ended with exit status 1; the last lines of its standard error:",
            "\tat qxtest.Exiter.main(Exiter.java:"},
       }) {
    std::vector<const char *> arguments = {out.c_str()};
    arguments.insert(arguments.end(), c.how.begin(), c.how.end());
    arguments.push_back("");
    std::filesystem::remove(out);
    messages.clear();
    auto started = std::chrono::steady_clock::now();
    uint32_t result = ops().javaJar(dfs, context(), jar.c_str(), "qxtest.Exiter", arguments.data());
    std::string what = c.how[0];
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60)) << what;
    std::ifstream ran(out);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(ran), {}),
              "context true, log level warn\n")
        << what;
    EXPECT_FALSE(env->ExceptionCheck());
    if (c.failure.empty()) {
      EXPECT_EQ(result, 0u) << what;
      EXPECT_TRUE(reports().empty()) << what;
      continue;
    }
    EXPECT_EQ(result, 0x86BFF80Fu) << what;
    std::vector<std::string> lines = messages.lines();
    ASSERT_GE(lines.size(), 4u) << what;
    EXPECT_EQ(reports().front(), statusReport(4, 0x86BFF80F, {"javaJar"}));
    EXPECT_EQ(lines[1], "ERROR: Call to method JarDORN.run failed.");
    EXPECT_EQ(lines[2], "ERROR: java.io.IOException");
    EXPECT_EQ(lines[3].substr(0, lines[3].find('\n')), c.failure) << what;
    EXPECT_NE(lines[3].find("\n" + c.lastLine), std::string::npos) << lines[3];
  }
}

TEST_F(JavaToolsTest, AWordCountRunsOverHdfs) {
  hdfsFS fs = connectHdfs();
  std::map<std::string, int64_t> expected;
  std::string words[] = {"alpha", "beta", "gamma", "\xE6\x96\x87\xE5\xAD\x97", "delta"};
  for (int file = 0; file < 3; file++) {
    std::ostringstream text;
    for (int i = 0; i < 500; i++) {
      const std::string &word = words[(i * 7 + file) % 5];
      text << word << (i % 9 == 0 ? "\n" : " ");
      expected[word]++;
    }
    writeAll(fs, "/wc/in/part" + std::to_string(file), text.str());
  }
  makeWorldWritable(fs, u"/wc/shared");
  std::string filesystem = "fs.defaultFS=" + testHdfs().uri();
  std::string user = std::string(DORN_USER) + "=counter";
  // Names another user could plant: the status file's old partial name beside it, and the
  // local job runner's old spill directory (a file there, where it would make its own).
  std::string directory = temporaryDirectory(), victim = directory + "/victim";
  std::string status = "dornmap.status=" + directory + "/status";
  std::ofstream(victim) << "mine";
  std::filesystem::create_symlink(victim, directory + "/status.part");
  std::string spill = "/tmp/hadoop-" + std::string(getpwuid(getuid())->pw_name);
  bool planted = !std::filesystem::exists(spill) && std::ofstream(spill).good();
  const char *const settings[] = {filesystem.c_str(), status.c_str(), ""};
  const char *const asCounter[] = {filesystem.c_str(), user.c_str(), ""};
  size_t stagedBefore = entriesIn(kStagingRoot);
  for (int job = 0; job < 3; job++) {
    std::string out = "/wc/shared/out" + std::to_string(job);
    const char *const arguments[] = {"/wc/in", out.c_str(), ""};
    ASSERT_EQ(ops().javaMap(dfs, context(), job == 2 ? asCounter : settings, arguments), 0u)
        << ::testing::PrintToString(messages.lines());
    EXPECT_EQ(countsIn(fs, out), expected) << out;
    EXPECT_EQ(runnerMetrics(), 0) << "the job's metrics source went with it";
    EXPECT_EQ(entriesIn(kStagingRoot), stagedBefore) << "no staging directory left";
    EXPECT_EQ(ownerOf(fs, qx(out)), job == 2 ? u"counter" : ownerOf(fs, u"/wc/in"));
  }
  if (planted) std::filesystem::remove(spill);
  EXPECT_EQ(contents(victim), "mine") << "a planted link is not written through";
  EXPECT_NE(contents(directory + "/status").find("\"state\":\"SUCCEEDED\""), std::string::npos);
  removeTree(directory);

  struct Failure {
    std::vector<const char *> settings, arguments;
    std::string exception, text;
  };
  for (const Failure &f : std::vector<Failure>{
           {{filesystem.c_str(), ""},
            {"/wc/none", "/wc/out9", ""},
            "org.apache.hadoop.mapreduce.lib.input.InvalidInputException",
            "Input path does not exist: " + testHdfs().uri() + "/wc/none"},
           {{filesystem.c_str(), ""},
            {"/wc/in", "/wc/shared/out0", ""},
            "org.apache.hadoop.mapred.FileAlreadyExistsException",
            "Output directory " + testHdfs().uri() + "/wc/shared/out0 already exists"},
           {{"no equals sign", ""},
            {"/wc/in", "/wc/out9", ""},
            "java.lang.IllegalArgumentException",
            "DORNmap: a setting is not KEY=VALUE: no equals sign"},
       }) {
    messages.clear();
    EXPECT_EQ(ops().javaMap(dfs, context(), f.settings.data(), f.arguments.data()), 0x86BFF81Au);
    std::vector<std::string> lines = messages.lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(reports().front(), statusReport(4, 0x86BFF81A, {"javaMap"}));
    EXPECT_EQ(lines[1], "ERROR: Call to method DORNmap.DORNmain failed.");
    EXPECT_EQ(lines[2], "ERROR: " + f.exception);
    EXPECT_EQ(lines[3], f.exception + ": " + f.text);
    EXPECT_EQ(runnerMetrics(), 0) << f.text;
    EXPECT_FALSE(env->ExceptionCheck());
  }
  EXPECT_EQ(entriesIn(kStagingRoot), stagedBefore);
}

}  // namespace
}  // namespace testsupport
