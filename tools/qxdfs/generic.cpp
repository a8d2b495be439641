#include "tools/qxdfs/generic.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace qxdfs {
namespace {

std::string escaped(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

GenericResources::~GenericResources() {
  for (const std::string &name : names_) unlink((directory_ + "/" + name).c_str());
  if (!directory_.empty()) rmdir(directory_.c_str());
}

std::string GenericResources::add(const std::string &name, const std::string &text) {
  if (directory_.empty()) {
    const char *temporary = getenv("TMPDIR");
    std::string pattern =
        std::string(temporary && *temporary ? temporary : "/tmp") + "/qxdfs-configuration-XXXXXX";
    if (!mkdtemp(pattern.data())) return pattern + ": " + strerror(errno);  // made 0700
    directory_ = pattern;
  }
  std::string path = directory_ + "/" + name;
  int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (descriptor < 0) return path + ": " + strerror(errno);
  names_.push_back(name);
  bool written = ::write(descriptor, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (close(descriptor) != 0 || !written) return path + ": " + strerror(errno ? errno : EIO);
  return "";
}

std::string GenericResources::write(
    const std::vector<std::string> &files,
    const std::vector<std::pair<std::string, std::string>> &properties) {
  for (size_t i = 0; i < files.size(); i++) {
    std::ifstream in(files[i], std::ios::binary);
    if (!in) return "-conf " + files[i] + ": " + strerror(errno ? errno : ENOENT);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::string wrong = add("qxdfs-conf-" + std::to_string(i) + ".xml", text);
    if (!wrong.empty()) return wrong;
  }
  if (properties.empty()) return "";
  std::string text = "<?xml version=\"1.0\"?>\n<configuration>\n";
  for (const auto &[key, value] : properties) {
    text += "  <property><name>" + escaped(key) + "</name><value>" + escaped(value) +
            "</value></property>\n";
  }
  return add("qxdfs-generic.xml", text + "</configuration>\n");
}

}  // namespace qxdfs
