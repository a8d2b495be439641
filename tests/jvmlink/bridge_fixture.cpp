#include "tests/jvmlink/bridge_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace testsupport {

std::string bridgeClassesJar() {
  return testDataDirectory() + "/bridge-classes.jar";
}

void BridgeTest::SetUp() {
  HostTest::SetUp();
  baseline = hostkernel::liveCounters();
  bridge = loadBridge();
  ASSERT_NE(bridge, nullptr);
  env = ops().getJNIEnv(bridge, context());
  ASSERT_NE(env, nullptr);
  ASSERT_EQ(ops().haddpath(bridge, context(), bridgeClassesJar().c_str()), 0);
  messages.clear();
}

void BridgeTest::TearDown() {
  if (env && env->ExceptionCheck()) {
    ADD_FAILURE() << "the test left a Java exception pending";
    env->ExceptionDescribe();
  }
  if (bridge) releaseBridge(bridge);
  EXPECT_EQ(hostkernel::liveCounters(), baseline) << "the bridge left something behind";
  HostTest::TearDown();
}

BridgeState *BridgeTest::loadBridge() {
  QXKernel *kernel = hostkernel::kernel();
  return static_cast<BridgeState *>(kernel->loadExtension(kernel, u"jvmlink", 7, context()));
}

void BridgeTest::releaseBridge(BridgeState *record) {
  record->frame.header.release(record);
  if (record == bridge) bridge = nullptr;
}

int BridgeTest::callsSoFar() {
  jclass type = env->FindClass("qxtest/Bridge");
  if (!type) {
    env->ExceptionClear();
    return -999;
  }
  jint calls = env->GetStaticIntField(type, env->GetStaticFieldID(type, "calls", "I"));
  env->DeleteLocalRef(type);
  return calls;
}

int BridgeTest::cachedClasses() {
  int count = 0;
  for (uint32_t i = 0; i < bridge->cacheCapacity; i++) {
    if (bridge->cacheEntries[i].flags & CLASS_ENTRY_IN_USE) count++;
  }
  return count;
}

namespace {

void putU2(std::string &out, size_t value) {
  out += static_cast<char>((value >> 8) & 0xFF);
  out += static_cast<char>(value & 0xFF);
}

void putUtf8Constant(std::string &out, const std::string &text) {
  out += '\x01';
  putU2(out, text.size());
  out += text;
}

}  // namespace

void writeEmptyClass(const std::string &directory, const std::string &name) {
  std::string bytes("\xCA\xFE\xBA\xBE", 4);
  putU2(bytes, 0);   // minor version
  putU2(bytes, 52);  // major version: Java 8
  putU2(bytes, 5);   // constant pool count + 1
  bytes += '\x07';   // #1 class, name #2
  putU2(bytes, 2);
  putUtf8Constant(bytes, name);  // #2
  bytes += '\x07';               // #3 class, name #4
  putU2(bytes, 4);
  putUtf8Constant(bytes, "java/lang/Object");   // #4
  putU2(bytes, 0x0021);                         // public super
  putU2(bytes, 1);                              // this class
  putU2(bytes, 3);                              // super class
  for (int i = 0; i < 4; i++) putU2(bytes, 0);  // interfaces, fields, methods, attributes
  std::filesystem::path path = std::filesystem::path(directory) / (name + ".class");
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace testsupport
