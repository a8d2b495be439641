// The file-system module's entry, its clean-up and its teardown.
#include <cstring>

#include "dfslink/hdfs/handles.h"
#include "dfslink/hdfs/operations.h"
#include "dfslink/javatools/javatools.h"

namespace dfs {
namespace {

constexpr int32_t kOpenFileListStart = 100;
const QXMutexAttributes kOpenLockAttributes = {256, 0, 0};

template <typename Record>
void releaseIfPresent(Record *record) {
  if (record) record->header.release(record);
}

// The Java objects the module keeps for itself (the compiler, the transfer arrays of handles
// left open) go before the bridge does: a reload must not leave them behind in a JVM that lives
// on. Streams left open stay as they are.
void releaseKeptJavaObjects(DfsLinkState *dfs) {
  if (!dfs->jvm) return;
  JNIEnv *env = bridgeOf(dfs).getJNIEnv(dfs->jvm, nullptr);
  if (!env) return;
  releaseKeptTransferArrays(dfs, env);
  if (dfs->javaCompiler) env->DeleteGlobalRef(dfs->javaCompiler);
  dfs->javaCompiler = nullptr;
}

// The clean-up of a failed start-up and the teardown: streams and connections still open are
// not closed; their records go with the pool.
void teardown(void *record) {
  auto *dfs = static_cast<DfsLinkState *>(record);
  releaseKeptJavaObjects(dfs);
  releaseIfPresent(dfs->perf);
  releaseIfPresent(dfs->ioe);
  releaseIfPresent(dfs->exml);
  if (dfs->jvm) dfs->jvm->frame.header.release(dfs->jvm);
  releaseIfPresent(dfs->openLock);
  releaseIfPresent(dfs->listLock);
  dfs->pool->header.release(dfs->pool);
}

template <typename Record>
bool loadExtension(QXMessageContext *context, const QXChar *name, int32_t length,
                   Record *&extension) {
  QXKernel *loader = extframe::loaderRecord;
  extension = loader ? static_cast<Record *>(loader->loadExtension(loader, name, length, context))
                     : nullptr;
  if (!extension) reportError(context, kExtensionNotLoaded, name);
  return extension != nullptr;
}

bool createTranscoders(DfsLinkState *dfs, QXMessageContext *context) {
  QXNls *nls = dfs->nls;
  dfs->utf8Encoding = QX_ENCODING_UTF8;
  dfs->toUtf8 = nls->createFromQXChar(nls, QX_ENCODING_UTF8, 0, nullptr);
  if (dfs->toUtf8) dfs->fromUtf8 = nls->createToQXChar(nls, QX_ENCODING_UTF8, 0, nullptr);
  if (!dfs->toUtf8 || !dfs->fromUtf8) {
    reportError(context, QX_OPERATION_FAILED);
    return false;
  }
  dfs->compilerToUtf8 =
      nls->createTranscoder(nls, QX_ENCODING_COMPILER, QX_ENCODING_UTF8, 0, context);
  if (!dfs->compilerToUtf8) {
    reportError(context, kTranscoderNotCreated, u"compiler->utf8");
    return false;
  }
  dfs->toCompiler = nls->createFromQXChar(nls, QX_ENCODING_COMPILER, 0, context);
  if (!dfs->toCompiler) {
    reportError(context, kTranscoderNotCreated, u"QX_to_compiler");
    return false;
  }
  return true;
}

// A Hadoop configuration key in UTF-8, converted with its terminator.
template <size_t N, size_t Capacity>
bool convertKey(DfsLinkState *dfs, QXMessageContext *context, const char (&key)[N],
                char (&buffer)[Capacity]) {
  static_assert(Capacity > N, "room for the key, its terminator and one byte more");
  int32_t written = 0;
  if (dfs->compilerToUtf8->convert(dfs->compilerToUtf8, key, static_cast<int32_t>(N), buffer,
                                   static_cast<int32_t>(N + 1), &written, 0)) {
    reportError(context, kNotConverted, "dfslink", u"compiler->utf8");
    return false;
  }
  buffer[written] = '\0';
  return true;
}

bool convertKeys(DfsLinkState *dfs, QXMessageContext *context) {
  return convertKey(dfs, context, "io.file.buffer.size", dfs->keyBufferSize) &&
         convertKey(dfs, context, "dfs.replication", dfs->keyReplication) &&
         convertKey(dfs, context, "dfs.block.size", dfs->keyBlockSize);
}

// The start-up steps after the record exists; false after the failing step's report.
bool acquireResources(DfsLinkState *dfs, QXKernel *host, QXMessageContext *context) {
  dfs->openFiles.items = static_cast<FileHandle **>(
      dfs->pool->allocate(dfs->pool, sizeof(FileHandle *) * kOpenFileListStart, QX_ZERO_FILL));
  if (!dfs->openFiles.items) {
    reportError(context, QX_OUT_OF_MEMORY);
    return false;
  }
  dfs->openFiles.capacity = kOpenFileListStart;
  dfs->openLock = host->createMutex(host, &kOpenLockAttributes, context, "dfslink ext handle");
  if (dfs->openLock) {
    dfs->listLock = host->createMutex(host, &kOpenLockAttributes, context, "dfslink open files");
  }
  if (!dfs->openLock || !dfs->listLock) {
    reportError(context, kOpenLockNotCreated);
    return false;
  }
  if (!loadExtension(context, u"qxperf", 6, dfs->perf) ||
      !loadExtension(context, u"qxexml", 6, dfs->exml) ||
      !loadExtension(context, u"qxioe", 5, dfs->ioe)) {
    return false;
  }
  dfs->nls = host->qxnls;
  if (!dfs->nls) {
    reportError(context, kExtensionNotLoaded, u"qxnls");
    return false;
  }
  if (!createTranscoders(dfs, context) || !convertKeys(dfs, context)) return false;
  QXKernel *loader = extframe::loaderRecord;
  dfs->jvm = static_cast<BridgeState *>(loader->loadExtension(loader, u"jvmlink", 7, context));
  if (!dfs->jvm) {
    reportError(context, QX_OPERATION_FAILED);
    return false;
  }
  return true;
}

void fillOperations(DfsOperations &table) {
  table.hdfsConnectAsUser = hdfsConnectAsUser;
  table.hdfsConnectDefaultUser = hdfsConnectDefaultUser;
  table.hdfsDisconnect = hdfsDisconnect;
  table.hdfsOpenFile = hdfsOpenFile;
  table.hdfsCloseFile = hdfsCloseFile;
  table.hdfsSeek = hdfsSeek;
  table.hdfsTell = hdfsTell;
  table.hdfsRead = hdfsRead;
  table.hdfsPread = hdfsPread;
  table.hdfsPread_jb = hdfsPread_jb;
  table.hdfsWrite = hdfsWrite;
  table.hdfsWrite_jb = hdfsWrite_jb;
  table.hdfsFlush = hdfsFlush;
  table.hdfsAvailable = hdfsAvailable;
  table.hdfsExists = hdfsExists;
  table.hdfsDelete = hdfsDelete;
  table.hdfsRename = hdfsRename;
  table.hdfsGetWorkingDirectory = hdfsGetWorkingDirectory;
  table.hdfsSetWorkingDirectory = hdfsSetWorkingDirectory;
  table.hdfsCreateDirectory = hdfsCreateDirectory;
  table.hdfsSetReplication = hdfsSetReplication;
  table.hdfsChown = hdfsChown;
  table.hdfsChmod = hdfsChmod;
  table.hdfsUtime = hdfsUtime;
  table.hdfsGetCapacity = hdfsGetCapacity;
  table.hdfsGetUsed = hdfsGetUsed;
  table.hdfsGetDefaultBlockSize = hdfsGetDefaultBlockSize;
  table.hdfsListDirectory = hdfsListDirectory;
  table.hdfsGetPathInfo = hdfsGetPathInfo;
  table.hdfsReleasePathInfo = hdfsReleasePathInfo;
  table.hdfsGetHosts = hdfsGetHosts;
  table.hdfsReleaseHosts = hdfsReleaseHosts;
  table.hdfsCopy = hdfsCopy;
  table.hdfsMove = hdfsMove;
  table.hdfsCopyFromLocal = hdfsCopyFromLocal;
  table.loadEnvPaths = loadEnvPaths;
  table.loadXmlOptions = loadXmlOptions;
  table.javaComp = javaComp;
  table.javaJar = javaJar;
  table.javaMap = javaMap;
}

}  // namespace
}  // namespace dfs

extern "C" QX_EXPORT void *QX_CALL dfslink(QXKernel *host, QXMessageContext *context) {
  using namespace dfs;
  QXPool *pool = nullptr;
  auto *state = static_cast<DfsLinkState *>(
      extframe::newModuleRecord(host, context, "DFSLINK Pool", sizeof(DfsLinkState), &pool));
  if (!state) return nullptr;
  state->pool = pool;
  state->host = host;
  if (!acquireResources(state, host, context)) {
    teardown(state);
    return nullptr;
  }
  fillOperations(state->operations);
  extframe::completeFrame(&state->frame, extframe::moduleTerminate<teardown>);
  return state;
}
