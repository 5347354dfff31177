#include <gtest/gtest.h>

#include <algorithm>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "run/analysis_job.h"
#include "engine/standard_engines.h"
#include "engine/stats_collector.h"
#include "store/report_queries.h"
#include "store/row_writers.h"
#include "store/sqlitepp/statement.h"
#include "store/stats_database.h"
#include "store/stats_saver.h"
#include "tests/temp_dir.h"
#include "tests/engine/random_log.h"

namespace hitsieve {
namespace {

using sqlitepp::into;

class RecordingObserver : public SaveProgressObserver {
 public:
  void SetPosition(int position) override { positions.push_back(position); }
  std::vector<int> positions;
};

// The statistics database is process-wide, so each test needs a process of its own (ctest runs
// them that way). Run in one process, every test after the first is skipped, not failed.
class StatsDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool database_used = false;
    if (database_used) GTEST_SKIP() << "needs a process of its own; run through ctest";
    database_used = true;
    StatsDatabase::SetFileName(dir_.File("stats.dt"));
  }

  static sqlitepp::session& Session() { return StatsDatabase::Instance().session(); }

  static int Count(const std::string& table, const std::string& where = "1") {
    int n = -1;
    Session() << "SELECT count(*) FROM " << table << " WHERE " << where, into(n);
    return n;
  }

  static std::vector<std::string> Tables(sqlitepp::session& s) {
    std::string name;
    std::vector<std::string> names;
    sqlitepp::statement st(s);
    st << "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name", into(name);
    while (st.exec()) names.push_back(name);
    return names;
  }

  static void Save(const StatsCollector& collector, SaveProgressObserver* observer = nullptr) {
    StatsSaver saver(collector, observer);
    saver.save();
  }

  static int ErrorCode(const std::function<void()>& body, std::string* message = nullptr) {
    try {
      body();
    } catch (const sqlitepp::exception& e) {
      if (message != nullptr) *message = e.what();
      return e.code();
    }
    ADD_FAILURE() << "no sqlitepp::exception thrown";
    return 0;
  }

  // One of everything, with the awkward values: an empty page key, a page counted only by
  // engine 3, a bandwidth beyond 32 bits, a phrase with an engine id outside 0..5.
  static void FillFirstRun(StatsCollector& c) {
    DayStats& day = c.days["10/Oct/2000"];
    // Only the sizes of the day's sets are saved: two addresses, three (address, agent) pairs.
    for (uint32_t address : {0, 1}) day.ips.Insert(address);
    for (auto [address, agent] : {std::pair{0, 0}, {0, 1}, {1, 0}}) {
      day.visitors.Insert(VisitorKey(address, agent));
    }
    day.views = 7;
    day.searches = 2;
    c.days["09/Oct/2000"].views = 1;

    PageStats& big = c.pages["/big.zip"];
    big.visits = 3;
    big.bandwidth = (int64_t{1} << 32) + 123;
    PageStats& mail_only = c.pages["/mail.html"];
    mail_only.visits = 5;
    mail_only.searches = 4;
    mail_only.engineHits[kMailru] = 4;
    c.pages[""].visits = 1;

    c.refererHosts["http://go.mail.ru"] = 4;
    c.referers["http://go.mail.ru/search?q=x"] = 4;
    c.robotHits.push_back({"Googlebot", "/a.html", 200, "66.249.0.1", "10/Oct/2000"});
    c.robotHits.push_back({"\xC0\xEF\xEE\xF0\xF2", "/b.html", 404, "81.1.1.1", "09/Oct/2000"});
    c.queries["\xEA\xEE\xF2"] = {{kGoogle, 2}, {kWebalta, 3}, {9, 100}};
  }

  TempDir dir_;
};

