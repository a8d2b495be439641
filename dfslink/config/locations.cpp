// loadEnvPaths and loadXmlOptions: where the storage engine learns where Hadoop lives, the two
// environment variables and the options document.
#include <cstring>
#include <string_view>

#include "dfslink/config/class_path.h"
#include "dfslink/config/options_reader.h"
#include "dfslink/internal.h"
#include "host/qxplatform.h"

namespace dfs {
namespace {

constexpr int32_t kValueUnits = 261;  // 522 bytes
constexpr size_t kDocumentUnits = 260;
const std::u16string_view kConfigPath = u"OSENV.ZEL_HADOOP_CONFIG_PATH";
const std::u16string_view kJarPath = u"OSENV.ZEL_HADOOP_JAR_PATH";
const std::u16string_view kDocumentName = u"xmlopts.xml";

// An environment variable into the value buffer; 0 with its length in units, or the lookup's
// status.
uint32_t lookUp(DfsLinkState *dfs, std::u16string_view name, QXChar *value, int32_t &units) {
  QXKernel *host = dfs->host;
  int32_t capacity = kValueUnits * static_cast<int32_t>(sizeof(QXChar));
  uint32_t status = host->lookupOption(host, name.data(), static_cast<int32_t>(name.size()),
                                       QX_OPTION_TEXT, value, &capacity);
  units = status == 0 ? capacity / static_cast<int32_t>(sizeof(QXChar)) : 0;
  return status;
}

uint32_t append(DfsLinkState *dfs, QXMessageContext *context, QXPool *pool, OptionsRecord *options,
                const QXChar *path, int32_t units) {
  return appendClassPathEntry(&options->classPath, path, static_cast<int64_t>(units) * 2, context,
                              pool, dfs->toCompiler);
}

// Every entry of the jar directory as a class path entry; 0 once the listing is exhausted, or
// the status that stopped it.
uint32_t appendEntries(DfsLinkState *dfs, QXMessageContext *context, QXPool *pool,
                       OptionsRecord *options, QXIoeListing *listing, QXChar *value,
                       int32_t directoryUnits) {
  for (;;) {
    QXChar *name = value + directoryUnits;
    uint32_t status = listing->readName(listing, name, kValueUnits - directoryUnits);
    if (status == QX_IO_END_OF_FILE) return 0;
    // An entry no class path item can be made of is passed over; the listing goes on.
    const QXChar *unusable = status == QX_VALUE_TOO_LONG     ? u"is too long for the class path"
                             : status == QX_IO_NAME_NOT_TEXT ? u"is not UTF-8"
                                                             : nullptr;
    if (unusable) {
      printText(context, QX_SEVERITY_WARNING, u"loadEnvPaths: an entry of %.*s %s; skipped.",
                static_cast<int>(directoryUnits), value, unusable);
      continue;
    }
    if (status != 0) return status;
    int32_t units = directoryUnits + static_cast<int32_t>(qxLength(name));
    if (uint32_t appended = append(dfs, context, pool, options, value, units)) return appended;
  }
}

}  // namespace

uint32_t loadEnvPaths(DfsLinkState *dfs, QXMessageContext *context, QXPool *pool,
                      OptionsRecord *options) {
  if (!dfs || !context || !given(context, {pool, options})) return QX_MISSING_ARGUMENT;
  QXChar value[kValueUnits];
  int32_t units = 0;
  // A variable that is not set is passed over; one that cannot be read is a failure.
  uint32_t status = lookUp(dfs, kConfigPath, value, units);
  if (status != 0 && status != QX_OPTION_NOT_SET) return status;
  if (status == 0 && units > 0) {
    if ((status = append(dfs, context, pool, options, value, units)) != 0) return status;
  }
  status = lookUp(dfs, kJarPath, value, units);
  if (status == QX_OPTION_NOT_SET) return 0;
  if (status != 0 || units == 0) return status;
  QXIoeExtension *ioe = dfs->ioe;
  QXIoeListing *listing = ioe->openListing(ioe, value, units, 0, 0, context, 0, &status, nullptr);
  if (status != 0) return status;
  if (!listing) return 0;
  if (value[units - 1] != QX_DIR_SEPARATOR && units < kValueUnits)
    value[units++] = QX_DIR_SEPARATOR;
  status = appendEntries(dfs, context, pool, options, listing, value, units);
  listing->close(listing);
  return status;
}

uint32_t loadXmlOptions(DfsLinkState *dfs, QXMessageContext *context, QXPool *pool,
                        const QXChar *directory, int32_t directoryBytes, OptionsRecord *options) {
  if (!dfs || !context || !given(context, {pool, options, directory})) return QX_MISSING_ARGUMENT;
  QXZinfoRequest request = {};
  if (dfs->host->qxzinfo(QX_ZINFO_USER_HOST_NAME, &request, QX_ZINFO_FLAGS) != 0) {
    printText(context, QX_SEVERITY_ERROR, u"qxzinfo call failed");
    return QX_OPERATION_FAILED;
  }
  size_t hostUnits = request.length > 0 ? static_cast<size_t>(request.length) : 0;
  PoolBlock hostName(dfs->pool, dfs->pool->allocate(dfs->pool, 2 * hostUnits + 2, 0));
  if (!hostName.get()) {
    reportError(context, QX_OUT_OF_MEMORY);
    return QX_OUT_OF_MEMORY;
  }
  auto *userHostName = static_cast<QXChar *>(hostName.get());
  memcpy(userHostName, request.text, hostUnits * sizeof(QXChar));
  userHostName[hostUnits] = 0;
  size_t units = directoryBytes > 0 ? static_cast<size_t>(directoryBytes) / sizeof(QXChar) : 0;
  if (directoryBytes < 0 || units + 2 + kDocumentName.size() > kDocumentUnits) {
    printText(context, QX_SEVERITY_ERROR, u"Invalid xml option path: %.*s", static_cast<int>(units),
              directory);
    return QX_OPERATION_FAILED;
  }
  QXChar path[kDocumentUnits];
  memcpy(path, directory, units * sizeof(QXChar));
  path[units] = QX_DIR_SEPARATOR;
  memcpy(path + units + 1, kDocumentName.data(), kDocumentName.size() * sizeof(QXChar));
  path[units + 1 + kDocumentName.size()] = 0;
  return readOptionsDocument(dfs, context, pool, path, options,
                             {userHostName, static_cast<int32_t>(hostUnits)});
}

}  // namespace dfs
