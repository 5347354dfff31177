// The report screens' SELECT statements, each compiled once and read into its row records.

#include "store/report_queries.h"

#include "store/sqlitepp/statement.h"
#include "store/stats_database.h"

namespace hitsieve {

namespace {

using sqlitepp::into;

// One report's SELECT with the row variable its into binders write. Made on first use (which
// opens the database) and kept until the process ends, so it is never copied or moved.
template <class Row>
class ReportQuery {
 public:
  // `setup(statement, row)` gives the statement its text and one into binder per column.
  template <class Setup>
  ReportQuery(const char* table, Setup setup)
      : table_(table), statement_(StatsDatabase::Instance().session()) {
    setup(statement_, row_);
  }

  // Hands every row to `visit`. If reading or `visit` fails the compiled statement is
  // dropped, so the next pass starts from the first row instead of resuming a half-read result.
  template <class Visit>
  void ForEach(const Visit& visit) {
    // A view by that name (another program's file) could recurse without end.
    StatsDatabase::Instance().RequireTable(table_);
    try {
      while (statement_.exec()) visit(row_);
    } catch (...) {
      statement_.release();
      throw;
    }
  }

 private:
  const char* table_;
  Row row_;
  sqlitepp::statement statement_;
};

}  // namespace

int64_t CountStatsRows(const char* table) {
  if (StatsDatabase::IsAbsent()) return 0;
  StatsDatabase& database = StatsDatabase::Instance();
  database.RequireTable(table);
  int64_t rows = 0;
  sqlitepp::statement count(database.session());
  count << "SELECT count(*) FROM " << table, into(rows);
  while (count.exec()) {
  }
  return rows;
}

void ForEachCommonStatsRow(const std::function<void(const CommonStatsRow&)>& visit) {
  if (StatsDatabase::IsAbsent()) return;
  static ReportQuery<CommonStatsRow> query("common_stats", [](sqlitepp::statement& st, CommonStatsRow& r) {
    st << kCommonStatsQuery, into(r.rec_id), into(r.date), into(r.ips), into(r.visitors),
        into(r.views), into(r.searches);
  });
  query.ForEach(visit);
}

void ForEachPageStatsRow(const std::function<void(const PageStatsRow&)>& visit) {
  if (StatsDatabase::IsAbsent()) return;
  static ReportQuery<PageStatsRow> query("page_stats", [](sqlitepp::statement& st, PageStatsRow& r) {
    st << kPageStatsQuery, into(r.rec_id), into(r.page), into(r.visits), into(r.searches),
        into(r.bandwidth), into(r.engines[kGoogle]), into(r.engines[kYandex]),
        into(r.engines[kRambler]), into(r.engines[kMailru]), into(r.engines[kAport]),
        into(r.engines[kWebalta]);
  });
  query.ForEach(visit);
}

void ForEachQueryStatsRow(const std::function<void(const QueryStatsRow&)>& visit) {
  if (StatsDatabase::IsAbsent()) return;
  static ReportQuery<QueryStatsRow> query("query_stats", [](sqlitepp::statement& st, QueryStatsRow& r) {
    st << kQueryStatsQuery, into(r.query), into(r.total), into(r.engines[kGoogle]),
        into(r.engines[kYandex]), into(r.engines[kRambler]), into(r.engines[kMailru]),
        into(r.engines[kAport]), into(r.engines[kWebalta]);
  });
  query.ForEach(visit);
}

void ForEachRefererRow(const std::function<void(const RefererRow&)>& visit) {
  if (StatsDatabase::IsAbsent()) return;
  static ReportQuery<RefererRow> query("referer_stats", [](sqlitepp::statement& st, RefererRow& r) {
    st << kRefererQuery, into(r.rec_id), into(r.referer), into(r.type), into(r.cnt);
  });
  query.ForEach(visit);
}

void ForEachRobotLogRow(const std::function<void(const RobotLogRow&)>& visit) {
  if (StatsDatabase::IsAbsent()) return;
  static ReportQuery<RobotLogRow> query("robot_log", [](sqlitepp::statement& st, RobotLogRow& r) {
    st << kRobotLogQuery, into(r.name), into(r.action), into(r.code), into(r.ip), into(r.date);
  });
  query.ForEach(visit);
}

void ForEachRobotCount(const std::function<void(const std::string& name, int64_t count)>& visit) {
  if (StatsDatabase::IsAbsent()) return;
  struct RobotCountRow {
    std::string name;
    int64_t count = 0;
  };
  static ReportQuery<RobotCountRow> query("robot_log", [](sqlitepp::statement& st, RobotCountRow& r) {
    st << kRobotCountQuery, sqlitepp::into_blob(r.name), into(r.count);
  });
  query.ForEach([&visit](const RobotCountRow& row) { visit(row.name, row.count); });
}

namespace {

template <class Row>
void AppendAll(void (*for_each)(const std::function<void(const Row&)>&), std::vector<Row>& rows) {
  for_each([&rows](const Row& row) { rows.push_back(row); });
}

}  // namespace

void ReadCommonStats(std::vector<CommonStatsRow>& rows) { AppendAll(ForEachCommonStatsRow, rows); }
void ReadPageStats(std::vector<PageStatsRow>& rows) { AppendAll(ForEachPageStatsRow, rows); }
void ReadQueryStats(std::vector<QueryStatsRow>& rows) { AppendAll(ForEachQueryStatsRow, rows); }
void ReadRefererStats(std::vector<RefererRow>& rows) { AppendAll(ForEachRefererRow, rows); }
void ReadRobotLog(std::vector<RobotLogRow>& rows) { AppendAll(ForEachRobotLogRow, rows); }

}  // namespace hitsieve
