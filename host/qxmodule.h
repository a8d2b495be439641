/* What the host kernel and a module agree on about a module: its exports and the frame of the
 * module record it returns. */
#ifndef QX_HOST_QXMODULE_H
#define QX_HOST_QXMODULE_H

#include "qxhost.h"
#include "qxplatform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* "nevo" in memory order. */
#define QX_MODULE_EYE_CATCHER 0x6F76656Eu
#define QX_VERSION_STAMP_WORDS 26

typedef struct QXModuleFrame {
  QXRecordHeader header; /* eye-catcher; reserved; release, written by the host */
  int32_t (*moduleVersion)(void *record, int32_t *version, int32_t *release, int32_t *modification);
  int32_t (*moduleAttributes)(void *record, int32_t *first, int32_t *second, int32_t *third);
  void *reserved5;
  int32_t (*moduleTerminate)(void *record);
} QXModuleFrame;

typedef int32_t(QX_CALL *QXExtentFunction)(QXKernel *kernel);
typedef int32_t(QX_CALL *QXExtverFunction)(QXKernel *kernel, int32_t *major, int32_t *minor);
typedef int32_t(QX_CALL *QXVercn1Function)(void *buffer);
typedef void *(QX_CALL *QXModuleEntryFunction)(QXKernel *kernel, QXMessageContext *context);

#ifdef __cplusplus
}
#endif

#endif
