#include "cli/report_kinds.h"

#include <functional>
#include <vector>

#include "cli/text_output.h"
#include "export/report_lists.h"
#include "store/report_queries.h"

// The text reports stream their rows: nothing here holds more than one row's cells, whatever
// the size of the table. Aligning the columns and heading a list with its totals needs every
// row first, so each list is read twice: once to measure the cells and sum the totals, once to
// write them.
namespace hitsieve::cli {

namespace {

std::vector<std::string> Titles(const ListColumns& columns) {
  std::vector<std::string> titles;
  for (const ListColumn& column : columns) titles.push_back(column.title);
  return titles;
}

// A list with its totals row: both passes render the cells, the first also sums the totals.
template <typename Row, void (*ForEach)(const std::function<void(const Row&)>&),
          const ListColumns& (*Columns)(), ListRow (*Cells)(const Row&, ListTotals&)>
void PrintTotalledList(std::ostream& out) {
  AlignedTableWriter writer(Titles(Columns()));
  ListTotals totals;
  ForEach([&](const Row& row) { writer.Measure(Cells(row, totals)); });
  const ListRow totals_row = totals.Cells();
  writer.Measure(totals_row);
  writer.WriteTitles(out);
  writer.WriteRow(out, totals_row);
  ListTotals summed_again;
  ForEach([&](const Row& row) { writer.WriteRow(out, Cells(row, summed_again)); });
}

// The hosts list, then the whole referers, as the screen's two modes show them unfiltered.
// The one ORDER BY cnt query gives each list its rows, so rows of equal count keep its order.
void PrintReferers(std::ostream& out) {
  AlignedTableWriter lists[] = {AlignedTableWriter(Titles(RefererColumns(0))),
                                AlignedTableWriter(Titles(RefererColumns(1)))};
  ForEachRefererRow([&](const RefererRow& row) {
    for (int mode : {0, 1}) {
      if (ShowsReferer(row, mode, "")) lists[mode].Measure(RefererCells(row));
    }
  });
  for (int mode : {0, 1}) {
    if (mode == 1) out << '\n';
    lists[mode].WriteTitles(out);
    ForEachRefererRow([&](const RefererRow& row) {
      if (ShowsReferer(row, mode, "")) lists[mode].WriteRow(out, RefererCells(row));
    });
  }
}

// Every robot request, then the requests per robot, counted by the database.
void PrintRobots(std::ostream& out) {
  AlignedTableWriter log(Titles(RobotLogColumns()));
  ForEachRobotLogRow([&](const RobotLogRow& row) { log.Measure(RobotLogCells(row)); });
  log.WriteTitles(out);
  ForEachRobotLogRow([&](const RobotLogRow& row) { log.WriteRow(out, RobotLogCells(row)); });
  out << '\n';
  AlignedTableWriter summary(Titles(RobotSummaryColumns()));
  ForEachRobotCount([&](const std::string& name, int64_t count) {
    summary.Measure(RobotSummaryCells(name, count));
  });
  summary.WriteTitles(out);
  ForEachRobotCount([&](const std::string& name, int64_t count) {
    summary.WriteRow(out, RobotSummaryCells(name, count));
  });
}

// The order is that of the help texts and the error messages.
const ReportKind kReportKinds[] = {
    {"common",
     PrintTotalledList<CommonStatsRow, ForEachCommonStatsRow, CommonStatsColumns, CommonStatsCells>,
     StreamCommonStatsTable, true, "common_stats"},
    {"pages", PrintTotalledList<PageStatsRow, ForEachPageStatsRow, PageStatsColumns, PageStatsCells>,
     StreamPageStatsTable, true, "page_stats"},
    {"queries",
     PrintTotalledList<QueryStatsRow, ForEachQueryStatsRow, QueryStatsColumns, QueryStatsCells>,
     StreamQueryStatsTable, true, "query_stats"},
    {"referers", PrintReferers, StreamRefererTable, false, "referer_stats"},
    {"robots", PrintRobots, StreamRobotLogTable, false, "robot_log"},
};

}  // namespace

const ReportKind* FindReportKind(std::string_view name) {
  for (const ReportKind& kind : kReportKinds) {
    if (kind.name == name) return &kind;
  }
  return nullptr;
}

std::string ReportKindNames(bool exportable_only, std::string_view last_separator) {
  std::vector<std::string_view> names;
  for (const ReportKind& kind : kReportKinds) {
    if (kind.exportable || !exportable_only) names.push_back(kind.name);
  }
  std::string joined;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) joined += i + 1 == names.size() ? last_separator : ", ";
    joined += names[i];
  }
  return joined;
}

}  // namespace hitsieve::cli
