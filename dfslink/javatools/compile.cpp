// javaComp: Java sources compiled with the JVM's own system compiler against the class path
// jvmlink keeps, the compiler's diagnostics listed when the compilation fails.
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "dfslink/internal.h"
#include "dfslink/javatools/javatools.h"
#include "host/qxplatform.h"

namespace dfs {
namespace {

const char kName[] = "javaComp";
const char kList[] = "java/util/List";
const char kArrayList[] = "java/util/ArrayList";
const char kCompilerClass[] = "javax/tools/JavaCompiler";
const char kFileManager[] = "javax/tools/StandardJavaFileManager";
const char kCollector[] = "javax/tools/DiagnosticCollector";
const char kDiagnostic[] = "javax/tools/Diagnostic";

// Java's release numbers: "1.8" and "8" are both 8.
int releaseOf(const char *version) {
  if (strncmp(version, "1.", 2) == 0) version += 2;
  return atoi(version);
}

// The kept class path's items as they were when copied: in a pool block, each followed by its
// separator byte, with their lengths.
struct KeptClassPath {
  explicit KeptClassPath(QXPool *pool) : text(pool), lengths(pool) {}
  PoolBlock text;
  PoolBlock lengths;
  int32_t count = 0;
  size_t bytes = 0;
};

// Copies the kept class path under the bridge's lock (another thread's first request rewrites
// its separators in place); no Java call runs under that lock. 0, or the status after the
// reports, made once the lock is released.
uint32_t copyKeptClassPath(DfsLinkState *dfs, QXMessageContext *context, KeptClassPath &kept) {
  BridgeState *bridge = dfs->jvm;
  uint32_t status = 0;
  {
    MutexLock lock(bridge->jvmMutex);
    kept.count = bridge->classPathText ? bridge->classPathCount : 0;
    for (int32_t i = 0; i < kept.count; i++) {
      kept.bytes += static_cast<size_t>(bridge->classPathLengths[i]);
    }
    if (kept.count > 0) {
      kept.text.reset(dfs->pool->allocate(dfs->pool, kept.bytes, 0));
      kept.lengths.reset(dfs->pool->allocate(dfs->pool, sizeof(int32_t) * kept.count, 0));
      if (kept.text.get() && kept.lengths.get()) {
        memcpy(kept.text.get(), bridge->classPathText, kept.bytes);
        memcpy(kept.lengths.get(), bridge->classPathLengths, sizeof(int32_t) * kept.count);
      } else {
        status = QX_OUT_OF_MEMORY;
      }
    } else {
      status = kNoClassPath;
    }
  }
  if (status == kNoClassPath) reportError(context, kNoClassPath, kName);
  if (status == QX_OUT_OF_MEMORY) reportError(context, QX_OUT_OF_MEMORY);
  return status;
}

// The kept class path, joined with the platform's separator and converted from the compiler's
// code page, as a Java string. 0, or the status after the reports.
uint32_t keptClassPath(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                       LocalRef<jstring> &path) {
  KeptClassPath kept(dfs->pool);
  if (uint32_t status = copyKeptClassPath(dfs, context, kept)) return status;
  size_t bytes = kept.bytes;
  const auto *lengths = static_cast<const int32_t *>(kept.lengths.get());
  // A byte of the code page is at most four of UTF-8, a byte of UTF-8 at most one unit.
  PoolBlock utf8(dfs->pool, dfs->pool->allocate(dfs->pool, 4 * bytes + 1, 0));
  PoolBlock units(dfs->pool, dfs->pool->allocate(dfs->pool, sizeof(QXChar) * (4 * bytes + 1), 0));
  if (!utf8.get() || !units.get()) {
    reportError(context, QX_OUT_OF_MEMORY);
    return QX_OUT_OF_MEMORY;
  }
  auto *joined = static_cast<QXChar *>(units.get());
  size_t used = 0;
  const char *item = static_cast<const char *>(kept.text.get());
  for (int32_t i = 0; i < kept.count; item += lengths[i++]) {
    int32_t written = 0, converted = 0;
    uint32_t status =
        dfs->compilerToUtf8->convert(dfs->compilerToUtf8, item, lengths[i] - 1, utf8.get(),
                                     static_cast<int32_t>(4 * bytes), &written, 0);
    if (status == 0) {
      status = dfs->fromUtf8->convert(dfs->fromUtf8, utf8.get(), written, joined + used,
                                      static_cast<int32_t>(sizeof(QXChar) * (4 * bytes - used)),
                                      &converted, 0);
    }
    if (status != 0) {
      reportError(context, kNotConverted, kName, u"compiler->utf8");
      reportError(context, status);
      return QX_OPERATION_FAILED;
    }
    used += static_cast<size_t>(converted);
    if (i + 1 < kept.count) joined[used++] = QX_PATH_SEPARATOR;
  }
  path = LocalRef<jstring>(env, newJavaString(env, joined, used));
  if (path) return 0;
  JnlFromException(dfs, context, nullptr, env, "NewString");
  return kStringNotMade;
}

// The system compiler, looked up once and kept as a global reference (under openLock).
jobject systemCompiler(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env) {
  MutexLock lock(dfs->openLock);
  if (dfs->javaCompiler) return dfs->javaCompiler;
  JavaCall call(dfs, context, env);
  jobject compiler = nullptr;
  if (call.onClass(&compiler, "javax/tools/ToolProvider", "getSystemJavaCompiler",
                   "()Ljavax/tools/JavaCompiler;") &&
      compiler) {
    dfs->javaCompiler = env->NewGlobalRef(compiler);
    env->DeleteLocalRef(compiler);
  }
  if (!dfs->javaCompiler) {
    if (env->ExceptionCheck()) env->ExceptionDescribe();
    reportError(context, kNoCompiler, kName);
  }
  return dfs->javaCompiler;
}

// One compilation's Java objects, and the latest exception one of its calls threw.
class Compilation {
 public:
  Compilation(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env)
      : dfs_(dfs), context_(context), env_(env), call_(dfs, context, env), thrown_(env, nullptr) {}

