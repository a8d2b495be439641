// The open-file list: which handles are open, which operations use them, and the records of
// closed handles. It has a lock of its own that no Java call runs under, so an operation on one
// handle never waits for another thread's open or close.
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
  TransferSlot transfer;
};

OpenFile *recordOf(FileHandle *file) {
  return reinterpret_cast<OpenFile *>(file);
}

int32_t indexOf(const OpenFileList &list, const FileHandle *file) {
  for (int32_t i = 0; i < list.count; i++) {
    if (list.items[i] == file) return i;
  }
  return -1;
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
  if (indexOf(dfs->openFiles, file) < 0 || file->type == HDFS_STREAM_NONE) {
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
  record->transfer = TransferSlot{nullptr, 0, 0, 0};
  return &record->handle;
}

TransferSlot *transferSlotOf(FileHandle *file) {
  return &recordOf(file)->transfer;
}

void discardHandleRecord(DfsLinkState *dfs, FileHandle *file) {
  dfs->pool->free(dfs->pool, file);
}

bool registerHandle(DfsLinkState *dfs, FileHandle *file) {
  MutexLock lock(dfs->listLock);
  OpenFileList &list = dfs->openFiles;
  if (list.count >= list.capacity) {
    int32_t capacity = list.capacity * 2;
    void *grown =
        dfs->pool->reallocate(dfs->pool, list.items, sizeof(FileHandle *) * capacity, QX_ZERO_FILL);
    if (!grown) return false;
    list.items = static_cast<FileHandle **>(grown);
    list.capacity = capacity;
  }
  list.items[list.count++] = file;
  return true;
}

uint32_t checkOpenHandle(DfsLinkState *dfs, const FileHandle *file) {
  MutexLock lock(dfs->listLock);
  if (indexOf(dfs->openFiles, file) < 0 || file->type == HDFS_STREAM_NONE) return kFileNotOpen;
  return 0;
}

void unregisterHandle(DfsLinkState *dfs, JNIEnv *env, FileHandle *file) {
  {
    MutexLock lock(dfs->listLock);
    OpenFileList &list = dfs->openFiles;
    int32_t index = indexOf(list, file);
    memmove(&list.items[index], &list.items[index + 1],
            sizeof(FileHandle *) * static_cast<size_t>(list.count - index - 1));
    list.count--;
    OpenFile *record = recordOf(file);
    if (record->users > 0) {
      record->closed = 1;
      return;
    }
  }
  release(dfs, env, file);
}

}  // namespace dfs
