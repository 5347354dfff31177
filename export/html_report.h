#ifndef HITSIEVE_EXPORT_HTML_REPORT_H_
#define HITSIEVE_EXPORT_HTML_REPORT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/dimension_reports.h"
#include "store/report_queries.h"

// The report page: one self-contained HTML file holding the five reports, a daily chart with a
// date range, a panel per crawler, and a panel per dimension report (drawn from the reports'
// descriptions, with a chart where one reads better than a table). The statistics travel inside the page as JSON; the page's
// own script draws the chart (SVG) and the tables (sortable, filtered, a page of rows at a
// time). Nothing is fetched: a Content-Security-Policy forbids every network request and any
// script but the page's own, so the file works from disk and as an e-mail attachment.
//
// Log texts reach the browser only as JSON strings that the script puts into the page as text,
// never as markup; the few texts written as HTML (the summary's first and last day) are escaped.
// No Qt; the desktop program and hitsieve-cli both call WriteHtmlReportFile.
namespace hitsieve {

// A panel of a dimension report: the report's description, and when the statistics counted
// its dimension, the rows of its query and (for a report with days) of its daily query. Cells
// are as ForEachDimensionReportRow gives them: log texts in Windows-1251, numbers in decimal.
struct DimensionPanel {
  DimensionReport report;
  bool counted = false;
  std::vector<std::vector<std::string>> rows;
  std::vector<std::vector<std::string>> daily;  // the day first
};

// The rows of the five tables, in their queries' order, the panels of the dimension reports
// and the summary of the period.
struct HtmlReportData {
  std::vector<CommonStatsRow> days;
  std::vector<PageStatsRow> pages;
  std::vector<QueryStatsRow> queries;
  std::vector<RefererRow> referers;
  std::vector<RobotLogRow> robots;
  std::vector<DimensionPanel> panels;
  PeriodSummary period;
};

// The days the chart shows, as yyyymmdd: the busy stretch of the calendar. Days are grouped
// into stretches wherever more than a year passes without one; the stretch with the most views
// (then the most days, then the latest) is the busy one. A log with one day in year 9999 or
// 0001 then leaves that day out instead of squeezing the real ones into a few pixels.
struct ChartRange {
  int32_t first = 0, last = 0;
};
std::optional<ChartRange> BusyRange(const std::vector<CommonStatsRow>& days);

// The figures above the chart. Sums are 64-bit, so no column total wraps.
struct HtmlReportSummary {
  int64_t days = 0;            // calendar days inside the busy range
  int64_t days_left_out = 0;   // day keys that are no date, or dates outside the busy range
  std::string first_day, last_day;  // the busy range's ends; empty when no key reads as a date
  int64_t hosts = 0, visitors = 0, views = 0, searches = 0;
  int64_t pages = 0, phrases = 0, robot_hits = 0;
};

// Reads the five tables through the report queries. Throws sqlitepp::exception; `data` is then
// left as it was. REQUIRES: the database has been named; never while a run is saving.
void ReadHtmlReportData(HtmlReportData& data);

// The panels of `reports` (every dimension report by default), in that order. Throws as
// ReadHtmlReportData.
std::vector<DimensionPanel> ReadDimensionPanels(
    const std::vector<DimensionReport>& reports = DimensionReports());

HtmlReportSummary SummariseReport(const HtmlReportData& data);

// Data larger than this many bytes of JSON travels compressed inside the page.
inline constexpr size_t kPlainDataLimit = 4 << 20;

// The whole page, in OutputLanguage(). `generated` is shown as the time of writing (any text;
// escaped).
std::string BuildHtmlReport(const HtmlReportData& data, std::string_view generated);

// Reads the database and writes the page to `path` through a temporary file and a rename.
// An existing `path` is refused unless `replace`. Throws std::runtime_error (or
// sqlitepp::exception) on failure; the previous file, if any, is then left untouched.
void WriteHtmlReportFile(const std::string& path, bool replace);

// The desktop's button: reads the database and writes the page into `folder` as
// hitsieve-report-<yyyy-mm-dd-hhmmss>.html (or -2, -3, ... when the name is taken, since an
// earlier page may be open in a browser). Returns the page's path. Throws as WriteHtmlReportFile.
std::string WriteHtmlReportInto(const std::string& folder);

// The pieces that keep the page safe, exposed for tests.

// A day key "dd/Mon/yyyy" as yyyymmdd, or nothing when it is not a real calendar day (year 0001
// to 9999).
std::optional<int32_t> CalendarDayNumber(std::string_view day_key);

// UTF-8 text as HTML character data or attribute value: & < > " ' become references.
std::string HtmlEscape(std::string_view utf8);

// UTF-8 text as a JSON string literal (with its quotes) that can sit inside a <script> element:
// besides JSON's own escapes, < > & and U+2028/U+2029 are written as \u escapes, so no text can
// close the element, open a comment or end a line for older script parsers. Bytes that are not
// UTF-8 become U+FFFD.
std::string JsonString(std::string_view utf8);

// True for an absolute http or https URL (scheme in any letter case, nothing before it): the
// only referers the page turns into links.
bool IsWebLink(std::string_view url);

}  // namespace hitsieve

#endif  // HITSIEVE_EXPORT_HTML_REPORT_H_
