// The report queries against an order computed in memory: whatever rec_id each row is stored
// under, rows of equal count come in the order in which a replacing run writes the keys.

#include "store/key_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/text.h"
#include "store/report_queries.h"
#include "store/sqlitepp/statement.h"
#include "store/sqlitepp/transaction.h"
#include "store/stats_database.h"
#include "tests/temp_dir.h"

namespace hitsieve {
namespace {

using sqlitepp::use;

// Short keys over letters whose case folding and byte order disagree (Latin and Windows-1251
// capitals sort before small letters by their bytes, 0xA8/0xB8 outside the alphabet's range),
// and a few other bytes, so that many keys differ in case only or share a prefix.
std::string RandomKey(std::mt19937& rng) {
  static const char kBytes[] = "aAzZ\xE0\xC0\xFF\xDF\xB8\xA8 %0\x7F\x80\x90";
  std::string key;
  for (size_t n = rng() % 4; n > 0; --n) key += kBytes[rng() % (sizeof kBytes - 1)];
  return key;
}

int Sign(int value) { return (value > 0) - (value < 0); }

TEST(KeyOrder, PhraseCollationRefinesTheEnginesCaseInsensitiveOrder) {
  std::mt19937 rng(5);
  const CaseInsensitiveLess less;
  for (int k = 0; k < 20000; ++k) {
    const std::string a = RandomKey(rng), b = RandomKey(rng);
    const int order = ComparePhrases(a, b);
    ASSERT_EQ(-order, ComparePhrases(b, a)) << a << " / " << b;
    // Spellings the engine takes for one phrase are ordered by their bytes.
    const int expected = less(a, b) ? -1 : less(b, a) ? 1 : Sign(a.compare(b));
    ASSERT_EQ(expected, order) << a << " / " << b;
  }
}

// Each table filled with random keys and small counts (so most counts are shared), inserted
// under shuffled, scattered rec_ids; every list read must be ordered by count, then key.
TEST(KeyOrder, ReportListsBreakTiesByKeyWhateverTheRowIds) {
  TempDir dir;
  StatsDatabase::SetFileName(dir.File("ties.dt"));
  sqlitepp::session& session = StatsDatabase::Instance().session();
  std::mt19937 rng(11);

  std::set<std::string> page_keys, referer_keys;
  std::set<std::string, CaseInsensitiveLess> phrase_keys;  // one spelling each, as a run keeps
  for (int k = 0; k < 400; ++k) {
    page_keys.insert(RandomKey(rng));
    referer_keys.insert(RandomKey(rng));
    phrase_keys.insert(RandomKey(rng));
  }
  struct Row {
    int count = 0, type = 0;
    std::string key;
  };
  auto rows_of = [&rng](const auto& keys, bool typed) {
    std::vector<Row> rows;
    for (const std::string& key : keys) {
      for (int type = 0; type <= (typed ? 1 : 0); ++type)
        if (rng() % 3 != 0) rows.push_back({static_cast<int>(rng() % 4), type, key});
    }
    std::shuffle(rows.begin(), rows.end(), rng);
    return rows;
  };
  const std::vector<Row> pages = rows_of(page_keys, false);
  const std::vector<Row> referers = rows_of(referer_keys, true);
  const std::vector<Row> phrases = rows_of(phrase_keys, false);
  {
    sqlitepp::transaction txn(session);
    int64_t id = 0;
    for (const auto& [table, rows] : {std::pair{"page_stats (rec_id, page, visits)", &pages},
                                      {"query_stats (rec_id, query, total)", &phrases}}) {
      for (Row row : *rows) {
        id += 1 + rng() % 5;
        session << "INSERT INTO " << table << " VALUES(:id, :key, :count)", use(id),
            use(row.key), use(row.count);
      }
    }
    for (Row row : referers) {
      id += 1 + rng() % 5;
      session << "INSERT INTO referer_stats (rec_id, referer, type, cnt) VALUES(:id, :key, "
                 ":type, :count)",
          use(id), use(row.key), use(row.type), use(row.count);
    }
    txn.commit();
  }

  auto expected = [](std::vector<Row> rows, auto key_less) {
    std::sort(rows.begin(), rows.end(), [&key_less](const Row& a, const Row& b) {
      if (a.count != b.count) return a.count > b.count;
      if (a.type != b.type) return a.type < b.type;
      return key_less(a.key, b.key);
    });
    std::vector<std::tuple<int, int, std::string>> listed;
    for (const Row& row : rows) listed.emplace_back(row.count, row.type, row.key);
    return listed;
  };
  std::vector<std::tuple<int, int, std::string>> listed;
  ForEachPageStatsRow([&](const PageStatsRow& r) { listed.emplace_back(r.visits, 0, r.page); });
  EXPECT_EQ(expected(pages, std::less<std::string>()), listed);
  listed.clear();
  ForEachQueryStatsRow([&](const QueryStatsRow& r) { listed.emplace_back(r.total, 0, r.query); });
  EXPECT_EQ(expected(phrases, CaseInsensitiveLess()), listed);
  listed.clear();
  ForEachRefererRow([&](const RefererRow& r) { listed.emplace_back(r.cnt, r.type, r.referer); });
  EXPECT_EQ(expected(referers, std::less<std::string>()), listed);
}

}  // namespace
}  // namespace hitsieve
