// The exports through which the host kernel starts a module.
#include <cstring>

#include "extframe/extframe.h"
#include "extframe/version_stamp.h"

QX_DLL_ENTRY_POINT

namespace extframe {
QXKernel *loaderRecord = nullptr;
}

extern "C" {

int32_t QX_CALL qxextent(QXKernel *kernel) {
  extframe::loaderRecord = kernel;
  return 0;
}

int32_t QX_CALL qxextver(QXKernel *kernel, int32_t *major, int32_t *minor) {
  if (major) *major = 5;
  if (minor) *minor = 1;
  extframe::loaderRecord = kernel;
  return 0;
}

int32_t QX_CALL qxvercn1(void *buffer) {
  memcpy(buffer, extframe::versionStamp(), sizeof(uintptr_t) * QX_VERSION_STAMP_WORDS);
  return 0;
}
}
