#include "tools/qxdfs/commands.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "tools/qxdfs/output.h"
#include "tools/qxdfs/pathdata.h"

namespace qxdfs {

const char *Shell::name() const {
  return command ? command->name : "qxdfs";
}

void tell(const char *command, const std::string &message) {
  fprintf(stderr, "%s: %s\n", command, message.substr(0, message.find('\n')).c_str());
}

void displayError(Shell &shell, const std::string &message) {
  tell(shell.name(), message);
  shell.errors++;
}

std::string quoted(const std::string &path) {
  return "`" + path + "'";
}

std::string pathError(const std::string &path, const std::string &reason) {
  return quoted(path) + ": " + reason;
}

int done(Shell &shell, bool succeeded, const char *command, const std::string &subject,
         const char *quietCause) {
  if (succeeded) return kSucceeded;
  if (shell.session.reported()) {
    shell.session.fail(command, subject);
  } else {
    tell(command, pathError(subject, quietCause));
  }
  return kFailed;
}

void displayFailure(Shell &shell, const std::string &shown, const char *quietCause) {
  done(shell, false, shell.name(), shown, quietCause);
  shell.errors++;
}

int usageError(const Command &command, const std::string &why) {
  fprintf(stderr, "-%s: %s\nUsage: qxdfs [generic options] %s\n", command.name, why.c_str(),
          usageLine(command).c_str());
  return kUsage;
}

std::string usageLine(const Command &command) {
  return std::string("-") + command.name + (*command.usage ? " " : "") + command.usage;
}

namespace {

// The options a command takes: each name, and whether a value follows it.
std::map<std::string, bool> optionsOf(const Command &command) {
  std::map<std::string, bool> taken;
  std::istringstream words(command.options);
  for (std::string word; words >> word;) {
    bool valued = word.back() == '=';
    taken[valued ? word.substr(0, word.size() - 1) : word] = valued;
  }
  return taken;
}

// "-lR" for "-l -R": every letter an option without a value.
bool joinedFlags(const std::map<std::string, bool> &taken, const std::string &word) {
  if (word.size() < 3) return false;
  for (size_t i = 1; i < word.size(); i++) {
    auto found = taken.find(word.substr(i, 1));
    if (found == taken.end() || found->second) return false;
  }
  return true;
}

}  // namespace

std::string takeOptions(const Command &command, std::vector<std::string> &arguments,
                        std::map<std::string, std::string> &options) {
  std::map<std::string, bool> taken = optionsOf(command);
  size_t at = 0;
  while (at < arguments.size()) {
    const std::string word = arguments[at];
    if (word.size() < 2 || word[0] != '-') break;
    arguments.erase(arguments.begin() + static_cast<long>(at));
    if (word == "--") break;
    auto found = taken.find(word.substr(1));
    if (found == taken.end() && joinedFlags(taken, word)) {
      for (size_t i = 1; i < word.size(); i++) options[word.substr(i, 1)] = "";
    } else if (found == taken.end()) {
      return "Illegal option " + word;
    } else if (!found->second) {
      options[found->first] = "";
    } else {
      // As Hadoop's shell: the next word is the value unless it is an option or an operand
      // the command cannot do without.
      std::string value;
      if (at < arguments.size() && arguments.size() > command.least &&
          (arguments[at].empty() || arguments[at][0] != '-')) {
        value = arguments[at];
        arguments.erase(arguments.begin() + static_cast<long>(at));
      }
      options[found->first] = value;
    }
  }
  if (arguments.size() < command.least) {
    return "Not enough arguments: expected " + std::to_string(command.least) + " but got " +
           std::to_string(arguments.size());
  }
  if (arguments.size() > command.most) {
    return "Too many arguments: expected " + std::to_string(command.most) + " but got " +
           std::to_string(arguments.size());
  }
  return "";
}

bool expandAll(Shell &shell, const std::vector<std::string> &arguments, std::vector<Item> &items,
               int &status, bool quietMissing) {
  for (const std::string &argument : arguments) {
    std::string error;
    Reach reach = Reach::kArgument;
    if (expand(shell, argument, items, error, reach)) continue;
    if (reach == Reach::kUsage) {
      status = usageError(*shell.command, error);
      return false;
    }
    if (reach == Reach::kCommand || !quietMissing) displayError(shell, error);
    if (reach == Reach::kCommand) {
      status = kFailed;
      return false;
    }
  }
  return true;
}

int eachItem(Shell &shell, const std::vector<std::string> &arguments, const ItemAction &there,
             const ItemAction &missing) {
  std::vector<Item> items;
  int status = kSucceeded;
  if (!expandAll(shell, arguments, items, status)) return status;
  for (Item &item : items) {
    if (item.exists) {
      there(item);
    } else if (missing) {
      missing(item);
    } else {
      displayError(shell, pathError(item.text, kNoSuchPath));
    }
  }
  return statusOf(shell);
}

void eachBelow(Shell &shell, const Item &directory, const ItemAction &action, bool deeper,
               int depth) {
  if (depth >= kDeepest) {
    displayError(shell, pathError(directory.text, "deeper than " + std::to_string(kDeepest) +
                                                      " levels (a loop of links?)"));
    return;
  }
  std::vector<Item> children;
  std::string error;
  if (!childrenOf(shell, directory, children, error)) {
    displayError(shell, error);
    return;
  }
  for (Item &child : children) {
    action(child);
    if (deeper && child.isDirectory()) eachBelow(shell, child, action, deeper, depth + 1);
  }
}

hdfsPathInfo *peek(Shell &shell, const std::string &path, hdfsFS fs, QXMessageContext *context) {
  hdfsPathInfo *info = nullptr;
  lookup(shell, fs, path, info, context);
  return info;
}

Found lookup(Shell &shell, hdfsFS fs, const std::string &path, hdfsPathInfo *&info,
             QXMessageContext *context) {
  int32_t status = 0;
  std::u16string text = qx(path);
  Session &session = shell.session;
  info = session.ops().hdfsGetPathInfo(session.dfs(), context ? context : session.context(),
                                       &status, fs ? fs : shell.fs, text.c_str());
  if (info) return Found::kThere;
  return status == static_cast<int32_t>(kPathMissing) ? Found::kMissing : Found::kUnknown;
}

void release(Shell &shell, hdfsPathInfo *entries, int32_t count) {
  shell.session.ops().hdfsReleasePathInfo(shell.session.dfs(), nullptr, entries, count);
}

std::string sizeText(const Shell &shell, int64_t bytes) {
  return shell.flag("h") ? humanSize(bytes) : std::to_string(bytes);
}

hdfsFS localConnection(Shell &shell) {
  Target target;
  parseTarget("local", target);
  return shell.session.connect(target, shell.user);
}

bool listOf(Shell &shell, const char *command, const std::string &path, hdfsPathInfo *&entries,
            int32_t &count, hdfsFS fs) {
  Session &session = shell.session;
  std::u16string text = qx(path);
  entries = nullptr;
  count = 0;
  int32_t result = session.ops().hdfsListDirectory(
      session.dfs(), session.context(), fs ? fs : shell.fs, text.c_str(), &count, &entries);
  // In name order whatever order the file system keeps, as Hadoop's shell lists.
  std::sort(entries, entries + count, [](const hdfsPathInfo &a, const hdfsPathInfo &b) {
    return strcmp(a.name, b.name) < 0;
  });
  return result == 0 || done(shell, false, command, path) == kSucceeded;
}

std::vector<const char *> textList(std::vector<std::string>::const_iterator first,
                                   std::vector<std::string>::const_iterator last) {
  std::vector<const char *> list;
  for (auto text = first; text != last; ++text) list.push_back(text->c_str());
  list.push_back("");
  return list;
}

namespace {

constexpr size_t kAny = SIZE_MAX;

// What cp and mv both say of the file systems and of progress.
#define QXDFS_OTHER_SYSTEMS                                                              \
  "  Either side may name its own file system: hdfs://HOST[:PORT]/..., file:///...\n"    \
  "  A file of 4 MiB and more shows its progress on a terminal (the destination's size " \
  "as\n  the file system reports it).\n"

// What every writer of a file does.
#define QXDFS_WRITES_BESIDE                                                                   \
  "  Each file is written under a hidden name beside its destination and renamed after its\n" \
  "  last byte: a failed or interrupted copy leaves what was there as it was.\n"

#define QXDFS_THREADS                                                                \
  "  -t N  the files of a directory on N threads (one for each core unless given)\n" \
  "  -q N  (taken for Hadoop's thread pool queue; qxdfs needs none)\n"

}  // namespace

const std::vector<Command> &commands() {
  static const std::vector<Command> table = {
      {"appendToFile", "[-n] <localsrc> ... <dst>",
       "append local files (- for standard input) to a file", "n", 2, kAny, appendToFile,
       "  -n  append to a new block (where the file system can)\n"
       "  A file that is not there is made, beside its name and renamed.\n"},
      {"cat", "[-ignoreCrc] <src> ...", "print files (- for standard input)", "ignoreCrc", 1, kAny,
       cat},
      {"checksum", "[-v] <src> ...",
       "the file system's checksum of files (NONE where it keeps none)", "v", 1, kAny, checksum,
       "  -v  the block size too\n"
       "  --json: {\"entries\": [{path, algorithm, checksum}]}\n"},
      {"chgrp", "[-R] GROUP PATH...", "set the group", "R", 2, kAny, changeGroup,
       "  -R  everything below directories too\n"},
      {"chmod", "[-R] <MODE[,MODE]... | OCTALMODE> PATH...", "set permissions", "R", 2, kAny,
       changeMode,
       "  -R  everything below directories too\n"
       "  MODE: [ugoa][+-=][rwxXt], separated by commas; OCTALMODE: 3 or 4 digits\n"},
      {"chown", "[-R] [OWNER][:[GROUP]] PATH...", "set owner and group", "R", 2, kAny, changeOwner,
       "  -R  everything below directories too\n"},
      {"copyFromLocal",
       "[-f] [-p] [-l] [-d] [-t <thread count>] [-q <thread pool queue size>] "
       "<localsrc> ... <dst>",
       "copy local files and directories to the file system (as put)", "f p l d t= q=", 1, kAny,
       put, "  As put.\n"},
      {"copyToLocal",
       "[-f] [-p] [-crc] [-ignoreCrc] [-t <thread count>] "
       "[-q <thread pool queue size>] <src> ... <localdst>",
       "copy files and directories to the local disk (as get)", "f p crc ignoreCrc t= q=", 1, kAny,
       get, "  As get.\n"},
      {"count", "[-q] [-h] [-v] [-t [<storage type>]] [-u] [-x] [-e] [-s] <path> ...",
       "directories, files and bytes below each path", "q h v u x e s t=", 1, kAny, countPaths,
       "  -q  quotas first: names, names left, space, space left (none, inf)\n"
       "  -u  quotas and their use only\n"
       "  -t  the space quotas of each storage type (with -q or -u)\n"
       "  -h  sizes with K, M, G       -v  a header line\n"
       "  -x  snapshots left out       -e  the erasure coding policy\n"
       "  -s  the snapshot counts\n"
       "  --json: {\"entries\": [{path, directories, files, bytes[, quota, spaceQuota]}]}\n"},
      {"cp",
       "[-f] [-p | -p[topax]] [-d] [-t <thread count>] [-q <thread pool queue size>] "
       "<src> ... <dst>",
       "copy files or directories", "f p d t= q=", 2, kAny, copy,
       "  -f  replace what is there (else: File exists)\n"
       "  -p  keep times, owner and permissions\n" QXDFS_THREADS
       "  A copy onto its source or into it is refused. Several sources go into a "
       "directory.\n" QXDFS_WRITES_BESIDE QXDFS_OTHER_SYSTEMS},
      {"createSnapshot", "<snapshotDir> [<snapshotName>]", "make a snapshot of a directory", "", 1,
       2, createSnapshot},
      {"deleteSnapshot", "<snapshotDir> <snapshotName>", "delete a snapshot", "", 2, 2,
       deleteSnapshot},
      {"df", "[-h] [<path> ...]", "capacity, use and space left of the file system", "h", 0, kAny,
       diskFree,
       "  -h  sizes with K, M, G\n"
       "  --json: {capacity, used, available, usedPercent}\n"},
      {"du", "[-s] [-h] [-v] [-x] <path> ...", "bytes below each path (each entry of a directory)",
       "s h v x", 0, kAny, diskUsage,
       "  -s  one line for each path     -h  sizes with K, M, G\n"
       "  -v  a header line              -x  snapshots left out\n"
       "  Columns: bytes, bytes with their replicas, path.\n"
       "  --json: {\"entries\": [{path, size, spaceConsumed}]}\n"},
      {"expunge", "[-immediate] [-fs <path>]", "empty the trash of what is old enough",
       "immediate fs=", 0, 2, expunge,
       "  -immediate  everything in the trash, at once\n"
       "  -fs PATH    the trash of that file system\n"},
      {"find", "<path> ... <expression> ...", "paths below each path by name", "", 1, kAny,
       findPaths,
       "  -name PATTERN, -iname PATTERN  the last part of the name matches (*, ?, [a-z], {a,b})\n"
       "  -print, -print0                a line (or a NUL) after each path (the default)\n"
       "  --json: {\"paths\": [...]}\n"},
      {"get",
       "[-f] [-p] [-crc] [-ignoreCrc] [-t <thread count>] [-q <thread pool queue size>] "
       "<src> ... <localdst>",
       "copy files and directories to the local disk", "f p crc ignoreCrc t= q=", 1, kAny, get,
       "  -f  replace a local file that is there (else: File exists)\n"
       "  -p  keep times and permissions (and the owner where this user may give files "
       "away)\n" QXDFS_THREADS "  Several sources go into a directory. A progress line shows on a "
                               "terminal.\n" QXDFS_WRITES_BESIDE},
      {"getfacl", "[-R] <path>", "the ACLs of files and directories", "R", 1, kAny, getAcl},
      {"getfattr", "[-R] {-n name | -d} [-e en] <path>", "the extended attributes of a path",
       "R d n= e=", 1, kAny, getAttribute},
      {"getmerge", "[-nl] [-skip-empty-file] <src> <localdst>",
       "the files of directories, joined into one local file", "nl skip-empty-file", 2, kAny,
       getMerge,
       "  -nl               a line end after each file\n"
       "  -skip-empty-file  no line end after an empty file\n" QXDFS_WRITES_BESIDE},
      {"head", "<file>", "print the first KiB of a file", "", 1, 1, head},
      {"help", "[cmd ...]", "what each command does", "", 0, kAny, nullptr},
      {"ls", "[-C] [-d] [-h] [-q] [-R] [-t] [-S] [-r] [-u] [-e] [<path> ...]",
       "list directories and files", "C d h q R t S r u e", 0, kAny, list,
       "  -C  paths only            -d  directories as plain entries\n"
       "  -h  sizes with K, M, G    -q  ? for what cannot be printed\n"
       "  -R  the directories below, all the way down\n"
       "  -t  newest first          -S  largest first\n"
       "  -r  the order reversed    -u  access times instead of modification times\n"
       "  -e  the erasure coding policy\n"
       "  --json: {\"entries\": [{path, name, kind, size, replication, blockSize, owner, group,\n"
       "          permissions, modified, modifiedMillis, accessed, accessedMillis}]}\n"},
      {"mkdir", "[-p] <path> ...", "make directories", "p", 1, kAny, makeDirectory,
       "  -p  make the parents too, and a directory that is there is no failure\n"},
      {"moveFromLocal", "[-f] [-p] [-l] [-d] <localsrc> ... <dst>",
       "upload local files, then delete them", "f p l d", 1, kAny, moveFromLocal,
       "  As put; each local source is deleted once it arrived.\n"},
      {"moveToLocal", "<src> <localdst>", "copy files to the local disk, then delete them", "", 2,
       2, moveToLocal, "  As get; each source is deleted once it arrived.\n"},
      {"mv", "<src> ... <dst>", "rename, or move to another file system", "", 2, kAny, move,
       "  Never onto what is there (File exists), nor into itself. Several sources go into a\n"
       "  directory.\n" QXDFS_OTHER_SYSTEMS},
      {"put",
       "[-f] [-p] [-l] [-d] [-t <thread count>] [-q <thread pool queue size>] "
       "<localsrc> ... <dst>",
       "copy local files and directories to the file system", "f p l d t= q=", 1, kAny, put,
       "  -f  replace a file that is there (else: File exists)\n"
       "  -p  keep times and permissions (and the owner where the file system "
       "allows)\n" QXDFS_THREADS
       "  - reads standard input. Several sources go into a directory. A progress "
       "line shows on a\n  terminal.\n" QXDFS_WRITES_BESIDE},
      {"renameSnapshot", "<snapshotDir> <oldName> <newName>", "rename a snapshot", "", 3, 3,
       renameSnapshot},
      {"rm", "[-f] [-r|-R] [-skipTrash] [-safely] <src> ...",
       "delete files, or directories with -r", "f r R skipTrash safely", 1, kAny, remove,
       "  -r, -R      delete directories with everything below them\n"
       "  -f          a path that is not there is no failure\n"
       "  -skipTrash  delete at once, even where the file system keeps a trash\n"
       "  Where the file system keeps a trash (fs.trash.interval above 0, in the configuration\n"
       "  or the server's), deleted paths go to the trash and the line says where.\n"},
      {"rmdir", "[--ignore-fail-on-non-empty] <dir> ...", "delete empty directories",
       "-ignore-fail-on-non-empty", 1, kAny, removeDirectory},
      {"setfacl", "[-R] [{-b|-k} {-m|-x <acl_spec>} <path>]|[--set <acl_spec> <path>]",
       "set the ACLs of files and directories", "R b k m x -set", 0, kAny, setAcl},
      {"setfattr", "{-n name [-v value] | -x name} <path>", "set an extended attribute",
       "n= v= x=", 1, 1, setAttribute},
      {"setrep", "[-R] [-w] <rep> <path> ...",
       "set the replication of files (all below a directory)", "R w", 2, kAny, setReplication,
       "  -w  wait until every block has that many replicas (10 minutes at most)\n"},
      {"stat", "[format] <path> ...", "what the file system says of paths", "R", 1, kAny, stat,
       "  FORMAT: %a permissions (octal), %A permissions, %b size, %F kind, %g group, %n name,\n"
       "  %o block size, %r replication, %u owner, %x %y access and modification time (UTC),\n"
       "  %X %Y the same in milliseconds since 1970. %y when none is given.\n"
       "  --json: {\"entries\": [...]}, each entry as ls --json gives it\n"},
      {"tail", "[-f] [-s <sleep interval>] <file>", "print the last KiB of a file", "f s=", 1, 1,
       tail,
       "  -f  go on printing what is appended, looked for each second (-s MS), until "
       "interrupted\n"},
      {"test", "-[defswrz] <path>",
       "exit status 0 when the path is there, a directory, a file, not empty, empty, writable, "
       "readable",
       "e d f s z w r", 1, 1, testPath},
      {"text", "[-ignoreCrc] <src> ...", "print files, decompressed by their suffix (.gz, .bz2)",
       "ignoreCrc", 1, kAny, text},
      {"touch", "[-a] [-m] [-t TIMESTAMP (yyyyMMdd:HHmmss) ] [-c] <path> ...",
       "set the times of files to now, making empty ones that are not there", "a m t= c", 1, kAny,
       touch,
       "  -a  the access time only     -m  the modification time only\n"
       "  -t  that time instead of now (local time)\n"
       "  -c  make no file\n"},
      {"touchz", "<path> ...", "make empty files (a file that is there must be empty)", "", 1, kAny,
       touchZero},
      {"truncate", "[-w] <length> <path> ...", "cut files to a length", "w", 2, kAny, truncate,
       "  -w  wait until the file has that length (10 minutes at most)\n"},
      {"usage", "[cmd ...]", "how each command is called", "", 0, kAny, nullptr},
      // What qxdfs adds.
      {"blocks", "<path>", "the hosts of each block of a file", "", 1, 1, blocks,
       "  --json: {path, size, blockSize, blocks: [{index, offset, length, hosts}]}\n"},
      {"cd", "<directory>", "set the working directory for the commands after it", "", 1, 1,
       changeDirectory},
      {"config", "<dir>", "the options read from DIR and the environment (runs alone)", "", 1, 1,
       nullptr,
       "  Reads DIR/xmlopts.xml, ZEL_HADOOP_CONFIG_PATH and ZEL_HADOOP_JAR_PATH as the storage\n"
       "  engine does.\n"
       "  --json: {javaWorkPath, ..., hdfsHost, hdfsUser, hdfsPort, optionFlags, options,\n"
       "          classPath}\n"},
      {"demo", "", "put a text and 16 MiB of random bytes, get them back, compare", "", 0, 0, demo},
      {"jar", "<jar> <mainclass> [<arg> ...]", "run a jar's main class (JarDORN)", "", 2, kAny,
       runJar, "", true},
      {"javac", "<source> ... <outdir> [--release V] [--bootclasspath P]",
       "compile Java sources against the JVM's class path", "-release= -bootclasspath=", 2, kAny,
       compileJava, "", true},
      {"mapjob", "<input> <output> [KEY=VALUE ...]",
       "count the words of INPUT into OUTPUT with a map-reduce job (DORNmap)", "", 2, kAny, mapJob,
       "", true},
      {"pwd", "", "print the working directory", "", 0, 0, workingDirectory},
  };
  return table;
}

const Command *findCommand(const std::string &name) {
  std::string bare = name.size() > 1 && name[0] == '-' ? name.substr(1) : name;
  for (const Command &command : commands()) {
    if (bare == command.name) return &command;
  }
  return nullptr;
}

}  // namespace qxdfs
