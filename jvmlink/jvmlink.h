/* The JVM bridge's module record (BridgeState) and operation table, as holders of the record
 * see them. */
#ifndef QX_JVMLINK_JVMLINK_H
#define QX_JVMLINK_JVMLINK_H

#include <jni.h>

#include "host/qxhost.h"
#include "host/qxjni.h"
#include "host/qxmodule.h"

#ifdef __cplusplus
extern "C" {
#endif

/* invokeMethod results. */
#define JVMLINK_CALLED 0
#define JVMLINK_FAILED (-1)
#define JVMLINK_NO_CLASS (-2)
#define JVMLINK_NO_METHOD (-3)

/* Method kinds. */
#define JVMLINK_STATIC 0
#define JVMLINK_INSTANCE 1

/* Class-path items in the compiler's code page, each followed by one separator byte. */
typedef struct ClassPathList {
  char *text;
  int32_t *lengths; /* per item, separator byte included */
  int32_t count;
  int32_t total;  /* bytes of text: the sum of the lengths */
  uint32_t flags; /* CLASS_PATH_WARN_JAR_LISTS: report a failed jar list file as a warning */
} ClassPathList;

#define CLASS_PATH_WARN_JAR_LISTS 1u

/* One host thread's JNI environment. */
typedef struct ThreadEnvEntry {
  uint32_t threadId; /* 0: free */
  JNIEnv *environment;
  uint32_t flags; /* THREAD_CLASS_PATH_APPLIED */
} ThreadEnvEntry;

#define THREAD_CLASS_PATH_APPLIED 2u

/* One cached class: its name (no terminator) and a global reference. */
typedef struct ClassCacheEntry {
  char *key;
  jclass classReference;
  int32_t keyLength; /* also the known capacity of the key block */
  uint32_t flags;    /* CLASS_ENTRY_IN_USE */
} ClassCacheEntry;

#define CLASS_ENTRY_IN_USE 1u

typedef struct BridgeState BridgeState;

typedef struct BridgeOperations {
  int32_t (*invokeMethod)(BridgeState *bridge, QXMessageContext *context, JNIEnv *env, void *result,
                          jthrowable *exception, int32_t kind, jobject object,
                          const char *className, int32_t nonVirtual, const char *methodName,
                          const char *descriptor, ...);
  jobject (*constructNewObjectOfClass)(BridgeState *bridge, QXMessageContext *context, JNIEnv *env,
                                       const char *className, const char *descriptor, ...);
  jmethodID (*methodIdFromClass)(BridgeState *bridge, QXMessageContext *context,
                                 const char *className, const char *methodName,
                                 const char *descriptor, int32_t kind, JNIEnv *env);
  jfieldID (*fieldIdFromClass)(BridgeState *bridge, QXMessageContext *context, JNIEnv *env,
                               const char *className, const char *fieldName, const char *descriptor,
                               int32_t kind);
  jclass (*globalClassReference)(BridgeState *bridge, QXMessageContext *context,
                                 const char *className, JNIEnv *env);
  char *(*classNameOfObject)(BridgeState *bridge, QXMessageContext *context, jobject object,
                             JNIEnv *env);
  JNIEnv *(*getJNIEnv)(BridgeState *bridge, QXMessageContext *context);
  int32_t (*haddpaths)(BridgeState *bridge, QXMessageContext *context, const ClassPathList *list);
  int32_t (*haddpath)(BridgeState *bridge, QXMessageContext *context, const char *item);
  jobjectArray (*constructNewArrayString)(BridgeState *bridge, QXMessageContext *context,
                                          JNIEnv *env, void *ignored, const char *const *texts,
                                          int32_t count);
} BridgeOperations;

struct BridgeState {
  QXModuleFrame frame;
  QXPerfExtension *perfExtension;
  QXNls *nlsService;
  QXJniExtension *jniExtension;
  QXKernel *kernel;
  QXTranscoder *utf8ToQXChar;
  QXTranscoder *qxcharToCompiler;
  QXPool *pool; /* holders free the blocks the bridge hands out with it */
  QXMutex *hashMutex;
  QXMutex *jvmMutex;
  char *classPathText; /* the kept class path, items separated by the path separator */
  int32_t classPathCount;
  int32_t *classPathLengths;
  int32_t cacheReady;
  uint32_t cacheCapacity;
  ClassCacheEntry *cacheEntries;
  intptr_t jvmHandle;
  int32_t threadCapacity;
  int32_t threadCount;
  ThreadEnvEntry *threadEntries;
  BridgeOperations operations;
  /* Private to the bridge: class references the cache could not take, handed out by
   * globalClassReference and kept until teardown, since its callers never delete them. */
  jclass *uncachedClasses;
  int32_t uncachedCount;
  int32_t uncachedCapacity;
  /* Private to the bridge: the lock-free index in front of the class cache, and this start's
   * number, which tells a thread's remembered environment from one of an earlier start. */
  void *lookupIndex;
  int32_t indexedCount; /* nodes in the index */
  uint32_t instance;
};

#ifdef __cplusplus
}
#endif

#endif
