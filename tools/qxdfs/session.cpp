#include "tools/qxdfs/session.h"

#include <cstdio>
#include <cstdlib>

#include "extframe/guards.h"

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

// The cause of a failure as the file system stated it: the Java exception's own text when one
// was reported, else the first report.
std::string causeOf(const std::vector<hostkernel::Report> &reports) {
  for (size_t i = 0; i < reports.size(); i++) {
    if (reports[i].code || !startsWith(reports[i].line, "ERROR: Call to method")) continue;
    for (size_t j = i + 1; j < reports.size(); j++) {
      if (reports[j].code || reports[j].severity != QX_SEVERITY_PLAIN) continue;
      // "java.io.SomeException: what happened", perhaps with the server's stack after it
      std::string text = reports[j].line.substr(0, reports[j].line.find('\n'));
      size_t colon = text.find(": ");
      return colon == std::string::npos ? text : text.substr(colon + 2);
    }
  }
  return reports.empty() ? "failed" : bareLine(reports.front());
}

// Java's own print-out of the exceptions it describes, off the terminal.
void silenceJavaErrors(JNIEnv *env) {
  LocalRef<jclass> streams(env, env->FindClass("java/io/OutputStream"));
  LocalRef<jclass> printStream(env, env->FindClass("java/io/PrintStream"));
  LocalRef<jclass> system(env, env->FindClass("java/lang/System"));
  if (!streams || !printStream || !system) {
    env->ExceptionClear();
    return;
  }
  LocalRef<jobject> sink(
      env, env->CallStaticObjectMethod(streams.get(),
                                       env->GetStaticMethodID(streams.get(), "nullOutputStream",
                                                              "()Ljava/io/OutputStream;")));
  LocalRef<jobject> quiet(env, sink ? env->NewObject(printStream.get(),
                                                     env->GetMethodID(printStream.get(), "<init>",
                                                                      "(Ljava/io/OutputStream;)V"),
                                                     sink.get())
                                    : nullptr);
  if (quiet) {
    env->CallStaticVoidMethod(
        system.get(), env->GetStaticMethodID(system.get(), "setErr", "(Ljava/io/PrintStream;)V"),
        quiet.get());
  }
  if (env->ExceptionCheck()) env->ExceptionClear();
}

}  // namespace

bool parseTarget(const std::string &text, Target &target) {
  target = Target{};
  target.name = text;
  if (text == "local" || text == "default") {
    target.host = qx(text);
    return true;
  }
  if (text == "file:///" || text == "file://" || text == "file:") {
    target.host = u"local";
    return true;
  }
  const std::string scheme = "hdfs://";
  if (!startsWith(text, scheme)) return false;
  std::string authority = text.substr(scheme.size());
  if (!authority.empty() && authority.back() == '/') authority.pop_back();
  size_t colon = authority.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  char *end = nullptr;
  long port = strtol(authority.c_str() + colon + 1, &end, 10);
  if (*end || port < 1 || port > 65535) return false;
  target.host = qx(authority.substr(0, colon));
  target.port = static_cast<uint16_t>(port);
  return true;
}

Location parseLocation(const std::string &text) {
  Location location;
  location.path = text;
  if (startsWith(text, "file://")) {
    location.ownTarget = parseTarget("file:///", location.target);
    location.path = text.substr(std::string("file://").size());
  } else if (startsWith(text, "hdfs://")) {
    size_t slash = text.find('/', std::string("hdfs://").size());
    std::string authority = slash == std::string::npos ? text : text.substr(0, slash);
    location.ownTarget = parseTarget(authority, location.target);
    location.path = slash == std::string::npos ? "/" : text.substr(slash);
  }
  return location;
}

Session::Session(bool verbose) : verbose_(verbose) {
  hostkernel::quietJvmOutput(!verbose);
}

Session::~Session() {
  for (hdfsFS fs : connections_) dfs_->operations.hdfsDisconnect(dfs_, context(), fs);
  if (dfs_) dfs_->frame.header.release(dfs_);
}

bool Session::start() {
  QXKernel *kernel = hostkernel::kernel();
  dfs_ = static_cast<DfsLinkState *>(kernel->loadExtension(kernel, u"dfslink", 7, context()));
  if (!dfs_) {
    fail("start", "dfslink");
    return false;
  }
  BridgeState *bridge = dfs_->jvm;
  if (bridge->operations.haddpaths(bridge, context(), nullptr) != 0) {
    fail("start", "class path");
    return false;
  }
  if (!verbose_) silenceJavaErrors(bridge->operations.getJNIEnv(bridge, context()));
  return true;
}

hdfsFS Session::connect(const Target &target, const std::string &user) {
  std::u16string qxUser = qx(user);
  hdfsFS fs = nullptr;
  int32_t result = ops().hdfsConnectAsUser(dfs_, context(), target.host.c_str(), target.port,
                                           user.empty() ? nullptr : qxUser.c_str(), &fs);
  if (result != 0 || !fs) {
    fail("connect", target.name);
    return nullptr;
  }
  forget();  // the note of an ignored port is not a failure
  connections_.push_back(fs);
  return fs;
}

void Session::fail(const std::string &command, const std::string &subject) {
  std::vector<hostkernel::Report> reports = messages_.reports();
  if (verbose_) {
    for (const hostkernel::Report &report : reports) fprintf(stderr, "%s\n", report.line.c_str());
  }
  fprintf(stderr, "qxdfs: %s: %s: %s\n", command.c_str(), subject.c_str(),
          causeOf(reports).c_str());
  forget();
}

}  // namespace qxdfs
