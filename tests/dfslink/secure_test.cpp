// A Kerberos-secured HDFS: no credentials, a keytab's user, and users acting as others through
// Hadoop's proxy users (alice may act as bob; bob may act as no one). The process's login is
// Hadoop's, for the whole JVM: the test without credentials comes first, before any login.
#include "tests/dfslink/hadoop_fixture.h"

namespace testsupport {
namespace {

class SecureTest : public HadoopTest {
 protected:
  // Logs the process in from a user's keytab, as an engine given a keytab does.
  void logIn(const std::string &user) {
    std::u16string principal = qx(testHdfs().info("principal." + user));
    std::u16string keytab = qx(testHdfs().info("keytab." + user));
    LocalRef<jstring> name(env, env->NewString(reinterpret_cast<const jchar *>(principal.data()),
                                               static_cast<jsize>(principal.size())));
    LocalRef<jstring> file(env, env->NewString(reinterpret_cast<const jchar *>(keytab.data()),
                                               static_cast<jsize>(keytab.size())));
    ASSERT_EQ(bridgeOps().invokeMethod(
                  dfs->jvm, context(), env, nullptr, nullptr, JVMLINK_STATIC, nullptr,
                  "org/apache/hadoop/security/UserGroupInformation", 0, "loginUserFromKeytab",
                  "(Ljava/lang/String;Ljava/lang/String;)V", name.get(), file.get()),
              0);
  }
  bool reported(const std::string &text) {
    for (const Report &report : reports()) {
      if (report.line.find(text) != std::string::npos) return true;
    }
    return false;
  }
  std::string ownerIn(hdfsFS fs, const char16_t *path) {
    int32_t status = 0;
    hdfsPathInfo *info = ops().hdfsGetPathInfo(dfs, context(), &status, fs, path);
    std::string owner = info ? info->owner : "";
    if (info) ops().hdfsReleasePathInfo(dfs, nullptr, info, 1);
    return owner;
  }
};

TEST_F(SecureTest, WithoutCredentialsTheFirstOperationFailsCleanly) {
  hdfsFS fs = connect(u"default", 0);
  ASSERT_NE(fs, nullptr);
  int32_t status = 0;
  EXPECT_EQ(ops().hdfsGetPathInfo(dfs, context(), &status, fs, u"/"), nullptr);
  EXPECT_EQ(status, 0) << "a refusal, not a missing path";
  EXPECT_TRUE(reported("Client cannot authenticate via:[TOKEN, KERBEROS]"))
      << ::testing::PrintToString(messages.lines());
}

TEST_F(SecureTest, AKeytabUserWritesReadsListsAndDeletes) {
  logIn("alice");
  hdfsFS fs = connect(u"default", 0);
  const std::string data = randomBytes(3 << 20, 31);
  writeAll(fs, "/user/alice/\xF0\x9F\x94\x91 key", data);  // a name outside the BMP
  FileHandle *in = open(fs, "/user/alice/\xF0\x9F\x94\x91 key", 0);
  ASSERT_NE(in, nullptr);
  EXPECT_TRUE(readAll(fs, in) == data) << "every byte right";
  close(fs, in);
  EXPECT_EQ(namesIn(fs, u"/user/alice"), std::vector<std::u16string>({u"\U0001F511 key"}));
  EXPECT_EQ(ownerIn(fs, u"/user/alice/\U0001F511 key"), "alice");
  int32_t status = 0;
  EXPECT_EQ(ops().hdfsDelete(dfs, context(), &status, fs, u"/user/alice/\U0001F511 key"), 0);
  EXPECT_EQ(namesIn(fs, u"/user/alice"), std::vector<std::u16string>());
  EXPECT_TRUE(reports().empty()) << ::testing::PrintToString(messages.lines());
}

TEST_F(SecureTest, AProxyUserActsAsThatUserWithThatUsersPermissions) {
  logIn("alice");
  hdfsFS alice = connect(u"default", 0);
  hdfsFS bob = connect(u"default", 0, u"bob");
  hdfsFS herself = connect(u"default", 0, u"alice");  // the login's own name: no proxy
  ASSERT_TRUE(alice && bob && herself);
  writeAll(alice, "/user/alice/private", "alice's alone");
  int32_t status = 0;
  EXPECT_EQ(ops().hdfsChmod(dfs, context(), &status, alice, "/user/alice/private", 0600), 0);
  EXPECT_EQ(ops().hdfsOpenFile(dfs, context(), &status, bob, u"/user/alice/private", 0, 0, 0, 0),
            nullptr);
  EXPECT_TRUE(reported("Permission denied: user=bob, access=READ"))
      << ::testing::PrintToString(messages.lines());
  messages.clear();
  writeAll(bob, "/user/bob/mine", "bob's");
  writeAll(herself, "/user/alice/own", "alice's");
  EXPECT_EQ(ownerIn(alice, u"/user/bob/mine"), "bob");
  EXPECT_EQ(ownerIn(alice, u"/user/alice/own"), "alice");
  for (const char16_t *path : {u"/user/alice/private", u"/user/alice/own"}) {
    EXPECT_EQ(ops().hdfsDelete(dfs, context(), &status, alice, path), 0);
  }
  EXPECT_EQ(ops().hdfsDelete(dfs, context(), &status, bob, u"/user/bob/mine"), 0);
}

TEST_F(SecureTest, AnImpersonationTheNameNodeRefusesFailsTheConnect) {
  logIn("bob");
  // -Xcheck:jni warns past a frame's capacity and 32: a local reference left by each refused
  // connect adds up past that.
  env->PushLocalFrame(1);
  for (int attempt = 0; attempt < 40; attempt++) {
    hdfsFS fs = reinterpret_cast<hdfsFS>(1);
    EXPECT_EQ(ops().hdfsConnectAsUser(dfs, context(), u"default", 0, u"alice", &fs),
              static_cast<int32_t>(QX_OPERATION_FAILED));
    EXPECT_EQ(fs, nullptr);
    EXPECT_TRUE(reported("User: bob@EXAMPLE.COM is not allowed to impersonate alice"))
        << ::testing::PrintToString(messages.lines());
    messages.clear();
  }
  env->PopLocalFrame(nullptr);
  EXPECT_NE(connect(u"default", 0, u"bob"), nullptr);
}

TEST_F(SecureTest, AFailureAnywhereInAProxyConnectLeavesNothingBehind) {
  logIn("alice");
  hdfsFS fs = nullptr;
  hostkernel::startFaultSweep(0);
  ASSERT_EQ(ops().hdfsConnectAsUser(dfs, context(), u"default", 0, u"bob", &fs), 0);
  int64_t points = hostkernel::stopFaultSweep();
  EXPECT_EQ(ops().hdfsDisconnect(dfs, context(), fs), 0);
  int64_t blocks = hostkernel::liveCounters().blocks - keptBlocks();
  env->PushLocalFrame(1);
  for (int64_t point = 1; point <= points; point++) {
    messages.clear();
    fs = nullptr;
    hostkernel::startFaultSweep(point);
    int32_t result = ops().hdfsConnectAsUser(dfs, context(), u"default", 0, u"bob", &fs);
    hostkernel::stopFaultSweep();
    std::string fault = hostkernel::sweptFault();
    EXPECT_FALSE(env->ExceptionCheck()) << fault;
    env->ExceptionClear();
    if (result == 0) {
      EXPECT_EQ(ops().hdfsDisconnect(dfs, context(), fs), 0) << fault;
    } else {
      EXPECT_EQ(fs, nullptr) << fault;
      EXPECT_FALSE(reports().empty()) << fault << ": a failure without a report";
    }
    EXPECT_EQ(hostkernel::liveCounters().blocks - keptBlocks(), blocks) << fault;
  }
  env->PopLocalFrame(nullptr);
  printf("[ sweep    ] proxy connect: %lld fault points\n", static_cast<long long>(points));
}

}  // namespace
}  // namespace testsupport
