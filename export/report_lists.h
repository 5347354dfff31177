#ifndef HITSIEVE_EXPORT_REPORT_LISTS_H_
#define HITSIEVE_EXPORT_REPORT_LISTS_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "store/report_queries.h"

// How the report lists show their rows: column sets and cell texts, totals row first. Shared by
// the window's grids and the command line's text reports, so both show exactly the same cells.
// Cell texts and titles are UTF-8 (stored Windows-1251 bytes are converted here).
namespace hitsieve {

struct ListColumn {
  std::string title;
  int width = 0;  // pixels
};
using ListColumns = std::vector<ListColumn>;
using ListRow = std::vector<std::string>;

std::string Decimal(int64_t value);
// "-" for 0 or less, otherwise Decimal.
std::string DashOrDecimal(int64_t value);
// Bytes as megabytes with two decimals and a decimal comma: 1048576 -> "1,00".
std::string Megabytes(int64_t bytes);

const ListColumns& LogFileColumns();
const ListColumns& CommonStatsColumns();
const ListColumns& PageStatsColumns();
const ListColumns& QueryStatsColumns();
const ListColumns& RefererColumns(int mode);  // 0 hosts, 1 whole referers
const ListColumns& RobotLogColumns();
const ListColumns& RobotSummaryColumns();

// Sums a list's counts, row by row, for the totals row that heads it, and formats each count's
// cell on the way. A total stops at the 64-bit limits instead of wrapping. One per list pass.
class ListTotals {
 public:
  // Starts the counts of the next row.
  void StartRow();
  // Each adds the value to the total of the row's next count column and returns the value's
  // cell: Count as DashOrDecimal, Megabytes in megabytes (and its total so too, which reads
  // 0,00 rather than "-").
  std::string Count(int64_t value);
  std::string Megabytes(int64_t bytes);
  // The totals row: an empty first cell, then one per count column. Over no rows it is the
  // empty first cell alone: there is nothing to sum.
  ListRow Cells() const;

 private:
  struct Column {
    int64_t sum = 0;
    bool megabytes = false;
  };
  std::string Add(int64_t value, bool megabytes);

  bool any_row_ = false;
  size_t next_ = 0;
  std::vector<Column> columns_;
};

// One database row's cells as its list shows them, its counts added to `totals`.
ListRow CommonStatsCells(const CommonStatsRow& row, ListTotals& totals);
ListRow PageStatsCells(const PageStatsRow& row, ListTotals& totals);
ListRow QueryStatsCells(const QueryStatsRow& row, ListTotals& totals);
// Lists without a totals row.
ListRow RefererCells(const RefererRow& row);
ListRow RobotLogCells(const RobotLogRow& row);
ListRow RobotSummaryCells(const std::string& name, int64_t count);

// Whether a referer row belongs in the list of `mode`, less those whose referer contains
// `exclusion` (raw bytes, case-sensitive, anywhere); an empty exclusion hides nothing.
bool ShowsReferer(const RefererRow& row, int mode, std::string_view exclusion);

// Whole lists, for the window's grids. The totals row (empty first cell) comes first, then one
// row per database row, in order. An empty table gives the totals row alone, holding only its
// empty first cell.
std::vector<ListRow> RenderCommonStats(const std::vector<CommonStatsRow>& rows);
std::vector<ListRow> RenderPageStats(const std::vector<PageStatsRow>& rows);
std::vector<ListRow> RenderQueryStats(const std::vector<QueryStatsRow>& rows);

// Rows that ShowsReferer(row, mode, exclusion). No totals row.
std::vector<ListRow> RenderReferers(const std::vector<RefererRow>& rows, int mode,
                                    std::string_view exclusion);

// Rows whose name equals `name` exactly; every row when `name` is empty.
std::vector<ListRow> RenderRobotLog(const std::vector<RobotLogRow>& rows, std::string_view name);

// Robot name (stored bytes) -> number of rows, in byte order of the name.
std::map<std::string, int64_t> RobotCounts(const std::vector<RobotLogRow>& rows);
std::vector<ListRow> RenderRobotSummary(const std::map<std::string, int64_t>& counts);

}  // namespace hitsieve

#endif  // HITSIEVE_EXPORT_REPORT_LISTS_H_
