#include "engine/dimensions/agent_parser.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "engine/dimensions/agent_prefilter.h"
#include "engine/dimensions/agent_rules.h"
#include "engine/dimensions/rule_prefilter.h"

namespace hitsieve {

using agent_rules::AgentRule;

namespace {

// A rule's regular expression, compiled when a candidate first needs it: most rules are never
// a candidate in a run, and compiling all of them would cost every run (and every test run
// under a sanitizer) seconds before its first record.
struct LazyRegex {
  std::once_flag once;
  std::optional<boost::regex> regex;  // empty: the engine rejected the pattern
};

std::optional<boost::regex> CompileRule(const AgentRule& rule);

struct CompiledRule {
  const AgentRule* source;
  std::shared_ptr<LazyRegex> lazy = std::make_shared<LazyRegex>();

  // The compiled expression, or null when the engine rejected it. Thread-safe.
  const boost::regex* Regex() const {
    std::call_once(lazy->once, [this] { lazy->regex = CompileRule(*source); });
    return lazy->regex ? &*lazy->regex : nullptr;
  }
};

// The data file is written for Perl-like engines that match '^', '$' and '.' within one line;
// Boost's Perl mode would otherwise let them see embedded newlines.
std::optional<boost::regex> CompileRule(const AgentRule& rule) {
  auto flags = boost::regex::perl | boost::regex::no_mod_m | boost::regex::no_mod_s;
  if (rule.caseless) flags |= boost::regex::icase;
  try {
    return boost::regex(rule.regex, flags);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string Capture(const boost::cmatch& match, std::size_t group) {
  if (group >= match.size() || !match[group].matched) return {};
  return match[group].str();
}

// `pattern` with $1..$9 replaced by those captures (nothing for a capture that did not take part).
std::string Expand(std::string_view pattern, const boost::cmatch& match) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '$' && i + 1 < pattern.size() && pattern[i + 1] >= '0' &&
        pattern[i + 1] <= '9') {
      out += Capture(match, static_cast<std::size_t>(pattern[i + 1] - '0'));
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

std::string Trimmed(std::string text) {
  constexpr std::string_view kSpace = " \t\n\r\f\v";
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::string::npos) return {};
  text.erase(text.find_last_not_of(kSpace) + 1);
  text.erase(0, first);
  return text;
}

// A system or device value: the expanded, trimmed replacement if the rule has one, else the
// capture `group`.
std::string SlotValue(const char* replacement, const boost::cmatch& match, std::size_t group) {
  if (replacement != nullptr) return Trimmed(Expand(replacement, match));
  return Capture(match, group);
}

bool ContainsIgnoringCase(std::string_view text, std::string_view word) {
  return std::search(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(a) == lower(b);
         }) != text.end();
}

bool IsOneOf(std::string_view value, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), value) != names.end();
}

}  // namespace

struct AgentParser::Rules {
  Rules();

  std::vector<CompiledRule> all;  // browser rules, then system rules, then device rules
  std::uint32_t system_begin = 0;
  std::uint32_t device_begin = 0;
  std::size_t unusable = 0;
  std::optional<RulePrefilter> prefilter;
};

namespace {
#include "agent_prefilter.inc"
}  // namespace

AgentParser::Rules::Rules() {
  const std::array<std::pair<const AgentRule*, std::size_t>, 3> lists = {{
      {agent_rules::kBrowserRules, agent_rules::kBrowserRulesCount},
      {agent_rules::kSystemRules, agent_rules::kSystemRulesCount},
      {agent_rules::kDeviceRules, agent_rules::kDeviceRulesCount},
  }};
  for (std::size_t list = 0; list < lists.size(); ++list) {
    if (list == 1) system_begin = static_cast<std::uint32_t>(all.size());
    if (list == 2) device_begin = static_cast<std::uint32_t>(all.size());
    for (std::size_t i = 0; i < lists[list].second; ++i) all.push_back({&lists[list].first[i]});
  }
  prefilter.emplace(AgentRulePatterns(),
                    std::string_view(reinterpret_cast<const char*>(kAgentPrefilter),
                                     sizeof kAgentPrefilter));
}

