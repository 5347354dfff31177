// The dimensions (status codes, pages not found, hours, browsers, systems, countries) counted by
// the collector against a slow reference made with plain maps from the same parsed records and
// the same classifier calls, over generated logs with many agents, addresses, codes and hours;
// read whole, in blocks on several threads, and as several files read side by side.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/dimensions/agent_parser.h"
#include "engine/dimensions/builtin_dimensions.h"
#include "engine/dimensions/crawler_list.h"
#include "engine/dimensions/search_referers.h"
#include "engine/dimensions/client_dimensions.h"
#include "engine/dimensions/country_database.h"
#include "engine/log_reader.h"
#include "engine/page_filter.h"
#include "engine/record_parser.h"
#include "engine/standard_engines.h"
#include "engine/stats_collector.h"
#include "engine/text.h"

namespace hitsieve {
namespace {

const SearchEngineRegistry& Engines() {
  static SearchEngineRegistry registry;
  static const bool filled = (RegisterStandardEngines(registry), true);
  (void)filled;
  return registry;
}

// A small country database in the MaxMind DB format, written once by tests/data/
// make-country-db.pl: 1.2.3.0/24 DE, 5.6.0.0/16 FR, 200.1.0.0/16 BR, 2001:db8::/32 JP,
// 2001:db8:1::/48 CA, and ranges whose records hold no usable code.
std::shared_ptr<const CountryDatabase> TestCountries() {
  static const std::shared_ptr<const CountryDatabase> database = [] {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("dims-countries-" + std::to_string(::getpid()) + ".mmdb"))
                                 .string();
    const std::string command = std::string("/usr/bin/perl '") + HITSIEVE_SOURCE_DIR +
                                "/tests/data/make-country-db.pl' '" + path + "' code 6";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
    auto opened = std::make_shared<const CountryDatabase>(path);
    std::filesystem::remove(path);  // the mapping stays
    return opened;
  }();
  return database;
}

// A client address: in the test database's countries, in its ranges without one, or none at all.
std::string Address(const std::function<int(int)>& below) {
  const std::string n = std::to_string(below(40));
  switch (below(9)) {
    case 0: return "1.2.3." + n;
    case 1: return "5.6." + std::to_string(below(3)) + "." + n;
    case 2: return "200.1.0." + n;
    case 3: return "2001:db8::" + n;
    case 4: return "2001:db8:1::" + n;
    case 5: return "::ffff:1.2.3." + n;
    case 6: return "9.9.9." + n;  // a record without a country
    case 7: return "10.0." + std::to_string(below(4)) + "." + n;
    default: return below(2) ? "host" + n + ".example" : "7.7.7." + n;
  }
}

// Agents of browsers and systems the rules know, with versions, beside robots, tools and junk.
std::string Agent(const std::function<int(int)>& below) {
  static const char* const kAgents[] = {
      "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
      "Chrome/1#.0.0.0 Safari/537.36",
      "Mozilla/5.0 (X11; Linux x86_64; rv:1#.0) Gecko/20100101 Firefox/1#.0",
      "Mozilla/5.0 (iPhone; CPU iPhone OS 1#_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
      "Gecko) Version/1#.1 Mobile/15E148 Safari/604.1",
      "Mozilla/5.0 (iPad; CPU OS 16_6 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
      "Version/1#.6 Mobile/15E148 Safari/604.1",
      "Mozilla/5.0 (Linux; Android 1#; SM-S901B) AppleWebKit/537.36 (KHTML, like Gecko) "
      "Chrome/1#.0.0.0 Mobile Safari/537.36",
      "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) "
      "Version/1#.1 Safari/605.1.15",
      "Opera/9.80 (Windows NT 6.1) Presto/2.12.388 Version/1#.16",
      "Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm) v1#",
      "Googlebot/2.1", "Mozilla/5.0 (compatible; YandexBot/3.0)", "-", "curl/8.1#", "GPTBot/1.#",
      "Mozilla/5.0 (X11) \x01\xff\xfe 1#", ""};
  std::string agent = kAgents[below(static_cast<int>(std::size(kAgents)))];
  for (size_t at = agent.find('#'); at != std::string::npos; at = agent.find('#'))
    agent.replace(at, 1, std::to_string(below(10)));
  return agent;
}

// Lines of many clients, agents (robots among them), codes, hours and pages, some of them not
// well formed (an hour that is no hour, a line cut short).
std::string GeneratedLog(uint32_t seed, int count) {
  std::mt19937 rng(seed);
  std::function<int(int)> below = [&rng](int n) {
    return static_cast<int>(rng() % static_cast<uint32_t>(n));
  };
  static const char* const kPages[] = {"/", "/a.html", "/b.php?x=1", "/img/x.png", "/gone.html",
                                       "/c.htm", "/d.txt"};
  static const char* const kReferers[] = {"-", "http://a.example/x", "http://b.example/y",
                                          "http://www.google.com/search?q=a+b",
                                          "https://www.bing.com/search?q=%D0%BF%D0%B8",
                                          "https://duckduckgo.com/"};
  static const char* const kCodes[] = {"200", "200", "200", "404", "410", "304", "500", "-", "999"};
  static const char* const kDays[] = {"01/Dec/2008", "02/Dec/2008", "15/Jan/2009"};
  std::string text;
  for (int k = 0; k < count; ++k) {
    char hour[8];
    const int h = below(30);  // 24..29 are no hour
    std::snprintf(hour, sizeof hour, "%02d", h);
    std::string line = Address(below) + " - - [" + kDays[below(3)] + ":" + hour + ":" + std::to_string(10 + below(50)) +
                       ":00 +0300] \"GET " + kPages[below(7)] + " HTTP/1.1\" " + kCodes[below(9)] +
                       " " + std::to_string(below(5000)) + " \"" + kReferers[below(6)] + "\" \"" +
                       Agent(below) + "\"";
    if (below(40) == 0) line.resize(static_cast<size_t>(below(static_cast<int>(line.size()))));
    text += line + "\n";
  }
  return text;
}

// Every row of the dimensions as text: (table, day, key, sub) -> counts and, for hours,
// the visitors as "address|agent" texts.
using Rows = std::map<std::tuple<std::string, std::string, std::string, std::string>,
                      std::pair<int64_t, std::set<std::string>>>;

Rows Reference(const std::string& text) {
  Rows rows;
  ExtensionSet extensions;
  ParseExtensionList(kDefaultExtensionList, extensions);
  RecordScratch scratch;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    const std::string_view line(text.data() + at, end - at);
    at = end + 1;
    RequestRecord record;
    if (!ParseRecordLine(line, record, scratch)) continue;
    // Every crawler the list knows, described robots too: its requests.
    if (const KnownCrawler* crawler = CrawlerList::Builtin().Match(record.user_agent)) {
      ++rows[{"crawlers", std::string(record.date), std::string(crawler->name),
              std::string(CategoryKey(crawler->category))}].first;
    }
    if (Engines().FindRobot(record.user_agent) != nullptr) continue;
    ++rows[{"status", std::string(record.date), std::to_string(record.status), ""}].first;
    if (record.status == 404 || record.status == 410)
      ++rows[{"notfound", "", std::string(record.url), std::string(record.referer)}].first;
    if (!PassesPageFilter(record.url, extensions)) continue;
    SearchArrival arrival;
    if (record.referer != "-" && RecogniseSearchReferer(record.referer, arrival)) {
      ++rows[{"engines", std::string(record.date), std::string(arrival.engine),
              ConvertCodePage(arrival.phrase, kCodePageUtf8, kCodePage1251)}].first;
    }
    const std::string visitor = std::string(record.ip) + "|" + std::string(record.user_agent);
    const AgentInfo agent = AgentParser::Builtin().Parse(record.user_agent);
    const std::string country = TestCountries()->Lookup(record.ip);
    for (auto* row : {&rows[{"browsers", std::string(record.date), agent.browser, agent.browser_major}],
                      &rows[{"systems", std::string(record.date), agent.system,
                             std::string(DeviceKey(agent.device))}],
                      &rows[{"countries", std::string(record.date), country, ""}]}) {
      ++row->first;
      row->second.insert(visitor);
    }
    if (record.hour < 0) continue;
    char hour[4];
    std::snprintf(hour, sizeof hour, "%02d", record.hour);
    auto& row = rows[{"hours", std::string(record.date), hour, ""}];
    ++row.first;
    row.second.insert(visitor);
  }
  return rows;
}

