// The class cache: class names, exactly as callers spell them, mapped to global class
// references. An array searched in order; it grows and is emptied only by the teardown. The
// lookup index in front of it answers most lookups without the lock.
#include <cstring>

#include "jvmlink/bridge.h"

namespace bridge {
namespace {

constexpr uint32_t kCacheGrowth = 4096;
constexpr size_t kClassNameLimit = 100;
const QXChar kUntranscodable[] = u"<unknown, cannot transcode>";

bool cacheIsReady(const BridgeState *bridge) {
  return __atomic_load_n(&bridge->cacheReady, __ATOMIC_ACQUIRE) != 0;
}

// hashTableInit: creates the cache unless another thread did; a failure leaves it empty.
void createCache(BridgeState *bridge, QXMessageContext *context) {
  MutexLock lock(bridge->hashMutex);
  if (cacheIsReady(bridge)) return;
  bridge->cacheCapacity = 0;
  bridge->cacheEntries = static_cast<ClassCacheEntry *>(
      bridge->pool->allocate(bridge->pool, sizeof(ClassCacheEntry) * kCacheGrowth, QX_ZERO_FILL));
  if (!bridge->cacheEntries) {
    reportError(context, QX_OUT_OF_MEMORY);
    reportError(context, kCacheNotCreated, "hashTableInit");
    return;
  }
  bridge->cacheCapacity = kCacheGrowth;
  // Read without the lock: the entries it publishes are complete before it is seen.
  __atomic_store_n(&bridge->cacheReady, 1, __ATOMIC_RELEASE);
}

jclass lookUp(BridgeState *bridge, const char *className, size_t length) {
  MutexLock lock(bridge->hashMutex);
  for (uint32_t i = 0; i < bridge->cacheCapacity; i++) {
    const ClassCacheEntry &entry = bridge->cacheEntries[i];
    if ((entry.flags & CLASS_ENTRY_IN_USE) && static_cast<size_t>(entry.keyLength) == length &&
        memcmp(entry.key, className, length) == 0) {
      return entry.classReference;
    }
  }
  return nullptr;
}

ClassCacheEntry *firstFreeEntry(BridgeState *bridge) {
  for (uint32_t i = 0; i < bridge->cacheCapacity; i++) {
    if (!(bridge->cacheEntries[i].flags & CLASS_ENTRY_IN_USE)) return &bridge->cacheEntries[i];
  }
  return nullptr;
}

// Grows the array by 4096 entries. On failure the entries cached so far are kept: dropping them
// would leak their global references.
ClassCacheEntry *growCache(BridgeState *bridge, QXMessageContext *context) {
  uint32_t capacity = bridge->cacheCapacity + kCacheGrowth;
  void *grown = bridge->pool->reallocate(bridge->pool, bridge->cacheEntries,
                                         sizeof(ClassCacheEntry) * capacity, QX_ZERO_FILL);
  if (!grown) {
    reportError(context, QX_OUT_OF_MEMORY);
    return nullptr;
  }
  bridge->cacheEntries = static_cast<ClassCacheEntry *>(grown);
  ClassCacheEntry *first = &bridge->cacheEntries[bridge->cacheCapacity];
  bridge->cacheCapacity = capacity;
  return first;
}

enum class Insertion { Cached, KeyNotAllocated, CacheNotGrown };

Insertion storeEntry(BridgeState *bridge, QXMessageContext *context, const char *className,
                     size_t length, jclass reference) {
  MutexLock lock(bridge->hashMutex);
  ClassCacheEntry *entry = firstFreeEntry(bridge);
  if (!entry) entry = growCache(bridge, context);
  if (!entry) return Insertion::CacheNotGrown;
  if (static_cast<size_t>(entry->keyLength) < length) {
    void *key = bridge->pool->reallocate(bridge->pool, entry->key, length, QX_ZERO_FILL);
    if (!key) {
      reportError(context, QX_OUT_OF_MEMORY);
      return Insertion::KeyNotAllocated;
    }
    entry->key = static_cast<char *>(key);
  }
  memcpy(entry->key, className, length);
  entry->keyLength = static_cast<int32_t>(length);
  entry->classReference = reference;
  entry->flags |= CLASS_ENTRY_IN_USE;
  return Insertion::Cached;
}

// insertEntryIntoTable: true when the cache now owns the reference.
bool insertEntry(BridgeState *bridge, QXMessageContext *context, const char *className,
                 size_t length, jclass reference) {
  if (!cacheIsReady(bridge)) createCache(bridge, context);
  if (!cacheIsReady(bridge)) return false;
  Insertion insertion = storeEntry(bridge, context, className, length, reference);
  if (insertion == Insertion::KeyNotAllocated) {
    MessageText name =
        toMessageText(bridge, context, "insertEntryIntoTable", className, kClassNameLimit);
    reportError(context, kClassNotCached, "insertEntryIntoTable", name.units);
  }
  return insertion == Insertion::Cached;
}

constexpr int32_t kUncachedGrowth = 16;

// Keeps a class reference the cache could not take until teardown, once per class; NULL (the
// reference deleted) when even that cannot be done.
jclass keepUncached(BridgeState *bridge, JNIEnv *env, jclass reference) {
  MutexLock lock(bridge->hashMutex);
  for (int32_t i = 0; i < bridge->uncachedCount; i++) {
    if (env->IsSameObject(bridge->uncachedClasses[i], reference)) {
      env->DeleteGlobalRef(reference);
      return bridge->uncachedClasses[i];
    }
  }
  if (bridge->uncachedCount == bridge->uncachedCapacity) {
    int32_t capacity = bridge->uncachedCapacity + kUncachedGrowth;
    void *grown = bridge->pool->reallocate(bridge->pool, bridge->uncachedClasses,
                                           sizeof(jclass) * capacity, 0);
    if (!grown) {
      env->DeleteGlobalRef(reference);
      return nullptr;
    }
    bridge->uncachedClasses = static_cast<jclass *>(grown);
    bridge->uncachedCapacity = capacity;
  }
  bridge->uncachedClasses[bridge->uncachedCount++] = reference;
  return reference;
}

// Cuts a UTF-8 text to at most limit bytes without splitting a character.
size_t cutToLimit(const char *utf8, size_t limit) {
  size_t length = extframe::byteLength(utf8);
  if (length <= limit) return length;
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) cut--;
  return cut;
}

}  // namespace

