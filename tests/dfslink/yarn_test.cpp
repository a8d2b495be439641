// Jobs on YARN: the engine's word count through javaMap over 64 MiB on two NodeManagers, the
// same job losing a NodeManager while its maps run, a mapper that throws, and a Hadoop driver
// compiled by javaComp, packed into a jar and launched by javaJar. Each result is checked
// against counts made here.
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

using Counts = std::map<std::string, int64_t>;

class YarnTest : public HadoopTest {
 protected:
  void SetUp() override {
    HadoopTest::SetUp();
    directory = temporaryDirectory();
    fs = connectHdfs();
  }
  void TearDown() override {
    removeTree(directory);
    HadoopTest::TearDown();
  }

  // Writes files of words under a directory of HDFS; what they count.
  Counts writeWords(const std::string &input, int files, size_t bytesEach) {
    std::vector<std::string> vocabulary;
    for (int i = 0; i < 500; i++) vocabulary.push_back("w" + std::to_string(i * 7919 % 100003));
    vocabulary.push_back("\xE6\x96\x87\xE5\xAD\x97");
    std::mt19937 random(18);
    Counts counts;
    for (int file = 0; file < files; file++) {
      std::string text;
      text.reserve(bytesEach + 64);
      while (text.size() < bytesEach) {
        const std::string &word = vocabulary[random() % vocabulary.size()];
        text += word;
        text += random() % 12 == 0 ? '\n' : ' ';
        counts[word]++;
      }
      writeAll(fs, input + "/part" + std::to_string(file), text);
    }
    return counts;
  }

  // Runs the engine's word count; its status, with the job's last state document.
  uint32_t wordCount(const std::string &input, const std::string &output,
                     std::vector<std::string> settings, std::string &state) {
    std::string statusFile = directory + "/status-" + std::to_string(++jobs) + ".json";
    settings.push_back("fs.defaultFS=" + testHdfs().uri());
    settings.push_back("dornmap.status=" + statusFile);
    std::vector<const char *> list;
    for (const std::string &setting : settings) list.push_back(setting.c_str());
    list.push_back("");
    const char *const paths[] = {input.c_str(), output.c_str(), ""};
    uint32_t result = ops().javaMap(dfs, context(), list.data(), paths);
    std::ifstream in(statusFile);
    state.assign(std::istreambuf_iterator<char>(in), {});
    return result;
  }

  std::string directory;
  hdfsFS fs = nullptr;
  int jobs = 0;
};

// The value of a string field of a flat JSON document, or "".
std::string field(const std::string &json, const std::string &name) {
  size_t at = json.find("\"" + name + "\":\"");
  if (at == std::string::npos) return "";
  at += name.size() + 4;
  return json.substr(at, json.find('"', at) - at);
}

// The entries of the document's "mapHosts" array.
size_t mapHostCount(const std::string &json) {
  size_t at = json.find("\"mapHosts\":[");
  if (at == std::string::npos) return 0;
  std::string hosts = json.substr(at, json.find(']', at) - at);
  return static_cast<size_t>(std::count(hosts.begin(), hosts.end(), '"') - 2) / 2;
}

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

TEST_F(YarnTest, AWordCountOfSixtyFourMebibytesRunsOnBothNodeManagers) {
  Counts expected = writeWords("/words", 8, 8 << 20);
  std::string state;
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(wordCount("/words", "/counted", {}, state), 0u)
      << ::testing::PrintToString(messages.lines());
  double onYarn = seconds(started);
  EXPECT_EQ(countsIn(fs, "/counted"), expected);
  EXPECT_EQ(field(state, "state"), "SUCCEEDED") << state;
  EXPECT_EQ(field(state, "id").rfind("job_", 0), 0u) << state;
  EXPECT_EQ(field(state, "id").find("local"), std::string::npos) << "not the local runner";
  EXPECT_EQ(mapHostCount(state), 2u) << "map tasks on both NodeManagers: " << state;

  started = std::chrono::steady_clock::now();
  ASSERT_EQ(wordCount("/words", "/counted-here", {"mapreduce.framework.name=local"}, state), 0u);
  double onLocalRunner = seconds(started);
  EXPECT_NE(field(state, "id").find("local"), std::string::npos) << state;
  EXPECT_EQ(countsIn(fs, "/counted-here"), expected);
  std::cout << "word count of 64 MiB: YARN " << onYarn << " s, local job runner " << onLocalRunner
            << " s\n";
}

