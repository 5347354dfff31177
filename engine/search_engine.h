// SearchEngine: how one search engine is recognised (crawler, result pages) and its phrase read;
// the registry of engines.
#ifndef HITSIEVE_ENGINE_SEARCH_ENGINE_H_
#define HITSIEVE_ENGINE_SEARCH_ENGINE_H_

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace hitsieve {

// Engine ids number the per-engine columns: google, yandex, rambler, mailru, aport, webalta.
inline constexpr int kEngineCount = 6;
enum EngineId { kGoogle = 0, kYandex = 1, kRambler = 2, kMailru = 3, kAport = 4, kWebalta = 5 };

class SearchEngine;
using EngineMap = std::map<std::string, const SearchEngine*, std::less<>>;

// One search engine: recognises its crawler by user agent, its result pages by referer, and
// extracts the visitor's phrase into Windows-1251. Engines are stateless.
class SearchEngine {
 public:
  virtual ~SearchEngine() = default;
  virtual int Id() const = 0;
  // Lives as long as the process; Windows-1251 bytes ("Апорт" is C0 EF EE F0 F2).
  virtual const std::string& Name() const = 0;
  // True and `phrase` set when `referer` carries a phrase in this engine's format; otherwise
  // false and `phrase` unchanged. Never throws, whatever the referer's length or shape.
  virtual bool ExtractQuery(std::string_view referer, std::string& phrase) const = 0;
  virtual void RegisterRobots(EngineMap& robot_tokens) const = 0;
  virtual void RegisterReferers(EngineMap& referer_patterns) const = 0;
};

class GoogleEngine;
class YandexEngine;
class RamblerEngine;
class MailruEngine;
class AportEngine;
class WebaltaEngine;

// Owns the engines and their robot tokens and referer patterns. Filled once on the UI thread
// before any run; only read afterwards (by the worker), so it needs no lock.
class SearchEngineRegistry {
 public:
  // The process-wide registry, created on first use.
  static SearchEngineRegistry& Instance();

  SearchEngineRegistry() = default;
  SearchEngineRegistry(const SearchEngineRegistry&) = delete;
  SearchEngineRegistry& operator=(const SearchEngineRegistry&) = delete;

  // Takes ownership; an already registered token or pattern keeps its earlier engine.
  void Register(std::unique_ptr<SearchEngine> engine);

  // The engine whose key, visited in byte order, first occurs in the text; nullptr if none.
  const SearchEngine* FindRobot(std::string_view user_agent) const;
  const SearchEngine* FindByReferer(std::string_view referer) const;

  const EngineMap& robotTokens() const { return robotTokens_; }
  const EngineMap& refererPatterns() const { return refererPatterns_; }
  bool empty() const { return engines_.empty(); }

 private:
  EngineMap robotTokens_;
  EngineMap refererPatterns_;
  std::vector<std::unique_ptr<SearchEngine>> engines_;
};

// Register the six engines, in id order 0 to 5, unless `registry` already holds engines.
void RegisterStandardEngines(SearchEngineRegistry& registry);

// The display name of engine `id` in column headers, UTF-8 ("Google", ..., "Mail.ru", "Апорт").
const char* EngineColumnTitle(int id);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_SEARCH_ENGINE_H_
