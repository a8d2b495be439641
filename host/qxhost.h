/* The host kernel's records as a module sees them: plain tables of operations, record first in
 * every call, and the release operation of every record in its third word. */
#ifndef QX_HOST_QXHOST_H
#define QX_HOST_QXHOST_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
typedef char16_t QXChar;
extern "C" {
#else
typedef uint16_t QXChar;
#endif

typedef void (*QXReleaseFunction)(void *record);

/* The first three words of every host record; word 2 releases (or destroys) the record. */
typedef struct QXRecordHeader {
  uint32_t eyeCatcher;
  void *reserved;
  QXReleaseFunction release;
} QXRecordHeader;

/* Allocation flag: the block (or the grown part of a reallocated block) is zero-filled. */
#define QX_ZERO_FILL 0x80000000u

/* General status codes of the host kernel. */
#define QX_OUT_OF_MEMORY 0x803FC002u
#define QX_MISSING_ARGUMENT 0x803FC003u
#define QX_OPERATION_FAILED 0x803FC009u
#define QX_END_OF_INPUT 0x803FC064u
/* Status codes of the host's I/O engine. */
#define QX_IO_NOT_FOUND 0x80BFE801u
#define QX_IO_END_OF_FILE 0x80BFE80Au
#define QX_IO_CANNOT_LIST 0x80BFE826u

/* Message severities. */
#define QX_SEVERITY_PLAIN 0
#define QX_SEVERITY_NOTE 2
#define QX_SEVERITY_WARNING 3
#define QX_SEVERITY_ERROR 4

/* Transcoder encodings. */
#define QX_ENCODING_UTF8 20
#define QX_ENCODING_QXCHAR 25
#define QX_ENCODING_COMPILER 62

typedef struct QXPool QXPool;
struct QXPool {
  QXRecordHeader header;
  void *(*allocate)(QXPool *pool, size_t size, uint32_t flags);
  void (*free)(QXPool *pool, void *block);
  void *(*reallocate)(QXPool *pool, void *block, size_t size, uint32_t flags);
};

typedef struct QXPoolAttributes {
  uint32_t words[3];
} QXPoolAttributes;

typedef struct QXMutex QXMutex;
struct QXMutex {
  QXRecordHeader header;
  int32_t (*lock)(QXMutex *mutex, int32_t wait, int32_t exclusive);
  int32_t (*unlock)(QXMutex *mutex);
};

/* Modules create their mutexes with 256, 0, 0. */
typedef struct QXMutexAttributes {
  uint32_t kind;
  uint32_t reserved1;
  uint32_t reserved2;
} QXMutexAttributes;

typedef struct QXMessageContext QXMessageContext;
struct QXMessageContext {
  QXRecordHeader header;
  /* Arguments follow the conventions of the code's catalogue text: %hs narrow text, %s QXChar
   * text, %d int, %lld long long, %.*s unit count and QXChar text. */
  int32_t (*reportStatus)(QXMessageContext *context, int32_t severity, uint32_t code,
                          va_list arguments);
  int32_t (*reportText)(QXMessageContext *context, int32_t severity, const QXChar *format,
                        int32_t formatLength, ...);
};

typedef struct QXTranscoder QXTranscoder;
struct QXTranscoder {
  QXRecordHeader header;
  /* Lengths in: bytes. Written: units of the target encoding. The target is not terminated; a
   * non-zero status means invalid input or no room, and nothing is written past the capacity. */
  uint32_t (*convert)(QXTranscoder *transcoder, const void *source, int32_t sourceBytes,
                      void *target, int32_t targetCapacity, int32_t *written, int32_t reserved);
};

typedef struct QXNls QXNls;
struct QXNls {
  QXRecordHeader header;
  QXTranscoder *(*createTranscoder)(QXNls *nls, int32_t from, int32_t to, int32_t reserved,
                                    QXMessageContext *context);
  /* From QXChar text to an encoding; the context may be NULL. */
  QXTranscoder *(*createFromQXChar)(QXNls *nls, int32_t to, int32_t reserved,
                                    QXMessageContext *context);
  /* From an encoding to QXChar text; the context may be NULL. */
  QXTranscoder *(*createToQXChar)(QXNls *nls, int32_t from, int32_t reserved,
                                  QXMessageContext *context);
};

typedef struct QXKernel QXKernel;
struct QXKernel {
  QXRecordHeader header;
  QXPool *(*createPool)(QXKernel *kernel, const QXPoolAttributes *attributes, int32_t reserved,
                        const char *name);
  QXMutex *(*createMutex)(QXKernel *kernel, const QXMutexAttributes *attributes,
                          QXMessageContext *context, const char *name);
  /* Returns the extension record (a module's module record), or NULL after a report. */
  void *(*loadExtension)(QXKernel *kernel, const QXChar *name, int32_t length,
                         QXMessageContext *context);
  uint32_t (*currentThreadId)(QXKernel *kernel);
  QXNls *qxnls;
};

/* qxperf: loaded and released only. */
typedef struct QXPerfExtension {
  QXRecordHeader header;
} QXPerfExtension;

/* qxexml, the event-driven XML reader, and qxioe, files and directory listings: loaded at the
 * file-system module's start-up; their services are used by its configuration readers. */
typedef struct QXExmlExtension {
  QXRecordHeader header;
} QXExmlExtension;

typedef struct QXIoeExtension {
  QXRecordHeader header;
} QXIoeExtension;

#ifdef __cplusplus
}
#endif

#endif
