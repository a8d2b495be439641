// The entry frame both modules share: the exports the host kernel calls, the standard slots of
// the module record and two small helpers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/qxhost.h"
#include "host/qxmodule.h"
#include "host/qxplatform.h"

extern "C" {
QX_EXPORT int32_t QX_CALL qxextent(QXKernel *kernel);
QX_EXPORT int32_t QX_CALL qxextver(QXKernel *kernel, int32_t *major, int32_t *minor);
QX_EXPORT int32_t QX_CALL qxvercn1(void *buffer);
}

namespace extframe {

// The kernel record given to qxextent or qxextver; further extensions are loaded through it.
extern QXKernel *loaderRecord;

// Raises a status code on the message context; every status code of the modules goes here.
int32_t reportStatus(QXMessageContext *context, int32_t severity, uint32_t code, ...);

// reportStatus with severity 4, the severity of every failure.
template <typename... Arguments>
void reportError(QXMessageContext *context, uint32_t code, Arguments... arguments) {
  reportStatus(context, QX_SEVERITY_ERROR, code, arguments...);
}

// Prints a fixed QXChar text (a literal) through the message context's text entry.
template <size_t N, typename... Arguments>
int32_t printText(QXMessageContext *context, int32_t severity, const QXChar (&format)[N],
                  Arguments... arguments) {
  return context->reportText(context, severity, format, static_cast<int32_t>(N - 1), arguments...);
}

// Bytes before the terminating NUL; 0 for NULL.
size_t byteLength(const char *text);

int32_t moduleVersion(void *record, int32_t *version, int32_t *release, int32_t *modification);
int32_t moduleAttributes(void *record, int32_t *first, int32_t *second, int32_t *third);

// The moduleTerminate slot: a NULL record is refused, anything else goes to the teardown.
template <void (*Teardown)(void *record)>
int32_t moduleTerminate(void *record) {
  if (!record) return static_cast<int32_t>(QX_MISSING_ARGUMENT);
  Teardown(record);
  return 0;
}

// Creates the module's pool and allocates its record there, zero-filled. No pool: NULL without
// a message; no record: 0x803FC002, the pool is destroyed and NULL returned.
void *newModuleRecord(QXKernel *kernel, QXMessageContext *context, const char *poolName,
                      size_t size, QXPool **pool);

// Writes the eye-catcher and the standard slots: the last step before the entry returns.
void completeFrame(QXModuleFrame *frame, int32_t (*terminate)(void *record));

}  // namespace extframe
