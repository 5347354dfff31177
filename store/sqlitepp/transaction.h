// sqlitepp::transaction: the scope of one transaction on a session.

#ifndef HITSIEVE_STORE_SQLITEPP_TRANSACTION_H_
#define HITSIEVE_STORE_SQLITEPP_TRANSACTION_H_

namespace sqlitepp {

class session;

// Scope of one transaction: begun by the constructor, rolled back by the destructor unless
// committed. While the object exists it stays registered on its session, so a second
// transaction on that session fails with nested_txn_not_supported even after commit.
// REQUIRES: the session outlives the transaction.
class transaction {
 public:
  // When the transaction takes its locks. A deferred one reads under a shared lock and asks
  // for the write lock at its first write; if another connection holds that lock then, SQLite
  // fails at once instead of waiting, since this connection's shared lock could be holding
  // the other up. A transaction that will write therefore begins `immediate`: it takes the
  // write lock first, waiting for it up to the session's busy timeout.
  enum class mode { deferred, immediate };

  // Throws nested_txn_not_supported, or the failure of "begin" (then nothing was begun).
  explicit transaction(session& s, mode when = mode::deferred);
  // Never throws: a failed rollback is dropped.
  ~transaction();

  transaction(const transaction&) = delete;
  transaction& operator=(const transaction&) = delete;

  // A failed commit leaves the transaction active, so the destructor still rolls it back.
  void commit();

 private:
  session& session_;
  bool active_ = false;
};

}  // namespace sqlitepp

#endif  // HITSIEVE_STORE_SQLITEPP_TRANSACTION_H_
