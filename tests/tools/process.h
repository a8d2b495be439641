// qxdfs run as a process: a shell command line, its output and its exit status.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/test_support.h"

namespace testsupport {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// A shell command line; its stdout, and the stderr of its last command.
inline Outcome runCommand(std::string command) {
  std::string errors = temporaryDirectory() + "/stderr";
  command += " 2>" + errors;
  FILE *pipe = popen(command.c_str(), "r");
  Outcome run{-1, "", ""};
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(errors);
  run.err.assign(std::istreambuf_iterator<char>(in), {});
  removeTree(errors.substr(0, errors.rfind('/')));
  return run;
}

inline Outcome qxdfs(const std::string &arguments, const std::string &environment = "") {
  return runCommand(environment + QX_QXDFS + " " + arguments);
}

inline std::string contents(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace testsupport
