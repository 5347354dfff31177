// UTF-16 to UTF-8 for the layer's own fixed texts.

#ifndef HITSIEVE_STORE_SQLITEPP_UNICODE_H_
#define HITSIEVE_STORE_SQLITEPP_UNICODE_H_

#include <string>

namespace sqlitepp {

// UTF-16 to UTF-8. `length` counts UTF-16 units; -1 means the text ends at its first zero unit.
// Throws std::runtime_error on a surrogate without its partner.
std::string to_utf8(const char16_t* text, int length = -1);

}  // namespace sqlitepp

#endif  // HITSIEVE_STORE_SQLITEPP_UNICODE_H_
