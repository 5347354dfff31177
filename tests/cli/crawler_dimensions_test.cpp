// The crawlers and engines dimensions end to end with the real hitsieve-cli: what their reports
// show, and that adding in pieces and merging parts gives the reports of one run.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "report_bytes.h"

namespace hitsieve::testing {
namespace {

using Rows = std::vector<std::string>;

std::string Line(const std::string& ip, const std::string& day, const std::string& url, int status,
                 int bytes, const std::string& referer, const std::string& agent) {
  return ip + " - - [" + day + ":10:30:00 +0400] \"GET " + url + " HTTP/1.1\" " +
         std::to_string(status) + " " + std::to_string(bytes) + " \"" + referer + "\" \"" + agent +
         "\"\n";
}

CliResult Cli(const TempDir& dir, const std::vector<std::string>& args) {
  CliResult run = RunCli(dir.path(), args);
  EXPECT_EQ(0, run.status) << run.err;
  return run;
}

const char kBing[] = "Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)";
const char kGptBot[] = "Mozilla/5.0 AppleWebKit/537.36 (KHTML, like Gecko; compatible; GPTBot/1.2)";
const char kGoogle[] = "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)";
const char kFirefox[] = "Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0";

TEST(CrawlerDimensions, ReportsShowEveryCrawlerAndEveryEngine) {
  for (const char* choice : {"described", "all"}) {
    SCOPED_TRACE(choice);
    TempDir dir;
    WriteFile(dir / "a.log",
              Line("1.1.1.1", "31/Jan/2010", "/a.html", 200, 100, "-", kBing) +
                  Line("1.1.1.1", "01/Feb/2010", "/robots.txt", 404, 10, "-", kBing) +
                  Line("1.1.1.1", "01/Feb/2010", "/b.html", 301, 0, "-", kBing) +
                  Line("2.2.2.2", "01/Feb/2010", "/a.html", 200, 500, "-", kGptBot) +
                  Line("3.3.3.3", "01/Feb/2010", "/a.html", 503, 7, "-", kGoogle) +
                  Line("4.4.4.4", "01/Feb/2010", "/a.html", 200, 1, "https://www.bing.com/search?q=cheap+beer", kFirefox) +
                  Line("4.4.4.4", "01/Feb/2010", "/a.html", 200, 1, "https://duckduckgo.com/", kFirefox) +
                  Line("4.4.4.4", "02/Feb/2010", "/a.html", 200, 1, "https://www.bing.com/search?q=Cheap+beer", kFirefox) +
                  // Not counted as a view, so no arrival.
                  Line("4.4.4.4", "02/Feb/2010", "/logo.png", 200, 1, "https://duckduckgo.com/", kFirefox));
    Cli(dir, {"analyse", "--db", "a.dt", "--crawlers", choice, "a.log"});
    // Every crawler the list knows, described robots too, whichever the choice; days in
    // calendar order.
    EXPECT_EQ("name,category,requests,days,first day,last day,traffic\n"
              "Bingbot,search engine,3,2,2010-01-31,2010-02-01,110\n"
              "GPTBot,AI,1,1,2010-02-01,2010-02-01,500\n"
              "Googlebot,search engine,1,1,2010-02-01,2010-02-01,7\n",
              Cli(dir, {"report", "crawlers", "--db", "a.dt", "--format", "csv"}).out);
    EXPECT_EQ("engine,phrase,arrivals,\"share, %\"\n"
              "Bing,Cheap beer,1,33.33\n"
              "Bing,cheap beer,1,33.33\n"
              "DuckDuckGo,(not provided),1,33.33\n",
              Cli(dir, {"report", "engines", "--db", "a.dt", "--format", "csv"}).out);
  }
}

// A log of people, described robots, crawlers of the list and arrivals from many engines.
std::string CrawlerLog(uint32_t seed, int lines) {
  std::mt19937 rng(seed);
  auto below = [&rng](size_t n) { return rng() % n; };
  static const char* const kDays[] = {"01/Mar/2010", "02/Mar/2010", "28/Feb/2010", "03/Mar/2010"};
  static const char* const kUrls[] = {"/", "/a.html", "/robots.txt", "/logo.png", "/feed.xml"};
  static const char* const kAgents[] = {
      kFirefox, kBing, kGptBot, kGoogle, "Wget/1.21", "Tiny Tiny RSS/22.08 (http://tt-rss.org/)",
      "Mozilla/5.0 (compatible; AhrefsBot/7.0; +http://ahrefs.com/robot/)", "Opera/9.80"};
  static const char* const kReferers[] = {
      "-", "http://a.example/", "https://www.bing.com/search?q=beer", "https://duckduckgo.com/",
      "https://yandex.com.tr/search/?text=%D0%BF%D0%B8%D0%B2%D0%BE", "http://www.google.ru/search?q=x",
      "https://www.ecosia.org/search?q=tea", "https://search.naver.com/search.naver?query=a"};
  static const int kCodes[] = {200, 200, 304, 404, 500, 301};
  std::string text;
  for (int k = 0; k < lines; ++k) {
    text += Line("10.0.0." + std::to_string(below(20)), kDays[below(4)], kUrls[below(5)],
                 kCodes[below(6)], static_cast<int>(below(5000)), kReferers[below(8)],
                 kAgents[below(8)]);
  }
  return text;
}

Rows Pieces(const std::string& text, int count) {
  Rows pieces;
  size_t at = 0;
  for (int k = 1; k <= count; ++k) {
    const size_t end = k == count ? text.size() : text.find('\n', text.size() * k / count) + 1;
    pieces.push_back(text.substr(at, end - at));
    at = end;
  }
  return pieces;
}

TEST(CrawlerDimensions, AddedInPiecesAndMergedFromPartsTheyAreThoseOfOneRun) {
  for (const char* choice : {"described", "all"}) {
    SCOPED_TRACE(choice);
    TempDir dir;
    const Rows pieces = Pieces(CrawlerLog(7, 1200), 3);
    ASSERT_EQ(0, AnalysePiecesAsOneRun(dir.path(), pieces, dir / "one.dt", "one",
                                       {"--crawlers", choice}));
    for (size_t k = 0; k < pieces.size(); ++k) {
      const std::string log = "piece" + std::to_string(k) + ".log";
      WriteFile(dir / log, pieces[k]);
      std::vector<std::string> add = {"analyse", "--db", "added.dt", "--crawlers", choice, log};
      if (k > 0) add.push_back("--add");
      Cli(dir, add);
      Cli(dir, {"analyse", "--db", "part" + std::to_string(k) + ".dt", "--crawlers", choice, log});
    }
    Cli(dir, {"merge", "--db", "merged.dt", "part0.dt", "part1.dt", "part2.dt"});
    for (const char* report : {"crawlers", "engines"}) {
      for (const char* format : {"text", "csv"}) {
        const std::string one =
            Cli(dir, {"report", report, "--db", "one.dt", "--format", format}).out;
        ASSERT_NE(std::string::npos, one.find('\n')) << report;
        for (const char* db : {"added.dt", "merged.dt"}) {
          EXPECT_EQ(one, Cli(dir, {"report", report, "--db", db, "--format", format}).out)
              << report << " " << format << " " << db;
        }
      }
    }
  }
}

}  // namespace
}  // namespace hitsieve::testing
