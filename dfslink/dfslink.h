/* The file-system module's record and operation table, as the storage engine sees them. */
#ifndef QX_DFSLINK_DFSLINK_H
#define QX_DFSLINK_DFSLINK_H

#include <jni.h>

#include "dfslink/config/options_record.h"
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

/* What the file system says of one path. The storage engine reads it directly: the fields are
 * packed to 4-byte alignment and the records of an array lie back to back. The texts are UTF-8,
 * owned by the record and given back with hdfsReleasePathInfo. */
#pragma pack(push, 4)
typedef struct hdfsPathInfo {
  int32_t kind;        /* HDFS_KIND_DIRECTORY or HDFS_KIND_FILE */
  char *name;          /* the path in text form */
  double lastModified; /* whole seconds since 1970 */
  int64_t size;        /* bytes; 0 for a directory */
  int16_t replication;
  int64_t blockSize;
  char *owner; /* or NULL */
  char *group; /* or NULL */
  int16_t permissions;
  double lastAccess; /* whole seconds since 1970 */
} hdfsPathInfo;
#pragma pack(pop)

#define HDFS_KIND_DIRECTORY 'D'
#define HDFS_KIND_FILE 'F'

typedef struct DfsLinkState DfsLinkState;

typedef struct DfsOperations {
  uint32_t (*loadEnvPaths)(DfsLinkState *dfs, QXMessageContext *context, QXPool *pool,
                           OptionsRecord *options);
  uint32_t (*loadXmlOptions)(DfsLinkState *dfs, QXMessageContext *context, QXPool *pool,
                             const QXChar *directory, int32_t directoryBytes,
                             OptionsRecord *options);
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
  int32_t (*hdfsExists)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                        hdfsFS connection, const QXChar *path);
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
  int32_t (*hdfsCopy)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS source,
                      const QXChar *sourcePath, hdfsFS destination, const QXChar *destinationPath);
  int32_t (*hdfsCopyFromLocal)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                               const QXChar *localPath, hdfsFS connection,
                               const QXChar *destinationPath, int32_t bufferSize,
                               int16_t replication, int32_t blockSize);
  int32_t (*hdfsMove)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS source,
                      const char *sourcePath, hdfsFS destination, const char *destinationPath);
  int32_t (*hdfsDelete)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                        hdfsFS connection, const QXChar *path);
  int32_t (*hdfsRename)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                        hdfsFS connection, const QXChar *oldPath, const QXChar *newPath);
  QXChar *(*hdfsGetWorkingDirectory)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                                     hdfsFS connection, QXChar *buffer, int32_t bufferSize);
  int32_t (*hdfsSetWorkingDirectory)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                                     hdfsFS connection, const QXChar *path);
  int32_t (*hdfsCreateDirectory)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                                 hdfsFS connection, const QXChar *path);
  int32_t (*hdfsSetReplication)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                                hdfsFS connection, const char *path, int16_t replication);
  int32_t (*hdfsListDirectory)(DfsLinkState *dfs, QXMessageContext *context, hdfsFS connection,
                               const QXChar *path, int32_t *count, hdfsPathInfo **entries);
  hdfsPathInfo *(*hdfsGetPathInfo)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                                   hdfsFS connection, const QXChar *path);
  void (*hdfsReleasePathInfo)(DfsLinkState *dfs, void *ignored, hdfsPathInfo *entries,
                              int32_t count);
  int32_t (*hdfsGetHosts)(DfsLinkState *dfs, QXMessageContext *context, hdfsFS connection,
                          const char *path, int64_t start, int64_t length, char ****hosts);
  void (*hdfsReleaseHosts)(DfsLinkState *dfs, void *ignored, char ***hosts);
  int64_t (*hdfsGetDefaultBlockSize)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                                     hdfsFS connection);
  int64_t (*hdfsGetCapacity)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                             hdfsFS connection);
  int64_t (*hdfsGetUsed)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                         hdfsFS connection);
  int32_t (*hdfsChown)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                       hdfsFS connection, const char *path, const char *owner, const char *group);
  int32_t (*hdfsChmod)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                       hdfsFS connection, const char *path, int16_t mode);
  int32_t (*hdfsUtime)(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                       hdfsFS connection, const char *path, double modificationTime,
                       double accessTime);
  /* Texts of the Java tools are UTF-8 (or Java's modified UTF-8); a text list ends with an
   * empty text. */
  uint32_t (*javaComp)(DfsLinkState *dfs, QXMessageContext *context, const char *const *sources,
                       const char *outputDirectory, const char *javaVersion,
                       const char *bootClassPath);
  uint32_t (*javaJar)(DfsLinkState *dfs, QXMessageContext *context, const char *jar,
                      const char *mainClass, const char *const *arguments);
  uint32_t (*javaMap)(DfsLinkState *dfs, QXMessageContext *context, const char *const *settings,
                      const char *const *arguments);
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
  int32_t keptArrayBytes; /* what the handles' kept Java arrays hold together (atomic) */
  /* Private to the module: the open handles' addresses in a hash set beside the list, so that a
   * handle is checked in constant time whatever the number open, and the number the next handle
   * opened takes (the list is in the order of these numbers). */
  FileHandle **indexSlots;
  uint32_t indexCapacity;
  uint32_t indexUsed; /* handles and the marks of removed ones */
  uint64_t nextOpening;
  int32_t reservedHandles; /* opens under way, for which the list and the set have room */
};

#ifdef __cplusplus
}
#endif

#endif
