// The path argument every operation shares, the thread's environment, and the registration
// check of file handles.
#include "dfslink/hdfs/internal.h"

namespace dfs {
namespace {

// The UTF-8 path back as QXChar text for the report of a Path that could not be made.
void reportPathNotMade(DfsLinkState *dfs, QXMessageContext *context, const Utf8Path &path) {
  QXChar text[kMaxPathBytes + 1];
  int32_t written = 0;
  uint32_t status = dfs->fromUtf8->convert(dfs->fromUtf8, path.text, path.length, text,
                                           kMaxPathBytes * sizeof(QXChar), &written, 0);
  if (status != 0) {
    reportError(context, kNotConverted, "constructNewObjectOfPath", u"utf8->QXChar");
    reportError(context, status);
    return;
  }
  text[written] = 0;
  reportError(context, kPathNotMade, "constructNewObjectOfPath", text);
}

}  // namespace

JNIEnv *environmentFor(DfsLinkState *dfs, QXMessageContext *context, const char *operation) {
  JNIEnv *env = bridgeOf(dfs).getJNIEnv(dfs->jvm, context);
  if (!env) reportError(context, kNoEnvironment, operation);
  return env;
}

bool toUtf8Path(DfsLinkState *dfs, const QXChar *path, Utf8Path &out) {
  if (!path) return false;
  int32_t bytes = static_cast<int32_t>(qxLength(path) * sizeof(QXChar));
  out.length = 0;
  if (dfs->toUtf8->convert(dfs->toUtf8, path, bytes, out.text, kMaxPathBytes, &out.length, 0)) {
    return false;
  }
  out.text[out.length] = '\0';
  return true;
}

jobject makePathObject(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                       const Utf8Path &path, const char *operation) {
  LocalRef<jstring> text(env, env->NewStringUTF(path.text));
  jobject object = text ? bridgeOf(dfs).constructNewObjectOfClass(
                              dfs->jvm, context, env, "org/apache/hadoop/fs/Path",
                              "(Ljava/lang/String;)V", text.get())
                        : nullptr;
  if (!object) {
    if (env->ExceptionCheck()) env->ExceptionDescribe();
    reportPathNotMade(dfs, context, path);
    reportError(context, kPathUnusable, operation);
  }
  return object;
}

int32_t indexOfHandle(const OpenFileList &list, const FileHandle *file) {
  for (int32_t i = 0; i < list.count; i++) {
    if (list.items[i] == file) return i;
  }
  return -1;
}

bool isRegistered(DfsLinkState *dfs, const FileHandle *file) {
  MutexLock lock(dfs->openLock);
  return indexOfHandle(dfs->openFiles, file) >= 0;
}

}  // namespace dfs
