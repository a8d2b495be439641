#include "tools/qxdfs/session.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "extframe/guards.h"
#include "tools/qxdfs/java.h"
#include "tools/qxdfs/output.h"

namespace qxdfs {
namespace {

using extframe::LocalRef;

bool startsWith(const std::string &text, const std::string &prefix) {
  return text.rfind(prefix, 0) == 0;
}

// A report's line without the severity prefix and the code that ends it.
std::string bareLine(const hostkernel::Report &report) {
  std::string line = report.line;
  for (const char *prefix : {"ERROR: ", "WARNING: ", "NOTE: "}) {
    if (startsWith(line, prefix)) line = line.substr(std::string(prefix).size());
  }
  size_t code = line.rfind(" (0x");
  if (report.code && code != std::string::npos) line = line.substr(0, code);
  return line;
}

// The cause of a failure as the file system stated it: the Java exception's own text (its first
// line) when one was reported, else the first report.
std::string causeOf(const std::vector<hostkernel::Report> &reports, bool &thrown) {
  thrown = false;
  for (size_t i = 0; i < reports.size(); i++) {
    if (reports[i].code || !startsWith(reports[i].line, "ERROR: Call to method")) continue;
    for (size_t j = i + 1; j < reports.size(); j++) {
      if (reports[j].code || reports[j].severity != QX_SEVERITY_PLAIN) continue;
      // "java.io.SomeException: what happened", perhaps with the server's stack after it
      std::string text = reports[j].line.substr(0, reports[j].line.find('\n'));
      size_t colon = text.find(": ");
      thrown = true;
      return colon == std::string::npos ? text : text.substr(colon + 2);
    }
  }
  return reports.empty() ? "failed" : bareLine(reports.front());
}

// Whether Hadoop's client said it has no Kerberos ticket (none, expired or destroyed).
bool lacksCredentials(std::string_view line) {
  for (const char *said : {"Client cannot authenticate via", "Failed to find any Kerberos tgt",
                           "GSS initiate failed", "No valid credentials provided"}) {
    if (line.find(said) != std::string_view::npos) return true;
  }
  return false;
}

// Java's own print-out of the exceptions it describes, off the terminal.
void silenceJavaErrors(JNIEnv *env) {
  LocalRef<jclass> streams(env, env->FindClass("java/io/OutputStream"));
  LocalRef<jclass> printStream(env, streams ? env->FindClass("java/io/PrintStream") : nullptr);
  LocalRef<jclass> system(env, printStream ? env->FindClass("java/lang/System") : nullptr);
  jmethodID nullStream =
      system ? env->GetStaticMethodID(streams.get(), "nullOutputStream", "()Ljava/io/OutputStream;")
             : nullptr;
  LocalRef<jobject> sink(
      env, nullStream ? env->CallStaticObjectMethod(streams.get(), nullStream) : nullptr);
  jmethodID make = !env->ExceptionCheck() && sink
                       ? env->GetMethodID(printStream.get(), "<init>", "(Ljava/io/OutputStream;)V")
                       : nullptr;
  LocalRef<jobject> quiet(env,
                          make ? env->NewObject(printStream.get(), make, sink.get()) : nullptr);
  jmethodID setErr =
      !env->ExceptionCheck() && quiet
          ? env->GetStaticMethodID(system.get(), "setErr", "(Ljava/io/PrintStream;)V")
          : nullptr;
  if (setErr) env->CallStaticVoidMethod(system.get(), setErr, quiet.get());
  if (env->ExceptionCheck()) env->ExceptionClear();
}

jstring javaText(JNIEnv *env, std::u16string_view text) {
  return env->NewString(reinterpret_cast<const jchar *>(text.data()),
                        static_cast<jsize>(text.size()));
}

// Calls a static method with text arguments; its result (a local reference) is let go.
void callStatic(Session &session, const char *className, const char *method, const char *descriptor,
                std::u16string_view first, std::u16string_view second) {
  BridgeState *bridge = session.dfs()->jvm;
  JNIEnv *env = bridge->operations.getJNIEnv(bridge, session.context());
  if (!env) return;
  LocalRef<jstring> one(env, javaText(env, first));
  LocalRef<jstring> two(env, second.empty() ? nullptr : javaText(env, second));
  jobject result = nullptr;
  if (one.get() && (second.empty() || two.get())) {
    bridge->operations.invokeMethod(bridge, session.context(), env, &result, nullptr,
                                    JVMLINK_STATIC, nullptr, className, 0, method, descriptor,
                                    one.get(), two.get());
  }
  if (result) env->DeleteLocalRef(result);
  if (env->ExceptionCheck()) env->ExceptionClear();
}

}  // namespace

std::string parseTarget(const std::string &text, Target &target) {
  target = Target{};
  target.name = text;
  if (text == "local" || text == "default") {
    target.host = qx(text);
    return "";
  }
  if (text == "file:///" || text == "file://" || text == "file:") {
    target.host = u"local";
    return "";
  }
  const std::string scheme = "hdfs://";
  if (!startsWith(text, scheme)) {
    return "not a file system (local, default, embedded, hdfs://HOST[:PORT] or file:///)";
  }
  std::string authority = text.substr(scheme.size());
  if (!authority.empty() && authority.back() == '/') authority.pop_back();
  size_t colon = authority.rfind(':');
  std::string host = authority.substr(0, colon);
  if (host.empty() || host.find_first_of("/@") != std::string::npos) return "no host name";
  long port = kNameNodePort;
  if (colon != std::string::npos) {
    std::string digits = authority.substr(colon + 1);
    char *end = nullptr;
    port = digits.empty() ? 0 : strtol(digits.c_str(), &end, 10);
    if (digits.empty() || *end || port < 1 || port > 65535) return "the port must be 1 to 65535";
  }
  target.host = qx(host);
  target.port = static_cast<uint16_t>(port);
  return "";
}

Location parseLocation(const std::string &text) {
  Location location;
  location.path = text;
  if (startsWith(text, "file://")) {
    location.error = parseTarget("file:///", location.target);
    location.path = text.substr(std::string("file://").size());
    location.ownTarget = true;
  } else if (startsWith(text, "hdfs://")) {
    size_t slash = text.find('/', std::string("hdfs://").size());
    std::string authority = slash == std::string::npos ? text : text.substr(0, slash);
    location.error = parseTarget(authority, location.target);
    location.path = slash == std::string::npos ? "/" : text.substr(slash);
    location.ownTarget = true;
  }
  return location;
}

namespace {
thread_local hostkernel::MessageContext *threadMessages = nullptr;
}  // namespace

Session::ThreadMessages::ThreadMessages() {
  threadMessages = &own_;
}

Session::ThreadMessages::~ThreadMessages() {
  threadMessages = nullptr;
}

hostkernel::MessageContext &Session::messages() {
  return threadMessages ? *threadMessages : messages_;
}

Session::Session(bool verbose) : verbose_(verbose) {
  hostkernel::quietJvmOutput(!verbose);
}

Session::~Session() {
  for (hdfsFS fs : connections_) dfs_->operations.hdfsDisconnect(dfs_, context(), fs);
  if (optionsPool_) optionsPool_->header.release(optionsPool_);
  if (dfs_) dfs_->frame.header.release(dfs_);  // the option texts go with the module's pool
}

bool Session::start() {
  QXKernel *kernel = hostkernel::kernel();
  dfs_ = static_cast<DfsLinkState *>(kernel->loadExtension(kernel, u"dfslink", 7, context()));
  if (!dfs_) {
    fail("start", "dfslink");
    return false;
  }
  return true;
}

// Hadoop's log lines keep the stderr the JVM started with (the binding takes it when it starts,
// here); Java's own print-out of exceptions is silenced after that unless --verbose, which also
// raises the log level to information.
void Session::startLogging() {
  const char *system = "java/lang/System";
  const char *setProperty = "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;";
  callStatic(*this, system, "setProperty", setProperty, u"org.slf4j.simpleLogger.cacheOutputStream",
             u"true");
  if (verbose_) {
    callStatic(*this, system, "setProperty", setProperty, u"org.slf4j.simpleLogger.defaultLogLevel",
               u"info");
  } else {
    // Their warnings of a refused connection (no Kerberos ticket, say) or of a file system that
    // could not be made (an unknown host) repeat, some with a whole stack, what the failure's
    // own line says.
    for (const char16_t *logger : {u"org.slf4j.simpleLogger.log.org.apache.hadoop.ipc.Client",
                                   u"org.slf4j.simpleLogger.log.org.apache.hadoop.fs.FileSystem"}) {
      callStatic(*this, system, "setProperty", setProperty, logger, u"error");
    }
  }
  callStatic(*this, "org/slf4j/LoggerFactory", "getLogger",
             "(Ljava/lang/String;)Lorg/slf4j/Logger;", u"qxdfs", u"");
  forget();  // without the binding on the class path, Hadoop's logging stays silent
  BridgeState *bridge = dfs_->jvm;
  if (!verbose_) silenceJavaErrors(bridge->operations.getJNIEnv(bridge, context()));
}

// The document first: its classpaths element starts the list afresh, and the environment's
// entries come after its own.
bool Session::loadOptions(const std::string &directory) {
  QXKernel *kernel = hostkernel::kernel();
  QXPoolAttributes attributes = {};
  optionsPool_ = kernel->createPool(kernel, &attributes, 0, "QXDFS Pool");
  if (!optionsPool_) return false;
  std::u16string path = qx(directory);
  if (ops().loadXmlOptions(dfs_, context(), optionsPool_, path.c_str(),
                           static_cast<int32_t>(path.size() * sizeof(QXChar)), &options_) != 0) {
    fail("options", directory + "/xmlopts.xml");
    return false;
  }
  if (uint32_t status = ops().loadEnvPaths(dfs_, context(), optionsPool_, &options_)) {
    if (!reported()) fprintf(stderr, "qxdfs: options: environment: status 0x%08X\n", status);
    if (reported()) fail("options", "environment");
    return false;
  }
  optionsRead_ = true;
  return true;
}

// The jars the installation's lists name: kept as the class path the compiler is given.
ClassPathList Session::jarListClassPath() {
  for (const char *list : {"hadoopbasics/hadoopwrapr.txt", "hadoop/hdoopzeljars.txt"}) {
    std::ifstream in(hostkernel::jarRoot() + "/" + list);
    for (std::string line; std::getline(in, line);) {
      if (line.empty() || line[0] == '#') continue;
      jarText_ += line + '\0';
      jarLengths_.push_back(static_cast<int32_t>(line.size() + 1));
    }
  }
  return ClassPathList{jarText_.data(), jarLengths_.data(),
                       static_cast<int32_t>(jarLengths_.size()),
                       static_cast<int32_t>(jarText_.size()), 0};
}

bool Session::addClassPath(const std::vector<std::string> &directories,
                           const std::vector<std::string> &resources) {
  BridgeState *bridge = dfs_->jvm;
  // The installation's jar lists may be missing when the options give the class path.
  options_.classPath.flags |= CLASS_PATH_WARN_JAR_LISTS;
  ClassPathList jars = jarListClassPath();
  int32_t status =
      bridge->operations.haddpaths(bridge, context(), optionsRead_ ? &options_.classPath : &jars);
  for (size_t i = 0; status == 0 && i < directories.size(); i++) {
    status = bridge->operations.haddpath(bridge, context(), directories[i].c_str());
  }
  if (status != 0) {
    fail("start", "class path");
    return false;
  }
  forget();
  startLogging();
  return addResources(resources);
}

bool Session::addResources(const std::vector<std::string> &resources) {
  if (resources.empty()) return true;
  Java java(*this);
  // HDFS's own defaults and site file are added when its classes load: first, so that what is
  // added here comes after them and wins.
  java.callStatic("org/apache/hadoop/hdfs/HdfsConfiguration", "init", "()V");
  forget();
  Java adding(*this);
  for (const std::string &name : resources) {
    LocalRef<jstring> text = adding.string(name);
    adding.callStatic("org/apache/hadoop/conf/Configuration", "addDefaultResource",
                      "(Ljava/lang/String;)V", text.get());
  }
  if (adding) return true;
  fprintf(stderr, "qxdfs: configuration: %s\n", adding.error().c_str());
  return false;
}

namespace {
const char kUgi[] = "org/apache/hadoop/security/UserGroupInformation";
const char kReturnsUgi[] = "()Lorg/apache/hadoop/security/UserGroupInformation;";
}  // namespace

bool Session::logIn(const std::string &principal, const std::string &keytab) {
  Java java(*this);
  if (java && !java.valueStatic<jboolean>(kUgi, "isSecurityEnabled", "()Z")) {
    fprintf(stderr,
            "qxdfs: --keytab %s: the file system does not use Kerberos "
            "(hadoop.security.authentication is simple); not used\n",
            keytab.c_str());
    return static_cast<bool>(java);
  }
  LocalRef<jstring> name = java.string(principal);
  LocalRef<jstring> file = java.string(keytab);
  java.callStatic(kUgi, "loginUserFromKeytab", "(Ljava/lang/String;Ljava/lang/String;)V",
                  name.get(), file.get());
  if (!java) {
    fprintf(stderr, "qxdfs: login: %s: %s\n", principal.c_str(), java.error().c_str());
    return false;
  }
  return true;
}

bool Session::actAs(const std::string &user) {
  Java java(*this);
  LocalRef<jobject> login = java.callStatic(kUgi, "getLoginUser", kReturnsUgi);
  LocalRef<jobject> loginName =
      java.call(login.get(), kUgi, "getShortUserName", "()Ljava/lang/String;");
  if (java && java.text(loginName.get()) == user) return true;
  LocalRef<jstring> name = java.string(user);
  bool secure = java.valueStatic<jboolean>(kUgi, "isSecurityEnabled", "()Z");
  LocalRef<jobject> acting =
      secure ? java.callStatic(kUgi, "createProxyUser",
                               "(Ljava/lang/String;Lorg/apache/hadoop/security/"
                               "UserGroupInformation;)Lorg/apache/hadoop/security/"
                               "UserGroupInformation;",
                               name.get(), login.get())
             : java.callStatic(kUgi, "createRemoteUser",
                               "(Ljava/lang/String;)Lorg/apache/hadoop/security/"
                               "UserGroupInformation;",
                               name.get());
  java.callStatic(kUgi, "setLoginUser", "(Lorg/apache/hadoop/security/UserGroupInformation;)V",
                  acting.get());
  if (!java) fprintf(stderr, "qxdfs: --user %s: %s\n", user.c_str(), java.error().c_str());
  return static_cast<bool>(java);
}

hdfsFS Session::connect(const Target &target, const std::string &user, std::string *cause) {
  std::string key = utf8(target.host) + ":" + std::to_string(target.port) + "\n" + user;
  auto known = connected_.find(key);
  if (known != connected_.end()) return known->second;
  fsName_ = target.name;
  std::u16string qxUser = qx(user);
  hdfsFS fs = nullptr;
  int32_t result = ops().hdfsConnectAsUser(dfs_, context(), target.host.c_str(), target.port,
                                           user.empty() ? nullptr : qxUser.c_str(), &fs);
  if ((result != 0 || !fs) && cause) {
    bool thrown = false;
    *cause = takeCause(thrown);
  }
  if (result != 0 || !fs) {
    if (!cause) fail("connect", target.name);
    return nullptr;
  }
  forget();  // the note of an ignored port is not a failure
  connections_.push_back(fs);
  connected_[key] = fs;
  return fs;
}

std::string Session::uriOf(hdfsFS fs) {
  auto known = uris_.find(fs);
  if (known != uris_.end()) return known->second;
  Java java(*this);
  LocalRef<jobject> uri =
      java.call(fs, "org/apache/hadoop/fs/FileSystem", "getUri", "()Ljava/net/URI;");
  LocalRef<jobject> text = java.call(uri.get(), "java/net/URI", "toString", "()Ljava/lang/String;");
  std::string named = java.text(text.get());
  forget();
  return uris_[fs] = named;
}

bool Session::isLocal(hdfsFS fs) {
  return uriOf(fs).rfind("file:", 0) == 0;
}

void Session::printListing() const {
  for (const hostkernel::Report &report : messages_.reports()) {
    if (!report.code && report.severity == QX_SEVERITY_PLAIN) {
      fprintf(stderr, "%s\n", report.line.c_str());
    }
  }
}

std::string Session::takeCause(bool &thrown) {
  std::vector<hostkernel::Report> reports = messages().reports();
  if (verbose_) {
    for (const hostkernel::Report &report : reports) fprintf(stderr, "%s\n", report.line.c_str());
  }
  std::string cause = causeOf(reports, thrown);
  for (const hostkernel::Report &report : reports) {
    if (lacksCredentials(report.line)) {
      cause = credentialsCause(report.line);
      thrown = true;
    }
  }
  forget();
  return cause;
}

std::string Session::credentialsCause(std::string_view said) const {
  if (!lacksCredentials(said)) return "";
  return "no Kerberos credentials for " + fsName_ + ": run kinit or give --keytab";
}

void Session::fail(const std::string &command, const std::string &subject) {
  bool thrown = false;
  std::string cause = takeCause(thrown);
  // Hadoop's shell prints an exception's own message, and quotes the path of its own causes.
  if (thrown) {
    fprintf(stderr, "%s: %s\n", command.c_str(), cause.c_str());
  } else {
    fprintf(stderr, "%s: `%s': %s\n", command.c_str(), subject.c_str(), cause.c_str());
  }
}

}  // namespace qxdfs

