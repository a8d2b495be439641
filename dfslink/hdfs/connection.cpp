// hdfsConnectAsUser, hdfsConnectDefaultUser and hdfsDisconnect: a connection is a global
// reference to a Hadoop FileSystem.
#include <algorithm>
#include <cstdio>
#include <string_view>

#include "dfslink/internal.h"

namespace dfs {
namespace {

const char kOperation[] = "hdfsConnectAsUser";
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

// "hdfs://" host ":" port as QXChar text in a pool block; NULL after the reports.
QXChar *nameNodeUri(DfsLinkState *dfs, QXMessageContext *context, const QXChar *host, uint16_t port,
                    PoolBlock &buffer) {
  size_t hostLength = qxLength(host);
  size_t size = sizeof(QXChar) * (hostLength + 17);  // the scheme, ':', five digits and NUL
  buffer.reset(dfs->pool->allocate(dfs->pool, size, 0));
  if (!buffer.get()) {
    reportError(context, QX_OUT_OF_MEMORY);
    printText(context, QX_SEVERITY_ERROR, u"Couldn't allocate an object of size %d",
              static_cast<int>(size));
    return nullptr;
  }
  auto *uri = static_cast<QXChar *>(buffer.get());
  QXChar *end = std::copy_n(u"hdfs://", 7, uri);
  end = std::copy_n(host, hostLength, end);
  *end++ = u':';
  char digits[8];
  snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(port));
  for (const char *digit = digits; *digit; digit++) *end++ = static_cast<QXChar>(*digit);
  *end = 0;
  return uri;
}

// A Java string of a QXChar text; NULL after the report of what the JVM threw.
jstring javaStringFor(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                      const QXChar *text) {
  jstring string = newJavaString(env, text, qxLength(text));
  if (!string) JnlFromException(dfs, context, nullptr, env, "NewString");
  return string;
}

// The file system a connect asks for, as a local reference, or NULL after the reports.
struct Chosen {
  uint32_t failure = 0;
  jobject fileSystem = nullptr;
};

// A file system of its own for the connection: the cached instances of FileSystem.get are
// shared, and closing one would close it under every other connection.
Chosen getFileSystem(JavaCall &call, jobject uri, jobject configuration, jstring user) {
  jobject fileSystem = nullptr;
  if (!call.onClass(&fileSystem, kFileSystem, "newInstance", kGetDescriptor, uri, configuration,
                    user)) {
    call.report("org.apache.hadoop.fs.FileSystem::get(URI, Configuration)");
    return {QX_OPERATION_FAILED, nullptr};
  }
  return {0, fileSystem};
}

Chosen localFileSystem(JavaCall &call, jobject configuration) {
  jobject fileSystem = nullptr;
  if (!call.onClass(&fileSystem, kFileSystem, "newInstanceLocal",
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
  PoolBlock buffer(dfs->pool);
  QXChar *uri = nameNodeUri(dfs, context, host, port, buffer);
  if (!uri) return {QX_OUT_OF_MEMORY, nullptr};
  LocalRef<jstring> uriString(env, javaStringFor(dfs, context, env, uri));
  if (!uriString) return {QX_OPERATION_FAILED, nullptr};
  jobject uriObject = nullptr;
  if (!call.onClass(&uriObject, "java/net/URI", "create", "(Ljava/lang/String;)Ljava/net/URI;",
                    uriString.get())) {
    call.report("java.net.URI::create");
    return {QX_OPERATION_FAILED, nullptr};
  }
  LocalRef<jobject> uriRef(env, uriObject);
  return getFileSystem(call, uriObject, configuration, user);
}

// Chooses the file system by the host: the local one, the configuration's default or a name
// node.
Chosen chooseFileSystem(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                        const QXChar *host, uint16_t port, jobject configuration, jstring user) {
  bool local = host && sameIgnoringCase(host, u"local");
  bool byDefault = host && sameIgnoringCase(host, u"default");
  if ((local || byDefault) && port != 0) {
    printText(context, QX_SEVERITY_NOTE, u"Option HDFSPORT= has been ignored.");
    port = 0;
  }
  JavaCall call(dfs, context, env);
  if (!host || local) return localFileSystem(call, configuration);
  if (byDefault) return defaultFileSystem(call, env, configuration, user);
  return nameNodeFileSystem(dfs, context, env, call, host, port, configuration, user);
}

// The connection handle of a file system: a global reference, or NULL after the report. A file
// system that cannot be handed out is closed: it is the connection's own.
uint32_t keepConnection(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                        jobject fileSystem, hdfsFS *connection) {
  *connection = env->NewGlobalRef(fileSystem);
  if (*connection) return 0;
  if (env->ExceptionCheck()) env->ExceptionDescribe();
  reportError(context, QX_OUT_OF_MEMORY);
  JavaCall call(dfs, context, env);
  if (!call.onObject(nullptr, fileSystem, kFileSystem, "close", "()V")) {
    call.report("Filesystem::close");
  }
  return QX_OUT_OF_MEMORY;
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
  LocalRef<jstring> userName(env, nullptr);
  if (user) {
    userName = LocalRef<jstring>(env, javaStringFor(dfs, context, env, user));
    if (!userName) {
      *connection = nullptr;
      return static_cast<int32_t>(QX_OPERATION_FAILED);
    }
  }
  Chosen chosen =
      chooseFileSystem(dfs, context, env, host, port, configuration.get(), userName.get());
  LocalRef<jobject> fileSystem(env, chosen.fileSystem);
  *connection = nullptr;
  // A connection is a success whatever the host's print of the port note returned: the caller
  // must be able to disconnect it.
  if (fileSystem) {
    chosen.failure = keepConnection(dfs, context, env, fileSystem.get(), connection);
  }
  return static_cast<int32_t>(chosen.failure);
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
