// qxdfs: the storage engine's view of a file system, from the command line. It starts the host
// kernel, loads dfslink as the engine does, connects, and runs file-system commands through
// dfslink's operations. Several commands may follow each other, separated by ";".
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/embedded_cluster.h"
#include "tools/qxdfs/cluster.h"
#include "tools/qxdfs/commands.h"
#include "tools/qxdfs/copying.h"
#include "tools/qxdfs/patterns.h"

namespace qxdfs {
namespace {

const char kSynopsis[] =
    "usage: qxdfs [--fs local|default|embedded|hdfs://HOST[:PORT]|file:///] [--user NAME]\n"
    "             [--keytab FILE --principal NAME] [--options DIR] [--verbose] [--quiet]\n"
    "             [--json] COMMAND [ARGUMENT...] [; COMMAND ...]...\n";

void usage(FILE *out) {
  fputs(kSynopsis, out);
  fprintf(out, "       %s       qxdfs help [COMMAND]\n", kClusterUsage);
  fprintf(out,
          "  --fs embedded   the cluster of 'qxdfs cluster start', or a throwaway one\n"
          "  --fs default    fs.defaultFS of the Hadoop configuration on the class path\n"
          "                  (with --options DIR, the directory its environment names)\n"
          "  --user NAME     act as NAME (on a Kerberos-secured cluster: impersonated by the\n"
          "                  logged-in principal, which the name node must allow)\n"
          "  --keytab FILE --principal NAME   log in to Kerberos from a keytab (else the\n"
          "                  ticket cache of kinit, KRB5CCNAME; the KDC from KRB5_CONFIG)\n"
          "  --options DIR   read DIR/xmlopts.xml and ZEL_HADOOP_CONFIG_PATH, ZEL_HADOOP_JAR_PATH\n"
          "                  as the storage engine does: file system, user, class path\n"
          "  --verbose       every report of the modules, the Java exceptions, Hadoop's log\n"
          "  --quiet         no progress line\n"
          "  --json          ls, stat, du, count, find, checksum, df, blocks and config print\n"
          "                  one JSON document\n"
          "commands (qxdfs help COMMAND tells more):\n");
  for (const Command &command : commands()) {
    std::string call = std::string(command.name) + " " + command.arguments;
    if (call.size() > 34) {
      fprintf(out, "  %s\n  %-34s %s\n", call.c_str(), "", command.summary);
    } else {
      fprintf(out, "  %-34s %s\n", call.c_str(), command.summary);
    }
  }
  fprintf(out, "exit status: 0 success, 1 an operation failed, 2 usage\n");
}

int help(const std::string &name) {
  const Command *command = findCommand(name);
  if (!command) {
    fprintf(stderr, "qxdfs: help: %s: no such command\n", name.c_str());
    return kUsage;
  }
  printf("qxdfs %s %s\n  %s\n", command->name, command->arguments, command->summary);
  if (*command->details) printf("%s", command->details);
  return kSucceeded;
}

struct Options {
  std::string fs;  // local when neither --fs nor the options name one
  std::string user;
  std::string keytab;
  std::string principal;
  std::string options;        // a directory with xmlopts.xml
  std::string configuration;  // the embedded cluster's client configuration directory
  std::string expectedUri;    // the file system the connection must reach (the embedded one)
  bool verbose = false;
  bool quiet = false;
  bool json = false;
  std::vector<std::vector<std::string>> commands;
};

// Global options, then commands separated by ";"; what is wrong, or "".
std::string parseOptions(int argc, char **argv, Options &options) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; i++) {
    std::string option = argv[i];
    if (option == "--fs" || option == "--user" || option == "--options" || option == "--keytab" ||
        option == "--principal") {
      if (i + 1 == argc) return option + ": missing value";
      (option == "--fs"          ? options.fs
       : option == "--user"      ? options.user
       : option == "--keytab"    ? options.keytab
       : option == "--principal" ? options.principal
                                 : options.options) = argv[++i];
    } else if (option == "--verbose" || option == "--quiet" || option == "--json") {
      (option == "--verbose" ? options.verbose
       : option == "--quiet" ? options.quiet
                             : options.json) = true;
    } else {
      return option + ": unknown option";
    }
  }
  if (options.keytab.empty() != options.principal.empty()) {
    return "--keytab and --principal go together";
  }
  if (i == argc) return "missing command";
  options.commands.emplace_back();
  for (; i < argc; i++) {
    if (std::string(argv[i]) == ";") {
      options.commands.emplace_back();
    } else {
      options.commands.back().push_back(argv[i]);
    }
  }
  for (const auto &command : options.commands) {
    if (command.empty()) return "; without a command";
  }
  return "";
}

