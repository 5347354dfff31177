// The user agent rules compiled into the program: three ordered lists (browsers, systems,
// devices) generated at build time from the pinned regex file by make_agent_rules.py.
#ifndef HITSIEVE_ENGINE_DIMENSIONS_AGENT_RULES_H_
#define HITSIEVE_ENGINE_DIMENSIONS_AGENT_RULES_H_

#include <cstddef>

namespace hitsieve::agent_rules {

// One rule as the data file writes it. `replacement` holds, in order, for a browser rule:
// family, v1, v2; for a system rule: family, v1, v2, v3, v4; for a device rule: device, brand,
// model. nullptr where the file gives none (the rule's captures are used then). A replacement may
// name captures as $1..$9. Each of `literals` (nullptr-terminated; nullptr: none) is a set of
// strings one of which every text the regex matches contains, ignoring case for a caseless rule.
struct AgentRule {
  const char* regex;
  bool caseless;
  const char* replacement[5];
  const char* const* literals[2];
};

extern const char kDataVersion[];  // e.g. "uap-core 0.18.0", from the package's own metadata
extern const AgentRule kBrowserRules[];
extern const std::size_t kBrowserRulesCount;
extern const AgentRule kSystemRules[];
extern const std::size_t kSystemRulesCount;
extern const AgentRule kDeviceRules[];
extern const std::size_t kDeviceRulesCount;

}  // namespace hitsieve::agent_rules

#endif  // HITSIEVE_ENGINE_DIMENSIONS_AGENT_RULES_H_
