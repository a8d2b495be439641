// The options document, read by the host's event reader: element starts set flags and bits,
// each element's text is collected from all its pieces and taken at the element's end, and
// classpath texts become class path entries.
#include "dfslink/config/options_reader.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "dfslink/config/class_path.h"
#include "dfslink/internal.h"
#include "host/qxlayout.h"
#include "host/qxplatform.h"

namespace dfs {
namespace {

// The engine owns the record and reads the fields by position.
QX_LAYOUT_32(
    offsetof(OptionsRecord, javaWorkPath) == 8 && offsetof(OptionsRecord, hdfsWorkingDir) == 28 &&
        offsetof(OptionsRecord, hdfsHost) == 32 && offsetof(OptionsRecord, hdfsHostLength) == 36 &&
        offsetof(OptionsRecord, hdfsUser) == 40 && offsetof(OptionsRecord, hdfsUserLength) == 44 &&
        offsetof(OptionsRecord, hdfsPort) == 48 && offsetof(OptionsRecord, classPath) == 52 &&
        offsetof(OptionsRecord, classPathCompanion) == 72 && sizeof(OptionsRecord) == 76,
    "OptionsRecord: flags, reserved, 7 texts, lengths, port, class path at 52; 76 bytes");

constexpr int32_t kBlockBytes = 8192;
constexpr size_t kMostTextUnits = 1 << 20;        // no option is longer
constexpr int32_t kMostAttributeUnits = 1 << 16;  // nor any attribute
// No options document is larger: one that is is refused by its size, before an XML reader can
// spend time on it.
constexpr int64_t kMostDocumentBytes = 4 << 20;
constexpr uint32_t kEndOfInput = QX_END_OF_INPUT;

// The input stream of the reader: its callbacks first, then what they work with.
struct OptionsStream {
  QXExmlStream callbacks;
  const QXChar *path;
  QXMessageContext *context;
  QXIoeFile *file;
  QXIoeExtension *ioe;
  DfsLinkState *dfs;
  void *buffer;
  int64_t bytesRead;
};

enum Element {
  kHadoop,
  kMapReduce,
  kJavaWorkPath,
  kZelJavaVersion,
  kHadoopJavaVersion,
  kJavaBootstrapPath,
  kHdfsWorkPath,
  kHdfsWorkingDir,
  kHdfs,
  kHost,
  kUser,
  kPort,
  kClassPaths,
  kClassPath,
  kElements
};

const std::u16string_view kElementNames[kElements] = {u"hadoop",
                                                      u"mapreduce",
                                                      u"java_work_path",
                                                      u"zel_java_version",
                                                      u"hadoop_java_version",
                                                      u"java_bootstrap_path",
                                                      u"hdfs_work_path",
                                                      u"hdfs_working_dir",
                                                      u"hdfs",
                                                      u"host",
                                                      u"user",
                                                      u"port",
                                                      u"classpaths",
                                                      u"classpath"};

// The handler context of the reader: its handler table first.
struct ReaderState {
  QXExmlHandlers handlers;
  DfsLinkState *dfs;
  QXMessageContext *context;
  OptionsRecord *options;
  QXString *strings;
  ExpansionContext expansion;
  HostName userHostName;
  bool in[kElements];
  bool hostNameGiven, hostNameMatches, osGiven, osMatches, recurse;
  // The text of the current element, from all its pieces (module pool).
  QXChar *text;
  size_t textUnits, textCapacity;
  bool textSeen;
};

int32_t bytesOf(std::u16string_view text) {
  return static_cast<int32_t>(text.size() * sizeof(QXChar));
}

bool same(ReaderState &state, const QXChar *text, int32_t bytes, std::u16string_view literal) {
  return state.strings->equals(state.strings, text, bytes, literal.data(), bytesOf(literal), 0);
}

bool valueIs(ReaderState &state, const QXExmlAttribute &attribute, std::u16string_view literal) {
  return same(state, attribute.value, attribute.valueBytes, literal);
}

void setBits(uint32_t &flags, uint32_t bits, bool on) {
  flags = on ? flags | bits : flags & ~bits;
}

// An os attribute: given, and whether it names this platform; false (after the two messages) for a
// value that is none of the three.
bool takeOs(ReaderState &state, const QXExmlAttribute &attribute, std::u16string_view element) {
  state.osGiven = true;
  state.osMatches = valueIs(state, attribute, QX_OPTIONS_OS);
  if (valueIs(state, attribute, u"windows") || valueIs(state, attribute, u"unix") ||
      valueIs(state, attribute, u"mvs")) {
    return true;
  }
  printText(state.context, QX_SEVERITY_ERROR, u"Invalid OS in <%.*s> : %.*s",
            static_cast<int>(element.size()), element.data(),
            static_cast<int>(attribute.valueBytes / 2), attribute.value);
  printText(state.context, QX_SEVERITY_ERROR, u"Valid values are windows, unix, or mvs");
  return false;
}

void resetOs(ReaderState &state) {
  state.osGiven = state.osMatches = false;
}

bool osApplies(const ReaderState &state) {
  return !state.osGiven || state.osMatches;
}

void emptyClassPath(ReaderState &state) {
  ClassPathList &list = state.options->classPath;
  QXPool *pool = state.expansion.pool;
  if (list.text) pool->free(pool, list.text);
  if (list.lengths) pool->free(pool, list.lengths);
  list.text = nullptr;
  list.lengths = nullptr;
  list.count = list.total = 0;
  state.options->classPathCompanion = 0;
}

// The attributes of an element as the options take them; false after an invalid os.
bool takeAttributes(ReaderState &state, Element element, int32_t count,
                    QXExmlAttribute **attributes) {
  uint32_t &flags = state.options->optionFlags;
  bool valid = true;
  for (int32_t i = 0; i < count; i++) {
    const QXExmlAttribute &attribute = *attributes[i];
    auto named = [&](std::u16string_view name) {
      return same(state, attribute.name, attribute.nameBytes, name);
    };
    auto yes = valueIs(state, attribute, u"yes"), no = valueIs(state, attribute, u"no");
    if (element == kMapReduce && named(u"combinesplits") && (yes || no)) {
      setBits(flags, OPTIONS_COMBINE_SPLITS, yes);
    } else if (element == kMapReduce && named(u"whereopt") && (yes || no)) {
      setBits(flags, OPTIONS_WHERE_OPTIMIZED, yes);
    } else if (element == kMapReduce && named(u"debug")) {
      if (yes) flags |= OPTIONS_DEBUG_OBS | OPTIONS_DEBUG_SPLIT;
      if (valueIs(state, attribute, u"obs")) flags |= OPTIONS_DEBUG_OBS;
      if (valueIs(state, attribute, u"split")) flags |= OPTIONS_DEBUG_SPLIT;
      if (no) flags &= ~(OPTIONS_DEBUG_OBS | OPTIONS_DEBUG_SPLIT);
    } else if ((element == kJavaWorkPath || element == kHdfsWorkPath) && named(u"delete") &&
               (yes || no)) {
      setBits(flags, element == kJavaWorkPath ? OPTIONS_KEEP_JAVA_WORK : OPTIONS_KEEP_HDFS_WORK,
              no);
    } else if ((element == kJavaWorkPath || element == kJavaBootstrapPath ||
                element == kClassPaths) &&
               named(u"os")) {
      valid = takeOs(state, attribute, kElementNames[element]) && valid;
    } else if (element == kJavaBootstrapPath && named(u"user_host_name")) {
      state.hostNameGiven = true;
      state.hostNameMatches =
          attribute.valueBytes == state.userHostName.length * 2 &&
          memcmp(attribute.value, state.userHostName.text, attribute.valueBytes) == 0;
    } else if (element == kClassPaths && named(u"debug") && (yes || no)) {
      setBits(state.options->classPath.flags, CLASS_PATH_ECHO, yes);
    } else if (element == kClassPath && named(u"recurse") && (yes || no)) {
      state.recurse = yes;
    }
  }
  return valid;
}

// What the start of an element sets before its attributes are read.
void startElement(ReaderState &state, Element element) {
  uint32_t &flags = state.options->optionFlags;
  switch (element) {
    case kMapReduce:
      flags &= ~(OPTIONS_COMBINE_SPLITS | OPTIONS_WHERE_OPTIMIZED | OPTIONS_DEBUG_OBS |
                 OPTIONS_DEBUG_SPLIT);
      break;
    case kJavaWorkPath:
      flags |= OPTIONS_KEEP_JAVA_WORK;
      resetOs(state);
      break;
    case kJavaBootstrapPath:
      resetOs(state);
      state.hostNameMatches = false;
      break;
    case kHdfsWorkPath:
      flags |= OPTIONS_KEEP_HDFS_WORK;
      break;
    case kClassPaths:
      resetOs(state);
      state.options->classPath.flags &= ~CLASS_PATH_ECHO;
      break;
    case kClassPath:
      state.recurse = true;
      break;
    default:
      break;
  }
}

// The element a name is, or kElements; start looks only at elements not open already.
Element elementOf(ReaderState &state, const QXChar *name, int32_t bytes, bool start) {
  for (int element = 0; element < kElements; element++) {
    if (start && state.in[element]) continue;
    if (same(state, name, bytes, kElementNames[element])) return static_cast<Element>(element);
  }
  return kElements;
}

void resetText(ReaderState &state) {
  state.textUnits = 0;
  state.textSeen = false;
}

uint32_t onStart(void *handlers, uintptr_t, uintptr_t, uintptr_t, uintptr_t, const QXChar *name,
                 int32_t nameBytes, uintptr_t, uintptr_t, uintptr_t, int32_t count,
                 QXExmlAttribute **attributes) {
  ReaderState &state = *static_cast<ReaderState *>(handlers);
  resetText(state);
  for (int32_t i = 0; i < count; i++) {
    if (attributes[i]->valueBytes / static_cast<int32_t>(sizeof(QXChar)) > kMostAttributeUnits) {
      printText(state.context, QX_SEVERITY_ERROR, u"An option's attribute is longer than %d units.",
                kMostAttributeUnits);
      return QX_VALUE_TOO_LONG;
    }
  }
  Element element = elementOf(state, name, nameBytes, true);
  if (element == kElements) return 0;
  state.in[element] = true;
  startElement(state, element);
  bool valid = takeAttributes(state, element, count, attributes);
  if (element == kClassPaths && osApplies(state)) emptyClassPath(state);
  return valid ? 0 : static_cast<uint32_t>(QX_OPERATION_FAILED);
}

// A value of the record: a new copy replaces the old one. 0, or 0x803FC002 with the field
// empty.
uint32_t store(ReaderState &state, QXChar *&field, const QXChar *text, size_t units) {
  QXPool *pool = state.dfs->pool;
  if (field) pool->free(pool, field);
  field = static_cast<QXChar *>(pool->allocate(pool, sizeof(QXChar) * (units + 1), 0));
  if (!field) {
    reportError(state.context, QX_OUT_OF_MEMORY);
    return QX_OUT_OF_MEMORY;
  }
  memcpy(field, text, sizeof(QXChar) * units);
  field[units] = 0;
  return 0;
}

// A text value and its length, always together: a failed store leaves no length behind.
uint32_t storeWithLength(ReaderState &state, QXChar *&field, uint32_t &length, const QXChar *text,
                         size_t units) {
  uint32_t status = store(state, field, text, units);
  length = status == 0 ? static_cast<uint32_t>(units) : 0;
  return status;
}

uint32_t storePort(ReaderState &state, const QXChar *text, size_t units) {
  OptionsRecord &options = *state.options;
  options.hdfsPort = 0;
  QXLocale *locale = state.dfs->host->locale;
  int32_t number = 0;
  uint32_t status =
      locale ? locale->parseInteger(locale, "en_US", text, static_cast<int32_t>(units), &number)
             : QX_NO_LOCALE;
  if (status == 0 && (number < 0 || number > 65535)) status = QX_NUMBER_OUT_OF_RANGE;
  if (status != 0) {
    reportError(state.context, status);
    return status;
  }
  options.hdfsPort = static_cast<uint16_t>(number);
  return 0;
}

// An element's whole text, taken where the element stands.
uint32_t takeText(ReaderState &state) {
  const QXChar *text = state.text ? state.text : u"";
  size_t units = state.textUnits;
  OptionsRecord &options = *state.options;
  const bool *in = state.in;
  uint32_t result = 0;
  if (!in[kHadoop]) return 0;
  // Every step runs; the first failure is the result, whatever a later one does.
  auto keep = [&result](uint32_t status) {
    if (result == 0) result = status;
  };
  if (in[kHdfs]) {
    if (in[kHost])
      keep(storeWithLength(state, options.hdfsHost, options.hdfsHostLength, text, units));
    if (in[kUser])
      keep(storeWithLength(state, options.hdfsUser, options.hdfsUserLength, text, units));
    if (in[kPort]) keep(storePort(state, text, units));
  }
  if (in[kMapReduce]) {
    bool bootstrapApplies = osApplies(state) && (!state.hostNameGiven || state.hostNameMatches);
    if (in[kJavaWorkPath] && osApplies(state))
      keep(store(state, options.javaWorkPath, text, units));
    if (in[kZelJavaVersion]) keep(store(state, options.zelJavaVersion, text, units));
    if (in[kHadoopJavaVersion]) keep(store(state, options.hadoopJavaVersion, text, units));
    if (in[kHdfsWorkPath]) keep(store(state, options.hdfsWorkPath, text, units));
    if (in[kJavaBootstrapPath] && bootstrapApplies) {
      keep(store(state, options.javaBootstrapPath, text, units));
    }
    if (in[kHdfsWorkingDir]) {
      keep(store(state, options.hdfsWorkingDir, text, units));
      return result;
    }
  }
  if (in[kClassPaths] && in[kClassPath] && osApplies(state)) {
    keep(expandClassPathEntry(state.expansion, text, static_cast<int64_t>(units * sizeof(QXChar)),
                              state.recurse));
  }
  return result;
}

// The text of an element arrives in pieces; only the elements whose text is a value collect it.
uint32_t onCharacters(void *handlers, const QXChar *text, int64_t bytes) {
  ReaderState &state = *static_cast<ReaderState *>(handlers);
  const bool *in = state.in;
  bool collecting = in[kHost] || in[kUser] || in[kPort] || in[kJavaWorkPath] ||
                    in[kZelJavaVersion] || in[kHadoopJavaVersion] || in[kHdfsWorkPath] ||
                    in[kJavaBootstrapPath] || in[kHdfsWorkingDir] || in[kClassPath];
  if (!in[kHadoop] || !collecting || bytes < 0) return 0;
  size_t units = static_cast<size_t>(bytes) / sizeof(QXChar);
  if (state.textUnits + units > kMostTextUnits) {
    printText(state.context, QX_SEVERITY_ERROR, u"An option's text is longer than %d units.",
              static_cast<int>(kMostTextUnits));
    return QX_VALUE_TOO_LONG;
  }
  if (state.textUnits + units > state.textCapacity) {
    size_t capacity = std::max(state.textCapacity * 2, state.textUnits + units);
    QXPool *pool = state.dfs->pool;
    void *grown = pool->reallocate(pool, state.text, sizeof(QXChar) * capacity, 0);
    if (!grown) {
      reportError(state.context, QX_OUT_OF_MEMORY);
      return QX_OUT_OF_MEMORY;
    }
    state.text = static_cast<QXChar *>(grown);
    state.textCapacity = capacity;
  }
  memcpy(state.text + state.textUnits, text, units * sizeof(QXChar));
  state.textUnits += units;
  state.textSeen = true;
  return 0;
}

uint32_t onEnd(void *handlers, uintptr_t, uintptr_t, uintptr_t, uintptr_t, const QXChar *name,
               int32_t nameBytes) {
  ReaderState &state = *static_cast<ReaderState *>(handlers);
  Element element = elementOf(state, name, nameBytes, false);
  uint32_t result = 0;
  if (element != kElements && state.in[element] && state.textSeen) result = takeText(state);
  resetText(state);
  if (element == kElements) return result;
  state.in[element] = false;
  if (element == kClassPaths || element == kJavaWorkPath || element == kZelJavaVersion ||
      element == kHadoopJavaVersion || element == kJavaBootstrapPath || element == kHdfsWorkPath) {
    resetOs(state);
  }
  if (element == kJavaBootstrapPath) state.hostNameGiven = state.hostNameMatches = false;
  return result;
}

uint32_t ignoreEvent(void *) {
  return 0;
}

uint32_t openStream(QXExmlStream *callbacks) {
  OptionsStream &stream = *reinterpret_cast<OptionsStream *>(callbacks);
  stream.ioe = stream.dfs->ioe;
  uint32_t attributes[QX_IOE_OPEN_ATTRIBUTE_WORDS] = {};
  attributes[4] = 1;
  attributes[6] = kBlockBytes;
  attributes[8] = 1;
  attributes[10] = 2;
  attributes[30] = 3;
  uintptr_t options[QX_IOE_OPTIONS_WORDS] = {reinterpret_cast<uintptr_t>(stream.context)};
  uint32_t status = 0;
  stream.file =
      stream.ioe->openFile(stream.ioe, stream.path, static_cast<int32_t>(qxLength(stream.path)),
                           attributes, 0, stream.context, "DORNXML", &status, options);
  if (status == QX_IO_NOT_FOUND) {
    reportError(stream.context, status, stream.path);
  } else if (status != 0) {
    reportError(stream.context, status);
  }
  return status;
}

uint32_t readStream(QXExmlStream *callbacks, void **buffer, int64_t *length) {
  OptionsStream &stream = *reinterpret_cast<OptionsStream *>(callbacks);
  uintptr_t options[QX_IOE_OPTIONS_WORDS] = {reinterpret_cast<uintptr_t>(stream.context)};
  int32_t read = kBlockBytes;
  uint32_t status = stream.file->read(stream.file, &stream.buffer, &read, 0, 0, options);
  if (buffer) *buffer = stream.buffer;
  if (length) *length = read;
  stream.bytesRead += read;
  if (stream.bytesRead > kMostDocumentBytes) {
    printText(stream.context, QX_SEVERITY_ERROR,
              u"The options document is larger than %d MiB; not read.",
              static_cast<int>(kMostDocumentBytes >> 20));
    return QX_VALUE_TOO_LONG;
  }
  return status == QX_IO_END_OF_FILE ? kEndOfInput : status;
}

uint32_t closeStream(QXExmlStream *callbacks) {
  OptionsStream &stream = *reinterpret_cast<OptionsStream *>(callbacks);
  if (!stream.file) return 0;
  uint32_t status = stream.file->close(stream.file);
  stream.file = nullptr;
  return status;
}

// Runs the reader over the document with the state made; its status.
uint32_t parseDocument(DfsLinkState *dfs, QXMessageContext *context, OptionsStream &stream,
                       ReaderState &state) {
  uintptr_t configuration[QX_EXML_CONFIGURATION_WORDS] = {20,
                                                          20,
                                                          25,
                                                          0,
                                                          0,
                                                          0xFE000000u,
                                                          0,
                                                          reinterpret_cast<uintptr_t>(context),
                                                          reinterpret_cast<uintptr_t>(&state),
                                                          reinterpret_cast<uintptr_t>(&stream),
                                                          0,
                                                          0,
                                                          0};
  QXExmlReader *reader = dfs->exml->createReader(dfs->exml, configuration, 0, 0);
  if (!reader) return QX_OUT_OF_MEMORY;
  uint32_t status = reader->parse(reader, 0, 0, 0, 0);
  reader->header.release(reader);
  return status;
}

}  // namespace

uint32_t readOptionsDocument(DfsLinkState *dfs, QXMessageContext *context, QXPool *pool,
                             const QXChar *path, OptionsRecord *options, HostName userHostName) {
  OptionsStream stream = {};
  stream.callbacks = {closeStream, openStream, readStream,
                      reinterpret_cast<QXExmlStreamCall>(ignoreEvent)};
  stream.path = path;
  stream.context = context;
  stream.dfs = dfs;
  ReaderState state = {};
  state.handlers.characters = onCharacters;
  state.handlers.elementEnd = onEnd;
  state.handlers.elementStart = onStart;
  for (QXExmlIgnored &unused : state.handlers.unused1) unused = ignoreEvent;
  for (QXExmlIgnored &unused : state.handlers.unused2) unused = ignoreEvent;
  state.dfs = dfs;
  state.context = context;
  state.options = options;
  state.expansion = {&options->classPath, context, pool, dfs->toCompiler, dfs->ioe, nullptr, 0, 0};
  state.userHostName = userHostName;
  uint32_t status = 0;
  state.strings = dfs->nls->createString(dfs->nls, QX_ENCODING_QXCHAR, 0, &status);
  if (!state.strings) return status ? status : QX_OPERATION_FAILED;
  stream.buffer = pool->allocate(pool, kBlockBytes, 0);
  if (!stream.buffer) {
    reportError(context, QX_OUT_OF_MEMORY);
    status = QX_OUT_OF_MEMORY;
  } else {
    status = parseDocument(dfs, context, stream, state);
    pool->free(pool, stream.buffer);
  }
  state.strings->header.release(state.strings);
  freeWalkStack(state.expansion);
  if (state.text) dfs->pool->free(dfs->pool, state.text);
  return status;
}

}  // namespace dfs