// A command's one-letter options ("-lR" "-h" gives "lRh"; "-skipTrash" gives kSkipTrash; "-t N"
// gives t and the threads) and the index of its first operand.
size_t takeFlags(const std::vector<std::string> &line, std::string &flags, std::string &threads) {
  size_t i = 1;
  for (; i < line.size() && line[i].size() > 1 && line[i][0] == '-' && line[i][1] != '-'; i++) {
    if (line[i] == "-t" && i + 1 < line.size()) {
      flags += 't';
      threads = line[++i];
      continue;
    }
    flags += line[i] == "-skipTrash" ? std::string(1, kSkipTrash) : line[i].substr(1);
  }
  return i;
}

// The threads of -t: 1 to 256, 0 when not given, -1 for anything else.
int threadCount(const std::string &text) {
  if (text.empty()) return 0;
  char *end = nullptr;
  long count = strtol(text.c_str(), &end, 10);
  return *end || count < 1 || count > 256 ? -1 : static_cast<int>(count);
}

// Checks every command before any runs; what is wrong, or "".
std::string check(const std::vector<std::string> &line) {
  const Command *command = findCommand(line[0]);
  if (!command) return line[0] + ": no such command";
  std::string flags, threads;
  size_t first = takeFlags(line, flags, threads);
  if (threadCount(threads) < 0) return line[0] + ": -t " + threads + ": not 1 to 256 threads";
  for (char flag : flags) {
    if (!strchr(command->flags, flag)) {
      return line[0] + ": unknown option " +
             (flag == kSkipTrash ? std::string("-skipTrash") : std::string("-") + flag);
    }
  }
  for (size_t i = first; command->textList && i < line.size(); i++) {
    if (line[i].empty())
      return line[0] + ": argument " + std::to_string(i - first + 1) + " is empty";
  }
  size_t arguments = line.size() - first;
  if (arguments < command->least) {
    return line[0] + ": missing argument (qxdfs " + command->name + " " + command->arguments + ")";
  }
  if (arguments > command->most) return line[0] + ": too many arguments";
  return "";
}

int run(Shell &shell, const std::vector<std::string> &line) {
  shell.flags.clear();
  std::string threads;
  size_t first = takeFlags(line, shell.flags, threads);
  shell.threads = threadCount(threads);
  const Command *command = findCommand(line[0]);
  std::vector<std::string> operands(line.begin() + static_cast<long>(first), line.end());
  if (!expandOperands(shell, *command, operands)) return kFailed;
  int status = command->run(shell, operands);
  // What could not be written to standard output fails the command, as Hadoop's shell says it;
  // a reader that went away (| head) ends it quietly.
  switch (outputFailure()) {
    case Output::kClosed:
      return kOutputClosed;
    case Output::kFailed:
      fprintf(stderr, "%s: Unable to write to output stream.\n", command->name);
      return kFailed;
    case Output::kWritten:
      break;
  }
  return status;
}

