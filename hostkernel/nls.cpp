// qxnls: transcoders between UTF-8, QXChar (UTF-16 in native byte order) and the compiler's code
// page, on iconv. One transcoder per pair lives for the process, so holders need not release it.
#include <iconv.h>

#include <cstring>
#include <map>
#include <mutex>

#include "hostkernel/internal.h"

namespace hostkernel {
namespace {

constexpr uint32_t kNlsEyeCatcher = 0x53534C4E;         // "NLSS"
constexpr uint32_t kTranscoderEyeCatcher = 0x4E435854;  // "TXCN"

const char *iconvName(int32_t encoding) {
  switch (encoding) {
    case QX_ENCODING_UTF8:
      return "UTF-8";
    case QX_ENCODING_QXCHAR:
      return "UTF-16LE";  // native order on the supported targets
    case QX_ENCODING_COMPILER:
      return "UTF-8";  // the narrow code page on this platform
    default:
      return nullptr;
  }
}

int32_t unitSize(int32_t encoding) {
  return encoding == QX_ENCODING_QXCHAR ? 2 : 1;
}

struct Transcoder {
  QXTranscoder record;  // first: the record is the transcoder
  std::string name;     // "FROM->TO"
  int32_t targetUnit;
  std::mutex mutex;  // an iconv descriptor keeps state: one conversion at a time
  iconv_t descriptor;
};

uint32_t convert(QXTranscoder *record, const void *source, int32_t sourceBytes, void *target,
                 int32_t targetCapacity, int32_t *written, int32_t) {
  Transcoder *transcoder = reinterpret_cast<Transcoder *>(record);
  if (written) *written = 0;
  if ((!source && sourceBytes > 0) || (!target && targetCapacity > 0) || sourceBytes < 0 ||
      targetCapacity < 0) {
    return QX_MISSING_ARGUMENT;
  }
  if (shouldFail(Fault::Conversion, transcoder->name)) return QX_OPERATION_FAILED;
  std::lock_guard<std::mutex> lock(transcoder->mutex);
  iconv(transcoder->descriptor, nullptr, nullptr, nullptr, nullptr);
  char *in = const_cast<char *>(static_cast<const char *>(source));
  size_t inLeft = static_cast<size_t>(sourceBytes);
  char *out = static_cast<char *>(target);
  size_t outLeft = static_cast<size_t>(targetCapacity);
  size_t result = inLeft ? iconv(transcoder->descriptor, &in, &inLeft, &out, &outLeft) : 0;
  int32_t producedBytes = targetCapacity - static_cast<int32_t>(outLeft);
  if (written) *written = producedBytes / transcoder->targetUnit;
  if (result == static_cast<size_t>(-1) || inLeft > 0) {
    return QX_OPERATION_FAILED;  // invalid or truncated input, or no room left
  }
  return 0;
}

void keepForProcess(void *) {}

QXTranscoder *createTranscoder(QXNls *, int32_t from, int32_t to, int32_t,
                               QXMessageContext *context) {
  static std::mutex mutex;
  static std::map<std::pair<int32_t, int32_t>, Transcoder *> transcoders;
  std::string name = std::to_string(from) + "->" + std::to_string(to);
  if (shouldFail(Fault::TranscoderCreation, name)) return nullptr;
  const char *fromName = iconvName(from);
  const char *toName = iconvName(to);
  if (!fromName || !toName) {
    report(context, QX_SEVERITY_ERROR, QX_OPERATION_FAILED);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(mutex);
  Transcoder *&transcoder = transcoders[{from, to}];
  if (!transcoder) {
    iconv_t descriptor = iconv_open(toName, fromName);
    if (descriptor == reinterpret_cast<iconv_t>(-1)) {
      transcoders.erase({from, to});
      report(context, QX_SEVERITY_ERROR, QX_OPERATION_FAILED);
      return nullptr;
    }
    transcoder = new Transcoder;
    transcoder->record = {{kTranscoderEyeCatcher, nullptr, keepForProcess}, convert};
    transcoder->name = name;
    transcoder->targetUnit = unitSize(to);
    transcoder->descriptor = descriptor;
  }
  return &transcoder->record;
}

QXTranscoder *createFromQXChar(QXNls *nls, int32_t to, int32_t reserved,
                               QXMessageContext *context) {
  return createTranscoder(nls, QX_ENCODING_QXCHAR, to, reserved, context);
}

QXTranscoder *createToQXChar(QXNls *nls, int32_t from, int32_t reserved,
                             QXMessageContext *context) {
  return createTranscoder(nls, from, QX_ENCODING_QXCHAR, reserved, context);
}

constexpr uint32_t kStringEyeCatcher = 0x47525453;  // "STRG"

// Texts compared exactly, byte for byte.
int32_t equals(QXString *, const void *text, int32_t textBytes, const void *literal,
               int32_t literalBytes, int32_t) {
  return textBytes == literalBytes && textBytes >= 0 &&
         (textBytes == 0 || memcmp(text, literal, static_cast<size_t>(textBytes)) == 0);
}

void releaseString(void *record) {
  delete static_cast<QXString *>(record);
  live().ioObjects--;
}

QXString *createString(QXNls *, int32_t encoding, int32_t, uint32_t *status) {
  uint32_t failure = !iconvName(encoding)                             ? QX_OPERATION_FAILED
                     : shouldFail(Fault::HostService, "createString") ? QX_OUT_OF_MEMORY
                                                                      : 0;
  if (status) *status = failure;
  if (failure) return nullptr;
  live().ioObjects++;
  return new QXString{{kStringEyeCatcher, nullptr, releaseString}, equals};
}

}  // namespace

QXNls *nlsService() {
  static QXNls nls = {{kNlsEyeCatcher, nullptr, nullptr},
                      createTranscoder,
                      createFromQXChar,
                      createToQXChar,
                      createString};
  return &nls;
}

}  // namespace hostkernel
