// The standard slots of the module record and the helpers both modules use.
#include <cstdarg>
#include <cstring>

#include "extframe/extframe.h"
#include "host/qxlayout.h"

namespace extframe {

// The host reads the standard words of every module record by position.
QX_LAYOUT(offsetof(QXModuleFrame, header.eyeCatcher) == 0 &&
              offsetof(QXModuleFrame, header.release) == 2 * QX_WORD &&
              offsetof(QXModuleFrame, moduleVersion) == 3 * QX_WORD &&
              offsetof(QXModuleFrame, moduleAttributes) == 4 * QX_WORD &&
              offsetof(QXModuleFrame, moduleTerminate) == 6 * QX_WORD &&
              sizeof(QXModuleFrame) == 7 * QX_WORD,
          "module record: eye-catcher word 0, release 2, standard slots 3, 4 and 6, state from 7");
QX_LAYOUT(QX_VERSION_STAMP_WORDS == 26, "version stamp is 26 words");
QX_LAYOUT_32(sizeof(uintptr_t) * QX_VERSION_STAMP_WORDS == 104, "version stamp is 104 bytes");

int32_t reportStatus(QXMessageContext *context, int32_t severity, uint32_t code, ...) {
  if (!context) return static_cast<int32_t>(QX_MISSING_ARGUMENT);
  va_list arguments;
  va_start(arguments, code);
  int32_t result = context->reportStatus(context, severity, code, arguments);
  va_end(arguments);
  return result;
}

size_t byteLength(const char *text) {
  return text ? strlen(text) : 0;
}

int32_t moduleVersion(void *, int32_t *version, int32_t *release, int32_t *modification) {
  *version = 5;
  *release = 1;
  *modification = 1;
  return 0;
}

int32_t moduleAttributes(void *, int32_t *first, int32_t *second, int32_t *third) {
  *first = 1;
  *second = 0;
  *third = 0;
  return 0;
}

void *newModuleRecord(QXKernel *kernel, QXMessageContext *context, const char *poolName,
                      size_t size, QXPool **pool) {
  QXPoolAttributes attributes = {};
  *pool = kernel->createPool(kernel, &attributes, 0, poolName);
  if (!*pool) return nullptr;
  void *record = (*pool)->allocate(*pool, size, QX_ZERO_FILL);
  if (!record) {
    reportError(context, QX_OUT_OF_MEMORY);
    (*pool)->header.release(*pool);
    *pool = nullptr;
  }
  return record;
}

void completeFrame(QXModuleFrame *frame, int32_t (*terminate)(void *record)) {
  frame->moduleVersion = moduleVersion;
  frame->moduleAttributes = moduleAttributes;
  frame->moduleTerminate = terminate;
  frame->header.eyeCatcher = QX_MODULE_EYE_CATCHER;
}

}  // namespace extframe
