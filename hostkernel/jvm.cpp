// qxjni: one JVM per process, created in-process from the JDK's libjvm and kept for the life of
// the process. Class-path items added later go to the JDK's own application class loader, the way
// an agent's jars do, so FindClass sees them on every attached thread; that loader being the
// system one, its classes can also come from a class data sharing archive.
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
  jmethodID append = nullptr;
  jclass system = nullptr;  // global reference to java.lang.System
  jmethodID setProperty = nullptr;
  std::vector<std::string> classPath;  // what java.class.path says, kept in step with the loader
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

// The class path the JVM starts with: QXHOST_CLASS_PATH, else the host library itself. An empty
// class path would mean the working directory; the library, not being a jar, gives no classes.
std::string initialClassPath() {
  const char *given = getenv("QXHOST_CLASS_PATH");
  return given && *given ? given : hostLibraryPath();
}

std::vector<std::string> splitClassPath(const std::string &text) {
  std::vector<std::string> items;
  std::istringstream parts(text);
  for (std::string item; std::getline(parts, item, QX_PATH_SEPARATOR);) {
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

std::vector<std::string> jvmOptions() {
  std::vector<std::string> options = {"-Djava.class.path=" + initialClassPath(), "-Xshare:off"};
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

// java.class.path as the JVM holds it; "" when it cannot be read.
std::string liveClassPath(JNIEnv *env) {
  jclass system = env->FindClass("java/lang/System");
  jmethodID get = system ? env->GetStaticMethodID(system, "getProperty",
                                                  "(Ljava/lang/String;)Ljava/lang/String;")
                         : nullptr;
  jstring key = get ? env->NewStringUTF("java.class.path") : nullptr;  // ASCII
  auto value = key ? static_cast<jstring>(env->CallStaticObjectMethod(system, get, key)) : nullptr;
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    value = nullptr;
  }
  std::u16string units(value ? static_cast<size_t>(env->GetStringLength(value)) : 0, u'\0');
  if (value) {
    env->GetStringRegion(value, 0, static_cast<jsize>(units.size()),
                         reinterpret_cast<jchar *>(units.data()));
  }
  if (env->ExceptionCheck()) env->ExceptionClear();
  for (jobject local :
       {static_cast<jobject>(system), static_cast<jobject>(key), static_cast<jobject>(value)}) {
    if (local) env->DeleteLocalRef(local);
  }
  return fromQXChar(units);
}

// Keeps the system class loader and the method the JVM's own agent support appends to it with
// (JNI is not held to module access, and unlike JVMTI's variant it takes directories too), and
// System.setProperty, to keep java.class.path telling what the loader searches.
bool bindLoader(JNIEnv *env) {
  jclass classLoader = env->FindClass("java/lang/ClassLoader");
  if (!classLoader) return false;
  jmethodID getSystem =
      env->GetStaticMethodID(classLoader, "getSystemClassLoader", "()Ljava/lang/ClassLoader;");
  jobject loader = getSystem ? env->CallStaticObjectMethod(classLoader, getSystem) : nullptr;
  env->DeleteLocalRef(classLoader);
  if (env->ExceptionCheck() || !loader) return false;
  jclass loaderClass = env->GetObjectClass(loader);
  jvm().append =
      env->GetMethodID(loaderClass, "appendToClassPathForInstrumentation", "(Ljava/lang/String;)V");
  env->DeleteLocalRef(loaderClass);
  jvm().loader = jvm().append ? env->NewGlobalRef(loader) : nullptr;
  env->DeleteLocalRef(loader);
  jclass system = jvm().loader ? env->FindClass("java/lang/System") : nullptr;
  if (!system) return false;
  jvm().setProperty = env->GetStaticMethodID(
      system, "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
  jvm().system = static_cast<jclass>(env->NewGlobalRef(system));
  env->DeleteLocalRef(system);
  // What the JVM took, not what it was first given: a -Djava.class.path among the JVM options
  // comes later and wins, and must not vanish at the first append.
  jvm().classPath = splitClassPath(liveClassPath(env));
  return jvm().setProperty && jvm().system;
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
    fprintf(stderr, "qxjni: the system class loader cannot take class-path items\n");
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

jstring newJavaString(JNIEnv *env, const std::string &utf8) {
  std::u16string units = toQXChar(utf8);  // not NewStringUTF: it would mangle non-BMP characters
  return env->NewString(reinterpret_cast<const jchar *>(units.data()),
                        static_cast<jsize>(units.size()));
}

// Appends a path to the system class loader and sets java.class.path to the whole class path.
int32_t appendInJava(JNIEnv *env, const std::string &path, const std::string &classPath) {
  jstring item = newJavaString(env, path);
  jstring key = item ? newJavaString(env, "java.class.path") : nullptr;
  jstring value = key ? newJavaString(env, classPath) : nullptr;
  if (value) env->CallVoidMethod(jvm().loader, jvm().append, item);
  if (value && !env->ExceptionCheck()) {
    env->DeleteLocalRef(env->CallStaticObjectMethod(jvm().system, jvm().setProperty, key, value));
  }
  for (jstring text : {item, key, value}) env->DeleteLocalRef(text);
  if (!value) {
    env->ExceptionClear();
    return static_cast<int32_t>(QX_OUT_OF_MEMORY);
  }
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    return static_cast<int32_t>(QX_OPERATION_FAILED);
  }
  return 0;
}

// Adds an existing jar or directory to the system class loader and to java.class.path (what the
// engine's launched jars are given). A path missing at its first lookup would stay dead for the
// loader, so missing paths are refused; a path already there is not added twice.
int32_t addPath(JNIEnv *env, const std::string &path) {
  // A name that is not UTF-8 would reach the loader as another, missing path.
  std::u16string units;
  if (!utf8ToQXChar(path, units)) return static_cast<int32_t>(QX_IO_NAME_NOT_TEXT);
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return static_cast<int32_t>(QX_IO_NOT_FOUND);
  std::lock_guard<std::mutex> lock(jvm().mutex);
  std::vector<std::string> &classPath = jvm().classPath;
  if (std::find(classPath.begin(), classPath.end(), path) == classPath.end()) {
    std::string joined;
    for (const std::string &known : classPath) joined += known + QX_PATH_SEPARATOR;
    if (int32_t status = appendInJava(env, path, joined + path)) return status;
    classPath.push_back(path);
  }
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
