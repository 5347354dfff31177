// The layer's own exceptions and their fixed messages.

#include "store/sqlitepp/exception.h"

#include "store/sqlitepp/unicode.h"

namespace sqlitepp {

namespace {
// The layer's own messages, kept as UTF-16 like its other fixed texts.
constexpr char16_t kNestedTxnMessage[] = u"nested transactions are not supported";
constexpr char16_t kSessionNotOpenMessage[] = u"session not open";
constexpr char16_t kMultiStmtMessage[] = u"only one statement is supported";
}  // namespace

exception::exception(int code, const std::string& message)
    : std::runtime_error(message), code_(code) {}

nested_txn_not_supported::nested_txn_not_supported()
    : exception(kNestedTxnNotSupported, to_utf8(kNestedTxnMessage)) {}

session_not_open::session_not_open() : exception(kSessionNotOpen, to_utf8(kSessionNotOpenMessage)) {}

multi_stmt_not_supported::multi_stmt_not_supported()
    : exception(kMultiStmtNotSupported, to_utf8(kMultiStmtMessage)) {}

}  // namespace sqlitepp
