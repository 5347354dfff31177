#include "cli/report_kinds.h"

#include <cstdio>
#include <functional>
#include <iostream>
#include <vector>

#include "cli/text_output.h"
#include "export/report_lists.h"
#include "engine/text.h"
#include "store/dimension_reports.h"
#include "store/report_queries.h"
#include "store/stats_database.h"

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

std::string Thousands(int64_t value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > (value < 0 ? 1 : 0); at -= 3)
    digits.insert(static_cast<size_t>(at), " ");
  return digits;
}

// The summary of the period, then the days as the window lists them.
void PrintCommon(std::ostream& out) {
  const PeriodSummary summary = ReadPeriodSummary();
  if (summary.days > 0) {
    char share[32] = "not counted";
    if (summary.bot_share) std::snprintf(share, sizeof share, "%.1f%%", *summary.bot_share * 100);
    char traffic[32];
    std::snprintf(traffic, sizeof traffic, "%.2f MB", static_cast<double>(summary.traffic) / 1048576.0);
    AlignedTableWriter lines({"Period", ""});
    const std::vector<std::vector<std::string>> rows = {
        {"first day", Cp1251ToUtf8(summary.first_day)},
        {"last day", Cp1251ToUtf8(summary.last_day)},
        {"days", Thousands(summary.days)},
        {"views", Thousands(summary.views)},
        {"visitors", Thousands(summary.visitors) + " (sum of the days)"},
        {"addresses", summary.addresses ? Thousands(*summary.addresses) + " (distinct)"
                                        : std::string("unknown")},
        {"traffic", traffic},
        {"not found", summary.not_found ? Thousands(*summary.not_found) + " requests"
                                        : std::string("not counted")},
        {"robots", summary.bot_share ? std::string(share) + " of the requests"
                                     : std::string("not counted")},
    };
    for (const auto& row : rows) lines.Measure(row);
    for (const auto& row : rows) lines.WriteRow(out, row);
    out << '\n';
  }
  PrintTotalledList<CommonStatsRow, ForEachCommonStatsRow, CommonStatsColumns, CommonStatsCells>(
      out);
}

// The order is that of the help texts and the error messages.
const ReportKind kReportKinds[] = {
    {"common", PrintCommon, StreamCommonStatsTable, true, "common_stats"},
    {"pages", PrintTotalledList<PageStatsRow, ForEachPageStatsRow, PageStatsColumns, PageStatsCells>,
     StreamPageStatsTable, true, "page_stats"},
    {"queries",
     PrintTotalledList<QueryStatsRow, ForEachQueryStatsRow, QueryStatsColumns, QueryStatsCells>,
     StreamQueryStatsTable, true, "query_stats"},
    {"referers", PrintReferers, StreamRefererTable, false, "referer_stats"},
    {"robots", PrintRobots, StreamRobotLogTable, false, "robot_log"},
    {"status", nullptr, nullptr, false, "dim_status", "status"},
    {"notfound", nullptr, nullptr, false, "dim_notfound", "notfound"},
    {"hours", nullptr, nullptr, false, "dim_hours", "hours"},
    {"crawlers", nullptr, nullptr, false, "dim_crawlers", "crawlers"},
    {"engines", nullptr, nullptr, false, "dim_engines", "engines"},
    {"browsers", nullptr, nullptr, false, "dim_browsers", "browsers"},
    {"versions", nullptr, nullptr, false, "dim_browsers", "versions"},
    {"systems", nullptr, nullptr, false, "dim_systems", "systems"},
    {"devices", nullptr, nullptr, false, "dim_systems", "devices"},
    {"countries", nullptr, nullptr, false, "dim_countries", "countries"},
};

// What a report of a dimension not counted says, in place of its rows.
std::string NotCounted(const DimensionReport& report) {
  return "The " + std::string(report.title) +
         " are not counted in these statistics (they were made before, or added to by a run "
         "that did not count them); a run of analyse without --add counts them.";
}

std::vector<std::string> DimensionTitles(const DimensionReport& report) {
  std::vector<std::string> titles(report.columns.begin(), report.columns.end());
  if (report.share_of >= 0) titles.push_back("share, %");
  return titles;
}

// Every row of the report with its share after it (of the column's total over all rows).
void ForEachShownRow(const DimensionReport& report,
                     const std::function<void(const std::vector<std::string>&)>& visit) {
  int64_t total = 0;
  if (report.share_of >= 0) {
    ForEachDimensionReportRow(report, [&](const std::vector<std::string>& cells) {
      total += std::stoll(cells[static_cast<size_t>(report.share_of)]);
    });
  }
  std::vector<std::string> shown;
  ForEachDimensionReportRow(report, [&](const std::vector<std::string>& cells) {
    shown = cells;
    if (report.share_of >= 0) {
      const double count = static_cast<double>(std::stoll(cells[static_cast<size_t>(report.share_of)]));
      char share[32];
      std::snprintf(share, sizeof share, "%.2f", total > 0 ? 100.0 * count / static_cast<double>(total) : 0.0);
      shown.push_back(share);
    }
    visit(shown);
  });
}

}  // namespace

void PrintDimensionReport(std::ostream& out, std::string_view name) {
  const DimensionReport& report = *FindDimensionReport(name);
  if (!DimensionCounted(report.dimension)) {
    if (!StatsDatabase::IsAbsent()) out << NotCounted(report) << '\n';
    return;
  }
  const std::vector<std::string> titles = DimensionTitles(report);
  AlignedTableWriter writer(titles);
  std::vector<std::string> utf8;
  auto texts = [&](const std::vector<std::string>& cells) -> const std::vector<std::string>& {
    utf8 = cells;
    for (size_t k = 0; k < report.columns.size(); ++k) {
      if (!report.numeric[k]) utf8[k] = Cp1251ToUtf8(cells[k]);
    }
    return utf8;
  };
  ForEachShownRow(report, [&](const std::vector<std::string>& cells) { writer.Measure(texts(cells)); });
  writer.WriteTitles(out);
  ForEachShownRow(report, [&](const std::vector<std::string>& cells) {
    writer.WriteRow(out, texts(cells));
  });
}

void StreamDimensionReport(ReportTableSink& sink, std::string_view name) {
  const DimensionReport& report = *FindDimensionReport(name);
  std::vector<bool> numeric = report.numeric;
  if (report.share_of >= 0) numeric.push_back(true);
  sink.Header(DimensionTitles(report), numeric);
  if (!DimensionCounted(report.dimension)) {
    if (!StatsDatabase::IsAbsent()) std::cerr << "hitsieve-cli: " << NotCounted(report) << '\n';
    return;
  }
  ForEachShownRow(report, [&](const std::vector<std::string>& cells) { sink.Row(cells); });
}

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
