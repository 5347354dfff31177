// Adding to stored statistics, at the level of the store: whatever rows a database holds
// (in the order a save leaves them, or edited by hand: keys out of order, repeated, spelled in
// another case, rec_ids with gaps or below 1, odd referer types), an add must leave the rows
// that loading the whole statistics, adding and writing them all again gives, wherever it puts
// them in their tables.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/search_engine.h"
#include "store/sqlitepp/session.h"
#include "store/sqlitepp/statement.h"
#include "store/stats_merge.h"
#include "tests/temp_dir.h"

namespace hitsieve {
namespace {

using sqlitepp::into;
using sqlitepp::into_blob;
using sqlitepp::use;
using sqlitepp::use_blob;
using Rows = std::vector<std::string>;

constexpr const char* kSchema[] = {
    "CREATE TABLE common_stats (rec_id INTEGER PRIMARY KEY, date TEXT, ips INTEGER, "
    "visitors INTEGER, views INTEGER, searches INTEGER)",
    "CREATE TABLE page_stats (rec_id INTEGER PRIMARY KEY, page TEXT, visits INTEGER, searches "
    "INTEGER, bandwidth INTEGER, google INTEGER, yandex INTEGER, rambler INTEGER, mailru INTEGER, "
    "aport INTEGER, webalta INTEGER)",
    "CREATE TABLE referer_stats (rec_id INTEGER PRIMARY KEY, referer TEXT, type INTEGER, cnt "
    "INTEGER)",
    "CREATE TABLE robot_log (rec_id INTEGER PRIMARY KEY, name TEXT, action TEXT, code INTEGER, "
    "ip TEXT, date TEXT)",
    "CREATE TABLE query_stats (rec_id INTEGER PRIMARY KEY, query TEXT, total INTEGER, google "
    "INTEGER, yandex INTEGER, rambler INTEGER, mailru INTEGER, aport INTEGER, webalta INTEGER)",
};

std::string Blob(const std::vector<uint64_t>& hashes) {
  std::string bytes;
  for (uint64_t h : hashes) {
    for (int b = 0; b < 8; ++b) bytes.push_back(static_cast<char>(h >> (8 * b)));
  }
  return bytes;
}

// How many schema objects (indexes) carry one of `names`, a list of quoted names for SQL.
int64_t CountNamed(sqlitepp::session& session, const std::string& names) {
  int64_t found = 0;
  sqlitepp::statement count(session);
  count << "SELECT count(*) FROM sqlite_master WHERE name IN (" + names + ")", into(found);
  while (count.exec()) {
  }
  return found;
}

// Every row of the statistics tables, texts with every byte; the keyed tables as sets (rows
// sorted, without their rec_ids), the robot log in rec_id order.
Rows Dump(sqlitepp::session& session) {
  Rows rows;
  const char* selects[] = {
      "SELECT rec_id, date, ips, visitors, views, searches, 0, 0, 0, 0, 0 FROM common_stats",
      "SELECT rec_id, page, visits, searches, bandwidth, google, yandex, rambler, mailru, aport, "
      "webalta FROM page_stats",
      "SELECT rec_id, referer, type, cnt, 0, 0, 0, 0, 0, 0, 0 FROM referer_stats",
      "SELECT rec_id, name || '|' || action || '|' || ip || '|' || date, code, 0, 0, 0, 0, 0, 0, "
      "0, 0 FROM robot_log",
      "SELECT rec_id, query, total, google, yandex, rambler, mailru, aport, webalta, 0, 0 FROM "
      "query_stats",
      "SELECT rec_id, date || '|' || hex(ips) || '|' || hex(visitors), 0, 0, 0, 0, 0, 0, 0, 0, 0 "
      "FROM day_sets"};
  for (const char* select : selects) {
    std::string text;
    int64_t v[10] = {};
    sqlitepp::statement st(session);
    st << std::string(select) + " ORDER BY rec_id", into(v[0]), into_blob(text), into(v[1]),
        into(v[2]), into(v[3]), into(v[4]), into(v[5]), into(v[6]), into(v[7]), into(v[8]),
        into(v[9]);
    rows.push_back(std::string("-- ") + select);
    std::vector<std::string> table;
    while (st.exec()) {
      std::string row = "[" + text + "]";
      for (int k = 1; k < 10; ++k) row += " " + std::to_string(v[k]);
      table.push_back(row);
    }
    // Robot hits in their order; the keyed tables as sets, wherever an add put their rows.
    if (std::string_view(select).find("robot_log") == std::string_view::npos)
      std::sort(table.begin(), table.end());
    rows.insert(rows.end(), table.begin(), table.end());
  }
  return rows;
}

// A Windows-1251 capital of a lower-case letter: Latin, Cyrillic, and the odd pairs of the code
// page (Ё and ё, Ў and ў, ...), or the byte itself.
char Capital(char c) {
  for (int u = 0; u < 256; ++u) {
    if (u != static_cast<unsigned char>(c) &&
        Cp1251Lower(static_cast<unsigned char>(u)) == static_cast<unsigned char>(c))
      return static_cast<char>(u);
  }
  return c;
}

// Keys from a small set, so that stored and added ones meet often; some hold a NUL byte, and
// phrases come in several spellings of one case-blind key, Cyrillic letters among them.
std::string Key(std::mt19937& rng, const char* prefix, int range = 40) {
  const int n = static_cast<int>(rng() % range);
  std::string key = prefix + std::to_string(n);
  if (std::string_view(prefix).find(' ') != std::string_view::npos) {
    static const char kLower[] = "\xE0\xFF\xB8\xA2\xBC\x90\x83";  // а я ё ў ј ђ ѓ
    for (int k = 0; k < 3; ++k) key += kLower[(n + k * 2) % 7];
  }
  if (rng() % 9 == 0) key += std::string("\0x", 2);
  if (rng() % 3 == 0) std::transform(key.begin(), key.end(), key.begin(), Capital);
  return key;
}

enum class Shape {
  kAsSaved,    // what a save leaves
  kInOrder,    // in a save's order, but keys stored as BLOBs and phrase totals that disagree
  kByHand,     // keys out of order or repeated, rec_ids with gaps and below 1, odd types
};

// Fills the five tables and the day sets with rows, in the order a save writes them or not.
void FillStored(sqlitepp::session& session, std::mt19937& rng, Shape shape, int size) {
  const bool in_order = shape != Shape::kByHand;
  session << "BEGIN";
  for (const char* create : kSchema) session << create;
  CreateSetTables(session);
  int64_t last_id = 0;  // each table's rec_ids start at 1 when in order
  auto next_id = [&]() {
    int64_t& id = last_id;
    if (in_order) return ++id;
    id += 1 + static_cast<int64_t>(rng() % 3);  // gaps
    return rng() % 11 == 0 ? -id : id;          // and rec_ids below 1
  };
  auto keys = [&](const char* prefix, bool fold_case) {
    std::vector<std::string> list;
    for (int n = static_cast<int>(rng() % size); n > 0; --n)
      list.push_back(Key(rng, prefix, size * 4 / 3));
    if (in_order) {
      std::sort(list.begin(), list.end(), [&](const std::string& a, const std::string& b) {
        return fold_case ? CaseInsensitiveLess{}(a, b) : a < b;
      });
      list.erase(std::unique(list.begin(), list.end(),
                             [&](const std::string& a, const std::string& b) {
                               return fold_case ? !CaseInsensitiveLess{}(a, b) &&
                                                      !CaseInsensitiveLess{}(b, a)
                                                : a == b;
                             }),
                 list.end());
    }
    return list;
  };
  int64_t id = 0, a = 0, b = 0, c = 0;
  std::string text, ips, visitors;
  // Keys as a save writes them (texts), or as BLOBs by hand.
  auto key = [shape](std::string& value) {
    return shape == Shape::kAsSaved ? use(value) : use_blob(value);
  };
  std::array<int64_t, kEngineCount> e{};
  {
    sqlitepp::statement insert(session);
    insert << "INSERT INTO page_stats VALUES(:id, :page, :v, :s, :b, :g, :y, :r, :m, :a, :w)",
        use(id), key(text), use(a), use(b), use(c), use(e[0]), use(e[1]), use(e[2]),
        use(e[3]), use(e[4]), use(e[5]);
    last_id = 0;
    for (const std::string& page : keys("/page", false)) {
      id = next_id(), text = page, a = rng() % 9, b = rng() % 3, c = rng() % 1000;
      for (int64_t& count : e) count = rng() % 4;
      insert.exec();
    }
  }
  {
    sqlitepp::statement insert(session);
    insert << "INSERT INTO referer_stats VALUES(:id, :referer, :type, :cnt)", use(id),
        key(text), use(a), use(b);
    last_id = 0;
    for (int type : {0, 1}) {
      for (const std::string& referer : keys(type == 0 ? "host" : "http://ref/", false)) {
        id = next_id(), text = referer, b = 1 + rng() % 9;
        a = in_order || rng() % 5 != 0 ? type : static_cast<int64_t>(rng() % 4);
        insert.exec();
      }
    }
  }
  {
    sqlitepp::statement insert(session);
    insert << "INSERT INTO query_stats VALUES(:id, :query, :total, :g, :y, :r, :m, :a, :w)",
        use(id), key(text), use(a), use(e[0]), use(e[1]), use(e[2]), use(e[3]), use(e[4]),
        use(e[5]);
    last_id = 0;
    for (const std::string& phrase : keys("Phrase ", true)) {
      id = next_id(), text = phrase;
      for (int64_t& count : e) count = rng() % 4;
      a = shape == Shape::kAsSaved ? e[0] + e[1] + e[2] + e[3] + e[4] + e[5] : rng() % 50;
      insert.exec();
    }
  }
  session << "INSERT INTO robot_log VALUES(NULL, 'Bot', '/robots.txt', 200, '10.0.0.1', "
             "'2009-01-01')";
  for (int day = 1; day <= 3; ++day) {
    text = "2009-01-0" + std::to_string(day);
    ips = Blob({1, 2, uint64_t(10 + day)});
    visitors = Blob({5, uint64_t(50 + day)});
    session << "INSERT INTO common_stats VALUES(NULL, :date, 3, 2, 7, 1)", use(text);
    session << "INSERT INTO day_sets VALUES(NULL, :date, :ips, :visitors)", use(text),
        use_blob(ips), use_blob(visitors);
  }
  session << "COMMIT";
}

// rec_id -> type and key of every row of a keyed table.
std::map<int64_t, std::string> RowIds(sqlitepp::session& session, const std::string& table,
                                      const std::string& key) {
  std::map<int64_t, std::string> ids;
  int64_t id = 0;
  std::string text;
  sqlitepp::statement st(session);
  st << "SELECT rec_id, " + std::string(table == "referer_stats" ? "type" : "0") + " || '|' || " +
            key + " FROM " + table,
      into(id), into_blob(text);
  while (st.exec()) ids[id] = text;
  return ids;
}

// An add in place leaves every stored row under its rec_id and appends the new keys after the
// largest stored one, in key order.
void ExpectStoredRowsStayAndNewOnesFollow(const std::map<int64_t, std::string>& before,
                                          const std::map<int64_t, std::string>& after,
                                          bool fold_case) {
  const int64_t largest = before.empty() ? 0 : before.rbegin()->first;
  std::string last_new;
  bool first_new = true;
  for (const auto& [id, key] : after) {
    if (id <= largest) {
      const auto stored = before.find(id);
      ASSERT_TRUE(stored != before.end() && stored->second == key) << id << " " << key;
      continue;
    }
    if (!first_new) {
      EXPECT_TRUE(fold_case ? CaseInsensitiveLess{}(last_new, key) : last_new < key)
          << last_new << " then " << key;
    }
    first_new = false;
    last_new = key;
  }
  EXPECT_EQ(before.size(), static_cast<size_t>(std::count_if(
                               after.begin(), after.end(),
                               [largest](const auto& row) { return row.first <= largest; })));
}

// At most `at_most` - 1 keys of each kind: few keys onto many stored rows are looked up through
// the key's index, many are found by reading the whole table.
StatsTotals Added(std::mt19937& rng, int size, int at_most) {
  StatsTotals added;
  DayTotals& day = added.days["2009-01-0" + std::to_string(2 + rng() % 3)];
  day.views = 4;
  day.ips = {2, 99};
  day.visitors = {7};
  for (int n = static_cast<int>(rng() % at_most); n > 0; --n) {
    PageTotals& page = added.pages[Key(rng, "/page", size * 4 / 3)];
    page.visits += 1 + rng() % 5;
    page.bandwidth += rng() % 100;
    page.engines[rng() % kEngineCount] += 1;
  }
  for (int n = static_cast<int>(rng() % at_most); n > 0; --n) {
    added.referers[Key(rng, "http://ref/", size * 4 / 3)] += 1 + rng() % 3;
    added.refererHosts[Key(rng, "host", size * 4 / 3)] += 1;
  }
  for (int n = static_cast<int>(rng() % at_most); n > 0; --n) {
    added.queries[Key(rng, "Phrase ", size * 4 / 3)][rng() % kEngineCount] += 1;
  }
  if (size > 1000 && at_most == size) {
    // Thousands of new keys that sort before every stored one: appended after the stored
    // rows, many statements' worth.
    for (int n = 0; n < 5000; ++n) {
      added.pages["/a" + std::to_string(n)].visits = 1;
      added.refererHosts["a" + std::to_string(n)] = 1;
      added.queries["A " + std::to_string(n)][0] = 1;
    }
  }
  added.robotHits.push_back({"Bot", "/new", 404, "10.0.0.2", "2009-01-04"});
  return added;
}

TEST(AddToStoredTables, LeavesTheRowsOfLoadingAddingAndWritingAgain) {
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    const Shape shape = static_cast<Shape>(seed % 3);
    // Mostly small tables; some long enough for many statements' worth of rows, and the
    // stored rows to be read in several pieces.
    const int size = seed % 5 == 0 ? 9000 : 30;
    SCOPED_TRACE("seed " + std::to_string(seed) + ", shape " + std::to_string(seed % 3));
    TempDir dir;
    std::mt19937 rng(seed);
    const std::string added_file = dir.File("added.dt"), loaded_file = dir.File("loaded.dt");
    {
      sqlitepp::session added_db(added_file), loaded_db(loaded_file);
      std::mt19937 same(seed);
      FillStored(added_db, rng, shape, size);
      FillStored(loaded_db, same, shape, size);
    }
    const bool few = seed % 4 == 1;
    const StatsTotals added = Added(rng, size, few ? 3 : size);
    const std::vector<LogSource> sources = {{"a.log", 10, 1, 10, 1, 1, 1, "t", "", ""}};

    // The expected rows: the stored statistics loaded whole, the new ones added, all written
    // again into emptied tables.
    sqlitepp::session loaded_db(loaded_file);
    StatsTotals whole = LoadTotals(loaded_db, /*robots=*/true);
    StatsTotals copy = added;
    whole.Add(std::move(copy));
    SaveTotals(loaded_db, std::move(whole), sources, /*replace=*/true, nullptr);

    sqlitepp::session added_db(added_file);
    const std::pair<const char*, const char*> keyed[] = {
        {"page_stats", "page"}, {"referer_stats", "referer"}, {"query_stats", "query"},
        {"common_stats", "date"}};
    std::vector<std::map<int64_t, std::string>> ids_before;
    for (const auto& [table, key] : keyed) ids_before.push_back(RowIds(added_db, table, key));
    copy = added;
    SaveTotals(added_db, std::move(copy), sources, /*replace=*/false, nullptr);
    ASSERT_EQ(Dump(loaded_db), Dump(added_db));
    if (few && shape == Shape::kAsSaved && size > 1000) {
      EXPECT_EQ(3, CountNamed(added_db, "'page_stats_page', 'referer_stats_referer', "
                                        "'query_folds_fold'"))
          << "the few keys were not looked up through the index";
    }
    if (shape == Shape::kAsSaved) {
      for (size_t t = 0; t < std::size(keyed); ++t) {
        SCOPED_TRACE(keyed[t].first);
        ExpectStoredRowsStayAndNewOnesFollow(ids_before[t],
                                             RowIds(added_db, keyed[t].first, keyed[t].second),
                                             t == 2);
      }
    }
    EXPECT_EQ(sources.size(), LoadLogSources(added_db).size());
  }
}

// Every row of the dimension tables as a set, texts and visitor sets with every byte.
Rows DimensionDump(sqlitepp::session& session) {
  Rows rows;
  for (const char* table : {"dim_notfound", "dim_status", "dim_browsers"}) {
    std::string row;
    sqlitepp::statement st(session);
    st << std::string("SELECT quote(day) || '|' || quote(key) || '|' || quote(sub) || '|' || ") +
              (std::string_view(table) == "dim_browsers" ? "views || '|' || hex(visitors)"
                                                         : "requests") +
              " FROM " + table,
        into_blob(row);
    std::vector<std::string> table_rows;
    while (st.exec()) table_rows.push_back(table + std::string(" ") + row);
    std::sort(table_rows.begin(), table_rows.end());
    rows.insert(rows.end(), table_rows.begin(), table_rows.end());
  }
  return rows;
}

// Rows of a dimension over the whole period (404s by URL and referer), and of two per day (status
// codes; browsers and versions with their visitors), keys from small sets with empty days,
// keys and second keys among them, so that stored and added rows meet often.
StatsTotals DimensionRows(std::mt19937& rng, int rows) {
  StatsTotals totals;
  totals.days["2009-01-0" + std::to_string(1 + rng() % 4)].views = 1;
  auto pick = [&rng](const char* prefix, int range) {
    const int n = static_cast<int>(rng() % range);
    return n == 0 ? std::string() : prefix + std::to_string(n);
  };
  auto day = [&rng]() { return rng() % 7 == 0 ? std::string() : "0" + std::to_string(1 + rng() % 4) + "/Jan/2009"; };
  for (auto* name : {"notfound", "status", "browsers"}) totals.dimensions[name].version = "1";
  for (int n = 0; n < rows; ++n) {
    totals.dimensions["notfound"].rows[{"", pick("/u", 30), pick("http://r/", 8)}].counts[0] +=
        1 + rng() % 3;
    totals.dimensions["status"].rows[{day(), pick("", 6), ""}].counts[0] += 1;
    DimensionRowTotals& browser = totals.dimensions["browsers"].rows[{day(), pick("B", 5), pick("", 4)}];
    browser.counts[0] += 1;
    const uint64_t visitor = 1 + rng() % 20;
    const auto at = std::lower_bound(browser.visitors.begin(), browser.visitors.end(), visitor);
    if (at == browser.visitors.end() || *at != visitor) browser.visitors.insert(at, visitor);
  }
  return totals;
}

// An add of few dimension rows onto many looks the stored ones up by day, or by key and second
// key, and leaves the rows that loading everything, adding and writing it again gives.
TEST(AddToStoredTables, DimensionRowsLookedUpLeaveTheRowsOfLoadingAddingAndWritingAgain) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    std::mt19937 rng(seed);
    const std::string added_file = dir.File("added.dt"), loaded_file = dir.File("loaded.dt");
    const std::vector<LogSource> sources = {{"a.log", 10, 1, 10, 1, 1, 1, "t", "", ""}};
    const StatsTotals stored = DimensionRows(rng, 400);
    const StatsTotals added = DimensionRows(rng, 1 + seed % 4);
    sqlitepp::session added_db(added_file), loaded_db(loaded_file);
    for (sqlitepp::session* db : {&added_db, &loaded_db}) {
      std::mt19937 tables(seed);
      FillStored(*db, tables, Shape::kAsSaved, 2);
      StatsTotals copy = stored;
      SaveTotals(*db, std::move(copy), sources, /*replace=*/true, nullptr);
    }
    StatsTotals whole = LoadTotals(loaded_db, /*robots=*/true);
    StatsTotals copy = added;
    whole.Add(std::move(copy));
    SaveTotals(loaded_db, std::move(whole), sources, /*replace=*/true, nullptr);
    copy = added;
    SaveTotals(added_db, std::move(copy), sources, /*replace=*/false, nullptr);
    ASSERT_EQ(DimensionDump(loaded_db), DimensionDump(added_db));