namespace qxdfs {

void printOptions(const OptionsRecord &options, bool json) {
  auto text = [](const QXChar *value) { return value ? utf8(value) : std::string(); };
  const std::pair<const char *, const QXChar *> texts[] = {
      {"javaWorkPath", options.javaWorkPath},
      {"javaBootstrapPath", options.javaBootstrapPath},
      {"zelJavaVersion", options.zelJavaVersion},
      {"hadoopJavaVersion", options.hadoopJavaVersion},
      {"hdfsWorkPath", options.hdfsWorkPath},
      {"hdfsWorkingDir", options.hdfsWorkingDir},
      {"hdfsHost", options.hdfsHost},
      {"hdfsUser", options.hdfsUser}};
  const std::pair<uint32_t, const char *> bits[] = {
      {OPTIONS_COMBINE_SPLITS, "combinesplits"},  {OPTIONS_DEBUG_OBS, "debug-obs"},
      {OPTIONS_DEBUG_SPLIT, "debug-split"},       {OPTIONS_KEEP_JAVA_WORK, "keep-java-work"},
      {OPTIONS_KEEP_HDFS_WORK, "keep-hdfs-work"}, {OPTIONS_WHERE_OPTIMIZED, "whereopt"}};
  std::vector<std::string> set, items;
  for (const auto &[bit, name] : bits) {
    if (options.optionFlags & bit) set.push_back(name);
  }
  const char *item = options.classPath.text;
  for (int32_t i = 0; i < options.classPath.count; item += options.classPath.lengths[i++]) {
    items.push_back(item);
  }
  if (json) {
    auto encoded = [](std::vector<std::string> values) {
      for (std::string &value : values) value = jsonText(value);
      return jsonArray(values);
    };
    printf("{");
    for (const auto &[name, value] : texts) {
      printf("\"%s\":%s,", name, value ? jsonText(text(value)).c_str() : "null");
    }
    printf("\"hdfsPort\":%u,\"optionFlags\":%u,\"options\":%s,\"classPath\":%s}\n",
           options.hdfsPort, options.optionFlags, encoded(set).c_str(), encoded(items).c_str());
    return;
  }
  for (const auto &[name, value] : texts) {
    printf("%s: %s\n", name, value ? text(value).c_str() : "(none)");
  }
  printf("hdfsPort: %u\noptionFlags: 0x%02X", options.hdfsPort, options.optionFlags);
  for (const std::string &name : set) printf(" %s", name.c_str());
  printf("\n");
  printf("classPath: %d items\n", options.classPath.count);
  for (const std::string &path : items) printf("  %s\n", path.c_str());
}

}  // namespace qxdfs
