// Objects made by class name, Java string arrays, and the class name of an object.
#include <cstring>

#include "jvmlink/bridge.h"

namespace bridge {
namespace {

constexpr size_t kNameLimit = 100;

// getName of the object's class as a local string, or NULL after the step's report.
jstring classNameString(QXMessageContext *context, jobject object, JNIEnv *env) {
  LocalRef<jclass> objectClass(env, env->GetObjectClass(object));
  if (!objectClass) {
    env->ExceptionDescribe();
    return nullptr;
  }
  LocalRef<jclass> classClass(env, env->FindClass("java/lang/Class"));
  if (!classClass) {
    env->ExceptionDescribe();
    reportError(context, kClassNotFound, "classNameOfObject", u"java/lang/Class");
    return nullptr;
  }
  jmethodID getName = env->GetMethodID(classClass.get(), "getName", "()Ljava/lang/String;");
  if (!getName) {
    env->ExceptionDescribe();
    reportError(context, kMethodNotFound, "classNameOfObject", u"getName", u"java/lang/Class",
                u"()Ljava/lang/String;");
    return nullptr;
  }
  auto name = static_cast<jstring>(env->CallObjectMethod(objectClass.get(), getName));
  if (!name || env->ExceptionCheck()) {
    env->ExceptionDescribe();
    reportError(context, kCallFailed, "classNameOfObject", u"java/lang/Class", u"getName");
  }
  return name;
}

}  // namespace

jobject constructNewObjectOfClass(BridgeState *bridge, QXMessageContext *context, JNIEnv *env,
                                  const char *className, const char *descriptor, ...) {
  const char *function = "constructNewObjectOfClass";
  ResolvedMethod constructor =
      resolveMethod(bridge, context, env, className, "<init>", descriptor, JVMLINK_INSTANCE);
  if (!constructor.method) {
    reportError(context, kObjectNotConstructed, function);
    return nullptr;
  }
  va_list arguments;
  va_start(arguments, descriptor);
  jobject object = env->NewObjectV(constructor.type.get(), constructor.method, arguments);
  va_end(arguments);
  if (!object || env->ExceptionCheck()) {
    reportError(context, kConstructorFailed, function, className);
    reportError(context, kObjectNotConstructed, function);
  }
  return object;
}

char *classNameOfObject(BridgeState *bridge, QXMessageContext *context, jobject object,
                        JNIEnv *env) {
  LocalRef<jstring> name(env, classNameString(context, object, env));
  if (!name) return nullptr;
  const char *utf8 = env->GetStringUTFChars(name.get(), nullptr);
  if (!utf8) {
    env->ExceptionDescribe();  // the JVM is out of memory: nothing may stay pending
    return nullptr;
  }
  size_t length = strlen(utf8);
  auto *copy = static_cast<char *>(bridge->pool->allocate(bridge->pool, length + 1, QX_ZERO_FILL));
  if (copy) {
    memcpy(copy, utf8, length);
  } else {
    reportError(context, QX_OUT_OF_MEMORY);
    MessageText text = toMessageText(bridge, context, "classNameOfObject", utf8, kNameLimit);
    reportError(context, kNameNotCopied, "classNameOfObject", text.units);
  }
  env->ReleaseStringUTFChars(name.get(), utf8);
  return copy;
}

jobjectArray constructNewArrayString(BridgeState *, QXMessageContext *context, JNIEnv *env, void *,
                                     const char *const *texts, int32_t count) {
  const char *function = "constructNewArrayString";
  // Each failure is described so that nothing stays pending for the caller.
  LocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
  if (!stringClass) {
    env->ExceptionDescribe();
    reportError(context, kClassNotFound, function, u"java/lang/String");
    return nullptr;
  }
  jobjectArray array = env->NewObjectArray(count, stringClass.get(), nullptr);
  if (!array) {
    env->ExceptionDescribe();
    reportError(context, kArrayNotCreated, function);
    return nullptr;
  }
  for (int32_t i = 0; i < count; i++) {
    LocalRef<jstring> text(env, texts[i] ? env->NewStringUTF(texts[i]) : nullptr);
    if (!text) {
      // The element stays null.
      if (env->ExceptionCheck()) env->ExceptionDescribe();
      reportError(context, kStringNotCreated, function);
      continue;
    }
    env->SetObjectArrayElement(array, i, text.get());
  }
  return array;
}

}  // namespace bridge
