#ifndef HITSIEVE_EXPORT_DIMENSION_TABLES_H_
#define HITSIEVE_EXPORT_DIMENSION_TABLES_H_

#include <functional>
#include <string>
#include <vector>

#include "export/spreadsheet_export.h"
#include "store/dimension_reports.h"

// A dimension's report as the window's lists and its workbooks show it: the report's columns,
// then, for a report with a share column, that column's share of its total over every row in
// percent with two decimals after a point ("12.34"). Texts from the logs stay as stored
// (Windows-1251), numbers in decimal. No Qt.
namespace hitsieve {

// Per shown column: a number (the share included).
std::vector<bool> DimensionTableNumeric(const DimensionReport& report);
// The column that holds the share, or -1.
int DimensionShareColumn(const DimensionReport& report);

// The share of `part` in `total` as "12.34", rounded half up; "0.00" for a total of 0.
std::string SharePercent(int64_t part, int64_t total);

// Every row of the report, in the query's order, with its share; reads the query twice when
// the report has a share (the total first). The database must hold the dimension's table.
void ForEachDimensionTableRow(const DimensionReport& report,
                              const std::function<void(const std::vector<std::string>&)>& visit);

// The "Excel" of a dimension's list: `titles` (UTF-8, as the list heads its columns) over the
// rows of ForEachDimensionTableRow, each first given to `shown` when set (which may put a cell
// in the words the list shows it in, Windows-1251 like the rest). Named
// hitsieve-<report>-<time>.xlsx.
class DimensionReportExport : public SpreadsheetExport {
 public:
  using RowShown = std::function<void(std::vector<std::string>& row)>;
  DimensionReportExport(ExportHost& host, const DimensionReport& report,
                        std::vector<std::string> titles, RowShown shown = {});
  bool BuildTable(ReportTable& table) override;

 protected:
  void StreamTable(ReportTableSink& sink) override;
  const char* Kind() const override { return kind_.c_str(); }
  const char* Table() const override { return table_.c_str(); }

 private:
  const DimensionReport& report_;
  std::vector<std::string> titles_;
  RowShown shown_;
  std::string kind_, table_;
  std::vector<std::string> row_;  // reused for each row given to shown_
};

}  // namespace hitsieve

#endif  // HITSIEVE_EXPORT_DIMENSION_TABLES_H_