  // An object method with an object result; NULL when the call failed or gave none.
  template <typename... Arguments>
  LocalRef<jobject> object(jobject target, const char *type, const char *method,
                           const char *descriptor, Arguments... arguments) {
    jobject result = nullptr;
    if (!call_.onObject(&result, target, type, method, descriptor, arguments...)) keepThrown();
    return LocalRef<jobject>(env_, result);
  }
  template <typename Result, typename... Arguments>
  bool value(Result &result, jobject target, const char *type, const char *method,
             const char *descriptor, Arguments... arguments) {
    bool called = call_.onObject(&result, target, type, method, descriptor, arguments...);
    if (!called) keepThrown();
    return called;
  }
  // A new object; NULL (nothing left pending) when it cannot be made.
  template <typename... Arguments>
  LocalRef<jobject> made(const char *type, const char *descriptor, Arguments... arguments) {
    jobject made = bridgeOf(dfs_).constructNewObjectOfClass(dfs_->jvm, context_, env_, type,
                                                            descriptor, arguments...);
    if (!made && env_->ExceptionCheck()) {
      thrown_ = LocalRef<jthrowable>(env_, env_->ExceptionOccurred());
      env_->ExceptionDescribe();
    }
    return LocalRef<jobject>(env_, made);
  }
  jthrowable thrown() const { return thrown_.get(); }

 private:
  void keepThrown() {
    if (jthrowable latest = call_.takeThrown()) thrown_ = LocalRef<jthrowable>(env_, latest);
  }

