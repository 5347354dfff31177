// Code-page conversion of search phrases and display texts: UTF-8, KOI8-R and Windows-1251
// through fixed tables.
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/text.h"

// Code-page conversion with fixed tables, so that results do not depend on the iconv modules or
// the locale installed on the machine. Every path goes through Unicode code points.
namespace hitsieve {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Code points of the bytes 0x80-0xFF.
constexpr char16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

// Code points of the bytes 0x80-0xFF.
constexpr char16_t kKoi8rHigh[128] = {
    0x2500, 0x2502, 0x250C, 0x2510, 0x2514, 0x2518, 0x251C, 0x2524,  // 80
    0x252C, 0x2534, 0x253C, 0x2580, 0x2584, 0x2588, 0x258C, 0x2590,  // 88
    0x2591, 0x2592, 0x2593, 0x2320, 0x25A0, 0x2219, 0x221A, 0x2248,  // 90
    0x2264, 0x2265, 0x00A0, 0x2321, 0x00B0, 0x00B2, 0x00B7, 0x00F7,  // 98
    0x2550, 0x2551, 0x2552, 0x0451, 0x2553, 0x2554, 0x2555, 0x2556,  // A0
    0x2557, 0x2558, 0x2559, 0x255A, 0x255B, 0x255C, 0x255D, 0x255E,  // A8
    0x255F, 0x2560, 0x2561, 0x0401, 0x2562, 0x2563, 0x2564, 0x2565,  // B0
    0x2566, 0x2567, 0x2568, 0x2569, 0x256A, 0x256B, 0x256C, 0x00A9,  // B8
    0x044E, 0x0430, 0x0431, 0x0446, 0x0434, 0x0435, 0x0444, 0x0433,  // C0
    0x0445, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E,  // C8
    0x043F, 0x044F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0436, 0x0432,  // D0
    0x044C, 0x044B, 0x0437, 0x0448, 0x044D, 0x0449, 0x0447, 0x044A,  // D8
    0x042E, 0x0410, 0x0411, 0x0426, 0x0414, 0x0415, 0x0424, 0x0413,  // E0
    0x0425, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E,  // E8
    0x041F, 0x042F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0416, 0x0412,  // F0
    0x042C, 0x042B, 0x0417, 0x0428, 0x042D, 0x0429, 0x0427, 0x042A,  // F8
};

const char16_t* HighTable(int code_page) {
  if (code_page == kCodePage1251) return kCp1251High;
  if (code_page == kCodePageKoi8r) return kKoi8rHigh;
  return nullptr;
}

// Decodes one UTF-8 character at text[i], advancing i. A malformed sequence gives U+FFFD and
// consumes its longest valid prefix (at least one byte), as browsers and Windows do.
char32_t DecodeUtf8(std::string_view text, size_t& i) {
  const unsigned char lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  int need = 0;
  unsigned char lower = 0x80;
  unsigned char upper = 0xBF;
  char32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) lower = 0xA0;
    if (lead == 0xED) upper = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) lower = 0x90;
    if (lead == 0xF4) upper = 0x8F;  // nothing above U+10FFFF
  } else {
    return kReplacement;
  }
  for (int k = 0; k < need; ++k) {
    if (i >= text.size()) return kReplacement;
    const unsigned char next = static_cast<unsigned char>(text[i]);
    if (next < lower || next > upper) return kReplacement;
    cp = (cp << 6) | (next & 0x3F);
    lower = 0x80;
    upper = 0xBF;
    ++i;
  }
  return cp;
}

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Every code point of both tables lies below this bound.
constexpr char32_t kReverseLimit = 0x2600;

// Code point -> byte 0x80-0xFF of a single-byte code page, 0 where it has none.
struct ReverseTable {
  unsigned char bytes[kReverseLimit];
};

constexpr ReverseTable MakeReverse(const char16_t (&high)[128]) {
  ReverseTable table{};
  for (int b = 127; b >= 0; --b) {  // downwards, so the lowest byte of a code point wins
    if (high[b] >= kReverseLimit) throw "code point beyond the reverse table";  // fails the build
    table.bytes[high[b]] = static_cast<unsigned char>(0x80 + b);
  }
  return table;
}

constexpr ReverseTable kCp1251Reverse = MakeReverse(kCp1251High);
constexpr ReverseTable kKoi8rReverse = MakeReverse(kKoi8rHigh);

const ReverseTable* ReverseFor(const char16_t* high) {
  return high == kCp1251High ? &kCp1251Reverse : &kKoi8rReverse;
}

// Encodes into a single-byte code page given by its reverse table; '?' for what it lacks.
void AppendSingleByte(char32_t cp, const ReverseTable& reverse, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
    return;
  }
  const unsigned char byte = cp < kReverseLimit ? reverse.bytes[cp] : 0;
  out += byte != 0 ? static_cast<char>(byte) : '?';
}

}  // namespace

std::string ConvertCodePage(std::string_view text, int from_code_page, int to_code_page) {
  const size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  const char16_t* from_high = HighTable(from_code_page);
  const char16_t* to_high = HighTable(to_code_page);
  const bool from_utf8 = from_code_page == kCodePageUtf8;
  const bool to_utf8 = to_code_page == kCodePageUtf8;
  if ((!from_utf8 && from_high == nullptr) || (!to_utf8 && to_high == nullptr)) {
    return std::string(text);  // a code page we do not know: bytes pass unchanged
  }
  const ReverseTable* reverse = to_utf8 ? nullptr : ReverseFor(to_high);
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char32_t cp;
    if (from_utf8) {
      cp = DecodeUtf8(text, i);
    } else {
      const unsigned char b = static_cast<unsigned char>(text[i++]);
      cp = b < 0x80 ? b : from_high[b - 0x80];
    }
    if (to_utf8) {
      AppendUtf8(cp, out);
    } else {
      AppendSingleByte(cp, *reverse, out);
    }
  }
  return out;
}

std::string Cp1251ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (const char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    AppendUtf8(b < 0x80 ? b : kCp1251High[b - 0x80], out);
  }
  return out;
}

}  // namespace hitsieve
