// invokeMethod and the method and field identifier lookups.
#include <cstring>

#include "jvmlink/bridge.h"

namespace bridge {
namespace {

constexpr size_t kNameLimit = 100;
constexpr size_t kDescriptorLimit = 201;

bool validKind(QXMessageContext *context, int32_t kind) {
  if (kind == JVMLINK_STATIC || kind == JVMLINK_INSTANCE) return true;
  reportError(context, kBadMethodKind, "validateMethodType");
  return false;
}

void reportClassNotFound(BridgeState *bridge, QXMessageContext *context, const char *className) {
  MessageText name = toMessageText(bridge, context, "methodIdFromClass", className, kNameLimit);
  reportError(context, kClassNotFound, "methodIdFromClass", name.units);
}

// A method's key in the lookup index; a missing text or a bad kind gives a key nothing is
// indexed under.
IndexKey methodKey(const char *className, const char *methodName, const char *descriptor,
                   int32_t kind) {
  bool indexable =
      className && methodName && descriptor && (kind == JVMLINK_STATIC || kind == JVMLINK_INSTANCE);
  if (!indexable) return {kNotIndexed, {"", "", ""}};
  return {kind, {className, methodName, descriptor}};
}

char returnLetter(const char *descriptor) {
  const char *close = descriptor ? strchr(descriptor, ')') : nullptr;
  return close ? close[1] : '\0';
}

// The JNI call family that fits the method kind: static, non-virtual or virtual.
struct CallTarget {
  JNIEnv *env;
  int32_t kind;
  bool nonVirtual;
  jobject object;
  jclass type;
  jmethodID method;
};

template <typename T>
T call(const CallTarget &target, va_list arguments,
       T (JNIEnv::*staticCall)(jclass, jmethodID, va_list),
       T (JNIEnv::*nonVirtualCall)(jobject, jclass, jmethodID, va_list),
       T (JNIEnv::*virtualCall)(jobject, jmethodID, va_list)) {
  JNIEnv *env = target.env;
  if (target.kind == JVMLINK_STATIC)
    return (env->*staticCall)(target.type, target.method, arguments);
  if (target.nonVirtual) {
    return (env->*nonVirtualCall)(target.object, target.type, target.method, arguments);
  }
  return (env->*virtualCall)(target.object, target.method, arguments);
}

template <typename T>
void store(void *cell, T value) {
  if (cell) memcpy(cell, &value, sizeof value);
}

// Makes the call the return letter asks for and writes the result with its exact width.
void callByReturnType(const CallTarget &target, char letter, void *result, va_list arguments) {
  switch (letter) {
    case 'Z':
      store(result, call(target, arguments, &JNIEnv::CallStaticBooleanMethodV,
                         &JNIEnv::CallNonvirtualBooleanMethodV, &JNIEnv::CallBooleanMethodV));
      break;
    case 'S':
      store(result, call(target, arguments, &JNIEnv::CallStaticShortMethodV,
                         &JNIEnv::CallNonvirtualShortMethodV, &JNIEnv::CallShortMethodV));
      break;
    case 'I':
      store(result, call(target, arguments, &JNIEnv::CallStaticIntMethodV,
                         &JNIEnv::CallNonvirtualIntMethodV, &JNIEnv::CallIntMethodV));
      break;
    case 'J':
      store(result, call(target, arguments, &JNIEnv::CallStaticLongMethodV,
                         &JNIEnv::CallNonvirtualLongMethodV, &JNIEnv::CallLongMethodV));
      break;
    case 'L':
    case '[': {
      jobject value = call(target, arguments, &JNIEnv::CallStaticObjectMethodV,
                           &JNIEnv::CallNonvirtualObjectMethodV, &JNIEnv::CallObjectMethodV);
      if (result) {
        store(result, value);
      } else if (value) {
        target.env->DeleteLocalRef(value);  // nobody to hand it to
      }
      break;
    }
    case 'V':
      call(target, arguments, &JNIEnv::CallStaticVoidMethodV, &JNIEnv::CallNonvirtualVoidMethodV,
           &JNIEnv::CallVoidMethodV);
      break;
    default:  // byte, char, float and double results are not supported: no call is made
      break;
  }
}

// Looks up a method of a resolved class, and indexes it when the cache holds the class;
// reports 0x86BFF007 when it is missing.
jmethodID lookupMethodId(BridgeState *bridge, QXMessageContext *context, JNIEnv *env,
                         const ResolvedClass &resolved, const IndexKey &key, const char *className,
                         const char *methodName, const char *descriptor, int32_t kind) {
  jmethodID method = kind == JVMLINK_STATIC
                         ? env->GetStaticMethodID(resolved.get(), methodName, descriptor)
                         : env->GetMethodID(resolved.get(), methodName, descriptor);
  if (method) {
    if (resolved.cached()) addToIndex(bridge, key, {resolved.get(), method});
    return method;
  }
  const char *function = "methodIdFromClass";
  MessageText classText = toMessageText(bridge, context, function, className, kNameLimit);
  MessageText methodText = toMessageText(bridge, context, function, methodName, kNameLimit);
  MessageText descriptorText =
      toMessageText(bridge, context, function, descriptor, kDescriptorLimit);
  reportError(context, kMethodNotFound, function, methodText.units, classText.units,
              descriptorText.units);
  return nullptr;
}

}  // namespace

jmethodID methodIdFromClass(BridgeState *bridge, QXMessageContext *context, const char *className,
                            const char *methodName, const char *descriptor, int32_t kind,
                            JNIEnv *env) {
  IndexKey key = methodKey(className, methodName, descriptor, kind);
  IndexedMember indexed;
  if (findIndexed(bridge, key, &indexed)) return indexed.method;
  ResolvedClass resolved = resolveClass(bridge, context, className, env);
  if (!resolved) {
    reportClassNotFound(bridge, context, className);
    return nullptr;
  }
  if (!validKind(context, kind)) return nullptr;
  return lookupMethodId(bridge, context, env, resolved, key, className, methodName, descriptor,
                        kind);
}

ResolvedMethod resolveMethod(BridgeState *bridge, QXMessageContext *context, JNIEnv *env,
                             const char *className, const char *methodName, const char *descriptor,
                             int32_t kind) {
  IndexKey key = methodKey(className, methodName, descriptor, kind);
  IndexedMember indexed;
  if (findIndexed(bridge, key, &indexed)) {
    return {ResolvedClass(env, indexed.type, true), indexed.method};
  }
  ResolvedClass resolved = resolveClass(bridge, context, className, env);
  if (!resolved) return {std::move(resolved), nullptr};
  jmethodID method =
      lookupMethodId(bridge, context, env, resolved, key, className, methodName, descriptor, kind);
  return {std::move(resolved), method};
}

jfieldID fieldIdFromClass(BridgeState *bridge, QXMessageContext *context, JNIEnv *env,
                          const char *className, const char *fieldName, const char *descriptor,
                          int32_t kind) {
  ResolvedClass resolved = resolveClass(bridge, context, className, env);
  if (!resolved) {
    reportClassNotFound(bridge, context, className);
    return nullptr;
  }
  if (!validKind(context, kind)) return nullptr;
  return kind == JVMLINK_STATIC ? env->GetStaticFieldID(resolved.get(), fieldName, descriptor)
                                : env->GetFieldID(resolved.get(), fieldName, descriptor);
}

int32_t invokeMethod(BridgeState *bridge, QXMessageContext *context, JNIEnv *env, void *result,
                     jthrowable *exception, int32_t kind, jobject object, const char *className,
                     int32_t nonVirtual, const char *methodName, const char *descriptor, ...) {
  if (!validKind(context, kind)) return JVMLINK_FAILED;
  ResolvedMethod resolved =
      resolveMethod(bridge, context, env, className, methodName, descriptor, kind);
  if (!resolved.type) return JVMLINK_NO_CLASS;
  if (!resolved.method) {
    env->ExceptionDescribe();
    return JVMLINK_NO_METHOD;
  }
  CallTarget target = {env, kind, nonVirtual != 0, object, resolved.type.get(), resolved.method};
  va_list arguments;
  va_start(arguments, descriptor);
  callByReturnType(target, returnLetter(descriptor), result, arguments);
  va_end(arguments);
  if (!env->ExceptionCheck()) return JVMLINK_CALLED;  // no local reference to make
  jthrowable thrown = env->ExceptionOccurred();
  env->ExceptionDescribe();
  if (exception) {
    *exception = thrown;
  } else {
    env->DeleteLocalRef(thrown);
  }
  return JVMLINK_FAILED;
}

}  // namespace bridge