TEST_F(StatsDatabaseTest, NewFileGetsTheFiveEmptyTablesAndTheTwoThatAddingNeeds) {
  // And the dimensions' tables with their definitions, none counted yet.
  std::vector<std::string> expected = {"analysed_logs", "common_stats", "counted_dimensions",
                                       "day_sets",      "page_stats",   "query_stats",
                                       "referer_stats", "robot_log"};
  for (const DimensionShape* shape : KnownDimensionShapes())
    expected.push_back(DimensionTableName(shape->name));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, Tables(Session()));
  EXPECT_TRUE(StoredDimensions(Session()).empty());
  std::vector<CommonStatsRow> days;
  std::vector<PageStatsRow> pages;
  std::vector<QueryStatsRow> queries;
  std::vector<RefererRow> referers;
  std::vector<RobotLogRow> robots;
  ReadCommonStats(days);
  ReadPageStats(pages);
  ReadQueryStats(queries);
  ReadRefererStats(referers);
  ReadRobotLog(robots);
  EXPECT_TRUE(days.empty() && pages.empty() && queries.empty() && referers.empty() &&
              robots.empty());
}

TEST_F(StatsDatabaseTest, FileWithSomeTablesIsLeftAlone) {
  {
    sqlitepp::session setup(dir_.File("stats.dt"));
    setup << "CREATE TABLE common_stats (rec_id INTEGER PRIMARY KEY, date TEXT, ips INTEGER, "
             "visitors INTEGER, views INTEGER, searches INTEGER)";
    setup << "INSERT INTO common_stats VALUES (NULL, 'old', 1, 1, 1, 0)";
  }
  EXPECT_EQ(std::vector<std::string>{"common_stats"}, Tables(Session()));

  std::string message;
  std::vector<PageStatsRow> pages;
  EXPECT_EQ(1, ErrorCode([&] { ReadPageStats(pages); }, &message));
  EXPECT_EQ("no such table: page_stats", message);

  StatsCollector collector;
  collector.days["10/Oct/2000"].views = 1;
  EXPECT_EQ(1, ErrorCode([&] { Save(collector); }, &message));
  EXPECT_EQ("no such table: page_stats", message);
  EXPECT_EQ(1, Count("common_stats", "date = 'old'"));  // the delete was rolled back

  // Once the table is there, the same query object reads it.
  Session() << "CREATE TABLE page_stats (rec_id INTEGER PRIMARY KEY, page TEXT, visits INTEGER, "
               "searches INTEGER, bandwidth INTEGER, google INTEGER, yandex INTEGER, "
               "rambler INTEGER, mailru INTEGER, aport INTEGER, webalta INTEGER)";
  EXPECT_NO_THROW(ReadPageStats(pages));
}

TEST_F(StatsDatabaseTest, FailedOpenCreatesNothingAndIsRetried) {
  StatsDatabase::SetFileName(dir_.File("later/stats.dt"));
  EXPECT_EQ(14, ErrorCode([] { StatsDatabase::Instance(); }));  // SQLITE_CANTOPEN
  std::filesystem::create_directory(dir_.File("later"));
  // The five, the two that adding needs, and the dimensions' tables with their definitions.
  EXPECT_EQ(8u + KnownDimensionShapes().size(), Tables(Session()).size());
}

TEST_F(StatsDatabaseTest, SaveWritesEveryTableAndTheScreensReadItBack) {
  StatsCollector collector;
  FillFirstRun(collector);
  RecordingObserver observer;
  Save(collector, &observer);
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5}), observer.positions);

  std::vector<CommonStatsRow> days;
  ReadCommonStats(days);
  ASSERT_EQ(2u, days.size());
  EXPECT_EQ("09/Oct/2000", days[0].date);
  EXPECT_EQ("10/Oct/2000", days[1].date);
  EXPECT_EQ(2, days[1].ips);
  EXPECT_EQ(3, days[1].visitors);
  EXPECT_EQ(7, days[1].views);
  EXPECT_EQ(2, days[1].searches);

  std::vector<PageStatsRow> pages;
  ReadPageStats(pages);  // by visits, descending
  ASSERT_EQ(3u, pages.size());
  EXPECT_EQ("/mail.html", pages[0].page);
  EXPECT_EQ((EngineCounts{0, 0, 0, 4, 0, 0}), pages[0].engines);
  EXPECT_EQ(4, pages[0].searches);
  EXPECT_EQ("/big.zip", pages[1].page);
  EXPECT_EQ((int64_t{1} << 32) + 123, pages[1].bandwidth);
  EXPECT_EQ("", pages[2].page);
  EXPECT_EQ(1, Count("page_stats", "page IS NULL"));

  std::vector<RefererRow> referers;
  ReadRefererStats(referers);
  ASSERT_EQ(2u, referers.size());
  EXPECT_EQ(1, Count("referer_stats", "type = 0 AND referer = 'http://go.mail.ru' AND cnt = 4"));
  EXPECT_EQ(1, Count("referer_stats", "type = 1 AND referer = 'http://go.mail.ru/search?q=x'"));

  std::vector<RobotLogRow> robots;
  ReadRobotLog(robots);  // by date
  ASSERT_EQ(2u, robots.size());
  EXPECT_EQ("\xC0\xEF\xEE\xF0\xF2", robots[0].name);
  EXPECT_EQ("/b.html", robots[0].action);
  EXPECT_EQ(404, robots[0].code);
  EXPECT_EQ("81.1.1.1", robots[0].ip);
  EXPECT_EQ("Googlebot", robots[1].name);

  std::vector<QueryStatsRow> queries;
  ReadQueryStats(queries);
  ASSERT_EQ(1u, queries.size());
  EXPECT_EQ("\xEA\xEE\xF2", queries[0].query);
  EXPECT_EQ(5, queries[0].total);
  EXPECT_EQ((EngineCounts{2, 0, 0, 0, 0, 3}), queries[0].engines);
}

