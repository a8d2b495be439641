// The commands that tell what is there without changing it: ls, stat, test, find and checksum,
// in the forms Hadoop's shell prints.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "tools/qxdfs/commands.h"
#include "tools/qxdfs/java.h"
#include "tools/qxdfs/output.h"
#include "tools/qxdfs/pathdata.h"

namespace qxdfs {
namespace {

const char kFileSystemClass[] = "org/apache/hadoop/fs/FileSystem";
const char kPathType[] = "(Lorg/apache/hadoop/fs/Path;)";

// One path's information as a JSON object: sizes in bytes, times in ISO 8601 (UTC) and epoch
// milliseconds.
std::string jsonItem(const Item &item) {
  char mode[8];
  snprintf(mode, sizeof mode, "%04o", item.stat.permission & 07777);
  const Stat &stat = item.stat;
  return "{\"path\":" + jsonText(item.text) + ",\"name\":" + jsonText(nameOf(item.path)) +
         ",\"kind\":" + (stat.directory ? "\"directory\"" : "\"file\"") +
         ",\"size\":" + std::to_string(stat.length) +
         ",\"replication\":" + std::to_string(stat.replication) +
         ",\"blockSize\":" + std::to_string(stat.blockSize) + ",\"owner\":" + jsonText(stat.owner) +
         ",\"group\":" + jsonText(stat.group) + ",\"permissions\":" + jsonText(mode) + "," +
         jsonTime("modified", stat.modified) + "," + jsonTime("accessed", stat.accessed) + "}";
}

void printJson(const std::vector<std::string> &entries) {
  printf("{\"entries\":%s}\n", jsonArray(entries).c_str());
}

// "rwxr-xr-x" and the rest as Hadoop's FsPermission prints them.
std::string modeText(const Stat &stat) {
  return permissionText(stat.permission, HDFS_KIND_FILE).substr(1);
}

// What cannot be printed as "?" (ls -q).
std::string printable(const std::string &text) {
  std::string shown;
  for (unsigned char c : text) shown += c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c);
  return shown;
}

// ls: a listing as Hadoop's shell prints it, its columns as wide as their widest entry so far.
class Listing {
 public:
  explicit Listing(Shell &shell) : shell_(shell) {}

  int run(const std::vector<std::string> &arguments) {
    eachItem(shell_, arguments, [&](Item &item) {
      if (shell_.flag("e") && !ecPolicy(item)) return;
      if (!shell_.flag("d") && item.isDirectory()) {
        listDirectory(item, 0);
      } else {
        std::vector<Item> one{item};
        show(one, false);
      }
    });
    if (shell_.json) printJson(json_);
    return statusOf(shell_);
  }

 private:
  bool recursive() const { return shell_.flag("R") && !shell_.flag("d"); }
  int64_t timeOf(const Item &item) const {
    return shell_.flag("u") ? item.stat.accessed : item.stat.modified;
  }

  void listDirectory(const Item &directory, int depth) {
    if (depth >= kDeepest) {
      displayError(shell_, pathError(directory.text, "deeper than " + std::to_string(kDeepest) +
                                                         " levels (a loop of links?)"));
      return;
    }
    std::vector<Item> children;
    std::string error;
    if (!childrenOf(shell_, directory, children, error)) {
      displayError(shell_, error);
      return;
    }
    if (!recursive()) {
      if (!children.empty() && !shell_.flag("C") && !shell_.json) {
        printf("Found %zu items\n", children.size());
      }
      order(children);
      show(children, false);
      return;
    }
    // Recursive listings widen their columns a hundred entries at a time, as Hadoop's do.
    for (size_t first = 0; first < children.size(); first += 100) {
      std::vector<Item> group(
          children.begin() + static_cast<long>(first),
          children.begin() + static_cast<long>(std::min(first + 100, children.size())));
      widen(group);
      for (const Item &child : group) {
        print(child);
        if (child.isDirectory()) listDirectory(child, depth + 1);
      }
    }
  }

  void order(std::vector<Item> &items) const {
    int sign = shell_.flag("r") ? -1 : 1;
    std::stable_sort(items.begin(), items.end(), [&](const Item &a, const Item &b) {
      if (shell_.flag("t")) return sign * (timeOf(b) < timeOf(a) ? -1 : timeOf(a) < timeOf(b)) < 0;
      if (shell_.flag("S")) {
        return sign * (b.stat.length < a.stat.length ? -1 : a.stat.length < b.stat.length) < 0;
      }
      return sign * a.path.compare(b.path) < 0;
    });
  }

