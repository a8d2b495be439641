// Facts about paths as plain records the storage engine reads without Java: one path's
// information, a directory's listing and the hosts of a file's blocks, each allocated from the
// module pool and given back to its release operation.
#include <cstddef>
#include <cstdint>

#include "dfslink/hdfs/operations.h"
#include "host/qxlayout.h"

namespace dfs {
namespace {

// The engine reads the record in place: packed to 4 bytes, pointers at their own width.
QX_LAYOUT(offsetof(hdfsPathInfo, kind) == 0 && offsetof(hdfsPathInfo, name) == 4 &&
              offsetof(hdfsPathInfo, lastModified) == 4 + QX_WORD &&
              offsetof(hdfsPathInfo, size) == 12 + QX_WORD &&
              offsetof(hdfsPathInfo, replication) == 20 + QX_WORD &&
              offsetof(hdfsPathInfo, blockSize) == 24 + QX_WORD &&
              offsetof(hdfsPathInfo, owner) == 32 + QX_WORD &&
              offsetof(hdfsPathInfo, group) == 32 + 2 * QX_WORD &&
              offsetof(hdfsPathInfo, permissions) == 32 + 3 * QX_WORD &&
              offsetof(hdfsPathInfo, lastAccess) == 36 + 3 * QX_WORD,
          "hdfsPathInfo fields packed to 4 bytes");
QX_LAYOUT_32(sizeof(hdfsPathInfo) == 56 && offsetof(hdfsPathInfo, lastAccess) == 48,
             "hdfsPathInfo is 56 bytes, lastAccess at 48");

const char kFileStatus[] = "org/apache/hadoop/fs/FileStatus";
const char kGetFileStatus[] = "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/FileStatus;";

// Java's milliseconds as whole seconds.
double wholeSeconds(jlong milliseconds) {
  return static_cast<double>(milliseconds / 1000);
}

// A text field of a FileStatus (a String method), copied; 0 or the failure's code after its
// report.
uint32_t copyText(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, JavaCall &call,
                  jobject object, const char *type, const char *method, char *&copy,
                  const QXChar *failureText) {
  jobject text = nullptr;
  if (!call.onObject(&text, object, type, method, "()Ljava/lang/String;")) {
    if (failureText) {
      printText(context, QX_SEVERITY_ERROR, u"%s", failureText);
    } else {
      call.report("org.apache.hadoop.fs.Path::toString");
    }
    return QX_OPERATION_FAILED;
  }
  LocalRef<jstring> textRef(env, static_cast<jstring>(text));
  return strdup_hd(dfs, context, env, textRef.get(), copy);
}

// The numbers of a FileStatus, in the order they are asked; false after the report.
bool readNumbers(JavaCall &call, jobject status, hdfsPathInfo &info) {
  jboolean directory = JNI_FALSE;
  jshort replication = 0;
  jlong blockSize = 0, modified = 0, accessed = 0, length = 0;
  struct Step {
    const char *method;
    const char *descriptor;
    void *result;
    const char *text;
  };
  const Step steps[] = {
      {"isDir", "()Z", &directory, "org.apache.hadoop.fs.FileStatus::isDir"},
      {"getReplication", "()S", &replication, "org.apache.hadoop.fs.FileStatus::getReplication"},
      {"getBlockSize", "()J", &blockSize, "org.apache.hadoop.fs.FileStatus::getBlockSize"},
      {"getModificationTime", "()J", &modified,
       "org.apache.hadoop.fs.FileStatus::getModificationTime"},
      {"getAccessTime", "()J", &accessed, "org.apache.hadoop.fs.FileStatus::getAccessTime"},
      {"getLen", "()J", &length, "org.apache.hadoop.fs.FileStatus::getLen"},
  };
  for (const Step &step : steps) {
    if (step.result == &length && directory) break;  // a directory has no length
    if (!call.onObject(step.result, status, kFileStatus, step.method, step.descriptor)) {
      call.report(step.text);
      return false;
    }
  }
  info.kind = directory ? HDFS_KIND_DIRECTORY : HDFS_KIND_FILE;
  info.replication = replication;
  info.blockSize = blockSize;
  info.lastModified = wholeSeconds(modified);
  info.lastAccess = wholeSeconds(accessed);
  info.size = directory ? 0 : length;
  return true;
}

// The name: the text of the FileStatus's Path; 0 or the failure's code.
uint32_t readName(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, JavaCall &call,
                  jobject status, hdfsPathInfo &info) {
  jobject path = nullptr;
  if (!call.onObject(&path, status, kFileStatus, "getPath", "()Lorg/apache/hadoop/fs/Path;") ||
      !path) {
    call.report("org.apache.hadoop.fs.Path::getPath");
    return QX_OPERATION_FAILED;
  }
  LocalRef<jobject> pathRef(env, path);
  char *name = nullptr;
  uint32_t failure = copyText(dfs, context, env, call, path, kPathClass, "toString", name, nullptr);
  info.name = name;
  return failure;
}

// The permission bits; 0 or the failure's code.
uint32_t readPermissions(QXMessageContext *context, JNIEnv *env, JavaCall &call, jobject status,
                         hdfsPathInfo &info) {
  jobject permission = nullptr;
  if (!call.onObject(&permission, status, kFileStatus, "getPermission",
                     "()Lorg/apache/hadoop/fs/permission/FsPermission;") ||
      !permission) {
    printText(context, QX_SEVERITY_ERROR,
              u"Call to org.apache.hadoop.fs.permission::getPermission failed.");
    return QX_OPERATION_FAILED;
  }
  LocalRef<jobject> permissionRef(env, permission);
  jshort bits = 0;
  if (!call.onObject(&bits, permission, "org/apache/hadoop/fs/permission/FsPermission", "toShort",
                     "()S")) {
    printText(context, QX_SEVERITY_ERROR,
              u"Call to org.apache.hadoop.fs.permission.FsPermission::toShort failed.");
    return QX_OPERATION_FAILED;
  }
  info.permissions = bits;
  return 0;
}

// Fills a record from a FileStatus, in order, stopping at the first failure; texts already
// copied stay in the record for the caller to free.
uint32_t readStatusInto(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, jobject status,
                        hdfsPathInfo *info) {
  if (!context || !env || !info || !status) return QX_MISSING_ARGUMENT;
  JavaCall call(dfs, context, env);
  if (!readNumbers(call, status, *info)) return QX_OPERATION_FAILED;
  if (uint32_t failure = readName(dfs, context, env, call, status, *info)) return failure;
  char *owner = nullptr, *group = nullptr;
  uint32_t failure = copyText(dfs, context, env, call, status, kFileStatus, "getOwner", owner,
                              u"Call to org.apache.hadoop.fs.FileStatus::getOwner failed.");
  info->owner = owner;
  if (failure) return failure;
  failure = copyText(dfs, context, env, call, status, kFileStatus, "getGroup", group,
                     u"Call to org.apache.hadoop.fs.FileStatus::getGroup failed.");
  info->group = group;
  if (failure) return failure;
  return readPermissions(context, env, call, status, *info);
}

void freeTexts(DfsLinkState *dfs, hdfsPathInfo *entries, size_t count) {
  for (size_t i = 0; i < count; i++) {
    for (char *text : {entries[i].name, entries[i].owner, entries[i].group}) {
      if (text) dfs->pool->free(dfs->pool, text);
    }
  }
}

// A zero-filled block of count records, or NULL (also when the size would not fit in memory).
hdfsPathInfo *newRecords(DfsLinkState *dfs, size_t count) {
  if (count > SIZE_MAX / sizeof(hdfsPathInfo)) return nullptr;
  return static_cast<hdfsPathInfo *>(
      dfs->pool->allocate(dfs->pool, sizeof(hdfsPathInfo) * count, QX_ZERO_FILL));
}

// A Java array of a call's result, or NULL after reporting the call's failure.
template <typename... Arguments>
jobjectArray arrayOf(JavaCall &call, jobject object, const char *type, const char *method,
                     const char *descriptor, const char *methodText, bool &failed,
                     Arguments... arguments) {
  jobject array = nullptr;
  failed = !call.onObject(&array, object, type, method, descriptor, arguments...);
  if (failed) call.report(methodText);
  return static_cast<jobjectArray>(array);
}

// A pointer block of count slots and a null slot after them; NULL when it cannot be had.
char **newSlots(DfsLinkState *dfs, size_t count) {
  if (count >= SIZE_MAX / sizeof(char *)) return nullptr;
  auto **slots =
      static_cast<char **>(dfs->pool->allocate(dfs->pool, sizeof(char *) * (count + 1), 0));
  if (slots) slots[count] = nullptr;
  return slots;
}

void freeHostList(DfsLinkState *dfs, char **hosts) {
  for (char **host = hosts; *host; host++) dfs->pool->free(dfs->pool, *host);
  dfs->pool->free(dfs->pool, hosts);
}

// The host names of one block; NULL after the report when the call or a pointer block fails.
// A name that cannot be copied is left out (the names stay contiguous) and its failure code
// goes to status.
char **hostsOfBlock(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, JavaCall &call,
                    jobject block, uint32_t &status, uint32_t &failure) {
  failure = QX_OPERATION_FAILED;
  if (!block) return nullptr;
  bool failed = false;
  LocalRef<jobjectArray> names(
      env,
      arrayOf(call, block, "org/apache/hadoop/fs/BlockLocation", "getHosts",
              "()[Ljava/lang/String;", "org.apache.hadoop.fs.BlockLocation::getHosts", failed));
  if (failed || !names) {
    if (!failed) call.report("org.apache.hadoop.fs.BlockLocation::getHosts");
    return nullptr;
  }
  jsize count = env->GetArrayLength(names.get());
  char **hosts = newSlots(dfs, static_cast<size_t>(count));
  if (!hosts) {
    failure = QX_OUT_OF_MEMORY;
    return nullptr;
  }
  jsize kept = 0;
  for (jsize j = 0; j < count; j++) {
    LocalRef<jstring> name(env, static_cast<jstring>(env->GetObjectArrayElement(names.get(), j)));
    char *copy = nullptr;
    if (uint32_t copied = strdup_hd(dfs, context, env, name.get(), copy)) status = copied;
    if (copy) hosts[kept++] = copy;
  }
  hosts[kept] = nullptr;
  return hosts;
}

}  // namespace

hdfsPathInfo *hdfsGetPathInfo(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                              hdfsFS fs, const QXChar *path) {
  const char *name = "hdfsGetPathInfo";
  JNIEnv *env = bridgeOf(dfs).getJNIEnv(dfs->jvm, context);
  PathText text;
  if (!env || !connected(context, fs, name) || !toPathText(dfs, context, path, text))
    return nullptr;
  LocalRef<jobject> target(env, makePathObject(dfs, context, env, text, name));
  if (!target) return nullptr;
  hdfsPathInfo *info = newRecords(dfs, 1);
  if (!info) {
    reportError(context, QX_OUT_OF_MEMORY);  // a null result must have a reason
    return nullptr;
  }
  JavaCall call(dfs, context, env);
  jboolean exists = JNI_FALSE;
  jobject found = nullptr;
  bool read = false;
  if (!call.onObject(&exists, fs, kFileSystem, "exists", "(Lorg/apache/hadoop/fs/Path;)Z",
                     target.get())) {
    call.report("org.apache.hadoop.fs.FileSystem::exists");
  } else if (!exists) {
    setStatus(status, kPathMissing);
  } else if (!call.onObject(&found, fs, kFileSystem, "getFileStatus", kGetFileStatus,
                            target.get())) {
    call.report("org.apache.hadoop.fs.FileSystem::getFileStatus");
  } else {
    LocalRef<jobject> fileStatus(env, found);
    read = readStatusInto(dfs, context, env, fileStatus.get(), info) == 0;
  }
  if (read) return info;
  hdfsReleasePathInfo(dfs, nullptr, info, 1);
  return nullptr;
}

int32_t hdfsListDirectory(DfsLinkState *dfs, QXMessageContext *context, hdfsFS fs,
                          const QXChar *path, int32_t *count, hdfsPathInfo **entries) {
  // A missing argument is returned, not reported.
  if (!context || !fs || !path || !count || !entries) {
    return static_cast<int32_t>(QX_MISSING_ARGUMENT);
  }
  const char *name = "hdfsListDirectory";
  *count = 0;
  *entries = nullptr;
  JNIEnv *env = environmentFor(dfs, context, name);
  if (!env) return static_cast<int32_t>(kNoEnvironment);
  PathText text;
  if (!toPathText(dfs, context, path, text)) return static_cast<int32_t>(QX_OPERATION_FAILED);
  LocalRef<jobject> target(env, makePathObject(dfs, context, env, text, name));
  if (!target) return static_cast<int32_t>(QX_OPERATION_FAILED);
  // Through FileSystem, so that every kind of connection can be listed; a null array without an
  // exception is an empty directory.
  JavaCall call(dfs, context, env);
  bool failed = false;
  LocalRef<jobjectArray> statuses(
      env, arrayOf(call, fs, kFileSystem, "listStatus",
                   "(Lorg/apache/hadoop/fs/Path;)[Lorg/apache/hadoop/fs/FileStatus;",
                   "org.apache.hadoop.fs.FileSystem::listStatus", failed, target.get()));
  if (failed) return static_cast<int32_t>(QX_OPERATION_FAILED);
  jsize n = statuses ? env->GetArrayLength(statuses.get()) : 0;
  if (n == 0) return 0;
  hdfsPathInfo *records = newRecords(dfs, static_cast<size_t>(n));
  if (!records) return static_cast<int32_t>(QX_OUT_OF_MEMORY);
  for (jsize i = 0; i < n; i++) {
    LocalRef<jobject> element(env, env->GetObjectArrayElement(statuses.get(), i));
    if (uint32_t failure = readStatusInto(dfs, context, env, element.get(), &records[i])) {
      hdfsReleasePathInfo(dfs, nullptr, records, n);
      return static_cast<int32_t>(failure);
    }
  }
  *count = n;
  *entries = records;
  return 0;
}

void hdfsReleasePathInfo(DfsLinkState *dfs, void *, hdfsPathInfo *entries, int32_t count) {
  if (!entries) return;
  freeTexts(dfs, entries, count > 0 ? static_cast<size_t>(count) : 0);
  dfs->pool->free(dfs->pool, entries);
}

int32_t hdfsGetHosts(DfsLinkState *dfs, QXMessageContext *context, hdfsFS fs, const char *path,
                     int64_t start, int64_t length, char ****result) {
  if (!context || !fs || !path || !result) return static_cast<int32_t>(QX_MISSING_ARGUMENT);
  const char *name = "hdfsGetHosts";
  *result = nullptr;
  JNIEnv *env = environmentFor(dfs, context, name);
  if (!env) return static_cast<int32_t>(kNoEnvironment);
  LocalRef<jobject> target(env, makePathObjectOfUtf8(dfs, context, env, path, name));
  if (!target) return static_cast<int32_t>(QX_OPERATION_FAILED);
  JavaCall call(dfs, context, env);
  jobject found = nullptr;
  if (!call.onObject(&found, fs, kFileSystem, "getFileStatus", kGetFileStatus, target.get())) {
    call.report("org.apache.hadoop.fs.FileSystem::getFileStatus");
    return static_cast<int32_t>(QX_OPERATION_FAILED);
  }
  LocalRef<jobject> fileStatus(env, found);
  bool failed = false;
  LocalRef<jobjectArray> blocks(
      env, arrayOf(call, fs, kFileSystem, "getFileBlockLocations",
                   "(Lorg/apache/hadoop/fs/FileStatus;JJ)[Lorg/apache/hadoop/fs/BlockLocation;",
                   "org.apache.hadoop.fs.FileSystem::getFileBlockLocations", failed,
                   fileStatus.get(), static_cast<jlong>(start), static_cast<jlong>(length)));
  if (failed) return static_cast<int32_t>(QX_OPERATION_FAILED);
  jsize nBlocks = blocks ? env->GetArrayLength(blocks.get()) : 0;
  auto ***outer = reinterpret_cast<char ***>(newSlots(dfs, static_cast<size_t>(nBlocks)));
  if (!outer) return static_cast<int32_t>(QX_OUT_OF_MEMORY);
  uint32_t status = 0;
  for (jsize i = 0; i < nBlocks; i++) {
    LocalRef<jobject> block(env, env->GetObjectArrayElement(blocks.get(), i));
    uint32_t failure = 0;
    outer[i] = hostsOfBlock(dfs, context, env, call, block.get(), status, failure);
    if (!outer[i]) {
      hdfsReleaseHosts(dfs, nullptr, outer);
      return static_cast<int32_t>(failure);
    }
  }
  *result = outer;
  return static_cast<int32_t>(status);
}

void hdfsReleaseHosts(DfsLinkState *dfs, void *, char ***hosts) {
  if (!hosts) return;
  for (char ***block = hosts; *block; block++) freeHostList(dfs, *block);
  dfs->pool->free(dfs->pool, hosts);
}

}  // namespace dfs
