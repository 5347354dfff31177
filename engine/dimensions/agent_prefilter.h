// The prefilter patterns of the built-in user agent rules, shared by the parser and by the build
// tool that compiles their scanner ahead of time.
#ifndef HITSIEVE_ENGINE_DIMENSIONS_AGENT_PREFILTER_H_
#define HITSIEVE_ENGINE_DIMENSIONS_AGENT_PREFILTER_H_

#include <vector>

#include "engine/dimensions/rule_prefilter.h"

namespace hitsieve {

// One pattern per rule: the browser rules, then the system rules, then the device rules.
std::vector<RulePrefilter::Pattern> AgentRulePatterns();

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_DIMENSIONS_AGENT_PREFILTER_H_
