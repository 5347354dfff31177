// Opening, configuring and closing a connection, and turning SQLite's failures into exceptions.

#include "store/sqlitepp/session.h"

#include <sqlite3.h>

#include <algorithm>
#include <mutex>

#include "store/sqlitepp/statement.h"

namespace sqlitepp {

session::session(const std::string& file_name, bool read_only) { open(file_name, read_only); }

session::~session() {
  try {
    close();
  } catch (...) {
    // A destructor must not throw; a connection that refuses to close is left to the process.
  }
}

namespace {

// SQLite keeps memory statistics under a process-wide mutex taken on every allocation; nothing
// here reads them. Must happen before SQLite initialises, so it is done before the first open;
// if the process has used SQLite already the call fails and changes nothing.
void ConfigureLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}

}  // namespace

void session::open(const std::string& file_name, bool read_only) {
  close();
  ConfigureLibraryOnce();
  sqlite3* db = nullptr;
  // A connection is used by one thread at a time (the analysis worker saves while the screens
  // keep away from the database), so SQLite's per-call locking of the connection is not needed.
  const int mode = read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  int result = sqlite3_open_v2(file_name.c_str(), &db, mode | SQLITE_OPEN_NOMUTEX, nullptr);
  if (result == SQLITE_OK) {
    // Other processes (a report during a save, a second analysis) share the file; waiting a
    // little for their locks beats failing a whole run.
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    db_ = db;
    return;
  }
  // SQLite hands back a connection even when opening fails, unless it could not allocate one.
  std::string message = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
  int code = db != nullptr ? sqlite3_errcode(db) : result;
  if (db != nullptr) sqlite3_close(db);
  throw exception(code, message);
}

void session::distrust_schema() {
  check_error(sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr));
  check_error(sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr));
}

namespace {

int CompareThrough(void* compare, int a_size, const void* a, int b_size, const void* b) {
  return reinterpret_cast<session::collation_compare>(compare)(
      std::string_view(static_cast<const char*>(a), static_cast<size_t>(a_size)),
      std::string_view(static_cast<const char*>(b), static_cast<size_t>(b_size)));
}

}  // namespace

void session::create_collation(const std::string& name, collation_compare compare) {
  // SQLITE_UTF8 with a UTF-8 database: the text's bytes reach `compare` unconverted, whatever
  // code page they are in.
  check_error(sqlite3_create_collation(db_, name.c_str(), SQLITE_UTF8,
                                       reinterpret_cast<void*>(compare), CompareThrough));
}

void session::close() {
  if (db_ == nullptr) return;
  for (statement* st : statements_) st->release();
  int result = sqlite3_close(db_);
  if (result != SQLITE_OK) check_error(result);  // the connection stays open (busy)
  db_ = nullptr;
}

void session::check_error(int result) {
  if (result == SQLITE_OK || result == SQLITE_ROW || result == SQLITE_DONE) return;
  throw exception(result, db_ != nullptr ? sqlite3_errmsg(db_) : "");
}

void session::check_last_error() {
  if (db_ == nullptr) return;
  check_error(sqlite3_errcode(db_));
}

void session::detach(statement* st) {
  // One-shot statements come and go last in, first out: search from the back.
  auto it = std::find(statements_.rbegin(), statements_.rend(), st);
  if (it != statements_.rend()) statements_.erase(std::next(it).base());
}

bool session::has_table(std::string_view name) {
  int found = 0;
  std::string wanted(name);
  statement count(*this);
  count << "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = :name",
      into(found), use(wanted);
  while (count.exec()) {
  }
  return found != 0;
}

}  // namespace sqlitepp
