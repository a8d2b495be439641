// The planning of a tree copy: what a directory holds is listed first, then the directory is made
// on the other side, then what is below it; files are only listed, for the threads to copy.
#include "tools/qxdfs/tree.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/qxdfs/copying.h"
#include "tools/qxdfs/output.h"
#include "tools/qxdfs/pathdata.h"

namespace qxdfs {
namespace {

int tooDeep(const char *command, const std::string &path) {
  return localFailure(command, path, "too deep (a loop of links?)");
}

int planRemote(Shell &shell, const char *command, const Item &from, const std::string &to,
               int depth, std::vector<TreeFile> &files, const MakeDirectory &makeDirectory) {
  if (depth > kDeepest) return tooDeep(command, from.text);
  std::vector<Item> children;
  std::string error;
  if (!childrenOf(shell, from, children, error)) {
    tell(command, error);
    return kFailed;
  }
  int made = makeDirectory(to);
  int result = made;
  for (size_t i = 0; i < children.size() && made == kSucceeded; i++) {
    const Item &child = children[i];
    std::string below = joined(to, nameOf(child.path));
    if (!child.stat.directory) {
      files.push_back({child.path, below, child.stat.length, attributesOf(child.stat)});
    } else {  // a directory that fails is told, and the others go on
      result = std::max(result,
                        planRemote(shell, command, child, below, depth + 1, files, makeDirectory));
    }
  }
  return result;
}

// The names in a local directory, in name order; false with the cause.
bool namesIn(const std::string &directory, std::vector<std::string> &names, std::string &cause) {
  DIR *listing = opendir(directory.c_str());
  if (!listing) {
    cause = strerror(errno);
    return false;
  }
  errno = 0;
  for (struct dirent *entry; (entry = readdir(listing)) != nullptr; errno = 0) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  cause = errno ? strerror(errno) : "";
  closedir(listing);
  std::sort(names.begin(), names.end());
  return cause.empty();
}

using Identity = std::pair<dev_t, ino_t>;

int planLocal(const char *command, const std::string &from, const std::string &to, int depth,
              std::vector<Identity> &above, std::vector<TreeFile> &files,
              const MakeDirectory &makeDirectory) {
  if (depth > kDeepest) return tooDeep(command, from);
  struct stat directory;
  if (stat(from.c_str(), &directory) != 0) return localFailure(command, from, strerror(errno));
  Identity identity{directory.st_dev, directory.st_ino};
  if (std::find(above.begin(), above.end(), identity) != above.end()) {
    return localFailure(command, from, "a link to a directory above it (a loop)");
  }
  std::vector<std::string> names;
  std::string cause;
  if (!namesIn(from, names, cause)) return localFailure(command, from, cause);
  if (int failed = makeDirectory(to)) return failed;
  above.push_back(identity);
  int result = kSucceeded;
  for (const std::string &name : names) {
    std::string path = joined(from, name);
    struct stat entry;
    if (stat(path.c_str(), &entry) != 0) {
      result = std::max(result, localFailure(command, path, strerror(errno)));
    } else if (S_ISDIR(entry.st_mode)) {
      result = std::max(result, planLocal(command, path, joined(to, name), depth + 1, above, files,
                                          makeDirectory));
    } else if (S_ISREG(entry.st_mode)) {
      files.push_back({path, joined(to, name), static_cast<int64_t>(entry.st_size), {}});
    } else {
      result = std::max(result, localFailure(command, path, "not a regular file"));
    }
  }
  above.pop_back();
  return result;
}

}  // namespace

Attributes attributesOf(const Stat &stat) {
  return {static_cast<double>(stat.modified) / 1000, static_cast<double>(stat.accessed) / 1000,
          stat.permission, stat.owner, stat.group};
}

int planRemoteTree(Shell &shell, const char *command, const Item &from, const std::string &to,
                   std::vector<TreeFile> &files, const MakeDirectory &makeDirectory) {
  return planRemote(shell, command, from, to, 0, files, makeDirectory);
}

int planLocalTree(const char *command, const std::string &from, const std::string &to,
                  std::vector<TreeFile> &files, const MakeDirectory &makeDirectory) {
  std::vector<Identity> above;
  return planLocal(command, from, to, 0, above, files, makeDirectory);
}

std::string baseName(const std::string &path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  return trimmed.substr(trimmed.rfind('/') + 1);
}

std::string joined(const std::string &directory, const std::string &name) {
  return directory.empty() || directory.back() == '/' ? directory + name : directory + "/" + name;
}

}  // namespace qxdfs
