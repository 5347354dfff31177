// The agent parser against a slow reference (Debian's python3-ua-parser over the same pinned
// regex file), on common agents whose class is known, and on agents that try to break it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/dimensions/agent_parser.h"

namespace hitsieve {
namespace {

namespace fs = std::filesystem;

const std::string kSource = HITSIEVE_SOURCE_DIR;
const std::string kAgentData = kSource + "/third_party/data/node_modules/uap-core";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
    parts.push_back(text.substr(start, end - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

struct Reference {
  std::string agent, browser, major, system, device, brand;
};

// Runs the reference parser on its corpus of real agents; one row per agent.
std::vector<Reference> RunReference() {
  std::string dir = (fs::temp_directory_path() / "hitsieve-agents-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  const std::string out = dir + "/reference.tsv";
  const std::string command = "UA_PARSER_YAML='" + kAgentData +
                              "/regexes.yaml' /usr/bin/python3 '" + kSource +
                              "/tests/engine/agent_reference.py' '" + out + "'";
  const int status = std::system(command.c_str());
  const std::string text = ReadFile(out);
  fs::remove_all(dir);
  if (status != 0) {
    throw std::runtime_error("the reference parser failed (scripts/install-deps installs "
                             "python3-ua-parser and its test agents): " + command);
  }
  std::vector<Reference> rows;
  for (const std::string& line : Split(text, '\n')) {
    if (line.empty()) continue;
    const auto f = Split(line, '\t');
    if (f.size() != 6) throw std::runtime_error("bad reference line: " + line);
    rows.push_back({f[0], f[1], f[2], f[3], f[4], f[5]});
  }
  return rows;
}

TEST(AgentParser, AgreesWithReferenceParserOnRealAgents) {
  const std::vector<Reference> rows = RunReference();
  ASSERT_GE(rows.size(), 5000u) << "the reference corpus is smaller than expected";
  const AgentParser& parser = AgentParser::Builtin();
  int differences = 0;
  for (const Reference& want : rows) {
    const AgentDetails got = parser.ParseDetails(want.agent);
    if (got.browser == want.browser && got.browser_major == want.major &&
        got.system == want.system && got.device == want.device && got.brand == want.brand) {
      continue;
    }
    if (++differences <= 20) {
      ADD_FAILURE() << want.agent << "\n  reference: " << want.browser << " | " << want.major
                    << " | " << want.system << " | " << want.device << " | " << want.brand
                    << "\n  parser:    " << got.browser << " | " << got.browser_major << " | "
                    << got.system << " | " << got.device << " | " << got.brand;
    }
  }
  EXPECT_EQ(0, differences) << "of " << rows.size() << " agents";
}

TEST(AgentParser, EveryRuleCompilesAndHasLiterals) {
  const AgentParser& parser = AgentParser::Builtin();
  EXPECT_EQ(0u, parser.UnusableRuleCount()) << "rules the regex engine rejects never match";
  EXPECT_EQ(0u, parser.UnfilteredRuleCount()) << "rules without literals run on every agent";
  const std::string package = ReadFile(kAgentData + "/package.json");
  std::smatch version;
  ASSERT_TRUE(std::regex_search(package, version, std::regex("\"version\": *\"([^\"]+)\"")));
  EXPECT_EQ("uap-core " + version[1].str(), parser.Version());
}

TEST(AgentParser, ClassifiesCommonAgents) {
  const struct {
    const char* agent;
    const char* browser;
    const char* major;
    const char* system;
    DeviceClass device;
  } cases[] = {
      {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
       "Chrome/120.0.0.0 Safari/537.36",
       "Chrome", "120", "Windows", DeviceClass::kDesktop},
      {"Mozilla/5.0 (X11; Ubuntu; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0",
       "Firefox", "121", "Ubuntu", DeviceClass::kDesktop},
      {"Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) "
       "Version/17.1 Safari/605.1.15",
       "Safari", "17", "Mac OS X", DeviceClass::kDesktop},
      {"Mozilla/5.0 (iPhone; CPU iPhone OS 17_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
       "Gecko) Version/17.1 Mobile/15E148 Safari/604.1",
       "Mobile Safari", "17", "iOS", DeviceClass::kPhone},
      {"Mozilla/5.0 (iPad; CPU OS 16_6 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
       "Version/16.6 Mobile/15E148 Safari/604.1",
       "Mobile Safari", "16", "iOS", DeviceClass::kTablet},
      {"Mozilla/5.0 (Linux; Android 10; K) AppleWebKit/537.36 (KHTML, like Gecko) "
       "Chrome/120.0.0.0 Mobile Safari/537.36",
       "Chrome Mobile", "120", "Android", DeviceClass::kPhone},
      {"Mozilla/5.0 (Linux; Android 13; SM-X200) AppleWebKit/537.36 (KHTML, like Gecko) "
       "Chrome/119.0.0.0 Safari/537.36",
       "Chrome", "119", "Android", DeviceClass::kTablet},
      {"Mozilla/5.0 (Android 14; Mobile; rv:121.0) Gecko/121.0 Firefox/121.0", "Firefox Mobile",
       "121", "Android", DeviceClass::kPhone},
      {"Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)", "Googlebot",
       "2", "Other", DeviceClass::kBot},
      {"Mozilla/5.0 (Windows NT 10.0; Win64; x64; Xbox; Xbox One) AppleWebKit/537.36 (KHTML, "
       "like Gecko) Chrome/70.0.3538.102 Safari/537.36 Edge/18.19041",
       "Edge", "18", "Windows", DeviceClass::kOther},
      {"curl/8.4.0", "curl", "8", "Other", DeviceClass::kOther},
      {"SAMSUNG-SGH-Z520", "Other", "", "Other", DeviceClass::kPhone},
      {"", "Other", "", "Other", DeviceClass::kOther},
  };
  const AgentParser& parser = AgentParser::Builtin();
  for (const auto& c : cases) {
    const AgentInfo info = parser.Parse(c.agent);
    EXPECT_EQ(c.browser, info.browser) << c.agent;
    EXPECT_EQ(c.major, info.browser_major) << c.agent;
    EXPECT_EQ(c.system, info.system) << c.agent;
    EXPECT_EQ(DeviceKey(c.device), DeviceKey(info.device)) << c.agent;
  }
}

// Whole hostile log lines and each of their quoted fields, plus agents built to be expensive.
std::vector<std::string> HostileAgents() {
  std::vector<std::string> agents;
  for (const std::string& line : Split(ReadFile(HITSIEVE_TEST_DATA "/hostile-lines.log"), '\n')) {
    agents.push_back(line);
    for (const std::string& field : Split(line, '"')) agents.push_back(field);
  }
  const std::string android = "Mozilla/5.0 (Linux; Android 10; ";
  agents.push_back(std::string(1 << 20, 'A'));                           // 1 MB
  agents.push_back(android + std::string(1 << 20, ';'));                 // 1 MB of separators
  agents.push_back(std::string("Mozilla/5.0 (\xff\xfe\xc3(\xe2\x82; ") + "\x80\x80 Build/"
                   "\xed\xa0\x80) Chrome/1.2 \xf4\x90\x80\x80 Safari");   // invalid UTF-8
  agents.push_back("Firefox/" + std::string(3, '\0') + "121.0 (Windows NT 10.0)");  // NUL bytes
  std::string bait = android;
  for (int i = 0; i < 400; ++i) bait += "Bot-Mobile spider crawl ; Build ";  // many partial hits
  agents.push_back(bait);
  agents.push_back(std::string(5000, '/') + "Googlebot/2.1");
  return agents;
}

TEST(AgentParser, HostileAgentsNeitherThrowNorOutgrowTheCap) {
  const AgentParser& parser = AgentParser::Builtin();
  for (const std::string& agent : HostileAgents()) {
    const std::string label = agent.substr(0, 80);
    AgentInfo info;
    ASSERT_NO_THROW(info = parser.Parse(agent)) << label;
    EXPECT_FALSE(info.browser.empty()) << label;
    EXPECT_FALSE(info.system.empty()) << label;
    if (agent.size() > AgentParser::kMaxAgentLength) {
      // Only the capped prefix counts: a longer tail changes nothing.
      const AgentDetails whole = parser.ParseDetails(agent);
      const AgentDetails prefix =
          parser.ParseDetails(agent.substr(0, AgentParser::kMaxAgentLength));
      EXPECT_EQ(prefix.browser, whole.browser) << label;
      EXPECT_EQ(prefix.system, whole.system) << label;
      EXPECT_EQ(prefix.device, whole.device) << label;
    }
  }
}

TEST(AgentParser, ThreadsParsingAtOnceGetTheSameAnswers) {
  const AgentParser& parser = AgentParser::Builtin();
  std::vector<std::string> agents = HostileAgents();
  agents.push_back("Mozilla/5.0 (iPad; CPU OS 16_6 like Mac OS X) Version/16.6 Mobile Safari");
  agents.push_back("Mozilla/5.0 (Windows NT 6.1; rv:52.0) Gecko/20100101 Firefox/52.0");
  std::vector<std::string> alone;
  for (const auto& agent : agents) alone.push_back(parser.ParseDetails(agent).browser);
  std::vector<std::vector<std::string>> seen(4);
  {
    std::vector<std::jthread> threads;
    for (auto& out : seen) {
      threads.emplace_back([&parser, &agents, &out] {
        for (int round = 0; round < 3; ++round) {
          for (const auto& agent : agents) out.push_back(parser.ParseDetails(agent).browser);
        }
      });
    }
  }
  for (const auto& out : seen) {
    ASSERT_EQ(alone.size() * 3, out.size());
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(alone[i % alone.size()], out[i]);
  }
}

}  // namespace
}  // namespace hitsieve
