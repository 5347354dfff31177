#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <chrono>
#include <random>
#include <string>

#include "engine/query_match.h"
#include "engine/search_engine.h"
#include "engine/standard_engines.h"

namespace hitsieve {
namespace {

const char kPrivet1251[] = "\xEF\xF0\xE8\xE2\xE5\xF2";  // "привет" in Windows-1251

class SearchEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterStandardEngines(registry_); }
  SearchEngineRegistry registry_;
};

int RobotId(const SearchEngineRegistry& registry, const std::string& agent) {
  const SearchEngine* engine = registry.FindRobot(agent);
  return engine ? engine->Id() : -1;
}

int RefererId(const SearchEngineRegistry& registry, const std::string& referer) {
  const SearchEngine* engine = registry.FindByReferer(referer);
  return engine ? engine->Id() : -1;
}

TEST_F(SearchEngineTest, RobotsByFirstTokenInByteOrder) {
  const struct {
    const char* agent;
    int id;
  } cases[] = {{"Mozilla/5.0 (compatible; Googlebot/2.1)", kGoogle},
               {"mozilla googlebot", -1},
               {"Yandex/1.01.001 (compatible; Win16; I)", kYandex},
               {"StackRambler/2.0", kRambler},
               {"Aport", kAport},
               {"Aport Yandex", kAport},
               {"WebAlta Crawler/1.3.25 (http://www.webalta.net/ru/about_webmaster.html)", kWebalta},
               {"Crawler (www.webalta.net)", kWebalta},
               {"WebAlta Googlebot", kGoogle},
               {"Mail.Ru/1.0", -1},
               {"", -1}};
  for (const auto& c : cases) EXPECT_EQ(c.id, RobotId(registry_, c.agent)) << c.agent;
}

TEST_F(SearchEngineTest, ReferersByPattern) {
  const struct {
    const char* referer;
    int id;
  } cases[] = {{"http://www.google.com.ua/url?sa=t", kGoogle},
               {"http://google.de/search?q=a", kGoogle},
               {"http://yandex.ru/yandsearch?text=a", kYandex},
               {"http://www.rambler.ru/srch?words=a", kRambler},
               {"http://go.mail.ru/search?q=a", kMailru},
               {"http://www.go.mail.ru/search?q=a", kMailru},
               {"http://sm.aport.ru/scripts/template.dll?r=a", kAport},
               {"http://www.webalta.ru/search?q=a", kWebalta},
               {"http://webalta.ru", -1},
               {"http://GOOGLE.com/search?q=a", -1},
               {"http://example.com/?ref=//google.x", kGoogle},
               {"http:///google.com/", kGoogle},  // overlapping "//"
               {"a//b//c//d//e//f//g//h//i//j//www.yandex.ru/", kYandex},  // many "//" first
               {"http://x.org/?from=//rambler.ru", kRambler},  // pattern ends the text
               {"http://x.org/?from=//go.mail.r", -1},     // cut one byte short
               {"-", -1}};
  for (const auto& c : cases) EXPECT_EQ(c.id, RefererId(registry_, c.referer)) << c.referer;
}

TEST_F(SearchEngineTest, NamesIdsAndRegistration) {
  const char* names[] = {"Google", "Yandex", "Rambler", "Mail.ru", "\xC0\xEF\xEE\xF0\xF2", "Webalta"};
  const char* titles[] = {"Google", "Yandex", "Rambler", "Mail.ru", "Апорт", "Webalta"};
  EXPECT_EQ(6u, registry_.robotTokens().size());
  EXPECT_EQ(11u, registry_.refererPatterns().size());
  RegisterStandardEngines(registry_);  // a second call adds nothing
  EXPECT_EQ(11u, registry_.refererPatterns().size());
  for (int id = 0; id < kEngineCount; ++id) {
    int found = 0;
    for (const auto& [pattern, engine] : registry_.refererPatterns()) {
      if (engine->Id() != id) continue;
      EXPECT_EQ(names[id], engine->Name());
      ++found;
    }
    EXPECT_EQ(id == kAport ? 1 : 2, found) << id;
    EXPECT_STREQ(titles[id], EngineColumnTitle(id));
  }
}

