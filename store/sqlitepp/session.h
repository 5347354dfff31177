// sqlitepp::session: one connection to an SQLite database file.

#ifndef HITSIEVE_STORE_SQLITEPP_SESSION_H_
#define HITSIEVE_STORE_SQLITEPP_SESSION_H_

#include <string>
#include <string_view>
#include <vector>

#include "store/sqlitepp/exception.h"
#include "store/sqlitepp/query.h"

struct sqlite3;

namespace sqlitepp {

class statement;
class transaction;

// One database connection. Takes no locks: the owner makes sure one thread at a time uses it.
// Statements and transactions made on it must be destroyed before it.
class session {
 public:
  session() = default;
  // How long a statement waits for another connection's lock before it fails with "database
  // is locked": a report reading while an analysis commits, or the other way round.
  static constexpr int kBusyTimeoutMs = 5000;

  // Opens `file_name` (created empty if missing, unless `read_only`; relative names resolve
  // against the current directory). Throws sqlitepp::exception when SQLite cannot open it.
  explicit session(const std::string& file_name, bool read_only = false);
  ~session();

  session(const session&) = delete;
  session& operator=(const session&) = delete;

  // Closes an open connection first. A failed open leaves the session closed.
  void open(const std::string& file_name, bool read_only = false);
  // For a file from elsewhere, whose schema may have been written to do harm: turns on
  // SQLite's defensive mode (no writing to the schema or to database pages directly) and
  // stops trusting the schema (functions with side effects and virtual tables named in views,
  // triggers or the schema's expressions fail instead of running). REQUIRES: is_open().
  void distrust_schema();
  // Orders text compared under collation `name` (as in "ORDER BY x COLLATE name") by
  // `compare`, which returns <0, 0 or >0 as strcmp does and is given the stored bytes
  // unchanged. Lasts until the connection closes; a second call with the same name replaces
  // the first. REQUIRES: is_open(); `compare` is a total order and never throws.
  using collation_compare = int (*)(std::string_view a, std::string_view b);
  void create_collation(const std::string& name, collation_compare compare);
  // Releases the compiled forms its statements keep between runs first, so that closing never
  // fails on them; those statements compile again at their next exec.
  void close();
  bool is_open() const { return db_ != nullptr; }
  // Whether the database holds a table named `name`.
  bool has_table(std::string_view name);

  // Throws sqlitepp::exception for any result but OK, ROW and DONE, with the connection's
  // current message.
  void check_error(int result);
  void check_last_error();

  // One-shot query: `s << "DELETE FROM " << table;` runs once when the expression ends.
  template <class T>
  once_query operator<<(const T& value) {
    return once_query(*this, value);
  }

  // For statements and transactions of this layer.
  sqlite3* handle() const { return db_; }
  transaction* active_transaction() const { return active_txn_; }
  void set_active_transaction(transaction* txn) { active_txn_ = txn; }
  // Every statement registers itself for its lifetime (see close).
  void attach(statement* st) { statements_.push_back(st); }
  void detach(statement* st);

 private:
  sqlite3* db_ = nullptr;
  transaction* active_txn_ = nullptr;
  std::vector<statement*> statements_;
};

}  // namespace sqlitepp

#endif  // HITSIEVE_STORE_SQLITEPP_SESSION_H_
