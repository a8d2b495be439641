// The one way every writer of qxdfs writes a file: into a hidden file beside its destination,
// renamed over the destination after the last byte.
#pragma once

#include <functional>
#include <string>

#include "tools/qxdfs/copying.h"

namespace qxdfs {

// Where a writer's file goes.
struct Destination {
  hdfsFS fs = nullptr;   // NULL: the local disk
  std::string path;      // a file's path (never a directory to go into)
  bool replace = false;  // what is there may be replaced (-f)
  std::string shown;     // the destination as the command line shows it ("" for path)
  const std::string &text() const { return shown.empty() ? path : shown; }
};

// What fill answers when its Writer failed: writeBeside tells why.
constexpr int kWriteFailed = -1;

// Writes a destination through fill, which writes its bytes with the Writer it is given and
// returns kSucceeded, kWriteFailed or, after the failure's line, its status. The destination must
// not be a directory, must not be there unless it may be replaced, and must have its directory:
// else one line and nothing is written. A failure, an interruption or a full disk removes the
// hidden file and leaves the destination as it was, with one line naming the cause. The command's
// status.
int writeBeside(Shell &shell, const char *command, const Destination &to,
                const std::function<int(const Writer &)> &fill);

// The directory a destination goes in is there and is a directory: a copy never makes the
// directories of a mistyped path. kSucceeded, or the failure's status after its line.
int checkParent(Shell &shell, const char *command, const Destination &to);

}  // namespace qxdfs
