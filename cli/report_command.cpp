#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/text_output.h"
#include "engine/text.h"
#include "export/report_lists.h"
#include "export/report_tables.h"
#include "store/report_queries.h"
#include "store/stats_database.h"

namespace hitsieve::cli {

const char kReportHelp[] =
    "Usage: hitsieve-cli report (common|pages|queries|referers|robots) [--db FILE]\n"
    "                           [--format text|csv]\n"
    "\n"
    "Prints one report of the last analysis run on stdout, in UTF-8.\n"
    "  text  the list as the window shows it: totals row first, \"-\" for zero, traffic in\n"
    "        megabytes; referers show the hosts list and then the addresses list, robots\n"
    "        the requests and then the requests per robot (default)\n"
    "  csv   the export table: header row, then the database rows with plain numbers and\n"
    "        traffic in bytes, quoted as RFC 4180 asks\n"
    "\n"
    "Options:\n"
    "  --db FILE      statistics database (default dat1.dt in the current directory)\n"
    "  --format FMT   text or csv\n"
    "  -h, --help     show this help\n";

namespace {

std::vector<std::string> Titles(const ListColumns& columns) {
  std::vector<std::string> titles;
  for (const ListColumn& column : columns) titles.push_back(column.title);
  return titles;
}

void PrintList(const ListColumns& columns, const std::vector<ListRow>& rows) {
  WriteAlignedTable(std::cout, Titles(columns), rows);
}

void PrintText(const std::string& kind) {
  if (kind == "common") {
    std::vector<CommonStatsRow> rows;
    ReadCommonStats(rows);
    PrintList(CommonStatsColumns(), RenderCommonStats(rows));
  } else if (kind == "pages") {
    std::vector<PageStatsRow> rows;
    ReadPageStats(rows);
    PrintList(PageStatsColumns(), RenderPageStats(rows));
  } else if (kind == "queries") {
    std::vector<QueryStatsRow> rows;
    ReadQueryStats(rows);
    PrintList(QueryStatsColumns(), RenderQueryStats(rows));
  } else if (kind == "referers") {
    std::vector<RefererRow> rows;
    ReadRefererStats(rows);
    PrintList(RefererColumns(0), RenderReferers(rows, 0, ""));
    std::cout << '\n';
    PrintList(RefererColumns(1), RenderReferers(rows, 1, ""));
  } else {
    std::vector<RobotLogRow> rows;
    ReadRobotLog(rows);
    PrintList(RobotLogColumns(), RenderRobotLog(rows, ""));
    std::cout << '\n';
    PrintList(RobotSummaryColumns(), RenderRobotSummary(RobotCounts(rows)));
  }
}

void PrintCsv(const std::string& kind) {
  ReportTable table;
  if (kind == "common") BuildCommonStatsTable(table);
  else if (kind == "pages") BuildPageStatsTable(table);
  else if (kind == "queries") BuildQueryStatsTable(table);
  else if (kind == "referers") BuildRefererTable(table);
  else BuildRobotLogTable(table);

  WriteCsvRecord(std::cout, table.header);
  std::vector<std::string> fields;
  for (const auto& row : table.rows) {
    fields.clear();
    for (size_t i = 0; i < row.size(); ++i) {
      const bool numeric = i < table.numeric.size() && table.numeric[i];
      fields.push_back(numeric ? row[i] : Cp1251ToUtf8(row[i]));
    }
    WriteCsvRecord(std::cout, fields);
  }
}

}  // namespace

int ReportCommand(const std::vector<std::string>& args) {
  const ParsedArguments parsed = ParseArguments(args, {{"--help"}, {"--db", true}, {"--format", true}});
  if (parsed.Has("--help")) {
    std::fputs(kReportHelp, stdout);
    return kExitOk;
  }
  if (parsed.operands.size() != 1)
    throw UsageError("report: name exactly one of common, pages, queries, referers, robots");
  const std::string& kind = parsed.operands[0];
  if (kind != "common" && kind != "pages" && kind != "queries" && kind != "referers" &&
      kind != "robots")
    throw UsageError("report: unknown report '" + kind + "'");
  const std::string format = parsed.Value("--format").value_or("text");
  if (format != "text" && format != "csv")
    throw UsageError("report: unknown format '" + format + "' (text or csv)");

  UseDatabase(parsed.Value("--db").value_or(kDefaultDatabaseFile), /*create=*/false);
  if (format == "csv")
    PrintCsv(kind);
  else
    PrintText(kind);
  std::cout.flush();
  if (!std::cout) throw std::runtime_error("cannot write the report to standard output");
  return kExitOk;
}

}  // namespace hitsieve::cli
