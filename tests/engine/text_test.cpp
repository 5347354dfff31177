#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "engine/text.h"

namespace hitsieve {
namespace {

// glibc's converter, used only as a reference for our fixed tables. Empty when it fails.
std::string Iconv(const std::string& text, const char* from, const char* to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return "iconv unavailable";
  std::string in = text;
  std::string out(in.size() * 4 + 4, '\0');
  char* in_ptr = in.data();
  size_t in_left = in.size();
  char* out_ptr = out.data();
  size_t out_left = out.size();
  const size_t rc = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) return "";
  out.resize(out.size() - out_left);
  return out;
}

TEST(Text, CaseFoldingFollowsWindows1251) {
  const struct {
    unsigned char upper;
    unsigned char lower;
  } cases[] = {{'A', 'a'},   {'Z', 'z'},   {0xC0, 0xE0}, {0xDF, 0xFF}, {0xA8, 0xB8}, {0x80, 0x90},
               {0x81, 0x83}, {0x8A, 0x9A}, {0xA5, 0xB4}, {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE},
               {'a', 'a'},   {0xE0, 0xE0}, {'@', '@'},   {'[', '['},   {0x98, 0x98}, {0, 0}};
  for (const auto& c : cases) EXPECT_EQ(c.lower, Cp1251Lower(c.upper)) << int{c.upper};
}

TEST(Text, CaseInsensitiveLessOrdersFoldedUnsignedBytes) {
  const CaseInsensitiveLess less;
  const struct {
    const char* a;
    const char* b;
    bool a_less;
    bool b_less;
  } cases[] = {
      {"Weather", "weather", false, false},
      {"\xCF\xD0\xC8\xC2\xC5\xD2", "\xEF\xF0\xE8\xE2\xE5\xF2", false, false},  // ПРИВЕТ / привет
      {"abc", "abcd", true, false},
      {"", "a", true, false},
      {"Z", "a", false, true},      // z after a once folded
      {"a", "\xE0", true, false},   // unsigned: 0x61 < 0xE0
      {"HTML", "htm", false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.a_less, less(c.a, c.b)) << c.a << " < " << c.b;
    EXPECT_EQ(c.b_less, less(c.b, c.a)) << c.b << " < " << c.a;
  }
}

TEST(Text, UrlDecode) {
  const struct {
    const char* in;
    std::string out;
  } cases[] = {{"%41", "A"},
               {"a+b", "a b"},
               {"%d0%B0", "\xD0\xB0"},
               {"ab%4", "ab"},
               {"ab%", "ab"},
               {"%zz", std::string(1, '\0')},
               {"%g1x", "\x01x"},
               {"100%", "100"},
               {"%%41", std::string(1, '\x04') + "1"},
               {"", ""},
               {"plain", "plain"}};
  for (const auto& c : cases) EXPECT_EQ(c.out, UrlDecode(c.in)) << c.in;
}

TEST(Text, TrimWhitespaceRemovesSixBlankBytesAtBothEnds) {
  EXPECT_EQ("a b", TrimWhitespace(" \t\r\n\v\fa b\f\v\n\r\t "));
  EXPECT_EQ("", TrimWhitespace(" \t "));
  EXPECT_EQ("\xA0x\xA0", TrimWhitespace("\xA0x\xA0"));
}

TEST(Text, SingleByteTablesAgreeWithIconv) {
  for (int b = 0x01; b < 0x100; ++b) {
    const std::string byte(1, static_cast<char>(b));
    if (b != 0x98) {  // unassigned in Windows-1251
      EXPECT_EQ(Iconv(byte, "CP1251", "UTF-8"), ConvertCodePage(byte, kCodePage1251, kCodePageUtf8))
          << "1251 byte " << b;
      EXPECT_EQ(Iconv(byte, "CP1251", "UTF-8"), Cp1251ToUtf8(byte)) << "1251 byte " << b;
    }
    EXPECT_EQ(Iconv(byte, "KOI8-R", "UTF-8"), ConvertCodePage(byte, kCodePageKoi8r, kCodePageUtf8))
        << "KOI8-R byte " << b;
    const std::string koi_in_1251 = Iconv(byte, "KOI8-R", "CP1251");
    if (!koi_in_1251.empty()) {
      EXPECT_EQ(koi_in_1251, ConvertCodePage(byte, kCodePageKoi8r, kCodePage1251))
          << "KOI8-R byte " << b;
    } else {
      EXPECT_EQ("?", ConvertCodePage(byte, kCodePageKoi8r, kCodePage1251)) << "KOI8-R byte " << b;
    }
  }
}

TEST(Text, ConvertCodePage) {
  const struct {
    const char* label;
    std::string in;
    int from;
    int to;
    std::string out;
  } cases[] = {
      {"utf-8 Cyrillic", "web \xD0\xB0\xD0\xAF", kCodePageUtf8, kCodePage1251, "web \xE0\xDF"},
      {"utf-8 lacking in 1251", "\xE2\x82\xAC\xE4\xB8\xAD", kCodePageUtf8, kCodePage1251, "\x88?"},
      {"1251 bytes given as utf-8", "\xEF\xF0\xE8", kCodePageUtf8, kCodePage1251, "???"},
      {"cut sequence", "a\xD0", kCodePageUtf8, kCodePage1251, "a?"},
      {"overlong", "\xC0\xAF", kCodePageUtf8, kCodePage1251, "??"},
      {"surrogate", "\xED\xA0\x80", kCodePageUtf8, kCodePage1251, "???"},
      {"four bytes", "\xF0\x9F\x98\x80!", kCodePageUtf8, kCodePage1251, "?!"},
      {"stops at NUL", std::string("ab\0cd", 5), kCodePageUtf8, kCodePage1251, "ab"},
      {"koi8-r word", "\xD0\xD2\xC9\xD7\xC5\xD4", kCodePageKoi8r, kCodePage1251,
       "\xEF\xF0\xE8\xE2\xE5\xF2"},
      {"koi8-r to utf-8", "\xE1", kCodePageKoi8r, kCodePageUtf8, "\xD0\x90"},
      {"1251 to koi8-r", "\xEF\xF0\xE8", kCodePage1251, kCodePageKoi8r, "\xD0\xD2\xC9"},
      {"empty", "", kCodePageUtf8, kCodePage1251, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.out, ConvertCodePage(c.in, c.from, c.to)) << c.label;
}

}  // namespace
}  // namespace hitsieve