Rows Counted(const StatsCollector& collector) {
  Rows rows;
  for (const StatsCollector::CountedDimension& counted : collector.dimensions()) {
    counted.table.ForEach([&](const DimensionTable::Key& key, const DimensionCell& cell) {
      auto& row = rows[{std::string(counted.dimension->Shape().name), std::string(key.day),
                        std::string(key.key), std::string(key.sub)}];
      row.first = cell.counts[0];
      cell.visitors.ForEach([&](uint64_t visitor) {
        row.second.insert(std::string(collector.AddressText(VisitorAddress(visitor))) + "|" +
                          std::string(collector.AgentText(VisitorAgent(visitor))));
      });
    });
    if (counted.dimension->VisitorsFrom() == Dimension::VisitorsBy::kRows) continue;
    EXPECT_EQ(0u, counted.table.empty() ? 0u : counted.table.CellOf(0).visitors.size());
    ForEachDayVisitorRow(collector, *counted.dimension,
                         [&](std::string_view day, std::string_view key, std::string_view sub,
                             const std::vector<uint64_t>& visitors) {
      auto& row = rows[{std::string(counted.dimension->Shape().name), std::string(day),
                        std::string(key), std::string(sub)}];
      for (const uint64_t visitor : visitors) {
        EXPECT_TRUE(row.second
                        .insert(std::string(collector.AddressText(VisitorAddress(visitor))) + "|" +
                                std::string(collector.AgentText(VisitorAgent(visitor))))
                        .second)
            << "a visitor twice in a row";
      }
    });
  }
  return rows;
}

