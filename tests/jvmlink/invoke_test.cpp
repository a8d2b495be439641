// invokeMethod for every return letter, exceptions, missing classes and methods, and the
// method and field identifier lookups.
#include <cstring>

#include "tests/jvmlink/bridge_fixture.h"

namespace testsupport {
namespace {

class InvokeTest : public BridgeTest {
 protected:
  // A static call on qxtest/Bridge with the result written into cell.
  template <typename... Arguments>
  int32_t callStatic(void *cell, const char *method, const char *descriptor,
                     Arguments... arguments) {
    return ops().invokeMethod(bridge, context(), env, cell, nullptr, JVMLINK_STATIC, nullptr,
                              "qxtest/Bridge", 0, method, descriptor, arguments...);
  }

  // The cell's bytes after the call, from a cell filled with 0xAA before it.
  template <typename... Arguments>
  std::vector<unsigned char> cellAfter(const char *method, const char *descriptor,
                                       Arguments... arguments) {
    std::vector<unsigned char> cell(16, 0xAA);
    EXPECT_EQ(callStatic(cell.data(), method, descriptor, arguments...), 0);
    return cell;
  }

  static std::vector<unsigned char> bytes(const void *value, size_t size, size_t total = 16) {
    std::vector<unsigned char> out(total, 0xAA);
    memcpy(out.data(), value, size);
    return out;
  }

