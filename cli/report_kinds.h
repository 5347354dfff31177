#ifndef HITSIEVE_CLI_REPORT_KINDS_H_
#define HITSIEVE_CLI_REPORT_KINDS_H_

#include <ostream>
#include <string>
#include <string_view>

#include "export/report_tables.h"

// The reports hitsieve-cli knows, described once for both the report and the export command.
namespace hitsieve::cli {

struct ReportKind {
  std::string_view name;                    // as typed on the command line
  // The lists as the window shows them, in UTF-8. Reads the query twice (widths and totals
  // first), so the caller runs it inside one transaction to see the same rows both times.
  void (*print_text)(std::ostream& out);
  void (*stream_table)(ReportTableSink& sink);  // the export table (CSV and workbook)
  bool exportable;                          // offered by the export command
  const char* table;                        // the statistics table it reads
  // A dimension's report (store/dimension_reports.h) instead of the functions above.
  std::string_view dimension = {};
};

// A dimension's report: the list as text (the share of a count after it), or its export table.
// A dimension the stored statistics were not counted with gives a note instead of rows.
void PrintDimensionReport(std::ostream& out, std::string_view name);
void StreamDimensionReport(ReportTableSink& sink, std::string_view name);

// The kind called `name`, or nullptr. REQUIRES for the functions: the database has been named.
const ReportKind* FindReportKind(std::string_view name);

// The kinds' names in their fixed order (only the exportable ones if `exportable_only`),
// separated by ", " and by `last_separator` before the last: "common, pages or queries".
std::string ReportKindNames(bool exportable_only, std::string_view last_separator = ", ");

}  // namespace hitsieve::cli

#endif  // HITSIEVE_CLI_REPORT_KINDS_H_