StatsCollector NewCollector() {
  StatsCollector collector(Engines());
  ParseExtensionList(kDefaultExtensionList, collector.pageExtensions);
  DimensionOptions options;
  options.countries = TestCountries();
  collector.SetDimensions(MakeDimensions(options));
  return collector;
}

std::string FirstDifference(const Rows& want, const Rows& got) {
  for (const auto& [key, row] : want) {
    const auto found = got.find(key);
    const std::string name = std::get<0>(key) + " " + std::get<1>(key) + " " + std::get<2>(key) +
                             " " + std::get<3>(key);
    if (found == got.end()) return "missing " + name;
    if (found->second.first != row.first)
      return name + ": " + std::to_string(found->second.first) + " instead of " +
             std::to_string(row.first);
    if (found->second.second != row.second) return name + ": other visitors";
  }
  for (const auto& [key, row] : got) {
    if (want.count(key) == 0) return "extra " + std::get<0>(key) + " " + std::get<2>(key);
  }
  return "";
}

class TempFile {
 public:
  TempFile(const std::string& name, const std::string& text)
      : path_(std::filesystem::temp_directory_path() /
              (name + "-" + std::to_string(::getpid()) + ".log")) {
    std::ofstream(path_, std::ios::binary) << text;
  }
  ~TempFile() { std::filesystem::remove(path_); }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

TEST(Dimensions, CountWhatAPlainReferenceCountsHoweverTheLogIsRead) {
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const std::string first = GeneratedLog(seed, 3000), second = GeneratedLog(seed + 100, 2000);
    const Rows want = Reference(first + second);
    ASSERT_GT(want.size(), 100u);
    std::set<std::string> keys;
    for (const auto& [key, row] : want)
      keys.insert(std::get<0>(key) + " " + std::get<2>(key) + " " + std::get<3>(key));
    for (const char* expected : {"browsers Firefox 15", "browsers Mobile Safari 16",
                                 "systems iOS tablet", "systems Android phone",
                                 "systems Other bot", "countries DE ", "countries JP ",
                                 "countries CA ", "countries  "})
      EXPECT_EQ(1u, keys.count(expected)) << expected;

    StatsCollector whole = NewCollector();
    whole.StartFile();
    whole.ParseContent(first + second);
    EXPECT_EQ("", FirstDifference(want, Counted(whole))) << "whole text";

    const TempFile a("dims-a", first), b("dims-b", second);
    for (const unsigned threads : {2u, 3u}) {
      StatsCollector blocks = NewCollector();
      CollectFile(blocks, a.path(), CollectOptions{4096, threads, 0});
      CollectFile(blocks, b.path(), CollectOptions{4096, threads, 0});
      EXPECT_EQ("", FirstDifference(want, Counted(blocks))) << "blocks, threads " << threads;

      StatsCollector files = NewCollector();
      CollectOptions options{2048, threads, 0};
      options.file_threads = 2;
      CollectFiles(files, {a.path(), b.path()}, options, nullptr, {});
      EXPECT_EQ("", FirstDifference(want, Counted(files))) << "files side by side";
    }
  }
}

