#ifndef HITSIEVE_STORE_ROW_WRITERS_H_
#define HITSIEVE_STORE_ROW_WRITERS_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "engine/search_engine.h"
#include "engine/stats_collector.h"
#include "store/sqlitepp/statement.h"

// One writer per statistics table: an INSERT statement on the StatsDatabase session whose use
// binders are tied to the writer's row buffer. Each writer is created on its first use and
// lives until the process ends, so every later save reuses it. Write puts the row into the
// buffer and runs the statement once; texts are bound where they are, not copied, so they need
// only outlive the call. Only the saver calls them, inside its transaction.
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

class CommonStatsWriter {
 public:
  static CommonStatsWriter& Instance();
  void Write(std::string_view date, const DayStats& day);

 private:
  CommonStatsWriter();
  std::string_view date_;
  int32_t ips_ = 0, visitors_ = 0, views_ = 0, searches_ = 0;
  sqlitepp::statement statement_;
};

class PageStatsWriter {
 public:
  static PageStatsWriter& Instance();
  // An engine without an entry in the page's engineHits is written as 0.
  void Write(std::string_view page, const PageStats& stats);

 private:
  PageStatsWriter();
  std::string_view page_;
  int32_t visits_ = 0, searches_ = 0;
  int64_t bandwidth_ = 0;
  int32_t engines_[kEngineCount] = {};
  sqlitepp::statement statement_;
};

class RefererStatsWriter {
 public:
  static RefererStatsWriter& Instance();
  // `type` 0 for a host row, 1 for a whole-referer row.
  void Write(std::string_view referer, int32_t type, int32_t count);

 private:
  RefererStatsWriter();
  std::string_view referer_;
  int32_t type_ = 0, count_ = 0;
  sqlitepp::statement statement_;
};

class RobotLogWriter {
 public:
  static RobotLogWriter& Instance();
  void Write(const RobotHitList::View& hit);

 private:
  RobotLogWriter();
  std::string_view name_, action_;
  int32_t code_ = 0;
  std::string_view ip_, date_;
  sqlitepp::statement statement_;
};

class QueryStatsWriter {
 public:
  static QueryStatsWriter& Instance();
  // Engine ids outside 0..5 are ignored; total is the sum of the six counts.
  void Write(std::string_view phrase, const std::map<int, int32_t>& engine_counts);

 private:
  QueryStatsWriter();
  std::string_view query_;
  int32_t total_ = 0;
  int32_t engines_[kEngineCount] = {};
  sqlitepp::statement statement_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_STORE_ROW_WRITERS_H_
