// Hadoop's generic options of the command line (-D KEY=VALUE, -conf FILE) as configuration
// resources of the JVM: written to a directory only this user may read and write, put on the
// class path, and added after Hadoop's own resources so that they win, as Hadoop's
// GenericOptionsParser makes them win.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qxdfs {

class GenericResources {
 public:
  GenericResources() = default;
  ~GenericResources();
  GenericResources(const GenericResources &) = delete;
  GenericResources &operator=(const GenericResources &) = delete;

  // Writes the resources: each -conf file's text in the order given, then the -D properties;
  // "" or why they cannot be had.
  std::string write(const std::vector<std::string> &files,
                    const std::vector<std::pair<std::string, std::string>> &properties);
  // The directory for the class path ("" when there is nothing to add) and the resources' names.
  const std::string &directory() const { return directory_; }
  const std::vector<std::string> &names() const { return names_; }

 private:
  std::string add(const std::string &name, const std::string &text);
  std::string directory_;
  std::vector<std::string> names_;
};

}  // namespace qxdfs