// A sum that stopped at the limit (a crawler's traffic, from sizes no file has) in parts read
// apart stays at the limit when the parts join, instead of wrapping round.
TEST(Dimensions, TrafficAtTheLimitStaysThereWhenPartsJoin) {
  const std::string line =
      "1.1.1.1 - - [01/Mar/2024:10:00:00 +0300] \"GET /a.html HTTP/1.1\" 200 "
      "9223372036854775807 \"-\" \"Mozilla/5.0 (compatible; GPTBot/1.0)\"\n";
  StatsCollector first = NewCollector();
  first.StartFile();
  first.ParseContent(line);
  StatsCollector second = first.EmptyCopy();
  second.ParseContent(line + line);
  first.Absorb(std::move(second));
  int rows = 0;
  for (const StatsCollector::CountedDimension& counted : first.dimensions()) {
    if (counted.dimension->Shape().name != "crawlers") continue;
    counted.table.ForEach([&](const DimensionTable::Key&, const DimensionCell& cell) {
      ++rows;
      EXPECT_EQ(3, cell.counts[0]);
      EXPECT_EQ(std::numeric_limits<int64_t>::max(), cell.counts[2]);
    });
  }
  EXPECT_EQ(1, rows);
}

TEST(Dimensions, NoneAreCountedUnlessSetAndTheDescribedTablesStayAsTheyWere) {
  const std::string text = GeneratedLog(7, 2000);
  StatsCollector plain(Engines()), counting = NewCollector();
  ParseExtensionList(kDefaultExtensionList, plain.pageExtensions);
  for (StatsCollector* c : {&plain, &counting}) {
    c->StartFile();
    c->ParseContent(text);
  }
  EXPECT_TRUE(plain.dimensions().empty());
  EXPECT_EQ(plain.days.size(), counting.days.size());
  EXPECT_EQ(plain.pages.size(), counting.pages.size());
  for (const auto& [key, day] : plain.days) {
    EXPECT_EQ(day.views, counting.days.at(key).views);
    EXPECT_EQ(day.visitors.size(), counting.days.at(key).visitors.size());
  }
  EXPECT_EQ(plain.robotHits.size(), counting.robotHits.size());
  // The hours' views are the daily views of the records whose time gives an hour.
  int64_t hour_views = 0;
  for (const auto& counted : counting.dimensions()) {
    if (counted.dimension->Shape().name != "hours") continue;
    counted.table.ForEach(
        [&](const DimensionTable::Key&, const DimensionCell& cell) { hour_views += cell.counts[0]; });
  }
  int64_t views = 0;
  for (const auto& [key, day] : counting.days) views += day.views;
  EXPECT_GT(hour_views, 0);
  EXPECT_LE(hour_views, views);
}

