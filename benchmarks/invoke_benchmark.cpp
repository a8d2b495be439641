// Cost of a call through invokeMethod (class cached, method id looked up every call) against
// the same call made directly through JNI with a cached method id. Run without -Xcheck:jni.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "hostkernel/hostkernel.h"
#include "jvmlink/jvmlink.h"

namespace {

constexpr int kCalls = 2000000;

template <typename Call>
double nanosecondsPerCall(Call call) {
  for (int i = 0; i < kCalls / 10; i++) call(i);  // warm-up: let the JIT compile the callee
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kCalls; i++) call(i);
  std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / kCalls;
}

}  // namespace

int main() {
  hostkernel::MessageContext messages;
  QXKernel *kernel = hostkernel::kernel();
  auto *bridge =
      static_cast<BridgeState *>(kernel->loadExtension(kernel, u"jvmlink", 7, messages.get()));
  if (!bridge) return 1;
  BridgeOperations &ops = bridge->operations;
  JNIEnv *env = ops.getJNIEnv(bridge, messages.get());
  if (ops.haddpath(bridge, messages.get(), QX_BENCHMARK_CLASSES) != 0) return 1;

  long long sum = 0;
  double bridged = nanosecondsPerCall([&](int i) {
    jint result = 0;
    ops.invokeMethod(bridge, messages.get(), env, &result, nullptr, JVMLINK_STATIC, nullptr,
                     "qxtest/Bridge", 0, "add", "(II)I", i, 1);
    sum += result;
  });

  jclass type = ops.globalClassReference(bridge, messages.get(), "qxtest/Bridge", env);
  jmethodID add = env->GetStaticMethodID(type, "add", "(II)I");
  double direct = nanosecondsPerCall([&](int i) {
    sum += env->CallStaticIntMethod(type, add, i, 1);
    if (env->ExceptionCheck()) abort();
  });

  printf("static int method, %d calls each (checksum %lld)\n", kCalls, sum);
  printf("  invokeMethod, class cached:        %7.1f ns per call\n", bridged);
  printf("  direct JNI, method id cached:      %7.1f ns per call\n", direct);
  bridge->frame.header.release(bridge);
  return 0;
}
