// An add judges new text by the remembered logs it loaded before reading; if another run
// changes them before the add saves, the add must save nothing. Another run that replaced the
// statistics with those of a different log of the very same size changes only the hashes: a
// check of sizes alone would add this log's new lines to the other log's statistics.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli_test_support.h"
#include "engine/search_engine.h"
#include "run/analysis_job.h"
#include "store/stats_database.h"

namespace hitsieve::testing {
namespace {

class Quiet : public AnalysisObserver {
 public:
  void Notify(int) override {}
};

std::string Hits(const std::string& page, int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += "10.0.0.1 - - [01/Mar/2010:10:00:00 +0400] \"GET /" + page + std::to_string(i % 10) +
            ".html HTTP/1.1\" 200 10 \"-\" \"M\"\n";
  return text;
}

TEST(AddMeanwhile, AnotherRunThatChangedTheRememberedLogsButNotTheirSizesStopsTheAdd) {
  TempDir dir;
  const fs::path db = dir / "s.dt";
  WriteFile(dir / "a.log", Hits("a", 20));
  WriteFile(dir / "b.log", Hits("b", 20));  // another log of the same size
  ASSERT_EQ(ReadFile(dir / "a.log").size(), ReadFile(dir / "b.log").size());
  ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--add", "--db", db.string(), "a.log"}).status);
  WriteFile(dir / "a.log", Hits("a", 30));
  const fs::path expected = dir / "b.dt";
  ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--db", expected.string(), "b.log"}).status);

  // The add runs in a child: the statistics database is named once per process.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    StatsDatabase::SetFileName(db.string());
    RegisterStandardEngines(SearchEngineRegistry::Instance());
    const LogFileSet files = {(dir / "a.log").string()};
    Quiet quiet;
    AnalysisJob job;
    job.files = &files;
    job.observer = &quiet;
    job.add = true;
    // Between reading and saving, another run replaces the statistics with b.log's.
    job.collected = [&](const StatsCollector&) {
      RunCli(dir.path(), {"analyse", "--db", db.string(), "b.log"});
    };
    try {
      job.Run();
    } catch (const std::exception& e) {
      WriteFile(dir / "message", e.what());
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status));
  EXPECT_NE(std::string::npos,
            ReadFile(dir / "message").find("another run added to the database meanwhile"));
  EXPECT_EQ(DumpWithDaySets(expected), DumpWithDaySets(db));
}

}  // namespace
}  // namespace hitsieve::testing
