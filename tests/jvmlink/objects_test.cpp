// Objects by class name and constructor descriptor, class names of objects, string arrays.
#include "tests/jvmlink/bridge_fixture.h"

namespace testsupport {
namespace {

using ObjectsTest = BridgeTest;

TEST_F(ObjectsTest, ConstructsWithArguments) {
  LocalRef<jobject> object(
      env, ops().constructNewObjectOfClass(bridge, context(), env, "qxtest/Bridge", "(I)V", 31));
  ASSERT_TRUE(object);
  jint value = 0;
  ASSERT_EQ(ops().invokeMethod(bridge, context(), env, &value, nullptr, JVMLINK_INSTANCE,
                               object.get(), "qxtest/Bridge", 0, "getValue", "()I"),
            0);
  EXPECT_EQ(value, 31);
  EXPECT_TRUE(reports().empty());
}

TEST_F(ObjectsTest, DescriptorMatchingNoConstructorReportsTheLookupThenTheFailure) {
  EXPECT_EQ(ops().constructNewObjectOfClass(bridge, context(), env, "qxtest/Bridge", "(J)V", 1LL),
            nullptr);
  EXPECT_EQ(
      reports(),
      std::vector<Report>(
          {statusReport(4, 0x86BFF007, {"methodIdFromClass", "<init>", "qxtest/Bridge", "(J)V"}),
           statusReport(4, 0x86BFF011, {"constructNewObjectOfClass"})}));
  EXPECT_TRUE(env->ExceptionCheck());
  env->ExceptionClear();
}

TEST_F(ObjectsTest, ThrowingConstructorLeavesItsExceptionPending) {
  LocalRef<jstring> text(env, env->NewStringUTF("no"));
  EXPECT_EQ(ops().constructNewObjectOfClass(bridge, context(), env, "qxtest/Bridge",
                                            "(Ljava/lang/String;)V", text.get()),
            nullptr);
  EXPECT_EQ(reports(),
            std::vector<Report>(
                {statusReport(4, 0x86BFF010, {"constructNewObjectOfClass", "qxtest/Bridge"}),
                 statusReport(4, 0x86BFF011, {"constructNewObjectOfClass"})}));
  LocalRef<jthrowable> pending(env, env->ExceptionOccurred());
  ASSERT_TRUE(pending);
  env->ExceptionClear();
  char *name = ops().classNameOfObject(bridge, context(), pending.get(), env);
  EXPECT_STREQ(name, "java.lang.IllegalArgumentException");
  bridge->pool->free(bridge->pool, name);
}

TEST_F(ObjectsTest, MissingClassReportsOnlyTheFailure) {
  EXPECT_EQ(ops().constructNewObjectOfClass(bridge, context(), env, "qxtest/Missing", "()V"),
            nullptr);
  EXPECT_EQ(reports(),
            std::vector<Report>({statusReport(4, 0x86BFF011, {"constructNewObjectOfClass"})}));
  EXPECT_FALSE(env->ExceptionCheck());
}

TEST_F(ObjectsTest, ClassNameIsDottedAndComesFromTheBridgePool) {
  LocalRef<jobject> object(
      env, ops().constructNewObjectOfClass(bridge, context(), env, "java/io/FileNotFoundException",
                                           "()V"));
  ASSERT_TRUE(object);
  hostkernel::Counters before = hostkernel::liveCounters();
  char *name = ops().classNameOfObject(bridge, context(), object.get(), env);
  EXPECT_STREQ(name, "java.io.FileNotFoundException");
  EXPECT_EQ(hostkernel::liveCounters().blocks, before.blocks + 1);
  bridge->pool->free(bridge->pool, name);
  EXPECT_EQ(hostkernel::liveCounters(), before);
}

TEST_F(ObjectsTest, ClassNameWithoutMemoryReportsTwice) {
  LocalRef<jobject> object(
      env, ops().constructNewObjectOfClass(bridge, context(), env, "qxtest/Bridge", "(I)V", 1));
  hostkernel::injectFault(Fault::Allocation, 1, "JVMLINK Pool");
  EXPECT_EQ(ops().classNameOfObject(bridge, context(), object.get(), env), nullptr);
  EXPECT_EQ(reports(), std::vector<Report>(
                           {statusReport(4, QX_OUT_OF_MEMORY),
                            statusReport(4, 0x86BFF008, {"classNameOfObject", "qxtest.Bridge"})}));
}

TEST_F(ObjectsTest, StringArraysOfZeroAndMoreElements) {
  LocalRef<jobjectArray> empty(
      env, ops().constructNewArrayString(bridge, context(), env, nullptr, nullptr, 0));
  ASSERT_TRUE(empty);
  EXPECT_EQ(env->GetArrayLength(empty.get()), 0);

  const char *texts[] = {"one", "zw\xc3\xb6lf", nullptr};
  LocalRef<jobjectArray> array(
      env, ops().constructNewArrayString(bridge, context(), env, nullptr, texts, 3));
  ASSERT_TRUE(array);
  ASSERT_EQ(env->GetArrayLength(array.get()), 3);
  for (int i = 0; i < 2; i++) {
    LocalRef<jstring> element(env,
                              static_cast<jstring>(env->GetObjectArrayElement(array.get(), i)));
    const char *utf8 = env->GetStringUTFChars(element.get(), nullptr);
    EXPECT_STREQ(utf8, texts[i]);
    env->ReleaseStringUTFChars(element.get(), utf8);
  }
  LocalRef<jobject> missing(env, env->GetObjectArrayElement(array.get(), 2));
  EXPECT_FALSE(missing) << "an element that could not be made stays null";
  EXPECT_EQ(reports(),
            std::vector<Report>({statusReport(4, 0x86BFF006, {"constructNewArrayString"})}));
}

TEST_F(ObjectsTest, RepeatedUseLeaksNoLocalReference) {
  LocalRef<jobject> object(
      env, ops().constructNewObjectOfClass(bridge, context(), env, "qxtest/Bridge", "(I)V", 1));
  const char *texts[] = {"a", "b", "c"};
  for (int i = 0; i < 200; i++) {
    char *name = ops().classNameOfObject(bridge, context(), object.get(), env);
    bridge->pool->free(bridge->pool, name);
    env->DeleteLocalRef(ops().constructNewArrayString(bridge, context(), env, nullptr, texts, 3));
    env->DeleteLocalRef(
        ops().constructNewObjectOfClass(bridge, context(), env, "qxtest/Bridge", "(I)V", i));
  }
  EXPECT_TRUE(reports().empty());
}

}  // namespace
}  // namespace testsupport