namespace {

// Runs the candidates in [begin, end), in the file's order, until `take` accepts a match: as the
// rule file intends, the first rule that matches decides, except that a match that yields an
// empty family lets the next rule try.
template <typename Take>
void FirstMatch(const std::vector<CompiledRule>& rules,
                const std::vector<std::uint32_t>& candidates, std::uint32_t begin, std::uint32_t end, std::string_view agent, Take take) {
  auto it = std::lower_bound(candidates.begin(), candidates.end(), begin);
  boost::cmatch match;
  for (; it != candidates.end() && *it < end; ++it) {
    const CompiledRule& rule = rules[*it];
    const boost::regex* regex = rule.Regex();
    if (regex == nullptr) continue;
    bool found = false;
    try {
      found = boost::regex_search(agent.data(), agent.data() + agent.size(), match, *regex);
    } catch (const std::exception&) {
      found = false;  // the engine's work limit: this rule cannot decide on this agent
    }
    if (found && take(*rule.source, match)) return;
  }
}

}  // namespace

AgentParser::AgentParser() : rules_(std::make_unique<const Rules>()) {}
AgentParser::~AgentParser() = default;

const AgentParser& AgentParser::Builtin() {
  static const AgentParser parser;
  return parser;
}

std::string_view AgentParser::Version() const { return agent_rules::kDataVersion; }
std::size_t AgentParser::UnusableRuleCount() const {
  std::size_t unusable = 0;
  for (const CompiledRule& rule : rules_->all) unusable += rule.Regex() == nullptr ? 1 : 0;
  return unusable;
}
std::size_t AgentParser::UnfilteredRuleCount() const {
  return rules_->prefilter->UnfilteredCount();
}

AgentDetails AgentParser::ParseDetails(std::string_view agent) const {
  AgentDetails details;
  agent = agent.substr(0, std::min(agent.size(), kMaxAgentLength));
  std::vector<std::uint32_t> candidates;
  rules_->prefilter->Candidates(agent, candidates);
  const auto& all = rules_->all;
  const auto total = static_cast<std::uint32_t>(all.size());

  FirstMatch(all, candidates, 0, rules_->system_begin, agent,
             [&](const AgentRule& rule, const boost::cmatch& m) {
               const char* const* r = rule.replacement;
               std::string family = r[0] != nullptr ? Expand(r[0], m) : Capture(m, 1);
               if (family.empty()) return false;
               details.browser = std::move(family);
               details.browser_major = r[1] != nullptr ? r[1] : Capture(m, 2);
               details.browser_minor = r[2] != nullptr ? r[2] : Capture(m, 3);
               return true;
             });
  FirstMatch(all, candidates, rules_->system_begin, rules_->device_begin, agent,
             [&](const AgentRule& rule, const boost::cmatch& m) {
               std::string family = SlotValue(rule.replacement[0], m, 1);
               if (family.empty()) return false;
               details.system = std::move(family);
               details.system_major = SlotValue(rule.replacement[1], m, 2);
               return true;
             });
  FirstMatch(all, candidates, rules_->device_begin, total, agent,
             [&](const AgentRule& rule, const boost::cmatch& m) {
               std::string family = SlotValue(rule.replacement[0], m, 1);
               if (family.empty()) return false;
               details.device = std::move(family);
               if (const char* brand = rule.replacement[1]) {
                 details.brand = Trimmed(Expand(brand, m));
               }
               details.model = SlotValue(rule.replacement[2], m, 1);
               return true;
             });
  return details;
}

AgentInfo AgentParser::Parse(std::string_view agent) const {
  AgentDetails details = ParseDetails(agent);
  AgentInfo info;
  info.device = ClassifyDevice(details, agent.substr(0, std::min(agent.size(), kMaxAgentLength)));
  info.browser = std::move(details.browser);
  info.browser_major = std::move(details.browser_major);
  info.system = std::move(details.system);
  return info;
}

std::string_view DeviceKey(DeviceClass device) {
  switch (device) {
    case DeviceClass::kDesktop: return "desktop";
    case DeviceClass::kPhone: return "phone";
    case DeviceClass::kTablet: return "tablet";
    case DeviceClass::kBot: return "bot";
    case DeviceClass::kOther: break;
  }
  return "other";
}

