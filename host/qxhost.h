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
/* A directory's next entry has a name that is not text in the host's encoding: it is passed
 * over, and the next read reads the entry after it. */
#define QX_IO_NAME_NOT_TEXT 0x80BFE827u

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

/* A string service of qxnls: texts of one encoding compared. */
typedef struct QXString QXString;
struct QXString {
  QXRecordHeader header;
  /* Nonzero when the texts (byte lengths) are equal. */
  int32_t (*equals)(QXString *string, const void *text, int32_t textBytes, const void *literal,
                    int32_t literalBytes, int32_t reserved);
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
  /* A string service for texts of an encoding; NULL with a status. */
  QXString *(*createString)(QXNls *nls, int32_t encoding, int32_t reserved, uint32_t *status);
};

/* The locale service: numbers read as a locale writes them. */
typedef struct QXLocale QXLocale;
struct QXLocale {
  QXRecordHeader header;
  /* A decimal integer with an optional sign, blanks around it allowed; 0, or a status. */
  uint32_t (*parseInteger)(QXLocale *locale, const char *localeName, const QXChar *text,
                           int32_t units, int32_t *value);
};

/* What the configuration locator answers: a text and its length in QXChar units. */
typedef struct QXZinfoRequest {
  const QXChar *text;
  int32_t length;
} QXZinfoRequest;

/* Requests of the configuration locator. */
#define QX_ZINFO_USER_HOST_NAME 16
#define QX_ZINFO_FLAGS 0x11200000u

/* Status codes of option lookup and number parsing. */
#define QX_OPTION_NOT_SET 0x803FC26Au
#define QX_NO_LOCALE 0x803FC32Bu
#define QX_NUMBER_OUT_OF_RANGE 0x803FE811u
#define QX_NOT_A_NUMBER 0x803FE812u
#define QX_VALUE_TOO_LONG 0x803FE813u

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
  /* An option of the host as QXChar text: "OSENV.NAME" is the environment variable NAME. The
   * capacity in bytes goes in and the value's length in bytes comes out. */
  uint32_t (*lookupOption)(QXKernel *kernel, const QXChar *name, int32_t nameUnits, int32_t kind,
                           void *value, int32_t *capacity);
  /* The configuration locator; no record argument. */
  int32_t (*qxzinfo)(int32_t kind, QXZinfoRequest *request, uint32_t flags);
  QXLocale *locale; /* may be NULL */
};

/* The kind of option lookup the modules make. */
#define QX_OPTION_TEXT 4

/* qxperf: loaded and released only. */
typedef struct QXPerfExtension {
  QXRecordHeader header;
} QXPerfExtension;

/* qxexml, the event-driven XML reader. A reader is made from a configuration block of 13 words
 * (the encodings, the message context, the handler context and the input stream); its parse
 * pulls the document through the stream and calls the handlers back. */
typedef struct QXExmlReader QXExmlReader;
struct QXExmlReader {
  QXRecordHeader header; /* word 2 releases the reader */
  /* 0 after a complete document; the first non-zero handler result, or a status of its own. */
  uint32_t (*parse)(QXExmlReader *reader, int32_t reserved1, int32_t reserved2, int32_t reserved3,
                    int32_t reserved4);
};

#define QX_EXML_CONFIGURATION_WORDS 13
/* Words of the configuration block that the reader reads. */
#define QX_EXML_CONTEXT 7
#define QX_EXML_HANDLERS 8
#define QX_EXML_STREAM 9

/* The input stream: its callbacks come first, in this order. */
typedef struct QXExmlStream QXExmlStream;
typedef uint32_t (*QXExmlStreamCall)(QXExmlStream *stream);
typedef uint32_t (*QXExmlStreamRead)(QXExmlStream *stream, void **buffer, int64_t *length);
struct QXExmlStream {
  QXExmlStreamCall close;
  QXExmlStreamCall open;
  QXExmlStreamRead read; /* 0x803FC064 at the end of input */
  QXExmlStreamCall ignored;
};

/* One attribute of an element start: names and values are QXChar texts with byte lengths. */
typedef struct QXExmlAttribute {
  uintptr_t reserved[4];
  const QXChar *name;
  int32_t nameBytes;
  const QXChar *value;
  int32_t valueBytes;
} QXExmlAttribute;

/* The handler table at the start of the handler context: eleven entries, of which the reader
 * calls these three. */
typedef uint32_t (*QXExmlCharacters)(void *handlers, const QXChar *text, int64_t bytes);
typedef uint32_t (*QXExmlElementEnd)(void *handlers, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                                     const QXChar *name, int32_t nameBytes);
typedef uint32_t (*QXExmlElementStart)(void *handlers, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                                       const QXChar *name, int32_t nameBytes, uintptr_t,
                                       uintptr_t, uintptr_t, int32_t attributeCount,
                                       QXExmlAttribute **attributes);