TEST(SearchEngine, EarlierRegistrationKeepsItsKeys) {
  SearchEngineRegistry registry;
  registry.Register(std::make_unique<WebaltaEngine>());
  registry.Register(std::make_unique<WebaltaEngine>());
  EXPECT_EQ(2u, registry.robotTokens().size());
  EXPECT_FALSE(registry.empty());
  EXPECT_EQ(nullptr, SearchEngineRegistry().FindRobot("Googlebot"));
}

TEST_F(SearchEngineTest, PhraseExtraction) {
  const struct {
    const char* label;
    const char* referer;
    bool found;
    std::string phrase;
  } cases[] = {
      {"google utf-8", "http://www.google.ru/search?hl=ru&q=web+log+%D0%B0&start=10", true,
       "web log \xE0"},
      {"google redirect", "http://www.google.ru/url?q=a", false, ""},
      {"google empty q", "http://www.google.com/search?q=&hl=ru", true, ""},
      {"google capital Q", "http://www.google.com/search?hl=ru&Q=abc", true, "abc"},
      {"google cp1251 bytes", "http://www.google.com/search?q=%EF%F0", true, "??"},
      {"google q inside a name", "http://google.com/search?aq=1&oq=x", false, ""},
      {"yandex yandsearch",
       "http://www.yandex.ru/yandsearch?text=%D0%BF%D1%80%D0%B8%D0%B2%D0%B5%D1%82&stype=www", true,
       kPrivet1251},
      {"yandex yandpage",
       "http://www.yandex.ru/yandpage?q=1&qs=rpt%3Drad%26text%3D%25D0%25D2%25C9%25D7%25C5%25D4",
       true, kPrivet1251},
      {"yandex yandsearch without text, then yandpage",
       "http://yandex.ru/yandsearch?x=1&u=/yandpage&qs=text%3D%25C1", true, "\xE0"},
      {"yandex other path", "http://www.yandex.ru/?text=abc", false, ""},
      {"yandex TEXT in capitals", "http://yandex.ru/yandsearch?TEXT=ab&x", true, "ab"},
      {"yandex text inside a longer name", "http://yandex.ru/yandsearch?ltext=ab", true, "ab"},
      {"rambler srch keeps bytes", "http://www.rambler.ru/srch?words=%EF%F0%E8%E2%E5%F2", true,
       kPrivet1251},
      {"rambler top100 is koi8-r", "http://www.rambler.ru/srch?set=top100&words=%EF%F0%E8%E2%E5%F2",
       true, "\xCE\xCF\xD5\xC1\xC5\xD0"},
      {"rambler counter_search is koi8-r",
       "http://www.rambler.ru/counter_search?words=%D0%D2%C9%D7%C5%D4", true, kPrivet1251},
      {"rambler other path", "http://www.rambler.ru/news?words=a", false, ""},
      {"rambler without words", "http://www.rambler.ru/srch?query=a", false, ""},
      {"mail.ru keeps bytes", "http://go.mail.ru/search?q=%EF%F0+1", true, "\xEF\xF0 1"},
      {"mail.ru capital Q", "http://go.mail.ru/search?Q=a", true, "a"},
      {"mail.ru without search?", "http://go.mail.ru/search/?q=a", false, ""},
      {"aport any path", "http://sm.aport.ru/scripts/template.dll?That=std&r=%EF%F0", true,
       "\xEF\xF0"},
      {"aport no r", "http://sm.aport.ru/search?q=a", false, ""},
      {"webalta", "http://webalta.ru/search?q=ab%2Bc&x", true, "ab+c"},
      {"webalta capital Q", "http://www.webalta.ru/search?Q=ab", true, "ab"},
  };
  for (const auto& c : cases) {
    const SearchEngine* engine = registry_.FindByReferer(c.referer);
    ASSERT_NE(nullptr, engine) << c.label;
    std::string phrase = "unchanged";
    EXPECT_EQ(c.found, engine->ExtractQuery(c.referer, phrase)) << c.label;
    EXPECT_EQ(c.found ? c.phrase : "unchanged", phrase) << c.label;
  }
}

