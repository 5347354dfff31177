// Byte-string helpers shared by the engine, the store's callers and the exporters.
#ifndef HITSIEVE_ENGINE_TEXT_H_
#define HITSIEVE_ENGINE_TEXT_H_

#include <string>
#include <string_view>

// Byte-string helpers shared by the engine, the store's callers and the exporters. The engine
// keeps Cyrillic in Windows-1251; conversion to UTF-8 for display or files happens through
// Cp1251ToUtf8 only.
namespace hitsieve {

inline constexpr int kCodePageUtf8 = 65001;
inline constexpr int kCodePageKoi8r = 20866;
inline constexpr int kCodePage1251 = 1251;

// Windows-1251 lower-case mapping of one byte (Latin and Cyrillic capitals, and the few
// extra letters of the code page); every other byte maps to itself.
unsigned char Cp1251Lower(unsigned char c);

// Orders byte strings case-insensitively under Cp1251Lower: unsigned bytes, a prefix first.
struct CaseInsensitiveLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

// '+' becomes a space, "%XY" one byte (a non-hex digit counts 0), a '%' with fewer than two
// characters after it ends the output. Never fails.
std::string UrlDecode(std::string_view text);

// Re-encode `text`, up to its first NUL byte, from one code page to another (65001, 20866,
// 1251). A character the target lacks becomes '?'; malformed input never fails.
std::string ConvertCodePage(std::string_view text, int from_code_page, int to_code_page);

// Windows-1251 bytes to UTF-8, for display and for files that are UTF-8.
std::string Cp1251ToUtf8(std::string_view text);

// Remove space, tab, LF, CR, VT and FF from both ends.
std::string_view TrimWhitespace(std::string_view text);

// Equal when ASCII letters are compared without their case (other bytes as they are).
bool AsciiEqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_TEXT_H_
