// The version stamp: texts chosen when the module is built (see the build's stamp definitions).
#include "extframe/version_stamp.h"

#include "host/qxmodule.h"
#include "host/qxplatform.h"

namespace extframe {
namespace {

constexpr size_t kFieldWidth = 65;

// A fixed-width field: the key, an equals sign, blanks up to the full width.
struct StampField {
  char text[kFieldWidth + 1];
};

constexpr StampField stampField(const char *key) {
  StampField field{};
  size_t i = 0;
  for (; key[i] && i < kFieldWidth - 1; i++) field.text[i] = key[i];
  field.text[i++] = '=';
  for (; i < kFieldWidth; i++) field.text[i] = ' ';
  field.text[kFieldWidth] = '\0';
  return field;
}

constexpr StampField kHotFix = stampField("HOTFIX");
constexpr StampField kImage = stampField("IMAGE");
constexpr char kFamily[] = "qxdorn";

uintptr_t text(const char *value) {
  return reinterpret_cast<uintptr_t>(value);
}

}  // namespace

const uintptr_t *versionStamp() {
  static const uintptr_t stamp[QX_VERSION_STAMP_WORDS] = {
      // release, source, build time, family
      text(QX_RELEASE_ID), text(QX_SOURCE_PATH), text(""), QX_BUILD_TIME, text(kFamily),
      // build tokens
      text(QX_BUILD_TOKEN), text(kFamily), text(QX_BUILD_TOKEN_LONG), text(""), text("version"),
      // hot-fix and image fields
      text("-"), text(""), text(kHotFix.text), text(""), text(kImage.text),
      // platform
      text(QX_PLATFORM_WORD), 0, 0, 0, 0,
      // reserved
      0, 0, 0, 0, 0,
      // final word
      0};
  return stamp;
}

}  // namespace extframe