  void show(const std::vector<Item> &items, bool) {
    widen(items);
    for (const Item &item : items) print(item);
  }

  void widen(const std::vector<Item> &items) {
    for (const Item &item : items) {
      replication_ = std::max(replication_, std::to_string(item.stat.replication).size());
      length_ = std::max(length_, std::to_string(item.stat.length).size());
      owner_ = std::max(owner_, item.stat.owner.size());
      group_ = std::max(group_, item.stat.group.size());
      if (shell_.flag("e")) policy_ = std::max(policy_, policyOf(item).size());
    }
  }

  void print(const Item &item) {
    std::string shown = shell_.flag("q") ? printable(item.text) : item.text;
    if (shell_.json) {
      json_.push_back(jsonItem(item));
    } else if (shell_.flag("C")) {
      printf("%s\n", shown.c_str());
    } else {
      const Stat &stat = item.stat;
      std::string line =
          std::string(stat.directory ? "d" : "-") + modeText(stat) + (stat.acl ? "+" : " ") +
          padded(stat.directory ? "-" : std::to_string(stat.replication), replication_, true) +
          " " + column(stat.owner, owner_) + column(stat.group, group_);
      if (shell_.flag("e")) line += column(policyOf(item), policy_);
      line += padded(sizeText(shell_, stat.length), length_, true) + " " +
              timeText(static_cast<double>(timeOf(item)) / 1000) + " " + shown;
      printf("%s\n", line.c_str());
    }
  }

  static std::string padded(const std::string &text, size_t width, bool right) {
    std::string fill(text.size() < width ? width - text.size() : 0, ' ');
    return right ? fill + text : text + fill;
  }
  // A left-aligned column and its space; nothing at all while the column is empty.
  static std::string column(const std::string &text, size_t width) {
    return width ? padded(text, width, false) + " " : text;
  }

  // The erasure coding policy of a path ("Replicated" for a replicated one); false after the
  // failure's line where the file system has none.
  bool ecPolicy(const Item &item) {
    std::string policy = policyOf(item);
    if (!policy.empty()) return true;
    displayError(
        shell_, "FileSystem " + shell_.session.uriOf(item.fs) + " does not support Erasure Coding");
    return false;
  }
  std::string policyOf(const Item &item) {
    auto known = policies_.find(item.path);
    if (known != policies_.end()) return known->second;
    Java java(shell_.session);
    LocalRef<jobject> path = java.path(item.path);
    LocalRef<jobject> summary = java.call(
        item.fs, kFileSystemClass, "getContentSummary",
        (std::string(kPathType) + "Lorg/apache/hadoop/fs/ContentSummary;").c_str(), path.get());
    LocalRef<jobject> policy = java.call(summary.get(), "org/apache/hadoop/fs/ContentSummary",
                                         "getErasureCodingPolicy", "()Ljava/lang/String;");
    return policies_[item.path] = java.text(policy.get());
  }

  Shell &shell_;
  size_t replication_ = 3, length_ = 10, owner_ = 0, group_ = 0, policy_ = 0;
  std::map<std::string, std::string> policies_;
  std::vector<std::string> json_;
};

// One path's information by a format of Hadoop's stat.
std::string formatted(const std::string &format, const Item &item) {
  const Stat &stat = item.stat;
  std::string text;
  for (size_t i = 0; i < format.size(); i++) {
    if (format[i] != '%') {
      text += format[i];
      continue;
    }
    if (++i == format.size()) break;  // a trailing % is dropped, as Hadoop drops it
    int mode = stat.permission;
    switch (format[i]) {
      case 'a':
        text += std::to_string((mode >> 9 & 1) * 1000 + (mode >> 6 & 7) * 100 +
                               (mode >> 3 & 7) * 10 + (mode & 7));
        break;
      case 'A':
        text += modeText(stat);
        break;
      case 'b':
        text += std::to_string(stat.length);
        break;
      case 'F':
        text += stat.directory ? "directory" : "regular file";
        break;
      case 'g':
        text += stat.group;
        break;
      case 'n':
        text += nameOf(item.path);
        break;
      case 'o':
        text += std::to_string(stat.blockSize);
        break;
      case 'r':
        text += std::to_string(stat.replication);
        break;
      case 'u':
        text += stat.owner;
        break;
      case 'x':
        text += utcTimeText(static_cast<double>(stat.accessed) / 1000);
        break;
      case 'X':
        text += std::to_string(stat.accessed);
        break;
      case 'y':
        text += utcTimeText(static_cast<double>(stat.modified) / 1000);
        break;
      case 'Y':
        text += std::to_string(stat.modified);
        break;
      default:
        text += format[i];
    }
  }
  return text;
}

// find's expression: -name and -iname patterns (Hadoop's glob, matched by Hadoop's own
// GlobPattern), all of which must match, and what is printed after each path.
class FindExpression {
 public:
  explicit FindExpression(Shell &shell) : java_(shell.session) {}

