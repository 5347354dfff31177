// Lists ordered by a count give rows of equal count in key order, wherever in its table each
// row is stored: every report of a database whose keyed tables have been rewritten in a random
// order is, byte for byte, that of the database as a replacing run wrote it.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "engine/text.h"
#include "report_bytes.h"
#include "tests/engine/random_log.h"

namespace hitsieve::testing {
namespace {

// A log with hundreds of pages, referers and phrases of a few requests each, so that most
// counts are shared by many keys. Keys differ in letter case (Latin and Windows-1251), so that
// the case-insensitive order of phrases is not their byte order. A few of RandomLog's hostile
// lines are mixed in.
std::string TiedLog(uint32_t seed) {
  std::mt19937 rng(seed);
  auto below = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
  auto word = [&](size_t letters) {
    static const char kLetters[] = "aAbBzZ\xE0\xC0\xFF\xDF\xB8\xA8";
    std::string text;
    for (size_t k = 0; k < letters; ++k) text += kLetters[below(sizeof kLetters - 1)];
    return text;
  };
  auto encoded = [](const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
    return out;
  };
  std::vector<std::string> pages, referers, phrases;
  for (int k = 0; k < 150; ++k) {
    pages.push_back("/" + encoded(word(1 + below(3))) + (k % 2 ? ".html" : ".PHP"));
    referers.push_back("http://" + word(1 + below(2)) + ".example/" + word(below(3)));
    phrases.push_back(word(1 + below(3)) + (below(3) == 0 ? " " + word(2) : ""));
  }
  RandomLog hostile(seed);
  const std::vector<std::string> odd = hostile.Lines(40);
  std::string log;
  for (int line = 0; line < 1500; ++line) {
    if (line % 40 == 0) log += odd[line / 40 % odd.size()];
    // Squared, so that a few keys are frequent and most are seen once or twice.
    auto pick = [&](const std::vector<std::string>& pool) -> const std::string& {
      const size_t r = below(pool.size());
      return pool[r * r / pool.size()];
    };
    std::string referer = "-";
    if (below(2) == 0) referer = pick(referers);
    else if (below(2) == 0) referer = "http://www.google.ru/search?q=" + encoded(pick(phrases));
    log += "10.0.0." + std::to_string(below(30)) + " - - [0" + std::to_string(1 + below(5)) +
           "/Nov/2008:10:00:00 +0400] \"GET " + pick(pages) + " HTTP/1.1\" 200 " +
           std::to_string(below(5000)) + " \"" + referer + "\" \"Mozilla/5.0\"\n";
  }
  return log;
}

// True when two phrases of equal count are ordered differently by their bytes and by the
// case-insensitive order: the data can tell a report that breaks ties wrongly.
bool HasPhraseTiesOutOfByteOrder(const fs::path& db) {
  std::map<std::string, std::vector<std::string>> by_total;
  for (const std::string& row : QueryRows(db, "SELECT total || '|' || query FROM query_stats")) {
    const size_t bar = row.find('|');
    by_total[row.substr(0, bar)].push_back(row.substr(bar + 1));
  }
  for (const auto& [total, phrases] : by_total) {
    for (const std::string& a : phrases) {
      for (const std::string& b : phrases) {
        if (CaseInsensitiveLess{}(a, b) && b < a) return true;
      }
    }
  }
  return false;
}

void ExpectReportsIgnoreRowPlaces(const TempDir& dir, const fs::path& log, unsigned seed) {
  const CliResult run = RunCli(dir.path(), {"analyse", "--db", "ties.dt", log.string()});
  ASSERT_EQ(0, run.status) << run.err;
  // The data has ties to break: in every table ordered by a count, some count is shared.
  for (const char* counts : {"visits FROM page_stats", "total FROM query_stats",
                             "cnt FROM referer_stats WHERE type = 0",
                             "cnt FROM referer_stats WHERE type = 1"}) {
    const std::string shared = std::string("SELECT ") + counts + " GROUP BY 1 HAVING count(*) > 1";
    ASSERT_FALSE(QueryRows(dir / "ties.dt", shared).empty()) << shared;
  }
  const std::map<std::string, std::string> written = AllReportBytes(dir, "ties.dt");
  for (unsigned shuffle = 0; shuffle < 2; ++shuffle) {
    ShuffleKeyedRows(dir / "ties.dt", seed * 10 + shuffle);
    EXPECT_EQ(std::vector<std::string>{},
              ReportDifferences(written, AllReportBytes(dir, "ties.dt")))
        << log << ", shuffle " << shuffle;
  }
}

TEST(ReportTies, GeneratedLogsReportTheSameWhereverKeyedRowsAreStored) {
  for (uint32_t seed : {1u, 2u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    WriteFile(dir / "access.log", TiedLog(seed));
    ExpectReportsIgnoreRowPlaces(dir, dir / "access.log", seed);
    EXPECT_TRUE(HasPhraseTiesOutOfByteOrder(dir / "ties.dt"));
  }
}

TEST(ReportTies, HostileLinesReportTheSameWhereverKeyedRowsAreStored) {
  TempDir dir;
  ExpectReportsIgnoreRowPlaces(dir, fs::path(HITSIEVE_TEST_DATA) / "hostile-lines.log", 7);
}

}  // namespace
}  // namespace hitsieve::testing
