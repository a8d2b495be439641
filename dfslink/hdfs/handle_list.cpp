// The open-file list: which handles are open, which operations use them, and the records of
// closed handles. It has a lock of its own that no Java call runs under, so an operation on one
// handle never waits for another thread's open or close. Beside the list, a hash set of the open
// handles' addresses answers whether a handle is open in constant time, and each record carries
// its opening number, by which a handle is found in the list (kept in opening order) by halving.
#include <cstring>

#include "dfslink/hdfs/handles.h"

namespace dfs {
namespace {

// Closed handles whose records are kept before one is given back to the pool: a stale handle
// is refused unless this many handles were closed after it.
constexpr int32_t kRetiredKept = 4096;

// A FileHandle as the module keeps it; the caller's FileHandle pointer points at it.
struct OpenFile {
  FileHandle handle;  // first
  int32_t users;      // operations running on it (listLock)
  int32_t closed;     // closed while in use: the last user releases it
  uint64_t opening;   // its place in the opening order
  TransferSlot transfer;
};

OpenFile *recordOf(FileHandle *file) {
  return reinterpret_cast<OpenFile *>(file);
}
const OpenFile *recordOf(const FileHandle *file) {
  return reinterpret_cast<const OpenFile *>(file);
}

// The hash set of open handles: open addressing, linear probing, removed slots marked with the
// address of a record of the module's own, which no caller can hold.
FileHandle removedMark;
FileHandle *const kRemoved = &removedMark;
constexpr uint32_t kIndexStart = 256;

uint32_t slotOf(const FileHandle *file, uint32_t capacity) {
  uint64_t bits = reinterpret_cast<uintptr_t>(file) >> 3;
  return static_cast<uint32_t>((bits * 0x9E3779B97F4A7C15ull) >> 32) & (capacity - 1);
}

// The slot that holds the handle, or the empty slot where it would go.
uint32_t probe(const DfsLinkState *dfs, const FileHandle *file) {
  uint32_t mask = dfs->indexCapacity - 1;
  for (uint32_t i = slotOf(file, dfs->indexCapacity);; i = (i + 1) & mask) {
    FileHandle *held = dfs->indexSlots[i];
    if (!held || (held == file && held != kRemoved)) return i;
  }
}

bool indexed(const DfsLinkState *dfs, const FileHandle *file) {
  return dfs->indexSlots && dfs->indexSlots[probe(dfs, file)] == file;
}

// The handles the list and the set must have room for: those open, and those being opened.
uint32_t handlesToHold(const DfsLinkState *dfs) {
  return static_cast<uint32_t>(dfs->openFiles.count + dfs->reservedHandles);
}

// Rebuilds the set with room for twice the handles it must hold; false when no block can be had.
bool rebuildIndex(DfsLinkState *dfs) {
  uint32_t capacity = kIndexStart;
  while (capacity < 4u * handlesToHold(dfs)) capacity *= 2;
  auto *slots = static_cast<FileHandle **>(
      dfs->pool->allocate(dfs->pool, sizeof(FileHandle *) * capacity, QX_ZERO_FILL));
  if (!slots) return false;
  if (dfs->indexSlots) dfs->pool->free(dfs->pool, dfs->indexSlots);
  dfs->indexSlots = slots;
  dfs->indexCapacity = capacity;
  dfs->indexUsed = 0;
  const OpenFileList &list = dfs->openFiles;
  for (int32_t i = 0; i < list.count; i++) {
    dfs->indexSlots[probe(dfs, list.items[i])] = list.items[i];
    dfs->indexUsed++;
  }
  return true;
}

// Room in the list and in the set (kept at most half full) for every handle reserved.
bool makeRoom(DfsLinkState *dfs) {
  OpenFileList &list = dfs->openFiles;
  if (handlesToHold(dfs) > static_cast<uint32_t>(list.capacity)) {
    int32_t capacity = list.capacity * 2;
    void *grown =
        dfs->pool->reallocate(dfs->pool, list.items, sizeof(FileHandle *) * capacity, QX_ZERO_FILL);
    if (!grown) return false;
    list.items = static_cast<FileHandle **>(grown);
    list.capacity = capacity;
  }
  uint32_t reservedSlots = static_cast<uint32_t>(dfs->reservedHandles);
  return (dfs->indexSlots && 2 * (dfs->indexUsed + reservedSlots) <= dfs->indexCapacity) ||
         rebuildIndex(dfs);
}

void removeFromIndex(DfsLinkState *dfs, const FileHandle *file) {
  uint32_t slot = probe(dfs, file);
  if (dfs->indexSlots[slot] == file) dfs->indexSlots[slot] = kRemoved;
}

// The place of an open handle in the list, found by its opening number.
int32_t placeOf(const OpenFileList &list, const FileHandle *file) {
  uint64_t opening = recordOf(file)->opening;
  int32_t low = 0, high = list.count - 1;
  while (low <= high) {
    int32_t middle = low + (high - low) / 2;
    uint64_t there = recordOf(list.items[middle])->opening;
    if (there == opening) return middle;
    if (there < opening) {
      low = middle + 1;
    } else {
      high = middle - 1;
    }
  }
  return -1;
}

bool isOpen(const DfsLinkState *dfs, const FileHandle *file) {
  return indexed(dfs, file) && file->type != HDFS_STREAM_NONE;
}

// Keeps a closed record a while (listLock held); the oldest kept one goes back to the pool.
void retire(DfsLinkState *dfs, FileHandle *file) {
  file->type = HDFS_STREAM_NONE;
  file->stream = nullptr;
  if (!dfs->retired) {
    dfs->retired = static_cast<FileHandle **>(
        dfs->pool->allocate(dfs->pool, sizeof(FileHandle *) * kRetiredKept, 0));
    if (!dfs->retired) {
      dfs->pool->free(dfs->pool, file);
      return;
    }
  }
  if (dfs->retiredCount == kRetiredKept) {
    dfs->pool->free(dfs->pool, dfs->retired[dfs->retiredNext]);
  } else {
    dfs->retiredCount++;
  }
  dfs->retired[dfs->retiredNext] = file;
  dfs->retiredNext = (dfs->retiredNext + 1) % kRetiredKept;
}

// Releases the stream of a handle nobody uses any more.
void release(DfsLinkState *dfs, JNIEnv *env, FileHandle *file) {
  dropTransferArray(dfs, env, &recordOf(file)->transfer);
  jobject stream = file->stream;
  {
    MutexLock lock(dfs->listLock);
    retire(dfs, file);
  }
  env->DeleteGlobalRef(stream);
}

}  // namespace

HandleUse::HandleUse(DfsLinkState *dfs, JNIEnv *env, FileHandle *file)
    : dfs_(dfs), env_(env), file_(file), problem_(0) {
  if (!file) {
    problem_ = kNoFileHandle;
    return;
  }
  MutexLock lock(dfs->listLock);
  // A handle that is not in the list (closed before, or never opened here) is not read.
  if (!isOpen(dfs, file)) {
    problem_ = kFileNotOpen;
    return;
  }
  recordOf(file)->users++;
}

HandleUse::~HandleUse() {
  if (problem_) return;
  bool last;
  {
    MutexLock lock(dfs_->listLock);
    OpenFile *record = recordOf(file_);
    last = --record->users == 0 && record->closed;
  }
  if (last) release(dfs_, env_, file_);
}

FileHandle *newHandleRecord(DfsLinkState *dfs) {
  auto *record = static_cast<OpenFile *>(dfs->pool->allocate(dfs->pool, sizeof(OpenFile), 0));
  if (!record) return nullptr;
  record->users = 0;
  record->closed = 0;
  record->opening = 0;
  record->transfer = TransferSlot{nullptr, 0, 0, 0};
  return &record->handle;
}

TransferSlot *transferSlotOf(FileHandle *file) {
  return &recordOf(file)->transfer;
}

void discardHandleRecord(DfsLinkState *dfs, FileHandle *file) {
  dfs->pool->free(dfs->pool, file);
}

bool reserveHandleRoom(DfsLinkState *dfs) {
  MutexLock lock(dfs->listLock);
  dfs->reservedHandles++;
  if (makeRoom(dfs)) return true;
  dfs->reservedHandles--;
  return false;
}

void unreserveHandleRoom(DfsLinkState *dfs) {
  MutexLock lock(dfs->listLock);
  dfs->reservedHandles--;
}

void registerHandle(DfsLinkState *dfs, FileHandle *file) {
  MutexLock lock(dfs->listLock);
  dfs->reservedHandles--;  // its room was made then
  dfs->indexSlots[probe(dfs, file)] = file;
  dfs->indexUsed++;
  recordOf(file)->opening = dfs->nextOpening++;
  OpenFileList &list = dfs->openFiles;
  list.items[list.count++] = file;
}

uint32_t takeOutOfList(DfsLinkState *dfs, FileHandle *file) {
  MutexLock lock(dfs->listLock);
  if (!isOpen(dfs, file)) return kFileNotOpen;
  OpenFileList &list = dfs->openFiles;
  int32_t index = placeOf(list, file);
  // The later entries move down one place, as the list keeps the opening order without gaps.
  memmove(&list.items[index], &list.items[index + 1],
          sizeof(FileHandle *) * static_cast<size_t>(list.count - index - 1));
  list.count--;
  removeFromIndex(dfs, file);
  return 0;
}

void finishClose(DfsLinkState *dfs, JNIEnv *env, FileHandle *file) {
  {
    MutexLock lock(dfs->listLock);
    OpenFile *record = recordOf(file);
    if (record->users > 0) {
      record->closed = 1;
      return;
    }
  }
  release(dfs, env, file);
}

void releaseKeptTransferArrays(DfsLinkState *dfs, JNIEnv *env) {
  const OpenFileList &list = dfs->openFiles;
  for (int32_t i = 0; i < list.count; i++) {
    dropTransferArray(dfs, env, &recordOf(list.items[i])->transfer);
  }
}

}  // namespace dfs
