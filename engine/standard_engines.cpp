// The six search engines the program knows, their referer patterns and crawler tokens.
#include "engine/standard_engines.h"

#include <initializer_list>

#include "engine/query_match.h"
#include "engine/text.h"

namespace hitsieve {

namespace {

constexpr int kNoConversion = 0;

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

void Insert(EngineMap& map, const SearchEngine* engine, std::initializer_list<const char*> keys) {
  for (const char* key : keys) map.emplace(key, engine);  // an earlier entry is kept
}

// Decodes the captured value and brings it into Windows-1251 when it came in another code page.
void SetPhrase(std::string_view value, int code_page, std::string& phrase) {
  if (code_page == kNoConversion) {
    phrase = UrlDecode(value);
  } else {
    phrase = ConvertCodePage(UrlDecode(value), code_page, kCodePage1251);
  }
}

// The common shape: a path test, then the first "?name=" or "&name=" parameter.
bool ExtractParameter(std::string_view referer, std::string_view path, char name, int code_page,
                      std::string& phrase) {
  std::string_view value;
  if (!Contains(referer, path) || !FindParameterValue(referer, name, value)) return false;
  SetPhrase(value, code_page, phrase);
  return true;
}

}  // namespace

const std::string& GoogleEngine::Name() const {
  static const std::string name = "Google";
  return name;
}
bool GoogleEngine::ExtractQuery(std::string_view referer, std::string& phrase) const {
  return ExtractParameter(referer, "/search", 'q', kCodePageUtf8, phrase);
}
void GoogleEngine::RegisterRobots(EngineMap& map) const { Insert(map, this, {"Googlebot"}); }
void GoogleEngine::RegisterReferers(EngineMap& map) const {
  Insert(map, this, {"//google.", "//www.google."});
}

const std::string& YandexEngine::Name() const {
  static const std::string name = "Yandex";
  return name;
}
// Result pages give the phrase in UTF-8; the older paged results percent-encode the whole
// query string once more and carry the phrase in KOI8-R.
bool YandexEngine::ExtractQuery(std::string_view referer, std::string& phrase) const {
  std::string_view value;
  if (Contains(referer, "/yandsearch") && FindKeyValue(referer, "text=", value)) {
    SetPhrase(value, kCodePageUtf8, phrase);
    return true;
  }
  if (!Contains(referer, "/yandpage")) return false;
  const std::string decoded = UrlDecode(referer);
  if (!FindKeyValue(decoded, "text=", value)) return false;
  SetPhrase(value, kCodePageKoi8r, phrase);
  return true;
}
void YandexEngine::RegisterRobots(EngineMap& map) const { Insert(map, this, {"Yandex"}); }
void YandexEngine::RegisterReferers(EngineMap& map) const {
  Insert(map, this, {"//yandex.ru", "//www.yandex.ru"});
}

const std::string& RamblerEngine::Name() const {
  static const std::string name = "Rambler";
  return name;
}
// Result pages keep the phrase's bytes (Windows-1251); the top-100 and counter pages use KOI8-R.
bool RamblerEngine::ExtractQuery(std::string_view referer, std::string& phrase) const {
  bool koi8 = Contains(referer, "set=top100");
  if (!Contains(referer, "/srch?") && !koi8) {
    if (!Contains(referer, "/counter_search?")) return false;
    koi8 = true;
  }
  std::string_view value;
  if (!FindKeyValue(referer, "words=", value)) return false;
  SetPhrase(value, koi8 ? kCodePageKoi8r : kNoConversion, phrase);
  return true;
}
void RamblerEngine::RegisterRobots(EngineMap& map) const { Insert(map, this, {"StackRambler"}); }
void RamblerEngine::RegisterReferers(EngineMap& map) const {
  Insert(map, this, {"//rambler.ru", "//www.rambler.ru"});
}

const std::string& MailruEngine::Name() const {
  static const std::string name = "Mail.ru";
  return name;
}
bool MailruEngine::ExtractQuery(std::string_view referer, std::string& phrase) const {
  return ExtractParameter(referer, "/search?", 'q', kNoConversion, phrase);
}
void MailruEngine::RegisterRobots(EngineMap&) const {}
void MailruEngine::RegisterReferers(EngineMap& map) const {
  Insert(map, this, {"//go.mail.ru", "//www.go.mail.ru"});
}

const std::string& AportEngine::Name() const {
  static const std::string name = "\xC0\xEF\xEE\xF0\xF2";  // "Апорт" in Windows-1251
  return name;
}
bool AportEngine::ExtractQuery(std::string_view referer, std::string& phrase) const {
  return ExtractParameter(referer, "", 'r', kNoConversion, phrase);
}
void AportEngine::RegisterRobots(EngineMap& map) const { Insert(map, this, {"Aport"}); }
void AportEngine::RegisterReferers(EngineMap& map) const { Insert(map, this, {"/sm.aport.ru/"}); }

const std::string& WebaltaEngine::Name() const {
  static const std::string name = "Webalta";
  return name;
}
bool WebaltaEngine::ExtractQuery(std::string_view referer, std::string& phrase) const {
  return ExtractParameter(referer, "/search?", 'q', kNoConversion, phrase);
}
void WebaltaEngine::RegisterRobots(EngineMap& map) const {
  Insert(map, this, {"WebAlta", "www.webalta.net"});
}
void WebaltaEngine::RegisterReferers(EngineMap& map) const {
  Insert(map, this, {"//webalta.ru/", "//www.webalta.ru/"});
}

}  // namespace hitsieve
