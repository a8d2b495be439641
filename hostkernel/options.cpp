// The kernel record's option lookup, the configuration locator and the locale service's number
// parsing.
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "hostkernel/internal.h"

namespace hostkernel {
namespace {

constexpr uint32_t kLocaleEyeCatcher = 0x4C434F4C;  // "LOCL"
const std::u16string kEnvironmentPrefix = u"OSENV.";

// XML's white space: a number may stand on a line of its own.
bool blank(QXChar unit) {
  return unit == u' ' || unit == u'\t' || unit == u'\r' || unit == u'\n';
}

uint32_t parseInteger(QXLocale *, const char *localeName, const QXChar *text, int32_t units,
                      int32_t *value) {
  if (!localeName || strcmp(localeName, "en_US") != 0) return QX_NO_LOCALE;
  if (!text || units < 0 || !value) return QX_MISSING_ARGUMENT;
  if (shouldFail(Fault::HostService, "parseInteger")) return QX_OPERATION_FAILED;
  int32_t i = 0;
  while (i < units && blank(text[i])) i++;
  bool negative = i < units && text[i] == u'-';
  if (i < units && (text[i] == u'-' || text[i] == u'+')) i++;
  int64_t number = 0;
  int32_t digits = 0;
  for (; i < units && text[i] >= u'0' && text[i] <= u'9'; i++, digits++) {
    number = number * 10 + (text[i] - u'0');
    if (number > static_cast<int64_t>(INT32_MAX) + 1) return QX_NUMBER_OUT_OF_RANGE;
  }
  while (i < units && blank(text[i])) i++;
  if (digits == 0 || i != units) return QX_NOT_A_NUMBER;
  number = negative ? -number : number;
  if (number > INT32_MAX || number < INT32_MIN) return QX_NUMBER_OUT_OF_RANGE;
  *value = static_cast<int32_t>(number);
  return 0;
}

}  // namespace

uint32_t lookupOption(QXKernel *, const QXChar *name, int32_t nameUnits, int32_t, void *value,
                      int32_t *capacity) {
  if (!name || nameUnits < 0 || !capacity || (!value && *capacity > 0)) return QX_MISSING_ARGUMENT;
  if (shouldFail(Fault::HostService, "lookupOption")) return QX_OPERATION_FAILED;
  std::u16string option(name, static_cast<size_t>(nameUnits));
  if (option.rfind(kEnvironmentPrefix, 0) != 0) return QX_OPTION_NOT_SET;
  const char *text = getenv(fromQXChar(option.substr(kEnvironmentPrefix.size())).c_str());
  if (!text) return QX_OPTION_NOT_SET;
  std::u16string units = toQXChar(text);
  size_t bytes = units.size() * sizeof(QXChar);
  if (bytes > static_cast<size_t>(*capacity)) return QX_VALUE_TOO_LONG;
  memcpy(value, units.data(), bytes);
  *capacity = static_cast<int32_t>(bytes);
  return 0;
}

int32_t qxzinfo(int32_t kind, QXZinfoRequest *request, uint32_t) {
  if (kind != QX_ZINFO_USER_HOST_NAME || !request) return static_cast<int32_t>(QX_MISSING_ARGUMENT);
  if (shouldFail(Fault::HostService, "qxzinfo")) return static_cast<int32_t>(QX_OPERATION_FAILED);
  static std::once_flag once;
  static std::u16string hostName;
  std::call_once(once, [] {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) strcpy(name, "localhost");
    hostName = toQXChar(name);
  });
  request->text = hostName.c_str();
  request->length = static_cast<int32_t>(hostName.size());
  return 0;
}

QXLocale *localeService() {
  static QXLocale locale = {{kLocaleEyeCatcher, nullptr, nullptr}, parseInteger};
  return &locale;
}

}  // namespace hostkernel
