// sqlitepp::statement: one SQL statement with its binders, run as often as needed.

#ifndef HITSIEVE_STORE_SQLITEPP_STATEMENT_H_
#define HITSIEVE_STORE_SQLITEPP_STATEMENT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "store/sqlitepp/binders.h"
#include "store/sqlitepp/query.h"

struct sqlite3_stmt;

namespace sqlitepp {

class session;

// One SQL statement on a session, given its text and binders once:
//   statement st(s);
//   st << "INSERT INTO t(a, b) VALUES(:a, :b)", use(a), use(b);
// then run with exec() as often as needed. Each run that starts from the beginning binds the
// use variables' values of that moment; a SELECT delivers one row per exec into the into
// variables and, after exec has returned false, starts over at the next exec.
// REQUIRES: the session outlives the statement. Not thread-safe.
class statement {
 public:
  explicit statement(session& s);
  ~statement();

  statement(const statement&) = delete;
  statement& operator=(const statement&) = delete;

  template <class T>
  prepare_query operator<<(const T& value) {
    return prepare_query(*this, value);
  }

  // Compiles the text, numbers the binders and binds the use variables. Throws
  // multi_stmt_not_supported for text after the first statement (a trailing blank included).
  void prepare();
  // True when a row was delivered into the into variables; false when the statement has run
  // to completion. The compiled statement is kept for the next run; a failure releases it, so
  // the next exec compiles afresh.
  bool exec();
  // Releases the compiled statement, if any; throws SQLite's error, if it reports one.
  void finalize();
  // Releases the compiled statement, if any, dropping any error. For cleanup paths.
  void release() noexcept;

  void column_int(int position, int& value);
  void column_int64(int position, int64_t& value);
  // A NULL column gives the empty string.
  void column_text(int position, std::string& value);
  // Every byte of a BLOB column, NUL bytes included; NULL gives the empty string.
  void column_blob(int position, std::string& value);

  void bind_int(int index, int value);
  void bind_int64(int index, int64_t value);
  // Binds without copying: `value` must stay unchanged until the statement has stepped. An
  // empty string is bound as SQL NULL.
  void bind_text(int index, std::string_view value);
  // Binds `value`'s bytes as a BLOB (an empty one when empty), without copying, as bind_text.
  void bind_blob(int index, const std::string& value);

 private:
  friend class prepare_query;
  friend class once_query;
  void assign(std::string text, into_binders into, use_binders use);
  struct failure {
    int code;
    std::string message;
  };
  // True when a kept compiled statement starts a new run (its use binders bound again).
  bool start_run();
  void finish_run();
  void bind_uses();
  failure release_failed(int result);
  // Finalizes the compiled statement, if any, and forgets it; returns SQLite's result.
  int drop_handle() noexcept;

  session& session_;
  std::string text_;
  into_binders into_;
  use_binders use_;
  sqlite3_stmt* handle_ = nullptr;
  bool complete_ = false;  // the handle has run to completion and been reset
};

}  // namespace sqlitepp

#endif  // HITSIEVE_STORE_SQLITEPP_STATEMENT_H_
