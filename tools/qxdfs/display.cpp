// The commands that print files: cat, head, tail and text. What cannot be written to standard
// output ends the command; the line for it is the command loop's (outputFailure).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tools/qxdfs/copying.h"
#include "tools/qxdfs/java.h"
#include "tools/qxdfs/pathdata.h"

namespace qxdfs {
namespace {

constexpr int64_t kTailBytes = 1024;  // what head and tail show, as Hadoop's shell does
constexpr jint kChunk = 1 << 20;

// Prints a file: the whole file, or from an offset up to a limit of bytes.
int copyOut(Shell &shell, const Item &item, int64_t offset = 0, int64_t limit = INT64_MAX) {
  Session &session = shell.session;
  const char *command = shell.name();
  const std::string &path = item.text;
  int32_t status = 0;
  std::u16string text = qx(item.path);
  FileHandle *file = session.ops().hdfsOpenFile(session.dfs(), session.context(), &status, item.fs,
                                                text.c_str(), 0, 0, 0, 0);
  if (!file) return done(shell, false, command, path);
  Progress none(shell, path, 0);
  bool sought = offset == 0 || session.ops().hdfsSeek(session.dfs(), session.context(), &status,
                                                      item.fs, file, offset) == 0;
  Stopped stopped = sought ? pour(remoteReader(shell, item.fs, file), outputWriter(), none, limit)
                           : Stopped::kReading;
  bool closed =
      session.ops().hdfsCloseFile(session.dfs(), session.context(), &status, item.fs, file) == 0;
  if (stopped == Stopped::kInterrupted) return interrupted(command, path);
  if (stopped == Stopped::kWriting) return kFailed;
  return done(shell, stopped == Stopped::kAtTheEnd && closed, command, path);
}

// The bytes of a file a codec of Hadoop's knows by its suffix, decompressed, to standard output;
// any other file as it is.
int textOne(Shell &shell, const Item &item) {
  const char *fileSystem = "org/apache/hadoop/fs/FileSystem";
  const char *codecType = "org/apache/hadoop/io/compress/CompressionCodec";
  Java java(shell.session);
  LocalRef<jobject> configuration =
      java.call(item.fs, fileSystem, "getConf", "()Lorg/apache/hadoop/conf/Configuration;");
  LocalRef<jobject> factory =
      java.make("org/apache/hadoop/io/compress/CompressionCodecFactory",
                "(Lorg/apache/hadoop/conf/Configuration;)V", configuration.get());
  LocalRef<jobject> given = java.path(item.path);
  LocalRef<jobject> codec = java.call(
      factory.get(), "org/apache/hadoop/io/compress/CompressionCodecFactory", "getCodec",
      "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/io/compress/CompressionCodec;", given.get());
  if (java && !codec) return copyOut(shell, item);
  LocalRef<jobject> raw = java.call(
      item.fs, fileSystem, "open",
      "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/fs/FSDataInputStream;", given.get());
  LocalRef<jobject> stream = java.call(
      codec.get(), codecType, "createInputStream",
      "(Ljava/io/InputStream;)Lorg/apache/hadoop/io/compress/CompressionInputStream;", raw.get());
  JNIEnv *env = java.env();
  LocalRef<jbyteArray> buffer(env, java ? env->NewByteArray(kChunk) : nullptr);
  std::vector<char> bytes(kChunk);
  Writer write = outputWriter();
  bool written = true;
  for (jint n; java && buffer && written && !interruption() &&
               (n = java.value<jint>(stream.get(), "java/io/InputStream", "read", "([BII)I",
                                     buffer.get(), jint{0}, kChunk)) >= 0;) {
    env->GetByteArrayRegion(buffer.get(), 0, n, reinterpret_cast<jbyte *>(bytes.data()));
    written = write(bytes.data(), n);
  }
  std::string cause = !buffer && java ? "out of Java memory" : java.error();
  Java closing(shell.session);  // the stream goes even after a failure
  if (stream || raw) {
    closing.call(stream ? stream.get() : raw.get(), "java/io/InputStream", "close", "()V");
  }
  if (interruption()) return interrupted(shell.name(), item.text);
  if (!written) return kFailed;
  if (cause.empty()) return kSucceeded;
  tell(shell.name(), cause);
  return kFailed;
}

// Each file an argument names, to `print`; a directory is "Is a directory". Stops when standard
// output is gone or at an interruption.
int eachFile(Shell &shell, const std::vector<std::string> &operands,
             const std::function<int(const Item &item)> &print) {
  return eachItem(shell, operands, [&](Item &item) {
    if (outputFailure() != Output::kWritten || interruption()) return;
    if (item.isDirectory()) return displayError(shell, pathError(item.text, kIsDirectory));
    if (print(item) != kSucceeded) shell.errors++;
  });
}

// Standard input, the "-" of cat.
int catInput(Shell &shell) {
  std::string cause;
  Progress none(shell, "-", 0);
  Stopped stopped = pour(localReader(STDIN_FILENO, cause), outputWriter(), none);
  if (stopped == Stopped::kReading) return localFailure(shell.name(), "-", cause);
  return stopped == Stopped::kAtTheEnd ? kSucceeded : kFailed;
}

}  // namespace

int cat(Shell &shell, std::vector<std::string> &operands) {
  Interruptible interruptible;
  for (const std::string &operand : operands) {
    if (outputFailure() != Output::kWritten || interruption()) break;
    if (operand == "-") {
      if (catInput(shell) != kSucceeded) shell.errors++;
    } else {
      eachFile(shell, {operand}, [&](const Item &item) { return copyOut(shell, item); });
    }
  }
  return interruption() ? interrupted(shell.name(), "-") : statusOf(shell);
}

namespace {

// The one file head and tail show: its path as given, not a pattern (as Hadoop's shell takes it).
int literalFile(Shell &shell, const std::string &operand,
                const std::function<int(Item &item)> &print) {
  Item item;
  std::string error;
  if (!itemOf(shell, operand, item, error)) {
    tell(shell.name(), error);
    return kFailed;
  }
  if (!item.exists) return localFailure(shell.name(), operand, kNoSuchPath);
  if (item.isDirectory()) return localFailure(shell.name(), operand, kIsDirectory);
  return print(item);
}

}  // namespace

int head(Shell &shell, std::vector<std::string> &operands) {
  return literalFile(shell, operands[0],
                     [&](const Item &item) { return copyOut(shell, item, 0, kTailBytes); });
}

// The last KiB, and with -f what is appended after it, looked for every five seconds (-s MS)
// until interrupted.
int tail(Shell &shell, std::vector<std::string> &operands) {
  Interruptible interruptible;
  long long interval = 5000;
  bool follow = shell.flag("f");
  if (follow && !shell.value("s").empty()) {
    char *end = nullptr;
    long long given = strtoll(shell.value("s").c_str(), &end, 10);
    if (*end) return usageError(*shell.command, "For input string: \"" + shell.value("s") + "\"");
    if (given > 0) interval = given;
  }
  return literalFile(shell, operands[0], [&](Item &item) {
    int64_t shown = item.stat.length;
    int result = copyOut(shell, item, std::max<int64_t>(0, shown - kTailBytes));
    std::string error;
    while (result == kSucceeded && follow && outputFailure() == Output::kWritten) {
      for (long long waited = 0; waited < interval && !interruption(); waited += 100) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(100LL, interval)));
      }
      if (interruption()) return kSucceeded;
      if (!refresh(shell, item, error)) return localFailure(shell.name(), item.text, error);
      if (!item.exists) return localFailure(shell.name(), item.text, kNoSuchPath);
      if (item.stat.length > shown) result = copyOut(shell, item, shown, item.stat.length - shown);
      shown = std::max(shown, item.stat.length);
    }
    return result;
  });
}

int text(Shell &shell, std::vector<std::string> &operands) {
  Interruptible interruptible;
  return eachFile(shell, operands, [&](const Item &item) { return textOne(shell, item); });
}

}  // namespace qxdfs