// Two tables filled with random keys of any bytes (NULs, high bytes, empty texts, one text in
// several places of a key) against plain maps: every row found again, parts joined with their
// counts added (stopping at the limit) and visitors numbered again, and the rows sorted by
// their texts byte by byte.
TEST(Dimensions, TablesKeepAndSortRowsAsAPlainMapDoes) {
  using Key = std::tuple<std::string, std::string, std::string>;
  struct Expected {
    int64_t requests = 0, traffic = 0;
    std::set<uint64_t> visitors;
  };
  const std::string kTexts[] = {"", "a", std::string("a\0b", 3), std::string("\0", 1), "\xFF",
                                "ab", "b", "2008-12-01", "\xD0\xBF", std::string(300, 'x')};
  std::mt19937 rng(7);
  auto text = [&] { return kTexts[rng() % std::size(kTexts)]; };
  DimensionTable first, second;
  std::map<Key, Expected> expected;
  auto renumber = [](uint64_t visitor) { return visitor * 3 + 1; };
  for (int n = 0; n < 20000; ++n) {
    const Key key{text(), text(), text()};
    const bool later = rng() % 2 == 0;
    DimensionCell& cell = (later ? second : first).At(std::get<0>(key), std::get<1>(key),
                                                        std::get<2>(key));
    ++cell.counts[0];
    const int64_t traffic = rng() % 50 == 0 ? std::numeric_limits<int64_t>::max() / 2 + 1 : 5;
    cell.counts[2] = SaturatingAdd(cell.counts[2], traffic);
    const uint64_t visitor = rng() % 64;
    cell.visitors.Insert(visitor);
    Expected& row = expected[key];
    ++row.requests;
    row.traffic = SaturatingAdd(row.traffic, traffic);
    row.visitors.insert(later ? renumber(visitor) : visitor);
  }
  first.Absorb(second, renumber);
  EXPECT_TRUE(second.empty());
  ASSERT_EQ(expected.size(), first.size());
  for (const auto& [key, row] : expected) {
    const DimensionCell* cell = first.Find(std::get<0>(key), std::get<1>(key), std::get<2>(key));
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(row.requests, cell->counts[0]);
    EXPECT_EQ(row.traffic, cell->counts[2]);
    std::set<uint64_t> visitors;
    cell->visitors.ForEach([&](uint64_t visitor) { visitors.insert(visitor); });
    EXPECT_EQ(row.visitors, visitors);
  }
  EXPECT_EQ(nullptr, first.Find("no such day", "", ""));
  EXPECT_EQ(DimensionTable::kNoRow, first.RowOf("", "", "no such sub"));
  std::vector<Key> sorted;
  for (const uint32_t row : first.SortedRows()) {
    const DimensionTable::Key key = first.KeyOf(row);
    sorted.emplace_back(key.day, key.key, key.sub);
  }
  std::vector<Key> keys;
  for (const auto& [key, row] : expected) keys.push_back(key);
  EXPECT_EQ(keys, sorted);  // std::string compares bytes as unsigned, as the table does
}

TEST(Dimensions, PerNumberClassifiesEachNumberOnce) {
  PerNumber<std::string> kinds;
  int calls = 0;
  for (const uint32_t number : {3u, 0u, 3u, 1000u, 0u, 3u}) {
    const std::string& kind = kinds.Get(number, [&] {
      ++calls;
      return "kind " + std::to_string(number);
    });
    EXPECT_EQ("kind " + std::to_string(number), kind);
  }
  EXPECT_EQ(3, calls);
}

}  // namespace
}  // namespace hitsieve
