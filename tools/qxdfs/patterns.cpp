#include "tools/qxdfs/patterns.h"

#include <algorithm>

#include "tools/qxdfs/java.h"

namespace qxdfs {
namespace {

// The file-system prefix a pattern names ("hdfs://host:port", "file://"), kept on each match so
// that the command reaches the same file system.
std::string prefixOf(const std::string &text, const Location &location) {
  if (!location.ownTarget || text.size() < location.path.size()) return "";
  return text.substr(0, text.size() - location.path.size());
}

// The paths a pattern matches on a connection, sorted as Hadoop's shell sorts them; false with
// the cause.
bool matching(Shell &shell, hdfsFS fs, const std::string &pattern, const std::string &prefix,
              std::vector<std::string> &matches, std::string &cause) {
  Java java(shell.session);
  LocalRef<jobject> path = java.path(pattern);
  LocalRef<jobject> found =
      java.call(fs, "org/apache/hadoop/fs/FileSystem", "globStatus",
                "(Lorg/apache/hadoop/fs/Path;)[Lorg/apache/hadoop/fs/FileStatus;", path.get());
  JNIEnv *env = java.env();
  auto statuses = static_cast<jobjectArray>(found.get());
  jsize count = java && statuses ? env->GetArrayLength(statuses) : 0;
  size_t first = matches.size();
  for (jsize i = 0; i < count && java; i++) {
    LocalRef<jobject> status(env, env->GetObjectArrayElement(statuses, i));
    LocalRef<jobject> matched = java.call(status.get(), "org/apache/hadoop/fs/FileStatus",
                                          "getPath", "()Lorg/apache/hadoop/fs/Path;");
    LocalRef<jobject> uri =
        java.call(matched.get(), "org/apache/hadoop/fs/Path", "toUri", "()Ljava/net/URI;");
    LocalRef<jobject> text =
        java.call(uri.get(), "java/net/URI", "getPath", "()Ljava/lang/String;");
    if (java) matches.push_back(prefix + java.text(text.get()));
  }
  std::sort(matches.begin() + static_cast<long>(first), matches.end());
  if (!java) cause = java.error();
  if (java && matches.size() == first) cause = kNoSuchPath;
  return cause.empty();
}

// The connection a path argument is read on: its own file system's when it names one, the local
// file system for the local side of put and get, else the command line's.
hdfsFS connectionFor(Shell &shell, const Location &location, bool local) {
  if (location.ownTarget) return connectionOf(shell, location);
  return local ? localConnection(shell) : shell.fs;
}

// Whether the operand at index is a path and on which side: the local side of put and
// appendToFile (all but the last) and of get and getmerge (the last).
bool isPathOperand(const Command &command, size_t index, size_t count, bool &local) {
  bool last = index + 1 == count;
  local = (command.operands == Operands::kLocalsThenPath && !last) ||
          (command.operands == Operands::kPathsThenLocal && last);
  if (command.operands == Operands::kNone || index < command.fixed) return false;
  if (command.operands == Operands::kFirstPath) return index == command.fixed;
  // A destination names where things go, not what is there.
  bool destination = last && count > 1 && command.operands != Operands::kPaths;
  return !destination;
}

}  // namespace

bool isPattern(const std::string &text) {
  return text.find_first_of("*?[{\\") != std::string::npos;
}

bool expandOperands(Shell &shell, const Command &command, std::vector<std::string> &operands) {
  std::vector<std::string> expanded;
  for (size_t i = 0; i < operands.size(); i++) {
    const std::string &operand = operands[i];
    bool local = false;
    if (!isPathOperand(command, i, operands.size(), local) || !isPattern(operand)) {
      expanded.push_back(operand);
      continue;
    }
    Location location = parseLocation(operand);
    hdfsFS fs = location.error.empty() ? connectionFor(shell, location, local) : nullptr;
    std::string cause = location.error;
    if (!fs && cause.empty()) return false;  // the connect told its failure
    if (fs && matching(shell, fs, location.path, prefixOf(operand, location), expanded, cause)) {
      continue;
    }
    fprintf(stderr, "qxdfs: %s: %s: %s\n", command.name, operand.c_str(), cause.c_str());
    return false;
  }
  operands = std::move(expanded);
  return true;
}

}  // namespace qxdfs
