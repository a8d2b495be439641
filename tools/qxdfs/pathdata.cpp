#include "tools/qxdfs/pathdata.h"

#include <algorithm>
#include <cstring>

#include "tools/qxdfs/java.h"

namespace qxdfs {
namespace {

const char kFileSystemClass[] = "org/apache/hadoop/fs/FileSystem";
const char kPathClass[] = "org/apache/hadoop/fs/Path";
const char kStatusClass[] = "org/apache/hadoop/fs/FileStatus";
const char kUriClass[] = "java/net/URI";

// A path's text split as Hadoop's shell splits it (PathData.stringToUri): a scheme only where a
// slash follows its colon, an authority after "//".
struct UriParts {
  std::string scheme, authority, path;
  bool hasAuthority = false;
};

UriParts partsOf(const std::string &text) {
  UriParts parts;
  size_t start = 0, colon = text.find(':'), slash = text.find('/');
  if (colon != std::string::npos && colon > 0 && slash == colon + 1) {
    parts.scheme = text.substr(0, colon);
    start = colon + 1;
  }
  if (text.compare(start, 2, "//") == 0 && text.size() - start > 2) {
    start += 2;
    size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    parts.authority = text.substr(start, end - start);
    parts.hasAuthority = !parts.authority.empty();
    start = end;
  }
  parts.path = text.substr(start);
  return parts;
}

bool sameText(const std::string &a, const std::string &b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// A pattern's text with its quoting backslashes taken out: what a path that is not there is
// shown as.
std::string unquoted(const std::string &pattern) {
  std::string text;
  for (size_t i = 0; i < pattern.size(); i++) {
    if (pattern[i] == '\\' && i + 1 < pattern.size()) i++;
    text += pattern[i];
  }
  return text;
}

std::string stringOf(Java &java, jobject target, const char *type, const char *method) {
  LocalRef<jobject> text = java.call(target, type, method, "()Ljava/lang/String;");
  return java.text(text.get());
}

// How a pattern names its matches: with its scheme, as an absolute path, or relative to the
// working directory (PathData's PathType).
enum class Naming { kWithScheme, kAbsolute, kRelative };

// The longest run of whole directories a path shares with the working directory, as Hadoop's
// shell finds it.
int longestDirectoryPrefix(std::string cwd, std::string path, bool directory) {
  if (cwd.empty() || cwd.back() != '/') cwd += '/';
  if (directory && (path.empty() || path.back() != '/')) path += '/';
  int last = -1;
  for (size_t i = 0; i < std::min(cwd.size(), path.size()) && cwd[i] == path[i]; i++) {
    if (cwd[i] == '/') last = static_cast<int>(i);
  }
  return last;
}

// A match's path relative to the working directory, as Hadoop's shell shows it.
std::string relativized(const std::string &cwd, const std::string &path, bool directory) {
  if (cwd == path) return ".";
  int last = longestDirectoryPrefix(cwd, path, directory);
  std::string relative;
  if (last + 1 < static_cast<int>(path.size()))
    relative = path.substr(static_cast<size_t>(last) + 1);
  if (last < static_cast<int>(cwd.size())) {
    for (size_t at = static_cast<size_t>(last); at != std::string::npos;
         at = cwd.find('/', at + 1)) {
      relative = relative.empty() ? ".." : "../" + relative;
    }
  }
  return relative;
}

// The text a match is shown as, by how its pattern named it.
std::string shownMatch(Java &java, jobject matchPath, Naming naming, bool patternHasAuthority,
                       const std::string &cwd, bool directory) {
  LocalRef<jobject> uri = java.call(matchPath, kPathClass, "toUri", "()Ljava/net/URI;");
  std::string path = stringOf(java, uri.get(), kUriClass, "getPath");
  if (naming == Naming::kAbsolute) return path;
  if (naming == Naming::kRelative) return relativized(cwd, path, directory);
  std::string scheme = stringOf(java, uri.get(), kUriClass, "getScheme");
  std::string authority = stringOf(java, uri.get(), kUriClass, "getAuthority");
  if (!patternHasAuthority) return scheme + ":///" + (path.empty() ? "" : path.substr(1));
  return scheme + ":" + (authority.empty() ? "" : "//" + authority) + path;
}

// The working directory's path, for relative matches.
std::string workingDirectory(Java &java, hdfsFS fs) {
  LocalRef<jobject> directory =
      java.call(fs, kFileSystemClass, "getWorkingDirectory", "()Lorg/apache/hadoop/fs/Path;");
  LocalRef<jobject> uri = java.call(directory.get(), kPathClass, "toUri", "()Ljava/net/URI;");
  return stringOf(java, uri.get(), kUriClass, "getPath");
}

// The statuses of a Java FileStatus array, each with its path's text.
void takeStatuses(Java &java, jobjectArray statuses,
                  std::vector<std::pair<Stat, LocalRef<jobject>>> &taken) {
  JNIEnv *env = java.env();
  jsize count = java && statuses ? env->GetArrayLength(statuses) : 0;
  for (jsize i = 0; i < count && java; i++) {
    LocalRef<jobject> status(env, env->GetObjectArrayElement(statuses, i));
    LocalRef<jobject> path =
        java.call(status.get(), kStatusClass, "getPath", "()Lorg/apache/hadoop/fs/Path;");
    taken.emplace_back(statOf(java, status.get()), std::move(path));
  }
}

void sortByPath(std::vector<Item> &items) {
  std::sort(items.begin(), items.end(),
            [](const Item &a, const Item &b) { return a.path < b.path; });
}

}  // namespace

hdfsFS fileSystemOf(Shell &shell, const std::string &text, std::string &error, Reach *reach) {
  if (reach) *reach = Reach::kCommand;
  UriParts parts = partsOf(text);
  if (parts.scheme.empty()) return shell.fs;
  if (parts.scheme == "file") return localConnection(shell);
  UriParts named = partsOf(shell.session.uriOf(shell.fs));
  if (sameText(parts.scheme, named.scheme) &&
      (parts.authority.empty() || sameText(parts.authority, named.authority))) {
    return shell.fs;
  }
  if (parts.scheme != "hdfs") {
    error = "No FileSystem for scheme \"" + parts.scheme + "\"";
    return nullptr;
  }
  if (parts.authority.empty()) {
    error = "Incomplete HDFS URI, no host: " + text;
    return nullptr;
  }
  Target target;
  error = parseTarget("hdfs://" + parts.authority, target);
  if (!error.empty()) error = pathError(text, error);
  hdfsFS fs = error.empty() ? shell.session.connect(target, shell.user, &error) : nullptr;
  // Hadoop's client throws an unknown host as an illegal argument, which its shell takes as a
  // usage error.
  if (!fs && reach && error.rfind("java.net.UnknownHostException", 0) == 0) *reach = Reach::kUsage;
  return fs;
}

Stat statOf(Java &java, jobject status) {
  Stat stat;
  stat.directory = java.value<jboolean>(status, kStatusClass, "isDirectory", "()Z");
  stat.length = java.value<jlong>(status, kStatusClass, "getLen", "()J");
  stat.blockSize = java.value<jlong>(status, kStatusClass, "getBlockSize", "()J");
  stat.replication = java.value<jshort>(status, kStatusClass, "getReplication", "()S");
  stat.modified = java.value<jlong>(status, kStatusClass, "getModificationTime", "()J");
  stat.accessed = java.value<jlong>(status, kStatusClass, "getAccessTime", "()J");
  stat.acl = java.value<jboolean>(status, kStatusClass, "hasAcl", "()Z");
  stat.owner = stringOf(java, status, kStatusClass, "getOwner");
  stat.group = stringOf(java, status, kStatusClass, "getGroup");
  LocalRef<jobject> permission = java.call(status, kStatusClass, "getPermission",
                                           "()Lorg/apache/hadoop/fs/permission/FsPermission;");
  stat.permission = java.value<jshort>(
      permission.get(), "org/apache/hadoop/fs/permission/FsPermission", "toShort", "()S");
  return stat;
}

bool expand(Shell &shell, const std::string &argument, std::vector<Item> &items, std::string &error,
            Reach &reach) {
  hdfsFS fs = fileSystemOf(shell, argument, error, &reach);
  if (!fs) return false;
  Java java(shell.session);
  LocalRef<jobject> pattern = java.path(argument);
  LocalRef<jobject> found =
      java.call(fs, kFileSystemClass, "globStatus",
                "(Lorg/apache/hadoop/fs/Path;)[Lorg/apache/hadoop/fs/FileStatus;", pattern.get());
  if (java && !found) {  // no pattern, and nothing there
    std::string text = unquoted(argument);
    items.push_back({text, fs, text, false, {}});
    return true;
  }
  std::vector<std::pair<Stat, LocalRef<jobject>>> matches;
  takeStatuses(java, static_cast<jobjectArray>(found.get()), matches);
  if (java && matches.empty()) {
    error = "`" + argument + "': No such file or directory";
    reach = Reach::kArgument;
    return false;
  }
  UriParts parts = partsOf(argument);
  Naming naming = !parts.scheme.empty()                         ? Naming::kWithScheme
                  : !parts.path.empty() && parts.path[0] == '/' ? Naming::kAbsolute
                                                                : Naming::kRelative;
  std::string cwd = naming == Naming::kRelative ? workingDirectory(java, fs) : "";
  size_t first = items.size();
  for (auto &[stat, path] : matches) {
    std::string shown =
        shownMatch(java, path.get(), naming, parts.hasAuthority, cwd, stat.directory);
    LocalRef<jobject> text = java.call(path.get(), kPathClass, "toString", "()Ljava/lang/String;");
    items.push_back({shown, fs, java.text(text.get()), true, stat});
  }
  if (!java) {
    items.resize(first);
    error = java.error();
    reach = java.illegal() ? Reach::kUsage : Reach::kCommand;
    return false;
  }
  std::vector<Item> made(items.begin() + static_cast<long>(first), items.end());
  sortByPath(made);
  std::copy(made.begin(), made.end(), items.begin() + static_cast<long>(first));
  return true;
}

bool refresh(Shell &shell, Item &item, std::string &error) {
  Java java(shell.session);
  LocalRef<jobject> path = java.path(item.path);
  LocalRef<jobject> status =
      java.call(item.fs, kFileSystemClass, "getFileStatus",
                "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/FileStatus;", path.get());
  item.exists = static_cast<bool>(java);
  if (item.exists) item.stat = statOf(java, status.get());
  if (!java && !java.notFound()) {
    error = java.error();
    return false;
  }
  return true;
}

bool itemOf(Shell &shell, const std::string &text, Item &item, std::string &error) {
  item = Item{text, fileSystemOf(shell, text, error), text, false, {}};
  return item.fs && refresh(shell, item, error);
}

bool childrenOf(Shell &shell, const Item &directory, std::vector<Item> &children,
                std::string &error) {
  Java java(shell.session);
  LocalRef<jobject> path = java.path(directory.path);
  LocalRef<jobject> listed =
      java.call(directory.fs, kFileSystemClass, "listStatus",
                "(Lorg/apache/hadoop/fs/Path;)[Lorg/apache/hadoop/fs/FileStatus;", path.get());
  std::vector<std::pair<Stat, LocalRef<jobject>>> entries;
  takeStatuses(java, static_cast<jobjectArray>(listed.get()), entries);
  for (auto &[stat, entry] : entries) {
    LocalRef<jobject> text = java.call(entry.get(), kPathClass, "toString", "()Ljava/lang/String;");
    Item child = childOf(shell, directory, nameOf(java.text(text.get())));
    child.path = java.text(text.get());
    child.exists = true;
    child.stat = stat;
    children.push_back(child);
  }
  if (!java) {
    error = java.error();
    return false;
  }
  sortByPath(children);
  return true;
}

Item childOf(Shell &, const Item &directory, const std::string &name) {
  Item child;
  child.fs = directory.fs;
  if (directory.text == ".") {
    child.text = name;
  } else {
    std::string path = partsOf(directory.text).path;
    child.text = directory.text + (!path.empty() && path.back() == '/' ? "" : "/") + name;
  }
  child.path =
      directory.path + (!directory.path.empty() && directory.path.back() == '/' ? "" : "/") + name;
  return child;
}

std::string qualified(Shell &shell, const Item &item) {
  Java java(shell.session);
  LocalRef<jobject> path = java.path(item.path);
  LocalRef<jobject> full =
      java.call(item.fs, kFileSystemClass, "makeQualified",
                "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/Path;", path.get());
  LocalRef<jobject> uri = java.call(full.get(), kPathClass, "toUri", "()Ljava/net/URI;");
  std::string text = stringOf(java, uri.get(), kUriClass, "toString");
  return java ? text : item.text;
}

bool parentExists(Shell &shell, const Item &item, Parent which, bool &exists, std::string &parent,
                  std::string &error) {
  Java java(shell.session);
  LocalRef<jobject> given = java.path(item.path);
  LocalRef<jobject> path =
      java.call(item.fs, kFileSystemClass, "makeQualified",
                "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/Path;", given.get());
  LocalRef<jobject> above =
      which == Parent::ByForm && representsDirectory(item)
          ? std::move(path)
          : java.call(path.get(), kPathClass, "getParent", "()Lorg/apache/hadoop/fs/Path;");
  exists = !above || java.value<jboolean>(item.fs, kFileSystemClass, "exists",
                                          "(Lorg/apache/hadoop/fs/Path;)Z", above.get());
  parent = above ? stringOf(java, above.get(), kPathClass, "toString") : "";
  if (!java) error = java.error();
  return static_cast<bool>(java);
}

bool representsDirectory(const Item &item) {
  std::string name = nameOf(partsOf(item.text).path);
  return name.empty() || name == "." || name == "..";
}

std::string nameOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace qxdfs
