// What every qxdfs command works with: dfslink started as the storage engine starts it, the
// connections of the command line, and the failures told in one line each.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "dfslink/dfslink.h"
#include "hostkernel/hostkernel.h"

namespace qxdfs {

// A file system as the command line names it: its host for hdfsConnectAsUser and its port.
struct Target {
  std::u16string host;  // "local", "default" or a name node's host
  uint16_t port = 0;
  std::string name;  // as given, for messages
};

// The name node's port when an address gives none.
constexpr uint16_t kNameNodePort = 8020;

// Parses --fs values and file-system prefixes of paths: local, default, hdfs://HOST[:PORT],
// file:///; what is wrong with anything else, or "".
std::string parseTarget(const std::string &text, Target &target);

// A path that may name its own file system ("hdfs://HOST[:PORT]/path", "file:///path").
struct Location {
  bool ownTarget = false;
  Target target;
  std::string path;
  std::string error;  // what is wrong with the file system it names
};
Location parseLocation(const std::string &text);

class Session {
 public:
  explicit Session(bool verbose);
  ~Session();
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  // Loads dfslink through the host kernel.
  bool start();
  // Reads the options the way the storage engine does: the environment's class path
  // (ZEL_HADOOP_CONFIG_PATH, ZEL_HADOOP_JAR_PATH) and DIRECTORY/xmlopts.xml.
  bool loadOptions(const std::string &directory);
  const OptionsRecord &options() const { return options_; }
  // Gives the JVM its class path: the options' list when they were read, and the installation's
  // jar lists, then the client configuration directories given (HADOOP_CONF_DIR, the embedded
  // cluster's); then starts Hadoop's logging and adds the configuration resources named (found
  // in those directories), after Hadoop's own, so that they win.
  bool addClassPath(const std::vector<std::string> &directories = {},
                    const std::vector<std::string> &resources = {});
  // Logs in to Kerberos from a keytab, as Hadoop's client does for every later connection;
  // false after the failure's line.
  bool logIn(const std::string &principal, const std::string &keytab);
  // Makes the JVM act as a user from now on, for every connection and for what it launches (a
  // jar's JVM, a map job): by that name with simple authentication, as a proxy user of the
  // Kerberos login otherwise; false after the failure's line.
  bool actAs(const std::string &user);
  // A connection, kept until the session ends (one per file system and user); NULL after the
  // failure's line, or with the failure's cause in `cause` when one is given.
  hdfsFS connect(const Target &target, const std::string &user, std::string *cause = nullptr);

  // A connection's file system as Hadoop names it ("hdfs://127.0.0.1:8020", "file:///").
  std::string uriOf(hdfsFS fs);
  // Whether a connection is the local file system (the local disk, through Hadoop).
  bool isLocal(hdfsFS fs);

  DfsLinkState *dfs() const { return dfs_; }
  DfsOperations &ops() const { return dfs_->operations; }
  QXMessageContext *context() { return messages().get(); }

  // While one lives, the reports of its thread's operations go to a message context of the
  // thread's own (the copying threads of a tree), so failures are told file by file.
  class ThreadMessages {
   public:
    ThreadMessages();
    ~ThreadMessages();
    ThreadMessages(const ThreadMessages &) = delete;
    ThreadMessages &operator=(const ThreadMessages &) = delete;

   private:
    hostkernel::MessageContext own_{nullptr};
  };

  // The cause of a failure from what the modules reported since the last call (with --verbose
  // every report is printed): a Java exception's message (thrown) or a report's text; forgets
  // the reports.
  std::string takeCause(bool &thrown);
  // The line for a failure that says the Kerberos ticket is missing, expired or destroyed
  // ("no Kerberos credentials for FS: run kinit or give --keytab"); "" for any other.
  std::string credentialsCause(std::string_view said) const;
  // Prints the failure's line as Hadoop's shell words it: "COMMAND: MESSAGE" for an exception,
  // "COMMAND: `SUBJECT': CAUSE" otherwise.
  void fail(const std::string &command, const std::string &subject);
  // Whether the modules reported anything since the last failure line.
  bool reported() { return !messages().reports().empty(); }
  // Forgets the reports of an operation whose failure is expected.
  void forget() { messages().clear(); }
  // Prints the plain lines reported so far (a listing such as the compiler's diagnostics).
  void printListing() const;

 private:
  bool addResources(const std::vector<std::string> &resources);
  hostkernel::MessageContext &messages();
  bool verbose_;
  hostkernel::MessageContext messages_{nullptr};
  DfsLinkState *dfs_ = nullptr;
  std::vector<hdfsFS> connections_;
  std::map<std::string, hdfsFS> connected_;  // by host, port and user
  std::map<hdfsFS, std::string> uris_;       // what uriOf found
  std::string fsName_;                       // the file system connected last, for messages
  QXPool *optionsPool_ = nullptr;            // the class path list grows in it
  OptionsRecord options_{};
  bool optionsRead_ = false;
  void startLogging();
  // Without options, the class path the JVM is given: the jars of the jar root's lists.
  ClassPathList jarListClassPath();
  std::string jarText_;
  std::vector<int32_t> jarLengths_;
};

// Prints what the options hold: their fields, their bits by name and the class path items, as
// text or as one JSON document.
void printOptions(const OptionsRecord &options, bool json);

// QXChar text of UTF-8 text and back.
inline std::u16string qx(const std::string &text) {
  return hostkernel::toQXChar(text);
}
inline std::string utf8(const std::u16string &text) {
  return hostkernel::fromQXChar(text);
}

}  // namespace qxdfs
