// qxjni: the in-process JVM, thread attachment, and class-path items added after the JVM runs.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/test_support.h"

namespace {

using hostkernel::Fault;

class JniTest : public testsupport::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    QXKernel *kernel = hostkernel::kernel();
    jni = static_cast<QXJniExtension *>(kernel->loadExtension(kernel, u"qxjni", 5, messages.get()));
    ASSERT_NE(jni, nullptr);
    ASSERT_NE(jni->obtainJvm(jni, 0, 0, 1), 0);
  }
  void TearDown() override {
    jni->header.release(jni);
    HostTest::TearDown();
  }

  // Runs body on a new native thread attached through qxjni.
  template <typename Body>
  void onAttachedThread(Body body) {
    std::thread([&] {
      JNIEnv *env = nullptr;
      ASSERT_EQ(jni->attachThread(jni, jni, &env, 0, 0), 0);
      ASSERT_NE(env, nullptr);
      body(env);
      jni->releaseThread(jni, jni, env);
    }).join();
  }

  static int callAnswer(JNIEnv *env, const char *className) {
    jclass found = env->FindClass(className);
    if (!found) {
      env->ExceptionClear();
      return -1;
    }
    jmethodID answer = env->GetStaticMethodID(found, "answer", "()I");
    int result = env->CallStaticIntMethod(found, answer);
    EXPECT_FALSE(env->ExceptionCheck());
    env->DeleteLocalRef(found);
    return result;
  }

  static bool systemResourceExists(JNIEnv *env, const char *name) {
    jclass loaderClass = env->FindClass("java/lang/ClassLoader");
    jmethodID lookup = env->GetStaticMethodID(loaderClass, "getSystemResource",
                                              "(Ljava/lang/String;)Ljava/net/URL;");
    jstring text = env->NewStringUTF(name);
    jobject url = env->CallStaticObjectMethod(loaderClass, lookup, text);
    EXPECT_FALSE(env->ExceptionCheck());
    bool exists = url != nullptr;
    env->DeleteLocalRef(url);
    env->DeleteLocalRef(text);
    env->DeleteLocalRef(loaderClass);
    return exists;
  }

  // java.class.path as the JVM tells it.
  static std::string classPathProperty(JNIEnv *env) {
    jclass system = env->FindClass("java/lang/System");
    jmethodID get =
        env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
    jstring key = env->NewStringUTF("java.class.path");
    auto value = static_cast<jstring>(env->CallStaticObjectMethod(system, get, key));
    EXPECT_FALSE(env->ExceptionCheck());
    std::u16string units(static_cast<size_t>(env->GetStringLength(value)), u'\0');
    env->GetStringRegion(value, 0, static_cast<jsize>(units.size()),
                         reinterpret_cast<jchar *>(units.data()));
    for (jobject local :
         {static_cast<jobject>(system), static_cast<jobject>(key), static_cast<jobject>(value)}) {
      env->DeleteLocalRef(local);
    }
    return hostkernel::fromQXChar(units);
  }

  QXJniExtension *jni = nullptr;
};

TEST_F(JniTest, ItemsAddedAfterTheJvmExistsAreFoundOnASecondNativeThread) {
  std::string jar = testsupport::testDataDirectory() + "/in-jar.jar";
  std::string directory = testsupport::testDataDirectory() + "/classes";
  JNIEnv *env = nullptr;
  ASSERT_EQ(jni->attachThread(jni, jni, &env, 0, 0), 0);
  EXPECT_FALSE(systemResourceExists(env, "qxtest/InJar.class"));
  EXPECT_FALSE(systemResourceExists(env, "qxtest/resource.txt"));
  EXPECT_EQ(jni->addClassPathItem(jni, env, jar.c_str()), 0);
  EXPECT_EQ(jni->addClassPathItem(jni, env, directory.c_str()), 0);
  EXPECT_EQ(jni->addClassPathItem(jni, env, jar.c_str()), 0) << "a known item again";
  std::string classPath = classPathProperty(env);
  EXPECT_EQ(classPath.substr(classPath.find(jar)), jar + ":" + directory)
      << "java.class.path tells what launched programs are given";
  EXPECT_EQ(jni->applyClassPath(jni, env), 0);
  EXPECT_EQ(jni->applyClassPath(jni, env), -1) << "nothing added since the last apply";
  jni->releaseThread(jni, jni, env);

  onAttachedThread([&](JNIEnv *threadEnv) {
    EXPECT_EQ(callAnswer(threadEnv, "qxtest/InJar"), 42);
    EXPECT_EQ(callAnswer(threadEnv, "qxtest/InDirectory"), 7);
    EXPECT_TRUE(systemResourceExists(threadEnv, "qxtest/resource.txt"));
  });
}

