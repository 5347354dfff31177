// Which requests count as pages: the extension list as typed, parsed and matched (page_filter.h).
#include "engine/page_filter.h"

namespace hitsieve {

void ParseExtensionList(std::string_view text, ExtensionSet& extensions) {
  extensions.clear();
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find(';', begin);
    const std::string_view piece = TrimWhitespace(
        text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin));
    if (!piece.empty() && extensions.find(piece) == extensions.end()) {
      extensions.emplace(piece);
    }
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
}

// These two scans give what a whole-string match of "(?:.*?/)*(.*?)$" and
// "(?:.*?\.)*(.*?)(?:\?|$)" captures ('.' matching every byte), in linear time.
std::string_view LastPathElement(std::string_view url) {
  const size_t slash = url.rfind('/');
  return slash == std::string_view::npos ? url : url.substr(slash + 1);
}

std::string_view ElementExtension(std::string_view element) {
  const size_t dot = element.rfind('.');
  std::string_view extension = dot == std::string_view::npos ? element : element.substr(dot + 1);
  if (!extension.empty() && extension.back() == '?') extension.remove_suffix(1);
  return extension;
}

bool PassesPageFilter(std::string_view url, const ExtensionSet& extensions) {
  if (extensions.empty()) return true;
  const std::string_view element = LastPathElement(url);
  if (element.empty()) return true;
  return extensions.find(ElementExtension(element)) != extensions.end();
}

}  // namespace hitsieve