TEST_F(StatsDatabaseTest, RobotRowsKeepTheOrderOfTheRequests) {
  StatsCollector collector;
  for (const char* url : {"/3", "/1", "/2"}) {
    collector.robotHits.push_back({"Googlebot", url, 200, "1.1.1.1", "10/Oct/2000"});
  }
  Save(collector);
  std::string action;
  std::vector<std::string> actions;
  sqlitepp::statement st(Session());
  st << "SELECT action FROM robot_log ORDER BY rec_id", into(action);
  while (st.exec()) actions.push_back(action);
  EXPECT_EQ((std::vector<std::string>{"/3", "/1", "/2"}), actions);
}

TEST_F(StatsDatabaseTest, SecondSaveReplacesTheFirst) {
  StatsCollector first;
  FillFirstRun(first);
  Save(first);

  StatsCollector second;
  second.days["11/Oct/2000"].views = 9;
  second.pages["/new.html"].visits = 2;
  Save(second);  // no observer: nothing to report to, same rows written

  std::vector<CommonStatsRow> days;
  ReadCommonStats(days);
  ASSERT_EQ(1u, days.size());
  EXPECT_EQ("11/Oct/2000", days[0].date);
  EXPECT_EQ(9, days[0].views);
  EXPECT_NE(0, days[0].rec_id);
  std::vector<PageStatsRow> pages;
  ReadPageStats(pages);
  ASSERT_EQ(1u, pages.size());
  EXPECT_EQ("/new.html", pages[0].page);
  EXPECT_EQ(0, Count("referer_stats") + Count("robot_log") + Count("query_stats"));

  Save(StatsCollector());
  for (const char* table :
       {"common_stats", "page_stats", "referer_stats", "robot_log", "query_stats"}) {
    EXPECT_EQ(0, Count(table)) << table;
  }
}

TEST_F(StatsDatabaseTest, FailureWhileWritingRobotsKeepsThePreviousSave) {
  StatsCollector first;
  FillFirstRun(first);
  Save(first);

  Session() << "CREATE TRIGGER refuse BEFORE INSERT ON robot_log "
               "BEGIN SELECT RAISE(ABORT, 'robot_log refused'); END";
  StatsCollector second;
  second.days["11/Oct/2000"].views = 9;
  second.pages["/new.html"].visits = 2;
  second.referers["http://x/"] = 1;
  second.robotHits.push_back({"Googlebot", "/r", 200, "1.1.1.1", "11/Oct/2000"});
  RecordingObserver observer;
  std::string message;
  EXPECT_EQ(19, ErrorCode([&] { Save(second, &observer); }, &message));  // SQLITE_CONSTRAINT
  EXPECT_EQ("robot_log refused", message);
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), observer.positions);

  const struct {
    const char* table;
    int rows;
  } kept[] = {{"common_stats", 2}, {"page_stats", 3}, {"referer_stats", 2}, {"robot_log", 2},
              {"query_stats", 1}};
  for (const auto& k : kept) EXPECT_EQ(k.rows, Count(k.table)) << k.table;
  EXPECT_EQ(0, Count("common_stats", "date = '11/Oct/2000'"));

  // The writers are usable again once the cause is gone.
  Session() << "DROP TRIGGER refuse";
  Save(second);
  EXPECT_EQ(1, Count("robot_log", "action = '/r'"));
  EXPECT_EQ(1, Count("common_stats"));
}

