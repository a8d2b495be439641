// qxdfs: the storage engine's view of a file system, from the command line. It starts the
// host kernel, loads dfslink as the engine does, connects, and copies files in and out through
// hdfsOpenFile, hdfsRead and hdfsWrite.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "dfslink/hdfs/dfslink.h"
#include "hostkernel/hostkernel.h"
#include "tools/embedded_hdfs.h"

namespace {

constexpr int32_t kChunk = 1 << 20;

void usage() {
  fprintf(stderr,
          "usage: qxdfs [--fs local|default|embedded|hdfs://HOST:PORT] [--user NAME] COMMAND\n"
          "  --fs embedded starts a real HDFS on loopback for the command's duration\n"
          "commands:\n"
          "  cat PATH            print a file of the file system\n"
          "  put LOCAL PATH      copy a local file into the file system\n"
          "  get PATH LOCAL      copy a file of the file system to a local file\n"
          "  demo                put a text and 16 MiB of random bytes, get them back, compare\n");
}

struct Target {
  std::u16string host;
  uint16_t port = 0;
};

bool parseTarget(const std::string &text, Target &target) {
  const std::string scheme = "hdfs://";
  if (text.rfind(scheme, 0) != 0) {
    target.host = hostkernel::toQXChar(text);
    return true;
  }
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon < scheme.size()) return false;
  target.host = hostkernel::toQXChar(text.substr(scheme.size(), colon - scheme.size()));
  target.port = static_cast<uint16_t>(atoi(text.c_str() + colon + 1));
  return true;
}

// A started dfslink with a connection; the destructor gives everything back.
class Session {
 public:
  bool open(const Target &target, const std::string &user) {
    QXKernel *kernel = hostkernel::kernel();
    dfs_ = static_cast<DfsLinkState *>(kernel->loadExtension(kernel, u"dfslink", 7, context()));
    if (!dfs_) return false;
    BridgeState *bridge = dfs_->jvm;
    if (bridge->operations.haddpaths(bridge, context(), nullptr) != 0) return false;
    std::u16string qxUser = hostkernel::toQXChar(user);
    int32_t result =
        dfs_->operations.hdfsConnectAsUser(dfs_, context(), target.host.c_str(), target.port,
                                           user.empty() ? nullptr : qxUser.c_str(), &fs_);
    return result == 0 && fs_;
  }

  ~Session() {
    if (fs_) dfs_->operations.hdfsDisconnect(dfs_, context(), fs_);
    if (dfs_) dfs_->frame.header.release(dfs_);
  }

  FileHandle *openFile(const std::string &path, int32_t flags) {
    std::u16string qxPath = hostkernel::toQXChar(path);
    int32_t status = 0;
    FileHandle *file = dfs_->operations.hdfsOpenFile(dfs_, context(), &status, fs_, qxPath.c_str(),
                                                     flags, 0, 0, 0);
    if (!file) fprintf(stderr, "qxdfs: cannot open %s\n", path.c_str());
    return file;
  }

  bool close(FileHandle *file) {
    int32_t status = 0;
    return dfs_->operations.hdfsCloseFile(dfs_, context(), &status, fs_, file) == 0;
  }

  // Copies a file of the file system to a stream; false on a failed read.
  bool copyOut(FileHandle *file, FILE *out) {
    std::vector<char> buffer(kChunk);
    for (;;) {
      int32_t status = 0;
      int32_t n =
          dfs_->operations.hdfsRead(dfs_, context(), &status, fs_, file, buffer.data(), kChunk);
      if (n < 0) return false;
      if (n == 0) return true;
      if (fwrite(buffer.data(), 1, static_cast<size_t>(n), out) != static_cast<size_t>(n)) {
        return false;
      }
    }
  }

  bool copyIn(FILE *in, FileHandle *file) {
    std::vector<char> buffer(kChunk);
    for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), in)) > 0;) {
      int32_t status = 0;
      if (dfs_->operations.hdfsWrite(dfs_, context(), &status, fs_, file, buffer.data(),
                                     static_cast<int32_t>(n)) != static_cast<int32_t>(n)) {
        return false;
      }
    }
    return !ferror(in);
  }

 private:
  QXMessageContext *context() { return messages_.get(); }

  hostkernel::MessageContext messages_;
  DfsLinkState *dfs_ = nullptr;
  hdfsFS fs_ = nullptr;
};

int getFile(Session &session, const std::string &path, FILE *out) {
  FileHandle *file = session.openFile(path, 0);
  if (!file) return 1;
  bool copied = session.copyOut(file, out);
  bool closed = session.close(file);
  return copied && closed ? 0 : 1;
}

