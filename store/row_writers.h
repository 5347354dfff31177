#ifndef HITSIEVE_STORE_ROW_WRITERS_H_
#define HITSIEVE_STORE_ROW_WRITERS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "engine/search_engine.h"
#include "engine/stats_collector.h"
#include "store/sqlitepp/statement.h"

// One writer per statistics table: INSERT statements on the StatsDatabase session whose use
// binders are tied to the writer's row buffers. Each writer is created on its first use and
// lives until the process ends, so every later save reuses it. Only the saver calls them,
// inside its transaction.
namespace hitsieve {

struct DayStats;
struct PageStats;

inline constexpr const char kInsertCommonStats[] =
    "INSERT INTO common_stats (rec_id, date, ips, visitors, views, searches) VALUES(NULL, "
    ":date, :ips, :visitors, :views, :searches)";
inline constexpr const char kInsertPageStats[] =
    "INSERT INTO page_stats(rec_id, page, visits, searches, bandwidth, google, yandex, rambler, "
    "mailru, aport, webalta) VALUES(NULL, :page, :visits, :searches, :bandwidth, :google, "
    ":yandex, :rambler, :mailru, :aport, :webalta)";
inline constexpr const char kInsertRefererStats[] =
    "INSERT INTO referer_stats(rec_id, referer, type, cnt) VALUES(NULL, :referer, :type, :cnt)";
inline constexpr const char kInsertRobotLog[] =
    "INSERT INTO robot_log(rec_id, name, action, code, ip, date ) VALUES(NULL, :name, :action, "
    ":code, :ip, :date)";
inline constexpr const char kInsertQueryStats[] =
    "INSERT INTO query_stats( rec_id, query, total, google, yandex, rambler, mailru, aport, "
    "webalta ) VALUES(NULL, :query, :total, :google, :yandex, :rambler, :mailru, :aport, "
    ":webalta)";

// Rows go to SQLite kRowsPerInsert at a time, in one INSERT of as many value lists: one
// statement run per row would cost more than the row itself. The rows keep their order and
// their ids.
inline constexpr size_t kRowsPerInsert = 64;

namespace row_writers {

// The rows of one table waiting to be written, and the two statements that write them: one
// for a full batch, one for a single row (the rest at the end). `Row` has its fields in the
// order of the INSERT's parameters, and Bind ties a binder to each.
template <typename Row>
class Batch {
 public:
  // `insert`: the table's one-row INSERT, its value list last: rec_id NULL (SQLite numbers the
  // rows) or a parameter, and the rest parameters. Every row starts as a copy of `blank`.
  Batch(sqlitepp::session& session, std::string_view insert, const Row& blank = Row());
  // On the statistics database.
  explicit Batch(const char* insert);
  Row& Next() { return rows_[count_]; }
  // The row from Next is complete; a full batch is written.
  void Added() {
    if (++count_ == kRowsPerInsert) {
      count_ = 0;  // gone whether or not the statement succeeds
      batch_.exec();
    }
  }
  // Writes the rows still waiting.
  void Flush();

 private:
  Row rows_[kRowsPerInsert];
  size_t count_ = 0;
  Row single_row_;
  sqlitepp::statement batch_, single_;
};

struct CommonRow {
  std::string_view date;
  int32_t ips = 0, visitors = 0, views = 0, searches = 0;
  void Bind(sqlitepp::use_binders& uses);
};

struct PageRow {
  std::string_view page;
  int32_t visits = 0, searches = 0;
  int64_t bandwidth = 0;
  int32_t engines[kEngineCount] = {};
  void Bind(sqlitepp::use_binders& uses);
};

struct RefererRow {
  std::string_view referer;
  int32_t type = 0, count = 0;
  void Bind(sqlitepp::use_binders& uses);
};

struct RobotRow {
  std::string_view name, action;
  int32_t code = 0;
  std::string_view ip, date;
  void Bind(sqlitepp::use_binders& uses);
};

struct QueryRow {
  std::string_view query;
  int32_t total = 0;
  int32_t engines[kEngineCount] = {};
  void Bind(sqlitepp::use_binders& uses);
};

// A row of page_stats, referer_stats or query_stats written at a given rec_id (a key an add
// appends after the stored rows). `values`: visits, searches, bandwidth and the engines of a page;
// the count of a referer or host; the engines of a phrase.
enum class KeyedTable { kPages, kReferers, kQueries };
struct PlacedRow {
  KeyedTable table = KeyedTable::kPages;
  int64_t id = 0;
  std::string key;
  int64_t kind = 0;   // referer_stats: 0 a host, 1 a referer
  int64_t total = 0;  // query_stats: the sum of the engines
  std::array<int64_t, 3 + kEngineCount> values{};
  void Bind(sqlitepp::use_binders& uses);
};

// A row of a dimension's table (dim_NAME): as many counts, and a set of visitors, as `shape`
// says, which the blank row of a batch gives.
struct DimensionRow {
  const DimensionShape* shape = nullptr;
  int64_t id = 0;
  std::string_view day, key, sub;
  std::array<int64_t, kDimensionCounts> counts{};
  std::string visitors;  // hashes as stored
  void Bind(sqlitepp::use_binders& uses);
};

}  // namespace row_writers

// Each writer's Write takes the row's texts where they are: they must stay unchanged until
// Flush, which writes the rows still waiting; the saver flushes each table before the next.
class CommonStatsWriter {
 public:
  static CommonStatsWriter& Instance();
  void Write(std::string_view date, const DayStats& day);
  void Flush() { rows_.Flush(); }

 private:
  CommonStatsWriter();
  row_writers::Batch<row_writers::CommonRow> rows_;
};

class PageStatsWriter {
 public:
  static PageStatsWriter& Instance();
  // An engine without an entry in the page's engineHits is written as 0.
  void Write(std::string_view page, const PageStats& stats);
  void Flush() { rows_.Flush(); }

 private:
  PageStatsWriter();
  row_writers::Batch<row_writers::PageRow> rows_;
};

class RefererStatsWriter {
 public:
  static RefererStatsWriter& Instance();
  // `type` 0 for a host row, 1 for a whole-referer row.
  void Write(std::string_view referer, int32_t type, int32_t count);
  void Flush() { rows_.Flush(); }

 private:
  RefererStatsWriter();
  row_writers::Batch<row_writers::RefererRow> rows_;
};

class RobotLogWriter {
 public:
  static RobotLogWriter& Instance();
  void Write(const RobotHitList::View& hit);
  void Flush() { rows_.Flush(); }

 private:
  RobotLogWriter();
  row_writers::Batch<row_writers::RobotRow> rows_;
};

class QueryStatsWriter {
 public:
  static QueryStatsWriter& Instance();
  // Engine ids outside 0..5 are ignored; total is the sum of the six counts.
  void Write(std::string_view phrase, const CountsByEngine& engine_counts);
  void Flush() { rows_.Flush(); }

 private:
  QueryStatsWriter();
  row_writers::Batch<row_writers::QueryRow> rows_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_STORE_ROW_WRITERS_H_
