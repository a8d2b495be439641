// The commands that describe what is there without changing it (du, count, find, test, checksum,
// stat with a format) and rmdir, through dfslink's operations and, for what they lack, Hadoop's
// client (content summaries, checksums, name patterns).
#include <algorithm>
#include <cstdio>

#include "tools/qxdfs/commands.h"
#include "tools/qxdfs/java.h"
#include "tools/qxdfs/output.h"

namespace qxdfs {
namespace {

const char kFileSystemClass[] = "org/apache/hadoop/fs/FileSystem";
const char kSummaryClass[] = "org/apache/hadoop/fs/ContentSummary";
const char kGlobClass[] = "org/apache/hadoop/fs/GlobPattern";

// What getContentSummary tells of a path.
struct Summary {
  std::string path;
  jlong bytes = 0, consumed = 0, files = 0, directories = 0, quota = -1, spaceQuota = -1;
};

bool summarize(Shell &shell, const char *command, Summary &summary) {
  Java java(shell.session);
  LocalRef<jobject> path = java.path(summary.path);
  LocalRef<jobject> content =
      java.call(shell.fs, kFileSystemClass, "getContentSummary",
                "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/ContentSummary;", path.get());
  auto number = [&](const char *method) {
    return java.value<jlong>(content.get(), kSummaryClass, method, "()J");
  };
  summary.bytes = number("getLength");
  summary.consumed = number("getSpaceConsumed");
  summary.files = number("getFileCount");
  summary.directories = number("getDirectoryCount");
  summary.quota = number("getQuota");
  summary.spaceQuota = number("getSpaceQuota");
  if (java) return true;
  fprintf(stderr, "qxdfs: %s: %s: %s\n", command, summary.path.c_str(), java.error().c_str());
  return false;
}

// The paths du reports for an argument: the argument itself with -s or when it is a file, else
// what its directory holds.
bool duPaths(Shell &shell, const std::string &path, std::vector<std::string> &paths) {
  hdfsPathInfo *info = infoOf(shell, "du", path);
  if (!info) return false;
  bool directory = info->kind == HDFS_KIND_DIRECTORY;
  release(shell, info, 1);
  if (!directory || shell.flag('s')) {
    paths.push_back(path);
    return true;
  }
  hdfsPathInfo *entries = nullptr;
  int32_t count = 0;
  if (!listOf(shell, "du", path, entries, count)) return false;
  for (int32_t i = 0; i < count; i++) paths.push_back(shortName(entries[i].name));
  release(shell, entries, count);
  return true;
}

}  // namespace

int diskUsage(Shell &shell, const std::vector<std::string> &arguments) {
  std::vector<std::string> json;
  int status = kSucceeded;
  for (const std::string &argument : arguments) {
    std::vector<std::string> paths;
    if (!duPaths(shell, argument, paths)) status = kFailed;
    for (const std::string &path : paths) {
      Summary summary{path};
      if (!summarize(shell, "du", summary)) {
        status = kFailed;
      } else if (shell.json) {
        json.push_back("{\"path\":" + jsonText(path) +
                       ",\"size\":" + std::to_string(summary.bytes) +
                       ",\"spaceConsumed\":" + std::to_string(summary.consumed) + "}");
      } else {
        printf("%-12s  %-12s  %s\n", sizeText(shell, summary.bytes).c_str(),
               sizeText(shell, summary.consumed).c_str(), path.c_str());
      }
    }
  }
  if (shell.json) printf("{\"entries\":%s}\n", jsonArray(json).c_str());
  return status;
}

namespace {

// A quota as Hadoop's count -q prints it: "none" when there is none, the rest "inf".
std::string quotaText(const Shell &shell, jlong quota, jlong used, bool remaining) {
  if (quota < 0) return remaining ? "inf" : "none";
  return sizeText(shell, remaining ? quota - used : quota);
}

}  // namespace

int countPaths(Shell &shell, const std::vector<std::string> &arguments) {
  std::vector<std::string> json;
  int status = forEach(arguments, [&](const std::string &path) {
    Summary summary{path};
    hdfsPathInfo *info = infoOf(shell, "count", path);
    if (!info) return kFailed;
    release(shell, info, 1);
    if (!summarize(shell, "count", summary)) return kFailed;
    jlong names = summary.files + summary.directories;
    if (shell.json) {
      std::string quotas = shell.flag('q')
                               ? ",\"quota\":" + std::to_string(summary.quota) +
                                     ",\"spaceQuota\":" + std::to_string(summary.spaceQuota)
                               : "";
      json.push_back("{\"path\":" + jsonText(path) +
                     ",\"directories\":" + std::to_string(summary.directories) +
                     ",\"files\":" + std::to_string(summary.files) +
                     ",\"bytes\":" + std::to_string(summary.bytes) + quotas + "}");
      return kSucceeded;
    }
    if (shell.flag('q')) {
      printf("%12s %15s %15s %15s ", quotaText(shell, summary.quota, names, false).c_str(),
             quotaText(shell, summary.quota, names, true).c_str(),
             quotaText(shell, summary.spaceQuota, summary.consumed, false).c_str(),
             quotaText(shell, summary.spaceQuota, summary.consumed, true).c_str());
    }
    printf("%12lld %12lld %18s %s\n", static_cast<long long>(summary.directories),
           static_cast<long long>(summary.files), sizeText(shell, summary.bytes).c_str(),
           path.c_str());
    return kSucceeded;
  });
  if (shell.json) printf("{\"entries\":%s}\n", jsonArray(json).c_str());
  return status;
}

// test -e|-d|-f|-s|-z PATH: the answer is the exit status alone.
int testPath(Shell &shell, const std::vector<std::string> &arguments) {
  if (shell.flags.size() != 1) {
    fprintf(stderr, "qxdfs: test: one of -e, -d, -f, -s, -z\n");
    return kUsage;
  }
  hdfsPathInfo *info = peek(shell, arguments[0]);
  shell.session.forget();
  if (!info) return kFailed;
  bool directory = info->kind == HDFS_KIND_DIRECTORY;
  int64_t size = info->size;
  release(shell, info, 1);
  switch (shell.flags[0]) {
    case 'd':
      return directory ? kSucceeded : kFailed;
    case 'f':
      return directory ? kFailed : kSucceeded;
    case 's':
      return size > 0 ? kSucceeded : kFailed;
    case 'z':
      return size == 0 ? kSucceeded : kFailed;
    default:
      return kSucceeded;  // -e
  }
}

namespace {

std::string hexText(JNIEnv *env, jbyteArray bytes) {
  std::string text;
  jsize length = bytes ? env->GetArrayLength(bytes) : 0;
  std::vector<jbyte> raw(static_cast<size_t>(length));
  if (length) env->GetByteArrayRegion(bytes, 0, length, raw.data());
  char digits[3];
  for (jbyte byte : raw) {
    snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(byte));
    text += digits;
  }
  return text;
}

}  // namespace

