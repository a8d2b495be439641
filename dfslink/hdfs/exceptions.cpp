// JnlFromException: a Java exception as host messages, with the method that failed, the
// exception's class, its text, its stack frames and its causes.
#include "dfslink/internal.h"

namespace dfs {
namespace {

// Prints a Java string at severity 0, read as the UTF-16 it is.
void printJavaString(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, jstring text) {
  JavaChars chars(dfs, env, text);
  if (chars && chars.length() > 0) printText(context, QX_SEVERITY_PLAIN, u"%s", chars.units());
}

// Prints the text of every frame of the throwable's stack trace.
void printStackTrace(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, JavaCall &call,
                     jthrowable throwable) {
  jobject frames = nullptr;
  if (!call.onObject(&frames, throwable, "java/lang/Throwable", "getStackTrace",
                     "()[Ljava/lang/StackTraceElement;") ||
      !frames) {
    return;
  }
  LocalRef<jobjectArray> array(env, static_cast<jobjectArray>(frames));
  jsize count = env->GetArrayLength(array.get());
  for (jsize i = 0; i < count; i++) {
    LocalRef<jobject> frame(env, env->GetObjectArrayElement(array.get(), i));
    if (!frame) continue;
    jobject text = nullptr;
    if (!call.onObject(&text, frame.get(), "java/lang/StackTraceElement", "toString",
                       "()Ljava/lang/String;")) {
      continue;
    }
    LocalRef<jstring> frameText(env, static_cast<jstring>(text));
    printJavaString(dfs, context, env, frameText.get());
  }
}

// The throwable's cause, or NULL at the end of the chain; false when asking failed.
bool causeOf(JavaCall &call, jthrowable throwable, jthrowable &cause) {
  jobject found = nullptr;
  bool asked = call.onObject(&found, throwable, "java/lang/Throwable", "getCause",
                             "()Ljava/lang/Throwable;");
  cause = static_cast<jthrowable>(found);
  return asked;
}

// Prints the throwable and its causes. A chain that loops back is stopped soon after it comes
// round: a second walker follows at half speed and the two meet inside any loop.
int32_t printCauseChain(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                        jthrowable exception) {
  JavaCall call(dfs, context, env);
  jthrowable current = exception;
  LocalRef<jthrowable> owned(env, nullptr);  // the current cause
  LocalRef<jthrowable> trailing(env, nullptr);
  jthrowable slow = exception;
  for (int step = 1;; step++) {
    jobject text = nullptr;
    if (call.onObject(&text, current, "java/lang/Throwable", "toString", "()Ljava/lang/String;")) {
      LocalRef<jstring> textRef(env, static_cast<jstring>(text));
      printJavaString(dfs, context, env, textRef.get());
    }
    printStackTrace(dfs, context, env, call, current);
    jthrowable cause = nullptr;
    if (!causeOf(call, current, cause)) return JVMLINK_FAILED;
    if (!cause) return 0;
    LocalRef<jthrowable> next(env, cause);
    if (step % 2 == 0) {
      jthrowable slower = nullptr;
      if (!causeOf(call, slow, slower)) return JVMLINK_FAILED;
      trailing = LocalRef<jthrowable>(env, slower);
      slow = trailing.get();
    }
    if (env->IsSameObject(next.get(), slow) || env->IsSameObject(next.get(), current)) {
      printText(context, QX_SEVERITY_NOTE, u"JnlFromException: the cause chain loops; stopped.");
      return 0;
    }
    printText(context, QX_SEVERITY_PLAIN, u" caused by");
    owned = std::move(next);
    current = owned.get();
  }
}

}  // namespace

int32_t JnlFromException(DfsLinkState *dfs, QXMessageContext *context, jthrowable exception,
                         JNIEnv *env, const char *methodText) {
  if (!context) return static_cast<int32_t>(QX_MISSING_ARGUMENT);
  if (!dfs) {
    reportError(context, QX_MISSING_ARGUMENT);
    return static_cast<int32_t>(QX_MISSING_ARGUMENT);
  }
  LocalRef<jthrowable> pending(env, nullptr);
  if (!exception) {
    pending = LocalRef<jthrowable>(env, env->ExceptionOccurred());
    exception = pending.get();
  }
  if (!exception) {
    reportError(context, kNoException, "JnlFromException");
    return static_cast<int32_t>(kNoException);
  }
  // A pending exception is printed and cleared first: no other JNI call may run while it is.
  env->ExceptionDescribe();
  char *className = bridgeOf(dfs).classNameOfObject(dfs->jvm, context, exception, env);
  if (!className) {
    printText(context, QX_SEVERITY_ERROR, u"JnlFromException: exception missing classname");
  }
  if (methodText) printText(context, QX_SEVERITY_ERROR, u"Call to method %hs failed.", methodText);
  if (className) printText(context, QX_SEVERITY_ERROR, u"%hs", className);
  int32_t result = printCauseChain(dfs, context, env, exception);
  env->ExceptionClear();
  if (className) dfs->jvm->pool->free(dfs->jvm->pool, className);
  return result;
}

}  // namespace dfs
