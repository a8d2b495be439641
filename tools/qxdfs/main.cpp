// qxdfs: the storage engine's view of a file system, from the command line. It starts the host
// kernel, loads dfslink as the engine does, connects, and runs file-system commands through
// dfslink's operations. Several commands may follow each other, separated by ";".
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/embedded_hdfs.h"
#include "tools/qxdfs/commands.h"

namespace qxdfs {
namespace {

void usage(FILE *out) {
  fprintf(out,
          "usage: qxdfs [--fs local|default|embedded|hdfs://HOST:PORT|file:///] [--user NAME]\n"
          "             [--options DIR] [--verbose] COMMAND [ARGUMENT...] [; COMMAND ...]...\n"
          "  --fs embedded starts a real HDFS on loopback for the command line's duration\n"
          "  --options DIR reads DIR/xmlopts.xml and ZEL_HADOOP_CONFIG_PATH, ZEL_HADOOP_JAR_PATH\n"
          "    as the storage engine does: the file system, its user and the JVM's class path\n"
          "  --verbose shows every report of the modules, the Java exception chain included\n"
          "commands:\n");
  for (const Command &command : commands()) {
    std::string call = std::string(command.name) + " " + command.arguments;
    fprintf(out, "  %-28s %s\n", call.c_str(), command.summary);
  }
  fprintf(out, "  %-28s %s\n", "config DIR", "print the options read from DIR and the environment");
  fprintf(out, "  %-28s %s\n", "demo",
          "put a text and 16 MiB of random bytes, get them back, compare");
  fprintf(out, "exit status: 0 success, 1 an operation failed, 2 usage\n");
}

struct Options {
  std::string fs;  // local when neither --fs nor the options name one
  std::string user;
  std::string options;  // a directory with xmlopts.xml
  bool verbose = false;
  std::vector<std::vector<std::string>> commands;
};

// Global options, then commands separated by ";"; false on a usage error.
bool parseOptions(int argc, char **argv, Options &options) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; i++) {
    std::string option = argv[i];
    if ((option == "--fs" || option == "--user" || option == "--options") && i + 1 < argc) {
      (option == "--fs"     ? options.fs
       : option == "--user" ? options.user
                            : options.options) = argv[++i];
    } else if (option == "--verbose") {
      options.verbose = true;
    } else {
      return false;
    }
  }
  options.commands.emplace_back();
  for (; i < argc; i++) {
    if (std::string(argv[i]) == ";") {
      options.commands.emplace_back();
    } else {
      options.commands.back().push_back(argv[i]);
    }
  }
  for (const auto &command : options.commands) {
    if (command.empty()) return false;
  }
  return true;
}

const Command *find(const std::string &name) {
  for (const Command &command : commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

// Checks every command before any runs.
bool valid(const std::vector<std::string> &line) {
  if (line[0] == "demo") return line.size() == 1;
  if (line[0] == "config") return line.size() == 2;
  const Command *command = find(line[0]);
  size_t arguments = line.size() - 1;
  return command && arguments >= command->least && arguments <= command->most;
}

int run(Shell &shell, const std::vector<std::string> &line) {
  return find(line[0])->run(shell, {line.begin() + 1, line.end()});
}

std::string contentsOf(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A file goes in and comes back: a short text, printed, and random bytes, compared.
int demo(Shell &shell) {
  std::string local = "/tmp/qxdfs-demo-" + std::to_string(getpid());
  std::string text = "Hello from the storage engine, through dfslink and Hadoop.\n";
  std::string random(16 << 20, '\0');
  srand(static_cast<unsigned>(time(nullptr)));
  for (char &byte : random) byte = static_cast<char>(rand());
  std::ofstream(local + ".txt", std::ios::binary) << text;
  std::ofstream(local + ".bin", std::ios::binary) << random;
  int status = run(shell, {"put", local + ".txt", "/demo/hello.txt"});
  if (status == 0) status = run(shell, {"put", local + ".bin", "/demo/random.bin"});
  if (status == 0) {
    printf("cat /demo/hello.txt:\n");
    fflush(stdout);
    status = run(shell, {"cat", "/demo/hello.txt"});
  }
  if (status == 0) status = run(shell, {"get", "/demo/random.bin", local + ".back"});
  bool same = status == 0 && contentsOf(local + ".back") == random;
  if (status == 0) {
    printf("/demo/random.bin: %zu bytes went in and %s\n", random.size(),
           same ? "came back identical" : "came back DIFFERENT");
  }
  for (const char *suffix : {".txt", ".bin", ".back"}) remove((local + suffix).c_str());
  return status == 0 && !same ? kFailed : status;
}

// config DIR: the options as the storage engine reads them, printed.
int showOptions(const Options &options, const std::string &directory) {
  Session session(options.verbose);
  if (!session.start() || !session.loadOptions(directory)) return kFailed;
  printOptions(session.options());
  return kSucceeded;
}

// The file system's URI for Hadoop's configuration.
std::string uriOf(const Target &target) {
  std::string host = utf8(target.host);
  if (host == "local") return "file:///";
  if (host == "default") return "";
  return "hdfs://" + host + ":" + std::to_string(target.port);
}

// The file system the options name, unless the command line names one.
void takeTarget(const OptionsRecord &read, Options &options, Target &target) {
  if (options.fs.empty() && read.hdfsHost) {
    target.host = std::u16string(read.hdfsHost, read.hdfsHostLength);
    target.port = read.hdfsPort;
    target.name = utf8(target.host) + ":" + std::to_string(target.port);
  }
  if (options.user.empty() && read.hdfsUser) {
    options.user = utf8(std::u16string(read.hdfsUser, read.hdfsUserLength));
  }
}

// Runs the commands in order; the first failure ends the line.
int runAll(Options options, Target target) {
  if (options.commands[0][0] == "config") return showOptions(options, options.commands[0][1]);
  Session session(options.verbose);
  if (!session.start()) return kFailed;
  if (!options.options.empty()) {
    if (!session.loadOptions(options.options)) return kFailed;
    takeTarget(session.options(), options, target);
  }
  if (!session.addClassPath()) return kFailed;
  hdfsFS fs = session.connect(target, options.user);
  if (!fs) return kFailed;
  Shell shell{session, fs, options.user, uriOf(target)};
  for (const auto &line : options.commands) {
    int status = line[0] == "demo" ? demo(shell) : run(shell, line);
    if (status != kSucceeded) return status;
  }
  return kSucceeded;
}

}  // namespace
}  // namespace qxdfs

int main(int argc, char **argv) {
  using namespace qxdfs;
  Options options;
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "help")) {
    usage(stdout);
    return kSucceeded;
  }
  bool parsed = parseOptions(argc, argv, options);
  for (const auto &line : options.commands) parsed = parsed && valid(line);
  Target target;
  if (!parsed || (options.fs != "embedded" &&
                  !parseTarget(options.fs.empty() ? "local" : options.fs, target))) {
    usage(stderr);
    return kUsage;
  }
  EmbeddedHdfs embedded;
  if (options.fs == "embedded") {
    fprintf(stderr, "qxdfs: starting an embedded HDFS...\n");
    if (!embedded.start()) {
      fprintf(stderr, "qxdfs: %s\n", embedded.error().c_str());
      return kFailed;
    }
    fprintf(stderr, "qxdfs: embedded HDFS at %s\n", embedded.uri().c_str());
    parseTarget(embedded.uri(), target);
  }
  return runAll(options, target);  // the session ends before an embedded cluster stops
}
