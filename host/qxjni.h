/* The host extension that owns the JVM. */
#ifndef QX_HOST_QXJNI_H
#define QX_HOST_QXJNI_H

#include <jni.h>

#include "qxhost.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct QXJniExtension QXJniExtension;
struct QXJniExtension {
  QXRecordHeader header;
  /* Nonzero once a JVM is ready. */
  intptr_t (*obtainJvm)(QXJniExtension *jni, int32_t reserved1, int32_t reserved2, int32_t create);
  /* The handle is the extension record itself. */
  int32_t (*attachThread)(QXJniExtension *jni, QXJniExtension *handle, JNIEnv **environment,
                          int32_t reserved1, int32_t reserved2);
  void (*releaseThread)(QXJniExtension *jni, QXJniExtension *handle, JNIEnv *environment);
  /* Jar file or directory; 0 on success. */
  int32_t (*addClassPathItem)(QXJniExtension *jni, JNIEnv *environment, const char *item);
  /* A file of jar paths under the jar root; 0, or a status code. */
  int32_t (*readJarListFile)(QXJniExtension *jni, JNIEnv *environment, const char *fileName);
  /* 0 done, -1 nothing to do, > 0 failure. */
  int32_t (*applyClassPath)(QXJniExtension *jni, JNIEnv *environment);
};

#ifdef __cplusplus
}
#endif

#endif
