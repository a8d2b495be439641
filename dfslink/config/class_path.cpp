#include "dfslink/config/class_path.h"

#include <cstring>
#include <iterator>
#include <string_view>

#include "dfslink/internal.h"

namespace dfs {
namespace {

constexpr int32_t kEscapedUnits = 520;  // a path with its backslashes doubled
constexpr int32_t kWalkUnits = 260;     // the directory being walked
constexpr int32_t kStackGrowth = 2;
constexpr uint32_t kEntryRead = 0x1000000;
const QXChar kIsDirectory[] = u"ISDIR";
const QXChar kDevice[] = u"DEVICE";
const QXChar kInode[] = u"INODE";

bool endsWith(const QXChar *text, size_t units, std::u16string_view suffix) {
  return units >= suffix.size() &&
         std::u16string_view(text + units - suffix.size(), suffix.size()) == suffix;
}

// A path that no fixed buffer can take is refused with its reason.
uint32_t tooLong(QXMessageContext *context, const QXChar *path, size_t units, int32_t limit) {
  printText(context, QX_SEVERITY_ERROR, u"Class path entry longer than %d units: %.*s", limit,
            static_cast<int>(units), path);
  return QX_VALUE_TOO_LONG;
}

// Grows a block of the caller's pool; false when it cannot.
template <typename T>
bool grow(QXPool *pool, T *&block, size_t bytes) {
  void *grown = pool->reallocate(pool, block, bytes, 0);
  if (!grown) return false;
  block = static_cast<T *>(grown);
  return true;
}

// The walk stack, cleared (made with room for two levels the first time).
uint32_t readyStack(ExpansionContext &expansion) {
  if (expansion.levels) {
    memset(expansion.levels, 0, sizeof(DirectoryLevel) * expansion.capacity);
  } else {
    expansion.levels = static_cast<DirectoryLevel *>(expansion.pool->allocate(
        expansion.pool, sizeof(DirectoryLevel) * kStackGrowth, QX_ZERO_FILL));
    if (!expansion.levels) {
      reportError(expansion.context, QX_OUT_OF_MEMORY);
      return QX_OUT_OF_MEMORY;
    }
    expansion.capacity = kStackGrowth;
  }
  expansion.depth = 0;
  return 0;
}

// Room for the level after the current one.
uint32_t pushLevel(ExpansionContext &expansion) {
  if (expansion.depth + 1 >= expansion.capacity) {
    int32_t capacity = expansion.capacity + kStackGrowth;
    void *grown = expansion.pool->reallocate(expansion.pool, expansion.levels,
                                             sizeof(DirectoryLevel) * capacity, QX_ZERO_FILL);
    if (!grown) {
      reportError(expansion.context, QX_OUT_OF_MEMORY);
      return QX_OUT_OF_MEMORY;
    }
    expansion.levels = static_cast<DirectoryLevel *>(grown);
    expansion.capacity = capacity;
  }
  expansion.levels[++expansion.depth] = DirectoryLevel{};
  return 0;
}

// Ends a level: its own entry and its directory go back to the I/O engine.
void closeLevel(DirectoryLevel &level) {
  if (level.directory) {
    if (level.ownEntry) level.directory->releaseEntry(level.directory, 0, level.ownEntry);
    level.directory->close(level.directory);
  }
  level = DirectoryLevel{};
}

void closeWalk(ExpansionContext &expansion) {
  for (int32_t i = 0; expansion.levels && i < expansion.capacity; i++) {
    closeLevel(expansion.levels[i]);
  }
}

uint32_t append(ExpansionContext &expansion, const QXChar *path, size_t units) {
  return appendClassPathEntry(expansion.list, path, static_cast<int64_t>(units * sizeof(QXChar)),
                              expansion.context, expansion.pool, expansion.toCompiler);
}

// A directory's identity through the host's information on its path; unknown when the host
// tells no device and inode (the walk is then bounded by its path buffer alone).
DirectoryIdentity identityOf(ExpansionContext &expansion, const QXChar *path, size_t units) {
  DirectoryIdentity identity{};
  uint32_t status = 0;
  QXIoeFileInfo *info = expansion.ioe->fileInfo(expansion.ioe, expansion.pool, path,
                                                static_cast<int32_t>(units), &status, 0);
  if (!info) return identity;
  QXIoeAttribute *device = info->attribute(info, kDevice, sizeof kDevice - 2);
  QXIoeAttribute *inode = info->attribute(info, kInode, sizeof kInode - 2);
  if (device && device->value && inode && inode->value) {
    identity = {device->value->value, inode->value->value, 1};
  }
  info->header.release(info);
  return identity;
}

bool sameDirectory(const DirectoryIdentity &a, const DirectoryIdentity &b) {
  return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

// The directories a walk must not enter again: those it is in (a link back makes a loop) and
// those above where it started (a link to one holds the whole walk again).
struct Entered {
  DirectoryIdentity above[kWalkUnits / 2 + 1];
  int32_t aboveCount = 0;

  // The directories above a walk's start, from each separator of its path.
  void seed(ExpansionContext &expansion, const QXChar *path, size_t units) {
    for (size_t end = 0; end < units && aboveCount < static_cast<int32_t>(std::size(above));
         end++) {
      if (path[end] != QX_DIR_SEPARATOR || end + 1 == units) continue;
      DirectoryIdentity identity = identityOf(expansion, path, end == 0 ? 1 : end);
      if (identity.known) above[aboveCount++] = identity;
    }
  }
  bool has(const ExpansionContext &expansion, const DirectoryIdentity &identity) const {
    for (int32_t i = 0; i < aboveCount; i++) {
      if (sameDirectory(above[i], identity)) return true;
    }
    for (int32_t i = 0; i <= expansion.depth; i++) {
      if (sameDirectory(expansion.levels[i].identity, identity)) return true;
    }
    return false;
  }
};

// One entry of the current level: a subdirectory's path is put in the walk path and true is
// answered (the walk goes down), with its identity; a directory the walk is in or started
// below is not entered again. A jar is appended; a class file marks the level.
bool takeEntry(ExpansionContext &expansion, DirectoryLevel &level, QXIoeEntry *entry,
               QXChar *walkPath, const Entered &entered, DirectoryIdentity &next,
               uint32_t &status) {
  const QXIoeEntryInfo &info = *entry->info;
  size_t units = static_cast<size_t>(info.length);
  bool descend = false;
  if (info.type == QX_IOE_DIRECTORY) {
    next = identityOf(expansion, info.path, units);
    if (entered.has(expansion, next)) {
      // a loop, or a link back above the walk's start: entered once already
    } else if (units > kWalkUnits) {
      printText(expansion.context, QX_SEVERITY_WARNING,
                u"Class path directory longer than %d units skipped: %.*s", kWalkUnits,
                static_cast<int>(units), info.path);
    } else {
      memcpy(walkPath, info.path, units * sizeof(QXChar));
      walkPath[units] = 0;
      descend = true;
    }
  } else {
    if (endsWith(info.path, units, u".class")) level.holdsClassFiles = 1;
    if (endsWith(info.path, units, u".jar")) status = append(expansion, info.path, units);
  }
  level.directory->releaseEntry(level.directory, 0, entry);
  return descend;
}

// Opens the current level's directory and reads its own entry; 0, 1 when it cannot be listed
// (skipped), or a status.
uint32_t openLevel(ExpansionContext &expansion, DirectoryLevel &level, const QXChar *walkPath) {
  uint32_t status = 0;
  level.directory = expansion.ioe->openDirectory(expansion.ioe, walkPath,
                                                 static_cast<int32_t>(qxLength(walkPath)), 0, 3,
                                                 &level.entryCount, &status, 0);
  if (!level.directory) return status == QX_IO_CANNOT_LIST ? 1 : QX_OPERATION_FAILED;
  level.ownEntry = level.directory->readEntry(level.directory, kEntryRead, 0, &status);
  level.ownInfo = level.ownEntry ? level.ownEntry->info : nullptr;
  level.entriesRead = level.ownEntry ? 1 : 0;
  return status;
}

// A name the file system holds but the host cannot read as text: it names no class path entry
// that could be passed on, and the rest of the directory still counts.
void skipNameNotText(ExpansionContext &expansion, const DirectoryLevel &level) {
  const QXIoeEntryInfo *own = level.ownInfo;
  printText(expansion.context, QX_SEVERITY_WARNING,
            u"Class path: a name in %.*s is not UTF-8; skipped.", own ? own->length : 0,
            own ? own->path : u"");
}

// The tree below a directory, depth first: jars as they are met, a directory holding class
// files after everything below it. A level ends when its listing is exhausted.
uint32_t walk(ExpansionContext &expansion, const QXChar *path, size_t units) {
  if (units > kWalkUnits) return tooLong(expansion.context, path, units, kWalkUnits);
  if (uint32_t status = readyStack(expansion)) return status;
  QXChar walkPath[kWalkUnits + 1];
  memcpy(walkPath, path, units * sizeof(QXChar));
  walkPath[units] = 0;
  Entered entered;
  entered.seed(expansion, walkPath, units);
  expansion.levels[0].identity = identityOf(expansion, walkPath, units);
  uint32_t status = 0;
  while (status == 0 && expansion.depth >= 0) {
    DirectoryLevel *level = &expansion.levels[expansion.depth];
    if (!level->directory) {
      uint32_t opened = openLevel(expansion, *level, walkPath);
      if (opened == 1) {
        expansion.depth--;  // a directory that cannot be listed is skipped
        continue;
      }
      if ((status = opened) != 0) break;
    }
    bool descended = false;
    while (!descended && status == 0) {
      QXIoeEntry *entry = level->directory->readEntry(level->directory, kEntryRead, 0, &status);
      if (!entry && status == QX_IO_NAME_NOT_TEXT) {
        skipNameNotText(expansion, *level);
        status = 0;
        continue;
      }
      if (!entry) break;  // the end of the listing, or a failure in status
      level->entriesRead++;
      DirectoryIdentity next{};
      descended = takeEntry(expansion, *level, entry, walkPath, entered, next, status);
      if (descended && (status = pushLevel(expansion)) == 0) {
        expansion.levels[expansion.depth].identity = next;
        level = nullptr;  // the stack may have moved
      }
    }
    if (descended || status != 0) continue;
    if (level->holdsClassFiles && level->ownInfo) {
      status = append(expansion, level->ownInfo->path, static_cast<size_t>(level->ownInfo->length));
    }
    closeLevel(*level);
    expansion.depth--;
  }
  closeWalk(expansion);
  return status;
}

// Whether a path is a directory; 0 with the answer, 0x80BFE801 when it is not there, or the
// I/O engine's status.
uint32_t isDirectory(ExpansionContext &expansion, const QXChar *path, size_t units,
                     bool &directory) {
  uint32_t status = 0;
  QXIoeFileInfo *info = expansion.ioe->fileInfo(expansion.ioe, expansion.pool, path,
                                                static_cast<int32_t>(units), &status, 0);
  if (!info) return status ? status : QX_OPERATION_FAILED;
  QXIoeAttribute *attribute =
      info->attribute(info, kIsDirectory, static_cast<int32_t>(sizeof kIsDirectory - 2));
  directory = attribute && attribute->value && attribute->value->value != 0;
  info->header.release(info);
  return 0;
}

}  // namespace

uint32_t appendClassPathEntry(ClassPathList *list, const QXChar *path, int64_t pathBytes,
                              QXMessageContext *context, QXPool *pool, QXTranscoder *toCompiler) {
  size_t units = pathBytes > 0 ? static_cast<size_t>(pathBytes) / sizeof(QXChar) : 0;
  if (list->flags & CLASS_PATH_ECHO) {
    printText(context, QX_SEVERITY_PLAIN, u"%.*s", static_cast<int>(units), path);
  }
  QXChar escaped[kEscapedUnits];
  size_t escapedUnits = 0;
  for (size_t i = 0; i < units; i++) {
    size_t needed = path[i] == u'\\' ? 2 : 1;
    if (escapedUnits + needed > kEscapedUnits) return tooLong(context, path, units, kEscapedUnits);
    for (size_t k = 0; k < needed; k++) escaped[escapedUnits++] = path[i];
  }
  int32_t escapedBytes = static_cast<int32_t>(escapedUnits * sizeof(QXChar));
  // Room for the converted text (at most two bytes a byte of QXChar text) and its NUL.
  if (!grow(pool, list->text, static_cast<size_t>(list->total) + 2 * escapedBytes + 2)) {
    return QX_OUT_OF_MEMORY;
  }
  int32_t written = 0;
  if (uint32_t status =
          toCompiler->convert(toCompiler, escaped, escapedBytes, list->text + list->total,
                              2 * escapedBytes, &written, 0)) {
    return status;
  }
  if (!grow(pool, list->lengths, sizeof(int32_t) * (static_cast<size_t>(list->count) + 1))) {
    return QX_OUT_OF_MEMORY;
  }
  list->text[list->total + written] = '\0';
  list->total += written + 1;
  list->lengths[list->count++] = written + 1;
  return 0;
}

uint32_t expandClassPathEntry(ExpansionContext &expansion, const QXChar *text, int64_t bytes,
                              bool recurse) {
  size_t units = bytes > 0 ? static_cast<size_t>(bytes) / sizeof(QXChar) : 0;
  bool directory = false;
  uint32_t status = isDirectory(expansion, text, units, directory);
  if (status == QX_IO_NOT_FOUND) return 0;  // a missing path is dropped
  if (status != 0) {
    reportError(expansion.context, status);
    return QX_OPERATION_FAILED;
  }
  if (directory) return recurse ? walk(expansion, text, units) : append(expansion, text, units);
  if (endsWith(text, units, u".jar")) return append(expansion, text, units);
  printText(expansion.context, QX_SEVERITY_ERROR,
            u"Class path entry is neither a directory nor a .jar file: %.*s",
            static_cast<int>(units), text);
  return QX_OPERATION_FAILED;
}

void freeWalkStack(ExpansionContext &expansion) {
  closeWalk(expansion);
  if (expansion.levels) expansion.pool->free(expansion.pool, expansion.levels);
  expansion.levels = nullptr;
  expansion.capacity = expansion.depth = 0;
}

}  // namespace dfs
