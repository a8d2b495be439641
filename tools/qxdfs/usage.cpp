// The commands that tell how much is there: du, df and count, in the forms Hadoop's shell prints
// (count's lines are Hadoop's client's own, ContentSummary's and QuotaUsage's).
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/qxdfs/commands.h"
#include "tools/qxdfs/java.h"
#include "tools/qxdfs/output.h"
#include "tools/qxdfs/pathdata.h"

namespace qxdfs {
namespace {

const char kFileSystemClass[] = "org/apache/hadoop/fs/FileSystem";
const char kSummaryClass[] = "org/apache/hadoop/fs/ContentSummary";
const char kQuotaClass[] = "org/apache/hadoop/fs/QuotaUsage";

// Rows printed as columns two spaces apart, each as wide as its widest cell; the last one
// left-aligned without trailing blanks unless aligned right.
class Table {
 public:
  explicit Table(std::vector<bool> rightAligned) : right_(std::move(rightAligned)) {}
  void add(std::vector<std::string> row) {
    widths_.resize(row.size());
    for (size_t i = 0; i < row.size(); i++) widths_[i] = std::max(widths_[i], row[i].size());
    rows_.push_back(std::move(row));
  }
  bool rowsBesideHeader(bool header) const { return rows_.size() > (header ? 1u : 0u); }
  void print() const {
    for (const auto &row : rows_) {
      std::string line;
      for (size_t i = 0; i < row.size(); i++) {
        if (i) line += "  ";
        std::string fill(widths_[i] - row[i].size(), ' ');
        if (right_[i]) {
          line += fill + row[i];
        } else {
          line += row[i] + (i + 1 == row.size() ? "" : fill);
        }
      }
      printf("%s\n", line.c_str());
    }
  }

