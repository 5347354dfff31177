// PageFilter: which requests count as pages, by the extension of the requested path.
#ifndef HITSIEVE_ENGINE_PAGE_FILTER_H_
#define HITSIEVE_ENGINE_PAGE_FILTER_H_

#include <set>
#include <string>
#include <string_view>

#include "engine/text.h"

namespace hitsieve {

// The extensions of pages that are counted, ordered case-insensitively. Empty counts every page.
using ExtensionSet = std::set<std::string, CaseInsensitiveLess>;

// The extension list as the user types it: "html; htm; php; asp; zip; jsp; txt".
inline constexpr const char kDefaultExtensionList[] = "html; htm; php; asp; zip; jsp; txt";

// Empty `extensions`, then fill it from `text`: split at ';', trim blanks, drop empty pieces.
void ParseExtensionList(std::string_view text, ExtensionSet& extensions);

// The text after the last '/' of `url`, query string included; the whole URL without '/'.
std::string_view LastPathElement(std::string_view url);

// The text after the last '.' of `element` (all of it without '.'), without a final '?'.
std::string_view ElementExtension(std::string_view element);

// True when a request for `url` is to be counted under `extensions`.
bool PassesPageFilter(std::string_view url, const ExtensionSet& extensions);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_PAGE_FILTER_H_
