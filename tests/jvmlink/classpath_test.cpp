// haddpaths and haddpath against real jar list files.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "host/qxplatform.h"
#include "tests/jvmlink/bridge_fixture.h"

namespace testsupport {
namespace {

const char kFirstList[] = "hadoopbasics/hadoopwrapr.txt";
const char kSecondList[] = "hadoop/hdoopzeljars.txt";

class ClassPathTest : public BridgeTest {
 protected:
  void SetUp() override {
    BridgeTest::SetUp();
    root = temporaryDirectory();
    setenv("QXHOST_JAR_ROOT", root.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("QXHOST_JAR_ROOT");
    removeTree(root);
    BridgeTest::TearDown();
  }
  void writeList(const std::string &name, const std::string &content) {
    std::filesystem::path path = std::filesystem::path(root) / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << content;
  }
  void writeBothLists() {
    writeList(kFirstList, "# the project's own jars\n" + bridgeClassesJar() + "\n");
    writeList(kSecondList, testDataDirectory() + "/in-jar.jar\n");
  }
  int32_t addPaths(const ClassPathList *list) { return ops().haddpaths(bridge, context(), list); }

  std::string root;
  const std::string jar = testDataDirectory() + "/in-jar.jar";
  const std::string classes = testDataDirectory() + "/classes";
};

TEST_F(ClassPathTest, NullListReadsBothJarListsAndApplies) {
  writeBothLists();
  hostkernel::injectFault(Fault::JarList, 2);  // proves the second list is read: it fires there
  EXPECT_EQ(addPaths(nullptr), static_cast<int32_t>(0));
  EXPECT_FALSE(hostkernel::faultPending(Fault::JarList));
  EXPECT_EQ(bridge->classPathText, nullptr);
  EXPECT_TRUE(reports().empty()) << "no list was given, so no warning";

  hostkernel::clearFaults();
  EXPECT_EQ(addPaths(nullptr), 0);
  EXPECT_TRUE(reports().empty());
}

TEST_F(ClassPathTest, FailedFirstJarListSkipsTheSecondAndWarnsOnlyWhenAsked) {
  hostkernel::injectFault(Fault::JarList, 1, kSecondList);
  OwnedList quiet({jar});
  EXPECT_EQ(addPaths(&quiet.list), 0);
  EXPECT_TRUE(reports().empty());
  EXPECT_TRUE(hostkernel::faultPending(Fault::JarList)) << "the second list was read";

  OwnedList loud({jar}, CLASS_PATH_WARN_JAR_LISTS);
  EXPECT_EQ(addPaths(&loud.list), 0);
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(3, QX_OPERATION_FAILED)}));
}

TEST_F(ClassPathTest, FirstListIsKeptAndLaterListsCountOnlyForTheirFlags) {
  writeBothLists();
  OwnedList first({jar, classes});
  ASSERT_EQ(addPaths(&first.list), 0);
  std::string expected = jar + QX_PATH_SEPARATOR + classes + '\0';
  ASSERT_NE(bridge->classPathText, nullptr);
  EXPECT_EQ(std::string(bridge->classPathText, expected.size()), expected);
  EXPECT_EQ(bridge->classPathCount, 2);
  EXPECT_EQ(std::vector<int32_t>(bridge->classPathLengths, bridge->classPathLengths + 2),
            first.lengths);

  std::filesystem::remove(std::filesystem::path(root) / kFirstList);
  OwnedList second({bridgeClassesJar()}, CLASS_PATH_WARN_JAR_LISTS);
  EXPECT_EQ(addPaths(&second.list), 0);
  EXPECT_EQ(std::string(bridge->classPathText, expected.size()), expected);
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(3, QX_OPERATION_FAILED)}));
}

TEST_F(ClassPathTest, NothingToApplyIsSuccessAndAFailedApplyIsReported) {
  writeBothLists();
  QXJniExtension *jni = bridge->jniExtension;
  jni->applyClassPath(jni, env);
  std::filesystem::remove(std::filesystem::path(root) / kFirstList);
  EXPECT_EQ(jni->applyClassPath(jni, env), -1);
  EXPECT_EQ(addPaths(nullptr), 0) << "an apply result of -1 is success";

  hostkernel::injectFault(Fault::ClassPathApply, 1);
  EXPECT_EQ(addPaths(nullptr), 1);
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF00A, {"haddpaths"})}));
}