int putFile(Session &session, const std::string &local, const std::string &path) {
  FILE *in = fopen(local.c_str(), "rb");
  if (!in) {
    fprintf(stderr, "qxdfs: cannot read %s: %s\n", local.c_str(), strerror(errno));
    return 1;
  }
  FileHandle *file = session.openFile(path, HDFS_OPEN_WRITE);
  bool copied = file && session.copyIn(in, file);
  bool closed = file && session.close(file);
  fclose(in);
  return copied && closed ? 0 : 1;
}

std::string readAll(const std::string &path) {
  std::string content;
  if (FILE *in = fopen(path.c_str(), "rb")) {
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, in)) > 0;) content.append(buffer, n);
    fclose(in);
  }
  return content;
}

bool writeAll(const std::string &path, const std::string &content) {
  FILE *out = fopen(path.c_str(), "wb");
  if (!out) return false;
  bool written = fwrite(content.data(), 1, content.size(), out) == content.size();
  return fclose(out) == 0 && written;
}

// A file goes in and comes back: a short text, printed, and random bytes, compared.
int demo(Session &session) {
  std::string local = "/tmp/qxdfs-demo-" + std::to_string(getpid());
  std::string text = "Hello from the storage engine, through dfslink and Hadoop.\n";
  std::string random(16 << 20, '\0');
  srand(static_cast<unsigned>(time(nullptr)));
  for (char &byte : random) byte = static_cast<char>(rand());
  bool ok = writeAll(local + ".txt", text) && writeAll(local + ".bin", random) &&
            putFile(session, local + ".txt", "/demo/hello.txt") == 0 &&
            putFile(session, local + ".bin", "/demo/random.bin") == 0;
  if (ok) {
    printf("cat /demo/hello.txt:\n");
    fflush(stdout);
    ok = getFile(session, "/demo/hello.txt", stdout) == 0;
  }
  FILE *back = ok ? fopen((local + ".back").c_str(), "wb") : nullptr;
  ok = back && getFile(session, "/demo/random.bin", back) == 0;
  if (back) fclose(back);
  bool same = ok && readAll(local + ".back") == random;
  if (ok) {
    printf("/demo/random.bin: %zu bytes went in and %s\n", random.size(),
           same ? "came back identical" : "came back DIFFERENT");
  }
  for (const char *suffix : {".txt", ".bin", ".back"}) remove((local + suffix).c_str());
  return ok && same ? 0 : 1;
}

int run(Session &session, const std::vector<std::string> &command) {
  if (command[0] == "demo" && command.size() == 1) return demo(session);
  if (command[0] == "cat" && command.size() == 2) return getFile(session, command[1], stdout);
  if (command[0] == "put" && command.size() == 3) return putFile(session, command[1], command[2]);
  if (command[0] == "get" && command.size() == 3) {
    FILE *out = fopen(command[2].c_str(), "wb");
    if (!out) {
      fprintf(stderr, "qxdfs: cannot write %s: %s\n", command[2].c_str(), strerror(errno));
      return 1;
    }
    int result = getFile(session, command[1], out);
    return fclose(out) == 0 ? result : 1;
  }
  usage();
  return 2;
}

// The session ends (and disconnects) before an embedded cluster stops.
int connectAndRun(const Target &target, const std::string &user, const std::string &fs,
                  const std::vector<std::string> &command) {
  Session session;
  if (!session.open(target, user)) {
    fprintf(stderr, "qxdfs: cannot connect to %s\n", fs.c_str());
    return 1;
  }
  return run(session, command);
}

}  // namespace

int main(int argc, char **argv) {
  std::string fs = "local";
  std::string user;
  std::vector<std::string> command;
  for (int i = 1; i < argc; i++) {
    std::string argument = argv[i];
    if ((argument == "--fs" || argument == "--user") && i + 1 < argc) {
      (argument == "--fs" ? fs : user) = argv[++i];
    } else {
      command.push_back(argument);
    }
  }
  EmbeddedHdfs embedded;
  if (fs == "embedded") {
    fprintf(stderr, "qxdfs: starting an embedded HDFS...\n");
    if (!embedded.start()) {
      fprintf(stderr, "qxdfs: %s\n", embedded.error().c_str());
      return 1;
    }
    fs = embedded.uri();
    fprintf(stderr, "qxdfs: embedded HDFS at %s\n", fs.c_str());
  }
  Target target;
  if (command.empty() || !parseTarget(fs, target)) {
    usage();
    return 2;
  }
  return connectAndRun(target, user, fs, command);
}
