// haddpaths and haddpath: the caller's class-path items and the installation's jar list files
// go to the JVM through qxjni; the first list is kept and applied again on every new thread.
#include <cstring>

#include "host/qxlayout.h"
#include "jvmlink/bridge.h"

namespace bridge {

// The engine builds the list and hands it over in place.
QX_LAYOUT(offsetof(BridgeState, frame) == 0 && offsetof(BridgeState, perfExtension) == 7 * QX_WORD,
          "BridgeState: the module record's frame, then the bridge's state from word 7");
QX_LAYOUT_32(offsetof(ClassPathList, lengths) == 4 && offsetof(ClassPathList, count) == 8 &&
                 offsetof(ClassPathList, total) == 12 && offsetof(ClassPathList, flags) == 16 &&
                 sizeof(ClassPathList) == 20,
             "ClassPathList: text, lengths, count, total, flags; 20 bytes");
namespace {

const char *const kJarListFiles[] = {"hadoopbasics/hadoopwrapr.txt", "hadoop/hdoopzeljars.txt"};

// A list whose lengths do not add up to its text would make the application write outside the
// kept copy.
bool consistentList(const ClassPathList *list) {
  if (!list->text || !list->lengths || list->count <= 0) return false;
  int64_t sum = 0;
  for (int32_t i = 0; i < list->count; i++) {
    if (list->lengths[i] <= 0) return false;
    sum += list->lengths[i];
  }
  return sum == list->total;
}

// Keeps a private copy of the caller's list (jvmMutex held); 0 or 0x803FC002.
uint32_t keepList(BridgeState *bridge, QXMessageContext *context, const ClassPathList *list) {
  QXPool *pool = bridge->pool;
  auto *text = static_cast<char *>(pool->allocate(pool, static_cast<size_t>(list->total), 0));
  if (!text) {
    reportError(context, QX_OUT_OF_MEMORY);
    reportError(context, kNotAllocated, "haddpaths", list->total + 1);
    return QX_OUT_OF_MEMORY;
  }
  size_t lengthsSize = sizeof(int32_t) * static_cast<size_t>(list->count);
  auto *lengths = static_cast<int32_t *>(pool->allocate(pool, lengthsSize, 0));
  if (!lengths) {
    pool->free(pool, text);
    reportError(context, QX_OUT_OF_MEMORY);
    reportError(context, kNotAllocated, "haddpaths", static_cast<int32_t>(lengthsSize));
    return QX_OUT_OF_MEMORY;
  }
  memcpy(text, list->text, static_cast<size_t>(list->total));
  memcpy(lengths, list->lengths, lengthsSize);
  bridge->classPathLengths = lengths;
  bridge->classPathCount = list->count;
  // Last: threads that find it without the mutex must then apply the whole list.
  __atomic_store_n(&bridge->classPathText, text, __ATOMIC_RELEASE);
  return 0;
}

// Reads the jar list files in order until one fails; the last status.
int32_t readJarLists(QXJniExtension *jni, JNIEnv *env) {
  int32_t status = 0;
  for (const char *file : kJarListFiles) {
    status = jni->readJarListFile(jni, env, file);
    if (status != 0) break;
  }
  return status;
}

JNIEnv *environmentFor(BridgeState *bridge, QXMessageContext *context, const char *function) {
  JNIEnv *env = getJNIEnv(bridge, context);
  if (!env) reportError(context, kNoEnvironment, function);
  return env;
}

}  // namespace

int32_t haddpaths(BridgeState *bridge, QXMessageContext *context, const ClassPathList *list) {
  JNIEnv *env = environmentFor(bridge, context, "haddpaths");
  if (!env) return static_cast<int32_t>(QX_OPERATION_FAILED);
  MutexLock lock(bridge->jvmMutex);
  if (!bridge->classPathText && list && list->total > 0) {
    if (!consistentList(list)) {
      reportError(context, QX_MISSING_ARGUMENT);
      return static_cast<int32_t>(QX_MISSING_ARGUMENT);
    }
    if (uint32_t status = keepList(bridge, context, list)) return static_cast<int32_t>(status);
  }
  if (bridge->classPathText) applyKeptClassPath(bridge, env);
  QXJniExtension *jni = bridge->jniExtension;
  int32_t status = readJarLists(jni, env);
  if (status != 0 && list && (list->flags & CLASS_PATH_WARN_JAR_LISTS)) {
    extframe::reportStatus(context, QX_SEVERITY_WARNING, static_cast<uint32_t>(status));
  }
  int32_t applied = jni->applyClassPath(jni, env);
  if (applied > 0) {
    reportError(context, kClassPathNotApplied, "haddpaths");
    return applied;
  }
  return applied == -1 ? 0 : applied;
}

int32_t haddpath(BridgeState *bridge, QXMessageContext *context, const char *item) {
  JNIEnv *env = environmentFor(bridge, context, "haddpaths");
  if (!env) return static_cast<int32_t>(QX_OPERATION_FAILED);
  MutexLock lock(bridge->jvmMutex);
  QXJniExtension *jni = bridge->jniExtension;
  int32_t status = jni->addClassPathItem(jni, env, item);
  // A name that is not UTF-8 is refused, not passed on as another name: said, as it is no
  // missing file.
  if (status == static_cast<int32_t>(QX_IO_NAME_NOT_TEXT))
    reportError(context, QX_IO_NAME_NOT_TEXT);
  return status;
}

}  // namespace bridge
