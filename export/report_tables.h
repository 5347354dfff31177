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

// Takes an export table as it is read, so that nobody needs to hold it whole: the header first,
// then each row in order.
class ReportTableSink {
 public:
  virtual ~ReportTableSink() = default;
  virtual void Header(const std::vector<std::string>& titles, const std::vector<bool>& numeric) = 0;
  // `cells` lives only for the call.
  virtual void Row(const std::vector<std::string>& cells) = 0;
};

// Each reads its query to the end, handing the header and every row to `sink`; a database error
// (or the sink's) is thrown after the rows read before it. Referers: type 0 rows, then type 1
// rows, each in the SELECT's order, from two passes over the query, which see the same rows
// only inside one transaction ("Реферер", "Тип", "Кол-во"). Robot log: "Паук", "Запрос", "Код",
// "IP", "Дата".
void StreamCommonStatsTable(ReportTableSink& sink);
void StreamPageStatsTable(ReportTableSink& sink);
void StreamQueryStatsTable(ReportTableSink& sink);
void StreamRefererTable(ReportTableSink& sink);
void StreamRobotLogTable(ReportTableSink& sink);

// The same tables held whole. Each throws sqlitepp::exception when reading fails; `table` is
// then left empty.
void BuildCommonStatsTable(ReportTable& table);
void BuildPageStatsTable(ReportTable& table);
void BuildQueryStatsTable(ReportTable& table);
void BuildRefererTable(ReportTable& table);
void BuildRobotLogTable(ReportTable& table);

}  // namespace hitsieve

#endif  // HITSIEVE_EXPORT_REPORT_TABLES_H_
