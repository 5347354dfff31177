// The six search engines the program knows.
#ifndef HITSIEVE_ENGINE_STANDARD_ENGINES_H_
#define HITSIEVE_ENGINE_STANDARD_ENGINES_H_

#include <string>
#include <string_view>

#include "engine/search_engine.h"

// The six search engines the program knows. Each is stateless; the registry owns them.
namespace hitsieve {

class GoogleEngine : public SearchEngine {
 public:
  int Id() const override { return kGoogle; }
  const std::string& Name() const override;
  bool ExtractQuery(std::string_view referer, std::string& phrase) const override;
  void RegisterRobots(EngineMap& robot_tokens) const override;
  void RegisterReferers(EngineMap& referer_patterns) const override;
};

class YandexEngine : public SearchEngine {
 public:
  int Id() const override { return kYandex; }
  const std::string& Name() const override;
  bool ExtractQuery(std::string_view referer, std::string& phrase) const override;
  void RegisterRobots(EngineMap& robot_tokens) const override;
  void RegisterReferers(EngineMap& referer_patterns) const override;
};

class RamblerEngine : public SearchEngine {
 public:
  int Id() const override { return kRambler; }
  const std::string& Name() const override;
  bool ExtractQuery(std::string_view referer, std::string& phrase) const override;
  void RegisterRobots(EngineMap& robot_tokens) const override;
  void RegisterReferers(EngineMap& referer_patterns) const override;
};

class MailruEngine : public SearchEngine {
 public:
  int Id() const override { return kMailru; }
  const std::string& Name() const override;
  bool ExtractQuery(std::string_view referer, std::string& phrase) const override;
  void RegisterRobots(EngineMap& robot_tokens) const override;
  void RegisterReferers(EngineMap& referer_patterns) const override;
};

class AportEngine : public SearchEngine {
 public:
  int Id() const override { return kAport; }
  const std::string& Name() const override;
  bool ExtractQuery(std::string_view referer, std::string& phrase) const override;
  void RegisterRobots(EngineMap& robot_tokens) const override;
  void RegisterReferers(EngineMap& referer_patterns) const override;
};

class WebaltaEngine : public SearchEngine {
 public:
  int Id() const override { return kWebalta; }
  const std::string& Name() const override;
  bool ExtractQuery(std::string_view referer, std::string& phrase) const override;
  void RegisterRobots(EngineMap& robot_tokens) const override;
  void RegisterReferers(EngineMap& referer_patterns) const override;
};

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_STANDARD_ENGINES_H_