  std::string javaText(jobject text) {
    const char *utf8 = env->GetStringUTFChars(static_cast<jstring>(text), nullptr);
    std::string copy = utf8;
    env->ReleaseStringUTFChars(static_cast<jstring>(text), utf8);
    return copy;
  }
};

TEST_F(InvokeTest, KindOtherThanStaticOrInstanceMakesNoCall) {
  int32_t result = ops().invokeMethod(bridge, context(), env, nullptr, nullptr, 2, nullptr,
                                      "qxtest/NotAClass", 0, "touch", "()V");
  EXPECT_EQ(result, JVMLINK_FAILED);
  EXPECT_EQ(reports(), std::vector<Report>({statusReport(4, 0x86BFF001, {"validateMethodType"})}));
  EXPECT_EQ(bridge->cacheReady, 0) << "not even the class was looked up";
}

TEST_F(InvokeTest, EachReturnTypeIsWrittenWithItsExactWidth) {
  jboolean flag = JNI_TRUE;
  EXPECT_EQ(cellAfter("flag", "()Z"), bytes(&flag, 1));
  jshort shortValue = -2;
  EXPECT_EQ(cellAfter("shortValue", "()S"), bytes(&shortValue, 2));
  jint sum = 5;
  EXPECT_EQ(cellAfter("add", "(II)I", 2, 3), bytes(&sum, 4));
  jlong longValue = 0x1122334455667788LL;
  EXPECT_EQ(cellAfter("longValue", "()J"), bytes(&longValue, 8));
  jlong longSum = 0;
  EXPECT_EQ(callStatic(&longSum, "addLong", "(JJ)J", jlong{1} << 40, jlong{7}), 0);
  EXPECT_EQ(longSum, (jlong{1} << 40) + 7) << "long arguments pass as 64-bit values";
  EXPECT_TRUE(reports().empty());
}

TEST_F(InvokeTest, ObjectAndArrayResultsAreLocalReferencesForTheCaller) {
  LocalRef<jstring> name(env, env->NewStringUTF("bridge"));
  jobject greeting = nullptr;
  ASSERT_EQ(callStatic(&greeting, "greet", "(Ljava/lang/String;)Ljava/lang/String;", name.get()),
            0);
  LocalRef<jobject> greetingRef(env, greeting);
  EXPECT_EQ(javaText(greeting), "hello bridge");
  jobject numbers = nullptr;
  ASSERT_EQ(callStatic(&numbers, "numbers", "()[I"), 0);
  LocalRef<jobject> numbersRef(env, numbers);
  EXPECT_EQ(env->GetArrayLength(static_cast<jarray>(numbers)), 3);
}

TEST_F(InvokeTest, VoidMethodWorksWithANullCell) {
  int before = callsSoFar();
  EXPECT_EQ(callStatic(nullptr, "touch", "()V"), 0);
  EXPECT_EQ(callsSoFar(), before + 1);
}

TEST_F(InvokeTest, ByteCharFloatAndDoubleMethodsAreNotCalled) {
  int before = callsSoFar();
  for (const char *descriptor : {"()B", "()C", "()F", "()D"}) {
    const char *method = descriptor[2] == 'B'   ? "byteValue"
                         : descriptor[2] == 'C' ? "charValue"
                         : descriptor[2] == 'F' ? "floatValue"
                                                : "doubleValue";
    std::vector<unsigned char> untouched(16, 0xAA);
    EXPECT_EQ(cellAfter(method, descriptor), untouched) << descriptor;
  }
  EXPECT_EQ(callsSoFar(), before);
}

TEST_F(InvokeTest, InstanceCallsAreVirtualUnlessAskedOtherwise) {
  LocalRef<jobject> derived(
      env, ops().constructNewObjectOfClass(bridge, context(), env, "qxtest/Derived", "(I)V", 9));
  ASSERT_TRUE(derived);
  jobject text = nullptr;
  ASSERT_EQ(
      ops().invokeMethod(bridge, context(), env, &text, nullptr, JVMLINK_INSTANCE, derived.get(),
                         "qxtest/Bridge", 0, "describe", "()Ljava/lang/String;"),
      0);
  EXPECT_EQ(javaText(LocalRef<jobject>(env, text).get()), "derived");
  ASSERT_EQ(
      ops().invokeMethod(bridge, context(), env, &text, nullptr, JVMLINK_INSTANCE, derived.get(),
                         "qxtest/Bridge", 1, "describe", "()Ljava/lang/String;"),
      0);
  EXPECT_EQ(javaText(LocalRef<jobject>(env, text).get()), "base");
  jint value = 0;
  ASSERT_EQ(ops().invokeMethod(bridge, context(), env, &value, nullptr, JVMLINK_INSTANCE,
                               derived.get(), "qxtest/Derived", 0, "getValue", "()I"),
            0);
  EXPECT_EQ(value, 9);
}

TEST_F(InvokeTest, ThrowingMethodHandsBackTheExceptionAndLeavesNothingPending) {
  jthrowable thrown = nullptr;
  EXPECT_EQ(ops().invokeMethod(bridge, context(), env, nullptr, &thrown, JVMLINK_STATIC, nullptr,
                               "qxtest/Bridge", 0, "fail", "()V"),
            JVMLINK_FAILED);
  ASSERT_NE(thrown, nullptr);
  EXPECT_FALSE(env->ExceptionCheck());
  char *name = ops().classNameOfObject(bridge, context(), thrown, env);
  EXPECT_STREQ(name, "java.lang.IllegalStateException");
  bridge->pool->free(bridge->pool, name);
  env->DeleteLocalRef(thrown);

  EXPECT_EQ(callStatic(nullptr, "fail", "()V"), JVMLINK_FAILED) << "no exception cell";
  EXPECT_FALSE(env->ExceptionCheck());
  EXPECT_TRUE(reports().empty());
}

TEST_F(InvokeTest, MissingMethodGivesMinusThreeWithOneReport) {
  EXPECT_EQ(callStatic(nullptr, "noSuchMethod", "(I)V", 1), JVMLINK_NO_METHOD);
  EXPECT_EQ(reports(),
            std::vector<Report>({statusReport(
                4, 0x86BFF007, {"methodIdFromClass", "noSuchMethod", "qxtest/Bridge", "(I)V"})}));
  EXPECT_FALSE(env->ExceptionCheck());
}

TEST_F(InvokeTest, MissingClassGivesMinusTwoWithoutReport) {
  EXPECT_EQ(ops().invokeMethod(bridge, context(), env, nullptr, nullptr, JVMLINK_STATIC, nullptr,
                               "qxtest/Missing", 0, "touch", "()V"),
            JVMLINK_NO_CLASS);
  EXPECT_TRUE(reports().empty());
  EXPECT_FALSE(env->ExceptionCheck());
}

TEST_F(InvokeTest, RepeatedObjectCallsLeakNoLocalReference) {
  for (int i = 0; i < 200; i++) {
    jobject numbers = nullptr;
    ASSERT_EQ(callStatic(&numbers, "numbers", "()[I"), 0);
    env->DeleteLocalRef(numbers);
    ASSERT_EQ(callStatic(nullptr, "numbers", "()[I"), 0) << "result dropped by the bridge";
    ASSERT_EQ(callStatic(nullptr, "fail", "()V"), JVMLINK_FAILED);
  }
}

TEST_F(InvokeTest, MethodIdLookupReportsMissingClassAndMethod) {
  EXPECT_NE(ops().methodIdFromClass(bridge, context(), "qxtest/Bridge", "add", "(II)I",
                                    JVMLINK_STATIC, env),
            nullptr);
  EXPECT_EQ(ops().methodIdFromClass(bridge, context(), "qxtest/Missing", "add", "(II)I",
                                    JVMLINK_STATIC, env),
            nullptr);
  EXPECT_EQ(ops().methodIdFromClass(bridge, context(), "qxtest/Bridge", "getValue", "()I",
                                    JVMLINK_STATIC, env),
            nullptr);
  EXPECT_TRUE(env->ExceptionCheck()) << "the lookup's exception stays pending";
  env->ExceptionClear();
  EXPECT_EQ(ops().methodIdFromClass(bridge, context(), "qxtest/Bridge", "add", "(II)I", 7, env),
            nullptr);
  EXPECT_EQ(
      reports(),
      std::vector<Report>(
          {statusReport(4, 0x86BFF004, {"methodIdFromClass", "qxtest/Missing"}),
           statusReport(4, 0x86BFF007, {"methodIdFromClass", "getValue", "qxtest/Bridge", "()I"}),
           statusReport(4, 0x86BFF001, {"validateMethodType"})}));
}

TEST_F(InvokeTest, CachedMethodsServeAcrossClassPathAdditionsThreadsAndReloads) {
  for (int round = 0; round < 3; round++) {
    jint sum = 0;
    ASSERT_EQ(callStatic(&sum, "add", "(II)I", round, 1), 0);  // its id is cached from here on
    std::string directory = temporaryDirectory();
    std::string added = "gen/Round" + std::to_string(round);
    writeEmptyClass(directory, added);
    ASSERT_EQ(ops().haddpath(bridge, context(), directory.c_str()), 0);
    ASSERT_EQ(callStatic(&sum, "add", "(II)I", round, 2), 0);
    EXPECT_EQ(sum, round + 2);
    jclass type = ops().globalClassReference(bridge, context(), "qxtest/Bridge", env);
    EXPECT_EQ(ops().methodIdFromClass(bridge, context(), "qxtest/Bridge", "add", "(II)I",
                                      JVMLINK_STATIC, env),
              env->GetStaticMethodID(type, "add", "(II)I"));
    jobject text =
        ops().constructNewObjectOfClass(bridge, context(), env, "java/lang/String", "()V");
    EXPECT_NE(text, nullptr);
    env->DeleteLocalRef(text);
    onNewThread([&] {
      JNIEnv *threadEnv = ops().getJNIEnv(bridge, context());
      jint other = 0;
      EXPECT_EQ(ops().invokeMethod(bridge, context(), threadEnv, &other, nullptr, JVMLINK_STATIC,
                                   nullptr, "qxtest/Bridge", 0, "add", "(II)I", 3, 4),
                0);
      EXPECT_EQ(other, 7);
      EXPECT_NE(ops().globalClassReference(bridge, context(), added.c_str(), threadEnv), nullptr);
    });
    removeTree(directory);
    releaseBridge(bridge);
    bridge = loadBridge();
    ASSERT_NE(bridge, nullptr);
    env = ops().getJNIEnv(bridge, context());
    JNIEnv *own = nullptr;
    hostkernel::javaVm()->GetEnv(reinterpret_cast<void **>(&own), JNI_VERSION_1_8);
    ASSERT_EQ(env, own) << "the new start's environment is the thread's own";
    EXPECT_EQ(bridge->threadCount, 1) << "asked of the new start, not remembered from the old";
  }
  EXPECT_TRUE(reports().empty());
}

TEST_F(InvokeTest, UntranscodableNameIsShownAsUnknown) {
  hostkernel::injectFault(Fault::Conversion, 1, "20->25");
  EXPECT_EQ(callStatic(nullptr, "noSuchMethod", "()V"), JVMLINK_NO_METHOD);
  EXPECT_EQ(reports(),
            std::vector<Report>({statusReport(4, 0x86BFF00C, {"methodIdFromClass", "utf8->QXChar"}),
                                 statusReport(4, 0x86BFF007,
                                              {"methodIdFromClass", "noSuchMethod",
                                               "<unknown, cannot transcode>", "()V"})}));
}

TEST_F(InvokeTest, FieldIdsOfBothKindsAndAMissingFieldWithoutReport) {
  jfieldID staticField = ops().fieldIdFromClass(bridge, context(), env, "qxtest/Bridge",
                                                "staticField", "I", JVMLINK_STATIC);
  ASSERT_NE(staticField, nullptr);
  jclass type = ops().globalClassReference(bridge, context(), "qxtest/Bridge", env);
  EXPECT_EQ(env->GetStaticIntField(type, staticField), 5);
  EXPECT_NE(ops().fieldIdFromClass(bridge, context(), env, "qxtest/Bridge", "instanceField", "I",
                                   JVMLINK_INSTANCE),
            nullptr);
  EXPECT_EQ(ops().fieldIdFromClass(bridge, context(), env, "qxtest/Bridge", "absent", "I",
                                   JVMLINK_INSTANCE),
            nullptr);
  EXPECT_TRUE(env->ExceptionCheck());
  env->ExceptionClear();
  EXPECT_TRUE(reports().empty());
}

}  // namespace
}  // namespace testsupport
