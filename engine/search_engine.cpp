// The search engine registry and what all engines share: crawler and referer matching, phrase
// extraction (search_engine.h).
#include "engine/search_engine.h"

#include "engine/standard_engines.h"

namespace hitsieve {

namespace {

// Visits the keys in byte order; the first that occurs wins, so overlapping keys resolve the
// same way on every run.
const SearchEngine* FindFirstKey(const EngineMap& keys, std::string_view text) {
  // Most referer patterns begin with "//", which a referer holds about once, while '/' itself
  // is frequent: such a key is tried only where "//" occurs instead of at every '/'.
  constexpr size_t kMaxStarts = 8;
  size_t starts[kMaxStarts];
  size_t start_count = 0;
  bool starts_known = false;  // false also when there are too many to list
  bool scanned = false;
  for (const auto& [key, engine] : keys) {
    if (key.size() >= 2 && key[0] == '/' && key[1] == '/') {
      if (!scanned) {
        scanned = starts_known = true;
        for (size_t at = text.find("//"); at != std::string_view::npos; at = text.find("//", at + 1)) {
          if (start_count == kMaxStarts) {
            starts_known = false;
            break;
          }
          starts[start_count++] = at;
        }
      }
      if (starts_known) {
        for (size_t i = 0; i < start_count; ++i) {
          if (text.compare(starts[i], key.size(), key) == 0) return engine;
        }
        continue;
      }
    }
    if (text.find(key) != std::string_view::npos) return engine;
  }
  return nullptr;
}

}  // namespace

SearchEngineRegistry& SearchEngineRegistry::Instance() {
  static SearchEngineRegistry registry;
  return registry;
}

void SearchEngineRegistry::Register(std::unique_ptr<SearchEngine> engine) {
  const SearchEngine* added = engine.get();
  engines_.push_back(std::move(engine));
  added->RegisterRobots(robotTokens_);
  added->RegisterReferers(refererPatterns_);
}

const SearchEngine* SearchEngineRegistry::FindRobot(std::string_view user_agent) const {
  return FindFirstKey(robotTokens_, user_agent);
}

const SearchEngine* SearchEngineRegistry::FindByReferer(std::string_view referer) const {
  return FindFirstKey(refererPatterns_, referer);
}

void RegisterStandardEngines(SearchEngineRegistry& registry) {
  if (!registry.empty()) return;
  registry.Register(std::make_unique<GoogleEngine>());
  registry.Register(std::make_unique<YandexEngine>());
  registry.Register(std::make_unique<RamblerEngine>());
  registry.Register(std::make_unique<MailruEngine>());
  registry.Register(std::make_unique<AportEngine>());
  registry.Register(std::make_unique<WebaltaEngine>());
}

const char* EngineColumnTitle(int id) {
  static const char* const kTitles[kEngineCount] = {"Google",  "Yandex", "Rambler",
                                                    "Mail.ru", "Апорт",  "Webalta"};
  return id >= 0 && id < kEngineCount ? kTitles[id] : "";
}

}  // namespace hitsieve
