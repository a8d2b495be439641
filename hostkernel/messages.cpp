// The message context: renders status and text reports with the host's printf conventions,
// writes them to a sink and records them for tests.
#include <cinttypes>
#include <cstring>
#include <mutex>

#include "hostkernel/internal.h"

namespace hostkernel {

size_t qxLength(const QXChar *text) {
  size_t length = 0;
  while (text[length]) length++;
  return length;
}

namespace {

constexpr uint32_t kContextEyeCatcher = 0x5447534D;  // "MSGT"

const char *severityPrefix(int32_t severity) {
  switch (severity) {
    case QX_SEVERITY_ERROR:
      return "ERROR: ";
    case QX_SEVERITY_WARNING:
      return "WARNING: ";
    case QX_SEVERITY_NOTE:
      return "NOTE: ";
    default:
      return "";
  }
}

std::string renderQXChar(const QXChar *text, size_t length) {
  return text ? fromQXChar(std::u16string_view(text, length)) : "(null)";
}

// Renders the conversion starting after '%' at format[i]; returns the index after it.
template <typename CharT>
size_t renderConversion(std::basic_string_view<CharT> format, size_t i, va_list *arguments,
                        std::string &out, std::vector<std::string> *rendered) {
  auto startsWith = [&](const char *spec) {
    size_t n = strlen(spec);
    if (format.size() - i < n) return false;
    for (size_t k = 0; k < n; k++) {
      if (format[i + k] != static_cast<CharT>(spec[k])) return false;
    }
    return true;
  };
  std::string argument;
  size_t length;
  if (startsWith("%")) {
    out += '%';
    return i + 1;
  } else if (startsWith("hs")) {
    const char *text = va_arg(*arguments, const char *);
    argument = text ? text : "(null)";
    length = 2;
  } else if (startsWith("s")) {
    const QXChar *text = va_arg(*arguments, const QXChar *);
    argument = renderQXChar(text, text ? qxLength(text) : 0);
    length = 1;
  } else if (startsWith(".*s")) {
    int count = va_arg(*arguments, int);
    const QXChar *text = va_arg(*arguments, const QXChar *);
    argument = renderQXChar(text, count > 0 ? static_cast<size_t>(count) : 0);
    length = 3;
  } else if (startsWith("d")) {
    argument = std::to_string(va_arg(*arguments, int));
    length = 1;
  } else if (startsWith("lld")) {
    argument = std::to_string(va_arg(*arguments, long long));
    length = 3;
  } else {
    out += '%';
    return i;
  }
  out += argument;
  if (rendered) rendered->push_back(argument);
  return i + length;
}

template <typename CharT>
std::string format(std::basic_string_view<CharT> text, va_list arguments,
                   std::vector<std::string> *rendered) {
  std::string out;
  std::u16string literal;
  va_list copy;  // a local list can be passed on by address on every platform
  va_copy(copy, arguments);
  auto flushLiteral = [&] {
    if constexpr (std::is_same_v<CharT, char>) {
      out.append(literal.begin(), literal.end());
    } else {
      out += fromQXChar(literal);
    }
    literal.clear();
  };
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != static_cast<CharT>('%')) {
      literal += static_cast<char16_t>(static_cast<std::make_unsigned_t<CharT>>(text[i++]));
      continue;
    }
    flushLiteral();
    i = renderConversion(text, i + 1, &copy, out, rendered);
  }
  flushLiteral();
  va_end(copy);
  return out;
}

}  // namespace

std::string formatNarrow(std::string_view text, va_list arguments,
                         std::vector<std::string> *rendered) {
  return format<char>(text, arguments, rendered);
}

std::string formatQXChar(std::u16string_view text, va_list arguments,
                         std::vector<std::string> *rendered) {
  return format<char16_t>(text, arguments, rendered);
}

struct MessageContext::Impl {
  struct Record {
    QXMessageContext base;  // first: the record handed to modules
    Impl *impl;
  } record;
  mutable std::mutex mutex;
  FILE *sink;
  std::vector<Report> reports;

  void keep(Report report) {
    std::lock_guard<std::mutex> lock(mutex);
    if (sink) {
      fprintf(sink, "%s\n", report.line.c_str());
      fflush(sink);
    }
    reports.push_back(std::move(report));
  }

  static Impl *of(QXMessageContext *context) { return reinterpret_cast<Record *>(context)->impl; }

  static int32_t reportStatus(QXMessageContext *context, int32_t severity, uint32_t code,
                              va_list arguments) {
    Report report;
    report.severity = severity;
    report.code = code;
    char hex[16];
    snprintf(hex, sizeof hex, "0x%08" PRIX32, code);
    std::string text = catalogueText(code);
    if (text.empty()) {
      report.line = std::string(severityPrefix(severity)) + hex;
    } else {
      report.line = severityPrefix(severity) + formatNarrow(text, arguments, &report.arguments) +
                    " (" + hex + ")";
    }
    of(context)->keep(std::move(report));
    return 0;
  }

  static int32_t reportText(QXMessageContext *context, int32_t severity, const QXChar *text,
                            int32_t length, ...) {
    if (!text || length < 0) return static_cast<int32_t>(QX_MISSING_ARGUMENT);
    va_list arguments;
    va_start(arguments, length);
    Report report;
    report.severity = severity;
    report.line = severityPrefix(severity) +
                  formatQXChar(std::u16string_view(text, static_cast<size_t>(length)), arguments,
                               &report.arguments);
    va_end(arguments);
    of(context)->keep(std::move(report));
    return 0;
  }
};

MessageContext::MessageContext(FILE *sink) : impl_(new Impl) {
  impl_->record.base = {
      {kContextEyeCatcher, nullptr, nullptr}, Impl::reportStatus, Impl::reportText};
  impl_->record.impl = impl_.get();
  impl_->sink = sink;
}

MessageContext::~MessageContext() = default;

QXMessageContext *MessageContext::get() {
  return &impl_->record.base;
}

std::vector<Report> MessageContext::reports() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->reports;
}

std::vector<std::string> MessageContext::lines() const {
  std::vector<std::string> lines;
  for (const Report &report : reports()) lines.push_back(report.line);
  return lines;
}

void MessageContext::clear() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->reports.clear();
}

void MessageContext::setSink(FILE *sink) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->sink = sink;
}

Report statusReport(int32_t severity, uint32_t code, std::vector<std::string> arguments) {
  Report report;
  report.severity = severity;
  report.code = code;
  report.arguments = std::move(arguments);
  return report;
}

Report textReport(int32_t severity, std::string line) {
  Report report;
  report.severity = severity;
  report.line = std::move(line);
  return report;
}

void report(QXMessageContext *context, int32_t severity, uint32_t code, ...) {
  if (!context) return;
  va_list arguments;
  va_start(arguments, code);
  context->reportStatus(context, severity, code, arguments);
  va_end(arguments);
}

}  // namespace hostkernel
