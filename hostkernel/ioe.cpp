// qxioe: files read in blocks, information on a path, and directory listings. Entries come in
// name order, the directory's own entry first, so that results are reproducible.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "host/qxplatform.h"
#include "hostkernel/internal.h"

namespace hostkernel {
namespace {

constexpr uint32_t kIoeEyeCatcher = 0x45454F49;     // "IOEE"
constexpr uint32_t kObjectEyeCatcher = 0x4A424F49;  // "IOBJ"
const std::u16string kIsDirectory = u"ISDIR";
// What names a file whatever path reaches it, as a walk that follows links must know.
const std::u16string kDevice = u"DEVICE";
const std::u16string kInode = u"INODE";

// A path as the file system names it; false for text no file can be named by (a lone
// surrogate would otherwise stand for another name).
bool pathOf(const QXChar *path, int32_t units, std::string &out) {
  out.clear();
  return !path || units <= 0 ||
         qxcharToUtf8(std::u16string_view(path, static_cast<size_t>(units)), out);
}

uint32_t statusOf(int error) {
  return error == ENOENT || error == ENOTDIR ? QX_IO_NOT_FOUND : QX_OPERATION_FAILED;
}

void setStatus(uint32_t *status, uint32_t value) {
  if (status) *status = value;
}

// A file read in blocks.
struct File {
  QXIoeFile record;  // first
  int fd;
};

uint32_t readFile(QXIoeFile *record, void **buffer, int32_t *length, int32_t, int32_t,
                  const uintptr_t *) {
  if (!buffer || !*buffer || !length || *length < 0) return QX_MISSING_ARGUMENT;
  if (shouldFail(Fault::HostService, "read")) return QX_OPERATION_FAILED;
  ssize_t n;
  do {
    n = read(reinterpret_cast<File *>(record)->fd, *buffer, static_cast<size_t>(*length));
  } while (n < 0 && errno == EINTR);
  *length = n > 0 ? static_cast<int32_t>(n) : 0;
  if (n < 0) return QX_OPERATION_FAILED;
  return n == 0 ? QX_IO_END_OF_FILE : 0;
}

uint32_t closeFile(QXIoeFile *record) {
  File *file = reinterpret_cast<File *>(record);
  int result = close(file->fd);
  delete file;
  live().ioObjects--;
  return result == 0 ? 0 : QX_OPERATION_FAILED;
}

void releaseFile(void *record) {
  closeFile(static_cast<QXIoeFile *>(record));
}

QXIoeFile *openFile(QXIoeExtension *, const QXChar *path, int32_t units, const uint32_t *, int32_t,
                    QXMessageContext *, const char *, uint32_t *status, const uintptr_t *) {
  if (shouldFail(Fault::HostService, "openFile")) {
    setStatus(status, QX_OPERATION_FAILED);
    return nullptr;
  }
  std::string name;
  if (!pathOf(path, units, name)) {
    setStatus(status, QX_IO_NOT_FOUND);
    return nullptr;
  }
  int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (fd >= 0 && (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode))) {
    close(fd);
    fd = -1;
    errno = EISDIR;
  }
  if (fd < 0) {
    setStatus(status, statusOf(errno));
    return nullptr;
  }
  setStatus(status, 0);
  live().ioObjects++;
  return &(new File{{{kObjectEyeCatcher, nullptr, releaseFile}, readFile, closeFile}, fd})->record;
}

// Information on a path (a link followed): whether it is a directory, its device and inode. Its
// block comes from the caller's pool.
struct FileInfo {
  QXIoeFileInfo record;  // first
  QXIoeAttribute attributes[3];
  QXIoeValue values[3];
  QXPool *pool;
};

QXIoeAttribute *attribute(QXIoeFileInfo *record, const QXChar *name, int32_t nameBytes) {
  if (!name || nameBytes <= 0) return nullptr;
  std::u16string_view asked(name, static_cast<size_t>(nameBytes) / sizeof(QXChar));
  const std::u16string *names[] = {&kIsDirectory, &kDevice, &kInode};
  for (size_t i = 0; i < 3; i++) {
    if (asked == *names[i]) return &reinterpret_cast<FileInfo *>(record)->attributes[i];
  }
  return nullptr;
}

void releaseInfo(void *record) {
  FileInfo *info = static_cast<FileInfo *>(record);
  info->pool->free(info->pool, info);
  live().ioObjects--;
}

QXIoeFileInfo *fileInfo(QXIoeExtension *, QXPool *pool, const QXChar *path, int32_t units,
                        uint32_t *status, int32_t) {
  if (!pool || shouldFail(Fault::HostService, "fileInfo")) {
    setStatus(status, QX_OPERATION_FAILED);
    return nullptr;
  }
  struct stat information;
  std::string name;
  if (!pathOf(path, units, name)) {
    setStatus(status, QX_IO_NOT_FOUND);
    return nullptr;
  }
  if (stat(name.c_str(), &information) != 0) {
    setStatus(status, statusOf(errno));
    return nullptr;
  }
  auto *info = static_cast<FileInfo *>(pool->allocate(pool, sizeof(FileInfo), QX_ZERO_FILL));
  if (!info) {
    setStatus(status, QX_OUT_OF_MEMORY);
    return nullptr;
  }
  info->record = {{kObjectEyeCatcher, nullptr, releaseInfo}, attribute};
  const intptr_t values[3] = {S_ISDIR(information.st_mode) ? 1 : 0,
                              static_cast<intptr_t>(information.st_dev),
                              static_cast<intptr_t>(information.st_ino)};
  for (size_t i = 0; i < 3; i++) {
    info->attributes[i].value = &info->values[i];
    info->values[i].value = values[i];
  }
  info->pool = pool;
  setStatus(status, 0);
  live().ioObjects++;
  return &info->record;
}

// The names of a directory in order, without "." and ".."; false with errno.
bool namesOf(const std::string &path, std::vector<std::string> &names) {
  DIR *directory = opendir(path.c_str());
  if (!directory) return false;
  while (dirent *entry = readdir(directory)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(directory);
  std::sort(names.begin(), names.end());
  return true;
}

uint32_t listingStatus(int error) {
  return error == ENOENT ? QX_IO_NOT_FOUND : QX_IO_CANNOT_LIST;
}

// A directory's entries as records: its own entry, then one per name.
struct Entry {
  QXIoeEntry record;  // first
  QXIoeEntryInfo info;
  std::u16string path;
};

struct Directory {
  QXIoeDirectory record;  // first
  std::string path;
  std::vector<std::string> names;
  size_t next = 0;  // 0: the own entry
  std::vector<Entry *> held;
};

Entry *newEntry(std::u16string path, bool isDirectory) {
  Entry *entry = new Entry{};
  entry->path = std::move(path);
  entry->record.info = &entry->info;
  entry->info.path = entry->path.c_str();
  entry->info.length = static_cast<int32_t>(entry->path.size());
  entry->info.type = isDirectory ? QX_IOE_DIRECTORY : 0;
  live().ioObjects++;
  return entry;
}

void deleteEntry(Entry *entry) {
  delete entry;
  live().ioObjects--;
}

QXIoeEntry *readEntry(QXIoeDirectory *record, uint32_t, int32_t, uint32_t *status) {
  Directory *directory = reinterpret_cast<Directory *>(record);
  setStatus(status, 0);
  if (directory->next > directory->names.size()) return nullptr;
  if (shouldFail(Fault::HostService, "readEntry")) {
    setStatus(status, QX_OPERATION_FAILED);
    return nullptr;
  }
  std::string path = directory->next == 0 ? directory->path
                                          : directory->path + QX_DIR_SEPARATOR +
                                                directory->names[directory->next - 1];
  directory->next++;
  std::u16string text;
  if (!utf8ToQXChar(path, text)) {
    setStatus(status, QX_IO_NAME_NOT_TEXT);
    return nullptr;
  }
  // A link to a directory is a directory, as the file system serves it (a walk that follows
  // links tells a directory it entered before by its device and inode).
  struct stat information;
  Entry *entry = newEntry(std::move(text),
                          stat(path.c_str(), &information) == 0 && S_ISDIR(information.st_mode));
  directory->held.push_back(entry);
  return &entry->record;
}

void releaseEntry(QXIoeDirectory *record, int32_t, QXIoeEntry *released) {
  Directory *directory = reinterpret_cast<Directory *>(record);
  auto it = std::find(directory->held.begin(), directory->held.end(),
                      reinterpret_cast<Entry *>(released));
  if (it == directory->held.end()) return;
  deleteEntry(*it);
  directory->held.erase(it);
}

uint32_t closeDirectory(QXIoeDirectory *record) {
  Directory *directory = reinterpret_cast<Directory *>(record);
  for (Entry *entry : directory->held) deleteEntry(entry);
  delete directory;
  live().ioObjects--;
  return 0;
}

void releaseDirectory(void *record) {
  closeDirectory(static_cast<QXIoeDirectory *>(record));
}

QXIoeDirectory *openDirectory(QXIoeExtension *, const QXChar *path, int32_t units, int32_t, int32_t,
                              int64_t *entryCount, uint32_t *status, int32_t) {
  if (shouldFail(Fault::HostService, "openDirectory")) {
    setStatus(status, QX_OPERATION_FAILED);
    return nullptr;
  }
  Directory *directory = new Directory;
  directory->record = {
      {kObjectEyeCatcher, nullptr, releaseDirectory}, readEntry, releaseEntry, closeDirectory};
  bool named = pathOf(path, units, directory->path);
  while (directory->path.size() > 1 && directory->path.back() == QX_DIR_SEPARATOR) {
    directory->path.pop_back();
  }
  if (!named || !namesOf(directory->path, directory->names)) {
    setStatus(status, named ? listingStatus(errno) : QX_IO_NOT_FOUND);
    delete directory;
    return nullptr;
  }
  if (entryCount) *entryCount = static_cast<int64_t>(directory->names.size()) + 1;
  setStatus(status, 0);
  live().ioObjects++;
  return &directory->record;
}

// A directory's names, one after the other.
struct Listing {
  QXIoeListing record;  // first
  std::vector<std::string> names;
  size_t next = 0;
};

uint32_t readName(QXIoeListing *record, QXChar *buffer, int32_t capacity) {
  Listing *listing = reinterpret_cast<Listing *>(record);
  if (listing->next >= listing->names.size()) return QX_IO_END_OF_FILE;
  if (shouldFail(Fault::HostService, "readName")) return QX_OPERATION_FAILED;
  std::u16string name;
  if (!utf8ToQXChar(listing->names[listing->next++], name)) return QX_IO_NAME_NOT_TEXT;
  // A name that does not fit is passed over: the next call reads the next one.
  if (!buffer || name.size() + 1 > static_cast<size_t>(std::max(capacity, 0))) {
    return QX_VALUE_TOO_LONG;
  }
  std::copy(name.begin(), name.end(), buffer);
  buffer[name.size()] = 0;
  return 0;
}

uint32_t closeListing(QXIoeListing *record) {
  delete reinterpret_cast<Listing *>(record);
  live().ioObjects--;
  return 0;
}

void releaseListing(void *record) {
  closeListing(static_cast<QXIoeListing *>(record));
}

QXIoeListing *openListing(QXIoeExtension *, const QXChar *path, int32_t units, int32_t, int32_t,
                          QXMessageContext *, int32_t, uint32_t *status, void *) {
  if (shouldFail(Fault::HostService, "openListing")) {
    setStatus(status, QX_OPERATION_FAILED);
    return nullptr;
  }
  Listing *listing = new Listing;
  listing->record = {{kObjectEyeCatcher, nullptr, releaseListing}, readName, closeListing};
  std::string name;
  bool named = pathOf(path, units, name);
  if (!named || !namesOf(name, listing->names)) {
    setStatus(status, named ? listingStatus(errno) : QX_IO_NOT_FOUND);
    delete listing;
    return nullptr;
  }
  setStatus(status, 0);
  live().ioObjects++;
  return &listing->record;
}

void releaseExtension(void *record) {
  delete static_cast<QXIoeExtension *>(record);
  live().extensions--;
}

}  // namespace

void *newIoeExtension() {
  live().extensions++;
  return new QXIoeExtension{
      {kIoeEyeCatcher, nullptr, releaseExtension}, openFile, fileInfo, openDirectory, openListing};
}

}  // namespace hostkernel
