// Compiling, binding, stepping and resetting a statement, and reading its columns.

#include "store/sqlitepp/statement.h"

#include <sqlite3.h>

#include <utility>

#include "store/sqlitepp/exception.h"
#include "store/sqlitepp/session.h"

namespace sqlitepp {

statement::statement(session& s) : session_(s) { session_.attach(this); }

statement::~statement() {
  release();
  session_.detach(this);
}

void statement::assign(std::string text, into_binders into, use_binders use) {
  release();
  text_ = std::move(text);
  into_ = std::move(into);
  use_ = std::move(use);
}

void statement::prepare() {
  if (!session_.is_open()) throw session_not_open();
  release();
  complete_ = false;
  const char* tail = nullptr;
  session_.check_error(sqlite3_prepare(session_.handle(), text_.c_str(),
                                       static_cast<int>(text_.size()), &handle_, &tail));
  try {
    if (tail != nullptr && *tail != '\0') throw multi_stmt_not_supported();
    int column = 0;
    for (auto& binder : into_) column = binder->bind_and_advance(*this, column);
    bind_uses();
  } catch (...) {
    release();
    throw;
  }
}

void statement::bind_uses() {
  int index = 1;
  for (auto& binder : use_) index = binder->bind_and_advance(*this, index);
}

// A compiled statement is kept from one run to the next: when a run is complete it is reset,
// and the next run binds the use variables' values of that moment before its first step. This
// saves compiling an INSERT once per row, which would cost more than the row itself.
bool statement::exec() {
  const bool fresh = handle_ == nullptr;
  const bool reused = start_run();
  int result = sqlite3_step(handle_);
  if ((reused || fresh) && result != SQLITE_ROW && result != SQLITE_DONE) {
    // Statements compiled by sqlite3_prepare do not recompile themselves after a schema
    // change; one that has gone stale before its first row fails with SQLITE_SCHEMA and is
    // compiled again. A kept one goes stale when another connection changes the schema
    // meanwhile; a new one too, when compiled against a schema this connection had not yet
    // read again since.
    failure stale = release_failed(result);
    if (stale.code != SQLITE_SCHEMA) throw exception(stale.code, stale.message);
    prepare();
    result = sqlite3_step(handle_);
  }
  if (result == SQLITE_ROW) {
    for (auto& binder : into_) binder->update(*this);
    return true;
  }
  if (result == SQLITE_DONE) {
    finish_run();
    return false;
  }
  failure failed = release_failed(result);
  throw exception(failed.code, failed.message);
}

bool statement::start_run() {
  if (handle_ == nullptr) {
    prepare();
    return false;
  }
  if (!complete_) return false;  // a SELECT between rows: deliver the next one
  complete_ = false;
  try {
    bind_uses();
  } catch (...) {
    release();
    throw;
  }
  return true;
}

void statement::finish_run() {
  int result = sqlite3_reset(handle_);
  if (result != SQLITE_OK) {
    release();
    session_.check_error(result);
  }
  complete_ = true;
}

// Statements compiled with sqlite3_prepare report most step failures as a bare SQLITE_ERROR;
// releasing the handle yields the specific code and message, so that is what the caller gets.
// No handle survives a failed step: stepping it again would re-run it with stale bindings.
statement::failure statement::release_failed(int result) {
  sqlite3* db = session_.handle();
  failure f{result, sqlite3_errmsg(db)};
  int released = drop_handle();
  if (released != SQLITE_OK) f = {released, sqlite3_errmsg(db)};
  return f;
}

// sqlite3_finalize accepts a null handle and returns SQLITE_OK for it.
int statement::drop_handle() noexcept {
  int result = sqlite3_finalize(handle_);
  handle_ = nullptr;
  complete_ = false;
  return result;
}

void statement::finalize() { session_.check_error(drop_handle()); }

void statement::release() noexcept { drop_handle(); }

void statement::column_int(int position, int& value) {
  value = sqlite3_column_int(handle_, position);
  session_.check_last_error();
}

void statement::column_int64(int position, int64_t& value) {
  value = sqlite3_column_int64(handle_, position);
  session_.check_last_error();
}

void statement::column_text(int position, std::string& value) {
  const unsigned char* text = sqlite3_column_text(handle_, position);
  session_.check_last_error();
  if (text == nullptr) {
    value.clear();
  } else {
    // By its length, not up to the first NUL: a log line may carry one inside a URL.
    value.assign(reinterpret_cast<const char*>(text),
                 static_cast<size_t>(sqlite3_column_bytes(handle_, position)));
  }
}

void statement::bind_int(int index, int value) {
  session_.check_error(sqlite3_bind_int(handle_, index, value));
}

void statement::bind_int64(int index, int64_t value) {
  session_.check_error(sqlite3_bind_int64(handle_, index, value));
}

void statement::bind_text(int index, std::string_view value) {
  const char* bytes = value.empty() ? nullptr : value.data();
  session_.check_error(sqlite3_bind_text(handle_, index, bytes, static_cast<int>(value.size()),
                                         SQLITE_STATIC));
}

void statement::bind_blob(int index, const std::string& value) {
  session_.check_error(sqlite3_bind_blob(handle_, index, value.data(),
                                         static_cast<int>(value.size()), SQLITE_STATIC));
}

void statement::column_blob(int position, std::string& value) {
  const void* bytes = sqlite3_column_blob(handle_, position);
  const int size = sqlite3_column_bytes(handle_, position);
  session_.check_last_error();
  if (bytes == nullptr) {
    value.clear();
  } else {
    value.assign(static_cast<const char*>(bytes), static_cast<size_t>(size));
  }
}

}  // namespace sqlitepp
