// The two tables that make a database extendable (day_sets, analysed_logs) and the rows of
// analysed_logs: the logs whose text the statistics hold, as LogSource.

#include "store/sqlitepp/session.h"
#include "store/sqlitepp/statement.h"
#include "store/stats_merge.h"
#include "store/stats_merge_internal.h"

namespace hitsieve {

namespace {

using sqlitepp::into;
using sqlitepp::use;

constexpr const char kCreateDaySets[] =
    "CREATE TABLE IF NOT EXISTS day_sets (rec_id INTEGER PRIMARY KEY, date TEXT, ips BLOB, "
    "visitors BLOB)";
constexpr const char kCreateAnalysedLogs[] =
    "CREATE TABLE IF NOT EXISTS analysed_logs (rec_id INTEGER PRIMARY KEY, name TEXT, "
    "bytes INTEGER, hash INTEGER, head_bytes INTEGER, head_hash INTEGER, first_line_hash INTEGER, "
    "lines INTEGER, time TEXT, first_day TEXT, last_day TEXT, format TEXT)";
// The format is NULL for the default reading, as in the rows of databases written before logs
// remembered their format.
constexpr const char kInsertLogSource[] =
    "INSERT INTO analysed_logs(rec_id, name, bytes, hash, head_bytes, head_hash, first_line_hash, "
    "lines, time, first_day, last_day, format) VALUES(NULL, :name, :bytes, :hash, :head_bytes, "
    ":head_hash, :first_line_hash, :lines, :time, :first_day, :last_day, nullif(:format, ''))";

constexpr const char kNotExtendable[] =
    "the database was written without the tables that adding needs (by an earlier version, "
    "or by hand); run analyse once without --add to make it extendable";

int64_t AsInteger(uint64_t hash) { return static_cast<int64_t>(hash); }

// Databases written before logs remembered their format have no format column: they are read
// as they are, and get the column when their remembered logs are next written.
bool HasFormatColumn(sqlitepp::session& session) {
  int found = 0;
  sqlitepp::statement count(session);
  count << "SELECT count(*) FROM pragma_table_info('analysed_logs') WHERE name = 'format'",
      into(found);
  while (count.exec()) {
  }
  return found != 0;
}

}  // namespace

namespace merge_internal {

void Require(sqlitepp::session& session) {
  if (!IsExtendable(session)) throw NotExtendableError(kNotExtendable);
}

}  // namespace merge_internal

bool IsExtendable(sqlitepp::session& session) {
  int found = 0;
  sqlitepp::statement count(session);
  count << "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
           "('day_sets', 'analysed_logs')",
      into(found);
  while (count.exec()) {
  }
  return found == 2;
}

void CreateSetTables(sqlitepp::session& session) {
  session << kCreateDaySets;
  session << kCreateAnalysedLogs;
}

std::vector<LogSource> LoadLogSources(sqlitepp::session& session) {
  merge_internal::Require(session);
  std::vector<LogSource> sources;
  LogSource row;
  int64_t hash = 0, head_hash = 0, first_line_hash = 0;
  sqlitepp::statement rows(session);
  const std::string format = HasFormatColumn(session) ? "coalesce(format, '')" : "''";
  rows << "SELECT name, bytes, hash, head_bytes, head_hash, first_line_hash, lines, time, "
          "first_day, last_day, " + format + " FROM analysed_logs ORDER BY rec_id",
      into(row.name), into(row.bytes), into(hash), into(row.head_bytes), into(head_hash),
      into(first_line_hash), into(row.lines), into(row.time), into(row.first_day),
      into(row.last_day), into(row.format);
  while (rows.exec()) {
    row.hash = static_cast<uint64_t>(hash);
    row.head_hash = static_cast<uint64_t>(head_hash);
    row.first_line_hash = static_cast<uint64_t>(first_line_hash);
    sources.push_back(row);
  }
  return sources;
}

void WriteLogSources(sqlitepp::session& session, const std::vector<LogSource>& sources) {
  if (!HasFormatColumn(session)) session << "ALTER TABLE analysed_logs ADD COLUMN format TEXT";
  LogSource row;
  int64_t hash = 0, head_hash = 0, first_line_hash = 0;
  sqlitepp::statement insert(session);
  insert << kInsertLogSource, use(row.name), use(row.bytes), use(hash), use(row.head_bytes),
      use(head_hash), use(first_line_hash), use(row.lines), use(row.time), use(row.first_day),
      use(row.last_day), use(row.format);
  for (const LogSource& source : sources) {
    row = source;
    hash = AsInteger(source.hash);
    head_hash = AsInteger(source.head_hash);
    first_line_hash = AsInteger(source.first_line_hash);
    insert.exec();
  }
}

}  // namespace hitsieve
