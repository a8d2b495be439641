// Tree copies: the planning of a tree (its directories made first, its files listed) and the
// threads its files are copied on.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/qxdfs/pathdata.h"

namespace qxdfs {

// What -p keeps of a file of a connection.
struct Attributes {
  double modified = 0, accessed = 0;
  int16_t permissions = 0;
  std::string owner, group;
};
Attributes attributesOf(const Stat &stat);

// One file of a tree copy: where from, where to, its size, and what -p keeps of it.
struct TreeFile {
  std::string from, to;
  int64_t size;
  Attributes attributes;
};

// Makes a directory of the copy; kSucceeded, or a failure's status after its line.
using MakeDirectory = std::function<int(const std::string &path)>;

// Plans the copy of a directory of a connection into `to`: each directory below is made by
// makeDirectory before what it holds, each file is listed. A directory that cannot be read or
// made gets its line and the rest goes on. The worst status.
int planRemoteTree(Shell &shell, const char *command, const Item &from, const std::string &to,
                   std::vector<TreeFile> &files, const MakeDirectory &makeDirectory);
// The same for a directory of the local disk; a link to a directory is followed, but a link back
// to a directory above is refused, not followed round.
int planLocalTree(const char *command, const std::string &from, const std::string &to,
                  std::vector<TreeFile> &files, const MakeDirectory &makeDirectory);

// Copies the files of a tree on several threads (-t N, else one for each core), each thread
// telling its failures in lines of its own, with one progress line for the whole tree; the
// worst status once every file had its turn.
int copyFiles(Shell &shell, const char *command, const std::string &name,
              const std::vector<TreeFile> &files,
              const std::function<int(Shell &worker, const TreeFile &file)> &copyFile);

// A path's last name and a name below a directory.
std::string baseName(const std::string &path);
std::string joined(const std::string &directory, const std::string &name);

}  // namespace qxdfs