int checksum(Shell &shell, const std::vector<std::string> &arguments) {
  const char *checksumClass = "org/apache/hadoop/fs/FileChecksum";
  std::vector<std::string> json;
  int status = forEach(arguments, [&](const std::string &path) {
    hdfsPathInfo *info = infoOf(shell, "checksum", path);
    if (!info) return kFailed;
    release(shell, info, 1);
    Java java(shell.session);
    LocalRef<jobject> given = java.path(path);
    LocalRef<jobject> sum =
        java.call(shell.fs, kFileSystemClass, "getFileChecksum",
                  "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/FileChecksum;", given.get());
    // A file system that keeps no checksums (the local one) answers null: NONE, as Hadoop says.
    LocalRef<jobject> algorithm =
        sum ? java.call(sum.get(), checksumClass, "getAlgorithmName", "()Ljava/lang/String;")
            : LocalRef<jobject>(java.env(), nullptr);
    LocalRef<jobject> bytes = sum ? java.call(sum.get(), checksumClass, "getBytes", "()[B")
                                  : LocalRef<jobject>(java.env(), nullptr);
    if (!java) {
      fprintf(stderr, "qxdfs: checksum: %s: %s\n", path.c_str(), java.error().c_str());
      return kFailed;
    }
    std::string name = sum ? java.text(algorithm.get()) : "NONE";
    std::string hex = hexText(java.env(), static_cast<jbyteArray>(bytes.get()));
    if (shell.json) {
      json.push_back("{\"path\":" + jsonText(path) + ",\"algorithm\":" + jsonText(name) +
                     ",\"checksum\":" + jsonText(hex) + "}");
    } else {
      printf("%s\t%s\t%s\n", path.c_str(), name.c_str(), hex.c_str());
    }
    return kSucceeded;
  });
  if (shell.json) printf("{\"entries\":%s}\n", jsonArray(json).c_str());
  return status;
}

