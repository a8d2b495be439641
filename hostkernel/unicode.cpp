// UTF-8 <-> UTF-16 for the host's own rendering and its file names; modules convert through
// qxnls instead. Only shortest forms of scalar values count as UTF-8: an over-long form
// (C0 AF for '/') or an encoded surrogate is never taken for the character it imitates.
#include "hostkernel/internal.h"

namespace hostkernel {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string &out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void appendUtf16(std::u16string &out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 | (c >> 10));
    out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
  }
}

bool isSurrogate(char32_t c) {
  return c >= 0xD800 && c < 0xE000;
}

// The scalar value that starts at unit i, a surrogate pair taken whole (i then at its second
// unit); a lone surrogate comes back as it is.
char32_t scalarAt(std::u16string_view text, size_t &i) {
  char32_t c = text[i];
  if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
      text[i + 1] < 0xE000) {
    c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
  }
  return c;
}

// The scalar value of the UTF-8 sequence at i, and its length in bytes (at least 1); false for
// anything but a complete shortest form of a scalar value.
bool decodeOne(std::string_view utf8, size_t i, char32_t &c, size_t &length) {
  static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  unsigned char lead = static_cast<unsigned char>(utf8[i]);
  int extra = lead < 0x80    ? 0
              : lead >= 0xF8 ? -1
              : lead >= 0xF0 ? 3
              : lead >= 0xE0 ? 2
              : lead >= 0xC0 ? 1
                             : -1;
  length = 1;
  if (extra < 0 || i + static_cast<size_t>(extra) >= utf8.size()) return false;
  c = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
  for (int k = 1; k <= extra; k++) {
    unsigned char next = static_cast<unsigned char>(utf8[i + k]);
    if ((next & 0xC0) != 0x80) return false;
    c = (c << 6) | (next & 0x3F);
  }
  length = static_cast<size_t>(extra) + 1;
  return c >= kSmallest[extra] && c <= 0x10FFFF && !isSurrogate(c);
}

}  // namespace

bool utf8ToQXChar(std::string_view utf8, std::u16string &out) {
  out.clear();
  for (size_t i = 0; i < utf8.size();) {
    char32_t c = 0;
    size_t length = 0;
    if (!decodeOne(utf8, i, c, length)) return false;
    appendUtf16(out, c);
    i += length;
  }
  return true;
}

bool qxcharToUtf8(std::u16string_view text, std::string &out) {
  out.clear();
  for (size_t i = 0; i < text.size(); i++) {
    char32_t c = scalarAt(text, i);
    if (isSurrogate(c)) return false;
    appendUtf8(out, c);
  }
  return true;
}

std::string fromQXChar(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    char32_t c = scalarAt(text, i);
    appendUtf8(out, isSurrogate(c) ? kReplacement : c);
  }
  return out;
}

std::u16string toQXChar(std::string_view utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    char32_t c = 0;
    size_t length = 0;
    appendUtf16(out, decodeOne(utf8, i, c, length) ? c : kReplacement);
    i += length;
  }
  return out;
}

}  // namespace hostkernel
