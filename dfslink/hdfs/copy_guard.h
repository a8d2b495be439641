// What keeps a copy, a move or an upload from costing the file it replaces: the destination is
// checked against the source by what the file systems say, and a file is written beside its
// destination under a hidden name and renamed over it after the last byte.
#pragma once

#include "dfslink/internal.h"

namespace dfs {

// The names a copy is reported under.
struct CopyNames {
  const char *operation;   // "hdfsCopy"
  const char *done;        // "copied", for "nothing was copied"
  const char *methodText;  // what a failed Java call of the copy is reported as
};

// Where a copy lands, as FileUtil.copy resolves it: inside an existing directory under the
// source's name, else the destination itself.
struct Landing {
  explicit Landing(JNIEnv *env) : sourceStatus(env, nullptr), path(env, nullptr) {}
  LocalRef<jobject> sourceStatus;  // the source's FileStatus
  LocalRef<jobject> path;          // qualified
  bool sourceIsDirectory = false;
  bool existed = false;  // something was at path before the copy
};

// Resolves where a copy of source onto destination lands and refuses it when that is the source
// itself or lies inside a source directory, on the same file system however the two connections
// name it. True when the copy may go ahead; false after one line for a refusal, or after the
// report of a file system that could not answer.
bool planLanding(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, const CopyNames &names,
                 hdfsFS sourceFs, jobject source, hdfsFS destinationFs, jobject destination,
                 Landing &landing);

// Refuses an upload of a local file (named as FileInputStream opened it) onto itself, when the
// connection is the local file system; true when the two are apart.
bool localFileApart(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                    const CopyNames &names, jstring localName, hdfsFS fs, jobject destination);

// Whether a connection is the local file system.
bool isLocalFileSystem(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, hdfsFS fs);

// A new hidden name beside a qualified path (".NAME.qxcopy-RANDOM" in its directory); NULL after
// the report under the method text.
jobject besidePath(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, jobject path,
                   const char *methodText);

// Renames a file written beside its target over the target, replacing what is there in one step
// where the file system can; false after the report.
bool replaceWith(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, const CopyNames &names,
                 hdfsFS fs, jobject temporary, jobject target);

// Deletes what was written beside a target, quietly (the failure that led here is reported).
void discard(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env, hdfsFS fs, jobject path,
             bool recursive = false);

}  // namespace dfs
