// bench_agents: agents parsed per second by the built-in agent parser, over a few thousand
// distinct agents of today's common shapes (desktop and phone browsers, tablets, apps, crawlers),
// each parsed as a run parses it: once, with nothing cached.
//
//   bench_agents [--benchmark_min_time=0.5]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/dimensions/agent_parser.h"

namespace {

std::vector<std::string> MakeAgents(std::size_t count) {
  const char* const systems[] = {
      "Windows NT 10.0; Win64; x64", "Windows NT 6.1; WOW64", "Macintosh; Intel Mac OS X 10_15_7",
      "X11; Linux x86_64", "X11; Ubuntu; Linux x86_64", "X11; CrOS x86_64 14541.0.0"};
  const char* const phones[] = {"SM-G991B", "Pixel 7", "K", "Redmi Note 8 Pro", "CPH2211",
                                "moto g(8) power", "M2101K6G", "SM-A515F", "V2027", "LM-Q720"};
  const char* const tablets[] = {"SM-X200", "Lenovo TB-X606F", "SM-T510", "KFTRWI"};
  const char* const bots[] = {
      "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)",
      "Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)",
      "Mozilla/5.0 (compatible; YandexBot/3.0; +http://yandex.com/bots)",
      "Mozilla/5.0 (compatible; AhrefsBot/7.0; +http://ahrefs.com/robot/)",
      "python-requests/2.31.0", "curl/8.4.0", "Wget/1.21.3"};
  std::mt19937 rng(20261208);
  auto pick = [&rng](auto& list) { return std::string(list[rng() % std::size(list)]); };
  auto number = [&rng](int low, int high) {
    return std::to_string(low + static_cast<int>(rng() % (high - low)));
  };
  std::vector<std::string> agents;
  while (agents.size() < count) {
    const std::string chrome = number(90, 122) + ".0." + number(1000, 6200) + "." + number(0, 200);
    switch (rng() % 8) {
      case 0: case 1:
        agents.push_back("Mozilla/5.0 (" + pick(systems) + ") AppleWebKit/537.36 (KHTML, like "
                         "Gecko) Chrome/" + chrome + " Safari/537.36");
        break;
      case 2:
        agents.push_back("Mozilla/5.0 (" + pick(systems) + "; rv:" + number(90, 122) +
                         ".0) Gecko/20100101 Firefox/" + number(90, 122) + ".0");
        break;
      case 3:
        agents.push_back("Mozilla/5.0 (Linux; Android " + number(8, 15) + "; " + pick(phones) +
                         ") AppleWebKit/537.36 (KHTML, like Gecko) Chrome/" + chrome +
                         " Mobile Safari/537.36");
        break;
      case 4:
        agents.push_back("Mozilla/5.0 (iPhone; CPU iPhone OS " + number(14, 18) + "_" +
                         number(0, 7) + " like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
                         "Version/" + number(14, 18) + ".0 Mobile/15E148 Safari/604.1");
        break;
      case 5:
        agents.push_back("Mozilla/5.0 (Linux; Android " + number(9, 15) + "; " + pick(tablets) +
                         ") AppleWebKit/537.36 (KHTML, like Gecko) Chrome/" + chrome +
                         " Safari/537.36");
        break;
      case 6:
        agents.push_back("Mozilla/5.0 (" + pick(systems) + ") AppleWebKit/537.36 (KHTML, like "
                         "Gecko) Chrome/" + chrome + " Safari/537.36 Edg/" + chrome);
        break;
      default:
        agents.push_back(pick(bots) + " " + number(0, 100000));
        break;
    }
  }
  return agents;
}

void BM_ParseDistinctAgents(benchmark::State& state) {
  const hitsieve::AgentParser& parser = hitsieve::AgentParser::Builtin();
  const std::vector<std::string> agents = MakeAgents(static_cast<std::size_t>(state.range(0)));
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(parser.Parse(agents[next]));
    if (++next == agents.size()) next = 0;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ParseDistinctAgents)->Arg(4000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
