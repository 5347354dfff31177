// The dimensions' report queries and the summary of the period.

#include "store/dimension_reports.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <set>

#include "engine/dimensions/client_dimensions.h"
#include "engine/dimensions/country_database.h"
#include "engine/dimensions/dimension.h"
#include "engine/text.h"
#include "store/sqlitepp/query.h"
#include "store/sqlitepp/session.h"
#include "store/sqlitepp/statement.h"
#include "store/stats_database.h"
#include "store/stats_merge.h"

namespace hitsieve {

namespace {

using sqlitepp::into;
using sqlitepp::into_blob;

int64_t Number(sqlitepp::session& session, const std::string& sql) {
  int64_t value = 0;
  sqlitepp::statement read(session);
  read << sql, into(value);
  while (read.exec()) {
  }
  return value;
}

// yyyymmdd of a day key dd/Mon/yyyy; nothing for a key that is no such date.
std::optional<int> DateOf(std::string_view key) {
  static constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  if (key.size() != 11 || key[2] != '/' || key[6] != '/') return std::nullopt;
  const size_t month = kMonths.find(key.substr(3, 3));
  if (month == std::string_view::npos || month % 3 != 0) return std::nullopt;
  int day = 0, year = 0;
  for (size_t k : {0, 1}) {
    if (key[k] < '0' || key[k] > '9') return std::nullopt;
    day = day * 10 + (key[k] - '0');
  }
  for (size_t k = 7; k < 11; ++k) {
    if (key[k] < '0' || key[k] > '9') return std::nullopt;
    year = year * 10 + (key[k] - '0');
  }
  return year * 10000 + static_cast<int>(month / 3 + 1) * 100 + day;
}

// SQL for the day key in `column` (dd/Mon/yyyy) as YYYY-MM-DD, NULL for a key that is none.
std::string IsoDay(const std::string& column) {
  std::string months;
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int m = 0; m < 12; ++m) {
    months += std::string(" WHEN '") + kMonths[m] + "' THEN '" + (m < 9 ? "0" : "") +
              std::to_string(m + 1) + "'";
  }
  return "CASE WHEN length(" + column + ") = 11 AND substr(" + column + ", 3, 1) = '/' AND substr(" +
         column + ", 7, 1) = '/' THEN substr(" + column + ", 8, 4) || '-' || CASE substr(" +
         column + ", 4, 3)" + months + " END || '-' || substr(" + column + ", 1, 2) END";
}

// Visitors and views per value of `columns` (of "key" and "sub") of a table of classes, the
// most visited first. An empty key is stored as NULL.
std::string ClassReport(const std::string& table, const std::vector<std::string>& columns) {
  std::string keys, order;
  for (size_t k = 0; k < columns.size(); ++k) {
    const std::string name = "c" + std::to_string(k);
    keys += "coalesce(" + columns[k] + ", '') AS " + name + ", ";
    order += ", " + name + " COLLATE BINARY";
  }
  std::string group = order.substr(2);
  for (size_t at; (at = group.find(" COLLATE BINARY")) != std::string::npos;) group.erase(at, 15);
  return "SELECT " + keys + "coalesce(sum(length(visitors) / 8), 0) AS v, " +
         "coalesce(sum(views), 0) AS n FROM " + table + " GROUP BY " + group +
         " ORDER BY v DESC, n DESC" + order;
}

// A name of ours in the Windows-1251 bytes every text of a report is: the Latin letters with
// marks that the code page lacks ("Åland", "Côte") lose their marks.
std::string ReportText(std::string_view utf8) {
  static constexpr std::string_view kLatin1Letters =
      "AAAAAAACEEEEIIIIDNOOOOOxOUUUUYTsaaaaaaaceeeeiiiidnooooo/ouuuuyty";
  std::string folded;
  for (size_t k = 0; k < utf8.size(); ++k) {
    const auto byte = static_cast<unsigned char>(utf8[k]);
    const auto next = k + 1 < utf8.size() ? static_cast<unsigned char>(utf8[k + 1]) : 0;
    if (byte == 0xc3 && next >= 0x80 && next <= 0xbf) {
      folded += kLatin1Letters[next - 0x80];
      ++k;
    } else {
      folded += utf8[k];
    }
  }
  return ConvertCodePage(folded, kCodePageUtf8, kCodePage1251);
}

std::string BlobLiteral(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string literal = "X'";
  for (const char c : bytes) {
    literal += kHex[static_cast<unsigned char>(c) >> 4];
    literal += kHex[static_cast<unsigned char>(c) & 15];
  }
  return literal + "'";
}

// Countries by code with their names in one language; the unknown ones under their key.
std::string CountriesReport(bool russian) {
  std::string names = "(" + BlobLiteral(kUnknownCountry) + ", " +
                      BlobLiteral(ReportText(russian ? "неизвестно" : "unknown")) + ")";
  for (char first = 'A'; first <= 'Z'; ++first) {
    for (char second = 'A'; second <= 'Z'; ++second) {
      const char code[] = {first, second};
      const std::string_view name = CountryName(std::string_view(code, 2), russian);
      if (name.empty()) continue;
      names += ", ('" + std::string(code, 2) + "', " + BlobLiteral(ReportText(name)) + ")";
    }
  }
  // The codes are compared as texts: a key (TEXT) never equals a BLOB.
  return "WITH names(code, name) AS (VALUES " + names +
         ") SELECT coalesce(key, '') AS c, coalesce((SELECT name FROM names WHERE "
         "CAST(code AS TEXT) = coalesce(key, '')), ''), coalesce(sum(length(visitors) / 8), 0) "
         "AS v, coalesce(sum(views), 0) AS n FROM dim_countries GROUP BY c ORDER BY v DESC, "
         "n DESC, c COLLATE BINARY";
}

}  // namespace