// The scans must give the capture of a whole-string Boost.Regex match of the patterns they
// replace, on referers built from the pieces that matter.
TEST(QueryMatch, ScansAgreeWithRegexOnGeneratedReferers) {
  const auto flags = boost::regex::perl | boost::regex::icase;
  const boost::regex q_re(".*?(?:\\?|&)q=(.*?)(?:&.*|$)", flags);
  const boost::regex r_re(".*?(?:\\?|&)r=(.*?)(?:&.*|$)", flags);
  const boost::regex text_re(".*?text=(.*?)(?:&.*|$)", flags);
  const boost::regex words_re(".*?words=(.*?)(?:&.*|$)", flags);
  const std::string pieces[] = {"/", ".", "?", "&", "=", "q", "Q", "r", "R", "text", "TEXT", "tExt",
                                "words", "WoRdS", "te", "xt=", "\n", "\r", std::string(1, '\0'),
                                " ", "x", "%", "\xE0", "\xFF", "\xD1", "\xF2"};
  std::mt19937 random(20866);
  for (int n = 0; n < 20000; ++n) {
    std::string referer;
    for (int k = random() % 14; k > 0; --k) referer += pieces[random() % std::size(pieces)];
    const struct {
      const boost::regex& re;
      bool (*scan)(std::string_view, std::string_view&);
    } checks[] = {
        {q_re, [](std::string_view s, std::string_view& v) { return FindParameterValue(s, 'q', v); }},
        {r_re, [](std::string_view s, std::string_view& v) { return FindParameterValue(s, 'r', v); }},
        {text_re, [](std::string_view s, std::string_view& v) { return FindKeyValue(s, "text=", v); }},
        {words_re,
         [](std::string_view s, std::string_view& v) { return FindKeyValue(s, "words=", v); }},
    };
    for (size_t i = 0; i < std::size(checks); ++i) {
      boost::smatch m;
      const bool matched = boost::regex_match(referer, m, checks[i].re);
      std::string_view value;
      ASSERT_EQ(matched, checks[i].scan(referer, value)) << "pattern " << i << ", referer #" << n;
      if (matched) {
        ASSERT_EQ(m[1].str(), value) << "pattern " << i << ", referer #" << n;
      }
    }
  }
}

TEST_F(SearchEngineTest, HugeInputsNeverThrowAndStayQuick) {
  std::string many_params = "http://www.google.com/search?";
  while (many_params.size() < (1u << 20)) many_params += "aq=&q&x=q=&";
  std::string yandpage = "http://yandex.ru/yandpage?";
  while (yandpage.size() < (1u << 20)) yandpage += "%25&tex";
  const std::string agent(1 << 20, 'A');
  std::string slashes;
  for (int i = 0; i < 50000; ++i) slashes += "/.";
  const auto start = std::chrono::steady_clock::now();
  const std::string* texts[] = {&many_params, &yandpage, &agent, &slashes};
  for (const std::string* text : texts) {
    EXPECT_EQ(nullptr, registry_.FindRobot(*text));
    for (const auto& [pattern, engine] : registry_.refererPatterns()) {
      std::string phrase;
      EXPECT_NO_THROW(engine->ExtractQuery(*text, phrase));
    }
  }
  std::string phrase;
  EXPECT_FALSE(registry_.FindByReferer(many_params)->ExtractQuery(many_params, phrase));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
}  // namespace hitsieve
