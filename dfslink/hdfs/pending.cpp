// Entries of the operation table whose operations this build does not offer yet: each says so
// and returns its operation's failure value without reading its arguments.
#include "dfslink/hdfs/operations.h"

namespace dfs {
namespace {

void reportUnavailable(QXMessageContext *context, const char *name) {
  if (!context) return;
  printText(context, QX_SEVERITY_ERROR, u"%hs: not available in this build.", name);
  reportError(context, QX_OPERATION_FAILED);
}

template <const char *Name>
int32_t pendingStatus(DfsLinkState *, QXMessageContext *context, ...) {
  reportUnavailable(context, Name);
  return static_cast<int32_t>(QX_OPERATION_FAILED);
}

template <const char *Name>
int32_t pendingFlag(DfsLinkState *, QXMessageContext *context, ...) {
  reportUnavailable(context, Name);
  return kFailed;
}

template <const char *Name>
int64_t pendingCount(DfsLinkState *, QXMessageContext *context, ...) {
  reportUnavailable(context, Name);
  return kFailed;
}

template <const char *Name>
void *pendingRecord(DfsLinkState *, QXMessageContext *context, ...) {
  reportUnavailable(context, Name);
  return nullptr;
}

// Nothing can have been handed out to release.
void pendingRelease(DfsLinkState *, QXMessageContext *, ...) {}

constexpr char kLoadEnvPaths[] = "loadEnvPaths";
constexpr char kLoadXmlOptions[] = "loadXmlOptions";
constexpr char kExists[] = "hdfsExists";
constexpr char kCopy[] = "hdfsCopy";
constexpr char kCopyFromLocal[] = "hdfsCopyFromLocal";
constexpr char kMove[] = "hdfsMove";
constexpr char kDelete[] = "hdfsDelete";
constexpr char kRename[] = "hdfsRename";
constexpr char kGetWorkingDirectory[] = "hdfsGetWorkingDirectory";
constexpr char kSetWorkingDirectory[] = "hdfsSetWorkingDirectory";
constexpr char kCreateDirectory[] = "hdfsCreateDirectory";
constexpr char kSetReplication[] = "hdfsSetReplication";
constexpr char kListDirectory[] = "hdfsListDirectory";
constexpr char kGetPathInfo[] = "hdfsGetPathInfo";
constexpr char kGetHosts[] = "hdfsGetHosts";
constexpr char kGetDefaultBlockSize[] = "hdfsGetDefaultBlockSize";
constexpr char kGetCapacity[] = "hdfsGetCapacity";
constexpr char kGetUsed[] = "hdfsGetUsed";
constexpr char kChown[] = "hdfsChown";
constexpr char kChmod[] = "hdfsChmod";
constexpr char kUtime[] = "hdfsUtime";
constexpr char kJavaComp[] = "javaComp";
constexpr char kJavaJar[] = "javaJar";
constexpr char kJavaMap[] = "javaMap";

}  // namespace

void fillPendingOperations(DfsOperations &table) {
  table.loadEnvPaths = pendingStatus<kLoadEnvPaths>;
  table.loadXmlOptions = pendingStatus<kLoadXmlOptions>;
  table.hdfsExists = pendingFlag<kExists>;
  table.hdfsCopy = pendingFlag<kCopy>;
  table.hdfsCopyFromLocal = pendingFlag<kCopyFromLocal>;
  table.hdfsMove = pendingFlag<kMove>;
  table.hdfsDelete = pendingFlag<kDelete>;
  table.hdfsRename = pendingFlag<kRename>;
  table.hdfsGetWorkingDirectory = pendingRecord<kGetWorkingDirectory>;
  table.hdfsSetWorkingDirectory = pendingFlag<kSetWorkingDirectory>;
  table.hdfsCreateDirectory = pendingFlag<kCreateDirectory>;
  table.hdfsSetReplication = pendingFlag<kSetReplication>;
  table.hdfsListDirectory = pendingStatus<kListDirectory>;
  table.hdfsGetPathInfo = pendingRecord<kGetPathInfo>;
  table.hdfsReleasePathInfo = pendingRelease;
  table.hdfsGetHosts = pendingStatus<kGetHosts>;
  table.hdfsReleaseHosts = pendingRelease;
  table.hdfsGetDefaultBlockSize = pendingCount<kGetDefaultBlockSize>;
  table.hdfsGetCapacity = pendingCount<kGetCapacity>;
  table.hdfsGetUsed = pendingCount<kGetUsed>;
  table.hdfsChown = pendingFlag<kChown>;
  table.hdfsChmod = pendingFlag<kChmod>;
  table.hdfsUtime = pendingFlag<kUtime>;
  table.javaComp = pendingStatus<kJavaComp>;
  table.javaJar = pendingStatus<kJavaJar>;
  table.javaMap = pendingStatus<kJavaMap>;
}

}  // namespace dfs
