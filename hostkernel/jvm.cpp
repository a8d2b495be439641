// qxjni: one JVM per process, created in-process from the JDK's libjvm and kept for the life of
// the process. Its system class loader is the project's appendable loader, so class-path items
// added later are seen by FindClass on every attached thread.
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "host/qxplatform.h"
#include "hostkernel/internal.h"

namespace hostkernel {
namespace {

constexpr uint32_t kJniEyeCatcher = 0x494E4A51;  // "QJNI"
constexpr char kLoaderClassProperty[] = "-Djava.system.class.loader=qxhost.AppendableClassLoader";

// Hadoop on JDK 17 reflects into these packages.
constexpr const char *kOpenedPackages[] = {
    "java.io",       "java.lang",         "java.lang.reflect", "java.math",
    "java.net",      "java.text",         "java.util",         "java.util.concurrent",
    "java.util.zip", "sun.security.util", "sun.security.x509"};

struct Jvm {
  std::mutex mutex;
  bool creationTried = false;
  JavaVM *vm = nullptr;
  jobject loader = nullptr;  // global reference to the system class loader
  jmethodID addPath = nullptr;
  bool itemsAddedSinceApply = false;
};

Jvm &jvm() {
  static Jvm *state = new Jvm;  // never destroyed: the JVM outlives static destruction
  return *state;
}

std::atomic<int> jniWarnings{0};
std::atomic<bool> quietOutput{false};

jint JNICALL countJniWarnings(FILE *stream, const char *format, va_list arguments) {
  char text[8192];
  int length = vsnprintf(text, sizeof text, format, arguments);
  bool warning = false;
  for (const char *marker :
       {"WARNING in native method", "JNI local refs:", "FATAL ERROR in native method"}) {
    if (strstr(text, marker)) {
      jniWarnings++;
      warning = true;
    }
  }
  if (warning || !quietOutput) fputs(text, stream == stdout ? stdout : stderr);
  return length;
}

std::string libjvmPath() {
  const char *javaHome = getenv("JAVA_HOME");
  if (javaHome && *javaHome) {
    std::string path = std::string(javaHome) + "/lib/server/libjvm.so";
    struct stat info;
    if (stat(path.c_str(), &info) == 0) return path;
  }
  return QXHOST_DEFAULT_LIBJVM;
}

std::string loaderJarPath() {
  const char *jar = getenv("QXHOST_LOADER_JAR");
  return jar && *jar ? jar : hostLibraryDirectory() + "/qxhost-loader.jar";
}

std::vector<std::string> jvmOptions() {
  std::vector<std::string> options = {"-Djava.class.path=" + loaderJarPath(), kLoaderClassProperty,
                                      "-Xshare:off"};
  for (std::string &option : hadoopJvmOptions()) options.push_back(option);
  const char *extra = getenv("QXHOST_JVM_OPTIONS");
  std::istringstream words(extra ? extra : "");
  for (std::string word; words >> word;) options.push_back(word);
  // Java's Kerberos reads only its own property; KRB5_CONFIG is where kinit and the other
  // Kerberos tools find the KDC, so the JVM finds it there too unless told otherwise.
  const char *krb5 = getenv("KRB5_CONFIG");
  const std::string property = "-Djava.security.krb5.conf=";
  bool given = std::any_of(options.begin(), options.end(), [&](const std::string &option) {
    return option.rfind(property, 0) == 0;
  });
  if (krb5 && *krb5 && !given) options.push_back(property + krb5);
  return options;
}

// Keeps the system class loader and its addPath method for later class-path items.
bool bindLoader(JNIEnv *env) {
  jclass classLoader = env->FindClass("java/lang/ClassLoader");
  if (!classLoader) return false;
  jmethodID getSystem =
      env->GetStaticMethodID(classLoader, "getSystemClassLoader", "()Ljava/lang/ClassLoader;");
  jobject loader = getSystem ? env->CallStaticObjectMethod(classLoader, getSystem) : nullptr;
  if (env->ExceptionCheck()) return false;
  env->DeleteLocalRef(classLoader);
  if (!loader) return false;
  jclass loaderClass = env->GetObjectClass(loader);
  jvm().addPath = env->GetMethodID(loaderClass, "addPath", "(Ljava/lang/String;)Z");
  env->DeleteLocalRef(loaderClass);
  if (!jvm().addPath) {
    env->DeleteLocalRef(loader);
    return false;
  }
  jvm().loader = env->NewGlobalRef(loader);
  env->DeleteLocalRef(loader);
  return jvm().loader != nullptr;
}

JavaVM *createJvm() {
  void *library = dlopen(libjvmPath().c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (!library) {
    fprintf(stderr, "qxjni: cannot load the JVM: %s\n", dlerror());
    return nullptr;
  }
  using CreateFunction = jint (*)(JavaVM **, void **, void *);
  auto create = reinterpret_cast<CreateFunction>(dlsym(library, "JNI_CreateJavaVM"));
  if (!create) return nullptr;
  std::vector<std::string> texts = jvmOptions();
  std::vector<JavaVMOption> options;
  for (std::string &text : texts) options.push_back({text.data(), nullptr});
  options.push_back({const_cast<char *>("vfprintf"), reinterpret_cast<void *>(countJniWarnings)});
  JavaVMInitArgs arguments = {JNI_VERSION_1_8, static_cast<jint>(options.size()), options.data(),
                              JNI_FALSE};
  JavaVM *vm = nullptr;
  JNIEnv *env = nullptr;
  if (create(&vm, reinterpret_cast<void **>(&env), &arguments) != JNI_OK) {
    fprintf(stderr, "qxjni: JNI_CreateJavaVM failed\n");
    return nullptr;
  }
  if (!bindLoader(env)) {
    if (env->ExceptionCheck()) env->ExceptionDescribe();
    fprintf(stderr, "qxjni: the appendable system class loader is missing\n");
    return nullptr;
  }
  return vm;
}

JavaVM *runningJvm() {
  std::lock_guard<std::mutex> lock(jvm().mutex);
  if (!jvm().vm && !jvm().creationTried) {
    jvm().creationTried = true;
    jvm().vm = createJvm();
  }
  return jvm().vm;
}

// The JVM gives natively attached threads no context class loader; Hadoop's Configuration
// finds its resources through it.
void setContextClassLoader(JNIEnv *env) {
  jclass threadClass = env->FindClass("java/lang/Thread");
  jmethodID current = env->GetStaticMethodID(threadClass, "currentThread", "()Ljava/lang/Thread;");
  jmethodID setLoader =
      env->GetMethodID(threadClass, "setContextClassLoader", "(Ljava/lang/ClassLoader;)V");
  jobject thread = env->CallStaticObjectMethod(threadClass, current);
  if (!env->ExceptionCheck()) env->CallVoidMethod(thread, setLoader, jvm().loader);
  if (env->ExceptionCheck()) env->ExceptionDescribe();
  env->DeleteLocalRef(thread);
  env->DeleteLocalRef(threadClass);
}

// How this thread is attached through qxjni; the attachment is counted so that every
// attach has its release, and a thread attached here is detached by its last release.
struct ThreadAttachment {
  int count = 0;
  bool attachedHere = false;
  JNIEnv *env = nullptr;

  ~ThreadAttachment() {
    if (count > 0) live().attachedThreads--;
    if (attachedHere) jvm().vm->DetachCurrentThread();
  }
};
thread_local ThreadAttachment attachment;

intptr_t obtainJvm(QXJniExtension *, int32_t, int32_t, int32_t) {
  if (shouldFail(Fault::JvmObtain)) return 0;
  return reinterpret_cast<intptr_t>(runningJvm());
}

int32_t attachThread(QXJniExtension *, QXJniExtension *, JNIEnv **environment, int32_t, int32_t) {
  if (!environment) return static_cast<int32_t>(QX_MISSING_ARGUMENT);
  *environment = nullptr;
  JavaVM *vm = jvm().vm;
  if (!vm || shouldFail(Fault::ThreadAttach)) return static_cast<int32_t>(QX_OPERATION_FAILED);
  if (attachment.count == 0) {
    JNIEnv *env = nullptr;
    if (vm->GetEnv(reinterpret_cast<void **>(&env), JNI_VERSION_1_8) == JNI_EDETACHED) {
      char name[] = "qxhost-thread";
      JavaVMAttachArgs arguments = {JNI_VERSION_1_8, name, nullptr};
      if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void **>(&env), &arguments) != JNI_OK) {
        return static_cast<int32_t>(QX_OPERATION_FAILED);
      }
      attachment.attachedHere = true;
      setContextClassLoader(env);
    }
    attachment.env = env;
    live().attachedThreads++;
  }
  attachment.count++;
  *environment = attachment.env;
  return 0;
}

void releaseThread(QXJniExtension *, QXJniExtension *, JNIEnv *) {
  if (attachment.count == 0 || --attachment.count > 0) return;
  live().attachedThreads--;
  if (attachment.attachedHere) {
    jvm().vm->DetachCurrentThread();
    attachment.attachedHere = false;
  }
  attachment.env = nullptr;
}

int32_t addPath(JNIEnv *env, const std::string &path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return static_cast<int32_t>(QX_IO_NOT_FOUND);
  std::u16string units =
      toQXChar(path);  // not NewStringUTF: it would mangle characters beyond the BMP
  jstring text = env->NewString(reinterpret_cast<const jchar *>(units.data()),
                                static_cast<jsize>(units.size()));
  if (!text) {
    env->ExceptionClear();
    return static_cast<int32_t>(QX_OUT_OF_MEMORY);
  }
  jboolean added = env->CallBooleanMethod(jvm().loader, jvm().addPath, text);
  env->DeleteLocalRef(text);
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    return static_cast<int32_t>(QX_OPERATION_FAILED);
  }
  if (!added) return static_cast<int32_t>(QX_IO_NOT_FOUND);
  std::lock_guard<std::mutex> lock(jvm().mutex);
  jvm().itemsAddedSinceApply = true;
  return 0;
}

