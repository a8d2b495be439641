// What qxdfs adds to Hadoop's commands: the working directory, where a file's blocks are, and
// the Java tools of the storage engine (the compiler and a jar's main class).
#include <algorithm>
#include <cstdio>

#include "tools/qxdfs/commands.h"
#include "tools/qxdfs/output.h"

namespace qxdfs {

int blocks(Shell &shell, std::vector<std::string> &operands) {
  const std::string &path = operands[0];
  hdfsPathInfo *info = nullptr;
  Found found = lookup(shell, shell.fs, path, info);
  if (found != Found::kThere) {
    return done(shell, false, "blocks", path, found == Found::kMissing ? kNoSuchPath : "");
  }
  int64_t size = info->size, blockSize = info->blockSize > 0 ? info->blockSize : 1;
  release(shell, info, 1);
  Session &session = shell.session;
  char ***hosts = nullptr;
  int32_t result = session.ops().hdfsGetHosts(session.dfs(), session.context(), shell.fs,
                                              path.c_str(), 0, size, &hosts);
  if (result != 0 && !hosts) return done(shell, false, "blocks", path);
  std::vector<std::string> json;
  for (int64_t i = 0; hosts && hosts[i]; i++) {
    int64_t first = i * blockSize, length = std::min(size, first + blockSize) - first;
    if (shell.json) {
      std::vector<std::string> names;
      for (char **host = hosts[i]; *host; host++) names.push_back(jsonText(*host));
      json.push_back("{\"index\":" + std::to_string(i) + ",\"offset\":" + std::to_string(first) +
                     ",\"length\":" + std::to_string(length) + ",\"hosts\":" + jsonArray(names) +
                     "}");
      continue;
    }
    printf("block %lld (bytes %lld-%lld):", static_cast<long long>(i),
           static_cast<long long>(first), static_cast<long long>(first + length - 1));
    for (char **host = hosts[i]; *host; host++) printf(" %s", *host);
    printf("\n");
  }
  session.ops().hdfsReleaseHosts(session.dfs(), nullptr, hosts);
  if (shell.json && result == 0) {
    printf("{\"path\":%s,\"size\":%lld,\"blockSize\":%lld,\"blocks\":%s}\n", jsonText(path).c_str(),
           static_cast<long long>(size), static_cast<long long>(blockSize),
           jsonArray(json).c_str());
  }
  return done(shell, result == 0, "blocks", path);
}

int workingDirectory(Shell &shell, std::vector<std::string> &) {
  Session &session = shell.session;
  QXChar buffer[4096];
  int32_t status = 0;
  if (!session.ops().hdfsGetWorkingDirectory(session.dfs(), session.context(), &status, shell.fs,
                                             buffer, sizeof buffer)) {
    return done(shell, false, "pwd", ".");
  }
  printf("%s\n", utf8(buffer).c_str());
  return kSucceeded;
}

int changeDirectory(Shell &shell, std::vector<std::string> &operands) {
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string text = qx(operands[0]);
  bool changed = session.ops().hdfsSetWorkingDirectory(session.dfs(), session.context(), &status,
                                                       shell.fs, text.c_str()) == 0;
  return done(shell, changed, "cd", operands[0]);
}

int compileJava(Shell &shell, std::vector<std::string> &operands) {
  std::vector<std::string> positional;
  std::string release = shell.value("-release"), bootClassPath = shell.value("-bootclasspath");
  for (size_t i = 0; i < operands.size(); i++) {
    if ((operands[i] == "--release" || operands[i] == "--bootclasspath") &&
        i + 1 < operands.size()) {
      (operands[i] == "--release" ? release : bootClassPath) = operands[++i];
    } else {
      positional.push_back(operands[i]);
    }
  }
  if (positional.size() < 2) return usageError(*shell.command, "Not enough arguments");
  std::vector<const char *> sources = textList(positional.begin(), positional.end() - 1);
  Session &session = shell.session;
  uint32_t status =
      session.ops().javaComp(session.dfs(), session.context(), sources.data(),
                             positional.back().c_str(), release.empty() ? nullptr : release.c_str(),
                             bootClassPath.empty() ? nullptr : bootClassPath.c_str());
  if (status != 0) session.printListing();  // the compiler's diagnostics
  return done(shell, status == 0, "javac", positional.back());
}

int runJar(Shell &shell, std::vector<std::string> &operands) {
  std::vector<const char *> list = textList(operands.begin() + 2, operands.end());
  Session &session = shell.session;
  uint32_t status = session.ops().javaJar(session.dfs(), session.context(), operands[0].c_str(),
                                          operands[1].c_str(), list.data());
  return done(shell, status == 0, "jar", operands[0]);
}

}  // namespace qxdfs
