// The commands that print files: cat, head, tail and text. What cannot be written to standard
// output ends the command; the line for it is the command loop's (outputFailure).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tools/qxdfs/copying.h"
#include "tools/qxdfs/java.h"

namespace qxdfs {
namespace {

constexpr int64_t kTailBytes = 1024;  // what head and tail show, as Hadoop's shell does
constexpr jint kChunk = 1 << 20;

// Prints a file of the file system: the whole file, or from an offset up to a limit of bytes.
int copyOut(Shell &shell, const char *command, const std::string &path, int64_t offset = 0,
            int64_t limit = INT64_MAX) {
  Session &session = shell.session;
  int32_t status = 0;
  std::u16string text = qx(path);
  FileHandle *file = session.ops().hdfsOpenFile(session.dfs(), session.context(), &status, shell.fs,
                                                text.c_str(), 0, 0, 0, 0);
  if (!file) return done(shell, false, command, path);
  Progress none(shell, path, 0);
  bool sought = offset == 0 || session.ops().hdfsSeek(session.dfs(), session.context(), &status,
                                                      shell.fs, file, offset) == 0;
  Stopped stopped = sought ? pour(remoteReader(shell, shell.fs, file), outputWriter(), none, limit)
                           : Stopped::kReading;
  bool closed =
      session.ops().hdfsCloseFile(session.dfs(), session.context(), &status, shell.fs, file) == 0;
  if (stopped == Stopped::kInterrupted) return interrupted(command, path);
  if (stopped == Stopped::kWriting) return kFailed;
  return done(shell, stopped == Stopped::kAtTheEnd && closed, command, path);
}

// Standard input to standard output (cat -).
int catInput(Shell &shell) {
  std::string cause;
  Progress none(shell, "-", 0);
  Stopped stopped = pour(localReader(STDIN_FILENO, cause), outputWriter(), none);
  if (stopped == Stopped::kReading) return localFailure("cat", "-", cause);
  return stopped == Stopped::kAtTheEnd ? kSucceeded : kFailed;
}

// The bytes of a file a codec of Hadoop's knows by its suffix, decompressed, to standard output;
// any other file as it is.
int textOne(Shell &shell, const std::string &path) {
  const char *fileSystem = "org/apache/hadoop/fs/FileSystem";
  const char *codecType = "org/apache/hadoop/io/compress/CompressionCodec";
  Java java(shell.session);
  LocalRef<jobject> configuration =
      java.call(shell.fs, fileSystem, "getConf", "()Lorg/apache/hadoop/conf/Configuration;");
  LocalRef<jobject> factory =
      java.make("org/apache/hadoop/io/compress/CompressionCodecFactory",
                "(Lorg/apache/hadoop/conf/Configuration;)V", configuration.get());
  LocalRef<jobject> given = java.path(path);
  LocalRef<jobject> codec = java.call(
      factory.get(), "org/apache/hadoop/io/compress/CompressionCodecFactory", "getCodec",
      "(Lorg/apache/hadoop/fs/Path;)Lorg/apache/hadoop/io/compress/CompressionCodec;", given.get());
  if (java && !codec) return copyOut(shell, "text", path);
  LocalRef<jobject> raw = java.call(
      shell.fs, fileSystem, "open",
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
  if (interruption()) return interrupted("text", path);
  if (!written) return kFailed;
  return cause.empty() ? kSucceeded : localFailure("text", path, cause);
}

// A path's size; -1 for a path that is missing.
int64_t sizeOf(Shell &shell, const std::string &path) {
  hdfsPathInfo *info = peek(shell, path);
  shell.session.forget();
  if (!info) return -1;
  int64_t size = info->size;
  release(shell, info, 1);
  return size;
}

}  // namespace

int cat(Shell &shell, const std::vector<std::string> &arguments) {
  int status = kSucceeded;
  for (const std::string &path : arguments) {
    status = std::max(status, path == "-" ? catInput(shell) : copyOut(shell, "cat", path));
    if (outputFailure() != Output::kWritten) break;
  }
  return status;
}

int head(Shell &shell, const std::vector<std::string> &arguments) {
  return copyOut(shell, "head", arguments[0], 0, kTailBytes);
}

// The last KiB, and with -f what is appended after it, looked for each second until interrupted.
int tail(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  const std::string &path = arguments[0];
  int64_t shown = sizeOf(shell, path);
  if (shown < 0) return done(shell, false, "tail", path, kNoSuchPath);
  int result = copyOut(shell, "tail", path, std::max<int64_t>(0, shown - kTailBytes));
  while (result == kSucceeded && shell.flag('f') && outputFailure() == Output::kWritten) {
    for (int tenth = 0; tenth < 10 && !interruption(); tenth++) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (interruption()) return kSucceeded;
    int64_t size = sizeOf(shell, path);
    if (size < 0) return done(shell, false, "tail", path, kNoSuchPath);
    if (size > shown) result = copyOut(shell, "tail", path, shown, size - shown);
    shown = std::max(shown, size);
  }
  return result;
}

int text(Shell &shell, const std::vector<std::string> &arguments) {
  Interruptible interruptible;
  int status = kSucceeded;
  for (const std::string &path : arguments) {
    status = std::max(status, textOne(shell, path));
    if (outputFailure() != Output::kWritten || interruption()) break;
  }
  return status;
}

}  // namespace qxdfs
