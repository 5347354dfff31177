#include "engine/dimensions/agent_prefilter.h"

#include "engine/dimensions/agent_rules.h"

namespace hitsieve {

std::vector<RulePrefilter::Pattern> AgentRulePatterns() {
  using agent_rules::AgentRule;
  const std::pair<const AgentRule*, std::size_t> lists[] = {
      {agent_rules::kBrowserRules, agent_rules::kBrowserRulesCount},
      {agent_rules::kSystemRules, agent_rules::kSystemRulesCount},
      {agent_rules::kDeviceRules, agent_rules::kDeviceRulesCount},
  };
  std::vector<RulePrefilter::Pattern> patterns;
  for (const auto& [rules, count] : lists) {
    for (std::size_t i = 0; i < count; ++i) {
      patterns.push_back({{rules[i].literals[0], rules[i].literals[1]}, rules[i].caseless});
    }
  }
  return patterns;
}

}  // namespace hitsieve
