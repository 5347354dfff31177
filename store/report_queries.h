#ifndef HITSIEVE_STORE_REPORT_QUERIES_H_
#define HITSIEVE_STORE_REPORT_QUERIES_H_

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/search_engine.h"

// The report screens' SELECT statements and their row records. Each query object is a
// statement on the StatsDatabase session, created on first use and kept until the process
// ends; every Read or ForEach runs it from its first row to its last. UI thread (or the command
// line) only, and never while a run is saving. A database file that does not exist yet reads as
// empty tables and is not created by reading.
namespace hitsieve {

// Per-engine counts in column order google, yandex, rambler, mailru, aport, webalta.
using EngineCounts = std::array<int32_t, kEngineCount>;

struct CommonStatsRow {
  int32_t rec_id = 0;
  std::string date;
  int32_t ips = 0, visitors = 0, views = 0, searches = 0;
};

struct PageStatsRow {
  int32_t rec_id = 0;
  std::string page;
  int32_t visits = 0, searches = 0;
  int64_t bandwidth = 0;
  EngineCounts engines{};
};

struct QueryStatsRow {
  std::string query;
  int32_t total = 0;
  EngineCounts engines{};
};

struct RefererRow {
  int32_t rec_id = 0;
  std::string referer;
  int32_t type = 0;  // 0 = host row, 1 = whole-referer row
  int32_t cnt = 0;
};

struct RobotLogRow {
  std::string name, action;
  int32_t code = 0;
  std::string ip, date;
};

// Rows of equal count come in the order in which a replacing run writes the keys, never in
// the order the rows happen to be stored in: pages by their bytes, phrases case-insensitively
// (hitsieve_phrase is kPhraseCollation of store/key_order.h), host rows before whole referers
// and each by its bytes.
inline constexpr const char kCommonStatsQuery[] =
    "SELECT rec_id, date, ips, visitors, views, searches FROM common_stats ORDER BY date";
inline constexpr const char kPageStatsQuery[] =
    "SELECT rec_id, page, visits, searches, bandwidth, google, yandex, rambler, mailru, aport, "
    "webalta FROM page_stats ORDER BY visits DESC, page COLLATE BINARY";
inline constexpr const char kQueryStatsQuery[] =
    "SELECT query, total, google, yandex, rambler, mailru, aport, webalta FROM query_stats "
    "ORDER BY total DESC, query COLLATE hitsieve_phrase";
inline constexpr const char kRefererQuery[] =
    "SELECT rec_id, referer, type, cnt FROM referer_stats "
    "ORDER BY cnt DESC, type, referer COLLATE BINARY";
inline constexpr const char kRobotLogQuery[] =
    "SELECT name, action, code, ip, date  FROM robot_log ORDER BY date ";
// Requests per robot, grouped and ordered on the name's bytes (NULL and the empty text are one
// name, as a NULL column reads as ""), so that the groups and their order are those of a map
// keyed by the names as the robot log reads them.
inline constexpr const char kRobotCountQuery[] =
    "SELECT coalesce(CAST(name AS BLOB), X''), count(*) FROM robot_log GROUP BY 1 ORDER BY 1";

// Number of rows in one of the five statistics tables (checked to be a table first), so that
// a caller can refuse a table too large before reading it.
int64_t CountStatsRows(const char* table);

// Append every row of the query, in its ORDER BY order, to `rows`. A database error is thrown
// as sqlitepp::exception; the rows read before it stay appended.
void ReadCommonStats(std::vector<CommonStatsRow>& rows);
void ReadPageStats(std::vector<PageStatsRow>& rows);
void ReadQueryStats(std::vector<QueryStatsRow>& rows);
void ReadRefererStats(std::vector<RefererRow>& rows);
void ReadRobotLog(std::vector<RobotLogRow>& rows);

// Call `visit` with every row of the query, in its ORDER BY order, keeping none: the row handed
// over is overwritten by the next one. What a report that streams its rows reads; a second pass
// gives the same rows only inside one transaction. A database error, or anything `visit`
// throws, ends the pass; the next pass starts from the first row.
// REQUIRES: `visit` does not run the same query.
void ForEachCommonStatsRow(const std::function<void(const CommonStatsRow&)>& visit);
void ForEachPageStatsRow(const std::function<void(const PageStatsRow&)>& visit);
void ForEachQueryStatsRow(const std::function<void(const QueryStatsRow&)>& visit);
void ForEachRefererRow(const std::function<void(const RefererRow&)>& visit);
void ForEachRobotLogRow(const std::function<void(const RobotLogRow&)>& visit);

// Each robot's name (stored bytes) and its number of requests, in byte order of the name,
// counted by SQLite: what RobotCounts gives without holding the robot log.
void ForEachRobotCount(const std::function<void(const std::string& name, int64_t count)>& visit);

}  // namespace hitsieve

#endif  // HITSIEVE_STORE_REPORT_QUERIES_H_
