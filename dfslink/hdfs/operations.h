// The operations of the file-system module's table.
#pragma once

#include "dfslink/internal.h"

namespace dfs {

int32_t hdfsConnectAsUser(DfsLinkState *dfs, QXMessageContext *context, const QXChar *host,
                          uint16_t port, const QXChar *user, hdfsFS *connection);
int32_t hdfsConnectDefaultUser(DfsLinkState *dfs, QXMessageContext *context, const QXChar *host,
                               uint16_t port, hdfsFS *connection);
int32_t hdfsDisconnect(DfsLinkState *dfs, QXMessageContext *context, hdfsFS connection);
FileHandle *hdfsOpenFile(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                         hdfsFS connection, const QXChar *path, int32_t flags, int32_t bufferSize,
                         int16_t replication, int32_t blockSize);
int32_t hdfsCloseFile(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                      hdfsFS connection, FileHandle *file);
int32_t hdfsSeek(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS connection,
                 FileHandle *file, int64_t position);
int64_t hdfsTell(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS connection,
                 FileHandle *file);
int32_t hdfsRead(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS connection,
                 FileHandle *file, void *buffer, int32_t length);
int32_t hdfsPread(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS connection,
                  FileHandle *file, int64_t position, void *buffer, int32_t length);
int32_t hdfsPread_jb(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                     hdfsFS connection, FileHandle *file, int64_t position, jbyteArray *array,
                     int32_t offset, int32_t length);
int32_t hdfsWrite(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS connection,
                  FileHandle *file, const void *buffer, int32_t length);
int32_t hdfsWrite_jb(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                     hdfsFS connection, FileHandle *file, jbyteArray array, int32_t offset,
                     int32_t length);
int32_t hdfsFlush(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS connection,
                  FileHandle *file);
int32_t hdfsAvailable(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                      hdfsFS connection, FileHandle *file);

int32_t hdfsExists(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS connection,
                   const QXChar *path);
int32_t hdfsDelete(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS connection,
                   const QXChar *path);
int32_t hdfsRename(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS connection,
                   const QXChar *oldPath, const QXChar *newPath);
QXChar *hdfsGetWorkingDirectory(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                                hdfsFS connection, QXChar *buffer, int32_t bufferSize);
int32_t hdfsSetWorkingDirectory(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                                hdfsFS connection, const QXChar *path);
int32_t hdfsCreateDirectory(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                            hdfsFS connection, const QXChar *path);
int32_t hdfsSetReplication(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                           hdfsFS connection, const char *path, int16_t replication);
int32_t hdfsChown(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS connection,
                  const char *path, const char *owner, const char *group);
int32_t hdfsChmod(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS connection,
                  const char *path, int16_t mode);
int32_t hdfsUtime(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS connection,
                  const char *path, double modificationTime, double accessTime);
int64_t hdfsGetCapacity(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                        hdfsFS connection);
int64_t hdfsGetUsed(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                    hdfsFS connection);
int64_t hdfsGetDefaultBlockSize(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                                hdfsFS connection);

int32_t hdfsListDirectory(DfsLinkState *dfs, QXMessageContext *context, hdfsFS connection,
                          const QXChar *path, int32_t *count, hdfsPathInfo **entries);
hdfsPathInfo *hdfsGetPathInfo(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                              hdfsFS connection, const QXChar *path);
void hdfsReleasePathInfo(DfsLinkState *dfs, void *ignored, hdfsPathInfo *entries, int32_t count);
int32_t hdfsGetHosts(DfsLinkState *dfs, QXMessageContext *context, hdfsFS connection,
                     const char *path, int64_t start, int64_t length, char ****hosts);
void hdfsReleaseHosts(DfsLinkState *dfs, void *ignored, char ***hosts);

int32_t hdfsCopy(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS source,
                 const QXChar *sourcePath, hdfsFS destination, const QXChar *destinationPath);
int32_t hdfsMove(DfsLinkState *dfs, QXMessageContext *context, int32_t *status, hdfsFS source,
                 const char *sourcePath, hdfsFS destination, const char *destinationPath);
int32_t hdfsCopyFromLocal(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                          const QXChar *localPath, hdfsFS connection, const QXChar *destinationPath,
                          int32_t bufferSize, int16_t replication, int32_t blockSize);

uint32_t loadEnvPaths(DfsLinkState *dfs, QXMessageContext *context, QXPool *pool,
                      OptionsRecord *options);
uint32_t loadXmlOptions(DfsLinkState *dfs, QXMessageContext *context, QXPool *pool,
                        const QXChar *directory, int32_t directoryBytes, OptionsRecord *options);

}  // namespace dfs
