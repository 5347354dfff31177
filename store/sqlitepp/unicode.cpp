// The UTF-16 to UTF-8 encoder of the layer's fixed texts.

#include "store/sqlitepp/unicode.h"

#include <cstdint>
#include <stdexcept>

namespace sqlitepp {

namespace {

// Lead-byte marks and sizes for sequences of 1 to 6 bytes. Code points above 0x10FFFF cannot
// come out of UTF-16, but the longer forms keep the encoder total over 31 bits.
void AppendCodePoint(uint32_t cp, std::string& out) {
  int extra;
  unsigned char lead;
  if (cp <= 0x7F) {
    out.push_back(static_cast<char>(cp));
    return;
  } else if (cp <= 0x7FF) {
    extra = 1, lead = 0xC0;
  } else if (cp <= 0xFFFF) {
    extra = 2, lead = 0xE0;
  } else if (cp <= 0x1FFFFF) {
    extra = 3, lead = 0xF0;
  } else if (cp <= 0x3FFFFFF) {
    extra = 4, lead = 0xF8;
  } else {
    extra = 5, lead = 0xFC;
  }
  out.push_back(static_cast<char>(lead | (cp >> (6 * extra))));
  for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6) {
    out.push_back(static_cast<char>(0x80 | ((cp >> shift) & 0x3F)));
  }
}

}  // namespace

std::string to_utf8(const char16_t* text, int length) {
  std::string out;
  if (text == nullptr) return out;
  if (length < 0) {
    length = 0;
    while (text[length] != 0) ++length;
  }
  out.reserve(length);
  for (int i = 0; i < length; ++i) {
    uint32_t unit = text[i];
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
      throw std::runtime_error("unicode: utf16 low surrogate found without high surrogate");
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      // A high surrogate followed by anything but a low one is as unpaired as a final one.
      if (i + 1 >= length || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
        throw std::runtime_error("unicode: utf16 high surrogate found without low surrogate");
      }
      uint32_t next = text[++i];
      unit = (unit - 0xD800) * 1024 + (next - 0xDC00) + 0x10000;
    }
    AppendCodePoint(unit, out);
  }
  return out;
}

}  // namespace sqlitepp
