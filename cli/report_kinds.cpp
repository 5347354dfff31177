#include "cli/report_kinds.h"

#include <vector>

#include "cli/text_output.h"
#include "export/report_lists.h"
#include "store/report_queries.h"

namespace hitsieve::cli {

namespace {

void PrintList(std::ostream& out, const ListColumns& columns, const std::vector<ListRow>& rows) {
  std::vector<std::string> titles;
  for (const ListColumn& column : columns) titles.push_back(column.title);
  WriteAlignedTable(out, titles, rows);
}

// A report whose screen shows one list: read its rows, render them as the window does.
template <typename Row, void (*Read)(std::vector<Row>&), const ListColumns& (*Columns)(),
          std::vector<ListRow> (*Render)(const std::vector<Row>&)>
void PrintOneList(std::ostream& out) {
  std::vector<Row> rows;
  Read(rows);
  PrintList(out, Columns(), Render(rows));
}

// The hosts list, then the whole referers, as the screen's two modes show them unfiltered.
void PrintReferers(std::ostream& out) {
  std::vector<RefererRow> rows;
  ReadRefererStats(rows);
  PrintList(out, RefererColumns(0), RenderReferers(rows, 0, ""));
  out << '\n';
  PrintList(out, RefererColumns(1), RenderReferers(rows, 1, ""));
}

// Every robot request, then the requests per robot.
void PrintRobots(std::ostream& out) {
  std::vector<RobotLogRow> rows;
  ReadRobotLog(rows);
  PrintList(out, RobotLogColumns(), RenderRobotLog(rows, ""));
  out << '\n';
  PrintList(out, RobotSummaryColumns(), RenderRobotSummary(RobotCounts(rows)));
}

// The order is that of the help texts and the error messages.
const ReportKind kReportKinds[] = {
    {"common",
     PrintOneList<CommonStatsRow, ReadCommonStats, CommonStatsColumns, RenderCommonStats>,
     BuildCommonStatsTable, true, "common_stats"},
    {"pages", PrintOneList<PageStatsRow, ReadPageStats, PageStatsColumns, RenderPageStats>,
     BuildPageStatsTable, true, "page_stats"},
    {"queries", PrintOneList<QueryStatsRow, ReadQueryStats, QueryStatsColumns, RenderQueryStats>,
     BuildQueryStatsTable, true, "query_stats"},
    {"referers", PrintReferers, BuildRefererTable, false, "referer_stats"},
    {"robots", PrintRobots, BuildRobotLogTable, false, "robot_log"},
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
