// UTF-8 <-> UTF-16 for the host's own rendering; modules convert through qxnls instead.
#include "hostkernel/internal.h"

namespace hostkernel {
namespace {

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

}  // namespace

std::string fromQXChar(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    char32_t c = text[i];
    bool highSurrogate = c >= 0xD800 && c < 0xDC00;
    if (highSurrogate && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    appendUtf8(out, c);
  }
  return out;
}

std::u16string toQXChar(std::string_view utf8) {
  std::u16string out;
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char lead = static_cast<unsigned char>(utf8[i]);
    int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    char32_t c = extra == 0   ? lead
                 : extra == 1 ? lead & 0x1F
                 : extra == 2 ? lead & 0x0F
                              : lead & 0x07;
    bool valid = extra >= 0 && i + extra < utf8.size();
    for (int k = 1; valid && k <= extra; k++) {
      unsigned char next = static_cast<unsigned char>(utf8[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid) {
      appendUtf16(out, 0xFFFD);
      i++;
      continue;
    }
    appendUtf16(out, c);
    i += extra + 1;
  }
  return out;
}

}  // namespace hostkernel
