// Browser, operating system and device class of a user agent, by the pinned agent regexes that
// are compiled into the program. Called once per distinct agent of a run.
#ifndef HITSIEVE_ENGINE_DIMENSIONS_AGENT_PARSER_H_
#define HITSIEVE_ENGINE_DIMENSIONS_AGENT_PARSER_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace hitsieve {

enum class DeviceClass { kDesktop, kPhone, kTablet, kBot, kOther };

// "desktop", "phone", "tablet", "bot", "other": the keys stored and shown.
std::string_view DeviceKey(DeviceClass device);

struct AgentInfo {
  std::string browser;        // family, e.g. "Firefox"; "Other" if unknown
  std::string browser_major;  // e.g. "121"; empty if none
  std::string system;         // family, e.g. "Windows"; "Other" if unknown
  DeviceClass device = DeviceClass::kOther;
};

// All that the three rule lists tell about an agent; AgentInfo keeps what the reports use.
struct AgentDetails {
  std::string browser = "Other";
  std::string browser_major;
  std::string browser_minor;
  std::string system = "Other";
  std::string system_major;
  std::string device = "Other";  // device family, e.g. "iPhone", "Spider", "Samsung SM-T510"
  std::string brand;
  std::string model;
};

// The device class from what the rules found and the agent itself (see the rule in the .cpp).
DeviceClass ClassifyDevice(const AgentDetails& details, std::string_view agent);

// Immutable once built; every method may be called from several threads at once. Never throws
// on any agent text (any bytes, any length).
class AgentParser {
 public:
  // Only this many leading bytes of an agent are matched; real agents are far shorter, and the
  // cap bounds the work one hostile agent can cause.
  static constexpr std::size_t kMaxAgentLength = 2048;

  static const AgentParser& Builtin();  // built on first use (a fraction of a second)

  AgentInfo Parse(std::string_view agent) const;
  AgentDetails ParseDetails(std::string_view agent) const;
  std::string_view Version() const;  // e.g. "uap-core 0.18.0"

  // Rules the regex engine could not compile (they never match; expected 0), and rules the
  // one-pass prefilter could not take (tried on every agent; a speed matter only).
  std::size_t UnusableRuleCount() const;
  std::size_t UnfilteredRuleCount() const;

  ~AgentParser();
  AgentParser(const AgentParser&) = delete;
  AgentParser& operator=(const AgentParser&) = delete;

 private:
  struct Rules;
  AgentParser();

  std::unique_ptr<const Rules> rules_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_DIMENSIONS_AGENT_PARSER_H_