TEST_F(ClassPathTest, AnotherThreadsFirstEnvironmentAppliesTheKeptItems) {
  writeBothLists();
  OwnedList list({classes, jar});
  ASSERT_EQ(addPaths(&list.list), 0);
  onNewThread([&] {
    JNIEnv *threadEnv = ops().getJNIEnv(bridge, context());
    ASSERT_NE(threadEnv, nullptr);
    EXPECT_EQ(bridge->threadEntries[1].flags, THREAD_CLASS_PATH_APPLIED);
    jclass found = threadEnv->FindClass("qxtest/InDirectory");
    EXPECT_NE(found, nullptr);
    threadEnv->DeleteLocalRef(found);
    QXJniExtension *jni = bridge->jniExtension;
    jni->releaseThread(jni, jni, threadEnv);
  });
  EXPECT_TRUE(reports().empty());
}

TEST_F(ClassPathTest, CopyThatCannotBeAllocatedIsReportedWithItsSize) {
  OwnedList list({jar, classes});
  hostkernel::injectFault(Fault::Allocation, 1, "JVMLINK Pool");
  EXPECT_EQ(addPaths(&list.list), static_cast<int32_t>(QX_OUT_OF_MEMORY));
  hostkernel::injectFault(Fault::Allocation, 2, "JVMLINK Pool");
  EXPECT_EQ(addPaths(&list.list), static_cast<int32_t>(QX_OUT_OF_MEMORY));
  EXPECT_EQ(bridge->classPathText, nullptr);
  EXPECT_EQ(
      reports(),
      std::vector<Report>(
          {statusReport(4, QX_OUT_OF_MEMORY),
           statusReport(4, 0x86BFF00D, {"haddpaths", std::to_string(list.list.total + 1)}),
           statusReport(4, QX_OUT_OF_MEMORY), statusReport(4, 0x86BFF00D, {"haddpaths", "8"})}));
}

TEST_F(ClassPathTest, ListWhoseLengthsDoNotAddUpIsRefused) {
  OwnedList list({jar, classes});
  list.list.total += 5;
  EXPECT_EQ(addPaths(&list.list), static_cast<int32_t>(QX_MISSING_ARGUMENT));
  EXPECT_EQ(bridge->classPathText, nullptr);
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, QX_MISSING_ARGUMENT)}));
}

TEST_F(ClassPathTest, WithoutAnEnvironmentBothOperationsFail) {
  onNewThread([&] {
    hostkernel::injectFault(Fault::ThreadAttach, 2);
    hostkernel::injectFault(Fault::ThreadAttach, 1);
    EXPECT_EQ(addPaths(nullptr), static_cast<int32_t>(QX_OPERATION_FAILED));
    EXPECT_EQ(ops().haddpath(bridge, context(), jar.c_str()),
              static_cast<int32_t>(QX_OPERATION_FAILED));
  });
  const Report noAttach = statusReport(4, 0x86BFF009, {"getJNIEnv"});
  const Report noEnvironment = statusReport(4, 0x86BFF00B, {"haddpaths"});
  EXPECT_EQ(reports(), std::vector<Report>({noAttach, noEnvironment, noAttach, noEnvironment}));
}

TEST_F(ClassPathTest, SingleItemIsAddedButNotKept) {
  EXPECT_EQ(ops().haddpath(bridge, context(), classes.c_str()), 0);
  EXPECT_EQ(ops().haddpath(bridge, context(), "/no/such/item.jar"),
            static_cast<int32_t>(QX_IO_NOT_FOUND));
  EXPECT_EQ(bridge->classPathText, nullptr);
  EXPECT_TRUE(reports().empty());
  // An existing directory whose name is not UTF-8 is refused and said, never added as another.
  std::string odd = classes + "/not-\xff-utf8";
  std::filesystem::create_directories(odd);
  EXPECT_EQ(ops().haddpath(bridge, context(), odd.c_str()),
            static_cast<int32_t>(QX_IO_NAME_NOT_TEXT));
  std::filesystem::remove(odd);
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, QX_IO_NAME_NOT_TEXT)}));
}

}  // namespace
}  // namespace testsupport
