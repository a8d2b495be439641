// Reading the options document into the options record.
#pragma once

#include <cstdint>

#include "dfslink/dfslink.h"

namespace dfs {

// The user host name the document's java_bootstrap_path may name.
struct HostName {
  const QXChar *text;
  int32_t length;  // units
};

// Reads the document at path (NUL-terminated QXChar text) into options; the reading's status.
uint32_t readOptionsDocument(DfsLinkState *dfs, QXMessageContext *context, QXPool *pool,
                             const QXChar *path, OptionsRecord *options, HostName userHostName);

}  // namespace dfs