bool DimensionCounted(std::string_view name) {
  if (StatsDatabase::IsAbsent()) return false;
  sqlitepp::session& session = StatsDatabase::Instance().session();
  const std::map<std::string, std::string> counted = StoredDimensions(session);
  return counted.count(std::string(name)) != 0 && FindDimensionShape(name) != nullptr &&
         session.has_table(DimensionTableName(name));
}

const std::vector<DimensionReport>& DimensionReports() {
  static const std::vector<DimensionReport> reports = {
      {"status", "status", "status codes", {"code", "requests"}, {false, true}, 1,
       "SELECT key, sum(requests) AS n FROM dim_status GROUP BY key "
       "ORDER BY n DESC, key COLLATE BINARY",
       "SELECT day, key, sum(requests) FROM dim_status GROUP BY day, key "
       "ORDER BY day COLLATE BINARY, key COLLATE BINARY"},
      // Each URL with its requests and the referer that led there most often (ties: the first
      // referer in byte order).
      {"notfound", "notfound", "pages not found", {"url", "requests", "referer"},
       {false, true, false}, -1,
       "SELECT key, total, sub FROM (SELECT key, sub, sum(requests) OVER (PARTITION BY key) AS "
       "total, row_number() OVER (PARTITION BY key ORDER BY requests DESC, sub COLLATE BINARY) "
       "AS place FROM dim_notfound) WHERE place = 1 ORDER BY total DESC, key COLLATE BINARY"},
      // Every hour of the day, those without views too.
      {"hours", "hours", "hours", {"hour", "views", "visitors"}, {true, true, true}, -1,
       "WITH RECURSIVE hour(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM hour WHERE n < 23) "
       "SELECT n, coalesce(sum(views), 0), coalesce(sum(length(visitors) / 8), 0) FROM hour "
       "LEFT JOIN dim_hours ON key = printf('%02d', n) GROUP BY n ORDER BY n",
       "WITH RECURSIVE hour(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM hour WHERE n < 23) "
       "SELECT day, n, sum(views), sum(length(visitors) / 8) FROM hour JOIN dim_hours "
       "ON key = printf('%02d', n) GROUP BY day, n ORDER BY day COLLATE BINARY, n"},
      // Every crawler the list knows that came, with its category; its first and last day in
      // calendar order (YYYY-MM-DD), traffic summed as a float so that no sum can overflow.
      {"crawlers", "crawlers", "crawlers",
       {"name", "category", "requests", "days", "first day", "last day", "traffic"},
       {false, false, true, true, false, false, true}, -1,
       "SELECT key, sub, sum(requests) AS n, count(DISTINCT day), coalesce(min(iso), ''), "
       "coalesce(max(iso), ''), CAST(min(total(traffic), 9223372036854775807.0) AS INTEGER) "
       "FROM (SELECT *, " + IsoDay("day") + " AS iso FROM dim_crawlers) "
       "GROUP BY key, sub ORDER BY n DESC, key COLLATE BINARY, sub COLLATE BINARY",
       // A day's row of each crawler: its requests and traffic of the day, seen on one day.
       "SELECT day, key, sub, sum(requests), 1, iso, iso, "
       "CAST(min(total(traffic), 9223372036854775807.0) AS INTEGER) "
       "FROM (SELECT *, " + IsoDay("day") + " AS iso FROM dim_crawlers) "
       "GROUP BY day, key, sub "
       "ORDER BY day COLLATE BINARY, key COLLATE BINARY, sub COLLATE BINARY"},
      // Arrivals from search engines by phrase; most engines send none today.
      {"engines", "engines", "search engines", {"engine", "phrase", "arrivals"},
       {false, false, true}, 2,
       "SELECT key, CASE WHEN sub IS NULL OR length(sub) = 0 THEN '(not provided)' ELSE sub END, sum(arrivals) AS n "
       "FROM dim_engines GROUP BY key, sub ORDER BY n DESC, key COLLATE BINARY, sub COLLATE BINARY",
       "SELECT day, key, CASE WHEN sub IS NULL OR length(sub) = 0 THEN '(not provided)' ELSE sub "
       "END, sum(arrivals) FROM dim_engines GROUP BY day, key, sub "
       "ORDER BY day COLLATE BINARY, key COLLATE BINARY, sub COLLATE BINARY"},
      // A visitor's browser, system, device class and country are functions of its agent and
      // address: the day sets of a key's rows never share a visitor, so their sizes add up.
      {"browsers", "browsers", "browsers", {"browser", "visitors", "views"},
       {false, true, true}, 1, ClassReport("dim_browsers", {"key"})},
      {"versions", "browsers", "browser versions", {"browser", "version", "visitors", "views"},
       {false, false, true, true}, 2, ClassReport("dim_browsers", {"key", "sub"})},
      {"systems", "systems", "systems", {"system", "visitors", "views"}, {false, true, true}, 1,
       ClassReport("dim_systems", {"key"})},
      {"devices", "systems", "device classes", {"device", "visitors", "views"},
       {false, true, true}, 1, ClassReport("dim_systems", {"sub"})},
      {"countries", "countries", "countries", {"code", "country", "visitors", "views"},
       {false, false, true, true}, 2, CountriesReport(false), std::string(),
       CountriesReport(true)},
  };
  return reports;
}

