// hdfsConnectAsUser, hdfsConnectDefaultUser and hdfsDisconnect: a connection is a global
// reference to a Hadoop FileSystem.
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "dfslink/internal.h"

namespace dfs {
namespace {

const char kOperation[] = "hdfsConnectAsUser";
const char kGetDescriptor[] =
    "(Ljava/net/URI;Lorg/apache/hadoop/conf/Configuration;Ljava/lang/String;)"
    "Lorg/apache/hadoop/fs/FileSystem;";
const char kNewInstanceDescriptor[] =
    "(Ljava/net/URI;Lorg/apache/hadoop/conf/Configuration;)Lorg/apache/hadoop/fs/FileSystem;";

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

// What a connect works with.
struct Connecting {
  DfsLinkState *dfs;
  QXMessageContext *context;
  JNIEnv *env;
  JavaCall &call;
};

const char kUserGroupInformation[] = "org/apache/hadoop/security/UserGroupInformation";
#define QX_UGI "Lorg/apache/hadoop/security/UserGroupInformation;"

// A new local reference of what a JNI function made; NULL after the report of what it threw.
template <typename Made>
Made madeOrReported(const Connecting &at, Made made, const char *what) {
  if (!made) JnlFromException(at.dfs, at.context, nullptr, at.env, what);
  return made;
}

// A Java string of ASCII text (a name, a descriptor); NULL after the report.
jstring asciiString(const Connecting &at, std::string_view text) {
  std::u16string units(text.begin(), text.end());
  return madeOrReported(at, newJavaString(at.env, units.data(), units.size()), "NewString");
}

// A PrivilegedExceptionAction whose run is FileSystem.newInstance(uri, configuration): a method
// handle with both arguments bound, as an instance of the interface. NULL after the report.
jobject newInstanceAction(Connecting &at, jobject uri, jobject configuration) {
  JNIEnv *env = at.env;
  JavaCall &call = at.call;
  jobject loader = nullptr, type = nullptr, lookup = nullptr, handle = nullptr;
  jobject withUri = nullptr, bound = nullptr, action = nullptr;
  LocalRef<jstring> descriptor(env, asciiString(at, kNewInstanceDescriptor));
  LocalRef<jstring> name(env, descriptor ? asciiString(at, "newInstance") : nullptr);
  LocalRef<jclass> fileSystem(
      env, name ? madeOrReported(at, env->FindClass(kFileSystem), "FindClass") : nullptr);
  LocalRef<jclass> actionClass(
      env, fileSystem
               ? madeOrReported(at, env->FindClass("java/security/PrivilegedExceptionAction"),
                                "FindClass")
               : nullptr);
  if (!actionClass) return nullptr;
  const char *failed = nullptr;
  if (!call.onClass(&loader, "java/lang/ClassLoader", "getSystemClassLoader",
                    "()Ljava/lang/ClassLoader;")) {
    failed = "java.lang.ClassLoader::getSystemClassLoader";
  }
  LocalRef<jobject> loaderRef(env, loader);
  if (!failed && !call.onClass(&type, "java/lang/invoke/MethodType", "fromMethodDescriptorString",
                               "(Ljava/lang/String;Ljava/lang/ClassLoader;)"
                               "Ljava/lang/invoke/MethodType;",
                               descriptor.get(), loader)) {
    failed = "java.lang.invoke.MethodType::fromMethodDescriptorString";
  }
  LocalRef<jobject> typeRef(env, type);
  if (!failed && !call.onClass(&lookup, "java/lang/invoke/MethodHandles", "publicLookup",
                               "()Ljava/lang/invoke/MethodHandles$Lookup;")) {
    failed = "java.lang.invoke.MethodHandles::publicLookup";
  }
  LocalRef<jobject> lookupRef(env, lookup);
  if (!failed &&
      !call.onObject(&handle, lookup, "java/lang/invoke/MethodHandles$Lookup", "findStatic",
                     "(Ljava/lang/Class;Ljava/lang/String;Ljava/lang/invoke/MethodType;)"
                     "Ljava/lang/invoke/MethodHandle;",
                     fileSystem.get(), name.get(), type)) {
    failed = "java.lang.invoke.MethodHandles$Lookup::findStatic";
  }
  LocalRef<jobject> handleRef(env, handle);
  const char *bindTo = "(Ljava/lang/Object;)Ljava/lang/invoke/MethodHandle;";
  if (!failed &&
      (!call.onObject(&withUri, handle, "java/lang/invoke/MethodHandle", "bindTo", bindTo, uri) ||
       !call.onObject(&bound, withUri, "java/lang/invoke/MethodHandle", "bindTo", bindTo,
                      configuration))) {
    failed = "java.lang.invoke.MethodHandle::bindTo";
  }
  LocalRef<jobject> withUriRef(env, withUri);
  LocalRef<jobject> boundRef(env, bound);
  if (!failed &&
      !call.onClass(&action, "java/lang/invoke/MethodHandleProxies", "asInterfaceInstance",
                    "(Ljava/lang/Class;Ljava/lang/invoke/MethodHandle;)Ljava/lang/Object;",
                    actionClass.get(), bound)) {
    failed = "java.lang.invoke.MethodHandleProxies::asInterfaceInstance";
  }
  if (failed) call.report(failed);
  return action;
}

// On a Kerberos-secured cluster a named user other than the logged-in principal is a proxy user
// that principal impersonates (the name node's hadoop.proxyuser settings decide): Hadoop's
// newInstance with a user name would make a user without credentials. In *proxy the proxy user,
// or NULL for the logged-in principal itself; false after the report.
bool secureUser(Connecting &at, jstring user, jobject *proxy) {
  JavaCall &call = at.call;
  jobject login = nullptr, shortName = nullptr;
  jboolean same = JNI_FALSE;
  if (!call.onClass(&login, kUserGroupInformation, "getLoginUser", "()" QX_UGI)) {
    call.report("org.apache.hadoop.security.UserGroupInformation::getLoginUser");
    return false;
  }
  LocalRef<jobject> loginRef(at.env, login);
  if (!call.onObject(&shortName, login, kUserGroupInformation, "getShortUserName",
                     "()Ljava/lang/String;")) {
    call.report("org.apache.hadoop.security.UserGroupInformation::getShortUserName");
    return false;
  }
  LocalRef<jobject> shortNameRef(at.env, shortName);
  if (!call.onObject(&same, user, "java/lang/String", "equals", "(Ljava/lang/Object;)Z",
                     shortName)) {
    call.report("java.lang.String::equals");
    return false;
  }
  *proxy = nullptr;
  if (same) return true;
  if (!call.onClass(proxy, kUserGroupInformation, "createProxyUser",
                    "(Ljava/lang/String;" QX_UGI ")" QX_UGI, user, login)) {
    call.report("org.apache.hadoop.security.UserGroupInformation::createProxyUser");
    return false;
  }
  return true;
}

// Whether the name node lets the proxy user act: the root's status is asked for, so that a
// refused impersonation fails the connect rather than the first operation.
bool impersonationAllowed(Connecting &at, jobject fileSystem) {
  LocalRef<jstring> root(at.env, asciiString(at, "/"));
  LocalRef<jobject> path(at.env, root ? bridgeOf(at.dfs).constructNewObjectOfClass(
                                            at.dfs->jvm, at.context, at.env, kPathClass,
                                            "(Ljava/lang/String;)V", root.get())
                                      : nullptr);
  if (!path) {
    if (root)
      JnlFromException(at.dfs, at.context, nullptr, at.env, "org.apache.hadoop.fs.Path::<init>");
    return false;
  }
  jobject status = nullptr;
  bool allowed = at.call.onObject(&status, fileSystem, kFileSystem, "getFileStatus",
                                  "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/FileStatus;",
                                  path.get());
  LocalRef<jobject> statusRef(at.env, status);
  if (!allowed) at.call.report("FileSystem::getFileStatus");
  return allowed;
}

Chosen newFileSystem(Connecting &at, jobject uri, jobject configuration) {
  jobject fileSystem = nullptr;
  if (!at.call.onClass(&fileSystem, kFileSystem, "newInstance", kNewInstanceDescriptor, uri,
                       configuration)) {
    at.call.report("org.apache.hadoop.fs.FileSystem::get(URI, Configuration)");
    return {QX_OPERATION_FAILED, nullptr};
  }
  return {0, fileSystem};
}

// A file system the connect made and cannot hand out is closed: it is the connection's own.
void closeFileSystem(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                     jobject fileSystem) {
  JavaCall call(dfs, context, env);
  if (!call.onObject(nullptr, fileSystem, kFileSystem, "close", "()V")) {
    call.report("Filesystem::close");
  }
}

Chosen closedAfterFailure(Connecting &at, jobject fileSystem) {
  LocalRef<jobject> fileSystemRef(at.env, fileSystem);
  closeFileSystem(at.dfs, at.context, at.env, fileSystem);
  return {QX_OPERATION_FAILED, nullptr};
}

// A file system of the login's principal, or of a proxy user it impersonates.
Chosen secureFileSystem(Connecting &at, jobject uri, jobject configuration, jstring user) {
  jobject proxy = nullptr;
  if (!secureUser(at, user, &proxy)) return {QX_OPERATION_FAILED, nullptr};
  if (!proxy) return newFileSystem(at, uri, configuration);
  LocalRef<jobject> proxyRef(at.env, proxy);
  LocalRef<jobject> action(at.env, newInstanceAction(at, uri, configuration));
  if (!action) return {QX_OPERATION_FAILED, nullptr};
  jobject fileSystem = nullptr;
  if (!at.call.onObject(&fileSystem, proxy, kUserGroupInformation, "doAs",
                        "(Ljava/security/PrivilegedExceptionAction;)Ljava/lang/Object;",
                        action.get())) {
    at.call.report("org.apache.hadoop.security.UserGroupInformation::doAs");
    return {QX_OPERATION_FAILED, nullptr};
  }
  if (!impersonationAllowed(at, fileSystem)) return closedAfterFailure(at, fileSystem);
  return {0, fileSystem};
}

// A file system of its own for the connection: the cached instances of FileSystem.get are
// shared, and closing one would close it under every other connection.
Chosen getFileSystem(Connecting &at, jobject uri, jobject configuration, jstring user) {
  if (user) {
    jboolean secured = JNI_FALSE;
    if (!at.call.onClass(&secured, kUserGroupInformation, "isSecurityEnabled", "()Z")) {
      at.call.report("org.apache.hadoop.security.UserGroupInformation::isSecurityEnabled");
      return {QX_OPERATION_FAILED, nullptr};
    }
    if (secured) return secureFileSystem(at, uri, configuration, user);
  }
  jobject fileSystem = nullptr;
  if (!at.call.onClass(&fileSystem, kFileSystem, "newInstance", kGetDescriptor, uri, configuration,
                       user)) {
    at.call.report("org.apache.hadoop.fs.FileSystem::get(URI, Configuration)");
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

Chosen defaultFileSystem(Connecting &at, jobject configuration, jstring user) {
  jobject uri = nullptr;
  if (!at.call.onClass(&uri, kFileSystem, "getDefaultUri",
                       "(Lorg/apache/hadoop/conf/Configuration;)Ljava/net/URI;", configuration)) {
    at.call.report("org.apache.hadoop.fs.FileSystem::getDefaultUri");
    return {QX_OPERATION_FAILED, nullptr};
  }
  LocalRef<jobject> uriRef(at.env, uri);
  return getFileSystem(at, uri, configuration, user);
}

Chosen nameNodeFileSystem(Connecting &at, const QXChar *host, uint16_t port, jobject configuration,
                          jstring user) {
  PoolBlock buffer(at.dfs->pool);
  QXChar *uri = nameNodeUri(at.dfs, at.context, host, port, buffer);
  if (!uri) return {QX_OUT_OF_MEMORY, nullptr};
  LocalRef<jstring> uriString(at.env, javaStringFor(at.dfs, at.context, at.env, uri));
  if (!uriString) return {QX_OPERATION_FAILED, nullptr};
  jobject uriObject = nullptr;
  if (!at.call.onClass(&uriObject, "java/net/URI", "create", "(Ljava/lang/String;)Ljava/net/URI;",
                       uriString.get())) {
    at.call.report("java.net.URI::create");
    return {QX_OPERATION_FAILED, nullptr};
  }
  LocalRef<jobject> uriRef(at.env, uriObject);
  return getFileSystem(at, uriObject, configuration, user);
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
  Connecting at{dfs, context, env, call};
  if (!host || local) return localFileSystem(call, configuration);
  if (byDefault) return defaultFileSystem(at, configuration, user);
  return nameNodeFileSystem(at, host, port, configuration, user);
}

// The connection handle of a file system: a global reference, or NULL after the report.
uint32_t keepConnection(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                        jobject fileSystem, hdfsFS *connection) {
  *connection = env->NewGlobalRef(fileSystem);
  if (*connection) return 0;
  if (env->ExceptionCheck()) env->ExceptionDescribe();
  reportError(context, QX_OUT_OF_MEMORY);
  closeFileSystem(dfs, context, env, fileSystem);
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
