#include "export/report_tables.h"

#include <utility>

#include "engine/search_engine.h"
#include "export/report_lists.h"
#include "store/report_queries.h"

namespace hitsieve {

namespace {

// Every column is numeric except those in `text_columns`.
void SendHeader(ReportTableSink& sink, const std::vector<std::string>& header,
                const std::vector<size_t>& text_columns) {
  std::vector<bool> numeric(header.size(), true);
  for (size_t column : text_columns) numeric[column] = false;
  sink.Header(header, numeric);
}

std::vector<std::string> WithEngineTitles(std::vector<std::string> header) {
  for (int id = 0; id < kEngineCount; ++id) header.push_back(EngineColumnTitle(id));
  return header;
}

void AppendEngineCounts(const EngineCounts& counts, std::vector<std::string>& cells) {
  for (int32_t count : counts) cells.push_back(Decimal(count));
}

// Replaces `cells` by the texts, each copied once (a log's text may be megabytes long).
template <class... Texts>
void SetCells(std::vector<std::string>& cells, const Texts&... texts) {
  cells.clear();
  (cells.push_back(texts), ...);
}

// Collects a streamed table into a ReportTable.
class TableCollector : public ReportTableSink {
 public:
  void Header(const std::vector<std::string>& titles, const std::vector<bool>& numeric) override {
    table_.header = titles;
    table_.numeric = numeric;
  }
  void Row(const std::vector<std::string>& cells) override { table_.rows.push_back(cells); }
  ReportTable& table() { return table_; }

 private:
  ReportTable table_;
};

// `table` is filled only once reading has succeeded, so that a database error leaves it empty.
void Build(void (*stream)(ReportTableSink&), ReportTable& table) {
  table = ReportTable{};
  TableCollector collector;
  stream(collector);
  table = std::move(collector.table());
}

}  // namespace

void StreamCommonStatsTable(ReportTableSink& sink) {
  SendHeader(sink, {"Дата", "Хосты", "Посетители", "Просмотры", "Searches"}, {0});
  std::vector<std::string> cells;
  ForEachCommonStatsRow([&](const CommonStatsRow& row) {
    SetCells(cells, row.date, Decimal(row.ips), Decimal(row.visitors), Decimal(row.views),
             Decimal(row.searches));
    sink.Row(cells);
  });
}

void StreamPageStatsTable(ReportTableSink& sink) {
  SendHeader(sink, WithEngineTitles({"Страница", "Посещений", "Searches", "Траффик"}), {0});
  std::vector<std::string> cells;
  ForEachPageStatsRow([&](const PageStatsRow& row) {
    SetCells(cells, row.page, Decimal(row.visits), Decimal(row.searches), Decimal(row.bandwidth));
    AppendEngineCounts(row.engines, cells);
    sink.Row(cells);
  });
}

void StreamQueryStatsTable(ReportTableSink& sink) {
  SendHeader(sink, WithEngineTitles({"Запрос", "Всего"}), {0});
  std::vector<std::string> cells;
  ForEachQueryStatsRow([&](const QueryStatsRow& row) {
    SetCells(cells, row.query, Decimal(row.total));
    AppendEngineCounts(row.engines, cells);
    sink.Row(cells);
  });
}

void StreamRefererTable(ReportTableSink& sink) {
  SendHeader(sink, {"Реферер", "Тип", "Кол-во"}, {0});
  std::vector<std::string> cells;
  // Host rows first, then whole referers. One pass per type over the same ORDER BY cnt query
  // keeps each group in the order in which that query gives rows of equal count.
  for (int type : {0, 1}) {
    ForEachRefererRow([&](const RefererRow& row) {
      if (row.type != type) return;
      SetCells(cells, row.referer, Decimal(row.type), Decimal(row.cnt));
      sink.Row(cells);
    });
  }
}

void StreamRobotLogTable(ReportTableSink& sink) {
  SendHeader(sink, {"Паук", "Запрос", "Код", "IP", "Дата"}, {0, 1, 3, 4});
  std::vector<std::string> cells;
  ForEachRobotLogRow([&](const RobotLogRow& row) {
    SetCells(cells, row.name, row.action, Decimal(row.code), row.ip, row.date);
    sink.Row(cells);
  });
}

void BuildCommonStatsTable(ReportTable& table) { Build(StreamCommonStatsTable, table); }
void BuildPageStatsTable(ReportTable& table) { Build(StreamPageStatsTable, table); }
void BuildQueryStatsTable(ReportTable& table) { Build(StreamQueryStatsTable, table); }
void BuildRefererTable(ReportTable& table) { Build(StreamRefererTable, table); }
void BuildRobotLogTable(ReportTable& table) { Build(StreamRobotLogTable, table); }

}  // namespace hitsieve
