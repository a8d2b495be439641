/* The storage engine's record of options, filled from the environment and the options
 * document. */
#ifndef QX_DFSLINK_CONFIG_OPTIONS_RECORD_H
#define QX_DFSLINK_CONFIG_OPTIONS_RECORD_H

#include <stdint.h>

#include "host/qxhost.h"
#include "jvmlink/jvmlink.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Bits of optionFlags. */
#define OPTIONS_COMBINE_SPLITS 0x01u
#define OPTIONS_DEBUG_OBS 0x02u
#define OPTIONS_DEBUG_SPLIT 0x04u
#define OPTIONS_KEEP_JAVA_WORK 0x08u
#define OPTIONS_KEEP_HDFS_WORK 0x10u
#define OPTIONS_WHERE_OPTIMIZED 0x20u

/* Bit 0 of classPath.flags: each appended path is echoed. */
#define CLASS_PATH_ECHO 1u

/* Texts are NUL-terminated QXChar texts in dfslink's module pool; the class path list grows in
 * the caller's pool. */
typedef struct OptionsRecord {
  uint32_t optionFlags;
  uint32_t reserved;
  QXChar *javaWorkPath;
  QXChar *javaBootstrapPath;
  QXChar *zelJavaVersion;
  QXChar *hadoopJavaVersion;
  QXChar *hdfsWorkPath;
  QXChar *hdfsWorkingDir;
  QXChar *hdfsHost;
  uint32_t hdfsHostLength; /* QXChar units */
  QXChar *hdfsUser;
  uint32_t hdfsUserLength; /* QXChar units */
  uint16_t hdfsPort;
  ClassPathList classPath;
  uint32_t classPathCompanion; /* cleared with classPath */
} OptionsRecord;

#ifdef __cplusplus
}
#endif

#endif
