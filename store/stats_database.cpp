// Opening the statistics database, giving a new file its tables, and the checks made before
// a run writes to it.

#include "store/stats_database.h"

#include <sys/stat.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "store/database_location.h"
#include "store/key_order.h"
#include "store/log_piece.h"
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
constexpr int kStatsTableCount = 5;
constexpr int kPageSize = 4096;

int CountStatsTables(sqlitepp::session& session) {
  int existing = 0;
  sqlitepp::statement count(session);
  count << kCountStatsTables, sqlitepp::into(existing);
  while (count.exec()) {
  }
  return existing;
}

// A new, empty file gets all the tables, in one transaction so that a failure leaves none. A
// file holding some of the five is not touched: its missing tables surface as errors when a
// statement names them. A file holding none of them but other things is another program's
// database, and our tables are not added to it.
void CreateTablesIfNone(sqlitepp::session& session, const std::string& file_name) {
  if (CountStatsTables(session) != 0) return;
  int others = 0;
  {
    sqlitepp::statement count(session);
    count << "SELECT count(*) FROM sqlite_master WHERE name NOT IN ('day_sets', 'analysed_logs')",
        sqlitepp::into(others);
    while (count.exec()) {
    }
  }
  if (others != 0) {
    throw std::runtime_error("database " + file_name +
                             " holds other tables and none of the statistics tables: it is "
                             "not a statistics database");
  }
  CreateStatsTables(session);
}

std::string& NamedFile() {
  static std::string file_name = kDefaultDatabaseFile;
  return file_name;
}

bool IsMissing(const std::string& file_name) {
  struct stat info;
  return ::lstat(file_name.c_str(), &info) != 0 && errno == ENOENT;
}

bool& ReadOnly() {
  static bool read_only = false;
  return read_only;
}

void RefuseWhatIsNoFile(const std::string& file_name) {
  struct stat info;
  if (::stat(file_name.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return;
  throw std::runtime_error("database " + file_name + " is not a regular file");
}

}  // namespace

void CreateStatsTables(sqlitepp::session& session) {
  // Set before the first table, while the file holds nothing. SQLite's 4 KiB: an add or a
  // merge changes rows scattered over its tables in place, and each page it changes is read,
  // journalled and written whole; with 16 KiB pages an add onto five years wrote four times
  // the bytes and took nearly twice as long as onto one year. A replacing save writes each
  // page once, in order, and is as fast with either. Existing files keep their page size.
  session << "PRAGMA page_size = " << kPageSize;
  sqlitepp::transaction txn(session, sqlitepp::transaction::mode::immediate);
  for (const char* create : kCreateTables) session << create;
  CreateSetTables(session);
  CreateDimensionTables(session);
  txn.commit();
}

void StatsDatabase::SetFileName(const std::string& file_name, bool read_only) {
  NamedFile() = file_name;
  ReadOnly() = read_only;
}

std::string StatsDatabase::DatabaseFile() {
  return opened_ ? Instance().file_name_ : NamedFile();
}

const std::string& StatsDatabase::FileName() { return NamedFile(); }

bool StatsDatabase::IsAbsent() { return !opened_ && IsMissing(NamedFile()); }

StatsDatabase& StatsDatabase::Instance() {
  static StatsDatabase database(FileName(), ReadOnly());
  opened_ = true;
  return database;
}

StatsDatabase::StatsDatabase(const std::string& file_name, bool read_only)
    : file_name_(file_name) {
  RefuseWhatIsNoFile(file_name);
  if (!read_only && IsMissing(file_name) && IsUserDataFile(file_name))
    MakeUserDataFolder(file_name);
  session_.open(file_name, read_only);
  AddKeyCollations(session_);
  if (read_only) {
    RequireStatsTables();
  } else {
    CreateTablesIfNone(session_, file_name);
    // A piece holds part of one log's lines; anything added to it would be joined with its
    // other pieces as if it were part of that log.
    if (HasLogPieces(session_))
      throw std::runtime_error("database " + file_name +
                               " is a piece of a log (analyse --byte-range), which takes no "
                               "other statistics; join it with its other pieces "
                               "(merge --pieces-of)");
  }
}

void StatsDatabase::RequireStatsTables() {
  if (CountStatsTables(session_) != kStatsTableCount) {
    throw std::runtime_error("database " + file_name_ +
                             " does not hold the statistics tables (run an analysis first)");
  }
}

void StatsDatabase::RequireTable(const char* name) {
  int tables = 0;
  std::string wanted = name;
  sqlitepp::statement count(session_);
  count << "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = :name",
      sqlitepp::into(tables), sqlitepp::use(wanted);
  while (count.exec()) {
  }
  // SQLite's own error for a missing table, so that callers see one kind of failure.
  if (tables != 1) throw sqlitepp::exception(1, std::string("no such table: ") + name);
}

const std::string& StatsDatabase::Path() { return FileName(); }

bool StatsDatabase::NotCreatedYet() {
  struct stat info;
  return !opened_ && ::stat(FileName().c_str(), &info) != 0 && errno == ENOENT;
}

void StatsDatabase::CheckCanSave() {
  const std::string& file_name = FileName();
  if (NotCreatedYet()) {
    // Not created yet: it is made when the statistics are saved, so that a run that fails
    // before leaves no empty file behind. Its folder must take it.
    const size_t slash = file_name.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string(".") : file_name.substr(0, slash + 1);
    // The user's data folder is made with the file; the folder it goes in must take it.
    if (IsUserDataFile(file_name)) folder = NearestExistingFolder(file_name);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
      throw std::runtime_error("database " + file_name + " cannot be created: " +
                               std::strerror(errno));
    }
    return;
  }
  Instance().CheckWritable();
}

void StatsDatabase::CheckWritable() {
  RequireStatsTables();
  // BEGIN IMMEDIATE takes the write lock at once, which a read-only file or folder, or a
  // file that is no database, refuses; nothing is changed.
  session_ << "BEGIN IMMEDIATE";
  session_ << "ROLLBACK";
}

}  // namespace hitsieve