  // Reads the expression; what is wrong with it, or "".
  std::string parse(const std::vector<std::string> &words) {
    for (size_t i = 0; i < words.size(); i++) {
      const std::string &word = words[i];
      if (word == "-print" || word == "-print0") {
        end_ = word == "-print" ? '\n' : '\0';
      } else if (word == "-a" || word == "-and") {
        continue;
      } else if (word == "-name" || word == "-iname") {
        if (i + 1 == words.size()) return "missing argument to " + word;
        bool folded = word == "-iname";
        LocalRef<jstring> text = java_.string(folded ? lowered(words[++i]) : words[++i]);
        patterns_.emplace_back(
            java_.make("org/apache/hadoop/fs/GlobPattern", "(Ljava/lang/String;)V", text.get()),
            folded);
        if (!java_) return words[i] + ": " + java_.error();
      } else {
        return "Unexpected argument: " + word;
      }
    }
    return "";
  }

  bool matches(const Item &item) {
    for (const auto &[pattern, folded] : patterns_) {
      std::string name = nameOf(item.path);
      LocalRef<jstring> text = java_.string(folded ? lowered(name) : name);
      if (!java_.value<jboolean>(pattern.get(), "org/apache/hadoop/fs/GlobPattern", "matches",
                                 "(Ljava/lang/CharSequence;)Z", text.get())) {
        return false;
      }
    }
    return true;
  }
  char end() const { return end_; }

 private:
  static std::string lowered(std::string text) {
    for (char &c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
  }
  Java java_;
  std::vector<std::pair<LocalRef<jobject>, bool>> patterns_;
  char end_ = '\n';
};

// Whether this user may do an action on a path (FsAction's name: READ, WRITE); false with the
// error's message when that cannot be told.
bool mayAccess(Shell &shell, const Item &item, const char *action, bool &allowed,
               std::string &error) {
  Java java(shell.session);
  const char *actionType = "org/apache/hadoop/fs/permission/FsAction";
  JNIEnv *env = java.env();
  LocalRef<jclass> type(env, env->FindClass(actionType));
  jfieldID field =
      type ? env->GetStaticFieldID(type.get(), action, "Lorg/apache/hadoop/fs/permission/FsAction;")
           : nullptr;
  LocalRef<jobject> value(env, field ? env->GetStaticObjectField(type.get(), field) : nullptr);
  if (!value) {
    env->ExceptionClear();
    error = std::string("no FsAction.") + action;
    return false;
  }
  LocalRef<jobject> path = java.path(item.path);
  java.call(item.fs, kFileSystemClass, "access",
            "(Lorg/apache/hadoop/fs/Path;Lorg/apache/hadoop/fs/permission/FsAction;)V", path.get(),
            value.get());
  allowed = static_cast<bool>(java);
  if (!java && !java.denied() && !java.notFound()) {
    error = java.error();
    return false;
  }
  return true;
}

std::string hexText(JNIEnv *env, jbyteArray bytes, jint length) {
  std::vector<jbyte> raw(static_cast<size_t>(std::max<jint>(length, 0)));
  if (!raw.empty()) env->GetByteArrayRegion(bytes, 0, length, raw.data());
  std::string text;
  char digits[3];
  for (jbyte byte : raw) {
    snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(byte));
    text += digits;
  }
  return text;
}

}  // namespace

int list(Shell &shell, std::vector<std::string> &operands) {
  if (operands.empty()) operands.push_back(".");
  return Listing(shell).run(operands);
}

int stat(Shell &shell, std::vector<std::string> &operands) {
  std::string format = "%y";
  if (operands[0].find('%') != std::string::npos) {
    format = operands[0];
    operands.erase(operands.begin());
    if (operands.empty())
      return usageError(*shell.command, "Not enough arguments: expected 1 but got 0");
  }
  std::vector<std::string> json;
  ItemAction show = [&](Item &item) {
    if (shell.json) {
      json.push_back(jsonItem(item));
    } else {
      printf("%s\n", formatted(format, item).c_str());
    }
    if (shell.flag("R") && item.isDirectory()) eachBelow(shell, item, show, false);
  };
  eachItem(shell, operands, show);
  if (shell.json) printJson(json);
  return statusOf(shell);
}

