// The operations of the file-system module's table.
#pragma once

#include "dfslink/hdfs/internal.h"

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

// The entries of operations this build does not offer yet.
void fillPendingOperations(DfsOperations &table);

}  // namespace dfs
