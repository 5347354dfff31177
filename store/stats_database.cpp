#include "store/stats_database.h"

#include "store/sqlitepp/statement.h"
#include "store/sqlitepp/transaction.h"
#include "store/stats_merge.h"

namespace hitsieve {

namespace {

// Column order is the order of the row writers' INSERT statements. `bandwidth` holds 64-bit
// values (SQLite integers are 64-bit whatever the declaration).
constexpr const char* kCreateTables[] = {
    "CREATE TABLE common_stats (rec_id INTEGER PRIMARY KEY, date TEXT, ips INTEGER, "
    "visitors INTEGER, views INTEGER, searches INTEGER)",
    "CREATE TABLE page_stats (rec_id INTEGER PRIMARY KEY, page TEXT, visits INTEGER, "
    "searches INTEGER, bandwidth INTEGER, google INTEGER, yandex INTEGER, rambler INTEGER, "
    "mailru INTEGER, aport INTEGER, webalta INTEGER)",
    "CREATE TABLE referer_stats (rec_id INTEGER PRIMARY KEY, referer TEXT, type INTEGER, "
    "cnt INTEGER)",
    "CREATE TABLE robot_log (rec_id INTEGER PRIMARY KEY, name TEXT, action TEXT, code INTEGER, "
    "ip TEXT, date TEXT)",
    "CREATE TABLE query_stats (rec_id INTEGER PRIMARY KEY, query TEXT, total INTEGER, "
    "google INTEGER, yandex INTEGER, rambler INTEGER, mailru INTEGER, aport INTEGER, "
    "webalta INTEGER)",
};

constexpr const char kCountStatsTables[] =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
    "('common_stats', 'page_stats', 'referer_stats', 'robot_log', 'query_stats')";

// A file without any of the five tables (a new one, typically) gets all of them, in one
// transaction so that a failure leaves none. A file holding some is not touched: its missing
// tables surface as errors when a statement names them.
void CreateTablesIfNone(sqlitepp::session& session) {
  int existing = 0;
  {
    sqlitepp::statement count(session);
    count << kCountStatsTables, sqlitepp::into(existing);
    while (count.exec()) {
    }
  }
  if (existing != 0) return;
  sqlitepp::transaction txn(session);
  for (const char* create : kCreateTables) session << create;
  CreateSetTables(session);
  txn.commit();
}

std::string& FileName() {
  static std::string file_name = kDefaultDatabaseFile;
  return file_name;
}

}  // namespace

void StatsDatabase::SetFileName(const std::string& file_name) { FileName() = file_name; }

StatsDatabase& StatsDatabase::Instance() {
  static StatsDatabase database(FileName());
  return database;
}

StatsDatabase::StatsDatabase(const std::string& file_name) : session_(file_name) {
  CreateTablesIfNone(session_);
}

}  // namespace hitsieve
