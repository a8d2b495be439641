// Path arguments as Hadoop's shell holds them (its PathData): each argument expanded as a
// pattern by its file system, each match shown the way the argument named it, and what the file
// system says is there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/qxdfs/commands.h"

namespace qxdfs {

class Java;

// What a file system says of a path (the part of Hadoop's FileStatus the shell shows).
struct Stat {
  bool directory = false;
  int64_t length = 0;
  int64_t blockSize = 0;
  int16_t replication = 0;
  int64_t modified = 0;  // milliseconds since 1970
  int64_t accessed = 0;
  int16_t permission = 0;  // with the sticky bit
  bool acl = false;
  std::string owner, group;
};

// One path the shell works on.
struct Item {
  std::string text;     // as shown: as given, as a pattern's match, or below one of those
  hdfsFS fs = nullptr;  // the file system the text names
  std::string path;     // what that file system's operations are given for it
  bool exists = false;
  Stat stat;
  bool isDirectory() const { return exists && stat.directory; }
};

// How far a failure to take an argument reaches, as in Hadoop's shell: that argument only (a
// pattern that matches nothing), the whole command (its file system cannot be had: nothing is
// done, status 1), or the command line (a name that cannot name a file system, such as an
// unknown host: a usage error).
enum class Reach { kArgument, kCommand, kUsage };

// The file system a path names by its scheme and authority ("hdfs://HOST:PORT/...",
// "file:/...", "hdfs:///..." for the default one), else the command line's; NULL with why.
hdfsFS fileSystemOf(Shell &shell, const std::string &text, std::string &error,
                    Reach *reach = nullptr);

// An argument expanded as Hadoop's shell expands it: the file system's matches of it as a
// pattern, each shown as the argument named it (with its scheme and authority, absolute, or
// relative to the working directory), in path order; a path that is not there is one item that
// does not exist. False with the error's message (a pattern that matches nothing: "`ARG': No
// such file or directory").
bool expand(Shell &shell, const std::string &argument, std::vector<Item> &items, std::string &error,
            Reach &reach);

// One path taken as it is, not as a pattern (a destination); false with the error's message.
bool itemOf(Shell &shell, const std::string &text, Item &item, std::string &error);

// Asks again what is at an item's path; false with the error's message.
bool refresh(Shell &shell, Item &item, std::string &error);

// A directory's entries, in path order, each shown below the directory as it was shown; false
// with the error's message.
bool childrenOf(Shell &shell, const Item &directory, std::vector<Item> &children,
                std::string &error);

// The item for a name below a directory item (what may not be there yet).
Item childOf(Shell &shell, const Item &directory, const std::string &name);

// An item's path as its file system qualifies it ("hdfs://HOST:PORT/user/me/a"), for messages;
// the item's text when that cannot be had.
std::string qualified(Shell &shell, const Item &item);

// Which directory an item goes in: the one above its path, or (for copies) the item itself when
// its text names a directory by its form ("d/", "."), as Hadoop's shell asks.
enum class Parent { OfPath, ByForm };

// Whether the directory an item would go in is there, and that directory's qualified path;
// false with the error's message when that cannot be told.
bool parentExists(Shell &shell, const Item &item, Parent which, bool &exists, std::string &parent,
                  std::string &error);

// Whether an item's text names a directory by its form ("", ".", ".." as its last part).
bool representsDirectory(const Item &item);

// The last part of a path's text.
std::string nameOf(const std::string &path);

// A Java FileStatus as the shell holds it.
Stat statOf(Java &java, jobject status);

}  // namespace qxdfs