ResolvedClass resolveClass(BridgeState *bridge, QXMessageContext *context, const char *className,
                           JNIEnv *env) {
  size_t length = extframe::byteLength(className);
  IndexKey key = {kIndexedClass, {className, "", ""}};
  if (className) {
    if (!cacheIsReady(bridge)) createCache(bridge, context);
    IndexedMember indexed;
    if (findIndexed(bridge, key, &indexed)) return ResolvedClass(env, indexed.type, true);
    if (jclass cached = lookUp(bridge, className, length)) {
      addToIndex(bridge, key, {cached, nullptr});
      return ResolvedClass(env, cached, true);
    }
  }
  LocalRef<jclass> found(env, env->FindClass(className));
  jclass global = found ? static_cast<jclass>(env->NewGlobalRef(found.get())) : nullptr;
  if (!global) {
    env->ExceptionDescribe();
    return ResolvedClass(env, nullptr, false);
  }
  bool cached = length > 0 && insertEntry(bridge, context, className, length, global);
  if (cached) addToIndex(bridge, key, {global, nullptr});
  return ResolvedClass(env, global, cached);
}

jclass globalClassReference(BridgeState *bridge, QXMessageContext *context, const char *className,
                            JNIEnv *env) {
  ResolvedClass resolved = resolveClass(bridge, context, className, env);
  if (!resolved || resolved.cached()) return resolved.release();
  return keepUncached(bridge, env, resolved.release());
}

void clearClassCache(BridgeState *bridge, JNIEnv *env) {
  MutexLock lock(bridge->hashMutex);
  clearIndex(bridge);
  for (int32_t i = 0; i < bridge->uncachedCount; i++)
    env->DeleteGlobalRef(bridge->uncachedClasses[i]);
  bridge->uncachedCount = 0;
  if (!cacheIsReady(bridge)) return;
  for (uint32_t i = 0; i < bridge->cacheCapacity; i++) {
    ClassCacheEntry &entry = bridge->cacheEntries[i];
    if (!(entry.flags & CLASS_ENTRY_IN_USE)) continue;
    if (entry.key) bridge->pool->free(bridge->pool, entry.key);
    entry.key = nullptr;
    if (entry.classReference) env->DeleteGlobalRef(entry.classReference);
    entry.flags = 0;
    // A pending exception forbids further JNI calls; the rest goes with the pool.
    if (env->ExceptionCheck()) return;
  }
  bridge->pool->free(bridge->pool, bridge->cacheEntries);
  bridge->cacheEntries = nullptr;
  bridge->cacheCapacity = 0;
  __atomic_store_n(&bridge->cacheReady, 0, __ATOMIC_RELEASE);
}

MessageText toMessageText(BridgeState *bridge, QXMessageContext *context, const char *functionName,
                          const char *utf8, size_t limit) {
  MessageText text;
  int32_t written = 0;
  QXTranscoder *transcoder = bridge->utf8ToQXChar;
  size_t length = cutToLimit(utf8, limit);
  uint32_t status =
      transcoder->convert(transcoder, utf8 ? utf8 : "", static_cast<int32_t>(length), text.units,
                          static_cast<int32_t>(sizeof text.units - sizeof(QXChar)), &written, 0);
  if (status != 0) {
    reportError(context, kNotTranscoded, functionName, u"utf8->QXChar");
    memcpy(text.units, kUntranscodable, sizeof kUntranscodable);
    return text;
  }
  text.units[written] = 0;
  return text;
}

}  // namespace bridge
