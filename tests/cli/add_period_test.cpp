// Adding with a period, end to end with the real hitsieve-cli: random logs that grow between
// runs, random periods. Adding under one period must equal one run over the same lines under
// that period, never store a day outside it, and a log read under several periods must be
// remembered for the narrowest of them (what all its counted text was counted for).

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "run/log_sources.h"
#include "tests/engine/random_log.h"

namespace hitsieve::testing {
namespace {

// Days around those RandomLog writes (10/Oct/2000, 02/Oct/2008, 01/Nov/2008, 31/Dec/2009);
// empty for an open end.
const char* const kEnds[] = {"", "2000-10-10", "2000-10-11", "2008-10-02", "2008-10-31",
                             "2008-11-01", "2009-12-31", ""};

struct Ends {
  std::string from, to;
  std::vector<std::string> Options() const {
    std::vector<std::string> options;
    if (!from.empty()) options.insert(options.end(), {"--from", from});
    if (!to.empty()) options.insert(options.end(), {"--to", to});
    return options;
  }
};

Ends RandomPeriod(std::mt19937& rng) {
  Ends period{kEnds[rng() % std::size(kEnds)], kEnds[rng() % std::size(kEnds)]};
  if (!period.from.empty() && !period.to.empty() && period.from > period.to)
    std::swap(period.from, period.to);
  return period;
}

size_t LineEnd(const std::string& text, size_t length) {
  const size_t lf = text.rfind('\n', length - 1);
  return length == 0 || lf == std::string::npos ? 0 : lf + 1;
}

TEST(AddPeriod, AddingUnderAPeriodEqualsOneFilteredRunAndRemembersTheNarrowestPeriod) {
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    std::mt19937 rng(seed);
    RandomLog generator(seed);
    const Ends period = RandomPeriod(rng);
    SCOPED_TRACE("period " + period.from + " to " + period.to);
    const std::vector<std::string> texts = {generator.Text(80 + static_cast<int>(rng() % 300)),
                                            generator.Text(80 + static_cast<int>(rng() % 300))};
    std::vector<size_t> counted(texts.size(), 0), shown(texts.size(), 0);
    std::vector<std::string> pieces;
    // Both logs grow; every night adds under the one period.
    for (int night = 1; night <= 3; ++night) {
      std::vector<std::string> args = {"analyse", "--add", "--db", "s.dt"};
      for (size_t k = 0; k < texts.size(); ++k) {
        const size_t length = shown[k] = night == 3 ? texts[k].size()
                                                    : std::max(shown[k], rng() % texts[k].size());
        const std::string name = "log" + std::to_string(k) + ".log";
        WriteFile(dir / name, texts[k].substr(0, length));
        args.push_back(name);
        const size_t end = LineEnd(texts[k], length);
        if (end > counted[k]) pieces.push_back(texts[k].substr(counted[k], end - counted[k]));
        counted[k] = std::max(counted[k], end);
      }
      const std::vector<std::string> options = period.Options();
      args.insert(args.end(), options.begin(), options.end());
      const CliResult run = RunCli(dir.path(), args);
      ASSERT_EQ(0, run.status) << run.err;
      const std::string one = "one" + std::to_string(night);
      ASSERT_EQ(0, AnalysePiecesAsOneRun(dir.path(), pieces, dir / (one + ".dt"), one, options));
      ASSERT_EQ(DumpWithDaySets(dir / (one + ".dt")), DumpWithDaySets(dir / "s.dt")) << "night " << night;
      const std::optional<int> first = ParseIsoDay(period.from), last = ParseIsoDay(period.to);
      for (const std::string& day : QueryRows(dir / "s.dt", "SELECT date FROM common_stats")) {
        if (!first && !last) break;  // an open period keeps days that are no dates too
        const std::optional<int> date = DayKeyDate(day);
        ASSERT_TRUE(date.has_value()) << day;
        EXPECT_TRUE((!first || *date >= *first) && (!last || *date <= *last)) << day;
      }
    }

    // Then a log that grows under a different period each night: it is remembered for the
    // days every one of those periods holds.
    const std::string text = generator.Text(400);
    std::string from = period.from, to = period.to;
    for (int night = 1; night <= 3; ++night) {
      WriteFile(dir / "grows.log", text.substr(0, LineEnd(text, text.size() * night / 3)));
      const Ends narrower = RandomPeriod(rng);
      if (night == 1) {
        from = narrower.from;
        to = narrower.to;
      } else {
        if (from.empty() || (!narrower.from.empty() && narrower.from > from)) from = narrower.from;
        if (to.empty() || (!narrower.to.empty() && narrower.to < to)) to = narrower.to;
      }
      std::vector<std::string> args = {"analyse", "--add", "--db", "s.dt", "grows.log"};
      const std::vector<std::string> options = narrower.Options();
      args.insert(args.end(), options.begin(), options.end());
      ASSERT_EQ(0, RunCli(dir.path(), args).status);
      EXPECT_EQ(std::vector<std::string>{from + "|" + to},
                QueryRows(dir / "s.dt", "SELECT coalesce(first_day, ''), coalesce(last_day, '') "
                                        "FROM analysed_logs WHERE name LIKE '%grows.log'"))
          << "night " << night;
    }
  }
}

}  // namespace
}  // namespace hitsieve::testing
