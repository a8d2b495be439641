// JnlFromException: Java exceptions of known shapes as host messages.
#include "dfslink/internal.h"
#include "tests/dfslink/dfs_fixture.h"

namespace testsupport {
namespace {

class ExceptionsTest : public DfsTest {
 protected:
  void SetUp() override {
    DfsTest::SetUp();
    std::string jar = testDataDirectory() + "/bridge-classes.jar";
    ASSERT_EQ(bridgeOps().haddpath(dfs->jvm, context(), jar.c_str()), 0);
  }

  // A throwable made by a static method of qxtest/Faults.
  LocalRef<jthrowable> made(const char *method) {
    jobject made = nullptr;
    EXPECT_EQ(
        bridgeOps().invokeMethod(dfs->jvm, context(), env, &made, nullptr, JVMLINK_STATIC, nullptr,
                                 "qxtest/Faults", 0, method, "()Ljava/lang/Throwable;"),
        0);
    return LocalRef<jthrowable>(env, static_cast<jthrowable>(made));
  }

  int frameCount(jthrowable throwable) {
    jclass type = env->FindClass("java/lang/Throwable");
    jmethodID getStackTrace =
        env->GetMethodID(type, "getStackTrace", "()[Ljava/lang/StackTraceElement;");
    LocalRef<jobjectArray> frames(
        env, static_cast<jobjectArray>(env->CallObjectMethod(throwable, getStackTrace)));
    EXPECT_FALSE(env->ExceptionCheck());
    env->DeleteLocalRef(type);
    return env->GetArrayLength(frames.get());
  }

  std::vector<std::string> lines() { return messages.lines(); }
};

TEST_F(ExceptionsTest, PrintsMethodClassTextFramesAndCause) {
  LocalRef<jthrowable> thrown = made("withCause");
  int outerFrames = frameCount(thrown.get());
  EXPECT_EQ(dfs::JnlFromException(dfs, context(), thrown.get(), env, "qxtest.Faults::withCause"),
            0);
  std::vector<std::string> printed = lines();
  ASSERT_GE(printed.size(), 4u + outerFrames);
  EXPECT_EQ(printed[0], "ERROR: Call to method qxtest.Faults::withCause failed.");
  EXPECT_EQ(printed[1], "ERROR: java.lang.IllegalStateException");
  EXPECT_EQ(printed[2], "java.lang.IllegalStateException: outer");
  EXPECT_EQ(printed[3], "qxtest.Faults.withCause(Faults.java:8)");
  EXPECT_EQ(printed[3 + outerFrames], " caused by");
  EXPECT_EQ(printed[4 + outerFrames], "java.io.IOException: inner");
  for (const Report &report : reports()) {
    EXPECT_EQ(report.code, 0u);
    EXPECT_TRUE(report.severity == 0 || report.severity == 4);
  }
}

TEST_F(ExceptionsTest, EmptyStackTraceGoesStraightToTheCause) {
  LocalRef<jthrowable> thrown = made("withoutFrames");
  EXPECT_EQ(dfs::JnlFromException(dfs, context(), thrown.get(), env, nullptr), 0);
  std::vector<std::string> printed = lines();
  ASSERT_GE(printed.size(), 4u);
  EXPECT_EQ(printed[0], "ERROR: java.lang.Exception");
  EXPECT_EQ(printed[1], "java.lang.Exception: no frames");
  EXPECT_EQ(printed[2], " caused by");
  EXPECT_EQ(printed[3], "java.lang.RuntimeException: the cause");
}

TEST_F(ExceptionsTest, ChainThatLoopsIsStopped) {
  LocalRef<jthrowable> thrown = made("looping");
  EXPECT_EQ(dfs::JnlFromException(dfs, context(), thrown.get(), env, nullptr), 0);
  std::vector<std::string> printed = lines();
  EXPECT_EQ(printed.back(), "NOTE: JnlFromException: the cause chain loops; stopped.");
  EXPECT_LT(printed.size(), 100u);
}

TEST_F(ExceptionsTest, WithoutAnyExceptionOnlySaysSo) {
  EXPECT_EQ(dfs::JnlFromException(dfs, context(), nullptr, env, "any"),
            static_cast<int32_t>(0x86BFF811));
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF811, {"JnlFromException"})}));
}

TEST_F(ExceptionsTest, PendingExceptionIsReportedAndCleared) {
  jclass type = env->FindClass("java/lang/UnsupportedOperationException");
  env->ThrowNew(type, "still pending");
  env->DeleteLocalRef(type);
  messages.clear();
  EXPECT_EQ(dfs::JnlFromException(dfs, context(), nullptr, env, "m"), 0);
  EXPECT_FALSE(env->ExceptionCheck());
  std::vector<std::string> printed = lines();
  ASSERT_GE(printed.size(), 3u);
  EXPECT_EQ(printed[1], "ERROR: java.lang.UnsupportedOperationException");
  EXPECT_EQ(printed[2], "java.lang.UnsupportedOperationException: still pending");
}

TEST_F(ExceptionsTest, ClassNameThatCannotBeReadIsSaidAndTheChainStillWalked) {
  LocalRef<jthrowable> thrown = made("withCause");
  messages.clear();
  hostkernel::injectFault(Fault::Allocation, 1, "JVMLINK Pool");
  EXPECT_EQ(dfs::JnlFromException(dfs, context(), thrown.get(), env, "m"), 0);
  std::vector<Report> got = reports();
  ASSERT_GE(got.size(), 5u);
  EXPECT_EQ(got[0], statusReport(4, QX_OUT_OF_MEMORY));
  EXPECT_EQ(got[1].code, 0x86BFF008u);
  EXPECT_EQ(got[2], textReport(4, "ERROR: JnlFromException: exception missing classname"));
  EXPECT_EQ(got[3], textReport(4, "ERROR: Call to method m failed."));
  EXPECT_EQ(got[4], textReport(0, "java.lang.IllegalStateException: outer"));
}

TEST_F(ExceptionsTest, TextBeyondTheBmpIsPrintedAsJavaHasIt) {
  LocalRef<jthrowable> thrown = made("worldText");
  messages.clear();
  EXPECT_EQ(dfs::JnlFromException(dfs, context(), thrown.get(), env, nullptr), 0);
  std::vector<std::string> printed = lines();
  ASSERT_GE(printed.size(), 2u);
  EXPECT_EQ(printed[1],
            "java.lang.IllegalArgumentException: smile-\U0001F600 \u6587\u5B57 e\u0301");
}

TEST_F(ExceptionsTest, MissingContextOrRecord) {
  EXPECT_EQ(dfs::JnlFromException(dfs, nullptr, nullptr, env, nullptr),
            static_cast<int32_t>(QX_MISSING_ARGUMENT));
  EXPECT_EQ(dfs::JnlFromException(nullptr, context(), nullptr, env, nullptr),
            static_cast<int32_t>(QX_MISSING_ARGUMENT));
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, QX_MISSING_ARGUMENT)}));
}

}  // namespace
}  // namespace testsupport
