// Referer texts as people see them: the shown text must lead a reader to the host the link
// opens, and nothing in it may reorder or hide what follows.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "export/referer_text.h"

namespace hitsieve {
namespace {

// The host a reader takes from an address: between "//" and the end of the authority, after
// the last '@'. Empty when the text has no "//".
std::string ApparentHost(const std::string& text) {
  const size_t slashes = text.find("//");
  if (slashes == std::string::npos) return "";
  const size_t start = slashes + 2;
  std::string authority = text.substr(start, text.find_first_of("/\\?#", start) - start);
  if (const size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  if (!authority.empty() && authority.front() != '[') authority = authority.substr(0, authority.find(':'));
  return authority;
}

TEST(RefererText, ShowsTheHostTheLinkOpens) {
  const struct {
    const char* label;
    const char* raw;
    const char* host;  // nullptr: no host a browser would open
    const char* shown;
  } cases[] = {
      {"user info that reads as a search", "https://www.google.com%2Fsearch%3Fq%3Dx@evil.example/",
       "evil.example", "https://www.google.com%2Fsearch%3Fq%3Dx@evil.example/"},
      {"Cyrillic look-alike", "https://www.%D0%B0pple.com/", "www.xn--pple-43d.com",
       "https://www.xn--pple-43d.com/"},
      {"upper-case look-alike maps like a browser", "https://WWW.%D0%90PPLE.com/",
       "www.xn--pple-43d.com", "https://www.xn--pple-43d.com/"},
      {"raw Unicode host", "http://\xD0\xBF\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80.\xD1\x80\xD1\x84/",
       "xn--e1afmkfd.xn--p1ai", "http://xn--e1afmkfd.xn--p1ai/"},
      {"path and query decoded, host lower case",
       "HTTP://WWW.Example.COM/%D1%81%D1%87%D1%91%D1%82?q=%D1%81%D1%87+x#%20",
       "www.example.com", "http://www.example.com/счёт?q=сч x#%20"},
      {"Windows-1251 query", "http://yandex.ru/yandsearch?text=%F1%F7%E5%F2", "yandex.ru",
       "http://yandex.ru/yandsearch?text=счет"},
      {"encoded slash in the host", "https://www.google.com%2F.evil.example/", nullptr,
       "https://www.google.com%2F.evil.example/"},
      {"backslash ends the host", "https://evil.example\\@google.com/", "evil.example",
       "https://evil.example/@google.com/"},
      {"numeric IPv4 forms", "http://0x7f.1/a", "127.0.0.1", "http://127.0.0.1/a"},
      {"own port dropped, other kept", "http://a.example:0080/x%41", "a.example",
       "http://a.example/xA"},
      {"other port", "https://a.example:8443/", "a.example", "https://a.example:8443/"},
      {"tab inside the host", "https://goo\tgle.com/", "google.com", "https://google.com/"},
      {"bad port", "http://a.example:8x/", nullptr, "http://a.example:8x/"},
      {"RLO in the query", "https://a.example/?f=%E2%80%AEexe.txt", "a.example",
       "https://a.example/?f=\xEF\xBF\xBD" "exe.txt"},
      {"Arabic letter mark in the path", "https://a.example/%D8%9Cx", "a.example",
       "https://a.example/\xEF\xBF\xBDx"},
      {"not a link: decoded throughout", "android-app://x/%D1%81+1", nullptr,
       "android-app://x/с 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::optional<std::string> host = WebLinkHost(c.raw);
    if (c.host == nullptr) {
      EXPECT_FALSE(host.has_value()) << *host;
    } else {
      ASSERT_TRUE(host.has_value());
      EXPECT_EQ(c.host, *host);
    }
    EXPECT_EQ(c.shown, RefererDisplayText(c.raw));
  }
}

TEST(RefererText, BidiAndInvisibleCharactersNeverReachTheText) {
  const char* hidden[] = {"\xD8\x9C", "\xE2\x80\xAE", "\xE2\x80\xAB", "\xE2\x81\xA6",
                          "\xE2\x81\xA9", "\xE2\x80\x8F", "\xE2\x80\x8B", "\xE2\x80\xA8",
                          "\xEF\xBB\xBF", "\xF3\xA0\x80\x81", "\x1B", "\xC2\x85"};
  for (const char* c : hidden) {
    const std::string text = std::string("a") + c + "b";
    EXPECT_EQ("a\xEF\xBF\xBD" "b", VisibleText(text)) << text;
    EXPECT_EQ("x a\xEF\xBF\xBD" "b", RefererDisplayText(std::string("x ") + text)) << text;
  }
  EXPECT_EQ("ab ё", VisibleText("ab ё"));
}

// Addresses assembled from pieces a hostile referer would use: user info, encoded and raw
// non-ASCII letters, encoded separators, backslashes, ports, numeric hosts, bidi controls.
TEST(RefererText, AnyShownAddressLeadsToTheHostItOpens) {
  const std::vector<std::string> schemes = {"http://", "https://", "HTTPS://", "https:///",
                                            "http:\\\\", "ftp://", "javascript:"};
  const std::vector<std::string> pieces = {
      "www", ".", "google", "com", "evil", "example", "%2F", "%2f", "%3F", "%40", "@", ":",
      "%3A", "\\", "/", "?", "#", "%D0%B0", "%D0%90", "\xD0\xB0", "%E2%80%AE", "%D8%9C",
      "%", "%4", "0x7f", "1", "08", "255", "[::1]", "%5B", "+", "%25", "%00", "%FF", "xn--",
      "-", "\t", " ", "A", "%41", "80", "\xE2\x80\xAE", "%C2%AD", "..", "%2E"};
  std::mt19937 random(20090505);
  const auto pick = [&](const std::vector<std::string>& from) {
    return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random)];
  };
  int links = 0;
  for (int n = 0; n < 20000; ++n) {
    std::string raw = pick(schemes);
    const int length = std::uniform_int_distribution<int>(1, 12)(random);
    for (int k = 0; k < length; ++k) raw += pick(pieces);
    SCOPED_TRACE(raw);
    const std::string shown = RefererDisplayText(raw);
    ASSERT_EQ(shown, VisibleText(shown)) << "something hidden or reordering is shown";
    const std::optional<std::string> host = WebLinkHost(raw);
    if (!host) continue;
    ++links;
    // Read again, the shown text opens the same host, and a reader finds it where it belongs.
    ASSERT_EQ(host, WebLinkHost(shown)) << shown;
    if (shown != VisibleText(raw)) {
      ASSERT_EQ(*host, ApparentHost(shown)) << shown;
    }
  }
  EXPECT_GT(links, 2000);  // the pieces make enough real addresses to mean something
}

}  // namespace
}  // namespace hitsieve
