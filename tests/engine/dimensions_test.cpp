// The dimensions (status codes, pages not found, hours) counted by the collector against a slow
// reference made with plain maps from the same parsed records, over generated logs with many
// agents, addresses, codes and hours; read whole, in blocks on several threads, and as several
// files read side by side.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/dimensions/builtin_dimensions.h"
#include "engine/log_reader.h"
#include "engine/page_filter.h"
#include "engine/record_parser.h"
#include "engine/standard_engines.h"
#include "engine/stats_collector.h"

namespace hitsieve {
namespace {

const SearchEngineRegistry& Engines() {
  static SearchEngineRegistry registry;
  static const bool filled = (RegisterStandardEngines(registry), true);
  (void)filled;
  return registry;
}

// Lines of many clients, agents (robots among them), codes, hours and pages, some of them not
// well formed (an hour that is no hour, a line cut short).
std::string GeneratedLog(uint32_t seed, int count) {
  std::mt19937 rng(seed);
  auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  static const char* const kAgents[] = {"Mozilla/5.0 (X11)", "Opera/9.80", "Googlebot/2.1",
                                        "Mozilla/5.0 (compatible; YandexBot/3.0)", "-", "curl/8"};
  static const char* const kPages[] = {"/", "/a.html", "/b.php?x=1", "/img/x.png", "/gone.html",
                                       "/c.htm", "/d.txt"};
  static const char* const kReferers[] = {"-", "http://a.example/x", "http://b.example/y",
                                          "http://www.google.com/search?q=a+b"};
  static const char* const kCodes[] = {"200", "200", "200", "404", "410", "304", "500", "-", "999"};
  static const char* const kDays[] = {"01/Dec/2008", "02/Dec/2008", "15/Jan/2009"};
  std::string text;
  for (int k = 0; k < count; ++k) {
    char hour[8];
    const int h = below(30);  // 24..29 are no hour
    std::snprintf(hour, sizeof hour, "%02d", h);
    std::string line = "10.0." + std::to_string(below(4)) + "." + std::to_string(below(40)) +
                       " - - [" + kDays[below(3)] + ":" + hour + ":" + std::to_string(10 + below(50)) +
                       ":00 +0300] \"GET " + kPages[below(7)] + " HTTP/1.1\" " + kCodes[below(9)] +
                       " " + std::to_string(below(5000)) + " \"" + kReferers[below(4)] + "\" \"" +
                       kAgents[below(6)] + " v" + std::to_string(below(3)) + "\"";
    if (below(40) == 0) line.resize(static_cast<size_t>(below(static_cast<int>(line.size()))));
    text += line + "\n";
  }
  return text;
}

// Every row of the three dimensions as text: (table, day, key, sub) -> counts and, for hours,
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
    if (Engines().FindRobot(record.user_agent) != nullptr) continue;
    ++rows[{"status", std::string(record.date), std::to_string(record.status), ""}].first;
    if (record.status == 404 || record.status == 410)
      ++rows[{"notfound", "", std::string(record.url), std::string(record.referer)}].first;
    if (!PassesPageFilter(record.url, extensions) || record.hour < 0) continue;
    char hour[4];
    std::snprintf(hour, sizeof hour, "%02d", record.hour);
    auto& row = rows[{"hours", std::string(record.date), hour, ""}];
    ++row.first;
    row.second.insert(std::string(record.ip) + "|" + std::string(record.user_agent));
  }
  return rows;
}

Rows Counted(const StatsCollector& collector) {
  Rows rows;
  for (const StatsCollector::CountedDimension& counted : collector.dimensions()) {
    for (const auto& [packed, cell] : counted.table.cells) {
      const DimensionTable::Key key = DimensionTable::Unpack(packed);
      auto& row = rows[{std::string(counted.dimension->Spec().name), std::string(key.day),
                        std::string(key.key), std::string(key.sub)}];
      row.first = cell.counts[0];
      cell.visitors.ForEach([&](uint64_t visitor) {
        row.second.insert(std::string(collector.AddressText(VisitorAddress(visitor))) + "|" +
                          std::string(collector.AgentText(VisitorAgent(visitor))));
      });
    }
  }
  return rows;
}

StatsCollector NewCollector() {
  StatsCollector collector(Engines());
  ParseExtensionList(kDefaultExtensionList, collector.pageExtensions);
  collector.SetDimensions(MakeDimensions({}));
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
    if (counted.dimension->Spec().name != "hours") continue;
    for (const auto& [packed, cell] : counted.table.cells) hour_views += cell.counts[0];
  }
  int64_t views = 0;
  for (const auto& [key, day] : counting.days) views += day.views;
  EXPECT_GT(hour_views, 0);
  EXPECT_LE(hour_views, views);
}

TEST(Dimensions, PackedKeysKeepTextsOfAnyBytesApart) {
  DimensionTable table;
  const std::string nul("a\0b", 3);
  ++table.At("d", nul, "").counts[0];
  ++table.At("d", "a", std::string("\0b", 2)).counts[0];
  ++table.At("", "", "").counts[0];
  ++table.At("", "", "").counts[0];
  EXPECT_EQ(3u, table.cells.size());
  std::set<std::tuple<std::string, std::string, std::string>> keys;
  for (const auto& [packed, cell] : table.cells) {
    const DimensionTable::Key key = DimensionTable::Unpack(packed);
    keys.emplace(key.day, key.key, key.sub);
  }
  EXPECT_EQ(1u, keys.count({"d", nul, ""}));
  EXPECT_EQ(1u, keys.count({"d", "a", std::string("\0b", 2)}));
  EXPECT_EQ(1u, keys.count({"", "", ""}));
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