// Every row of the statistics, the day sets and the remembered logs, each field quoted by
// SQLite, in the order of the rows' ids.
std::string DumpStatistics(sqlitepp::session& session) {
  std::string dump;
  for (const char* table : {"common_stats", "page_stats", "referer_stats", "robot_log",
                            "query_stats", "day_sets", "analysed_logs"}) {
    dump += std::string(table) + ":\n";
    sqlite3_stmt* select = nullptr;
    const std::string sql = std::string("SELECT * FROM ") + table + " ORDER BY rowid";
    if (sqlite3_prepare_v2(session.handle(), sql.c_str(), -1, &select, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sqlite3_errmsg(session.handle());
      return dump;
    }
    while (sqlite3_step(select) == SQLITE_ROW) {
      for (int column = 0; column < sqlite3_column_count(select); ++column) {
        const int type = sqlite3_column_type(select, column);
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(select, column));
        dump += std::to_string(type) + ':' +
                std::string(bytes == nullptr ? "" : bytes,
                            static_cast<size_t>(sqlite3_column_bytes(select, column))) +
                '|';
      }
      dump += '\n';
    }
    sqlite3_finalize(select);
  }
  return dump;
}

// A run hands its collector over to be emptied as the tables are written: the rows must be
// those of saving it untouched, and a save that fails after every table but the last has been
// freed must still leave the previous statistics.
TEST_F(StatsDatabaseTest, SpentCollectorSavesTheSameRowsAndItsFailureKeepsThePreviousSave) {
  SearchEngineRegistry registry;
  RegisterStandardEngines(registry);
  const std::string text = RandomLog(31).Text(3000);
  auto parsed = [&](const std::string& log) {
    StatsCollector collector(registry);
    collector.ParseContent(log);
    return collector;
  };
  StatsCollector kept = parsed(text);
  ASSERT_GT(kept.referers.size(), 30u);
  ASSERT_GT(kept.robotHits.size(), 30u);
  ASSERT_GT(kept.queries.size(), 5u);
  Save(kept);
  const std::string want = DumpStatistics(Session());
  for (int round = 0; round < 2; ++round) {
    StatsCollector spent = parsed(text);
    RecordingObserver observer;
    StatsSaver saver(std::move(spent), &observer);
    saver.save();
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5}), observer.positions);
    EXPECT_TRUE(want == DumpStatistics(Session())) << "round " << round;
  }

  Session() << "CREATE TRIGGER refuse BEFORE INSERT ON query_stats "
               "BEGIN SELECT RAISE(ABORT, 'query_stats refused'); END";
  StatsCollector other = parsed(RandomLog(32).Text(500));
  ASSERT_FALSE(other.queries.empty());
  EXPECT_EQ(19, ErrorCode([&] {
              StatsSaver saver(std::move(other), nullptr);
              saver.save();
            }));
  Session() << "DROP TRIGGER refuse";
  EXPECT_TRUE(want == DumpStatistics(Session()));
}

// The rows of `sql`, each as its fields quoted by SQLite and joined by '|'.
std::vector<std::string> SelectRows(sqlitepp::session& session, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3_stmt* select = nullptr;
  if (sqlite3_prepare_v2(session.handle(), sql.c_str(), -1, &select, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(session.handle());
    return rows;
  }
  while (sqlite3_step(select) == SQLITE_ROW) {
    std::string row;
    for (int column = 0; column < sqlite3_column_count(select); ++column) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select, column));
      row += (column == 0 ? "" : "|") + std::string(text == nullptr ? "NULL" : text);
    }
    rows.push_back(row);
  }
  sqlite3_finalize(select);
  return rows;
}

