#ifndef HITSIEVE_EXPORT_REPORT_TABLES_H_
#define HITSIEVE_EXPORT_REPORT_TABLES_H_

#include <string>
#include <vector>

// The export tables: a header row and one row per database row, in the screen's SELECT order,
// numbers as plain decimal text (traffic in bytes), no totals row, no "-" placeholders. Built
// from the report screens' own query objects; used by the workbook writer and the command
// line's CSV output.
namespace hitsieve {

struct ReportTable {
  std::vector<std::string> header;             // UTF-8 titles
  std::vector<bool> numeric;                   // per column: cells are integers
  std::vector<std::vector<std::string>> rows;  // cells: Windows-1251 bytes or decimal digits
};

// Each throws sqlitepp::exception when reading fails; `table` is then left empty.
void BuildCommonStatsTable(ReportTable& table);
void BuildPageStatsTable(ReportTable& table);
void BuildQueryStatsTable(ReportTable& table);
// Referers: type 0 rows, then type 1 rows, each in the SELECT's order ("Реферер", "Тип", "Кол-во").
void BuildRefererTable(ReportTable& table);
// Robot log: "Паук", "Запрос", "Код", "IP", "Дата".
void BuildRobotLogTable(ReportTable& table);

}  // namespace hitsieve

#endif  // HITSIEVE_EXPORT_REPORT_TABLES_H_
