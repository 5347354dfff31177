// Undoing the escapes of JSON strings; see json_line.h.
#include "engine/log_format/json_line.h"

#include <cstdint>

namespace hitsieve {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ReadHex4(std::string_view raw, size_t at, uint32_t& value) {
  if (raw.size() < at + 4) return false;
  value = 0;
  for (size_t k = at; k < at + 4; ++k) {
    const int digit = HexValue(raw[k]);
    if (digit < 0) return false;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return true;
}

void AppendUtf8(uint32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

bool UnescapeJsonString(std::string_view raw, std::string& out) {
  out.clear();
  size_t k = 0;
  while (k < raw.size()) {
    const size_t slash = raw.find('\\', k);
    if (slash == std::string_view::npos) {
      out.append(raw.substr(k));
      break;
    }
    out.append(raw.substr(k, slash - k));
    if (slash + 1 >= raw.size()) return false;
    const char kind = raw[slash + 1];
    k = slash + 2;
    switch (kind) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case '/': out += '/'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': {
        uint32_t code;
        if (!ReadHex4(raw, k, code)) return false;
        k += 4;
        if (code >= 0xD800 && code <= 0xDBFF) {
          uint32_t low;
          if (raw.size() >= k + 6 && raw[k] == '\\' && raw[k + 1] == 'u' &&
              ReadHex4(raw, k + 2, low) && low >= 0xDC00 && low <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            k += 6;
          } else {
            code = 0xFFFD;
          }
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
          code = 0xFFFD;
        }
        AppendUtf8(code, out);
        break;
      }
      default: return false;
    }
  }
  return true;
}

}  // namespace hitsieve
