#include "engine/search_engine.h"

#include "engine/standard_engines.h"

namespace hitsieve {

namespace {

// Visits the keys in byte order; the first that occurs wins, so overlapping keys resolve the
// same way on every run.
const SearchEngine* FindFirstKey(const EngineMap& keys, std::string_view text) {
  for (const auto& [key, engine] : keys) {
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
