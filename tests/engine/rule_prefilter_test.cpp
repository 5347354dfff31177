// The literal prefilter must never drop a rule that matches: checked against the full regex
// engine for every compiled-in agent rule, over agents stitched from the rules' own literals.

#include <gtest/gtest.h>

#include <boost/regex.hpp>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/dimensions/agent_rules.h"
#include "engine/dimensions/rule_prefilter.h"

namespace hitsieve {
namespace {

using agent_rules::AgentRule;

std::vector<const AgentRule*> AllRules() {
  std::vector<const AgentRule*> rules;
  const std::pair<const AgentRule*, std::size_t> lists[] = {
      {agent_rules::kBrowserRules, agent_rules::kBrowserRulesCount},
      {agent_rules::kSystemRules, agent_rules::kSystemRulesCount},
      {agent_rules::kDeviceRules, agent_rules::kDeviceRulesCount}};
  for (const auto& [list, count] : lists) {
    for (std::size_t i = 0; i < count; ++i) rules.push_back(&list[i]);
  }
  return rules;
}

TEST(RulePrefilter, CandidateNeedsALiteralOfEachSetIgnoringCaseWhenAsked) {
  const char* const chrome[] = {"Chrome/", nullptr};
  const char* const mobile[] = {" Mobile", "Tablet", nullptr};
  const char* const bot[] = {"bot", nullptr};
  const std::vector<RulePrefilter::Pattern> patterns = {
      {{chrome, mobile}, false},  // 0: both sets
      {{bot, nullptr}, true},     // 1: caseless
      {{nullptr, nullptr}, false},  // 2: no literals: always a candidate
      {{chrome, nullptr}, false}};  // 3
  const RulePrefilter prefilter(patterns);
  const struct {
    const char* text;
    std::vector<std::uint32_t> candidates;
  } cases[] = {
      {"Chrome/120 Mobile Safari", {0, 2, 3}},
      {"Chrome/1 Chrome/2 Mobile Tablet Mobile bot bot", {0, 1, 2, 3}},
      {"Chrome/120 Safari", {2, 3}},
      {"Tablet; Chrome/1", {0, 2, 3}},
      {"chrome/120 mobile", {2}},
      {"GoogleBOT/2.1", {1, 2}},
      {"", {2}},
  };
  std::vector<std::uint32_t> got;
  for (const auto& c : cases) {
    prefilter.Candidates(c.text, got);
    EXPECT_EQ(c.candidates, got) << c.text;
  }
  EXPECT_EQ(1u, prefilter.UnfilteredCount());
}

TEST(RulePrefilter, EveryAgentRuleThatMatchesIsACandidate) {
  const std::vector<const AgentRule*> rules = AllRules();
  std::vector<RulePrefilter::Pattern> patterns;
  std::vector<boost::regex> regexes;
  std::vector<std::string> literals;
  for (const AgentRule* rule : rules) {
    patterns.push_back({{rule->literals[0], rule->literals[1]}, rule->caseless});
    auto flags = boost::regex::perl | boost::regex::no_mod_m | boost::regex::no_mod_s;
    if (rule->caseless) flags |= boost::regex::icase;
    regexes.emplace_back(rule->regex, flags);
    for (const char* const* set : rule->literals) {
      for (const char* const* l = set; l != nullptr && *l != nullptr; ++l) literals.push_back(*l);
    }
  }
  const RulePrefilter prefilter(patterns);
  // Compiled ahead for any processor and loaded, as the program does; and bytes that cannot be
  // loaded, which leave it to compile them itself. Both must find what the first one finds.
  const std::string compiled = RulePrefilter::Compiled(patterns);
  ASSERT_FALSE(compiled.empty());
  const RulePrefilter loaded(patterns, compiled);
  const RulePrefilter unloadable(patterns, compiled.substr(0, compiled.size() / 2));

  // Agents of 1 to 8 literals of random rules, some case-flipped, glued by agent-like fillers
  // and digits, so that many rules nearly match and some match.
  const char* const fillers[] = {" ", "; ", "/", "1.2", ") ", " (", "_", "-", "Build/X", "0"};
  std::mt19937 random(27);
  int matches = 0;
  std::vector<std::uint32_t> candidates;
  for (int n = 0; n < 400; ++n) {
    std::string agent;
    for (int parts = 1 + random() % 8; parts > 0; --parts) {
      std::string literal = literals[random() % literals.size()];
      if (random() % 4 == 0) {
        for (char& ch : literal) ch = std::isupper(ch) ? std::tolower(ch) : std::toupper(ch);
      }
      agent += literal;
      agent += fillers[random() % std::size(fillers)];
      if (random() % 2 == 0) agent += std::to_string(random() % 1000);
    }
    prefilter.Candidates(agent, candidates);
    for (const RulePrefilter* other : {&loaded, &unloadable}) {
      std::vector<std::uint32_t> others;
      other->Candidates(agent, others);
      EXPECT_EQ(candidates, others) << agent;
    }
    for (std::uint32_t i = 0; i < rules.size(); ++i) {
      if (!boost::regex_search(agent, regexes[i])) continue;
      ++matches;
      EXPECT_TRUE(std::binary_search(candidates.begin(), candidates.end(), i))
          << "rule " << i << " " << rules[i]->regex << " matches but is no candidate: " << agent;
    }
  }
  EXPECT_GT(matches, 400) << "the generated agents should hit many rules";
}

}  // namespace
}  // namespace hitsieve
