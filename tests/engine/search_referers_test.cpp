#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/dimensions/search_referers.h"
#include "engine/search_engine.h"
#include "engine/standard_engines.h"
#include "engine/text.h"

namespace hitsieve {
namespace {

// A results page of an engine: the referer up to its phrase parameter's name, which follows.
struct Page {
  const char* engine;
  const char* start;  // ends with '?' or '&' or '#'
  const char* parameter;
  bool described;     // one of the six: its phrase passes through Windows-1251
};
const Page kPages[] = {
    {"Bing", "https://www.bing.com/search?", "q", false},
    {"Bing", "https://cn.bing.com/search?form=QBLH&", "q", false},
    {"DuckDuckGo", "https://duckduckgo.com/?t=h_&", "q", false},
    {"DuckDuckGo", "https://html.duckduckgo.com/html/?", "q", false},
    {"Yahoo", "https://search.yahoo.com/search?", "p", false},
    {"Yahoo", "https://uk.search.yahoo.com/search;_ylt=A2;_ylu=X3?fr=yfp&", "p", false},
    {"Baidu", "https://www.baidu.com/s?ie=utf-8&", "wd", false},
    {"Baidu", "http://m.baidu.com/s?", "word", false},
    {"Ecosia", "https://www.ecosia.org/search?method=index&", "q", false},
    {"Yandex", "https://yandex.com/search/?lr=10&", "text", false},
    {"Yandex", "https://yandex.com.tr/search/?", "text", false},
    {"Yandex", "https://www.yandex.kz/search/?", "text", false},
    {"Yandex", "https://images.yandex.ru/search?", "text", false},
    {"Yandex", "https://m.yandex.by/search/touch/?", "text", false},
    {"Yandex", "https://ya.ru/search/?", "text", false},
    {"Yandex", "https://yandex.ru/search/?clid=1&", "text", true},
    {"Google", "https://images.google.de/search?tbm=isch&", "q", false},
    {"Google", "https://m.google.com/search?", "q", false},
    {"Google", "https://encrypted.google.com/search?hl=en#", "q", false},
    {"Google", "https://www.google.co.uk/search?hl=en&", "q", true},
    {"Google", "http://google.com.ua/search?", "q", true},
    {"Naver", "https://search.naver.com/search.naver?where=nexearch&", "query", false},
    {"Naver", "https://m.search.naver.com/search.naver?", "query", false},
    {"Seznam", "https://search.seznam.cz/?", "q", false},
    {"Rambler", "https://nova.rambler.ru/search?", "query", false},
    {"Mail.ru", "https://go.mail.ru/search?", "q", true},
    {"Webalta", "http://webalta.ru/search?", "q", true},
};

// Phrases as UTF-8: Latin, Cyrillic, and letters Windows-1251 lacks (only for the engines that
// are not described).
const char* const kPhrases[] = {"weather", "cheap flights moscow", "a",
                                "\xD0\xBF\xD0\xB8\xD0\xB2\xD0\xBE",  // "пиво"
                                "\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0 2024",  // "Ёлка 2024"
                                "\xE5\x8C\x97\xE4\xBA\xAC",              // Chinese
                                "\xEB\x84\xA4\xEC\x9D\xB4\xEB\xB2\x84"};  // Korean
constexpr size_t kCp1251Phrases = 5;

std::string Encode(const std::string& phrase, std::mt19937& rng) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : phrase) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (plain && rng() % 4 != 0) {
      out += static_cast<char>(c);
    } else if (c == ' ' && rng() % 2 == 0) {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// Generated results pages, with and without a phrase, among other parameters: each is
// recognised as its engine, with the phrase it was given (or none).
TEST(SearchReferers, GeneratedResultsPagesGiveTheirEngineAndPhrase) {
  std::mt19937 rng(26);
  for (int n = 0; n < 20000; ++n) {
    const Page& page = kPages[rng() % std::size(kPages)];
    const size_t pool = page.described ? kCp1251Phrases : std::size(kPhrases);
    std::string phrase = kPhrases[rng() % pool];
    const bool carries = rng() % 4 != 0;
    std::string referer = page.start;
    if (carries) {
      referer += page.parameter;
      referer += '=' + Encode(phrase, rng);
      if (rng() % 3 == 0) referer += "&ie=utf-8&oq=x";
    } else {
      referer += "source=hp&ei=abc";
      phrase.clear();
    }
    SearchArrival arrival;
    ASSERT_TRUE(RecogniseSearchReferer(referer, arrival)) << referer;
    EXPECT_EQ(arrival.engine, page.engine) << referer;
    EXPECT_EQ(arrival.phrase, phrase) << referer;
  }
}

TEST(SearchReferers, OtherPagesAreNoSearches) {
  const char* const cases[] = {
      "https://mail.google.com/mail/u/0/?q=x",  "https://translate.google.com/?q=hello",
      "https://www.example.com/search?q=x",     "https://notbing.com/search?q=x",
      "https://bing.com.example.org/?q=x",      "https://music.yandex.com/search?text=x",
      "https://www.yahoo.com/",                 "https://news.naver.com/?query=x",
      "-",                                      "",
      "search.yahoo.com/search?p=x",            "https://www.baidu.co/s?wd=x",
      "http://example.org/page?u=https%3A%2F%2Fwww.bing.com%2Fsearch%3Fq%3Dx",
  };
  for (const char* referer : cases) {
    SearchArrival arrival{"untouched", "untouched"};
    EXPECT_FALSE(RecogniseSearchReferer(referer, arrival)) << referer;
    EXPECT_EQ(arrival.engine, "untouched") << referer;
  }
}

TEST(SearchReferers, DescribedPhrasesDecodeAsTheDescribedEnginesDo) {
  const struct {
    const char* referer;
    const char* engine;
    const char* phrase;
  } cases[] = {
      // KOI8-R, decoded twice from the paged results.
      {"http://www.yandex.ru/yandpage?q=1&qs=text%3D%25F0%25C9%25D7%25CF", "Yandex",
       "\xD0\x9F\xD0\xB8\xD0\xB2\xD0\xBE"},
      // Windows-1251 bytes kept as they are.
      {"http://www.rambler.ru/srch?words=%EF%E8%E2%EE", "Rambler", "\xD0\xBF\xD0\xB8\xD0\xB2\xD0\xBE"},
      {"http://sm.aport.ru/scripts/template.dll?r=%20beer%20", "Aport", "beer"},
      {"https://www.google.com/", "Google", ""},
      {"android-app://com.google.android.googlequicksearchbox/https/www.google.com", "Google", ""},
      // Escapes that end early or are no hex are decoded as the described engines do.
      {"https://www.bing.com/search?q=ab%", "Bing", "ab"},
      {"https://www.bing.com/search?q=%E0%A0", "Bing", "\xD0\xB0\xC2\xA0"},
  };
  for (const auto& c : cases) {
    SearchArrival arrival;
    ASSERT_TRUE(RecogniseSearchReferer(c.referer, arrival)) << c.referer;
    EXPECT_EQ(arrival.engine, c.engine) << c.referer;
    EXPECT_EQ(arrival.phrase, c.phrase) << c.referer;
  }
}

// Whatever the bytes: no failure, the phrase is UTF-8, and every referer the described
// columns count as a search is an arrival here too.
TEST(SearchReferers, AnyBytesGiveValidUtf8AndKeepEveryDescribedSearch) {
  SearchEngineRegistry described;
  RegisterStandardEngines(described);
  ASSERT_TRUE(FindsAsDescribed(described));
  SearchEngineRegistry other;
  other.Register(std::make_unique<GoogleEngine>());
  EXPECT_FALSE(FindsAsDescribed(other));
  const char* const kPieces[] = {"https://", "http://", "www.", "google.", "yandex.", "bing.com",
                                 "ru",       "com",     "/search?", "?", "&", "q=", "text=", "p=",
                                 "%",        "%E",      "%D0", "%ZZ", "%00", "+", "#", ":8080",
                                 "user@",    ".",       "\xFF", "\xD0", "\x80", "\0", " ",
                                 "words=",   "/srch?",  "/yandsearch", "rambler.ru", "//"};
  // Phrases of the described engines' pages with NULs, bytes that are no UTF-8 and spaces.
  const char* const kPhrases[] = {"%FF%00x", "a%00%D0", "+%E0%F2%00", "%D0%BF%00%FF", "%20%C0+"};
  std::vector<std::string> pages;
  for (const Page& page : kPages) {
    if (!page.described) continue;
    for (const char* phrase : kPhrases)
      pages.push_back(std::string(page.start) + page.parameter + "=" + phrase);
  }
  std::mt19937 rng(2026);
  for (int n = 0; n < 30000; ++n) {
    std::string referer;
    if (static_cast<size_t>(n) < pages.size()) referer = pages[n];
    for (size_t k = rng() % 12; k > 0; --k) referer += kPieces[rng() % std::size(kPieces)];
    if (n % 1000 == 0) referer += std::string(1 << 16, '%');
    SearchArrival arrival;
    const bool found = RecogniseSearchReferer(referer, arrival);
    const SearchEngine* engine = described.FindByReferer(referer);
    if (engine != nullptr) {
      EXPECT_TRUE(found) << referer;
    }
    // Handed what a collector's registry found, as a run does, it finds the same.
    std::string query;
    const bool has_query = engine != nullptr && engine->ExtractQuery(referer, query);
    SearchArrival handed;
    EXPECT_EQ(found, RecogniseSearchReferer(referer, engine, has_query ? &query : nullptr, handed))
        << referer;
    EXPECT_EQ(arrival.engine, handed.engine) << referer;
    EXPECT_EQ(arrival.phrase, handed.phrase) << referer;
    // As the statistics keep it: the phrase above in Windows-1251, both ways of asking.
    SearchArrival stored, stored_handed;
    EXPECT_EQ(found, RecogniseSearchRefererAsStored(referer, stored)) << referer;
    EXPECT_EQ(found, RecogniseSearchRefererAsStored(referer, engine, has_query ? &query : nullptr,
                                                    stored_handed))
        << referer;
    if (found) {
      EXPECT_TRUE(IsValidUtf8(arrival.phrase)) << referer;
      const std::string expected = ConvertCodePage(arrival.phrase, kCodePageUtf8, kCodePage1251);
      EXPECT_EQ(expected, stored.phrase) << referer;
      EXPECT_EQ(expected, stored_handed.phrase) << referer;
      EXPECT_EQ(arrival.engine, stored_handed.engine) << referer;
    }
  }
}

TEST(SearchReferers, Utf8Validation) {
  const struct {
    std::string text;
    bool valid;
  } cases[] = {{"", true},           {"abc", true},         {"\xD0\xBF", true},
               {"\xD0", false},      {"\xC0\xAF", false},   {"\xE0\x80\xAF", false},
               {"\xED\xA0\x80", false}, {"\xF4\x90\x80\x80", false}, {"\xF0\x9F\x98\x80", true},
               {"\xBF", false},      {std::string("a\0b", 3), true}};
  for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.text;
}

}  // namespace
}  // namespace hitsieve
