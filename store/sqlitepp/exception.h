// The exceptions of the database layer: SQLite's failures and the layer's own.

#ifndef HITSIEVE_STORE_SQLITEPP_EXCEPTION_H_
#define HITSIEVE_STORE_SQLITEPP_EXCEPTION_H_

#include <stdexcept>
#include <string>

namespace sqlitepp {

// Every database failure: SQLite's result code (or one of the layer's own negative codes) and
// the connection's message at the time of the failure.
class exception : public std::runtime_error {
 public:
  exception(int code, const std::string& message);
  int code() const { return code_; }

 private:
  int code_;
};

// A second transaction on a session whose first transaction object still exists.
class nested_txn_not_supported : public exception {
 public:
  nested_txn_not_supported();
};

// A query run on a session that has no open connection.
class session_not_open : public exception {
 public:
  session_not_open();
};

// A query text that holds anything after its first complete statement.
class multi_stmt_not_supported : public exception {
 public:
  multi_stmt_not_supported();
};

inline constexpr int kNestedTxnNotSupported = -1;
inline constexpr int kSessionNotOpen = -3;
inline constexpr int kMultiStmtNotSupported = -4;

}  // namespace sqlitepp

#endif  // HITSIEVE_STORE_SQLITEPP_EXCEPTION_H_
