#include "export/report_tables.h"

#include <utility>

#include "engine/search_engine.h"
#include "export/report_lists.h"
#include "store/report_queries.h"

namespace hitsieve {

namespace {

// Starts a table with its header; every column is numeric except those listed in `text`.
ReportTable WithHeader(std::vector<std::string> header, std::vector<size_t> text_columns) {
  ReportTable table;
  table.numeric.assign(header.size(), true);
  for (size_t column : text_columns) table.numeric[column] = false;
  table.header = std::move(header);
  return table;
}

void AppendEngineTitles(std::vector<std::string>& header) {
  for (int id = 0; id < kEngineCount; ++id) header.push_back(EngineColumnTitle(id));
}

void AppendEngineCounts(const EngineCounts& counts, std::vector<std::string>& cells) {
  for (int32_t count : counts) cells.push_back(Decimal(count));
}

// Pages and queries: the row's own columns (`leading`, the first one text), then one count per
// search engine.
template <typename Row, typename Leading>
void BuildEngineTable(ReportTable& table, void (*read)(std::vector<Row>&),
                      std::vector<std::string> header, Leading leading) {
  table = ReportTable{};
  std::vector<Row> rows;
  read(rows);
  AppendEngineTitles(header);
  ReportTable result = WithHeader(std::move(header), {0});
  result.rows.reserve(rows.size());
  for (const Row& row : rows) {
    std::vector<std::string> cells = leading(row);
    AppendEngineCounts(row.engines, cells);
    result.rows.push_back(std::move(cells));
  }
  table = std::move(result);
}

}  // namespace

// Each builder reads into its own vector and fills `table` only once reading has succeeded, so
// that a database error leaves `table` empty.

void BuildCommonStatsTable(ReportTable& table) {
  table = ReportTable{};
  std::vector<CommonStatsRow> rows;
  ReadCommonStats(rows);
  ReportTable result =
      WithHeader({"Дата", "Хосты", "Посетители", "Просмотры", "Searches"}, {0});
  result.rows.reserve(rows.size());
  for (const CommonStatsRow& row : rows) {
    result.rows.push_back({row.date, Decimal(row.ips), Decimal(row.visitors), Decimal(row.views),
                           Decimal(row.searches)});
  }
  table = std::move(result);
}

void BuildPageStatsTable(ReportTable& table) {
  BuildEngineTable(table, ReadPageStats, {"Страница", "Посещений", "Searches", "Траффик"},
                   [](const PageStatsRow& row) {
                     return std::vector<std::string>{row.page, Decimal(row.visits),
                                                     Decimal(row.searches), Decimal(row.bandwidth)};
                   });
}

void BuildQueryStatsTable(ReportTable& table) {
  BuildEngineTable(table, ReadQueryStats, {"Запрос", "Всего"}, [](const QueryStatsRow& row) {
    return std::vector<std::string>{row.query, Decimal(row.total)};
  });
}

void BuildRefererTable(ReportTable& table) {
  table = ReportTable{};
  std::vector<RefererRow> rows;
  ReadRefererStats(rows);
  ReportTable result = WithHeader({"Реферер", "Тип", "Кол-во"}, {0});
  result.rows.reserve(rows.size());
  // Host rows first, then whole referers, each group keeping the SELECT's order.
  for (int type : {0, 1}) {
    for (const RefererRow& row : rows) {
      if (row.type == type)
        result.rows.push_back({row.referer, Decimal(row.type), Decimal(row.cnt)});
    }
  }
  table = std::move(result);
}

void BuildRobotLogTable(ReportTable& table) {
  table = ReportTable{};
  std::vector<RobotLogRow> rows;
  ReadRobotLog(rows);
  ReportTable result = WithHeader({"Паук", "Запрос", "Код", "IP", "Дата"}, {0, 1, 3, 4});
  result.rows.reserve(rows.size());
  for (const RobotLogRow& row : rows)
    result.rows.push_back({row.name, row.action, Decimal(row.code), row.ip, row.date});
  table = std::move(result);
}

}  // namespace hitsieve