  DfsLinkState *dfs_;
  QXMessageContext *context_;
  JNIEnv *env_;
  JavaCall call_;
  LocalRef<jthrowable> thrown_;
};

// Adds a Java string to a list; false when it cannot be made or added.
bool addText(Compilation &compilation, jobject list, jstring text) {
  jboolean added = JNI_FALSE;
  return text && compilation.value(added, list, kList, "add", "(Ljava/lang/Object;)Z", text);
}

// The options in their order; -bootclasspath only where the compiler takes it (a target of 8 or
// below).
LocalRef<jobject> optionList(DfsLinkState *dfs, JNIEnv *env, Compilation &compilation,
                             const char *outputDirectory, jstring classPath, const char *version,
                             const char *bootClassPath) {
  LocalRef<jobject> options = compilation.made(kArrayList, "(I)V", 10);
  std::vector<std::pair<const char *, const char *>> given = {{"-d", outputDirectory}};
  if (version) {
    given.push_back({"-source", version});
    given.push_back({"-target", version});
    if (bootClassPath && releaseOf(version) <= 8)
      given.push_back({"-bootclasspath", bootClassPath});
  }
  for (size_t i = 0; options && i < given.size(); i++) {
    LocalRef<jstring> option(env, env->NewStringUTF(given[i].first));  // ASCII
    LocalRef<jstring> value(
        env, option ? newJavaStringOfEngineText(dfs, env, given[i].second) : nullptr);
    // Nothing is added while a string could not be made: its exception is pending.
    bool added = option && value && addText(compilation, options.get(), option.get()) &&
                 addText(compilation, options.get(), value.get());
    if (added && i == 0) {
      LocalRef<jstring> classPathOption(env, env->NewStringUTF("-classpath"));
      added = classPathOption && addText(compilation, options.get(), classPathOption.get()) &&
              addText(compilation, options.get(), classPath);
    }
    if (!added) {
      if (env->ExceptionCheck()) env->ExceptionDescribe();
      return LocalRef<jobject>(env, nullptr);
    }
  }
  return options;
}

// The compilation units of the sources: a File a source, in a list the file manager reads. A
// source that cannot be added fails them all, named in a line of its own: the others would
// compile and the missing class would never be reported.
LocalRef<jobject> compilationUnits(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                                   Compilation &compilation, jobject fileManager,
                                   const char *const *sources, int32_t count) {
  LocalRef<jobject> files = compilation.made(kArrayList, "(I)V", count);
  for (int32_t i = 0; files && i < count; i++) {
    LocalRef<jstring> name(env, newJavaStringOfEngineText(dfs, env, sources[i]));
    LocalRef<jobject> file =
        name ? compilation.made("java/io/File", "(Ljava/lang/String;)V", name.get())
             : LocalRef<jobject>(env, nullptr);
    if (env->ExceptionCheck()) env->ExceptionDescribe();
    jboolean added = JNI_FALSE;
    if (!file ||
        !compilation.value(added, files.get(), kList, "add", "(Ljava/lang/Object;)Z", file.get())) {
      printText(context, QX_SEVERITY_ERROR, u"javaComp: source %lld (%hs) could not be added.",
                static_cast<long long>(i) + 1, sources[i]);
      return LocalRef<jobject>(env, nullptr);
    }
  }
  if (!files) return files;
  return compilation.object(fileManager, kFileManager, "getJavaFileObjectsFromFiles",
                            "(Ljava/lang/Iterable;)Ljava/lang/Iterable;", files.get());
}

// Prints "LABEL: text" of a Java string at severity 0; false when it could not be shown.
bool printJavaText(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, const QXChar *label,
                   jstring text) {
  JavaChars chars(dfs, env, text);
  if (!chars && text) {
    reportError(context, kTextNotShown, "jnlJavaString");
    return false;
  }
  if (chars.length() == 0) return true;
  if (printText(context, QX_SEVERITY_PLAIN, u"%s: %s", label, chars.units()) != 0) {
    reportError(context, kTextNotShown, "jnlJavaString");
    return false;
  }
  return true;
}

// One diagnostic's lines; false when the listing ends after it.
bool listDiagnostic(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                    Compilation &compilation, jobject diagnostic, jobject locale) {
  LocalRef<jobject> kind =
      compilation.object(diagnostic, kDiagnostic, "getKind", "()Ljavax/tools/Diagnostic$Kind;");
  LocalRef<jobject> kindName = kind ? compilation.object(kind.get(), "javax/tools/Diagnostic$Kind",
                                                         "name", "()Ljava/lang/String;")
                                    : LocalRef<jobject>(env, nullptr);
  if (kindName) printJavaText(dfs, context, env, u"KIND", static_cast<jstring>(kindName.get()));
  LocalRef<jobject> source =
      compilation.object(diagnostic, kDiagnostic, "getSource", "()Ljava/lang/Object;");
  if (source) {
    LocalRef<jobject> sourceText =
        compilation.object(source.get(), "java/lang/Object", "toString", "()Ljava/lang/String;");
    printJavaText(dfs, context, env, u"SOURCE", static_cast<jstring>(sourceText.get()));
  }
  jlong line = -1, column = -1;
  if (compilation.value(line, diagnostic, kDiagnostic, "getLineNumber", "()J") && line != -1) {
    printText(context, QX_SEVERITY_PLAIN, u"LineNumber: %lld", static_cast<long long>(line));
  }
  if (compilation.value(column, diagnostic, kDiagnostic, "getColumnNumber", "()J") &&
      column != -1) {
    printText(context, QX_SEVERITY_PLAIN, u"ColumnNumber: %lld", static_cast<long long>(column));
  }
  jobject message = nullptr;
  bool called = compilation.value(message, diagnostic, kDiagnostic, "getMessage",
                                  "(Ljava/util/Locale;)Ljava/lang/String;", locale);
  LocalRef<jstring> messageRef(env, static_cast<jstring>(message));
  bool shown = called && printJavaText(dfs, context, env, u"Message", messageRef.get());
  printText(context, QX_SEVERITY_PLAIN, u"--------");
  return shown;
}

// The compiler's diagnostics, one block each.
void listDiagnostics(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, jobject collector,
                     jobject locale) {
  Compilation compilation(dfs, context, env);
  LocalRef<jobject> diagnostics =
      compilation.object(collector, kCollector, "getDiagnostics", "()Ljava/util/List;");
  jint size = 0;
  if (!diagnostics || !compilation.value(size, diagnostics.get(), kList, "size", "()I")) return;
  if (size > 0) {
    printText(context, QX_SEVERITY_PLAIN, u"The Java Compiler generated these diagnostics:");
  }
  for (jint i = 0; i < size; i++) {
    LocalRef<jobject> item =
        compilation.object(diagnostics.get(), kList, "get", "(I)Ljava/lang/Object;", i);
    if (!item) {
      if (compilation.thrown()) {
        JnlFromException(dfs, context, compilation.thrown(), env, "java.util.List::get");
      }
      return;
    }
    if (!listDiagnostic(dfs, context, env, compilation, item.get(), locale)) return;
  }
}

// The sources before the first empty text.
int32_t countOf(const char *const *texts) {
  int32_t count = 0;
  while (texts && texts[count] && texts[count][0]) count++;
  return count;
}

// The compilation after its checks: 0, or the failure's status after its reports.
uint32_t compile(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, jobject compiler,
                 jstring classPath, const char *const *sources, int32_t count,
                 const char *outputDirectory, const char *version, const char *bootClassPath) {
  Compilation compilation(dfs, context, env);
  LocalRef<jobject> collector = compilation.made(kCollector, "()V");
  if (!collector) {
    reportError(context, kCompileFailed, kName);
    return kCompileFailed;
  }
  LocalRef<jobject> fileManager = compilation.object(
      compiler, kCompilerClass, "getStandardFileManager",
      "(Ljavax/tools/DiagnosticListener;Ljava/util/Locale;Ljava/nio/charset/Charset;)"
      "Ljavax/tools/StandardJavaFileManager;",
      collector.get(), nullptr, nullptr);
  if (!fileManager) {
    reportError(context, kNoFileManager, kName);
    return kNoFileManager;
  }
  jobject locale = nullptr;
  JavaCall localeCall(dfs, context, env);
  localeCall.onClass(&locale, "java/util/Locale", "getDefault", "()Ljava/util/Locale;");
  LocalRef<jobject> localeRef(env, locale);
  LocalRef<jobject> units =
      compilationUnits(dfs, context, env, compilation, fileManager.get(), sources, count);
  LocalRef<jobject> options =
      optionList(dfs, env, compilation, outputDirectory, classPath, version, bootClassPath);
  LocalRef<jobject> task(env, nullptr), result(env, nullptr);
  jboolean compiled = JNI_FALSE;
  if (units && options) {
    task = compilation.object(
        compiler, kCompilerClass, "getTask",
        "(Ljava/io/Writer;Ljavax/tools/JavaFileManager;Ljavax/tools/DiagnosticListener;"
        "Ljava/lang/Iterable;Ljava/lang/Iterable;Ljava/lang/Iterable;)"
        "Ljavax/tools/JavaCompiler$CompilationTask;",
        nullptr, fileManager.get(), collector.get(), options.get(), nullptr, units.get());
  }
  if (task) {
    result = compilation.object(task.get(), "javax/tools/JavaCompiler$CompilationTask", "call",
                                "()Ljava/lang/Object;");
  }
  if (result) compilation.value(compiled, result.get(), "java/lang/Boolean", "booleanValue", "()Z");
  jint none = 0;  // close gives nothing back
  compilation.value(none, fileManager.get(), kFileManager, "close", "()V");
  if (compiled) return 0;
  reportError(context, kCompileFailed, kName);
  if (compilation.thrown())
    JnlFromException(dfs, context, compilation.thrown(), env, "JavaCompiler");
  listDiagnostics(dfs, context, env, collector.get(), locale);
  return kCompileFailed;
}

}  // namespace

uint32_t javaComp(DfsLinkState *dfs, QXMessageContext *context, const char *const *sources,
                  const char *outputDirectory, const char *version, const char *bootClassPath) {
  JNIEnv *env = environmentFor(dfs, context, kName);
  if (!env) return kNoEnvironment;
  LocalRef<jstring> classPath(env, nullptr);
  if (uint32_t status = keptClassPath(dfs, context, env, classPath)) return status;
  if (!outputDirectory || !outputDirectory[0]) {
    reportError(context, kNoOutputDirectory, kName);
    return kNoOutputDirectory;
  }
  int32_t count = countOf(sources);
  if (count == 0) {
    printText(context, QX_SEVERITY_ERROR, u"javaComp: no source to compile.");
    reportError(context, QX_MISSING_ARGUMENT);
    return QX_MISSING_ARGUMENT;
  }
  jobject compiler = systemCompiler(dfs, context, env);
  if (!compiler) return kNoCompiler;
  return compile(dfs, context, env, compiler, classPath.get(), sources, count, outputDirectory,
                 version, bootClassPath);
}

}  // namespace dfs
