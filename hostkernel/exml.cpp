// qxexml: an event reader on expat. It pulls the document through the stream's callbacks and
// calls the handlers back with QXChar texts; the first non-zero handler result stops it. Entity
// expansion is bounded and no external entity is ever fetched.
// Debian's expat has DTD support, and with it the bounds on entity expansion.
#define XML_DTD 1
#include <expat.h>

#include <new>
#include <string>
#include <vector>

#include "hostkernel/internal.h"

namespace hostkernel {
namespace {

constexpr uint32_t kExmlEyeCatcher = 0x4C4D5845;    // "EXML"
constexpr uint32_t kReaderEyeCatcher = 0x52444552;  // "REDR"
constexpr uint32_t kMalformed = 0x803FE814;
// No document of options needs entities that grow beyond this.
constexpr float kMaximumAmplification = 20.0f;
constexpr unsigned long long kAmplificationThreshold = 1 << 20;

struct Reader {
  QXExmlReader record;  // first
  QXMessageContext *context;
  QXExmlHandlers *handlers;
  QXExmlStream *stream;
  XML_Parser parser = nullptr;
  uint32_t stopped = 0;  // the handler result that stopped the parse
};

int32_t bytesOf(const std::u16string &text) {
  return static_cast<int32_t>(text.size() * sizeof(QXChar));
}

void stop(Reader *reader, uint32_t result) {
  if (result == 0 || reader->stopped) return;
  reader->stopped = result;
  XML_StopParser(reader->parser, XML_FALSE);
}

// Runs one handler call. Memory running out while its texts are made stops the reading with
// 0x803FC002: an exception must not unwind through expat's C frames.
template <typename Call>
void deliver(Reader *reader, const char *faultPoint, Call call) {
  if (reader->stopped) return;
  try {
    if (shouldFail(Fault::Allocation, faultPoint)) throw std::bad_alloc();
    stop(reader, call());
  } catch (const std::bad_alloc &) {
    stop(reader, QX_OUT_OF_MEMORY);
  }
}

void XMLCALL onStart(void *data, const XML_Char *name, const XML_Char **attributes) {
  Reader *reader = static_cast<Reader *>(data);
  deliver(reader, "exml start", [&] {
    std::u16string element = toQXChar(name);
    std::vector<std::u16string> texts;
    for (const XML_Char **attribute = attributes; *attribute; attribute++) {
      texts.push_back(toQXChar(*attribute));
    }
    std::vector<QXExmlAttribute> records(texts.size() / 2);
    std::vector<QXExmlAttribute *> pointers;
    for (size_t i = 0; i < records.size(); i++) {
      records[i].name = texts[2 * i].c_str();
      records[i].nameBytes = bytesOf(texts[2 * i]);
      records[i].value = texts[2 * i + 1].c_str();
      records[i].valueBytes = bytesOf(texts[2 * i + 1]);
      pointers.push_back(&records[i]);
    }
    return reader->handlers->elementStart(reader->handlers, 0, 0, 0, 0, element.c_str(),
                                          bytesOf(element), 0, 0, 0,
                                          static_cast<int32_t>(records.size()), pointers.data());
  });
}

void XMLCALL onEnd(void *data, const XML_Char *name) {
  Reader *reader = static_cast<Reader *>(data);
  deliver(reader, "exml end", [&] {
    std::u16string element = toQXChar(name);
    return reader->handlers->elementEnd(reader->handlers, 0, 0, 0, 0, element.c_str(),
                                        bytesOf(element));
  });
}

void XMLCALL onCharacters(void *data, const XML_Char *text, int length) {
  Reader *reader = static_cast<Reader *>(data);
  deliver(reader, "exml characters", [&] {
    std::u16string units = toQXChar(std::string_view(text, static_cast<size_t>(length)));
    return reader->handlers->characters(reader->handlers, units.c_str(), bytesOf(units));
  });
}

// A malformed document: its line and column in a report, and the reader's own status.
uint32_t malformed(Reader *reader) {
  XML_Parser parser = reader->parser;
  report(reader->context, QX_SEVERITY_ERROR, kMalformed,
         static_cast<int>(XML_GetCurrentLineNumber(parser)),
         static_cast<int>(XML_GetCurrentColumnNumber(parser)),
         XML_ErrorString(XML_GetErrorCode(parser)));
  return kMalformed;
}

// Feeds the stream's blocks to the parser until the end of input or a stop. Expat scans a token
// that a call leaves unfinished again from its start at the next call, so that feeding it the
// stream's small blocks one by one costs the square of a long token's length: blocks are gathered
// into pieces of up to kFeedBytes first.
uint32_t feed(Reader *reader) {
  constexpr size_t kFeedBytes = 1 << 20;
  std::string gathered;
  for (;;) {
    void *buffer = nullptr;
    int64_t length = 0;
    uint32_t status = reader->stream->read(reader->stream, &buffer, &length);
    bool last = status == QX_END_OF_INPUT;
    if (status != 0 && !last) return status;
    if (length < 0 || length > INT32_MAX) return QX_OPERATION_FAILED;
    gathered.append(static_cast<const char *>(buffer), static_cast<size_t>(length));
    if (gathered.size() < kFeedBytes && !last) continue;
    XML_Status parsed =
        XML_Parse(reader->parser, gathered.data(), static_cast<int>(gathered.size()), last);
    gathered.clear();
    if (reader->stopped) return reader->stopped;
    if (parsed != XML_STATUS_OK) return malformed(reader);
    if (last) return 0;
  }
}

uint32_t parse(QXExmlReader *record, int32_t, int32_t, int32_t, int32_t) {
  Reader *reader = reinterpret_cast<Reader *>(record);
  if (reader->parser) return QX_OPERATION_FAILED;  // one document a reader
  reader->parser = XML_ParserCreate(nullptr);
  if (!reader->parser) return QX_OUT_OF_MEMORY;
  XML_SetUserData(reader->parser, reader);
  XML_SetElementHandler(reader->parser, onStart, onEnd);
  XML_SetCharacterDataHandler(reader->parser, onCharacters);
  XML_SetParamEntityParsing(reader->parser, XML_PARAM_ENTITY_PARSING_NEVER);
  XML_SetBillionLaughsAttackProtectionMaximumAmplification(reader->parser, kMaximumAmplification);
  XML_SetBillionLaughsAttackProtectionActivationThreshold(reader->parser, kAmplificationThreshold);
  uint32_t status = reader->stream->open(reader->stream);
  if (status == 0) {
    try {
      status = feed(reader);
    } catch (const std::bad_alloc &) {
      status = QX_OUT_OF_MEMORY;
    }
  }
  uint32_t closed = reader->stream->close(reader->stream);
  return status ? status : closed;
}

void releaseReader(void *record) {
  Reader *reader = static_cast<Reader *>(record);
  if (reader->parser) XML_ParserFree(reader->parser);
  delete reader;
  live().ioObjects--;
}

QXExmlReader *createReader(QXExmlExtension *, const uintptr_t *configuration, int32_t, int32_t) {
  if (!configuration || !configuration[QX_EXML_HANDLERS] || !configuration[QX_EXML_STREAM] ||
      shouldFail(Fault::HostService, "createReader")) {
    return nullptr;
  }
  live().ioObjects++;
  return &(new Reader{{{kReaderEyeCatcher, nullptr, releaseReader}, parse},
                      reinterpret_cast<QXMessageContext *>(configuration[QX_EXML_CONTEXT]),
                      reinterpret_cast<QXExmlHandlers *>(configuration[QX_EXML_HANDLERS]),
                      reinterpret_cast<QXExmlStream *>(configuration[QX_EXML_STREAM])})
              ->record;
}

void releaseExtension(void *record) {
  delete static_cast<QXExmlExtension *>(record);
  live().extensions--;
}

}  // namespace

void *newExmlExtension() {
  live().extensions++;
  return new QXExmlExtension{{kExmlEyeCatcher, nullptr, releaseExtension}, createReader};
}

}  // namespace hostkernel