// What the JVM was started with stays first on java.class.path whatever is added (the tests run
// with a -Djava.class.path among the JVM options, which wins over the kernel's own), and a name
// that is not UTF-8 is refused rather than added as another.
TEST_F(JniTest, TheClassPathTheJvmTookStaysAndNoNameIsMangled) {
  JNIEnv *env = nullptr;
  ASSERT_EQ(jni->attachThread(jni, jni, &env, 0, 0), 0);
  std::string before = classPathProperty(env);
  std::string options = getenv("QXHOST_JVM_OPTIONS") ? getenv("QXHOST_JVM_OPTIONS") : "";
  size_t given = options.find("-Djava.class.path=");
  if (given != std::string::npos) {
    std::string seed = options.substr(given + 18, options.find(' ', given) - given - 18);
    EXPECT_EQ(before.rfind(seed, 0), 0u) << before;
  }
  std::string odd = testsupport::temporaryDirectory(), named = odd + "/not-\xff-utf8";
  std::filesystem::create_directories(named);
  EXPECT_EQ(jni->addClassPathItem(jni, env, named.c_str()),
            static_cast<int32_t>(QX_IO_NAME_NOT_TEXT));
  EXPECT_EQ(classPathProperty(env), before);
  EXPECT_EQ(jni->addClassPathItem(jni, env, odd.c_str()), 0);
  EXPECT_EQ(classPathProperty(env), before + ":" + odd);
  jni->releaseThread(jni, jni, env);
  testsupport::removeTree(odd);
}

TEST_F(JniTest, AttachedThreadsGetTheSystemLoaderAsContextLoaderAndAreDetachedOnRelease) {
  hostkernel::Counters before = hostkernel::liveCounters();
  std::thread([&] {
    JNIEnv *env = nullptr;
    ASSERT_EQ(jni->attachThread(jni, jni, &env, 0, 0), 0);
    JNIEnv *again = nullptr;
    ASSERT_EQ(jni->attachThread(jni, jni, &again, 0, 0), 0);
    EXPECT_EQ(again, env);
    EXPECT_EQ(hostkernel::liveCounters().attachedThreads, before.attachedThreads + 1);

    jclass threadClass = env->FindClass("java/lang/Thread");
    jmethodID currentThread =
        env->GetStaticMethodID(threadClass, "currentThread", "()Ljava/lang/Thread;");
    jmethodID getContextLoader =
        env->GetMethodID(threadClass, "getContextClassLoader", "()Ljava/lang/ClassLoader;");
    jobject thread = env->CallStaticObjectMethod(threadClass, currentThread);
    ASSERT_FALSE(env->ExceptionCheck());
    jobject contextLoader = env->CallObjectMethod(thread, getContextLoader);
    ASSERT_FALSE(env->ExceptionCheck());
    jclass loaderClass = env->FindClass("java/lang/ClassLoader");
    jmethodID getSystemLoader =
        env->GetStaticMethodID(loaderClass, "getSystemClassLoader", "()Ljava/lang/ClassLoader;");
    jobject systemLoader = env->CallStaticObjectMethod(loaderClass, getSystemLoader);
    ASSERT_FALSE(env->ExceptionCheck());
    EXPECT_TRUE(env->IsSameObject(contextLoader, systemLoader));
    for (jobject local : {static_cast<jobject>(threadClass), thread, contextLoader,
                          static_cast<jobject>(loaderClass), systemLoader}) {
      env->DeleteLocalRef(local);
    }

    jni->releaseThread(jni, jni, again);
    JNIEnv *current = nullptr;
    EXPECT_EQ(hostkernel::javaVm()->GetEnv(reinterpret_cast<void **>(&current), JNI_VERSION_1_8),
              JNI_OK);
    jni->releaseThread(jni, jni, env);
    EXPECT_EQ(hostkernel::javaVm()->GetEnv(reinterpret_cast<void **>(&current), JNI_VERSION_1_8),
              JNI_EDETACHED);
  }).join();
  EXPECT_EQ(hostkernel::liveCounters(), before);
}

