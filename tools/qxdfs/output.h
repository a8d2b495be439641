// What the commands print: names, permissions, sizes and times for people, and JSON for scripts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dfslink/dfslink.h"

namespace qxdfs {

// A name as the file system gave it, without its scheme and authority.
std::string shortName(const char *name);
// "drwxr-xr-x", "-rw-r--r--" (sticky bit as t or T).
std::string permissionText(int16_t bits, int32_t kind);
// Local time to the minute, for listings.
std::string timeText(double seconds);
// UTC to the second, as Hadoop's stat prints it: "2026-12-09 14:43:16".
std::string utcTimeText(double seconds);
// A size with a binary prefix, as Hadoop's shell prints it with -h: "0", "512", "1.5 K", "2 K".
std::string humanSize(int64_t bytes);

// A JSON string: quoted, with what must be escaped escaped.
std::string jsonText(std::string_view text);
// A JSON array of elements that are JSON already.
std::string jsonArray(const std::vector<std::string> &elements);
// A field of the top level of a JSON object: a string's text, or a number as written; "" when
// the document has none.
std::string jsonField(std::string_view json, std::string_view name);

// The groups of a job's counters, as the document's "counters" object holds them.
struct CounterGroup {
  std::string name;
  std::vector<std::pair<std::string, std::string>> counters;  // name, value
};
std::vector<CounterGroup> jsonCounters(std::string_view json);

// A time as two JSON fields: "NAME": ISO 8601 (UTC), "NAMEMillis": epoch milliseconds.
std::string jsonTime(const char *name, int64_t milliseconds);

}  // namespace qxdfs