// Rows are written many to a statement: whatever their number against the batch's, every row
// is written once, in the collector's order, with the ids 1, 2, 3...
TEST_F(StatsDatabaseTest, RowsOfAnyNumberAreWrittenInOrderWithConsecutiveIds) {
  const size_t batch = kRowsPerInsert;
  for (const size_t n : {size_t{1}, batch - 1, batch, batch + 1, 3 * batch + 7, size_t{0}}) {
    SCOPED_TRACE(std::to_string(n) + " rows per table");
    StatsCollector c;
    for (size_t k = 0; k < n; ++k) {
      const std::string id = std::to_string(k);
      c.days[id].views = static_cast<int32_t>(k);
      PageStats& page = c.pages["/p" + id];
      page.visits = static_cast<int32_t>(k);
      page.engineHits[static_cast<int>(k % kEngineCount)] = static_cast<int32_t>(k + 1);
      c.refererHosts["http://h" + id] = static_cast<int32_t>(k);
      c.referers["http://h" + id + "/r"] = static_cast<int32_t>(k + 1);
      // In the order of the requests, not of any key.
      c.robotHits.push_back({"bot", "/r" + std::to_string(n - k), static_cast<int32_t>(k),
                             "1.1.1.1", id});
      c.queries["q" + id] = {{static_cast<int>(k % kEngineCount), static_cast<int32_t>(k)}};
    }
    Save(c);
    std::vector<std::string> days, pages, referers, robots, queries;
    size_t id = 0;
    for (const auto& [key, day] : c.days) {
      days.push_back(std::to_string(++id) + '|' + key + '|' + std::to_string(day.views));
    }
    id = 0;
    for (const auto& [key, page] : c.pages) {
      const int engine = page.engineHits.begin()->first;
      pages.push_back(std::to_string(++id) + '|' + key + '|' + std::to_string(page.visits) + '|' +
                      std::to_string(engine) + '=' + std::to_string(page.engineHits.at(engine)));
    }
    id = 0;
    for (const auto* table : {&c.refererHosts, &c.referers}) {
      for (const auto& [key, count] : *table) {
        referers.push_back(std::to_string(++id) + '|' + key + '|' +
                           (table == &c.referers ? "1|" : "0|") + std::to_string(count));
      }
    }
    id = 0;
    for (const RobotHit& hit : c.robotHits) {
      robots.push_back(std::to_string(++id) + '|' + hit.action + '|' + std::to_string(hit.code));
    }
    id = 0;
    for (const auto& [key, counts] : c.queries) {
      queries.push_back(std::to_string(++id) + '|' + key + '|' +
                        std::to_string(counts.begin()->second));
    }
    sqlitepp::session& s = Session();
    EXPECT_EQ(days, SelectRows(s, "SELECT rec_id, date, views FROM common_stats ORDER BY rec_id"));
    EXPECT_EQ(pages, SelectRows(s, "SELECT rec_id, page, visits, CASE WHEN google THEN '0=' || "
                                   "google WHEN yandex THEN '1=' || yandex WHEN rambler THEN "
                                   "'2=' || rambler WHEN mailru THEN '3=' || mailru WHEN aport "
                                   "THEN '4=' || aport ELSE '5=' || webalta END FROM page_stats "
                                   "ORDER BY rec_id"));
    EXPECT_EQ(referers,
              SelectRows(s, "SELECT rec_id, referer, type, cnt FROM referer_stats ORDER BY rec_id"));
    EXPECT_EQ(robots, SelectRows(s, "SELECT rec_id, action, code FROM robot_log ORDER BY rec_id"));
    EXPECT_EQ(queries, SelectRows(s, "SELECT rec_id, query, total FROM query_stats ORDER BY rec_id"));
  }
}

TEST_F(StatsDatabaseTest, WriteLockHeldElsewhereFailsTheSaveAndKeepsThePreviousOne) {
  StatsCollector first;
  FillFirstRun(first);
  Save(first);

  sqlitepp::session other(dir_.File("stats.dt"));
  other << "BEGIN IMMEDIATE";
  StatsCollector second;
  second.days["11/Oct/2000"].views = 9;
  EXPECT_EQ(5, ErrorCode([&] { Save(second); }));  // SQLITE_BUSY
  other << "ROLLBACK";

  EXPECT_EQ(2, Count("common_stats"));
  Save(second);  // the session is free for the next transaction
  EXPECT_EQ(1, Count("common_stats"));
}

}  // namespace
}  // namespace hitsieve