class JarListTest : public JniTest {
 protected:
  void SetUp() override {
    JniTest::SetUp();
    char pattern[] = "/tmp/qxjarroot.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    setenv("QXHOST_JAR_ROOT", root.c_str(), 1);
    mkdir((root + "/lists").c_str(), 0755);
    ASSERT_EQ(jni->attachThread(jni, jni, &env, 0, 0), 0);
  }
  void TearDown() override {
    jni->releaseThread(jni, jni, env);
    unsetenv("QXHOST_JAR_ROOT");
    std::string command = "rm -rf " + root;
    EXPECT_EQ(system(command.c_str()), 0);
    JniTest::TearDown();
  }
  void writeList(const std::string &name, const std::string &content) {
    std::ofstream(root + "/" + name) << content;
  }
  std::string root;
  JNIEnv *env = nullptr;
};

TEST_F(JarListTest, ReadsRelativeAndAbsolutePathsSkippingBlankAndCommentLines) {
  std::ofstream(root + "/local.jar") << "not really a jar, but an existing path";
  writeList("lists/jars.txt",
            "# comment\n\n  local.jar  \r\n" + testsupport::testDataDirectory() + "/in-jar.jar\n");
  EXPECT_EQ(jni->readJarListFile(jni, env, "lists/jars.txt"), 0);
}

TEST_F(JarListTest, MissingListOrMissingJarIsANonZeroStatus) {
  EXPECT_EQ(jni->readJarListFile(jni, env, "lists/absent.txt"),
            static_cast<int32_t>(QX_OPERATION_FAILED));
  writeList("lists/broken.txt", "absent.jar\n");
  EXPECT_EQ(jni->readJarListFile(jni, env, "lists/broken.txt"),
            static_cast<int32_t>(QX_OPERATION_FAILED));
  unsetenv("QXHOST_JAR_ROOT");
  EXPECT_NE(jni->readJarListFile(jni, env, "lists/broken.txt"), 0);
}

TEST_F(JniTest, MissingItemIsRefusedAndFaultsCanBeInjected) {
  JNIEnv *env = nullptr;
  ASSERT_EQ(jni->attachThread(jni, jni, &env, 0, 0), 0);
  EXPECT_EQ(jni->addClassPathItem(jni, env, "/no/such/path.jar"),
            static_cast<int32_t>(QX_IO_NOT_FOUND));

  hostkernel::injectFault(Fault::ClassPathAdd, 1);
  EXPECT_NE(jni->addClassPathItem(jni, env, testsupport::testDataDirectory().c_str()), 0);
  hostkernel::injectFault(Fault::JarList, 1);
  EXPECT_NE(jni->readJarListFile(jni, env, "any.txt"), 0);
  hostkernel::injectFault(Fault::ClassPathApply, 1);
  EXPECT_GT(jni->applyClassPath(jni, env), 0);
  hostkernel::injectFault(Fault::JvmObtain, 1);
  EXPECT_EQ(jni->obtainJvm(jni, 0, 0, 1), 0);
  jni->releaseThread(jni, jni, env);

  std::thread([&] {
    hostkernel::injectFault(Fault::ThreadAttach, 1);
    JNIEnv *refused = reinterpret_cast<JNIEnv *>(1);
    EXPECT_NE(jni->attachThread(jni, jni, &refused, 0, 0), 0);
    EXPECT_EQ(refused, nullptr);
  }).join();
}

TEST_F(JniTest, JniWarningsOfTheCheckedJvmAreCounted) {
  JNIEnv *env = nullptr;
  ASSERT_EQ(jni->attachThread(jni, jni, &env, 0, 0), 0);
  jclass exceptionClass = env->FindClass("java/lang/IllegalStateException");
  env->ThrowNew(exceptionClass, "deliberate");
  jclass found = env->FindClass("java/lang/String");  // a call with an exception pending
  env->ExceptionClear();
  env->DeleteLocalRef(found);
  env->DeleteLocalRef(exceptionClass);
  EXPECT_GE(hostkernel::takeJniWarnings(), 1);
  jni->releaseThread(jni, jni, env);
}

}  // namespace
