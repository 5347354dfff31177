// --crawlers with the real hitsieve-cli: the summary's count of other known crawlers, the
// choice recorded with the statistics, adds and merges refused when they would mix two choices
// (or two versions of the list) and exact when they do not.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_test_support.h"

namespace hitsieve::testing {
namespace {

const char kBing[] = "Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)";
const char kGptBot[] = "Mozilla/5.0 AppleWebKit/537.36 (KHTML, like Gecko; compatible; GPTBot/1.2)";
const char kGoogle[] = "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)";
const char kFirefox[] = "Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0";

std::string Hit(const std::string& day, const std::string& url, const std::string& ip,
                const std::string& agent) {
  return ip + " - - [" + day + ":10:00:00 +0400] \"GET " + url + " HTTP/1.1\" 200 10 \"-\" \"" +
         agent + "\"\n";
}

std::string Log(int day) {
  const std::string d = (day < 10 ? "0" : "") + std::to_string(day) + "/Mar/2010";
  return Hit(d, "/a.html", "10.0.0.1", kFirefox) + Hit(d, "/a.html", "10.0.0.2", kBing) +
         Hit(d, "/robots.txt", "10.0.0.2", kBing) + Hit(d, "/b.html", "10.0.0.3", kGptBot) +
         Hit(d, "/a.html", "10.0.0.4", kGoogle);
}

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

TEST(CrawlersOption, SummaryCountsTheOtherKnownCrawlersInBothModes) {
  TempDir dir;
  WriteFile(dir / "a.log", Log(1) + Log(2));
  const CliResult described = RunCli(dir.path(), {"analyse", "--db", "d.dt", "a.log"});
  ASSERT_EQ(0, described.status) << described.err;
  EXPECT_NE(described.out.find("6 requests from other known crawlers were counted as visitors; "
                               "--crawlers all leaves them out"),
            std::string::npos)
      << described.out;
  const CliResult all = RunCli(dir.path(), {"analyse", "--db", "all.dt", "--crawlers", "all", "a.log"});
  ASSERT_EQ(0, all.status) << all.err;
  EXPECT_NE(all.out.find("6 requests from other known crawlers left out"), std::string::npos)
      << all.out;
  // The described robot stays in the robot log either way; the other crawlers never enter it.
  const std::vector<std::string> robots = {"2"};
  EXPECT_EQ(robots, QueryRows(dir / "d.dt", "SELECT count(*) FROM robot_log"));
  EXPECT_EQ(robots, QueryRows(dir / "all.dt", "SELECT count(*) FROM robot_log"));
  // With all, only the browser is a visitor: one address and one view a day.
  EXPECT_EQ((std::vector<std::string>{"01/Mar/2010|1|1|1", "02/Mar/2010|1|1|1"}),
            QueryRows(dir / "all.dt", "SELECT date, ips, visitors, views FROM common_stats ORDER BY date"));
  EXPECT_EQ((std::vector<std::string>{"crawlers|all", "crawler list|crawler-user-agents 1.60.0"}),
            QueryRows(dir / "all.dt", "SELECT name, value FROM run_settings ORDER BY rec_id"));
  EXPECT_EQ(2, RunCli(dir.path(), {"analyse", "--crawlers", "some", "a.log"}).status);
}

// Each row: how the stored statistics were made (and then edited), how the add counts, and
// whether it must be refused. A refused add exits 1, says why, and changes nothing.
TEST(CrawlersOption, AddUnderAnotherChoiceOrListIsRefused) {
  const struct {
    const char* label;
    std::vector<std::string> first;
    const char* edit;  // SQL run on the stored statistics before the add, or ""
    std::vector<std::string> add;
    bool refused;
  } cases[] = {
      {"same default", {}, "", {}, false},
      {"same all", {"--crawlers", "all"}, "", {"--crawlers", "all"}, false},
      {"all, then default", {"--crawlers", "all"}, "", {}, true},
      {"default, then all", {}, "", {"--crawlers", "all"}, true},
      {"another list version", {}, "UPDATE run_settings SET value = 'crawler-user-agents 1.59.0' "
       "WHERE name = 'crawler list'", {}, true},
      {"made before the choice, default", {}, "DROP TABLE run_settings", {}, false},
      {"made before the choice, all", {}, "DROP TABLE run_settings", {"--crawlers", "all"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    WriteFile(dir / "1.log", Log(1));
    WriteFile(dir / "2.log", Log(2));
    ASSERT_EQ(0, RunCli(dir.path(), With({"analyse", "--db", "s.dt", "1.log"}, c.first)).status);
    if (*c.edit != '\0') QueryRows(dir / "s.dt", c.edit);
    const std::vector<std::string> before = DumpWithDaySets(dir / "s.dt");
    const CliResult added = RunCli(dir.path(), With({"analyse", "--db", "s.dt", "--add", "2.log"}, c.add));
    if (c.refused) {
      EXPECT_EQ(1, added.status);
      EXPECT_NE(added.err.find("cannot add"), std::string::npos) << added.err;
      EXPECT_NE(added.err.find("without --add"), std::string::npos) << added.err;
      EXPECT_EQ(before, DumpWithDaySets(dir / "s.dt"));
    } else {
      EXPECT_EQ(0, added.status) << added.err;
      EXPECT_NE(before, DumpWithDaySets(dir / "s.dt"));
    }
  }
}

TEST(CrawlersOption, MergeOfPartsCountedUnderAnotherChoiceIsRefused) {
  TempDir dir;
  for (int k = 1; k <= 3; ++k) WriteFile(dir / (std::to_string(k) + ".log"), Log(k));
  ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--db", "t.dt", "1.log"}).status);
  ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--db", "p2.dt", "--crawlers", "all", "2.log"}).status);
  ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--db", "p3.dt", "3.log"}).status);
  const std::vector<std::string> before = DumpWithDaySets(dir / "t.dt");
  const CliResult into_target = RunCli(dir.path(), {"merge", "--db", "t.dt", "p2.dt"});
  EXPECT_EQ(1, into_target.status);
  EXPECT_NE(into_target.err.find("--crawlers all"), std::string::npos) << into_target.err;
  EXPECT_EQ(before, DumpWithDaySets(dir / "t.dt"));
  // Two parts that disagree are refused even into a new file, which is then not made.
  const CliResult parts = RunCli(dir.path(), {"merge", "--db", "new.dt", "p3.dt", "p2.dt"});
  EXPECT_EQ(1, parts.status);
  EXPECT_NE(parts.err.find("p2.dt"), std::string::npos) << parts.err;
  EXPECT_FALSE(fs::exists(dir / "new.dt"));
  EXPECT_EQ(0, RunCli(dir.path(), {"merge", "--db", "t.dt", "p3.dt"}).status);
}

// --add in pieces, and merging parts, under --crawlers all equals one run over every piece.
TEST(CrawlersOption, AddAndMergeUnderAllEqualOneRun) {
  TempDir dir;
  const std::vector<std::string> pieces = {Log(1), Log(2) + Log(3), Log(3)};
  ASSERT_EQ(0, AnalysePiecesAsOneRun(dir.path(), pieces, dir / "one.dt", "one", {"--crawlers", "all"}));
  for (size_t k = 0; k < pieces.size(); ++k) {
    const std::string log = "piece" + std::to_string(k) + ".log";
    WriteFile(dir / log, pieces[k]);
    std::vector<std::string> args = {"analyse", "--db", "added.dt", "--crawlers", "all", log};
    if (k > 0) args.push_back("--add");
    ASSERT_EQ(0, RunCli(dir.path(), args).status) << k;
    ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--db", "part" + std::to_string(k) + ".dt",
                                     "--crawlers", "all", log}).status);
  }
  ASSERT_EQ(0, RunCli(dir.path(), {"merge", "--db", "merged.dt", "part0.dt", "part1.dt", "part2.dt"}).status);
  EXPECT_EQ(DumpWithDaySets(dir / "one.dt"), DumpWithDaySets(dir / "added.dt"));
  EXPECT_EQ(DumpWithDaySets(dir / "one.dt"), DumpWithDaySets(dir / "merged.dt"));
  EXPECT_EQ(QueryRows(dir / "one.dt", "SELECT name, value FROM run_settings"),
            QueryRows(dir / "merged.dt", "SELECT name, value FROM run_settings"));
}

}  // namespace
}  // namespace hitsieve::testing