int32_t addClassPathItem(QXJniExtension *, JNIEnv *env, const char *item) {
  if (!env || !item) return static_cast<int32_t>(QX_MISSING_ARGUMENT);
  if (!jvm().vm || shouldFail(Fault::ClassPathAdd, item)) {
    return static_cast<int32_t>(QX_OPERATION_FAILED);
  }
  return addPath(env, item);
}

std::string trimmed(const std::string &line) {
  const char *blanks = " \t\r\n";
  size_t first = line.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return line.substr(first, line.find_last_not_of(blanks) - first + 1);
}

// Adds every jar the list names; a missing list or jar makes the result QX_OPERATION_FAILED (a
// code without message arguments, so holders can report it as it is), the others are still
// added.
int32_t readJarListFile(QXJniExtension *, JNIEnv *env, const char *fileName) {
  if (!env || !fileName) return static_cast<int32_t>(QX_MISSING_ARGUMENT);
  if (!jvm().vm || shouldFail(Fault::JarList, fileName)) {
    return static_cast<int32_t>(QX_OPERATION_FAILED);
  }
  const int32_t failed = static_cast<int32_t>(QX_OPERATION_FAILED);
  std::string root = jarRoot();
  std::ifstream list(std::string(root) + QX_DIR_SEPARATOR + fileName);
  if (!list) return failed;
  int32_t status = 0;
  for (std::string line; std::getline(list, line);) {
    std::string item = trimmed(line);
    if (item.empty() || item[0] == '#') continue;
    std::string path = item[0] == QX_DIR_SEPARATOR ? item : root + QX_DIR_SEPARATOR + item;
    if (addPath(env, path) != 0) status = failed;
  }
  return status;
}

