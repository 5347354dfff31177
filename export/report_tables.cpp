#include "export/report_tables.h"

#include <utility>

#include "engine/search_engine.h"
#include "export/report_lists.h"
#include "store/report_queries.h"

namespace hitsieve {

namespace {

void AppendEngineTitles(std::vector<std::string>& header) {
  for (int id = 0; id < kEngineCount; ++id) header.push_back(EngineColumnTitle(id));
}

void AppendEngineCounts(const EngineCounts& counts, std::vector<std::string>& cells) {
  for (int32_t count : counts) cells.push_back(Decimal(count));
}

// Reads every row with `read`, then lets `add_rows(rows, table_rows)` turn them into cells.
// Every column is numeric except those in `text_columns`. `table` is filled only once reading
// has succeeded, so that a database error leaves it empty.
template <typename Row, typename AddRows>
void BuildTable(ReportTable& table, void (*read)(std::vector<Row>&),
                std::vector<std::string> header, const std::vector<size_t>& text_columns,
                AddRows add_rows) {
  table = ReportTable{};
  std::vector<Row> rows;
  read(rows);
  ReportTable result;
  result.numeric.assign(header.size(), true);
  for (size_t column : text_columns) result.numeric[column] = false;
  result.header = std::move(header);
  result.rows.reserve(rows.size());
  add_rows(rows, result.rows);
  table = std::move(result);
}

// Pages and queries: the row's own columns (`leading`, the first one text), then one count per
// search engine.
template <typename Row, typename Leading>
void BuildEngineTable(ReportTable& table, void (*read)(std::vector<Row>&),
                      std::vector<std::string> header, Leading leading) {
  AppendEngineTitles(header);
  BuildTable(table, read, std::move(header), {0}, [&](const std::vector<Row>& rows, auto& out) {
    for (const Row& row : rows) {
      std::vector<std::string> cells = leading(row);
      AppendEngineCounts(row.engines, cells);
      out.push_back(std::move(cells));
    }
  });
}

}  // namespace

void BuildCommonStatsTable(ReportTable& table) {
  BuildTable(table, ReadCommonStats, {"Дата", "Хосты", "Посетители", "Просмотры", "Searches"},
             {0}, [](const std::vector<CommonStatsRow>& rows, auto& out) {
               for (const CommonStatsRow& row : rows) {
                 out.push_back({row.date, Decimal(row.ips), Decimal(row.visitors),
                                Decimal(row.views), Decimal(row.searches)});
               }
             });
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
  BuildTable(table, ReadRefererStats, {"Реферер", "Тип", "Кол-во"}, {0},
             [](const std::vector<RefererRow>& rows, auto& out) {
               // Host rows first, then whole referers, each group keeping the SELECT's order.
               for (int type : {0, 1}) {
                 for (const RefererRow& row : rows) {
                   if (row.type == type)
                     out.push_back({row.referer, Decimal(row.type), Decimal(row.cnt)});
                 }
               }
             });
}

void BuildRobotLogTable(ReportTable& table) {
  BuildTable(table, ReadRobotLog, {"Паук", "Запрос", "Код", "IP", "Дата"}, {0, 1, 3, 4},
             [](const std::vector<RobotLogRow>& rows, auto& out) {
               for (const RobotLogRow& row : rows)
                 out.push_back({row.name, row.action, Decimal(row.code), row.ip, row.date});
             });
}

}  // namespace hitsieve
