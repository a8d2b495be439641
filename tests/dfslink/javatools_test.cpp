// The Java tools: sources compiled against the kept class path with their diagnostics listed,
// a real jar launched through JarDORN, and a real word count run through DORNmap over HDFS.
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

const std::string kHadoopApi = std::string(QX_HADOOP_LIB_DIR) + "/hadoop-client-api-3.5.0.jar";

class JavaToolsTest : public HadoopTest {
 protected:
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
  const char *const arguments[] = {out.c_str(), "a", "b", "", "c"};
  hostkernel::Counters before = hostkernel::liveCounters();
  for (int i = 0; i < 10000; i++) {
    ASSERT_EQ(ops().javaJar(dfs, context(), jar.c_str(), "qxtest.Echo", arguments), 0u);
  }
  EXPECT_EQ(hostkernel::liveCounters(), before);
  std::ifstream echoed(out);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(echoed), {}), "a\nb\n");
  EXPECT_TRUE(reports().empty());

  EXPECT_EQ(ops().javaJar(dfs, context(), jar.c_str(), "qxtest.Thrower", arguments), 0x86BFF80Fu);
  std::vector<std::string> lines = messages.lines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(reports().front(), statusReport(4, 0x86BFF80F, {"javaJar"}));
  EXPECT_EQ(lines[1], "ERROR: Call to method JarDORN.run failed.");
  EXPECT_EQ(lines[2], "ERROR: java.lang.IllegalStateException");
  EXPECT_EQ(lines[3], "java.lang.IllegalStateException: launched and failed");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "java.io.IOException: the cause"), lines.end());
  EXPECT_FALSE(env->ExceptionCheck());
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
  std::string filesystem = "fs.defaultFS=" + testHdfs().uri();
  const char *const settings[] = {filesystem.c_str(), ""};
  const char *const arguments[] = {"/wc/in", "/wc/out", ""};
  ASSERT_EQ(ops().javaMap(dfs, context(), settings, arguments), 0u)
      << ::testing::PrintToString(messages.lines());
  std::map<std::string, int64_t> counted;
  for (const std::u16string &name : namesIn(fs, u"/wc/out")) {
    if (name.rfind(u"part-", 0) != 0) continue;
    FileHandle *in = open(fs, "/wc/out/" + hostkernel::fromQXChar(name), 0);
    std::istringstream lines(readAll(fs, in));
    close(fs, in);
    for (std::string word, count; std::getline(lines, word, '\t') && std::getline(lines, count);) {
      counted[word] += std::stoll(count);
    }
  }
  EXPECT_EQ(counted, expected);

  messages.clear();
  const char *const missing[] = {"/wc/none", "/wc/out2", ""};
  EXPECT_EQ(ops().javaMap(dfs, context(), settings, missing), 0x86BFF81Au);
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF81A, {"javaMap"})}));
  messages.clear();
  const char *const unusable[] = {"no equals sign", ""};
  EXPECT_EQ(ops().javaMap(dfs, context(), unusable, arguments), 0x86BFF81Au);
  std::vector<std::string> lines = messages.lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(reports().front(), statusReport(4, 0x86BFF81A, {"javaMap"}));
  EXPECT_EQ(lines[1], "ERROR: Call to method DORNmap.DORNmain failed.");
  EXPECT_EQ(lines[3],
            "java.lang.IllegalArgumentException: DORNmap: a setting is not KEY=VALUE: no equals "
            "sign");
  EXPECT_FALSE(env->ExceptionCheck());
}

}  // namespace
}  // namespace testsupport
