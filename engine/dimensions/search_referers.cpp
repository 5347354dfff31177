// Search engines by the referer's host, and the phrase from the parameter each engine puts it
// in. The six described engines are found first by their own patterns, so that every referer
// the described columns count as a search is an arrival here too.
#include "engine/dimensions/search_referers.h"

#include <algorithm>
#include <array>
#include <typeinfo>
#include <initializer_list>
#include <vector>

#include "engine/search_engine.h"
#include "engine/standard_engines.h"
#include "engine/text.h"

namespace hitsieve {

namespace {

// Hosts of an engine: `domain` itself and the subdomains in `subs` ("" for the bare domain,
// "*" for any). With `any_tld`, `domain` is a brand ("google") followed by one or two short
// top-level labels (google.com, google.co.uk, yandex.com.tr).
struct EngineRule {
  std::string_view name;
  std::string_view domain;
  bool any_tld;
  std::initializer_list<std::string_view> subs;
  std::initializer_list<std::string_view> parameters;  // where the phrase is, in this order
};

const EngineRule kRules[] = {
    {"Google", "google", true, {"", "www", "images", "m", "news", "encrypted", "scholar"}, {"q", "as_q"}},
    {"Yandex", "yandex", true, {"", "www", "m", "images", "video"}, {"text"}},
    {"Yandex", "ya.ru", false, {"", "www"}, {"text"}},
    {"Bing", "bing.com", false, {"*"}, {"q"}},
    {"DuckDuckGo", "duckduckgo.com", false, {"", "www", "html", "lite", "start"}, {"q"}},
    {"Yahoo", "search.yahoo.com", false, {"*"}, {"p", "q"}},
    {"Yahoo", "search.yahoo.co.jp", false, {""}, {"p"}},
    {"Baidu", "baidu.com", false, {"", "www", "m", "image"}, {"wd", "word", "kw"}},
    {"Ecosia", "ecosia.org", false, {"", "www"}, {"q"}},
    {"Naver", "search.naver.com", false, {"", "m"}, {"query"}},
    {"Seznam", "search.seznam.cz", false, {"", "www"}, {"q"}},
    {"Seznam", "seznam.cz", false, {"", "www"}, {"q"}},
    {"Rambler", "nova.rambler.ru", false, {""}, {"query", "words"}},
    {"Mail.ru", "go.mail.ru", false, {"", "m"}, {"q"}},
    {"Qwant", "qwant.com", false, {"", "www", "lite"}, {"q"}},
    {"Brave", "search.brave.com", false, {""}, {"q"}},
    {"Startpage", "startpage.com", false, {"", "www"}, {"query", "q"}},
    {"Sogou", "sogou.com", false, {"", "www", "m"}, {"query"}},
    {"360 Search", "so.com", false, {"", "www", "m"}, {"q"}},
    {"Ask", "ask.com", false, {"", "www"}, {"q"}},
    {"AOL", "search.aol.com", false, {""}, {"q"}},
};

// The described engines by id, under the names this table gives them.
constexpr std::array<std::string_view, kEngineCount> kDescribedNames = {
    "Google", "Yandex", "Rambler", "Mail.ru", "Aport", "Webalta"};

// The phrase parameter of a described engine whose own format found none (today's result
// pages of the same hosts), by id.
constexpr std::array<std::string_view, kEngineCount> kDescribedParameters = {
    "q", "text", "query", "q", "r", "q"};

const SearchEngineRegistry& Described() {
  static const SearchEngineRegistry* registry = [] {
    auto* filled = new SearchEngineRegistry;
    RegisterStandardEngines(*filled);
    return filled;
  }();
  return *registry;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// The host of "scheme://[user@]host[:port][/?#...]" in lower case, without a final dot; empty
// when the referer has no "://".
std::string HostOf(std::string_view referer) {
  const size_t scheme = referer.find("://");
  if (scheme == std::string_view::npos) return {};
  std::string_view rest = referer.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#\\"));
  if (const size_t at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
  rest = rest.substr(0, rest.find(':'));
  while (!rest.empty() && rest.back() == '.') rest.remove_suffix(1);
  std::string host(rest);
  for (char& c : host) c = AsciiLower(c);
  return host;
}

bool IsShortTld(std::string_view label) {
  if (label.empty() || label.size() > 3) return false;
  for (char c : label) {
    if (c < 'a' || c > 'z') return false;
  }
  return true;
}

// The subdomain in front of the rule's domain, or false when the host is not the rule's.
bool SubdomainOf(const EngineRule& rule, std::string_view host, std::string_view& sub) {
  if (!rule.any_tld) {
    if (host == rule.domain) {
      sub = {};
      return true;
    }
    if (host.size() <= rule.domain.size() + 1 || !host.ends_with(rule.domain) ||
        host[host.size() - rule.domain.size() - 1] != '.') {
      return false;
    }
    sub = host.substr(0, host.size() - rule.domain.size() - 1);
    return true;
  }
  // brand.tld or brand.sld.tld, with the brand as a whole label.
  for (size_t at = host.find(rule.domain); at != std::string_view::npos;
       at = host.find(rule.domain, at + 1)) {
    const size_t end = at + rule.domain.size();
    if ((at != 0 && host[at - 1] != '.') || end >= host.size() || host[end] != '.') continue;
    const std::string_view tail = host.substr(end + 1);
    const size_t dot = tail.find('.');
    const bool fits = dot == std::string_view::npos
                          ? IsShortTld(tail)
                          : IsShortTld(tail.substr(0, dot)) && IsShortTld(tail.substr(dot + 1));
    if (!fits) continue;
    sub = at == 0 ? std::string_view() : host.substr(0, at - 1);
    return true;
  }
  return false;
}

bool SubAllowed(const EngineRule& rule, std::string_view sub) {
  for (std::string_view allowed : rule.subs) {
    if (allowed == "*" || allowed == sub) return true;
  }
  return false;
}

// The value of the first parameter called `name` (ASCII letters in either case) in the
// referer's query string or fragment.
bool ParameterValue(std::string_view referer, std::string_view name, std::string_view& value) {
  const size_t start = referer.find_first_of("?#");
  if (start == std::string_view::npos) return false;
  size_t at = start + 1;
  while (at <= referer.size()) {
    size_t end = referer.find_first_of("&#;", at);
    if (end == std::string_view::npos) end = referer.size();
    const std::string_view pair = referer.substr(at, end - at);
    const size_t equals = pair.find('=');
    if (equals != std::string_view::npos && AsciiEqualsIgnoringCase(pair.substr(0, equals), name)) {
      value = pair.substr(equals + 1);
      return true;
    }
    at = end + 1;
  }
  return false;
}

// Decoded bytes as UTF-8: kept when they are UTF-8 already, otherwise read as Windows-1251.
std::string AsUtf8(std::string_view bytes) {
  const std::string_view trimmed = TrimWhitespace(bytes);
  if (IsValidUtf8(trimmed)) return std::string(trimmed);
  return Cp1251ToUtf8(trimmed);
}

std::string PhraseFrom(std::string_view referer, std::initializer_list<std::string_view> names) {
  std::string_view value;
  for (std::string_view name : names) {
    if (ParameterValue(referer, name, value)) return AsUtf8(UrlDecode(value));
  }
  return {};
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  size_t k = 0;
  while (k < text.size()) {
    const auto c = static_cast<unsigned char>(text[k]);
    size_t length = 0;
    unsigned minimum = 0, code = 0;
    if (c < 0x80) {
      ++k;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      length = 2, minimum = 0x80, code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3, minimum = 0x800, code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4, minimum = 0x10000, code = c & 0x07;
    } else {
      return false;
    }
    if (text.size() - k < length) return false;
    for (size_t n = 1; n < length; ++n) {
      const auto next = static_cast<unsigned char>(text[k + n]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    k += length;
  }
  return true;
}

bool FindsAsDescribed(const SearchEngineRegistry& registry) {
  const EngineMap& theirs = registry.refererPatterns();
  const EngineMap& ours = Described().refererPatterns();
  return std::equal(theirs.begin(), theirs.end(), ours.begin(), ours.end(),
                    [](const auto& a, const auto& b) {
                      return a.first == b.first && a.second->Id() == b.second->Id() &&
                             typeid(*a.second) == typeid(*b.second);
                    });
}

namespace {

// `recognise` handed what the described engines find in `referer`, as a run's collector does.
bool LookingUpDescribed(std::string_view referer, SearchArrival& out,
                        bool (*recognise)(std::string_view, const SearchEngine*,
                                          const std::string*, SearchArrival&)) {
  const SearchEngine* described = Described().FindByReferer(referer);
  std::string phrase;
  const bool found = described != nullptr && described->ExtractQuery(referer, phrase);
  return recognise(referer, described, found ? &phrase : nullptr, out);
}

}  // namespace

bool RecogniseSearchReferer(std::string_view referer, SearchArrival& out) {
  return LookingUpDescribed(referer, out, RecogniseSearchReferer);
}

bool RecogniseSearchRefererAsStored(std::string_view referer, SearchArrival& out) {
  return LookingUpDescribed(referer, out, RecogniseSearchRefererAsStored);
}

bool RecogniseSearchRefererAsStored(std::string_view referer, const SearchEngine* described,
                                    const std::string* query, SearchArrival& out) {
  if (described != nullptr && query != nullptr) {
    const int id = described->Id();
    const std::string_view trimmed = TrimWhitespace(*query);
    // Every Windows-1251 byte but NUL, where a conversion stops, comes back from UTF-8 as it
    // was; UTF-8 that AsUtf8 kept is converted.
    if (id == kGoogle || id == kYandex || !IsValidUtf8(trimmed)) {
      out.phrase.assign(trimmed.substr(0, trimmed.find('\0')));
    } else {
      out.phrase = ConvertCodePage(trimmed, kCodePageUtf8, kCodePage1251);
    }
    out.engine = kDescribedNames[id];
    return true;
  }
  if (!RecogniseSearchReferer(referer, described, query, out)) return false;
  if (!out.phrase.empty()) out.phrase = ConvertCodePage(out.phrase, kCodePageUtf8, kCodePage1251);
  return true;
}

bool RecogniseSearchReferer(std::string_view referer, const SearchEngine* described,
                            const std::string* query, SearchArrival& out) {
  if (described != nullptr) {
    const int id = described->Id();
    if (query != nullptr) {
      // Google's and Yandex's phrases are converted into Windows-1251; the others keep their
      // decoded bytes, which today are mostly UTF-8.
      out.phrase = id == kGoogle || id == kYandex ? Cp1251ToUtf8(TrimWhitespace(*query))
                                                  : AsUtf8(*query);
    } else {
      out.phrase = PhraseFrom(referer, {kDescribedParameters[id]});
    }
    out.engine = kDescribedNames[id];
    return true;
  }
  // The Google app on Android names itself instead of a page.
  if (referer.starts_with("android-app://com.google.android.googlequicksearchbox")) {
    out = SearchArrival{"Google", {}};
    return true;
  }
  const std::string host = HostOf(referer);
  if (host.empty()) return false;
  for (const EngineRule& rule : kRules) {
    std::string_view sub;
    if (!SubdomainOf(rule, host, sub) || !SubAllowed(rule, sub)) continue;
    out.phrase = PhraseFrom(referer, rule.parameters);
    out.engine = rule.name;
    return true;
  }
  return false;
}

}  // namespace hitsieve
