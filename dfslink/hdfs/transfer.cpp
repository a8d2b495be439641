// What the copying reads and writes move data through: a Java array each handle keeps between
// calls, so that a call does not make and zero a fresh one, and whether the handle's stream can
// read straight into native memory, which needs no array at all.
#include "dfslink/hdfs/handles.h"

namespace dfs {
namespace {

// A kept array holds at most this much; longer calls use a one-off array.
constexpr int32_t kKeptArrayLimit = 8 << 20;
// The arrays all handles keep hold at most this much together.
constexpr int32_t kKeptArraysTotal = 64 << 20;

// Books bytes more (or fewer) for kept arrays; false, with nothing booked, past the total.
bool book(DfsLinkState *dfs, int32_t bytes) {
  if (__atomic_add_fetch(&dfs->keptArrayBytes, bytes, __ATOMIC_RELAXED) <= kKeptArraysTotal) {
    return true;
  }
  __atomic_sub_fetch(&dfs->keptArrayBytes, bytes, __ATOMIC_RELAXED);
  return false;
}

// What the wrapped stream of an input handle offers: the bits of NativeRead.
int32_t probeNativeReads(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                         const FileHandle *file) {
  int32_t offers = kNativeReadsKnown;
  JavaCall call(dfs, context, env);
  jobject wrapped = nullptr;
  if (!call.onObject(&wrapped, file->stream, kInputStream, "getWrappedStream",
                     "()Ljava/io/InputStream;")) {
    return offers;  // the copying path then serves the handle
  }
  LocalRef<jobject> stream(env, wrapped);
  const std::pair<const char *, int32_t> interfaces[] = {
      {"org/apache/hadoop/fs/ByteBufferReadable", kSequentialNative},
      {"org/apache/hadoop/fs/ByteBufferPositionedReadable", kPositionedNative}};
  for (const auto &[className, bit] : interfaces) {
    jclass type = bridgeOf(dfs).globalClassReference(dfs->jvm, context, className, env);
    if (type && env->IsInstanceOf(stream.get(), type)) offers |= bit;
  }
  return offers;
}

}  // namespace

TransferArray::TransferArray(DfsLinkState *dfs, JNIEnv *env, FileHandle *file, int32_t length)
    : dfs_(dfs), env_(env) {
  TransferSlot *slot = transferSlotOf(file);
  if (length <= kKeptArrayLimit && __atomic_exchange_n(&slot->busy, 1, __ATOMIC_ACQUIRE) == 0) {
    slot_ = slot;
    if (slot->array && slot->length >= length) {
      array_ = slot->array;
      return;
    }
  }
  array_ = env->NewByteArray(length);
  local_ = array_ != nullptr;
  if (slot_ && local_) keep(length);
}

TransferArray::~TransferArray() {
  if (local_) env_->DeleteLocalRef(array_);
  if (slot_) __atomic_store_n(&slot_->busy, 0, __ATOMIC_RELEASE);
}

// Makes the new array the handle's, in place of a shorter one, when the total allows it.
void TransferArray::keep(int32_t length) {
  if (!book(dfs_, length - slot_->length)) return;
  auto global = static_cast<jbyteArray>(env_->NewGlobalRef(array_));
  if (!global) {
    book(dfs_, slot_->length - length);
    return;  // it serves this call as a one-off
  }
  if (slot_->array) env_->DeleteGlobalRef(slot_->array);
  slot_->array = global;
  slot_->length = length;
  env_->DeleteLocalRef(array_);
  array_ = global;
  local_ = false;
}

void dropTransferArray(DfsLinkState *dfs, JNIEnv *env, TransferSlot *slot) {
  if (!slot->array) return;
  env->DeleteGlobalRef(slot->array);
  book(dfs, -slot->length);
  slot->array = nullptr;
  slot->length = 0;
}

bool readsIntoNativeMemory(DfsLinkState *dfs, QXMessageContext *context, JNIEnv *env,
                           FileHandle *file, NativeRead kind) {
  TransferSlot *slot = transferSlotOf(file);
  int32_t offers = __atomic_load_n(&slot->nativeReads, __ATOMIC_RELAXED);
  if (!(offers & kNativeReadsKnown)) {
    offers = probeNativeReads(dfs, context, env, file);
    __atomic_store_n(&slot->nativeReads, offers, __ATOMIC_RELAXED);
  }
  return (offers & kind) != 0;
}

}  // namespace dfs
