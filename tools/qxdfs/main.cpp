// qxdfs: the storage engine's view of a file system, from the command line. It starts the host
// kernel, loads dfslink as the engine does, connects, and runs file-system commands through
// dfslink's operations. Several commands may follow each other, separated by ";".
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tools/embedded_cluster.h"
#include "tools/qxdfs/cluster.h"
#include "tools/qxdfs/commands.h"
#include "tools/qxdfs/copying.h"
#include "tools/qxdfs/generic.h"

namespace qxdfs {
namespace {

const char kSynopsis[] =
    "Usage: qxdfs [generic options] COMMAND [ARGUMENT...] [; COMMAND ...]...\n"
    "generic options:\n"
    "  -fs, --fs local|default|embedded|hdfs://HOST[:PORT]|file:///\n"
    "                  the file system (default: fs.defaultFS of the configuration,\n"
    "                  the local one without any; embedded: the cluster of\n"
    "                  'qxdfs cluster start', or a throwaway one)\n"
    "  -D KEY=VALUE    a configuration property, over what the files say\n"
    "  -conf FILE      a configuration file, over the site files\n"
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
    "The client configuration comes from HADOOP_CONF_DIR, else (for the embedded cluster's\n"
    "address) from the embedded cluster's.\n";

void printUsage(FILE *out) {
  fputs(kSynopsis, out);
  fprintf(out, "       %s", kClusterUsage);
  fprintf(out, "Commands (each with or without its dash; qxdfs help COMMAND tells more):\n");
  for (const Command &command : commands()) {
    fprintf(out, "\t[%s]\n", usageLine(command).c_str());
  }
  fprintf(out,
          "Exit status: 0 success, 1 a command failed, 255 usage (as Hadoop's shell), "
          "128+N a signal\n");
}

// help [COMMAND...] and usage [COMMAND...], as Hadoop's shell prints them.
int help(const std::vector<std::string> &line) {
  bool usageOnly = std::string(findCommand(line[0])->name) == "usage";
  if (line.size() == 1) {
    printUsage(stdout);
    return kSucceeded;
  }
  int status = kSucceeded;
  for (size_t i = 1; i < line.size(); i++) {
    const Command *command = findCommand(line[i]);
    if (!command) {
      tell(usageOnly ? "usage" : "help", pathError(line[i], "No such command"));
      status = kFailed;
    } else if (usageOnly) {
      printf("Usage: qxdfs [generic options] %s\n", usageLine(*command).c_str());
    } else {
      printf("%s :\n  %s\n%s", usageLine(*command).c_str(), command->summary, command->details);
    }
  }
  return status;
}

struct Options {
  std::string fs;  // local when neither --fs nor the options name one
  std::string user;
  std::string keytab;
  std::string principal;
  std::string options;        // a directory with xmlopts.xml
  std::string configuration;  // the embedded cluster's client configuration directory
  std::string expectedUri;    // the file system the connection must reach (the embedded one)
  std::vector<std::pair<std::string, std::string>> properties;  // -D
  std::vector<std::string> confFiles;                           // -conf
  bool verbose = false;
  bool quiet = false;
  bool json = false;
  std::vector<std::vector<std::string>> commands;
};

// Generic options, then commands separated by ";"; what is wrong, or "".
std::string parseOptions(int argc, char **argv, Options &options) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; i++) {
    std::string option = argv[i];
    bool valued = option == "--fs" || option == "-fs" || option == "--user" ||
                  option == "--options" || option == "--keytab" || option == "--principal" ||
                  option == "-D" || option == "-conf";
    if (valued && i + 1 == argc) return option + ": missing value";
    std::string value = valued ? argv[++i] : "";
    if (option.compare(0, 2, "-D") == 0 && option.size() > 2) value = option.substr(2);
    if (option == "--fs" || option == "-fs") {
      options.fs = value;
    } else if (option == "--user" || option == "--options" || option == "--keytab" ||
               option == "--principal") {
      (option == "--user"      ? options.user
       : option == "--options" ? options.options
       : option == "--keytab"  ? options.keytab
                               : options.principal) = value;
    } else if (option.compare(0, 2, "-D") == 0) {
      size_t equals = value.find('=');
      if (equals == std::string::npos || equals == 0) return "-D " + value + ": not KEY=VALUE";
      options.properties.emplace_back(value.substr(0, equals), value.substr(equals + 1));
    } else if (option == "-conf") {
      options.confFiles.push_back(value);
    } else if (option == "--verbose" || option == "--quiet" || option == "--json") {
      (option == "--verbose" ? options.verbose
       : option == "--quiet" ? options.quiet
                             : options.json) = true;
    } else if (option.compare(0, 2, "--") == 0) {
      return option + ": unknown option";
    } else {
      break;  // a command spelt with its dash
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

// A command line made ready to run: its command, options and operands.
struct Line {
  const Command *command = nullptr;
  std::map<std::string, std::string> options;
  std::vector<std::string> operands;
};

// A whole number of an option (-t, -q), as Hadoop's shell reads it; false when it is none.
bool numberOption(const std::string &text, int &value) {
  char *end = nullptr;
  long number = strtol(text.c_str(), &end, 10);
  if (text.empty() || *end) return false;
  value = static_cast<int>(std::max(1L, std::min(number, 256L)));
  return true;
}

// Whether a command's -t is a number of threads (and -q its queue).
bool copiesOnThreads(const Command &command) {
  return std::string(command.options).find("t= q=") != std::string::npos;
}

// Parses a command's words before any command runs; its usage error's status, or kSucceeded.
int parseLine(const std::vector<std::string> &words, Line &line) {
  line.command = findCommand(words[0]);
  if (!line.command) {
    tell(words[0].c_str(), "Unknown command");
    fprintf(stderr, "(qxdfs help lists the commands)\n");
    return kUsage;
  }
  line.operands.assign(words.begin() + 1, words.end());
  std::string wrong = takeOptions(*line.command, line.operands, line.options);
  if (!wrong.empty()) return usageError(*line.command, wrong);
  int ignored = 0;
  for (const char *number : {"t", "q"}) {
    auto given = line.options.find(number);
    if (copiesOnThreads(*line.command) && given != line.options.end() &&
        !numberOption(given->second, ignored)) {
      return usageError(*line.command, "For input string: \"" + given->second + "\"");
    }
  }
  for (size_t i = 0; line.command->textList && i < line.operands.size(); i++) {
    if (line.operands[i].empty()) {
      return usageError(*line.command, "argument " + std::to_string(i + 1) + " is empty");
    }
  }
  return kSucceeded;
}

int run(Shell &shell, const Line &line) {
  shell.command = line.command;
  shell.options = line.options;
  shell.errors = 0;
  shell.threads = 0;
  if (shell.options.count("t") && copiesOnThreads(*line.command)) {
    numberOption(shell.value("t"), shell.threads);
  }
  std::vector<std::string> operands = line.operands;
  int status = line.command->run(shell, operands);
  // What could not be written to standard output fails the command, as Hadoop's shell says it;
  // a reader that went away (| head) ends it quietly.
  switch (outputFailure()) {
    case Output::kClosed:
      return kOutputClosed;
    case Output::kFailed:
      tell(line.command->name, "Unable to write to output stream.");
      return kFailed;
    case Output::kWritten:
      break;
  }
  return status;
}

// Runs a command given as words (the main job's own steps).
int runWords(Shell &shell, const std::vector<std::string> &words) {
  Line line;
  int status = parseLine(words, line);
  return status == kSucceeded ? run(shell, line) : status;
}

std::string contentsOf(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// A file goes in and comes back: a short text, printed, and random bytes, compared.
int demo(Shell &shell, std::vector<std::string> &) {
  std::string local = "/tmp/qxdfs-demo-" + std::to_string(getpid());
  std::string text = "Hello from the storage engine, through dfslink and Hadoop.\n";
  std::string random(16 << 20, '\0');
  srand(static_cast<unsigned>(time(nullptr)));
  for (char &byte : random) byte = static_cast<char>(rand());
  std::ofstream(local + ".txt", std::ios::binary) << text;
  std::ofstream(local + ".bin", std::ios::binary) << random;
  int status = runWords(shell, {"put", local + ".txt", "/demo/hello.txt"});
  if (status == 0) status = runWords(shell, {"put", local + ".bin", "/demo/random.bin"});
  if (status == 0) {
    printf("cat /demo/hello.txt:\n");
    fflush(stdout);
    status = runWords(shell, {"cat", "/demo/hello.txt"});
  }
  if (status == 0) status = runWords(shell, {"get", "/demo/random.bin", local + ".back"});
  bool same = status == 0 && contentsOf(local + ".back") == random;
  if (status == 0) {
    printf("/demo/random.bin: %zu bytes went in and %s\n", random.size(),
           same ? "came back identical" : "came back DIFFERENT");
  }
  for (const char *suffix : {".txt", ".bin", ".back"}) ::remove((local + suffix).c_str());
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

// The client configuration directories for the class path: HADOOP_CONF_DIR, as Hadoop's own
// scripts put it there, and the embedded cluster's when the command line reaches it (by --fs
// embedded, or by its address where HADOOP_CONF_DIR names none).
std::vector<std::string> configurationDirectories(const Options &options, const Target &target) {
  std::vector<std::string> directories;
  const char *named = getenv("HADOOP_CONF_DIR");
  bool hasNamed = named && *named;
  if (hasNamed && options.configuration.empty()) directories.push_back(named);
  if (!options.configuration.empty()) {
    directories.push_back(options.configuration);
  } else if (!hasNamed && target.port != 0) {
    RunningCluster running = runningCluster();
    Target embedded;
    if (!running.uri.empty() && parseTarget(running.uri, embedded).empty() &&
        embedded.host == target.host && embedded.port == target.port) {
      directories.push_back(running.configuration);
    }
  }
  return directories;
}

// Runs the commands in order; the first failure ends the line.
int runAll(Options options, Target target, const std::vector<Line> &lines) {
  if (lines[0].command->run == nullptr) {  // config, which runs alone
    return showOptions(options, lines[0].operands[0]);
  }
  GenericResources generic;
  std::string wrong = generic.write(options.confFiles, options.properties);
  if (!wrong.empty()) {
    fprintf(stderr, "qxdfs: %s\n", wrong.c_str());
    return kFailed;
  }
  Session session(options.verbose);
  if (!session.start()) return kFailed;
  if (!options.options.empty()) {
    if (!session.loadOptions(options.options)) return kFailed;
    takeTarget(session.options(), options, target);
  }
  std::vector<std::string> directories = configurationDirectories(options, target);
  if (!generic.directory().empty()) directories.push_back(generic.directory());
  if (!session.addClassPath(directories, generic.names())) return kFailed;
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
  Shell shell{session, fs, options.user, uriOf(target)};
  shell.json = options.json;
  shell.progress = !options.quiet && isatty(STDERR_FILENO);
  for (const Line &line : lines) {
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
    const Command *command = findCommand(line[0]);
    std::string name = command ? command->name : "";
    runsJava = runsJava || name == "mapjob" || name == "jar" || name == "javac";
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
  if (words[0] == "--help") {
    printUsage(stdout);
    return kSucceeded;
  }
  Options options;
  std::string wrong = parseOptions(argc, argv, options);
  if (!wrong.empty()) return refuse(wrong);
  // Help and usage need no file system (qxdfs --fs embedded help ls).
  const Command *first = findCommand(options.commands[0][0]);
  if (first && (std::string(first->name) == "help" || std::string(first->name) == "usage")) {
    return help(options.commands[0]);
  }
  std::vector<Line> lines(options.commands.size());
  for (size_t i = 0; i < lines.size(); i++) {
    if (int status = parseLine(options.commands[i], lines[i])) return status;
    if (lines[i].command->run == nullptr && lines.size() > 1) {
      return usageError(*lines[i].command, "runs alone");
    }
  }
  Target target;
  if (options.fs != "embedded") {
    std::string named = options.fs.empty() ? "default" : options.fs;
    wrong = parseTarget(named, target);
    if (!wrong.empty()) return refuse("-fs " + named + ": " + wrong);
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
  return runAll(options, target, lines);  // the session ends before an embedded cluster stops
}