namespace {

// find's tests: a name pattern (Hadoop's glob, matched by Hadoop's own GlobPattern) and a kind.
class FindTests {
 public:
  explicit FindTests(Shell &shell) : java_(shell.session) {}
  // Reads -name PATTERN and -type f|d; what is wrong, or "".
  std::string parse(const std::vector<std::string> &words) {
    for (size_t i = 1; i < words.size(); i += 2) {
      if (i + 1 == words.size()) return words[i] + ": missing value";
      if (words[i] == "-name") {
        LocalRef<jstring> text = java_.string(words[i + 1]);
        pattern_ = java_.make(kGlobClass, "(Ljava/lang/String;)V", text.get());
        if (!java_) return words[i + 1] + ": " + java_.error();
      } else if (words[i] == "-type" && (words[i + 1] == "f" || words[i + 1] == "d")) {
        kind_ = words[i + 1] == "d" ? HDFS_KIND_DIRECTORY : HDFS_KIND_FILE;
      } else {
        return words[i] + " " + words[i + 1] + ": not a test (-name PATTERN, -type f|d)";
      }
    }
    return "";
  }
  bool match(const std::string &path, int32_t kind) {
    if (kind_ && kind != kind_) return false;
    if (!pattern_) return true;
    LocalRef<jstring> name = java_.string(path.substr(path.rfind('/') + 1));
    return java_.value<jboolean>(pattern_.get(), kGlobClass, "matches",
                                 "(Ljava/lang/CharSequence;)Z", name.get());
  }

 private:
  Java java_;
  LocalRef<jobject> pattern_{nullptr, nullptr};
  int32_t kind_ = 0;
};

int findBelow(Shell &shell, FindTests &tests, const std::string &path, int depth,
              std::vector<std::string> &found) {
  if (depth > kDeepest) {
    fprintf(stderr, "qxdfs: find: %s: deeper than %d levels (a loop of links?)\n", path.c_str(),
            kDeepest);
    return kFailed;
  }
  hdfsPathInfo *entries = nullptr;
  int32_t count = 0;
  if (!listOf(shell, "find", path, entries, count)) return kFailed;
  int status = kSucceeded;
  for (int32_t i = 0; i < count; i++) {
    std::string child = shortName(entries[i].name);
    if (tests.match(child, entries[i].kind)) found.push_back(child);
    if (entries[i].kind == HDFS_KIND_DIRECTORY) {
      status = std::max(status, findBelow(shell, tests, child, depth + 1, found));
    }
  }
  release(shell, entries, count);
  return status;
}

}  // namespace