std::string contentsOf(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// A file goes in and comes back: a short text, printed, and random bytes, compared.
int demo(Shell &shell, const std::vector<std::string> &) {
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

namespace {

// config DIR: the options as the storage engine reads them, printed.
int showOptions(const Options &options, const std::string &directory) {
  Session session(options.verbose);
  if (!session.start() || !session.loadOptions(directory)) return kFailed;
  printOptions(session.options(), options.json);
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
  if (!session.addClassPath(options.configuration)) return kFailed;
  if (!options.keytab.empty() && !session.logIn(options.principal, options.keytab)) {
    return kFailed;
  }
  if (!options.user.empty() && !session.actAs(options.user)) return kFailed;
  hdfsFS fs = session.connect(target, options.user);
  if (!fs) return kFailed;
  if (!options.expectedUri.empty() && session.uriOf(fs) != options.expectedUri) {
    fprintf(stderr,
            "qxdfs: --fs embedded: the client configuration at %s names %s, not the "
            "cluster's %s\n",
            options.configuration.c_str(), session.uriOf(fs).c_str(), options.expectedUri.c_str());
    return kFailed;
  }
  Shell shell{session,
              fs,
              options.user,
              uriOf(target),
              options.json,
              !options.quiet && isatty(STDERR_FILENO),
              ""};
  for (const auto &line : options.commands) {
    int status = run(shell, line);
    if (status != kSucceeded) return status;
  }
  return kSucceeded;
}

// The KDC of a secured embedded cluster, for the JVM and the Kerberos tools alike, unless the
// environment names one.
void useKerberosConfiguration(const std::string &configuration) {
  std::string krb5 = clusterInfo(configuration, "krb5");
  const char *chosen = getenv("KRB5_CONFIG");
  if (!krb5.empty() && !(chosen && *chosen)) setenv("KRB5_CONFIG", krb5.c_str(), 1);
}

// The class data sharing archive of the classes qxdfs loads: QXDFS_CLASS_ARCHIVE when set ("" for
// none), else the build's.
std::string classArchive() {
  const char *chosen = getenv("QXDFS_CLASS_ARCHIVE");
#ifdef QX_CLASS_ARCHIVE
  std::string archive = chosen ? chosen : QX_CLASS_ARCHIVE;
#else
  std::string archive = chosen ? chosen : "";
#endif
  return !archive.empty() && access(archive.c_str(), R_OK) == 0 ? archive : "";
}

// A short command spends most of its time creating the JVM and loading classes before its first
// file-system call. The JVM starts with the jars of the build's jar lists on its class path (what
// the modules would add first anyway), so that the JDK's classes and Hadoop's come mapped from the
// archive (the JVM checks it and goes on without it when it does not fit), and the quick compiler
// alone runs, which starts sooner and keeps up with the copies on two cores; commands that run
// Java work of their own keep both compilers. Options the environment gives come after these, and
// win; a jar root of the environment's own keeps the class path to its lists.
void tuneJvm(const Options &options) {
  const char *jarRoot = getenv("QXHOST_JAR_ROOT");
  if (!(jarRoot && *jarRoot)) setenv("QXHOST_CLASS_PATH", QX_CLASS_PATH, 0);
  std::string tuned = "-XX:+UseSerialGC";
  bool runsJava = false;
  for (const auto &line : options.commands) {
    runsJava = runsJava || line[0] == "mapjob" || line[0] == "jar" || line[0] == "javac";
  }
  if (!runsJava) tuned += " -XX:TieredStopAtLevel=1";
  std::string archive = classArchive();
  if (!archive.empty()) {
    tuned += " -Xshare:auto -XX:SharedArchiveFile=" + archive;
    // A stale archive is a slower start, not news to a user.
    if (!options.verbose) tuned += " -XX:-PrintWarnings";
  }
  const char *given = getenv("QXHOST_JVM_OPTIONS");
  setenv("QXHOST_JVM_OPTIONS", (tuned + " " + (given ? given : "")).c_str(), 1);
}

// A usage error: one line naming what is wrong, then where to look.
int refuse(const std::string &what) {
  fprintf(stderr, "qxdfs: %s\n(qxdfs --help lists the commands and options)\n", what.c_str());
  return kUsage;
}

}  // namespace
}  // namespace qxdfs

int main(int argc, char **argv) {
  using namespace qxdfs;
  std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty()) return refuse("missing command");
  if (words[0] == "cluster") return clusterCommand({words.begin() + 1, words.end()});
  Options options;
  std::string wrong = parseOptions(argc, argv, options);
  // Help, also after global options (qxdfs --fs embedded help ls).
  const std::vector<std::string> &first = wrong.empty() ? options.commands[0] : words;
  if (words[0] == "--help" || (wrong.empty() && first[0] == "help" && first.size() == 1)) {
    usage(stdout);
    return kSucceeded;
  }
  if (wrong.empty() && first[0] == "help") {
    return first.size() == 2 ? help(first[1]) : refuse("help: one command");
  }
  for (const auto &line : options.commands) {
    if (wrong.empty()) wrong = check(line);
    if (wrong.empty() && line[0] == "config" && options.commands.size() > 1) {
      wrong = "config runs alone";
    }
  }
  if (!wrong.empty()) return refuse(wrong);
  Target target;
  if (options.fs != "embedded") {
    std::string named = options.fs.empty() ? "local" : options.fs;
    wrong = parseTarget(named, target);
    if (!wrong.empty()) return refuse("--fs " + named + ": " + wrong);
  }
  EmbeddedCluster embedded;
  if (options.fs == "embedded") {
    RunningCluster running = runningCluster();
    if (!running.error.empty()) {
      fprintf(stderr, "qxdfs: --fs embedded: %s\n", running.error.c_str());
      return kFailed;
    }
    std::string uri = running.uri;
    options.configuration = running.configuration;
    if (uri.empty()) {
      fprintf(stderr,
              "qxdfs: starting a throwaway embedded HDFS (qxdfs cluster start keeps one)\n");
      if (!embedded.start()) {
        fprintf(stderr, "qxdfs: %s\n", embedded.error().c_str());
        return kFailed;
      }
      uri = embedded.uri();
      options.configuration = embedded.configurationDirectory();
    }
    // By the configuration's name for it (a highly available cluster's has no port), which
    // must then be the cluster's.
    parseTarget("default", target);
    target.name = uri;
    options.expectedUri = uri;
    useKerberosConfiguration(options.configuration);
  }
  tuneJvm(options);
  return runAll(options, target);  // the session ends before an embedded cluster stops
}
