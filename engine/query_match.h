// Linear-time matchers that find a search phrase's parameter in a referer.
#ifndef HITSIEVE_ENGINE_QUERY_MATCH_H_
#define HITSIEVE_ENGINE_QUERY_MATCH_H_

#include <string_view>

// Linear-time scans that find a search phrase's parameter in a referer. They return the same
// captures that a backtracking whole-string match of the Perl-syntax, case-insensitive patterns
// ".*?(?:\?|&)q=(.*?)(?:&.*|$)" and ".*?text=(.*?)(?:&.*|$)" gives, where '.' matches every
// byte, newline and NUL included; but they cannot give up on a long referer.
namespace hitsieve {

// The value of the first parameter `name` (one ASCII letter, either case) that directly follows
// a '?' or '&', up to the next '&' or the end. False when there is none.
bool FindParameterValue(std::string_view referer, char name, std::string_view& value);

// The text after the first occurrence of `key` (ASCII, either case, e.g. "text="), up to the
// next '&' or the end. False when `key` does not occur.
bool FindKeyValue(std::string_view referer, std::string_view key, std::string_view& value);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_QUERY_MATCH_H_
