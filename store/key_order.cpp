// The collation that orders phrases in SQL as the engine orders them in memory.

#include "store/key_order.h"

#include "engine/text.h"

namespace hitsieve {

int ComparePhrases(std::string_view a, std::string_view b) {
  const CaseInsensitiveLess less;
  if (less(a, b)) return -1;
  if (less(b, a)) return 1;
  const int bytes = a.compare(b);  // unsigned bytes, as memcmp
  return bytes < 0 ? -1 : bytes > 0 ? 1 : 0;
}

void AddKeyCollations(sqlitepp::session& session) {
  session.create_collation(kPhraseCollation, ComparePhrases);
}

}  // namespace hitsieve
