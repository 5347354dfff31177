// Compiles the scanner of the built-in user agent rules' literals at build time, for any x86-64
// processor, and writes it as a C++ array for agent_parser.cpp.
// Usage: make_agent_prefilter OUTPUT
#include <cstdio>
#include <string>

#include "engine/dimensions/agent_prefilter.h"
#include "engine/dimensions/tools/write_byte_array.h"

int main(int argc, char** argv) {
  using namespace hitsieve;
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_agent_prefilter OUTPUT\n");
    return 2;
  }
  const std::string compiled = RulePrefilter::Compiled(AgentRulePatterns());
  if (compiled.empty()) {
    std::fprintf(stderr, "make_agent_prefilter: the rules' literals could not be compiled\n");
    return 1;
  }
  return WriteByteArray(argv[1],
                        "The user agent rules' compiled prefilter; made by make_agent_prefilter.",
                        "kAgentPrefilter", compiled.data(), compiled.size())
             ? 0
             : 1;
}
