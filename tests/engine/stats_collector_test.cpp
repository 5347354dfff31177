#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <tuple>
#include <vector>
#include <string>

#include "engine/stats_collector.h"

namespace hitsieve {
namespace {

const char kDay[] = "01/Jan/2001";

// Builds one combined-format log line.
std::string Line(const std::string& ip, const std::string& day, const std::string& url,
                 const std::string& referer = "-", const std::string& agent = "Mozilla",
                 const std::string& status = "200", const std::string& bytes = "100") {
  return ip + " - - [" + day + ":10:00:00 +0300] \"GET " + url + " HTTP/1.1\" " + status + " " +
         bytes + " \"" + referer + "\" \"" + agent + "\"\n";
}

class StatsCollectorTest : public ::testing::Test {
 protected:
  StatsCollectorTest() : collector_(registry_) {
    RegisterStandardEngines(registry_);
    ParseExtensionList(kDefaultExtensionList, collector_.pageExtensions);
  }
  int32_t Query(const std::string& phrase, int engine) {
    auto it = collector_.queries.find(phrase);
    if (it == collector_.queries.end()) return -1;
    auto count = it->second.find(engine);
    return count == it->second.end() ? 0 : count->second;
  }
  SearchEngineRegistry registry_;
  StatsCollector collector_;
};

TEST_F(StatsCollectorTest, DaysCountAddressesVisitorsViewsAndSearches) {
  collector_.ParseContent(Line("1.1.1.1", "10/Oct/2000", "/a.html", "-", "UA1") +
                          Line("1.1.1.1", "10/Oct/2000", "/b.html", "", "UA2") +
                          Line("1.1.1.1", "11/Oct/2000", "/a.html", "-", "UA1") +
                          Line("2.2.2.2", "10/Oct/2000", "/a.html", "http://google.com/url", "UA1",
                               "404") +
                          Line("3.3.3.3", "10/Oct/2000", "/a.gif") +
                          Line("4.4.4.4", "12/Oct/2000", "/a.html", "-", "Googlebot"));
  EXPECT_EQ(6, collector_.records());
  ASSERT_EQ(2u, collector_.days.size());  // the robot's day has no entry
  const DayStats& day = collector_.days.at("10/Oct/2000");
  EXPECT_EQ(2u, day.ips.size());  // the filtered .gif request counts nowhere
  EXPECT_EQ(3u, day.visitors.size());
  EXPECT_EQ(3, day.views);
  EXPECT_EQ(1, day.searches);  // a search without a phrase still counts
  EXPECT_EQ(1, collector_.days.at("11/Oct/2000").views);
  const PageStats& page = collector_.pages.at("/a.html");
  EXPECT_EQ(3, page.visits);
  EXPECT_EQ(1, page.searches);
  EXPECT_EQ(300, page.bandwidth);
  EXPECT_TRUE(page.engineHits.empty());
  EXPECT_EQ(0u, collector_.pages.count("/a.gif"));
}

TEST_F(StatsCollectorTest, RobotsAreLoggedFirstAndCountNowhereElse) {
  collector_.ParseContent(
      Line("5.5.5.5", "01/Nov/2008", "/img/x.gif", "http://www.google.com/search?q=a",
           "WebAlta Googlebot", "404") +
      Line("5.5.5.5", "01/Nov/2008", "/img/x.gif", "-", "Aport Yandex") +
      Line("5.5.5.5", "01/Nov/2008", "/img/x.gif", "-", "Aport Yandex"));
  ASSERT_EQ(3u, collector_.robotHits.size());
  const RobotHit& hit = collector_.robotHits[0];
  EXPECT_EQ("Google", hit.name);
  EXPECT_EQ("/img/x.gif", hit.action);
  EXPECT_EQ(404, hit.code);
  EXPECT_EQ("5.5.5.5", hit.ip);
  EXPECT_EQ("01/Nov/2008", hit.date);
  EXPECT_EQ("\xC0\xEF\xEE\xF0\xF2", collector_.robotHits[2].name);
  EXPECT_TRUE(collector_.days.empty());
  EXPECT_TRUE(collector_.pages.empty());
  EXPECT_TRUE(collector_.referers.empty());
  EXPECT_TRUE(collector_.queries.empty());
}

TEST_F(StatsCollectorTest, ReferersAndHosts) {
  collector_.ParseContent(Line("1", kDay, "/", "http://example.com/a") +
                          Line("1", kDay, "/", "http://example.com/b") +
                          Line("1", kDay, "/", "http://Example.com/b") +
                          Line("1", kDay, "/", "https://host:8080") +
                          Line("1", kDay, "/", "no-scheme/x") + Line("1", kDay, "/", "-") +
                          Line("1", kDay, "/x.gif", "http://example.com/a"));
  EXPECT_EQ((std::map<std::string, int32_t, std::less<>>{{"http://Example.com/b", 1},
                                                          {"http://example.com/a", 1},
                                                          {"http://example.com/b", 1},
                                                          {"https://host:8080", 1},
                                                          {"no-scheme/x", 1}}),
            collector_.referers);
  EXPECT_EQ((std::map<std::string, int32_t, std::less<>>{{"Example.com", 1},
                                                          {"example.com", 2},
                                                          {"https://host:8080", 1},
                                                          {"no-scheme/x", 1}}),
            collector_.refererHosts);
}

TEST_F(StatsCollectorTest, PhrasesMergeWithoutCaseAndKeepFirstSpelling) {
  const std::string google = "http://www.google.com/search?q=";
  collector_.ParseContent(
      Line("1", kDay, "/a.html", google + "Weather") + Line("1", kDay, "/a.html", google + "weather+") +
      Line("1", kDay, "/b.php", "http://yandex.ru/yandsearch?text=WEATHER") +
      Line("1", kDay, "/b.php", google + "%D0%9F%D1%80%D0%B8%D0%B2%D0%B5%D1%82") +  // Привет
      Line("1", kDay, "/b.php", "http://www.rambler.ru/srch?words=%EF%F0%E8%E2%E5%F2") +  // привет
      Line("1", kDay, "/b.php", google + "&hl=ru") +
      Line("1", kDay, "/b.php", "http://www.google.com/url?q=nothing"));
  ASSERT_EQ(3u, collector_.queries.size());
  EXPECT_EQ("", collector_.queries.begin()->first);
  EXPECT_EQ(1, Query("", kGoogle));
  EXPECT_EQ("Weather", collector_.queries.find("WEATHER")->first);
  EXPECT_EQ(2, Query("weather", kGoogle));
  EXPECT_EQ(1, Query("weather", kYandex));
  EXPECT_EQ("\xCF\xF0\xE8\xE2\xE5\xF2", collector_.queries.find("\xEF\xF0\xE8\xE2\xE5\xF2")->first);
  EXPECT_EQ(1, Query("\xEF\xF0\xE8\xE2\xE5\xF2", kGoogle));
  EXPECT_EQ(1, Query("\xEF\xF0\xE8\xE2\xE5\xF2", kRambler));
  const PageStats& b = collector_.pages.at("/b.php");
  EXPECT_EQ(5, b.searches);
  EXPECT_EQ((CountsByEngine{{kGoogle, 2}, {kYandex, 1}, {kRambler, 1}}), b.engineHits);
  EXPECT_EQ(7, collector_.days.at(kDay).searches);
}

TEST_F(StatsCollectorTest, EmptyExtensionSetCountsEveryPage) {
  collector_.pageExtensions.clear();
  collector_.ParseContent(Line("1", kDay, "/x.gif") + Line("1", kDay, "/?"));
  EXPECT_EQ(2u, collector_.pages.size());
}

TEST_F(StatsCollectorTest, BandwidthIsSixtyFourBit) {
  collector_.ParseContent(Line("1", kDay, "/big.zip", "-", "u", "200", "2000000000") +
                          Line("1", kDay, "/big.zip", "-", "u", "200", "2000000000") +
                          Line("1", kDay, "/big.zip", "-", "u", "200", "-"));
  EXPECT_EQ(4000000000LL, collector_.pages.at("/big.zip").bandwidth);
  // Sizes that a log can claim but no sum can hold stop at the limit instead of wrapping.
  collector_.ParseContent(Line("1", kDay, "/big.zip", "-", "u", "200", "9223372036854775000") +
                          Line("1", kDay, "/big.zip", "-", "u", "200", "99999999999999999999"));
  EXPECT_EQ(std::numeric_limits<int64_t>::max(), collector_.pages.at("/big.zip").bandwidth);
}

// Pages, referers, days and agents are found through indexes that point into the collector's
// own containers; a moved collector, or a map emptied between files, must keep counting into
// entries that exist and are its own.
TEST_F(StatsCollectorTest, MovedOrClearedMapsKeepCountingCorrectly) {
  const std::string line = Line("1", kDay, "/a.html", "http://example.com/a");
  collector_.ParseContent(line);
  StatsCollector moved(std::move(collector_));
  moved.ParseContent(line);
  EXPECT_EQ(2, moved.referers.at("http://example.com/a"));
  EXPECT_EQ(2, moved.refererHosts.at("example.com"));
  EXPECT_EQ(2, moved.pages.at("/a.html").visits);
  EXPECT_EQ(1u, moved.days.at(kDay).visitors.size());
  EXPECT_EQ(2, moved.days.at(kDay).views);
  moved.referers.clear();
  moved.pages.clear();
  moved.days.clear();
  moved.ParseContent(line);
  EXPECT_EQ(1, moved.referers.at("http://example.com/a"));
  EXPECT_EQ(1, moved.pages.at("/a.html").visits);
  EXPECT_EQ(3, moved.refererHosts.at("example.com"));
  EXPECT_EQ(1, moved.days.at(kDay).views);
}

// The packed list against a plain vector: hits from few texts (so that texts repeat, in a row
// and apart), appended list after list in random cuts, come back in order, text for text.
TEST(RobotHitList, AppendedListsGiveBackEveryHitInOrder) {
  std::mt19937 random(7);
  const std::string texts[] = {"", "a", "Googlebot", std::string(40, 'u'), "\xC0\xFF", "/x?q=1"};
  auto text = [&] { return texts[random() % 6] + std::to_string(random() % 3); };
  for (int round = 0; round < 50; ++round) {
    std::vector<RobotHit> want;
    RobotHitList got;
    for (int lists = static_cast<int>(random() % 5); lists >= 0; --lists) {
      RobotHitList part;
      for (int n = static_cast<int>(random() % 40); n > 0; --n) {
        RobotHit hit{text(), text(), static_cast<int32_t>(random() % 3) - 1, text(), text()};
        part.push_back(hit);
        want.push_back(hit);
      }
      got.Append(std::move(part));
      EXPECT_TRUE(part.empty());
    }
    ASSERT_EQ(want.size(), got.size());
    size_t k = 0;
    for (const RobotHit& hit : got) {
      const RobotHit& w = want[k++];
      ASSERT_EQ(std::tie(w.name, w.action, w.code, w.ip, w.date),
                std::tie(hit.name, hit.action, hit.code, hit.ip, hit.date))
          << "round " << round << ", hit " << k - 1;
    }
  }
}

TEST(StatsCollector, EmptyRegistryFindsNoRobotOrSearch) {
  SearchEngineRegistry empty;
  StatsCollector collector(empty);
  collector.ParseContent(Line("1", kDay, "/", "http://www.google.com/search?q=a", "Googlebot"));
  EXPECT_TRUE(collector.robotHits.empty());
  EXPECT_EQ(0, collector.days.at(kDay).searches);
}

}  // namespace
}  // namespace hitsieve
