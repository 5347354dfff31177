#ifndef HITSIEVE_STORE_KEY_ORDER_H_
#define HITSIEVE_STORE_KEY_ORDER_H_

#include <string_view>

#include "store/sqlitepp/session.h"

// The order of the keys of the keyed tables, as a replacing run writes them, for SQL. Lists
// ordered by a count give rows of equal count in this order, so that a list does not depend on
// where in its table a row happens to be (an add appends its new keys after the stored ones).
// Pages and referers are ordered by their bytes, which SQLite's own BINARY collation does;
// phrases case-insensitively, which needs the collation below.
namespace hitsieve {

// Orders phrases as the engine's CaseInsensitiveLess does (Windows-1251 letters folded to
// lower case, unsigned bytes, a prefix first); spellings equal under it are then ordered by
// their bytes, so that the order is total even for a file no run of ours wrote.
inline constexpr const char kPhraseCollation[] = "hitsieve_phrase";
int ComparePhrases(std::string_view a, std::string_view b);

// Gives `session` the collations above. Every connection that runs a report query needs them.
void AddKeyCollations(sqlitepp::session& session);

}  // namespace hitsieve

#endif  // HITSIEVE_STORE_KEY_ORDER_H_