const DimensionReport* FindDimensionReport(std::string_view name) {
  for (const DimensionReport& report : DimensionReports()) {
    if (report.name == name) return &report;
  }
  return nullptr;
}

namespace {

// The rows of `sql`, whose columns are texts or whole numbers as `numeric` says; `texts_in`
// are bound to the statement's parameters, in order.
void ForEachRow(const std::string& sql, const std::vector<bool>& numeric,
                const std::function<void(const std::vector<std::string>&)>& visit,
                std::vector<std::string> texts_in = {}) {
  sqlitepp::session& session = StatsDatabase::Instance().session();
  std::vector<std::string> texts(numeric.size());
  std::vector<int64_t> numbers(numeric.size());
  sqlitepp::statement rows(session);
  {
    sqlitepp::prepare_query query = rows << sql;
    for (std::string& text : texts_in) query, sqlitepp::use(text);
    for (size_t k = 0; k < numeric.size(); ++k) {
      if (numeric[k]) query, into(numbers[k]);
      else query, into_blob(texts[k]);
    }
  }
  std::vector<std::string> cells(numeric.size());
  while (rows.exec()) {
    for (size_t k = 0; k < cells.size(); ++k)
      cells[k] = numeric[k] ? std::to_string(numbers[k]) : texts[k];
    visit(cells);
  }
}

}  // namespace

void ForEachDimensionReportRow(const DimensionReport& report,
                               const std::function<void(const std::vector<std::string>&)>& visit,
                               bool russian) {
  ForEachRow(russian && !report.query_russian.empty() ? report.query_russian : report.query,
             report.numeric, visit);
}

void ForEachDimensionReportDailyRow(
    const DimensionReport& report,
    const std::function<void(const std::vector<std::string>&)>& visit) {
  std::vector<bool> numeric = {false};
  numeric.insert(numeric.end(), report.numeric.begin(), report.numeric.end());
  ForEachRow(report.daily_query, numeric, visit);
}