int32_t applyClassPath(QXJniExtension *, JNIEnv *) {
  if (shouldFail(Fault::ClassPathApply)) return 1;
  std::lock_guard<std::mutex> lock(jvm().mutex);
  if (!jvm().itemsAddedSinceApply) return -1;
  jvm().itemsAddedSinceApply = false;
  return 0;
}

void releaseExtension(void *record) {
  delete static_cast<QXJniExtension *>(record);
  live().extensions--;
}

}  // namespace

std::vector<std::string> hadoopJvmOptions() {
  std::vector<std::string> options = {"-XX:+IgnoreUnrecognizedVMOptions"};
  for (const char *package : kOpenedPackages) {
    options.push_back(std::string("--add-opens=java.base/") + package + "=ALL-UNNAMED");
  }
  // Hadoop logs through SLF4J to its simple binding: warnings and errors only, and not the
  // notice that the native library is absent (the Java code paths are used).
  options.push_back("-Dorg.slf4j.simpleLogger.defaultLogLevel=warn");
  options.push_back("-Dorg.slf4j.simpleLogger.log.org.apache.hadoop.util.NativeCodeLoader=error");
  return options;
}

std::string jarRoot() {
  const char *root = getenv("QXHOST_JAR_ROOT");
  return root && *root ? root : QXHOST_DEFAULT_JAR_ROOT;
}

QXJniExtension *newJniExtension() {
  live().extensions++;
  return new QXJniExtension{{kJniEyeCatcher, nullptr, releaseExtension},
                            obtainJvm,
                            attachThread,
                            releaseThread,
                            addClassPathItem,
                            readJarListFile,
                            applyClassPath};
}

int takeJniWarnings() {
  return jniWarnings.exchange(0);
}

void quietJvmOutput(bool quiet) {
  quietOutput = quiet;
}

JavaVM *javaVm() {
  return runningJvm();
}

JavaVM *createdJvm() {
  std::lock_guard<std::mutex> lock(jvm().mutex);
  return jvm().vm;
}

}  // namespace hostkernel
