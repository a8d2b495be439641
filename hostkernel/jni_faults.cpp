// Failures of the JVM itself, made on demand: the JNI function table is interposed through JVMTI
// so that a call the modules make can fail the way the JVM fails it (a null result, and for
// most functions a pending Java exception). Only calls made from the code of loaded modules are
// fault points; the JVM's own libraries, the host and the tests always go through.
#include <jvmti.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>

#include "hostkernel/internal.h"

namespace hostkernel {
namespace {

JNINativeInterface_ original;    // the table as the JVM had it (-Xcheck:jni included)
JNINativeInterface_ interposed;  // the same with the wrappers below

// A call held on request: the thread that makes it waits in it until the test releases it.
struct Hold {
  std::mutex mutex;
  std::condition_variable changed;
  std::string function;  // the function to hold; empty when nothing is asked
  bool holding = false;
  bool released = false;
};
Hold hold;
std::atomic<bool> holdAsked{false};

void holdIfAsked(const char *function) {
  std::unique_lock<std::mutex> lock(hold.mutex);
  if (hold.function != function) return;
  hold.function.clear();
  holdAsked = false;
  hold.holding = true;
  hold.changed.notify_all();
  hold.changed.wait(lock, [] { return hold.released; });
  hold.holding = false;
  hold.changed.notify_all();
}

// The mutex under which no Java call may run, and the calls made under it.
std::mutex watchMutex;
std::string watchedMutex;
std::atomic<bool> watching{false};
std::atomic<int64_t> callsUnderWatchedMutex{0};

bool isJavaCall(const char *function) {
  return strncmp(function, "Call", 4) == 0 || strncmp(function, "NewObject", 9) == 0;
}

void noteCallUnderWatchedMutex(const char *function, void *caller) {
  if (!watching || !isJavaCall(function) || !isModuleCode(caller)) return;
  std::lock_guard<std::mutex> lock(watchMutex);
  if (holdsMutexNamed(watchedMutex)) callsUnderWatchedMutex++;
}

bool fails(const char *function, void *caller) {
  noteCallUnderWatchedMutex(function, caller);
  if (holdAsked && isModuleCode(caller)) holdIfAsked(function);
  return anyFaultArmed() && isModuleCode(caller) && shouldFail(Fault::JniCall, function);
}

void throwInjected(JNIEnv *env, const char *className, const char *function) {
  if (!className) return;
  jclass type = original.FindClass(env, className);
  if (!type) return;
  std::string message = std::string("injected fault: ") + function;
  original.ThrowNew(env, type, message.c_str());
  original.DeleteLocalRef(env, type);
}

// The exception a failed function leaves pending, as the JVM would throw it.
constexpr char kNoClass[] = "java/lang/NoClassDefFoundError";
constexpr char kNoMethod[] = "java/lang/NoSuchMethodError";
constexpr char kNoField[] = "java/lang/NoSuchFieldError";
constexpr char kNoMemory[] = "java/lang/OutOfMemoryError";
constexpr char kThrown[] = "java/io/IOException";  // what a Hadoop call throws

template <auto Member, const char *Name, const char *Thrown, typename Function>
struct Wrapper;

template <auto Member, const char *Name, const char *Thrown, typename Result, typename... Args>
struct Wrapper<Member, Name, Thrown, Result(JNICALL *)(JNIEnv *, Args...)> {
  static Result JNICALL call(JNIEnv *env, Args... args) {
    if (fails(Name, __builtin_return_address(0))) {
      throwInjected(env, Thrown, Name);
      if constexpr (!std::is_void_v<Result>)
        return Result();
      else
        return;
    }
    return (original.*Member)(env, args...);
  }
};

template <auto Member, const char *Name, const char *Thrown>
void wrap() {
  using Function = std::remove_reference_t<decltype(interposed.*Member)>;
  interposed.*Member = &Wrapper<Member, Name, Thrown, Function>::call;
}

// The variadic forms the modules use go to the wrapped va_list forms.
jobject JNICALL callObjectMethod(JNIEnv *env, jobject object, jmethodID method, ...) {
  va_list arguments;
  va_start(arguments, method);
  jobject result = nullptr;
  if (fails("CallObjectMethod", __builtin_return_address(0))) {
    throwInjected(env, kThrown, "CallObjectMethod");
  } else {
    result = original.CallObjectMethodV(env, object, method, arguments);
  }
  va_end(arguments);
  return result;
}

jint JNICALL callIntMethod(JNIEnv *env, jobject object, jmethodID method, ...) {
  va_list arguments;
  va_start(arguments, method);
  jint result = 0;
  if (fails("CallIntMethod", __builtin_return_address(0))) {
    throwInjected(env, kThrown, "CallIntMethod");
  } else {
    result = original.CallIntMethodV(env, object, method, arguments);
  }
  va_end(arguments);
  return result;
}

// Global references the modules' code made and has not deleted: what a module leaks across its
// unload shows here.
std::atomic<int64_t> moduleGlobalReferences{0};

jobject JNICALL newGlobalRef(JNIEnv *env, jobject object) {
  void *caller = __builtin_return_address(0);
  if (fails("NewGlobalRef", caller)) return nullptr;  // the JVM gives null, nothing pending
  jobject made = original.NewGlobalRef(env, object);
  if (made && isModuleCode(caller)) moduleGlobalReferences++;
  return made;
}

void JNICALL deleteGlobalRef(JNIEnv *env, jobject reference) {
  if (reference && isModuleCode(__builtin_return_address(0))) moduleGlobalReferences--;
  original.DeleteGlobalRef(env, reference);
}

#define QX_NAME(function) constexpr char k##function[] = #function;
#define QX_WRAP(function, thrown) wrap<&JNINativeInterface_::function, k##function, thrown>()

QX_NAME(FindClass)
QX_NAME(NewObjectV)
QX_NAME(GetMethodID)
QX_NAME(GetStaticMethodID)
QX_NAME(GetFieldID)
QX_NAME(GetStaticFieldID)
QX_NAME(NewString)
QX_NAME(NewStringUTF)
QX_NAME(GetStringUTFChars)
QX_NAME(NewByteArray)
QX_NAME(NewObjectArray)
QX_NAME(NewDirectByteBuffer)
QX_NAME(CallObjectMethodV)
QX_NAME(CallBooleanMethodV)
QX_NAME(CallShortMethodV)
QX_NAME(CallIntMethodV)
QX_NAME(CallLongMethodV)
QX_NAME(CallVoidMethodV)
QX_NAME(CallStaticObjectMethodV)
QX_NAME(CallStaticBooleanMethodV)
QX_NAME(CallStaticShortMethodV)
QX_NAME(CallStaticIntMethodV)
QX_NAME(CallStaticLongMethodV)
QX_NAME(CallStaticVoidMethodV)
QX_NAME(CallNonvirtualObjectMethodV)
QX_NAME(CallNonvirtualBooleanMethodV)
QX_NAME(CallNonvirtualShortMethodV)
QX_NAME(CallNonvirtualIntMethodV)
QX_NAME(CallNonvirtualLongMethodV)
QX_NAME(CallNonvirtualVoidMethodV)

void wrapFunctions() {
  QX_WRAP(FindClass, kNoClass);
  QX_WRAP(NewObjectV, kThrown);  // the constructor threw
  QX_WRAP(GetMethodID, kNoMethod);
  QX_WRAP(GetStaticMethodID, kNoMethod);
  QX_WRAP(GetFieldID, kNoField);
  QX_WRAP(GetStaticFieldID, kNoField);
  QX_WRAP(NewString, kNoMemory);
  QX_WRAP(NewStringUTF, kNoMemory);
  QX_WRAP(GetStringUTFChars, kNoMemory);
  QX_WRAP(NewByteArray, kNoMemory);
  QX_WRAP(NewObjectArray, kNoMemory);
  QX_WRAP(NewDirectByteBuffer, kNoMemory);
  QX_WRAP(CallObjectMethodV, kThrown);
  QX_WRAP(CallBooleanMethodV, kThrown);
  QX_WRAP(CallShortMethodV, kThrown);
  QX_WRAP(CallIntMethodV, kThrown);
  QX_WRAP(CallLongMethodV, kThrown);
  QX_WRAP(CallVoidMethodV, kThrown);
  QX_WRAP(CallStaticObjectMethodV, kThrown);
  QX_WRAP(CallStaticBooleanMethodV, kThrown);
  QX_WRAP(CallStaticShortMethodV, kThrown);
  QX_WRAP(CallStaticIntMethodV, kThrown);
  QX_WRAP(CallStaticLongMethodV, kThrown);
  QX_WRAP(CallStaticVoidMethodV, kThrown);
  QX_WRAP(CallNonvirtualObjectMethodV, kThrown);
  QX_WRAP(CallNonvirtualBooleanMethodV, kThrown);
  QX_WRAP(CallNonvirtualShortMethodV, kThrown);
  QX_WRAP(CallNonvirtualIntMethodV, kThrown);
  QX_WRAP(CallNonvirtualLongMethodV, kThrown);
  QX_WRAP(CallNonvirtualVoidMethodV, kThrown);
  interposed.NewGlobalRef = newGlobalRef;
  interposed.DeleteGlobalRef = deleteGlobalRef;
  interposed.CallObjectMethod = callObjectMethod;
  interposed.CallIntMethod = callIntMethod;
}

#undef QX_WRAP
#undef QX_NAME

bool install() {
  JavaVM *vm = createdJvm();
  if (!vm) return false;
  jvmtiEnv *jvmti = nullptr;
  if (vm->GetEnv(reinterpret_cast<void **>(&jvmti), JVMTI_VERSION_1_2) != JNI_OK) return false;
  jniNativeInterface *table = nullptr;
  if (jvmti->GetJNIFunctionTable(&table) != JVMTI_ERROR_NONE) return false;
  original = *table;
  jvmti->Deallocate(reinterpret_cast<unsigned char *>(table));
  interposed = original;
  wrapFunctions();
  return jvmti->SetJNIFunctionTable(&interposed) == JVMTI_ERROR_NONE;
}

}  // namespace

void holdNextJniCall(std::string_view function) {
  interposeJniFunctions();
  std::lock_guard<std::mutex> lock(hold.mutex);
  hold.function = std::string(function);
  hold.released = false;
  holdAsked = true;
}

bool waitForHeldJniCall() {
  std::unique_lock<std::mutex> lock(hold.mutex);
  return hold.changed.wait_for(lock, std::chrono::seconds(60), [] { return hold.holding; });
}

void releaseHeldJniCall() {
  std::unique_lock<std::mutex> lock(hold.mutex);
  hold.released = true;
  hold.changed.notify_all();
  hold.changed.wait(lock, [] { return !hold.holding; });
}

void watchJavaCallsUnder(std::string_view mutexName) {
  interposeJniFunctions();
  std::lock_guard<std::mutex> lock(watchMutex);
  watchedMutex = std::string(mutexName);
  watching = !watchedMutex.empty();
  trackHeldMutexes(watching);
}

int64_t javaCallsUnderWatchedMutex() {
  return callsUnderWatchedMutex;
}

int64_t liveGlobalReferences() {
  interposeJniFunctions();
  return moduleGlobalReferences;
}

void interposeJniFunctions() {
  static std::mutex mutex;
  static bool installed = false;
  std::lock_guard<std::mutex> lock(mutex);
  if (!installed) installed = install();
}

}  // namespace hostkernel