void ForEachDimensionReportDailyRowOf(
    const DimensionReport& report, const std::vector<std::string>& key,
    const std::function<void(const std::vector<std::string>&)>& visit) {
  std::vector<bool> numeric = {false};
  numeric.insert(numeric.end(), report.numeric.begin(), report.numeric.end());
  // The daily rows under names of ours, kept to those of the key. A key text stored empty is
  // NULL, and an empty text binds as NULL: both compare as ''.
  std::string names, where;
  for (size_t k = 0; k < numeric.size(); ++k) names += (k ? ", c" : "c") + std::to_string(k);
  for (size_t k = 0; k < key.size(); ++k)
    where += std::string(k ? " AND " : " WHERE ") + "coalesce(c" + std::to_string(k + 1) +
             ", '') = coalesce(?, '')";
  ForEachRow("WITH daily(" + names + ") AS (" + report.daily_query + ") SELECT * FROM daily" +
                 where,
             numeric, visit, key);
}

PeriodSummary ReadPeriodSummary() {
  PeriodSummary summary;
  if (StatsDatabase::IsAbsent()) return summary;
  StatsDatabase& database = StatsDatabase::Instance();
  database.RequireStatsTables();
  sqlitepp::session& session = database.session();
  {
    std::string date;
    int64_t views = 0, visitors = 0;
    std::optional<int> first, last;
    std::string first_text, last_text;
    sqlitepp::statement rows(session);
    rows << "SELECT date, views, visitors FROM common_stats", into_blob(date), into(views),
        into(visitors);
    while (rows.exec()) {
      ++summary.days;
      // Stops at the largest count rather than wrapping (a file edited by hand may hold any).
      if (__builtin_add_overflow(summary.views, views, &summary.views))
        summary.views = std::numeric_limits<int64_t>::max();
      if (__builtin_add_overflow(summary.visitors, visitors, &summary.visitors))
        summary.visitors = std::numeric_limits<int64_t>::max();
      const std::optional<int> day = DateOf(date);
      if (day) {
        if (!first || *day < *first) first = day, summary.first_day = date;
        if (!last || *day > *last) last = day, summary.last_day = date;
      } else {
        if (first_text.empty() || date < first_text) first_text = date;
        if (last_text.empty() || date > last_text) last_text = date;
      }
    }
    if (!first) summary.first_day = first_text, summary.last_day = last_text;
  }
  {
    // total() sums in floating point: no sum of stored counts can fail the report.
    double traffic = 0;
    sqlitepp::statement read(session);
    std::string text;
    read << "SELECT CAST(total(bandwidth) AS TEXT) FROM page_stats", into(text);
    while (read.exec()) {
    }
    traffic = text.empty() ? 0 : std::strtod(text.c_str(), nullptr);
    summary.traffic = traffic >= 9.2e18 ? std::numeric_limits<int64_t>::max()
                                        : static_cast<int64_t>(traffic);
  }
  if (session.has_table("day_sets")) {
    // The union of the days' address sets: 8-byte hashes, the same for one address every day.
    std::vector<uint64_t> addresses;
    std::string blob;
    sqlitepp::statement rows(session);
    rows << "SELECT ips FROM day_sets", into_blob(blob);
    while (rows.exec()) {
      for (size_t k = 0; k + 8 <= blob.size(); k += 8) {
        uint64_t hash = 0;
        for (int b = 0; b < 8; ++b)
          hash |= uint64_t{static_cast<unsigned char>(blob[k + b])} << (8 * b);
        addresses.push_back(hash);
      }
    }
    std::sort(addresses.begin(), addresses.end());
    summary.addresses = static_cast<int64_t>(
        std::unique(addresses.begin(), addresses.end()) - addresses.begin());
  }
  if (DimensionCounted("status")) {
    summary.not_found = Number(
        session, "SELECT coalesce(sum(requests), 0) FROM dim_status WHERE key IN ('404', '410')");
    const int64_t robots = Number(session, "SELECT count(*) FROM robot_log");
    const int64_t others = Number(session, "SELECT coalesce(sum(requests), 0) FROM dim_status");
    if (robots + others > 0)
      summary.bot_share = static_cast<double>(robots) / static_cast<double>(robots + others);
  }
  return summary;
}

}  // namespace hitsieve
