// hdfsConnectAsUser, hdfsConnectDefaultUser and hdfsDisconnect: a connection is a global
// reference to a Hadoop FileSystem.
#include <cstdio>
#include <string>
#include <string_view>

#include "dfslink/hdfs/internal.h"

namespace dfs {
namespace {

const char kOperation[] = "hdfsConnectAsUser";
const char kFileSystem[] = "org/apache/hadoop/fs/FileSystem";
const char kGetDescriptor[] =
    "(Ljava/net/URI;Lorg/apache/hadoop/conf/Configuration;Ljava/lang/String;)"
    "Lorg/apache/hadoop/fs/FileSystem;";

// A simple case mapping to lower case: ASCII, Latin-1 and the dotted capital I.
char16_t lowerCase(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if (c == 0x130) return u'i';
  return c;
}

bool sameIgnoringCase(const QXChar *text, std::u16string_view word) {
  if (qxLength(text) != word.size()) return false;
  for (size_t i = 0; i < word.size(); i++) {
    if (lowerCase(text[i]) != lowerCase(word[i])) return false;
  }
  return true;
}

// A pool block freed at the end of the scope.
struct PoolBlock {
  QXPool *pool;
  void *block;
  ~PoolBlock() {
    if (block) pool->free(pool, block);
  }
};

// A UTF-8 Java string of a QXChar text (converted with its terminator), in a pool block of
// 3 units per QXChar so that any text fits. NULL after the reports of a failure.
struct JavaText {
  uint32_t failure = 0;
  jstring text = nullptr;
};

JavaText javaTextOf(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, const QXChar *text,
                    PoolBlock &buffer) {
  size_t units = qxLength(text) + 1;
  size_t capacity = 3 * units;
  buffer.block = dfs->pool->allocate(dfs->pool, capacity, 0);
  if (!buffer.block) {
    reportError(context, QX_OUT_OF_MEMORY);
    printText(context, QX_SEVERITY_ERROR, u"Couldn't allocate an object of size %d",
              static_cast<int>(capacity));
    return {QX_OUT_OF_MEMORY, nullptr};
  }
  int32_t written = 0;
  if (dfs->toUtf8->convert(dfs->toUtf8, text, static_cast<int32_t>(units * sizeof(QXChar)),
                           buffer.block, static_cast<int32_t>(capacity), &written, 0)) {
    reportError(context, kNotConverted, "dfslink", u"compiler->utf8");
    return {QX_OPERATION_FAILED, nullptr};
  }
  return {0, env->NewStringUTF(static_cast<const char *>(buffer.block))};
}

// "hdfs://" host ":" port as QXChar text.
std::u16string nameNodeUri(const QXChar *host, uint16_t port) {
  std::u16string uri = u"hdfs://";
  uri += host;
  uri += u':';
  char digits[8];
  snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(port));
  for (const char *digit = digits; *digit; digit++) uri += static_cast<char16_t>(*digit);
  return uri;
}

// The file system a connect asks for, as a local reference, or NULL after the reports.
struct Chosen {
  uint32_t failure = 0;
  jobject fileSystem = nullptr;
};

Chosen getFileSystem(JavaCall &call, jobject uri, jobject configuration, jstring user) {
  jobject fileSystem = nullptr;
  if (!call.onClass(&fileSystem, kFileSystem, "get", kGetDescriptor, uri, configuration, user)) {
    call.report("org.apache.hadoop.fs.FileSystem::get(URI, Configuration)");
    return {QX_OPERATION_FAILED, nullptr};
  }
  return {0, fileSystem};
}

Chosen localFileSystem(JavaCall &call, jobject configuration) {
  jobject fileSystem = nullptr;
  if (!call.onClass(&fileSystem, kFileSystem, "getLocal",
                    "(Lorg/apache/hadoop/conf/Configuration;)"
                    "Lorg/apache/hadoop/fs/LocalFileSystem;",
                    configuration)) {
    call.report("org.apache.hadoop.fs.FileSystem::getLocal");
    return {QX_OPERATION_FAILED, nullptr};
  }
  return {0, fileSystem};
}

Chosen defaultFileSystem(JavaCall &call, JNIEnv *env, jobject configuration, jstring user) {
  jobject uri = nullptr;
  if (!call.onClass(&uri, kFileSystem, "getDefaultUri",
                    "(Lorg/apache/hadoop/conf/Configuration;)Ljava/net/URI;", configuration)) {
    call.report("org.apache.hadoop.fs.FileSystem::getDefaultUri");
    return {QX_OPERATION_FAILED, nullptr};
  }
  LocalRef<jobject> uriRef(env, uri);
  return getFileSystem(call, uri, configuration, user);
}

Chosen nameNodeFileSystem(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, JavaCall &call,
                          const QXChar *host, uint16_t port, jobject configuration, jstring user) {
  std::u16string uri = nameNodeUri(host, port);
  PoolBlock buffer{dfs->pool, nullptr};
  JavaText uriText = javaTextOf(dfs, context, env, uri.c_str(), buffer);
  if (uriText.failure) return {uriText.failure, nullptr};
  LocalRef<jstring> uriString(env, uriText.text);
  jobject uriObject = nullptr;
  if (!call.onClass(&uriObject, "java/net/URI", "create", "(Ljava/lang/String;)Ljava/net/URI;",
                    uriString.get())) {
    call.report("java.net.URI::create");
    return {QX_OPERATION_FAILED, nullptr};
  }
  LocalRef<jobject> uriRef(env, uriObject);
  return getFileSystem(call, uriObject, configuration, user);
}

int32_t connect(DfsLinkState *dfs, QXMessageContext *context, const QXChar *host, uint16_t port,
                const QXChar *user, hdfsFS *connection) {
  if (!context) return static_cast<int32_t>(QX_MISSING_ARGUMENT);
  if (!dfs || !connection) {
    reportError(context, QX_MISSING_ARGUMENT);
    return static_cast<int32_t>(QX_MISSING_ARGUMENT);
  }
  JNIEnv *env = environmentFor(dfs, context, kOperation);
  if (!env) return static_cast<int32_t>(kNoEnvironment);
  LocalRef<jobject> configuration(
      env, bridgeOf(dfs).constructNewObjectOfClass(dfs->jvm, context, env,
                                                   "org/apache/hadoop/conf/Configuration", "()V"));
  if (!configuration) {
    JnlFromException(dfs, context, nullptr, env, "org.apache.hadoop.conf.Configuration::<init>");
    printText(context, QX_SEVERITY_ERROR, u"%hs %hs.", "Can't construct instance of class",
              "org.apache.hadoop.conf.Configuration");
    printText(context, QX_SEVERITY_ERROR, u"Probable classpath problem.");
    return static_cast<int32_t>(QX_OPERATION_FAILED);
  }
  PoolBlock userBuffer{dfs->pool, nullptr};
  LocalRef<jstring> userName(env, nullptr);
  Chosen chosen;
  int32_t noted = 0;
  if (user) {
    JavaText text = javaTextOf(dfs, context, env, user, userBuffer);
    chosen.failure = text.failure;
    userName = LocalRef<jstring>(env, text.text);
  }
  if (!chosen.failure) {
    bool local = host && sameIgnoringCase(host, u"local");
    bool byDefault = host && sameIgnoringCase(host, u"default");
    if ((local || byDefault) && port != 0) {
      noted = printText(context, QX_SEVERITY_NOTE, u"Option HDFSPORT= has been ignored.");
      port = 0;
    }
    JavaCall call(dfs, context, env);
    if (!host || local) {
      chosen = localFileSystem(call, configuration.get());
    } else if (byDefault) {
      chosen = defaultFileSystem(call, env, configuration.get(), userName.get());
    } else {
      chosen = nameNodeFileSystem(dfs, context, env, call, host, port, configuration.get(),
                                  userName.get());
    }
  }
  LocalRef<jobject> fileSystem(env, chosen.fileSystem);
  *connection = fileSystem ? env->NewGlobalRef(fileSystem.get()) : nullptr;
  return chosen.failure ? static_cast<int32_t>(chosen.failure) : noted;
}

}  // namespace

int32_t hdfsConnectAsUser(DfsLinkState *dfs, QXMessageContext *context, const QXChar *host,
                          uint16_t port, const QXChar *user, hdfsFS *connection) {
  return connect(dfs, context, host, port, user, connection);
}

int32_t hdfsConnectDefaultUser(DfsLinkState *dfs, QXMessageContext *context, const QXChar *host,
                               uint16_t port, hdfsFS *connection) {
  return connect(dfs, context, host, port, nullptr, connection);
}

int32_t hdfsDisconnect(DfsLinkState *dfs, QXMessageContext *context, hdfsFS connection) {
  if (!connection) {
    reportError(context, kNoConnection, "hdfsDisconnect");
    return static_cast<int32_t>(QX_OPERATION_FAILED);
  }
  JNIEnv *env = environmentFor(dfs, context, "hdfsDisconnect");
  if (!env) return static_cast<int32_t>(kNoEnvironment);
  JavaCall call(dfs, context, env);
  if (!call.onObject(nullptr, connection, kFileSystem, "close", "()V")) {
    call.report("Filesystem::close");
    return static_cast<int32_t>(QX_OPERATION_FAILED);
  }
  env->DeleteGlobalRef(connection);
  return 0;
}

}  // namespace dfs
