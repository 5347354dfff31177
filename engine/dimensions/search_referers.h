// Today's search engines recognised in referers, with the visitor's phrase when the referer
// still carries one (most no longer do).
#ifndef HITSIEVE_ENGINE_DIMENSIONS_SEARCH_REFERERS_H_
#define HITSIEVE_ENGINE_DIMENSIONS_SEARCH_REFERERS_H_

#include <string>
#include <string_view>

namespace hitsieve {

class SearchEngine;
class SearchEngineRegistry;

struct SearchArrival {
  std::string_view engine;  // readable engine name, e.g. "Bing"; lives as long as the process
  // UTF-8, always valid; empty: "(not provided)". Percent-escapes are decoded; text that is no
  // UTF-8 after decoding is read as Windows-1251, the described engines' phrases as they
  // decode them.
  std::string phrase;
};

// True when `referer` is a search engine's results page (the six described engines included —
// they count here too, beside their described columns), with `out` set; otherwise false and
// `out` unchanged. Any bytes, any length; never throws; safe from several threads at once.
bool RecogniseSearchReferer(std::string_view referer, SearchArrival& out);

// The same, for a referer that the described engines have already been looked for in (by a
// registry for which FindsAsDescribed holds): `described` is the engine found (null: none) and
// `query` the phrase its own format found (null: none).
bool RecogniseSearchReferer(std::string_view referer, const SearchEngine* described,
                            const std::string* query, SearchArrival& out);

// The same two, with `out.phrase` as the statistics keep their texts: in Windows-1251, what
// ConvertCodePage from UTF-8 makes of the phrase above. A phrase the described engines found in
// Windows-1251 already is kept as it is instead of going there and back.
bool RecogniseSearchRefererAsStored(std::string_view referer, SearchArrival& out);
bool RecogniseSearchRefererAsStored(std::string_view referer, const SearchEngine* described,
                                    const std::string* query, SearchArrival& out);

// True when `registry` holds the six described engines and finds them in referers exactly as
// the list above does.
bool FindsAsDescribed(const SearchEngineRegistry& registry);

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view text);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_DIMENSIONS_SEARCH_REFERERS_H_
