// javaJar and javaMap: the storage engine's entry classes JarDORN and DORNmap, found on the
// JVM's class path at every call and called with the caller's texts as String arrays.
#include "dfslink/internal.h"
#include "dfslink/javatools/javatools.h"

namespace dfs {
namespace {

const char kRunDescriptor[] = "([Ljava/lang/String;[Ljava/lang/String;)V";
const char kMainDescriptor[] = "([Ljava/lang/String;[Ljava/lang/String;)I";

// The texts of a list before its first empty one.
int32_t countOf(const char *const *texts) {
  int32_t count = 0;
  while (texts && texts[count] && texts[count][0]) count++;
  return count;
}

// What a launch needs of Java: the String class and the arrays of its texts.
class Launch {
 public:
  Launch(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, const char *name)
      : dfs_(dfs), context_(context), env_(env), name_(name), strings_(env, nullptr) {}

  bool findStrings() {
    strings_ = LocalRef<jclass>(env_, env_->FindClass("java/lang/String"));
    if (strings_) return true;
    reportError(context_, kClassMissing, name_, u"java/lang/String");
    JnlFromException(dfs_, context_, nullptr, env_, "FindClass");
    return false;
  }

  // A String[] of texts; NULL after the reports. Each string is let go once stored.
  LocalRef<jobjectArray> array(const char *const *texts, int32_t count) {
    LocalRef<jobjectArray> array(env_, env_->NewObjectArray(count, strings_.get(), nullptr));
    if (!array) {
      reportError(context_, kArrayNotMade, name_);
      JnlFromException(dfs_, context_, nullptr, env_, "NewObjectArray");
      return array;
    }
    for (int32_t i = 0; i < count; i++) {
      LocalRef<jstring> text(env_, newJavaStringOfEngineText(dfs_, env_, texts[i]));
      if (!text) {
        reportError(context_, kStringNotMade, name_);
        JnlFromException(dfs_, context_, nullptr, env_, "NewStringUTF");
        return LocalRef<jobjectArray>(env_, nullptr);
      }
      env_->SetObjectArrayElement(array.get(), i, text.get());
    }
    return array;
  }

  // A class of the engine and its method; false (nothing pending, no report) when missing.
  bool find(const char *className, const char *method, const char *descriptor, bool isStatic,
            LocalRef<jclass> &type, jmethodID &id) {
    type = LocalRef<jclass>(env_, env_->FindClass(className));
    id = !type      ? nullptr
         : isStatic ? env_->GetStaticMethodID(type.get(), method, descriptor)
                    : env_->GetMethodID(type.get(), method, descriptor);
    if (!id && env_->ExceptionCheck()) env_->ExceptionDescribe();
    return id != nullptr;
  }

  // The exception a call left, reported after the operation's failure code; true when one was.
  bool reportThrown(uint32_t failure, const char *methodText) {
    LocalRef<jthrowable> thrown(env_, env_->ExceptionOccurred());
    if (!thrown) return false;
    env_->ExceptionClear();
    reportError(context_, failure, name_);
    JnlFromException(dfs_, context_, thrown.get(), env_, methodText);
    return true;
  }

 private:
  DfsLinkState *dfs_;
  QXMessageContext *context_;
  JNIEnv *env_;
  const char *name_;
  LocalRef<jclass> strings_;
};

// javaJar's work after its environment: true when it succeeded; reported tells whether a
// failure's code was reported already (with the exception that caused it).
bool runJar(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, const char *jar,
            const char *mainClass, const char *const *arguments, bool &reported) {
  Launch launch(dfs, context, env, "javaJar");
  if (!launch.findStrings()) return false;
  const char *const pair[] = {jar, mainClass};
  LocalRef<jobjectArray> first = launch.array(pair, 2);
  if (!first) return false;
  LocalRef<jobjectArray> second = launch.array(arguments, countOf(arguments));
  LocalRef<jclass> entry(env, nullptr);
  jmethodID run = nullptr;
  if (!second || !launch.find("JarDORN", "run", kRunDescriptor, true, entry, run)) return false;
  env->CallStaticVoidMethod(entry.get(), run, first.get(), second.get());
  reported = launch.reportThrown(kJarFailed, "JarDORN.run");
  return !reported;
}

bool runMap(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, const char *const *settings,
            const char *const *arguments, bool &reported) {
  Launch launch(dfs, context, env, "javaMap");
  if (!launch.findStrings()) return false;
  LocalRef<jobjectArray> first = launch.array(settings, countOf(settings));
  LocalRef<jobjectArray> second =
      first ? launch.array(arguments, countOf(arguments)) : LocalRef<jobjectArray>(env, nullptr);
  LocalRef<jclass> driver(env, nullptr);
  jmethodID constructor = nullptr, main = nullptr;
  if (!second || !launch.find("DORNmap", "<init>", "()V", false, driver, constructor)) {
    return false;
  }
  LocalRef<jobject> job(env, env->NewObject(driver.get(), constructor));
  if (!job) {
    reported = launch.reportThrown(kMapFailed, "DORNmap.<init>");
    return false;
  }
  if (!launch.find("DORNmap", "DORNmain", kMainDescriptor, false, driver, main)) return false;
  jint result = env->CallIntMethod(job.get(), main, first.get(), second.get());
  // A DORNmain that throws has failed, whatever it would have answered.
  reported = launch.reportThrown(kMapFailed, "DORNmap.DORNmain");
  return !reported && result == 0;
}

}  // namespace

uint32_t javaJar(DfsLinkState *dfs, QXMessageContext *context, const char *jar,
                 const char *mainClass, const char *const *arguments) {
  JNIEnv *env = environmentFor(dfs, context, "javaJar");
  bool reported = false;
  if (env && given(context, {jar, mainClass, arguments}) &&
      runJar(dfs, context, env, jar, mainClass, arguments, reported))
    return 0;
  if (!reported) reportError(context, kJarFailed, "javaJar");
  return kJarFailed;
}

uint32_t javaMap(DfsLinkState *dfs, QXMessageContext *context, const char *const *settings,
                 const char *const *arguments) {
  JNIEnv *env = environmentFor(dfs, context, "javaMap");
  bool reported = false;
  if (env && given(context, {settings, arguments}) &&
      runMap(dfs, context, env, settings, arguments, reported))
    return 0;
  if (!reported) reportError(context, kMapFailed, "javaMap");
  return kMapFailed;
}

}  // namespace dfs
