// The real tool on a log large enough to be read in several blocks reports how far it has
// read inside the file, not only that the file is done.

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace hitsieve::testing {
namespace {

// A real run of the tool on a log several times the engine's block. The gzip file is read and
// reported block by block, so its lines show more than one tenth passed before it is done; a
// large plain file is parsed on every core and reported by time, so how many tenths it shows
// depends on the machine's speed, but never a line out of order.
TEST(RunProgressEndToEnd, LargeLogReportsPositionsInsideTheFile) {
  TempDir dir;
  std::string log;
  for (int i = 0; log.size() < (10u << 20); ++i)
    log += "10.0." + std::to_string(i / 250 % 250) + "." + std::to_string(i % 250) +
           " - - [1" + std::to_string(i % 9) + "/Mar/2009:10:00:00 +0300] \"GET /page" +
           std::to_string(i % 997) + ".html HTTP/1.1\" 200 " + std::to_string(i % 5000) +
           " \"http://example.org/from" + std::to_string(i % 31) +
           ".html\" \"Mozilla/5.0 (X11; Linux x86_64) Gecko/20100101 Firefox/" +
           std::to_string(i % 40) + ".0\"\n";
  const struct {
    const char* label;
    const char* name;
    size_t min_positions;
  } cases[] = {{"plain", "big.log", 0}, {"gzip", "big.log.gz", 2}};
  for (const auto& c : cases) {
    if (std::string(c.name).ends_with(".gz"))
      WriteGzip(dir / c.name, log);
    else
      WriteFile(dir / c.name, log);
    const CliResult run =
        RunCli(dir.path(), {"analyse", "--db", (dir / "stats.dt").string(), c.name});
    ASSERT_EQ(0, run.status) << c.label << ": " << run.err;
    const std::string path = (dir / c.name).string();
    const std::regex at_line("file 1 of 1 at ([1-9]0)%: (.*)");
    std::vector<int> percents;
    std::istringstream lines(run.err);
    std::string line, last;
    while (std::getline(lines, line)) {
      if (line.starts_with("file ")) last = line;
      std::smatch m;
      if (std::regex_match(line, m, at_line)) {
        EXPECT_EQ(path, m[2].str()) << c.label;
        percents.push_back(std::stoi(m[1].str()));
      }
    }
    EXPECT_GE(percents.size(), c.min_positions) << c.label << ":\n" << run.err;
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()) &&
                std::adjacent_find(percents.begin(), percents.end()) == percents.end())
        << c.label << ":\n" << run.err;
    EXPECT_EQ("file 1 of 1 done: " + path, last) << c.label;
  }
}

}  // namespace
}  // namespace hitsieve::testing