int findPaths(Shell &shell, const std::vector<std::string> &arguments) {
  FindTests tests(shell);
  std::string wrong = tests.parse(arguments);
  if (!wrong.empty()) {
    fprintf(stderr, "qxdfs: find: %s\n", wrong.c_str());
    return kUsage;
  }
  hdfsPathInfo *info = infoOf(shell, "find", arguments[0]);
  if (!info) return kFailed;
  std::vector<std::string> found;
  if (tests.match(shortName(info->name), info->kind)) found.push_back(arguments[0]);
  bool directory = info->kind == HDFS_KIND_DIRECTORY;
  release(shell, info, 1);
  int status = directory ? findBelow(shell, tests, arguments[0], 1, found) : kSucceeded;
  if (shell.json) {
    std::vector<std::string> quoted;
    for (const std::string &path : found) quoted.push_back(jsonText(path));
    printf("{\"paths\":%s}\n", jsonArray(quoted).c_str());
  } else {
    for (const std::string &path : found) printf("%s\n", path.c_str());
  }
  return status;
}

namespace {

// One path's information by a format of Hadoop's stat.
std::string formatted(const std::string &format, const hdfsPathInfo &info) {
  std::string text, path = shortName(info.name);
  bool directory = info.kind == HDFS_KIND_DIRECTORY;
  for (size_t i = 0; i < format.size(); i++) {
    if (format[i] != '%' || i + 1 == format.size()) {
      text += format[i];
      continue;
    }
    char mode[8];
    snprintf(mode, sizeof mode, "%o", info.permissions & 07777);
    switch (format[++i]) {
      case 'n':
        text += path.substr(path.rfind('/') + 1);
        break;
      case 'b':
      case 's':
        text += std::to_string(info.size);
        break;
      case 'r':
        text += std::to_string(directory ? 0 : info.replication);
        break;
      case 'o':
        text += std::to_string(directory ? 0 : info.blockSize);
        break;
      case 'y':
        text += utcTimeText(info.lastModified);
        break;
      case 'Y':
        text += std::to_string(static_cast<long long>(info.lastModified * 1000));
        break;
      case 'x':
        text += utcTimeText(info.lastAccess);
        break;
      case 'u':
        text += info.owner ? info.owner : "";
        break;
      case 'g':
        text += info.group ? info.group : "";
        break;
      case 'a':
        text += mode;
        break;
      case 'A':
        text += permissionText(info.permissions, info.kind).substr(1);
        break;
      case 'F':
        text += directory ? "directory" : "regular file";
        break;
      default:
        text += format.substr(i - 1, 2);
    }
  }
  return text;
}

}  // namespace

int statFormatted(Shell &shell, const std::string &format, const std::vector<std::string> &paths) {
  return forEach(paths, [&](const std::string &path) {
    hdfsPathInfo *info = infoOf(shell, "stat", path);
    if (!info) return kFailed;
    printf("%s\n", formatted(format, *info).c_str());
    release(shell, info, 1);
    return kSucceeded;
  });
}

// rmdir: only an empty directory goes.
int removeDirectory(Shell &shell, const std::vector<std::string> &paths) {
  Session &session = shell.session;
  return forEach(paths, [&](const std::string &path) {
    hdfsPathInfo *info = infoOf(shell, "rmdir", path);
    if (!info) return kFailed;
    bool directory = info->kind == HDFS_KIND_DIRECTORY;
    release(shell, info, 1);
    if (!directory) return done(shell, false, "rmdir", path, "is not a directory");
    hdfsPathInfo *entries = nullptr;
    int32_t count = 0;
    if (!listOf(shell, "rmdir", path, entries, count)) return kFailed;
    release(shell, entries, count);
    if (count > 0) return done(shell, false, "rmdir", path, "directory is not empty");
    int32_t result = 0;
    std::u16string text = qx(path);
    bool ok = session.ops().hdfsDelete(session.dfs(), session.context(), &result, shell.fs,
                                       text.c_str()) == 0;
    return done(shell, ok, "rmdir", path);
  });
}

}  // namespace qxdfs
