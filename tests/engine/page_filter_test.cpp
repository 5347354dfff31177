#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <chrono>
#include <random>
#include <string>

#include "engine/page_filter.h"

namespace hitsieve {
namespace {

ExtensionSet DefaultExtensions() {
  ExtensionSet set;
  ParseExtensionList(kDefaultExtensionList, set);
  return set;
}

TEST(PageFilter, DefaultListDecidesByLastExtension) {
  const ExtensionSet extensions = DefaultExtensions();
  const struct {
    const char* url;
    const char* element;
    const char* extension;
    bool counted;
  } cases[] = {
      {"/", "", "", true},
      {"/news/", "", "", true},
      {"", "", "", true},
      {"/index.php", "index.php", "php", true},
      {"/INDEX.HTML", "INDEX.HTML", "HTML", true},
      {"/index.php?id=5", "index.php?id=5", "php?id=5", false},
      {"/index.php?", "index.php?", "php", true},
      {"/about", "about", "about", false},
      {"/img/logo.gif", "logo.gif", "gif", false},
      {"/a.b/page", "page", "page", false},
      {"/dir/?q=a/b.html", "b.html", "html", true},
      {"/page.html?x=a.b", "page.html?x=a.b", "b", false},
      {"/x.tar.gz", "x.tar.gz", "gz", false},
      {"/?", "?", "", false},
      {"/a.", "a.", "", false},
      {"txt", "txt", "txt", true},
      {"/x.\xD2XT", "x.\xD2XT", "\xD2XT", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.element, LastPathElement(c.url)) << c.url;
    EXPECT_EQ(c.extension, ElementExtension(LastPathElement(c.url))) << c.url;
    EXPECT_EQ(c.counted, PassesPageFilter(c.url, extensions)) << c.url;
  }
}

TEST(PageFilter, EmptyListCountsEverything) {
  const ExtensionSet none;
  for (const char* url : {"/img/a.gif", "/?", "/x.y?z", ""}) EXPECT_TRUE(PassesPageFilter(url, none));
}

TEST(PageFilter, ExtensionListParsing) {
  const struct {
    const char* text;
    std::set<std::string> expected;  // byte order of what was kept
  } cases[] = {
      {kDefaultExtensionList, {"asp", "htm", "html", "jsp", "php", "txt", "zip"}},
      {"php; PHP ;Php", {"php"}},
      {";; ;\t;", {}},
      {"", {}},
      {" a b ; .html", {".html", "a b"}},
      {"\xD2\xC5\xCA\xD1\xD2;\xF2\xE5\xEA\xF1\xF2", {"\xD2\xC5\xCA\xD1\xD2"}},  // first spelling
  };
  for (const auto& c : cases) {
    ExtensionSet set{"stale"};
    ParseExtensionList(c.text, set);
    EXPECT_EQ(c.expected, std::set<std::string>(set.begin(), set.end())) << c.text;
  }
}

TEST(PageFilter, CyrillicExtensionsCompareWithoutCase) {
  ExtensionSet set;
  ParseExtensionList("\xF2\xE5\xEA\xF1\xF2", set);  // "текст"
  EXPECT_TRUE(PassesPageFilter("/a.\xD2\xC5\xCA\xD1\xD2", set));
}

// The scans must capture exactly what Boost.Regex captures with the patterns they replace.
TEST(PageFilter, ScansAgreeWithRegexOnGeneratedUrls) {
  const boost::regex element_re("(?:.*?/)*(.*?)$", boost::regex::perl | boost::regex::icase);
  const boost::regex extension_re("(?:.*?\\.)*(.*?)(?:\\?|$)",
                                  boost::regex::perl | boost::regex::icase);
  const std::string alphabet = std::string("/.?&=x\n\r %\xE0\xFF") + std::string(1, '\0');
  std::mt19937 random(1251);
  for (int n = 0; n < 20000; ++n) {
    std::string url(random() % 16, ' ');
    for (char& c : url) c = alphabet[random() % alphabet.size()];
    boost::smatch m;
    ASSERT_TRUE(boost::regex_match(url, m, element_re)) << n;
    const std::string element = m[1].str();
    ASSERT_EQ(element, LastPathElement(url)) << "url #" << n;
    ASSERT_TRUE(boost::regex_match(element, m, extension_re)) << n;
    ASSERT_EQ(m[1].str(), ElementExtension(element)) << "element of url #" << n;
  }
}

TEST(PageFilter, PathologicalUrlsAreQuick) {
  std::string slashes_and_dots;
  for (int i = 0; i < 50000; ++i) slashes_and_dots += "/.";
  const std::string dots_only(1 << 20, '.');
  const ExtensionSet extensions = DefaultExtensions();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(PassesPageFilter(slashes_and_dots + "x.gif", extensions));
  EXPECT_TRUE(PassesPageFilter(slashes_and_dots + "x.html", extensions));
  EXPECT_FALSE(PassesPageFilter(dots_only, extensions));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
}  // namespace hitsieve
