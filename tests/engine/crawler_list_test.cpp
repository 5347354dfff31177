#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <string>
#include <thread>
#include <vector>

#include "engine/dimensions/crawler_list.h"

namespace hitsieve {
namespace {

// The package's example agents, by the index of the pattern they were given for.
struct Instance {
  size_t index;
  const char* agent;
};
const Instance kInstances[] = {
#include "crawler_instances.inc"
};

// The list's patterns as a Perl-syntax regex library reads them: the reference for the
// compiled matcher.
bool PatternFinds(const CrawlerEntry& entry, const std::string& agent) {
  return boost::regex_search(agent, boost::regex(entry.pattern, boost::regex::perl));
}

// Every example the package gives is recognised as its own crawler, or, where two patterns of
// the list find the same text, as the other crawler whose pattern finds it too.
TEST(CrawlerList, RecognisesEveryExampleOfTheList) {
  const CrawlerList& list = CrawlerList::Builtin();
  const auto entries = list.Entries();
  ASSERT_GT(entries.size(), 1000u);
  ASSERT_GT(std::size(kInstances), entries.size());
  int others = 0;
  for (const Instance& instance : kInstances) {
    const KnownCrawler* crawler = list.Match(instance.agent);
    ASSERT_NE(crawler, nullptr) << instance.agent;
    const size_t found = list.IndexOf(crawler);
    if (found == instance.index) continue;
    ++others;
    EXPECT_TRUE(PatternFinds(entries[found], instance.agent))
        << instance.agent << " taken for " << entries[found].pattern;
    EXPECT_TRUE(PatternFinds(entries[instance.index], instance.agent)) << instance.agent;
  }
  // 10 of 2,118 in 1.60.0 (an agent naming a crawler and its host, or two names of one crawler,
  // as "WSM/" and "webspidermount"). Many more would mean the ranking broke.
  EXPECT_LE(others, 20);
}

TEST(CrawlerList, NamesTokensAndCategories) {
  const struct {
    const char* agent;
    const char* name;
    const char* token;
    const char* category;
  } cases[] = {
      {"Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)", "Bingbot",
       "bingbot", "search engine"},
      {"Mozilla/5.0 AppleWebKit/537.36 (KHTML, like Gecko; compatible; GPTBot/1.2; "
       "+https://openai.com/gptbot)", "GPTBot", "GPTBot", "AI"},
      {"Mozilla/5.0 (compatible; AhrefsBot/7.0; +http://ahrefs.com/robot/)", "AhrefsBot",
       "AhrefsBot", "SEO tool"},
      {"Tiny Tiny RSS/22.08 (http://tt-rss.org/)", "Tiny Tiny RSS", "Tiny Tiny RSS",
       "feed reader"},
      {"Mozilla/5.0 (compatible; archive.org_bot +http://www.archive.org/details/archive.org_bot)",
       "archive.org_bot", "archive.org_bot", "archive"},
      {"Wget/1.21.3", "Wget", "Wget", "tool/script"},
      {"Pingdom.com_bot_version_1.4_(http://www.pingdom.com/)", "Pingdom", "Pingdom",
       "monitoring"},
      // A crawler built on a library is the crawler, not the library.
      {"Go-http-client/1.1 (compatible; centurybot/1.0)", "Centurybot", "centurybot", "SEO tool"},
  };
  for (const auto& c : cases) {
    const KnownCrawler* crawler = CrawlerList::Builtin().Match(c.agent);
    ASSERT_NE(crawler, nullptr) << c.agent;
    EXPECT_EQ(crawler->name, c.name) << c.agent;
    EXPECT_EQ(CategoryKey(crawler->category), c.category) << c.agent;
    EXPECT_EQ(crawler->token, c.token) << c.agent;
  }
}

TEST(CrawlerList, BrowsersAndOddTextAreNoCrawlers) {
  const std::string cases[] = {
      "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
      "Chrome/120.0.0.0 Safari/537.36",
      "Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0",
      "Mozilla/5.0 (iPhone; CPU iPhone OS 17_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
      "Gecko) Version/17.1 Mobile/15E148 Safari/604.1",
      "-",
      "",
      std::string("\0\xff\xfe\x80 bot", 8),
      std::string(1 << 20, 'a'),
      "MOZILLA/5.0 (COMPATIBLE; GPTBOT/1.2)",  // the list's patterns are case-sensitive
  };
  for (const std::string& agent : cases) {
    EXPECT_EQ(CrawlerList::Builtin().Match(agent), nullptr) << agent.substr(0, 80);
  }
  // A crawler's token after a megabyte of anything is still found.
  EXPECT_NE(CrawlerList::Builtin().Match(std::string(1 << 20, '\xff') + " bingbot/2.0"), nullptr);
  EXPECT_EQ(CrawlerList::Builtin().Version(), "crawler-user-agents 1.60.0");
}

TEST(CrawlerList, ThreadsMatchAtOnceAsOneDoes) {
  const CrawlerList& list = CrawlerList::Builtin();
  std::vector<const KnownCrawler*> alone;
  for (const Instance& instance : kInstances) alone.push_back(list.Match(instance.agent));
  std::vector<int> differing(4, 0);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < differing.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < std::size(kInstances); ++i) {
          if (list.Match(kInstances[i].agent) != alone[i]) ++differing[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int count : differing) EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace hitsieve
