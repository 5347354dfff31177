#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/dimensions/crawler_list.h"
#include "engine/stats_collector.h"
#include "engine/standard_engines.h"
#include "tests/engine/random_log.h"

namespace hitsieve {
namespace {

struct Instance {
  size_t index;
  const char* agent;
};
const Instance kInstances[] = {
#include "crawler_instances.inc"
};

// Agents the combined reader gives back exactly as written.
std::vector<std::string> ListAgents() {
  std::vector<std::string> agents;
  for (const Instance& instance : kInstances) {
    const std::string agent = instance.agent;
    if (!agent.empty() && agent.find_first_of("\"[]\\") == std::string::npos) agents.push_back(agent);
  }
  return agents;
}

std::string CombinedLine(const RandomLog::Request& r, const std::string& agent) {
  std::string url = r.path + (r.query.empty() ? "" : "?" + r.query);
  return r.ip + " - - [" + r.day + ":10:00:00 +0300] \"" + r.method + " " + url +
         " HTTP/1.1\" " + std::to_string(r.status) + " " + std::to_string(r.bytes) + " \"" +
         r.referer + "\" \"" + agent + "\"\n";
}

// Every table of two collectors, compared: days by their counts and set sizes (the sets hold
// numbers that mean something only to their own collector).
void ExpectSameStatistics(const StatsCollector& a, const StatsCollector& b) {
  ASSERT_EQ(a.days.size(), b.days.size());
  for (auto x = a.days.begin(), y = b.days.begin(); x != a.days.end(); ++x, ++y) {
    EXPECT_EQ(x->first, y->first);
    EXPECT_EQ(x->second.views, y->second.views) << x->first;
    EXPECT_EQ(x->second.searches, y->second.searches) << x->first;
    EXPECT_EQ(x->second.ips.size(), y->second.ips.size()) << x->first;
    EXPECT_EQ(x->second.visitors.size(), y->second.visitors.size()) << x->first;
  }
  ASSERT_EQ(a.pages.size(), b.pages.size());
  for (auto x = a.pages.begin(), y = b.pages.begin(); x != a.pages.end(); ++x, ++y) {
    EXPECT_EQ(x->first, y->first);
    EXPECT_EQ(x->second.visits, y->second.visits) << x->first;
    EXPECT_EQ(x->second.searches, y->second.searches) << x->first;
    EXPECT_EQ(x->second.bandwidth, y->second.bandwidth) << x->first;
    EXPECT_EQ(x->second.engineHits, y->second.engineHits) << x->first;
  }
  EXPECT_EQ(a.referers, b.referers);
  EXPECT_EQ(a.refererHosts, b.refererHosts);
  EXPECT_TRUE(std::equal(a.queries.begin(), a.queries.end(), b.queries.begin(), b.queries.end()));
  // The dimensions too, but the crawlers', which counts every crawler whatever the choice.
  ASSERT_EQ(a.dimensions().size(), b.dimensions().size());
  for (size_t k = 0; k < a.dimensions().size(); ++k) {
    const std::string_view name = a.dimensions()[k].dimension->Shape().name;
    if (name == "crawlers") continue;
    const DimensionTable& x = a.dimensions()[k].table;
    const DimensionTable& y = b.dimensions()[k].table;
    EXPECT_EQ(x.size(), y.size()) << name;
    x.ForEach([&](const DimensionTable::Key& key, const DimensionCell& cell) {
      const DimensionCell* other = y.Find(key.day, key.key, key.sub);
      ASSERT_NE(other, nullptr) << name;
      EXPECT_EQ(cell.counts.All(), other->counts.All()) << name;
      EXPECT_EQ(cell.visitors.size(), other->visitors.size()) << name;
    });
  }
  ASSERT_EQ(a.robotHits.size(), b.robotHits.size());
  for (size_t k = 0; k < a.robotHits.size(); ++k) {
    const auto x = a.robotHits.ViewAt(k), y = b.robotHits.ViewAt(k);
    EXPECT_EQ(std::tie(x.name, x.action, x.code, x.ip, x.date),
              std::tie(y.name, y.action, y.code, y.ip, y.date)) << k;
  }
}

// --crawlers all counts as the default run does over the same log without the lines of the
// other known crawlers: per seed, a log of people, described robots and the list's own
// examples, read whole and in two parts joined (the parts of a file read on several threads).
TEST(CrawlerMode, AllEqualsDescribedOverTheLogWithoutOtherCrawlers) {
  SearchEngineRegistry registry;
  RegisterStandardEngines(registry);
  const std::vector<std::string> list_agents = ListAgents();
  ASSERT_GT(list_agents.size(), 1900u);
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    RandomLog log(seed);
    std::mt19937 rng(seed);
    std::string whole, first_half, second_half, without_others;
    int64_t others = 0;
    const int kLines = 3000;
    for (int i = 0; i < kLines; ++i) {
      const RandomLog::Request request = log.NextRequest();
      const std::string agent =
          rng() % 3 == 0 ? list_agents[rng() % list_agents.size()] : request.agent;
      const std::string line = CombinedLine(request, agent);
      whole += line;
      (i < kLines / 2 ? first_half : second_half) += line;
      const bool other = CrawlerList::Builtin().Match(agent) != nullptr &&
                         registry.FindRobot(agent) == nullptr;
      if (other) {
        ++others;
      } else {
        without_others += line;
      }
    }
    ASSERT_GT(others, 500) << seed;

    StatsCollector all(registry), described(registry), reference(registry);
    for (StatsCollector* c : {&all, &described, &reference}) {
      ParseExtensionList(kDefaultExtensionList, c->pageExtensions);
      c->SetDimensions(MakeDimensions({}));
    }
    all.crawlerMode = CrawlerMode::kAll;
    all.ParseContent(whole);
    described.ParseContent(whole);
    reference.ParseContent(without_others);
    SCOPED_TRACE(seed);
    ExpectSameStatistics(all, reference);
    EXPECT_EQ(all.otherCrawlerRequests(), others);
    EXPECT_EQ(described.otherCrawlerRequests(), others);
    // By default the other crawlers count as visitors, as they always have.
    auto views = [](const StatsCollector& c) {
      int64_t sum = 0;
      for (const auto& [day, stats] : c.days) sum += stats.views;
      return sum;
    };
    EXPECT_GT(views(described), views(reference));

    StatsCollector parts(registry);
    ParseExtensionList(kDefaultExtensionList, parts.pageExtensions);
    parts.SetDimensions(MakeDimensions({}));
    parts.crawlerMode = CrawlerMode::kAll;
    StatsCollector later = parts.EmptyCopy();
    parts.ParseContent(first_half);
    later.ParseContent(second_half);
    parts.Absorb(std::move(later));
    ExpectSameStatistics(parts, reference);
    EXPECT_EQ(parts.otherCrawlerRequests(), others);
  }
}

}  // namespace
}  // namespace hitsieve