    EXPECT_EQ(3, CountNamed(added_db, "'dim_notfound_key_sub', 'dim_status_day', "
                                      "'dim_browsers_day'"))
        << "the few rows were not looked up";
  }
}

// Phrases are found through their folded spelling when few are added onto many: every
// Windows-1251 capital, in a phrase otherwise stored in lower case, finds the stored row,
// which keeps its spelling and gets the counts; also after another writer numbered the rows
// afresh.
TEST(AddToStoredTables, PhrasesInAnotherCaseLandOnTheStoredRowsThroughTheLookup) {
  TempDir dir;
  const std::string file = dir.File("stats.dt");
  sqlitepp::session db(file);
  std::mt19937 rng(7);
  FillStored(db, rng, Shape::kAsSaved, 2);  // the tables
  std::vector<unsigned char> capitals;
  for (int u = 0; u < 256; ++u) {
    if (Cp1251Lower(static_cast<unsigned char>(u)) != u) capitals.push_back(static_cast<unsigned char>(u));
  }
  auto phrase = [](unsigned char letter, int n) {
    return "q " + std::string(1, static_cast<char>(letter)) + std::to_string(n);
  };
  const std::vector<LogSource> sources = {{"a.log", 10, 1, 10, 1, 1, 1, "t", "", ""}};
  StatsTotals stored;
  stored.days["2009-01-01"].views = 1;
  for (unsigned char capital : capitals) {
    for (int n = 0; n < 15; ++n) stored.queries[phrase(Cp1251Lower(capital), n)][0] = 1;
  }
  SaveTotals(db, std::move(stored), sources, /*replace=*/true, nullptr);
  for (const char* day : {"2009-01-02", "2009-01-03"}) {
    SCOPED_TRACE(day);
    StatsTotals added;
    added.days[day].views = 1;
    for (unsigned char capital : capitals) added.queries[phrase(capital, 7)][1] = 1;
    SaveTotals(db, std::move(added), sources, /*replace=*/false, nullptr);

    int64_t rows = 0, folds = 0;
    sqlitepp::statement count(db);
    count << "SELECT (SELECT count(*) FROM query_stats), (SELECT count(*) FROM sqlite_master "
             "WHERE name = 'query_folds_fold')",
        into(rows), into(folds);
    while (count.exec()) {
    }
    ASSERT_EQ(static_cast<int64_t>(capitals.size() * 15), rows);
    EXPECT_EQ(1, folds) << "the phrases were not looked up";
    // A writer that keeps no folds writes the phrases again, in the opposite order.
    db << "CREATE TABLE earlier AS SELECT * FROM query_stats ORDER BY rec_id DESC";
    db << "DELETE FROM query_stats";
    db << "INSERT INTO query_stats(query, total, google, yandex, rambler, mailru, aport, webalta) "
          "SELECT query, total, google, yandex, rambler, mailru, aport, webalta FROM earlier";
    db << "DROP TABLE earlier";
  }
  std::string text;
  int64_t google = 0, yandex = 0;
  sqlitepp::statement read(db);
  read << "SELECT google, yandex FROM query_stats WHERE query = :query", into(google),
      into(yandex), use(text);
  for (unsigned char capital : capitals) {
    text = phrase(Cp1251Lower(capital), 7);
    google = yandex = 0;
    while (read.exec()) {
    }
    EXPECT_TRUE(google == 1 && yandex == 2) << "letter " << int(capital);
  }
}

}  // namespace
}  // namespace hitsieve
