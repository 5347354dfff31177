// Beginning, committing and rolling back a transaction with the layer's fixed texts.

#include "store/sqlitepp/transaction.h"

#include "store/sqlitepp/exception.h"
#include "store/sqlitepp/session.h"
#include "store/sqlitepp/unicode.h"

namespace sqlitepp {

namespace {
constexpr char16_t kBegin[] = u"begin";
constexpr char16_t kBeginImmediate[] = u"begin immediate";
constexpr char16_t kCommit[] = u"commit";
constexpr char16_t kRollback[] = u"rollback";
}  // namespace

transaction::transaction(session& s, mode when) : session_(s) {
  if (session_.active_transaction() != nullptr) throw nested_txn_not_supported();
  session_ << to_utf8(when == mode::immediate ? kBeginImmediate : kBegin);
  session_.set_active_transaction(this);
  active_ = true;
}

transaction::~transaction() {
  if (active_) {
    try {
      session_ << to_utf8(kRollback);
    } catch (...) {
      // Nothing more can be done from a destructor; SQLite ends the transaction when the
      // connection closes.
    }
  }
  session_.set_active_transaction(nullptr);
}

void transaction::commit() {
  session_ << to_utf8(kCommit);
  active_ = false;
}

}  // namespace sqlitepp