TEST_F(YarnTest, AJobLosingANodeManagerWhileItsMapsRunStillSucceeds) {
  Counts expected = writeWords("/lost-words", 8, 2 << 20);
  std::string statusFile = directory + "/status-" + std::to_string(jobs + 1) + ".json";
  auto job = std::async(std::launch::async, [&] {
    std::string state;
    uint32_t result = wordCount("/lost-words", "/lost-counted", {}, state);
    QXJniExtension *jni = dfs->jvm->jniExtension;
    jni->releaseThread(jni, jni, nullptr);
    return result;
  });
  // Once its maps run: the map progress is above 0.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  for (std::string state; std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
    std::ifstream in(statusFile);
    state.assign(std::istreambuf_iterator<char>(in), {});
    if (state.find("\"map\":0.0,") == std::string::npos &&
        state.find("\"map\":") != std::string::npos) {
      break;
    }
  }
  ASSERT_TRUE(testHdfs().stopNodeManager(1)) << testHdfs().error();
  EXPECT_EQ(job.get(), 0u) << ::testing::PrintToString(messages.lines());
  EXPECT_EQ(countsIn(fs, "/lost-counted"), expected);
  EXPECT_TRUE(testHdfs().startNodeManager(1)) << testHdfs().error();
}

TEST_F(YarnTest, AMapperThatThrowsFailsTheJobWithItsException) {
  writeAll(fs, "/poisoned/part0", "good words\npoison\nmore words\n");
  std::string jar = "tmpjars=file://" + testDataDirectory() + "/launched.jar", state;
  EXPECT_EQ(
      wordCount("/poisoned", "/poisoned-out",
                {"mapreduce.job.map.class=qxtest.FailingWords", jar, "mapreduce.map.maxattempts=1"},
                state),
      0x86BFF81Au);
  EXPECT_EQ(field(state, "state"), "FAILED") << state;
  std::vector<std::string> lines = messages.lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(reports().front(), statusReport(4, 0x86BFF81A, {"javaMap"}));
  EXPECT_EQ(lines[2], "ERROR: java.io.IOException");
  EXPECT_NE(lines[3].find("java.lang.IllegalStateException: FailingWords cannot take the line at "
                          "offset 11"),
            std::string::npos)
      << lines[3];
  EXPECT_EQ(lines[3].find('\n'), lines[3].find("\n" + field(state, "id").replace(0, 3, "attempt")))
      << "the mapper's exception is in the first line: " << lines[3];
  EXPECT_FALSE(env->ExceptionCheck());
}

// A job whose ResourceManager is not there (gone with its cluster) fails within the client
// configuration's bound, not after Hadoop's quarter of an hour of retries.
TEST_F(YarnTest, AJobWithoutItsResourceManagerGivesUpWithinTheBound) {
  writeAll(fs, "/orphan/part0", "words\n");
  std::string state;
  auto job = std::async(std::launch::async, [&] {
    uint32_t result =
        wordCount("/orphan", "/orphan-out", {"yarn.resourcemanager.address=127.0.0.1:1"}, state);
    QXJniExtension *jni = dfs->jvm->jniExtension;
    jni->releaseThread(jni, jni, nullptr);
    return result;
  });
  ASSERT_EQ(job.wait_for(std::chrono::seconds(120)), std::future_status::ready);
  EXPECT_EQ(job.get(), 0x86BFF81Au);
  EXPECT_EQ(reports().front(), statusReport(4, 0x86BFF81A, {"javaMap"}));
}

TEST_F(YarnTest, ADriverJarCompiledHereRunsOnYarn) {
  std::string item = std::string(QX_HADOOP_LIB_DIR) + "/hadoop-client-api-3.5.0.jar" + '\0';
  int32_t length = static_cast<int32_t>(item.size());
  ClassPathList list = {item.data(), &length, 1, length, 0};
  ASSERT_EQ(bridgeOps().haddpaths(dfs->jvm, context(), &list), 0);
  std::string classes = directory + "/classes", jar = directory + "/driver.jar";
  std::filesystem::create_directories(classes);
  std::string source = std::string(QX_TEST_SOURCE_DIR) + "/java/driver/WordCountDriver.java";
  const char *const sources[] = {source.c_str(), ""};
  ASSERT_EQ(ops().javaComp(dfs, context(), sources, classes.c_str(), nullptr, nullptr), 0u)
      << ::testing::PrintToString(messages.lines());
  std::string pack = std::string(QX_JDK_HOME) + "/bin/jar cf " + jar + " -C " + classes + " .";
  ASSERT_EQ(system(pack.c_str()), 0);

  Counts expected = writeWords("/driver-words", 2, 1 << 20);
  const char *const arguments[] = {"/driver-words", "/driver-counted", ""};
  ASSERT_EQ(ops().javaJar(dfs, context(), jar.c_str(), "WordCountDriver", arguments), 0u)
      << ::testing::PrintToString(messages.lines());
  EXPECT_EQ(countsIn(fs, "/driver-counted"), expected);

  messages.clear();
  const char *const exitTwo[] = {"--exit", "2", ""};
  EXPECT_EQ(ops().javaJar(dfs, context(), jar.c_str(), "WordCountDriver", exitTwo), 0x86BFF80Fu);
  std::vector<std::string> lines = messages.lines();
  ASSERT_GE(lines.size(), 4u);
  std::string refusal =
      "java.io.IOException: JarDORN: WordCountDriver of " + jar + " ended with exit status 2 ";
  EXPECT_EQ(lines[3].rfind(refusal, 0), 0u) << lines[3];
}

}  // namespace
}  // namespace testsupport
