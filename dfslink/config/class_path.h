// The class path list of the options record: how an entry is appended, and how the text of a
// classpath element becomes entries (a jar, a directory, or the jars and class directories of a
// tree).
#pragma once

#include <cstdint>

#include "dfslink/dfslink.h"

namespace dfs {

// One level of a directory walk.
// What names a directory whatever path reaches it (a link, a bind): its device and inode, as the
// host tells them; unknown when it tells neither.
struct DirectoryIdentity {
  intptr_t device;
  intptr_t inode;
  uint8_t known;
};

struct DirectoryLevel {
  QXIoeDirectory *directory;
  QXIoeEntry *ownEntry;
  QXIoeEntryInfo *ownInfo;
  int32_t entriesRead;
  int64_t entryCount;
  uint8_t holdsClassFiles;
  DirectoryIdentity identity;  // of the directory this level lists
};

// What expanding works with: the list, where it reports, the caller's pool, the transcoder and
// the walk stack (kept for a whole document reading; freed with freeWalkStack).
struct ExpansionContext {
  ClassPathList *list;
  QXMessageContext *context;
  QXPool *pool;
  QXTranscoder *toCompiler;
  QXIoeExtension *ioe;
  DirectoryLevel *levels;
  int32_t depth;
  int32_t capacity;
};

// Appends a path (QXChar text, byte length) with its backslashes doubled, in the compiler's
// encoding and ended by NUL; 0, or a status with the list as it was.
uint32_t appendClassPathEntry(ClassPathList *list, const QXChar *path, int64_t pathBytes,
                              QXMessageContext *context, QXPool *pool, QXTranscoder *toCompiler);

// The entries of one classpath text; 0, or a status.
uint32_t expandClassPathEntry(ExpansionContext &expansion, const QXChar *text, int64_t bytes,
                              bool recurse);

void freeWalkStack(ExpansionContext &expansion);

}  // namespace dfs
