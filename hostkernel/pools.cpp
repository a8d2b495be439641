// Pools that track every block they hand out, so that destroying a pool frees everything and
// the accounting shows what is still live.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "hostkernel/internal.h"

namespace hostkernel {
namespace {

constexpr uint32_t kPoolEyeCatcher = 0x4C4F4F50;  // "POOL"

struct Pool {
  QXPool record;  // first: the record is the pool
  std::string name;
  std::mutex mutex;
  std::unordered_map<void *, size_t> blocks;
};

Pool *poolOf(QXPool *record) {
  return reinterpret_cast<Pool *>(record);
}

void *takeBlock(Pool *pool, size_t size, uint32_t flags) {
  if (shouldFail(Fault::Allocation, pool->name)) return nullptr;
  void *block = (flags & QX_ZERO_FILL) ? calloc(1, size ? size : 1) : malloc(size ? size : 1);
  if (!block) return nullptr;
  std::lock_guard<std::mutex> lock(pool->mutex);
  pool->blocks.emplace(block, size);
  live().blocks++;
  live().bytes += static_cast<int64_t>(size);
  return block;
}

void *allocate(QXPool *record, size_t size, uint32_t flags) {
  return takeBlock(poolOf(record), size, flags);
}

void freeBlock(QXPool *record, void *block) {
  if (!block) return;
  Pool *pool = poolOf(record);
  std::lock_guard<std::mutex> lock(pool->mutex);
  auto it = pool->blocks.find(block);
  if (it == pool->blocks.end()) {
    fprintf(stderr, "qxhost: pool \"%s\": free of a block it does not own\n", pool->name.c_str());
    abort();
  }
  live().blocks--;
  live().bytes -= static_cast<int64_t>(it->second);
  pool->blocks.erase(it);
  free(block);
}

void *reallocate(QXPool *record, void *block, size_t size, uint32_t flags) {
  Pool *pool = poolOf(record);
  if (!block) return takeBlock(pool, size, flags);
  if (shouldFail(Fault::Allocation, pool->name)) return nullptr;
  std::lock_guard<std::mutex> lock(pool->mutex);
  auto it = pool->blocks.find(block);
  if (it == pool->blocks.end()) {
    fprintf(stderr, "qxhost: pool \"%s\": reallocation of a foreign block\n", pool->name.c_str());
    abort();
  }
  size_t oldSize = it->second;
  void *grown = realloc(block, size ? size : 1);
  if (!grown) return nullptr;
  if ((flags & QX_ZERO_FILL) && size > oldSize) {
    memset(static_cast<char *>(grown) + oldSize, 0, size - oldSize);
  }
  pool->blocks.erase(it);
  pool->blocks.emplace(grown, size);
  live().bytes += static_cast<int64_t>(size) - static_cast<int64_t>(oldSize);
  return grown;
}

void destroy(void *record) {
  Pool *pool = poolOf(static_cast<QXPool *>(record));
  for (auto &[block, size] : pool->blocks) {
    live().blocks--;
    live().bytes -= static_cast<int64_t>(size);
    free(block);
  }
  live().pools--;
  delete pool;
}

}  // namespace

QXPool *createPool(QXKernel *, const QXPoolAttributes *, int32_t, const char *name) {
  std::string poolName = name ? name : "";
  if (shouldFail(Fault::PoolCreation, poolName)) return nullptr;
  Pool *pool = new Pool;
  pool->record = {{kPoolEyeCatcher, nullptr, destroy}, allocate, freeBlock, reallocate};
  pool->name = std::move(poolName);
  live().pools++;
  return &pool->record;
}

}  // namespace hostkernel
