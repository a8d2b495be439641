#include "tools/qxdfs/output.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace qxdfs {

std::string shortName(const char *name) {
  std::string text = name ? name : "";
  for (const char *scheme : {"hdfs://", "file://"}) {
    if (text.rfind(scheme, 0) == 0) {
      size_t slash = text.find('/', strlen(scheme));
      return slash == std::string::npos ? "/" : text.substr(slash);
    }
  }
  return text.rfind("file:", 0) == 0 ? text.substr(5) : text;
}

std::string permissionText(int16_t bits, int32_t kind) {
  std::string text(1, kind == HDFS_KIND_DIRECTORY ? 'd' : '-');
  const char *letters = "rwx";
  for (int shift = 8; shift >= 0; shift--)
    text += (bits >> shift) & 1 ? letters[(8 - shift) % 3] : '-';
  if (bits & 01000) text.back() = text.back() == 'x' ? 't' : 'T';
  return text;
}

namespace {

std::string formatTime(double seconds, const char *format, bool utc) {
  time_t when = static_cast<time_t>(seconds);
  struct tm parts;
  if (utc) {
    gmtime_r(&when, &parts);
  } else {
    localtime_r(&when, &parts);
  }
  char text[32];
  strftime(text, sizeof text, format, &parts);
  return text;
}

}  // namespace

std::string timeText(double seconds) {
  return formatTime(seconds, "%Y-%m-%d %H:%M", false);
}

std::string utcTimeText(double seconds) {
  return formatTime(seconds, "%Y-%m-%d %H:%M:%S", true);
}

std::string humanSize(int64_t bytes) {
  const char *prefixes = "KMGTPE";
  if (bytes < 0) return "-" + humanSize(bytes == INT64_MIN ? INT64_MAX : -bytes);
  if (bytes < 1024) return std::to_string(bytes);
  int prefix = 0;
  while (prefix < 5 && bytes >= (int64_t{1} << (10 * (prefix + 2)))) prefix++;
  int shift = 10 * (prefix + 1);
  char text[32];
  if ((bytes & ((int64_t{1} << shift) - 1)) == 0) {  // an exact multiple: no fraction
    snprintf(text, sizeof text, "%lld %c", static_cast<long long>(bytes >> shift),
             prefixes[prefix]);
    return text;
  }
  double value = static_cast<double>(bytes) / static_cast<double>(int64_t{1} << shift);
  snprintf(text, sizeof text, "%.1f", value);
  if (std::string(text).rfind("1024", 0) == 0 && prefix < 5) {  // rounded up to the next prefix
    prefix++;
    snprintf(text, sizeof text, "%.1f", value / 1024);
  }
  return std::string(text) + " " + prefixes[prefix];
}

std::string jsonText(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string jsonArray(const std::vector<std::string> &elements) {
  std::string array = "[";
  for (const std::string &element : elements) array += (array.size() > 1 ? "," : "") + element;
  return array + "]";
}

std::string jsonTime(const char *name, int64_t milliseconds) {
  return "\"" + std::string(name) + "\":" +
         jsonText(
             formatTime(static_cast<double>(milliseconds) / 1000, "%Y-%m-%dT%H:%M:%SZ", true)) +
         ",\"" + name + "Millis\":" + std::to_string(milliseconds);
}

}  // namespace qxdfs

namespace qxdfs {
namespace {

// Reads the JSON the engine's job writes: objects, strings, numbers and arrays, no more.
class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  bool at(char c) {
    blanks();
    return position_ < text_.size() && text_[position_] == c;
  }
  bool take(char c) {
    if (!at(c)) return false;
    position_++;
    return true;
  }
  // A string's text, or a number or word as written.
  std::string value() {
    if (!take('"')) {
      size_t start = position_;
      while (position_ < text_.size() && !strchr(",}] \n\t\r", text_[position_])) position_++;
      return std::string(text_.substr(start, position_ - start));
    }
    std::string out;
    while (position_ < text_.size() && text_[position_] != '"') {
      char c = text_[position_++];
      if (c == '\\' && position_ < text_.size()) c = text_[position_++];
      out += c;
    }
    position_++;
    return out;
  }
  // Passes over a value of any kind.
  void skip() {
    if (at('{') || at('[')) {
      char close = text_[position_] == '{' ? '}' : ']';
      position_++;
      while (!take(close) && position_ < text_.size()) {
        if (close == '}') {
          value();
          take(':');
        }
        skip();
        take(',');
      }
      return;
    }
    value();
  }

 private:
  void blanks() {
    while (position_ < text_.size() && strchr(" \n\t\r", text_[position_])) position_++;
  }
  std::string_view text_;
  size_t position_ = 0;
};

// Moves the reader to the value of a top-level field; false when there is none.
bool findField(JsonReader &reader, std::string_view name) {
  if (!reader.take('{')) return false;
  while (!reader.at('}') && !reader.at('\0')) {
    std::string key = reader.value();
    if (!reader.take(':')) return false;
    if (key == name) return true;
    reader.skip();
    if (!reader.take(',')) return false;
  }
  return false;
}

}  // namespace

std::string jsonField(std::string_view json, std::string_view name) {
  JsonReader reader(json);
  return findField(reader, name) && !reader.at('{') && !reader.at('[') ? reader.value() : "";
}

std::vector<CounterGroup> jsonCounters(std::string_view json) {
  JsonReader reader(json);
  std::vector<CounterGroup> groups;
  if (!findField(reader, "counters") || !reader.take('{')) return groups;
  while (!reader.take('}')) {
    CounterGroup group{reader.value(), {}};
    if (!reader.take(':') || !reader.take('{')) return groups;
    while (!reader.take('}')) {
      std::string name = reader.value();
      if (!reader.take(':')) return groups;
      group.counters.emplace_back(name, reader.value());
      reader.take(',');
    }
    groups.push_back(std::move(group));
    reader.take(',');
  }
  return groups;
}

}  // namespace qxdfs
