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

  // Appends every row. If reading fails the compiled statement is dropped, so the next read
  // starts from the first row instead of resuming a half-read result.
  void ReadAll(std::vector<Row>& rows) {
    // A view by that name (another program's file) could recurse without end.
    StatsDatabase::Instance().RequireTable(table_);
    try {
      while (statement_.exec()) rows.push_back(row_);
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
  StatsDatabase& database = StatsDatabase::Instance();
  database.RequireTable(table);
  int64_t rows = 0;
  sqlitepp::statement count(database.session());
  count << "SELECT count(*) FROM " << table, into(rows);
  while (count.exec()) {
  }
  return rows;
}

void ReadCommonStats(std::vector<CommonStatsRow>& rows) {
  static ReportQuery<CommonStatsRow> query("common_stats", [](sqlitepp::statement& st, CommonStatsRow& r) {
    st << kCommonStatsQuery, into(r.rec_id), into(r.date), into(r.ips), into(r.visitors),
        into(r.views), into(r.searches);
  });
  query.ReadAll(rows);
}

void ReadPageStats(std::vector<PageStatsRow>& rows) {
  static ReportQuery<PageStatsRow> query("page_stats", [](sqlitepp::statement& st, PageStatsRow& r) {
    st << kPageStatsQuery, into(r.rec_id), into(r.page), into(r.visits), into(r.searches),
        into(r.bandwidth), into(r.engines[kGoogle]), into(r.engines[kYandex]),
        into(r.engines[kRambler]), into(r.engines[kMailru]), into(r.engines[kAport]),
        into(r.engines[kWebalta]);
  });
  query.ReadAll(rows);
}

void ReadQueryStats(std::vector<QueryStatsRow>& rows) {
  static ReportQuery<QueryStatsRow> query("query_stats", [](sqlitepp::statement& st, QueryStatsRow& r) {
    st << kQueryStatsQuery, into(r.query), into(r.total), into(r.engines[kGoogle]),
        into(r.engines[kYandex]), into(r.engines[kRambler]), into(r.engines[kMailru]),
        into(r.engines[kAport]), into(r.engines[kWebalta]);
  });
  query.ReadAll(rows);
}

void ReadRefererStats(std::vector<RefererRow>& rows) {
  static ReportQuery<RefererRow> query("referer_stats", [](sqlitepp::statement& st, RefererRow& r) {
    st << kRefererQuery, into(r.rec_id), into(r.referer), into(r.type), into(r.cnt);
  });
  query.ReadAll(rows);
}

void ReadRobotLog(std::vector<RobotLogRow>& rows) {
  static ReportQuery<RobotLogRow> query("robot_log", [](sqlitepp::statement& st, RobotLogRow& r) {
    st << kRobotLogQuery, into(r.name), into(r.action), into(r.code), into(r.ip), into(r.date);
  });
  query.ReadAll(rows);
}

}  // namespace hitsieve
