// A file written beside its target under a hidden name and renamed over it after the last byte:
// until then the target stays as it was, and a failed copy leaves it so.
#include <chrono>
#include <string_view>

#include "dfslink/hdfs/copy_guard.h"

namespace dfs {
namespace {

// Units of the target's name kept in the hidden name: enough to tell it, few enough that the
// whole stays within the usual limit of 255 bytes for a name.
constexpr size_t kNameUnits = 64;
constexpr char16_t kMark[] = u".qxcopy-";
constexpr size_t kMarkUnits = sizeof kMark / sizeof kMark[0] - 1;
constexpr size_t kRandomUnits = 16;

// A hidden name is made exclusively, so it need only be unlikely to be taken: a count mixed
// with the clock and where this call's frame lies.
uint64_t randomNumber() {
  static uint32_t counter = 0;
  uint64_t x = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  x ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&x)) << 16;
  x += 0x9E3779B97F4A7C15ULL * (__atomic_add_fetch(&counter, 1, __ATOMIC_RELAXED));
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

bool isHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit < 0xDC00;
}

// The parts of a path's URI: scheme, authority and path, each a Java string or NULL.
struct UriParts {
  explicit UriParts(JNIEnv *env)
      : scheme(env, nullptr), authority(env, nullptr), path(env, nullptr) {}
  LocalRef<jobject> scheme, authority, path;
};

bool partsOf(JavaCall &call, JNIEnv *env, jobject path, UriParts &parts) {
  jobject uri = nullptr;
  if (!call.onObject(&uri, path, kPathClass, "toUri", "()Ljava/net/URI;")) return false;
  LocalRef<jobject> uriRef(env, uri);
  const std::pair<LocalRef<jobject> *, const char *> getters[] = {
      {&parts.scheme, "getScheme"}, {&parts.authority, "getAuthority"}, {&parts.path, "getPath"}};
  for (const auto &[part, getter] : getters) {
    jobject text = nullptr;
    if (!call.onObject(&text, uri, "java/net/URI", getter, "()Ljava/lang/String;")) return false;
    *part = LocalRef<jobject>(env, text);
  }
  return true;
}

// ".NAME.qxcopy-RANDOM" in the directory of path, as one Java string.
jstring hiddenText(DfsLinkState *dfs, JNIEnv *env, jstring path) {
  JavaChars whole(dfs, env, path);
  if (!whole) return nullptr;
  std::u16string_view text(whole.units(), whole.length());
  size_t slash = text.rfind(u'/');
  size_t nameAt = slash == std::u16string_view::npos ? 0 : slash + 1;
  size_t nameUnits = std::min(text.size() - nameAt, kNameUnits);
  if (nameUnits > 0 && isHighSurrogate(text[nameAt + nameUnits - 1])) nameUnits--;
  size_t total = nameAt + 1 + nameUnits + kMarkUnits + kRandomUnits;
  PoolBlock block(dfs->pool, dfs->pool->allocate(dfs->pool, total * sizeof(QXChar), 0));
  auto *units = static_cast<QXChar *>(block.get());
  if (!units) return nullptr;
  QXChar *next = units;
  for (size_t i = 0; i < nameAt; i++) *next++ = text[i];
  *next++ = u'.';
  for (size_t i = 0; i < nameUnits; i++) *next++ = text[nameAt + i];
  for (size_t i = 0; i < kMarkUnits; i++) *next++ = kMark[i];
  uint64_t random = randomNumber();
  for (size_t i = 0; i < kRandomUnits; i++, random >>= 4) {
    *next++ = u"0123456789abcdef"[random & 15];
  }
  return newJavaString(env, units, total);
}

// One line for a rename the file system declined without saying why; false.
bool printRenameFailure(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                        const CopyNames &names, jobject target) {
  JavaCall call(dfs, context, env);
  jobject text = nullptr;
  if (!call.onObject(&text, target, kPathClass, "toString", "()Ljava/lang/String;")) {
    call.report(names.methodText);
    return false;
  }
  LocalRef<jobject> textRef(env, text);
  JavaChars chars(dfs, env, static_cast<jstring>(text));
  printText(context, QX_SEVERITY_ERROR,
            u"%hs: what was written beside %s could not be renamed over it; nothing was %hs.",
            names.operation, chars ? chars.units() : u"", names.done);
  return false;
}

}  // namespace

jobject besidePath(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, jobject path,
                   const char *methodText) {
  JavaCall call(dfs, context, env);
  UriParts parts(env);
  if (!partsOf(call, env, path, parts)) {
    call.report(methodText);
    return nullptr;
  }
  LocalRef<jstring> hidden(env, hiddenText(dfs, env, static_cast<jstring>(parts.path.get())));
  if (!hidden) {
    if (!env->ExceptionCheck()) reportError(context, QX_OUT_OF_MEMORY);
    JnlFromException(dfs, context, nullptr, env, methodText);
    return nullptr;
  }
  jobject made = bridgeOf(dfs).constructNewObjectOfClass(
      dfs->jvm, context, env, kPathClass,
      "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)V", parts.scheme.get(),
      parts.authority.get(), hidden.get());
  if (!made) JnlFromException(dfs, context, nullptr, env, methodText);
  return made;
}

bool replaceWith(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, const CopyNames &names,
                 hdfsFS fs, jobject temporary, jobject target) {
  JavaCall call(dfs, context, env);
  if (isLocalFileSystem(dfs, context, env, fs)) {
    // A local rename replaces a file in one step, and the local file system moves its checksum
    // file with it (its rename with options would leave the old one behind).
    jboolean renamed = JNI_FALSE;
    if (!call.onObject(&renamed, fs, kFileSystem, "rename",
                       "(Lorg/apache/hadoop/fs/Path;Lorg/apache/hadoop/fs/Path;)Z", temporary,
                       target)) {
      call.report(names.methodText);
      return false;
    }
    return renamed || printRenameFailure(dfs, context, env, names, target);
  }
  // Elsewhere Hadoop's rename that overwrites (on HDFS one step at the name node).
  const char *renameClass = "org/apache/hadoop/fs/Options$Rename";
  LocalRef<jstring> key(env, env->NewStringUTF("OVERWRITE"));  // ASCII
  jobject overwrite = nullptr;
  bool ok =
      key && call.onClass(&overwrite, renameClass, "valueOf",
                          "(Ljava/lang/String;)Lorg/apache/hadoop/fs/Options$Rename;", key.get());
  LocalRef<jobject> overwriteRef(env, overwrite);
  jclass type =
      ok ? bridgeOf(dfs).globalClassReference(dfs->jvm, context, renameClass, env) : nullptr;
  LocalRef<jobjectArray> options(env, type ? env->NewObjectArray(1, type, overwrite) : nullptr);
  if (!options ||
      !call.onClass(nullptr, "org/apache/hadoop/fs/FileUtil", "rename",
                    "(Lorg/apache/hadoop/fs/FileSystem;Lorg/apache/hadoop/fs/Path;Lorg/apache/"
                    "hadoop/fs/Path;[Lorg/apache/hadoop/fs/Options$Rename;)V",
                    fs, temporary, target, options.get())) {
    call.report(names.methodText);
    return false;
  }
  return true;
}

void discard(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, hdfsFS fs, jobject path,
             bool recursive) {
  JavaCall call(dfs, context, env);
  jboolean deleted = JNI_FALSE;
  call.onObject(&deleted, fs, kFileSystem, "delete", "(Lorg/apache/hadoop/fs/Path;Z)Z", path,
                recursive ? JNI_TRUE : JNI_FALSE);
}

}  // namespace dfs
