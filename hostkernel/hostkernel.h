// The project's own implementation of the host kernel: the records of host/ backed by real
// pools, mutexes, iconv transcoders, a module loader and an in-process JVM, plus the accounting
// and fault injection that tests use to check that nothing is left behind.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/qxhost.h"
#include "host/qxjni.h"

#if defined(_WIN32)
#define QXHOST_API __declspec(dllexport)
#else
#define QXHOST_API __attribute__((visibility("default")))
#endif

namespace hostkernel {

// The process-wide kernel record handed to modules.
QXHOST_API QXKernel *kernel();

// Live objects the host has handed out and not yet had back.
struct Counters {
  int64_t pools = 0;
  int64_t blocks = 0;
  int64_t bytes = 0;
  int64_t mutexes = 0;
  int64_t extensions = 0;  // host extensions and loaded modules
  int64_t attachedThreads = 0;
  int64_t ioObjects = 0;  // open files, directories, entries, file information, string services
};
QXHOST_API Counters liveCounters();

// Places where a failure can be injected.
enum class Fault {
  Allocation,          // pool allocate/reallocate; name: the pool's name
  MutexCreation,       // name: the mutex's name
  ExtensionLoad,       // name: the extension's name
  TranscoderCreation,  // name: "FROM->TO", e.g. "20->25"
  Conversion,          // name: "FROM->TO"
  JvmObtain,
  ThreadAttach,
  ClassPathAdd,
  JarList,
  ClassPathApply,
  JniCall,       // a JNI function called from module code; name: the function, e.g. "NewString"
  PoolCreation,  // name: the pool's name; an injected Allocation fault of that name fires too
  HostService,   // the configuration services; name: e.g. "openFile", "readEntry", "lookupOption"
};

// Fails the nth matching call from now on (1 = the next one); an empty name matches any.
QXHOST_API void injectFault(Fault fault, int nth, std::string_view name = {});
QXHOST_API void clearFaults();
// Whether an injected fault of this kind is still armed.
QXHOST_API bool faultPending(Fault fault);

// A fault sweep on the calling thread: from now on every fault point it passes, of any kind, is
// counted, and the one numbered failAt (1 = the next) fails; 0 only counts. Stopping returns the
// number of points passed.
QXHOST_API void startFaultSweep(int64_t failAt);
QXHOST_API int64_t stopFaultSweep();
// The point the calling thread's last sweep failed, as "Kind:name", or empty.
QXHOST_API std::string sweptFault();

// The next call of a JNI function from module code, on any thread, waits in it: a test can act
// while another thread is inside an operation. waitForHeldJniCall returns once a thread waits
// (false after a minute); releaseHeldJniCall lets it go on.
QXHOST_API void holdNextJniCall(std::string_view function);
QXHOST_API bool waitForHeldJniCall();
QXHOST_API void releaseHeldJniCall();

// Global references the modules' code made since the JNI functions were first interposed
// (this call interposes them) and has not deleted: compare two readings.
QXHOST_API int64_t liveGlobalReferences();

// Counts the Java calls (methods and constructors) module code makes while its thread holds a
// host mutex of this name, from now on; an empty name stops counting. The count made so far.
QXHOST_API void watchJavaCallsUnder(std::string_view mutexName);
QXHOST_API int64_t javaCallsUnderWatchedMutex();

// Thread ids of ended threads are handed to new threads, lowest first, as some hosts do.
QXHOST_API void reuseThreadIds(bool reuse);

// One report as the message context received it.
struct Report {
  int32_t severity = 0;
  uint32_t code = 0;                   // 0 for a text report
  std::vector<std::string> arguments;  // each argument rendered as UTF-8
  std::string line;                    // the rendered line, without newline

  // Status reports compare by severity, code and arguments; text reports by severity and line.
  bool operator==(const Report &other) const {
    if (severity != other.severity || code != other.code) return false;
    return code ? arguments == other.arguments : line == other.line;
  }
};

// A message context that renders every report as a readable line on its sink and keeps it.
class QXHOST_API MessageContext {
 public:
  explicit MessageContext(FILE *sink = stderr);
  ~MessageContext();
  MessageContext(const MessageContext &) = delete;
  MessageContext &operator=(const MessageContext &) = delete;

  QXMessageContext *get();
  std::vector<Report> reports() const;
  std::vector<std::string> lines() const;
  void clear();
  void setSink(FILE *sink);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// A status report as tests expect it.
QXHOST_API Report statusReport(int32_t severity, uint32_t code,
                               std::vector<std::string> arguments = {});
// A text report as tests expect it.
QXHOST_API Report textReport(int32_t severity, std::string line);

// The catalogue text of a status code, or empty when unknown.
QXHOST_API std::string catalogueText(uint32_t code);

// JNI warnings the JVM printed (-Xcheck:jni) since the last call; the count is reset.
QXHOST_API int takeJniWarnings();
// Keeps the JVM's own print-out (other than JNI warnings) off the terminal while set.
QXHOST_API void quietJvmOutput(bool quiet);

// The options every JVM that runs Hadoop on JDK 17 needs (module openings).
QXHOST_API std::vector<std::string> hadoopJvmOptions();

// Where jar list files and their relative entries are looked up: QXHOST_JAR_ROOT, else the
// build's own jar root.
QXHOST_API std::string jarRoot();

// The JVM, created on first use; NULL when it cannot be created.
QXHOST_API JavaVM *javaVm();

// The version stamp (QX_VERSION_STAMP_WORDS words) a loaded module gave at its start.
QXHOST_API bool versionStampOf(const void *moduleRecord, uintptr_t *stamp);

// UTF-8 <-> QXChar text for tools and tests; what is not text becomes U+FFFD.
QXHOST_API std::u16string toQXChar(std::string_view utf8);
QXHOST_API std::string fromQXChar(std::u16string_view text);
// The same, refusing (false) what is not text: bytes that are not UTF-8 (over-long forms and
// encoded surrogates included), or a lone surrogate. For names, where a stand-in character
// would name another file.
QXHOST_API bool utf8ToQXChar(std::string_view utf8, std::u16string &out);
QXHOST_API bool qxcharToUtf8(std::u16string_view text, std::string &out);

}  // namespace hostkernel
