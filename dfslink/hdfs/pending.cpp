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

constexpr char kJavaComp[] = "javaComp";
constexpr char kJavaJar[] = "javaJar";
constexpr char kJavaMap[] = "javaMap";

}  // namespace

void fillPendingOperations(DfsOperations &table) {
  table.javaComp = pendingStatus<kJavaComp>;
  table.javaJar = pendingStatus<kJavaJar>;
  table.javaMap = pendingStatus<kJavaMap>;
}

}  // namespace dfs
