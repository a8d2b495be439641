// The Java tools of the operation table: compiling Java sources and launching the storage
// engine's jar and map-job entry classes.
#pragma once

#include "dfslink/dfslink.h"

namespace dfs {

uint32_t javaComp(DfsLinkState *dfs, QXMessageContext *context, const char *const *sources,
                  const char *outputDirectory, const char *version, const char *bootClassPath);
uint32_t javaJar(DfsLinkState *dfs, QXMessageContext *context, const char *jar,
                 const char *mainClass, const char *const *arguments);
uint32_t javaMap(DfsLinkState *dfs, QXMessageContext *context, const char *const *settings,
                 const char *const *arguments);

}  // namespace dfs