// test -[defswrz] PATH: the answer is the exit status alone; a path that is not there is a
// "no", a path the file system could not be asked about is a failure with its line.
int testPath(Shell &shell, std::vector<std::string> &operands) {
  if (shell.options.empty()) return usageError(*shell.command, "No test flag given");
  if (shell.options.size() > 1) return usageError(*shell.command, "Only one test flag is allowed");
  char flag = shell.options.begin()->first[0];
  bool answer = true;
  int status = eachItem(
      shell, operands,
      [&](Item &item) {
        const Stat &stat = item.stat;
        bool allowed = false;
        std::string error;
        switch (flag) {
          case 'd':
            answer = answer && stat.directory;
            break;
          case 'f':
            answer = answer && !stat.directory;
            break;
          case 's':
            answer = answer && stat.length > 0;
            break;
          case 'z':
            answer = answer && stat.length == 0;
            break;
          case 'w':
          case 'r':
            if (!mayAccess(shell, item, flag == 'w' ? "WRITE" : "READ", allowed, error)) {
              displayError(shell, error);
            }
            answer = answer && allowed;
            break;
          default:
            break;
        }
      },
      [&](Item &) { answer = false; });
  return status != kSucceeded ? status : answer ? kSucceeded : kFailed;
}

int findPaths(Shell &shell, std::vector<std::string> &operands) {
  auto firstExpression =
      std::find_if(operands.begin(), operands.end(),
                   [](const std::string &word) { return word.size() > 1 && word[0] == '-'; });
  std::vector<std::string> paths(operands.begin(), firstExpression);
  if (paths.empty()) paths.push_back(".");
  FindExpression expression(shell);
  std::string wrong = expression.parse({firstExpression, operands.end()});
  if (!wrong.empty()) return usageError(*shell.command, wrong);
  std::vector<std::string> found;
  ItemAction visit = [&](Item &item) {
    if (!expression.matches(item)) return;
    if (shell.json) {
      found.push_back(jsonText(item.text));
    } else {
      printf("%s%c", item.text.c_str(), expression.end());
    }
  };
  eachItem(shell, paths, [&](Item &item) {
    visit(item);
    if (item.isDirectory()) eachBelow(shell, item, visit, true);
  });
  if (shell.json) printf("{\"paths\":%s}\n", jsonArray(found).c_str());
  return statusOf(shell);
}

int checksum(Shell &shell, std::vector<std::string> &operands) {
  const char *checksumClass = "org/apache/hadoop/fs/FileChecksum";
  std::vector<std::string> json;
  eachItem(shell, operands, [&](Item &item) {
    if (item.isDirectory()) return displayError(shell, pathError(item.text, kIsDirectory));
    Java java(shell.session);
    LocalRef<jobject> path = java.path(item.path);
    LocalRef<jobject> sum =
        java.call(item.fs, kFileSystemClass, "getFileChecksum",
                  "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/FileChecksum;", path.get());
    // A file system that keeps no checksums (the local one) answers null: NONE, as Hadoop says.
    std::string algorithm = "NONE", hex;
    if (sum) {
      LocalRef<jobject> name =
          java.call(sum.get(), checksumClass, "getAlgorithmName", "()Ljava/lang/String;");
      LocalRef<jobject> bytes = java.call(sum.get(), checksumClass, "getBytes", "()[B");
      jint length = java.value<jint>(sum.get(), checksumClass, "getLength", "()I");
      algorithm = java.text(name.get());
      if (java) hex = hexText(java.env(), static_cast<jbyteArray>(bytes.get()), length);
    }
    if (!java) return displayError(shell, java.error());
    if (shell.json) {
      json.push_back("{\"path\":" + jsonText(item.text) + ",\"algorithm\":" + jsonText(algorithm) +
                     ",\"checksum\":" + jsonText(hex) + "}");
      return;
    }
    std::string line = item.text + "\t" + algorithm + (sum ? "\t" + hex : "");
    if (shell.flag("v")) line += "\tBlockSize=" + std::to_string(item.stat.blockSize);
    printf("%s\n", line.c_str());
  });
  if (shell.json) printJson(json);
  return statusOf(shell);
}

}  // namespace qxdfs
