// Path patterns as Hadoop's shell reads them: *, ?, [abc], [a-z], {a,b} and \ to quote, matched
// by the file system itself (globStatus), so that HDFS and the local file system read them alike.
#pragma once

#include <string>
#include <vector>

#include "tools/qxdfs/commands.h"

namespace qxdfs {

// Whether a path argument is a pattern rather than a name.
bool isPattern(const std::string &text);

// Replaces each pattern among a command's operands by the paths it matches, in order; false
// after the failure's line for a pattern that matches nothing or cannot be read.
bool expandOperands(Shell &shell, const Command &command, std::vector<std::string> &operands);

}  // namespace qxdfs
