/* The file-system module's record and operation table, as the storage engine sees them. */
#ifndef QX_DFSLINK_DFSLINK_H
#define QX_DFSLINK_DFSLINK_H

#include <jni.h>

#include "host/qxhost.h"
#include "host/qxmodule.h"
#include "jvmlink/jvmlink.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Open flags of hdfsOpenFile. */
#define HDFS_OPEN_WRITE 1
#define HDFS_OPEN_READ_WRITE 2
#define HDFS_OPEN_APPEND 8

/* FileHandle types. */
#define HDFS_STREAM_NONE 0
#define HDFS_STREAM_INPUT 1
#define HDFS_STREAM_OUTPUT 2

/* An open stream: a global reference to a Hadoop input or output stream. */
typedef struct FileHandle {
  jobject stream;
  int32_t type;
} FileHandle;

/* The open handles in the order they were opened, without gaps. */
typedef struct OpenFileList {
  FileHandle **items;
  int32_t capacity;
  int32_t count;
} OpenFileList;

/* A connection handle: a global reference to a Hadoop FileSystem. */
typedef jobject hdfsFS;

typedef struct DfsLinkState DfsLinkState;

/* Entries of operations that this build does not offer yet report "not available" and return
 * their operation's failure value; their arguments are not read. */
typedef int32_t (*DfsPendingStatus)(DfsLinkState *dfs, QXMessageContext *context, ...);
typedef int64_t (*DfsPendingCount)(DfsLinkState *dfs, QXMessageContext *context, ...);
typedef void *(*DfsPendingRecord)(DfsLinkState *dfs, QXMessageContext *context, ...);
typedef void (*DfsPendingRelease)(DfsLinkState *dfs, QXMessageContext *context, ...);

typedef struct DfsOperations {
  DfsPendingStatus loadEnvPaths;
  DfsPendingStatus loadXmlOptions;
  int32_t (*hdfsConnectAsUser)(DfsLinkState *dfs, QXMessageContext *context, const QXChar *host,
                               uint16_t port, const QXChar *user, hdfsFS *connection);
  int32_t (*hdfsConnectDefaultUser)(DfsLinkState *dfs, QXMessageContext *context,
                                    const QXChar *host, uint16_t port, hdfsFS *connection);
  int32_t (*hdfsDisconnect)(DfsLinkState *dfs, QXMessageContext *context, hdfsFS connection);
  FileHandle *(*hdfsOpenFile)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                              hdfsFS connection, const QXChar *path, int32_t flags,
                              int32_t bufferSize, int16_t replication, int32_t blockSize);
  int32_t (*hdfsCloseFile)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                           hdfsFS connection, FileHandle *file);
  DfsPendingStatus hdfsExists;
  int32_t (*hdfsSeek)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                      hdfsFS connection, FileHandle *file, int64_t position);
  int64_t (*hdfsTell)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                      hdfsFS connection, FileHandle *file);
  int32_t (*hdfsRead)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                      hdfsFS connection, FileHandle *file, void *buffer, int32_t length);
  int32_t (*hdfsPread)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                       hdfsFS connection, FileHandle *file, int64_t position, void *buffer,
                       int32_t length);
  int32_t (*hdfsPread_jb)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                          hdfsFS connection, FileHandle *file, int64_t position, jbyteArray *array,
                          int32_t offset, int32_t length);
  int32_t (*hdfsWrite)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                       hdfsFS connection, FileHandle *file, const void *buffer, int32_t length);
  int32_t (*hdfsWrite_jb)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                          hdfsFS connection, FileHandle *file, jbyteArray array, int32_t offset,
                          int32_t length);
  int32_t (*hdfsFlush)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                       hdfsFS connection, FileHandle *file);
  int32_t (*hdfsAvailable)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                           hdfsFS connection, FileHandle *file);
  DfsPendingStatus hdfsCopy;
  DfsPendingStatus hdfsCopyFromLocal;
  DfsPendingStatus hdfsMove;
  DfsPendingStatus hdfsDelete;
  DfsPendingStatus hdfsRename;
  DfsPendingRecord hdfsGetWorkingDirectory;
  DfsPendingStatus hdfsSetWorkingDirectory;
  DfsPendingStatus hdfsCreateDirectory;
  DfsPendingStatus hdfsSetReplication;
  DfsPendingStatus hdfsListDirectory;
  DfsPendingRecord hdfsGetPathInfo;
  DfsPendingRelease hdfsReleasePathInfo;
  DfsPendingStatus hdfsGetHosts;
  DfsPendingRelease hdfsReleaseHosts;
  DfsPendingCount hdfsGetDefaultBlockSize;
  DfsPendingCount hdfsGetCapacity;
  DfsPendingCount hdfsGetUsed;
  DfsPendingStatus hdfsChown;
  DfsPendingStatus hdfsChmod;
  DfsPendingStatus hdfsUtime;
  DfsPendingStatus javaComp;
  DfsPendingStatus javaJar;
  DfsPendingStatus javaMap;
} DfsOperations;

struct DfsLinkState {
  QXModuleFrame frame;
  QXExmlExtension *exml;
  QXPerfExtension *perf;
  QXNls *nls;
  BridgeState *jvm;
  QXIoeExtension *ioe;
  QXKernel *host;
  QXPool *pool;
  QXMutex *openLock;
  jobject javaCompiler;
  int32_t utf8Encoding;
  QXTranscoder *toUtf8;
  QXTranscoder *fromUtf8;
  QXTranscoder *compilerToUtf8;
  QXTranscoder *toCompiler;
  char keyBufferSize[21];
  char keyReplication[17];
  char keyBlockSize[18];
  OpenFileList openFiles;
  DfsOperations operations;
  /* Private to the module: the open-file list's own lock, held briefly and never across a Java
   * call, and the records of closed handles, kept a while so that a stale handle is not taken
   * for a newer one at the same address. */
  QXMutex *listLock;
  FileHandle **retired;
  int32_t retiredCount;
  int32_t retiredNext;
};

#ifdef __cplusplus
}
#endif

#endif