typedef uint32_t (*QXExmlIgnored)(void *handlers);
typedef struct QXExmlHandlers {
  QXExmlCharacters characters;
  QXExmlIgnored unused1[3];
  QXExmlElementEnd elementEnd;
  QXExmlElementStart elementStart;
  QXExmlIgnored unused2[5];
} QXExmlHandlers;

typedef struct QXExmlExtension QXExmlExtension;
struct QXExmlExtension {
  QXRecordHeader header;
  QXExmlReader *(*createReader)(QXExmlExtension *exml, const uintptr_t *configuration,
                                int32_t reserved1, int32_t reserved2);
};

/* qxioe, files and directory listings. A word that holds a pointer is pointer-sized. */
typedef struct QXIoeFile QXIoeFile;
struct QXIoeFile {
  QXRecordHeader header;
  /* Reads up to *length bytes into *buffer; *length is what was read. 0x80BFE80A at the end. */
  uint32_t (*read)(QXIoeFile *file, void **buffer, int32_t *length, int32_t reserved1,
                   int32_t reserved2, const uintptr_t *options);
  uint32_t (*close)(QXIoeFile *file); /* closes and releases the file */
};

/* A value of a file's attribute: its fourth word. */
typedef struct QXIoeValue {
  uintptr_t reserved[3];
  intptr_t value;
} QXIoeValue;

typedef struct QXIoeAttribute {
  uintptr_t reserved[2];
  QXIoeValue *value; /* third word */
} QXIoeAttribute;

typedef struct QXIoeFileInfo QXIoeFileInfo;
struct QXIoeFileInfo {
  QXRecordHeader header; /* word 2 releases it */
  /* The attribute of that name (QXChar text, byte length), or NULL. */
  QXIoeAttribute *(*attribute)(QXIoeFileInfo *info, const QXChar *name, int32_t nameBytes);
};

/* A directory entry: word 0 its full path (not terminated), word 1 its length, word 8 its
 * type. */
typedef struct QXIoeEntryInfo {
  const QXChar *path;
  int32_t length;
  int32_t reserved[6];
  int32_t type;
} QXIoeEntryInfo;

#define QX_IOE_DIRECTORY 1 /* a directory, or a link to one */

typedef struct QXIoeEntry {
  uintptr_t reserved[2];
  QXIoeEntryInfo *info; /* third word */
} QXIoeEntry;

typedef struct QXIoeDirectory QXIoeDirectory;
struct QXIoeDirectory {
  QXRecordHeader header;
  /* The next entry (the directory's own entry first), or NULL: at the end with status 0, or
   * after a failure with its status (the status may be NULL). */
  QXIoeEntry *(*readEntry)(QXIoeDirectory *directory, uint32_t flags, int32_t reserved,
                           uint32_t *status);
  void (*releaseEntry)(QXIoeDirectory *directory, int32_t reserved, QXIoeEntry *entry);
  uint32_t (*close)(QXIoeDirectory *directory); /* closes and releases the directory */
};

/* A directory's entry names, one after the other. */
typedef struct QXIoeListing QXIoeListing;
struct QXIoeListing {
  QXRecordHeader header;
  /* The next name, NUL-terminated, into a buffer of capacity units; 0x80BFE80A at the end. */
  uint32_t (*readName)(QXIoeListing *listing, QXChar *buffer, int32_t capacity);
  uint32_t (*close)(QXIoeListing *listing); /* closes and releases the listing */
};

typedef struct QXIoeExtension QXIoeExtension;
struct QXIoeExtension {
  QXRecordHeader header;
  QXIoeFile *(*openFile)(QXIoeExtension *ioe, const QXChar *path, int32_t units,
                         const uint32_t *attributes, int32_t reserved, QXMessageContext *context,
                         const char *referenceName, uint32_t *status, const uintptr_t *options);
  /* Information on a path, from the caller's pool; NULL with a status (0x80BFE801: none). */
  QXIoeFileInfo *(*fileInfo)(QXIoeExtension *ioe, QXPool *pool, const QXChar *path,
                             int32_t units, uint32_t *status, int32_t reserved);
  /* The entries of a directory; NULL with a status (0x80BFE826: it cannot be listed). */
  QXIoeDirectory *(*openDirectory)(QXIoeExtension *ioe, const QXChar *path, int32_t units,
                                   int32_t reserved, int32_t mode, int64_t *entryCount,
                                   uint32_t *status, int32_t reserved2);
  QXIoeListing *(*openListing)(QXIoeExtension *ioe, const QXChar *path, int32_t units,
                               int32_t reserved1, int32_t reserved2, QXMessageContext *context,
                               int32_t reserved3, uint32_t *status, void *information);
};

/* Words of the open-attributes block of openFile. */
#define QX_IOE_OPEN_ATTRIBUTE_WORDS 43
#define QX_IOE_OPTIONS_WORDS 7

#ifdef __cplusplus
}
#endif

#endif
