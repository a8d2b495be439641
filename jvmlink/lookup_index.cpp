// The lock-free index in front of the class cache: a class name maps to its cached class, and a
// class name with a method name, descriptor and kind maps to that class and its method id. A
// method id stays valid while the cache holds its class, and the cache holds it until teardown.
// Nodes are pushed under hashMutex and never change or go away before teardown, so readers
// walk them without a lock.
#include <cstring>
#include <string_view>

#include "jvmlink/bridge.h"

namespace bridge {
namespace {

constexpr uint32_t kBuckets = 1024;     // a power of two
constexpr uint32_t kRecentSlots = 256;  // a power of two

struct IndexNode {
  IndexNode *next;
  jclass type;
  jmethodID method;  // NULL for a class
  uint32_t hash;
  int32_t kind;
  uint32_t lengths[3];
  char text[1];  // the three texts back to back, each with its terminator
};

// The buckets by the texts' contents, and the nodes found last by the texts' addresses: callers
// pass the same literals call after call, and a node is always checked against the texts.
struct LookupIndex {
  IndexNode *buckets[kBuckets];
  const IndexNode *recent[kRecentSlots];
};

// Up to the last eight bytes of a text, where names differ most.
uint64_t endOf(std::string_view text) {
  uint64_t word = 0;
  if (text.size() >= sizeof word) {
    memcpy(&word, text.data() + text.size() - sizeof word, sizeof word);
  } else {
    for (char c : text) word = (word << 8) | static_cast<unsigned char>(c);
  }
  return word;
}

struct Texts {
  std::string_view parts[3];
  explicit Texts(const IndexKey &key) : parts{key.texts[0], key.texts[1], key.texts[2]} {}
};

// The kind, the lengths and the ends of the texts: keys that share all of these only share a
// bucket, since the whole texts are compared.
uint32_t hashOf(int32_t kind, const Texts &texts) {
  uint64_t hash = static_cast<uint64_t>(kind) + 1;
  for (std::string_view part : texts.parts) {
    hash =
        (hash ^ endOf(part) ^ (static_cast<uint64_t>(part.size()) << 56)) * 0x9E3779B97F4A7C15ull;
    hash ^= hash >> 29;
  }
  return static_cast<uint32_t>(hash >> 32);
}

uint32_t recentSlotOf(const IndexKey &key) {
  uintptr_t mix =
      reinterpret_cast<uintptr_t>(key.texts[0]) ^ (reinterpret_cast<uintptr_t>(key.texts[1]) * 31) ^
      (reinterpret_cast<uintptr_t>(key.texts[2]) * 17) ^ static_cast<uintptr_t>(key.kind);
  return static_cast<uint32_t>((mix ^ (mix >> 7) ^ (mix >> 15)) & (kRecentSlots - 1));
}

bool matches(const IndexNode *node, uint32_t hash, int32_t kind, const Texts &texts) {
  if (node->hash != hash || node->kind != kind) return false;
  const char *text = node->text;
  for (int i = 0; i < 3; i++) {
    std::string_view part = texts.parts[i];
    if (node->lengths[i] != part.size() || memcmp(text, part.data(), part.size()) != 0)
      return false;
    text += part.size() + 1;
  }
  return true;
}

// The same check against the terminated texts of a key, without measuring them first.
bool holdsTexts(const IndexNode *node, const IndexKey &key) {
  if (node->kind != key.kind) return false;
  const char *text = node->text;
  for (int i = 0; i < 3; i++) {
    if (strcmp(text, key.texts[i]) != 0) return false;
    text += node->lengths[i] + 1;
  }
  return true;
}

LookupIndex *indexOf(const BridgeState *bridge) {
  return static_cast<LookupIndex *>(__atomic_load_n(&bridge->lookupIndex, __ATOMIC_ACQUIRE));
}

const IndexNode *find(const LookupIndex *index, uint32_t hash, int32_t kind, const Texts &texts) {
  const IndexNode *node = __atomic_load_n(&index->buckets[hash & (kBuckets - 1)], __ATOMIC_ACQUIRE);
  for (; node; node = node->next) {
    if (matches(node, hash, kind, texts)) return node;
  }
  return nullptr;
}

// The index, made on the first insertion (hashMutex held); NULL when it cannot be allocated.
LookupIndex *createdIndex(BridgeState *bridge) {
  LookupIndex *index = indexOf(bridge);
  if (index) return index;
  index = static_cast<LookupIndex *>(
      bridge->pool->allocate(bridge->pool, sizeof(LookupIndex), QX_ZERO_FILL));
  if (index) __atomic_store_n(&bridge->lookupIndex, index, __ATOMIC_RELEASE);
  return index;
}

}  // namespace

bool findIndexed(const BridgeState *bridge, const IndexKey &key, IndexedMember *found) {
  LookupIndex *index = key.kind != kNotIndexed ? indexOf(bridge) : nullptr;
  if (!index) return false;
  const IndexNode **recent = &index->recent[recentSlotOf(key)];
  const IndexNode *node = __atomic_load_n(recent, __ATOMIC_ACQUIRE);
  if (!node || !holdsTexts(node, key)) {
    Texts texts(key);
    node = find(index, hashOf(key.kind, texts), key.kind, texts);
    if (!node) return false;
    __atomic_store_n(recent, node, __ATOMIC_RELEASE);
  }
  *found = IndexedMember{node->type, node->method};
  return true;
}

// The first node of a key stays. An index that cannot grow only costs later lookups their speed.
void addToIndex(BridgeState *bridge, const IndexKey &key, IndexedMember member) {
  if (key.kind == kNotIndexed) return;
  MutexLock lock(bridge->hashMutex);
  LookupIndex *index = createdIndex(bridge);
  if (!index) return;
  Texts texts(key);
  uint32_t hash = hashOf(key.kind, texts);
  if (find(index, hash, key.kind, texts)) return;
  size_t textLength = texts.parts[0].size() + texts.parts[1].size() + texts.parts[2].size() + 3;
  auto *node = static_cast<IndexNode *>(
      bridge->pool->allocate(bridge->pool, sizeof(IndexNode) + textLength, 0));
  if (!node) return;
  IndexNode **bucket = &index->buckets[hash & (kBuckets - 1)];
  *node = IndexNode{*bucket, member.type, member.method, hash, key.kind, {}, {}};
  char *text = node->text;
  for (int i = 0; i < 3; i++) {
    std::string_view part = texts.parts[i];
    node->lengths[i] = static_cast<uint32_t>(part.size());
    memcpy(text, part.data(), part.size());
    text[part.size()] = '\0';
    text += part.size() + 1;
  }
  __atomic_store_n(bucket, node, __ATOMIC_RELEASE);
  bridge->indexedCount++;
}

void clearIndex(BridgeState *bridge) {
  LookupIndex *index = indexOf(bridge);
  if (!index) return;
  for (IndexNode *head : index->buckets) {
    while (head) bridge->pool->free(bridge->pool, std::exchange(head, head->next));
  }
  bridge->pool->free(bridge->pool, index);
  __atomic_store_n(&bridge->lookupIndex, nullptr, __ATOMIC_RELEASE);
  bridge->indexedCount = 0;
}

}  // namespace bridge
