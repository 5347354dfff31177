// The reports of the dimensions: their SELECT statements, as the command line (and later the
// desktop and the report page) reads them, and the summary of the period.
#ifndef HITSIEVE_STORE_DIMENSION_REPORTS_H_
#define HITSIEVE_STORE_DIMENSION_REPORTS_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hitsieve {

// True when the stored statistics were counted with the dimension `name` (its rows are then
// the whole truth); false for a database made before it existed, or added to since by runs
// that did not count it. A database file that does not exist yet counts nothing.
bool DimensionCounted(std::string_view name);

// A report of a dimension described as data: its title for people, the dimension it reads,
// its columns and the query that gives its rows (one column per title, in order; lists by
// count, ties by key, so that the rows are the same after any mix of adds and merges).
struct DimensionReport {
  std::string_view name;       // the report's name on the command line
  std::string_view dimension;  // the dimension it reads (DimensionShape::name)
  std::string_view title;      // what it shows, for messages: "status codes"
  std::vector<std::string_view> columns;
  std::vector<bool> numeric;   // per column: a whole number (else a text from the logs)
  int share_of = -1;           // a column whose share of its total follows as "share, %"
  std::string query;
  // The rows of each day, for views limited to a range of days: the day first, then the
  // columns above, with counts that add up over the days, key by key, to the query's rows.
  // Empty for a report whose rows have no day.
  std::string daily_query = {};
  // The query for a reader in Russian where the rows hold texts of ours that are translated
  // (country names); empty when `query` serves both languages.
  std::string query_russian = {};
};

// Every dimension report, in a fixed order; nullptr for an unknown name.
const std::vector<DimensionReport>& DimensionReports();
const DimensionReport* FindDimensionReport(std::string_view name);

// Every row of the report's query, as texts (numbers in decimal), in order; in Russian the
// rows of query_russian where there is one. Texts are Windows-1251 bytes, those from the logs
// and ours alike. The database must hold the dimension's table (DimensionCounted).
void ForEachDimensionReportRow(const DimensionReport& report,
                               const std::function<void(const std::vector<std::string>&)>& visit,
                               bool russian = false);

// Every row of the report's daily query (the day first), as ForEachDimensionReportRow.
// REQUIRES: !report.daily_query.empty().
void ForEachDimensionReportDailyRow(
    const DimensionReport& report,
    const std::function<void(const std::vector<std::string>&)>& visit);

// The rows of the report's daily query whose columns after the day begin with `key` (texts as
// stored, Windows-1251; "" matches a text stored empty), as ForEachDimensionReportDailyRow:
// the days of one row of the report, such as one crawler's.
// REQUIRES: !report.daily_query.empty(); `key` no longer than the report's columns.
void ForEachDimensionReportDailyRowOf(
    const DimensionReport& report, const std::vector<std::string>& key,
    const std::function<void(const std::vector<std::string>&)>& visit);

// The summary of the period the statistics hold.
struct PeriodSummary {
  std::string first_day, last_day;  // as stored (dd/Mon/yyyy); empty when no day
  int64_t days = 0, views = 0, visitors = 0;
  std::optional<int64_t> addresses;  // distinct over the whole period; none without day sets
  int64_t traffic = 0;               // bytes
  std::optional<int64_t> not_found;  // requests with status 404 or 410; none when not counted
  // Share of requests that were robots' (robot log rows among them and every other request);
  // none when status codes are not counted.
  std::optional<double> bot_share;
};
PeriodSummary ReadPeriodSummary();

}  // namespace hitsieve

#endif  // HITSIEVE_STORE_DIMENSION_REPORTS_H_
