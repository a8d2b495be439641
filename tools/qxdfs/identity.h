// Whether a copy's destination is its source, or lies inside it: asked of the file systems, never
// decided by spelling.
#pragma once

#include <string>

#include "tools/qxdfs/commands.h"

namespace qxdfs {

// A path on a file system: a connection's, or the local disk's.
struct Place {
  hdfsFS fs = nullptr;  // NULL: the local disk
  std::string path;
};

// Whether two connections reach one file system, however they name it; false when that cannot be
// told.
bool oneFileSystem(Shell &shell, hdfsFS a, hdfsFS b);

// Refuses a copy whose landing `to` is its source `from`, or lies inside `from` when that is a
// directory: one line ("`SOURCE' to `TARGET': are identical", "...: is a subdirectory of
// itself", each path as the command line shows it) and its status, or
// kSucceeded when they are apart. The local disk is asked for device and inode (the local file
// system's connection is the local disk too, through its working directory), so links and hard
// links are seen through; a cluster, reached by two connections however they name it (its
// canonical service), for its file ids, and for a path inside another by name (its paths have no
// links). Places on different file systems are apart.
int refuseOverlap(Shell &shell, const char *command, const std::string &sourceText,
                  const std::string &targetText, const Place &from, const Place &to,
                  bool fromIsDirectory);

}  // namespace qxdfs