namespace {

bool IsTelevisionOrConsole(const AgentDetails& details, std::string_view agent) {
  for (std::string_view word : {"TV", "PlayStation", "Nintendo", "Xbox", "Watch", "Tesla",
                                "Inettv", "HbbTV", "Roku", "Chromecast", "Quest"}) {
    if (details.device.find(word) != std::string::npos) return true;
  }
  // Consoles and televisions that the device rules miss but whose agents name them.
  for (std::string_view word : {"Xbox", "PlayStation", "Nintendo", "SmartTV", "SMART-TV", "HbbTV",
                                "CrKey", "AppleTV"}) {
    if (agent.find(word) != std::string_view::npos) return true;
  }
  return IsOneOf(details.system, {"ATV OS X", "tvOS", "WatchOS", "Chromecast", "FireHbbTV",
                                  "Roku", "GoogleTV", "WebTV", "Web0S"});
}

bool IsMobileSystem(std::string_view system) {
  return IsOneOf(system, {"Android", "iOS", "Windows Phone", "Windows Mobile", "BlackBerry OS",
                          "Firefox OS", "KaiOS", "Bada", "MeeGo", "Maemo", "Sailfish", "Tizen",
                          "webOS", "Nokia Series 40", "Nokia Series 30 Plus", "BREW",
                          "Brew MP"}) ||
         system.starts_with("Symbian");
}

bool IsDesktopSystem(std::string_view system) {
  return system == "Windows" || system.starts_with("Mac OS") || system == "Linux" ||
         system == "Chrome OS" || system.ends_with("BSD") || system == "Solaris" ||
         IsOneOf(system, {"Ubuntu", "Kubuntu", "Debian", "Fedora", "Red Hat", "CentOS", "Gentoo",
                          "Mandriva", "Mageia", "SUSE", "openSUSE", "Slackware", "Linux Mint",
                          "Mint", "Arch Linux"});
}

bool IsTablet(const AgentDetails& details, std::string_view agent, bool mobile_system) {
  const std::string& device = details.device;
  if (device.starts_with("iPad") || device.starts_with("Kindle") || device == "Generic Tablet" ||
      ContainsIgnoringCase(device, "tablet") || ContainsIgnoringCase(device, "playbook") ||
      device == "HP TouchPad" || details.system == "BlackBerry Tablet OS") {
    return true;
  }
  if (mobile_system && agent.find("Tablet") != std::string_view::npos) return true;
  return details.system == "Android" && agent.find("Safari") != std::string_view::npos &&
         agent.find("Mobile") == std::string_view::npos;
}

}  // namespace

// The rules name devices, not classes, so the class is decided here, in this order:
//  1. bot: the device rules call every crawler's device "Spider".
//  2. other: televisions, set-top boxes, consoles, watches, cars, whatever their system, known
//     from the device family or from the agent's own words ("Xbox", "SmartTV", ...).
//  3. tablet: device families that name tablets (iPad, Kindle, "Generic Tablet", PlayBook,
//     TouchPad, "...Tablet..."), the tablet-only system, and agents of a mobile system that say
//     "Tablet", or Android browsers that leave out "Mobile" (Android's tablet browsers do; its
//     phone browsers say "Mobile Safari").
//  4. phone: iPhone and iPod, the generic phone families, and every other agent of a mobile
//     system (Android, iOS, Windows Phone, Symbian, BlackBerry, KaiOS, ...).
//  5. desktop: a desktop system (Windows, macOS, Linux and its distributions, Chrome OS, the BSDs,
//     Solaris) with no particular device found (family "Other", or "Mac").
//  6. phone: a device the rules name by its maker but with no system known; such agents come from
//     feature phones ("SAMSUNG-SGH-Z520", "LG-KG810").
//  7. other: the rest, including agents nothing is known of.
DeviceClass ClassifyDevice(const AgentDetails& details, std::string_view agent) {
  const std::string& device = details.device;
  if (device == "Spider") return DeviceClass::kBot;
  if (IsTelevisionOrConsole(details, agent)) return DeviceClass::kOther;
  const bool mobile = IsMobileSystem(details.system);
  if (IsTablet(details, agent, mobile)) return DeviceClass::kTablet;
  if (mobile || device.starts_with("iPhone") || device.starts_with("iPod") ||
      device == "Generic Smartphone" || device == "Generic Feature Phone") {
    return DeviceClass::kPhone;
  }
  if (IsDesktopSystem(details.system) && (device == "Other" || device == "Mac")) {
    return DeviceClass::kDesktop;
  }
  if (details.system == "Other" && !details.brand.empty() && device != "Other") {
    return DeviceClass::kPhone;
  }
  return DeviceClass::kOther;
}

}  // namespace hitsieve
