// Test entry: every JVM a test binary starts runs with -Xcheck:jni, and any JNI warning fails
// the run.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/test_support.h"

namespace testsupport {

void HostTest::SetUp() {
  hostkernel::clearFaults();
  hostkernel::takeJniWarnings();
}

void HostTest::TearDown() {
  hostkernel::clearFaults();
  EXPECT_EQ(hostkernel::takeJniWarnings(), 0) << "the JVM printed JNI warnings";
}

std::string testDataDirectory() {
  return QX_TEST_DATA_DIR;
}

std::string libraryPath(const std::string &module) {
  return std::string(QX_LIBRARY_DIR) + "/lib" + module + ".so";
}

std::string temporaryDirectory() {
  char pattern[] = "/tmp/qxtest.XXXXXX";
  EXPECT_NE(mkdtemp(pattern), nullptr);
  return pattern;
}

void removeTree(const std::string &directory) {
  std::filesystem::remove_all(directory);
}

std::set<std::string> exportedSymbols(const std::string &module) {
  std::string command = "nm -D --defined-only " + libraryPath(module);
  std::set<std::string> symbols;
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) return symbols;
  char address[64], type[8], name[400];
  while (fscanf(pipe, "%63s %7s %399s", address, type, name) == 3) symbols.insert(name);
  pclose(pipe);
  return symbols;
}

namespace {

// Catches warnings printed outside a HostTest, e.g. by threads that outlive a test.
class JniWarningListener : public ::testing::EmptyTestEventListener {
 public:
  bool warned = false;
  void OnTestEnd(const ::testing::TestInfo &info) override {
    if (int warnings = hostkernel::takeJniWarnings()) {
      fprintf(stderr, "%d JNI warning(s) during %s.%s\n", warnings, info.test_suite_name(),
              info.name());
      warned = true;
    }
  }
};

}  // namespace
}  // namespace testsupport

int main(int argc, char **argv) {
  std::string options = "-Xcheck:jni";
  if (const char *extra = getenv("QXHOST_JVM_OPTIONS")) options += std::string(" ") + extra;
  setenv("QXHOST_JVM_OPTIONS", options.c_str(), 1);
  ::testing::InitGoogleTest(&argc, argv);
  auto *listener = new testsupport::JniWarningListener;
  ::testing::UnitTest::GetInstance()->listeners().Append(listener);
  int result = RUN_ALL_TESTS();
  return result != 0 || listener->warned ? 1 : 0;
}
