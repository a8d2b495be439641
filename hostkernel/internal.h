// What the parts of the host kernel implementation share with each other.
#pragma once

#include <atomic>
#include <cstdarg>
#include <string>
#include <string_view>

#include "hostkernel/hostkernel.h"

namespace hostkernel {

struct LiveCounters {
  std::atomic<int64_t> pools{0};
  std::atomic<int64_t> blocks{0};
  std::atomic<int64_t> bytes{0};
  std::atomic<int64_t> mutexes{0};
  std::atomic<int64_t> extensions{0};
  std::atomic<int64_t> attachedThreads{0};
  std::atomic<int64_t> ioObjects{0};
};
LiveCounters &live();

// True when an injected fault fires for this call (and counts it down otherwise).
bool shouldFail(Fault fault, std::string_view name = {});
// Whether any fault or sweep could fire now (cheap).
bool anyFaultArmed();
// Puts the JNI function table's fault points in place, once the JVM runs.
void interposeJniFunctions();
// Whether code at an address belongs to a module the loader loaded.
bool isModuleCode(void *address);
// The JVM if it was created, without creating it.
JavaVM *createdJvm();

// Whether the calling thread holds a host mutex of this name; known only of the mutexes locked
// while tracking is on.
void trackHeldMutexes(bool track);
bool holdsMutexNamed(std::string_view name);

// Reports a status code on a context that may be NULL.
void report(QXMessageContext *context, int32_t severity, uint32_t code, ...);

// Renders a host-format text (narrow or QXChar) with its arguments; each argument's rendering is
// appended to renderedArguments when given.
std::string formatNarrow(std::string_view format, va_list arguments,
                         std::vector<std::string> *renderedArguments);
std::string formatQXChar(std::u16string_view format, va_list arguments,
                         std::vector<std::string> *renderedArguments);

// Length of a NUL-terminated QXChar text.
size_t qxLength(const QXChar *text);

QXPool *createPool(QXKernel *kernel, const QXPoolAttributes *attributes, int32_t reserved,
                   const char *name);
QXMutex *createMutex(QXKernel *kernel, const QXMutexAttributes *attributes,
                     QXMessageContext *context, const char *name);
uint32_t currentThreadId(QXKernel *kernel);
void *loadExtension(QXKernel *kernel, const QXChar *name, int32_t length,
                    QXMessageContext *context);
QXNls *nlsService();
QXLocale *localeService();
uint32_t lookupOption(QXKernel *kernel, const QXChar *name, int32_t nameUnits, int32_t kind,
                      void *value, int32_t *capacity);
int32_t qxzinfo(int32_t kind, QXZinfoRequest *request, uint32_t flags);
void *newExmlExtension();
void *newIoeExtension();
QXJniExtension *newJniExtension();
std::string moduleDirectory();
std::string hostLibraryPath();
std::string hostLibraryDirectory();

}  // namespace hostkernel