 private:
  std::vector<bool> right_;
  std::vector<size_t> widths_;
  std::vector<std::vector<std::string>> rows_;
};

// What getContentSummary tells of a path.
struct Summary {
  jlong length = 0, consumed = 0, files = 0, directories = 0, quota = -1, spaceQuota = -1;
};

// The content summary of a path: in `summary`, and kept as Java's object when asked; false with
// the error's message.
bool summarize(Java &java, const Item &item, Summary &summary, bool withoutSnapshots,
               LocalRef<jobject> *kept = nullptr) {
  LocalRef<jobject> path = java.path(item.path);
  LocalRef<jobject> content =
      java.call(item.fs, kFileSystemClass, "getContentSummary",
                "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/ContentSummary;", path.get());
  auto number = [&](const char *type, const char *method) {
    return java.value<jlong>(content.get(), type, method, "()J");
  };
  summary.length = number(kSummaryClass, "getLength");
  summary.consumed = number(kSummaryClass, "getSpaceConsumed");
  summary.files = number(kSummaryClass, "getFileCount");
  summary.directories = number(kSummaryClass, "getDirectoryCount");
  summary.quota = number(kQuotaClass, "getQuota");
  summary.spaceQuota = number(kQuotaClass, "getSpaceQuota");
  if (withoutSnapshots) {
    summary.length -= number(kSummaryClass, "getSnapshotLength");
    summary.consumed -= number(kSummaryClass, "getSnapshotSpaceConsumed");
  }
  if (kept) *kept = std::move(content);
  return static_cast<bool>(java);
}

// A text of a Java call, with what it takes.
template <typename... Arguments>
std::string textOf(Java &java, jobject target, const char *type, const char *method,
                   const char *descriptor, Arguments... arguments) {
  LocalRef<jobject> text = java.call(target, type, method, descriptor, arguments...);
  return java.text(text.get());
}
template <typename... Arguments>
std::string staticText(Java &java, const char *type, const char *method, const char *descriptor,
                       Arguments... arguments) {
  LocalRef<jobject> text = java.callStatic(type, method, descriptor, arguments...);
  return java.text(text.get());
}

// count -t: the storage types asked for (all that take quotas when none is named).
LocalRef<jobject> storageTypes(Java &java, const std::string &named) {
  const char *typeClass = "org/apache/hadoop/fs/StorageType";
  if (named.empty() || named == "all") {
    return java.callStatic(typeClass, "getTypesSupportingQuota", "()Ljava/util/List;");
  }
  LocalRef<jobject> list = java.make("java/util/ArrayList", "()V");
  for (size_t start = 0; start <= named.size();) {
    size_t comma = std::min(named.find(',', start), named.size());
    LocalRef<jstring> name = java.string(named.substr(start, comma - start));
    LocalRef<jobject> type =
        java.callStatic(typeClass, "parseStorageType",
                        "(Ljava/lang/String;)Lorg/apache/hadoop/fs/StorageType;", name.get());
    java.value<jboolean>(list.get(), "java/util/List", "add", "(Ljava/lang/Object;)Z", type.get());
    start = comma + 1;
  }
  return list;
}

// count's options as Hadoop's Count reads them.
struct CountOptions {
  bool quotas, usageOnly, byType, human, withoutSnapshots, policy, snapshots;
};

std::string countHeader(Java &java, const CountOptions &count, jobject types) {
  std::string header;
  if (count.byType) {
    header = staticText(java, kQuotaClass, "getStorageTypeHeader",
                        "(Ljava/util/List;)Ljava/lang/String;", types);
  } else if (count.usageOnly) {
    header = staticText(java, kQuotaClass, "getHeader", "()Ljava/lang/String;");
  } else {
    header = staticText(java, kSummaryClass, "getHeader", "(Z)Ljava/lang/String;",
                        static_cast<jboolean>(count.quotas));
  }
  if (count.policy) {
    header +=
        staticText(java, kSummaryClass, "getErasureCodingPolicyHeader", "()Ljava/lang/String;");
  }
  if (count.snapshots) {
    header += staticText(java, kSummaryClass, "getSnapshotHeader", "()Ljava/lang/String;");
  }
  return header + "PATHNAME";
}

// One line of count, as Hadoop's client words it, before the path.
std::string countLine(Java &java, const Item &item, const CountOptions &count, jobject types) {
  LocalRef<jobject> path = java.path(item.path);
  std::string line;
  jboolean human = count.human;
  if (count.usageOnly || count.byType) {
    LocalRef<jobject> usage =
        java.call(item.fs, kFileSystemClass, "getQuotaUsage",
                  "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/QuotaUsage;", path.get());
    line =
        textOf(java, usage.get(), kQuotaClass, "toString", "(ZZLjava/util/List;)Ljava/lang/String;",
               human, static_cast<jboolean>(count.byType), types);
  }
  if (count.usageOnly || count.byType) {
    if (!count.policy && !count.snapshots) return line;
  }
  Summary ignored;
  LocalRef<jobject> summary(java.env(), nullptr);
  summarize(java, item, ignored, false, &summary);
  if (!count.usageOnly && !count.byType) {
    line = textOf(java, summary.get(), kSummaryClass, "toString", "(ZZZ)Ljava/lang/String;",
                  static_cast<jboolean>(count.quotas), human,
                  static_cast<jboolean>(count.withoutSnapshots));
  }
  if (count.policy) {
    line +=
        textOf(java, summary.get(), kSummaryClass, "toErasureCodingPolicy", "()Ljava/lang/String;");
  }
  if (count.snapshots) {
    line +=
        textOf(java, summary.get(), kSummaryClass, "toSnapshot", "(Z)Ljava/lang/String;", human);
  }
  return line;
}

std::string percentOf(jlong used, jlong capacity) {
  char text[32];
  double fraction = static_cast<double>(used) / static_cast<double>(capacity);
  if (std::isnan(fraction)) return "NaN%";
  snprintf(text, sizeof text, "%.0f%%", fraction * 100);
  return text;
}

}  // namespace

int diskUsage(Shell &shell, std::vector<std::string> &operands) {
  if (operands.empty()) operands.push_back(".");
  bool header = shell.flag("v");
  Table table({false, false, false});
  if (header) table.add({"SIZE", "DISK_SPACE_CONSUMED_WITH_ALL_REPLICAS", "FULL_PATH_NAME"});
  std::vector<std::string> json;
  ItemAction row = [&](Item &item) {
    Java java(shell.session);
    Summary summary;
    if (!summarize(java, item, summary, shell.flag("x"))) return displayError(shell, java.error());
    if (shell.json) {
      json.push_back("{\"path\":" + jsonText(item.text) +
                     ",\"size\":" + std::to_string(summary.length) +
                     ",\"spaceConsumed\":" + std::to_string(summary.consumed) + "}");
    } else {
      table.add({sizeText(shell, summary.length), sizeText(shell, summary.consumed), item.text});
    }
  };
  // One level into each directory named, unless summarized.
  eachItem(shell, operands, [&](Item &item) {
    if (!shell.flag("s") && item.isDirectory()) {
      eachBelow(shell, item, row, false);
    } else {
      row(item);
    }
  });
  if (shell.json) {
    printf("{\"entries\":%s}\n", jsonArray(json).c_str());
  } else if (table.rowsBesideHeader(header)) {
    table.print();
  }
  return statusOf(shell);
}

int diskFree(Shell &shell, std::vector<std::string> &operands) {
  if (operands.empty()) operands.push_back("/");
  Table table({false, true, true, true, true});
  table.add({"Filesystem", "Size", "Used", "Available", "Use%"});
  std::string json;
  eachItem(shell, operands, [&](Item &item) {
    const char *statusClass = "org/apache/hadoop/fs/FsStatus";
    Java java(shell.session);
    LocalRef<jobject> path = java.path(item.path);
    LocalRef<jobject> status =
        java.call(item.fs, kFileSystemClass, "getStatus",
                  "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/FsStatus;", path.get());
    jlong capacity = java.value<jlong>(status.get(), statusClass, "getCapacity", "()J");
    jlong used = java.value<jlong>(status.get(), statusClass, "getUsed", "()J");
    jlong left = java.value<jlong>(status.get(), statusClass, "getRemaining", "()J");
    if (!java) return displayError(shell, java.error());
    std::string percent = percentOf(used, capacity);
    table.add({shell.session.uriOf(item.fs), sizeText(shell, capacity), sizeText(shell, used),
               sizeText(shell, left), percent});
    json = "{\"capacity\":" + std::to_string(capacity) + ",\"used\":" + std::to_string(used) +
           ",\"available\":" + std::to_string(left) +
           ",\"usedPercent\":" + percent.substr(0, percent.size() - 1) + "}";
  });
  if (shell.json) {
    if (!json.empty()) printf("%s\n", json.c_str());
  } else if (table.rowsBesideHeader(true)) {
    table.print();
  }
  return statusOf(shell);
}

int countPaths(Shell &shell, std::vector<std::string> &operands) {
  CountOptions count{shell.flag("q"), shell.flag("u"), false,          shell.flag("h"),
                     shell.flag("x"), shell.flag("e"), shell.flag("s")};
  count.byType = (count.quotas || count.usageOnly) && shell.options.count("t");
  if ((count.quotas || count.usageOnly) && count.withoutSnapshots) {
    printf("q or u option is given, the -x option is ignored.\n");
    count.withoutSnapshots = false;
  }
  Java setup(shell.session);
  LocalRef<jobject> types = count.byType ? storageTypes(setup, shell.value("t"))
                                         : LocalRef<jobject>(setup.env(), nullptr);
  if (!setup) return usageError(*shell.command, setup.error());
  if (shell.flag("v") && !shell.json)
    printf("%s\n", countHeader(setup, count, types.get()).c_str());
  std::vector<std::string> json;
  eachItem(shell, operands, [&](Item &item) {
    Java java(shell.session);
    if (shell.json) {
      Summary summary;
      if (!summarize(java, item, summary, count.withoutSnapshots)) {
        return displayError(shell, java.error());
      }
      std::string quotas = count.quotas
                               ? ",\"quota\":" + std::to_string(summary.quota) +
                                     ",\"spaceQuota\":" + std::to_string(summary.spaceQuota)
                               : "";
      json.push_back("{\"path\":" + jsonText(item.text) +
                     ",\"directories\":" + std::to_string(summary.directories) +
                     ",\"files\":" + std::to_string(summary.files) +
                     ",\"bytes\":" + std::to_string(summary.length) + quotas + "}");
      return;
    }
    std::string line = countLine(java, item, count, types.get());
    if (!java) return displayError(shell, java.error());
    printf("%s%s\n", line.c_str(), item.text.c_str());
  });
  if (shell.json) printf("{\"entries\":%s}\n", jsonArray(json).c_str());
  return statusOf(shell);
}

}  // namespace qxdfs
