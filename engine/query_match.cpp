// Finding a search phrase's parameter in a referer in linear time (query_match.h).
#include "engine/query_match.h"

namespace hitsieve {

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c; }

std::string_view ValueFrom(std::string_view referer, size_t begin) {
  const size_t end = referer.find('&', begin);
  return referer.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
}

}  // namespace

bool FindParameterValue(std::string_view referer, char name, std::string_view& value) {
  const char lower = AsciiLower(name);
  // A candidate is "?x=" or "&x=" starting at i; the first one wins.
  for (size_t i = 0; i + 3 <= referer.size(); ++i) {
    const char c = referer[i];
    if ((c == '?' || c == '&') && AsciiLower(referer[i + 1]) == lower && referer[i + 2] == '=') {
      value = ValueFrom(referer, i + 3);
      return true;
    }
  }
  return false;
}

bool FindKeyValue(std::string_view referer, std::string_view key, std::string_view& value) {
  if (key.empty() || key.size() > referer.size()) return false;
  const char first = AsciiLower(key[0]);
  for (size_t i = 0; i + key.size() <= referer.size(); ++i) {
    if (AsciiLower(referer[i]) != first) continue;
    size_t k = 1;
    while (k < key.size() && AsciiLower(referer[i + k]) == AsciiLower(key[k])) ++k;
    if (k == key.size()) {
      value = ValueFrom(referer, i + key.size());
      return true;
    }
  }
  return false;
}

}  // namespace hitsieve
