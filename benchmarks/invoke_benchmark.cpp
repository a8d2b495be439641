// Cost of a call through invokeMethod against the same call made directly through JNI with a
// cached method id, in interleaved rounds compared by their medians. Run without -Xcheck:jni.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "hostkernel/hostkernel.h"
#include "jvmlink/jvmlink.h"

namespace {

constexpr int kCalls = 1000000;
constexpr int kRounds = 15;

template <typename Call>
double nanosecondsPerCall(Call call) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kCalls; i++) call(i);
  std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / kCalls;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
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
  auto bridged = [&](int i) {
    jint result = 0;
    ops.invokeMethod(bridge, messages.get(), env, &result, nullptr, JVMLINK_STATIC, nullptr,
                     "qxtest/Bridge", 0, "add", "(II)I", i, 1);
    sum += result;
  };
  jclass type = ops.globalClassReference(bridge, messages.get(), "qxtest/Bridge", env);
  jmethodID add = env->GetStaticMethodID(type, "add", "(II)I");
  auto direct = [&](int i) {
    sum += env->CallStaticIntMethod(type, add, i, 1);
    if (env->ExceptionCheck()) abort();
  };
  nanosecondsPerCall(bridged);  // warm-up: let the JIT compile the callee
  nanosecondsPerCall(direct);
  std::vector<double> bridgedTimes, directTimes;
  for (int round = 0; round < kRounds; round++) {
    bool bridgedFirst = round % 2 == 0;
    if (bridgedFirst) bridgedTimes.push_back(nanosecondsPerCall(bridged));
    directTimes.push_back(nanosecondsPerCall(direct));
    if (!bridgedFirst) bridgedTimes.push_back(nanosecondsPerCall(bridged));
  }
  double bridgedNs = median(bridgedTimes), directNs = median(directTimes);
  printf("static int method, %d rounds of %d calls each (checksum %lld)\n", kRounds, kCalls, sum);
  printf("  invokeMethod:                      %7.1f ns per call\n", bridgedNs);
  printf("  direct JNI, method id cached:      %7.1f ns per call\n", directNs);
  printf("  ratio:                             %7.2f\n", bridgedNs / directNs);
  bridge->frame.header.release(bridge);
  return 0;
}
