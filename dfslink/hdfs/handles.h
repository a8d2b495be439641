// The open-file list and what a registered handle keeps: the stream operations' side of the
// module.
#pragma once

#include "dfslink/internal.h"

namespace dfs {

// A file handle in use by an operation: registered, and not released while the operation
// runs, however another thread closes it.
class HandleUse {
 public:
  HandleUse(DfsLinkState *dfs, JNIEnv *env, FileHandle *file);
  ~HandleUse();
  HandleUse(const HandleUse &) = delete;
  HandleUse &operator=(const HandleUse &) = delete;
  // 0, or what is wrong with the handle: 0x86BFF801 none, 0x86BFF802 not open here.
  uint32_t problem() const { return problem_; }

 private:
  DfsLinkState *dfs_;
  JNIEnv *env_;
  FileHandle *file_;
  uint32_t problem_;
};

// What a handle keeps for the copying reads and writes: one Java array, held by one call at a
// time, and what its stream offers for reading into native memory.
struct TransferSlot {
  jbyteArray array;     // a global reference, or NULL
  int32_t length;       // the array's length
  int32_t busy;         // a call holds the array (atomic)
  int32_t nativeReads;  // the bits of NativeRead (atomic); 0 until the stream is asked
};

enum NativeRead : int32_t {
  kNativeReadsKnown = 1,
  kSequentialNative = 2,  // read(ByteBuffer)
  kPositionedNative = 4,  // read(long, ByteBuffer)
};

// The slot of a registered handle.
TransferSlot *transferSlotOf(FileHandle *file);

// Deletes the slot's array (the handle is being released).
void dropTransferArray(DfsLinkState *dfs, JNIEnv *env, TransferSlot *slot);

// Whether the stream of an input handle reads into a direct ByteBuffer the given way; asked of
// the stream once per handle.
bool readsIntoNativeMemory(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                           FileHandle *file, NativeRead kind);

// A Java array for one copying call on a handle in use: the handle's own, kept between calls,
// when no other call holds it and the length is within the limits; otherwise a one-off local
// array. NULL when NewByteArray failed, with its exception pending. Only the first length
// elements are the call's.
class TransferArray {
 public:
  TransferArray(DfsLinkState *dfs, JNIEnv *env, FileHandle *file, int32_t length);
  ~TransferArray();
  TransferArray(const TransferArray &) = delete;
  TransferArray &operator=(const TransferArray &) = delete;
  jbyteArray get() const { return array_; }

 private:
  void keep(int32_t length);

  DfsLinkState *dfs_;
  JNIEnv *env_;
  TransferSlot *slot_ = nullptr;  // held by this call
  jbyteArray array_ = nullptr;
  bool local_ = false;
};

// Makes room in the open-file list and its set for one handle more, before the Java call that
// opens its stream, so that registering it cannot fail once a file was made; false when the room
// cannot be had. An open that made no handle gives its room back.
bool reserveHandleRoom(DfsLinkState *dfs);
void unreserveHandleRoom(DfsLinkState *dfs);
// Adds a new handle to the open-file list, in the room reserved for it.
void registerHandle(DfsLinkState *dfs, FileHandle *file);

// Takes a handle out of the open-file list for hdfsCloseFile, before its stream is closed, so that
// no other call can use or close it from then on: 0, or 0x86BFF802 when it is not open here.
uint32_t takeOutOfList(DfsLinkState *dfs, FileHandle *file);
// Releases a handle taken out of the list once its stream is closed, or, while another thread's
// operation still uses it, when that use ends.
void finishClose(DfsLinkState *dfs, JNIEnv *env, FileHandle *file);

// Deletes the Java arrays the handles still open keep (the module is going; their streams are
// left as they are).
void releaseKeptTransferArrays(DfsLinkState *dfs, JNIEnv *env);

// Opens a new file at a Path for writing with hdfsOpenFile's steps and reports, but never over
// a file that is there; NULL after the reports.
FileHandle *createNewFile(DfsLinkState *dfs, QXMessageContext *context, int32_t *status,
                          JNIEnv *env, hdfsFS connection, jobject path, int32_t bufferSize,
                          int16_t replication, int32_t blockSize);

// A new FileHandle record, or NULL.
FileHandle *newHandleRecord(DfsLinkState *dfs);
// Gives back a record that was never registered.
void discardHandleRecord(DfsLinkState *dfs, FileHandle *file);

}  // namespace dfs
