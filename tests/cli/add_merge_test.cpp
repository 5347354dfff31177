// Adding to stored statistics and merging databases, end to end with the real hitsieve-cli.
// The heart is a differential test: a site's logs are cut up, grown, rotated and compressed
// the way a web server and a nightly job do it, added run after run (and merged from partial
// databases), and the tables must equal those of one replacing run over the same lines in the
// order they were read. Merging is checked the same way: overlapping parts against one run
// over the union of their logs.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli_test_support.h"
#include "report_bytes.h"
#include "tests/engine/random_log.h"

namespace hitsieve::testing {
namespace {

using Rows = std::vector<std::string>;

// The five tables and the day sets, the keyed ones as sets: what must come out the same.
Rows Dump(const fs::path& db) { return DumpWithDaySets(db); }

// Every report of `actual` is byte for byte that of `expected`.
void ExpectSameReports(const TempDir& dir, const fs::path& expected, const fs::path& actual) {
  EXPECT_EQ(Rows{}, ReportDifferences(AllReportBytes(dir, expected.string()),
                                      AllReportBytes(dir, actual.string())))
      << actual;
}

std::string Cli(const TempDir& dir, std::vector<std::string> args) {
  const CliResult run = RunCli(dir.path(), args);
  EXPECT_EQ(0, run.status) << run.err;
  return run.out;
}

// Whole logs of a site, one line-end style each; every log but the last may end inside a
// line when it is compressed (a compressed log is complete, so its last line counts as it is).
struct Site {
  std::vector<std::string> logs;
};

// The web server's folder as a nightly job sees it: the live log, yesterday's plain copy and
// older compressed ones. `read` models what has been counted of each log: the text up to the
// last line feed of what was offered (all of it for a compressed log).
class SiteFolder {
 public:
  SiteFolder(const TempDir& dir, const Site& site, std::mt19937& rng)
      : dir_(dir), site_(site), rng_(rng), read_(site.logs.size(), 0) {
    fs::create_directory(dir_ / "logs");
  }

  // Sets the live log to the first `length` bytes of log `live` and the older logs to their
  // rotated names; returns the files to offer, in the order a run reads them.
  std::vector<std::string> Show(size_t live, size_t length) {
    for (const auto& entry : fs::directory_iterator(dir_ / "logs")) fs::remove(entry.path());
    files_.clear();
    Put("access.log", site_.logs[live].substr(0, length), live, false);
    if (live >= 1) Put("access.log.1", site_.logs[live - 1], live - 1, false);
    for (size_t k = 2; k <= live; ++k) {
      Put("access.log." + std::to_string(k) + ".gz", site_.logs[live - k], live - k, true);
    }
    std::sort(files_.begin(), files_.end());
    std::vector<std::string> names;
    for (const auto& file : files_) names.push_back((dir_ / "logs" / file.name).string());
    return names;
  }

  // What a run over the shown files counts, in reading order, as pieces of text; with
  // `whole` every shown file is counted entirely (a replacing run).
  std::vector<std::string> NewPieces(bool whole) {
    std::vector<std::string> pieces;
    for (const auto& file : files_) {
      size_t end = file.text.size();
      if (!whole && !file.compressed) {
        const size_t lf = file.text.rfind('\n');
        end = lf == std::string::npos ? 0 : lf + 1;
      }
      size_t& read = read_[file.log];
      if (whole) read = 0;
      if (end > read) {
        pieces.push_back(file.text.substr(read, end - read));
        read = end;
      }
    }
    return pieces;
  }

 private:
  struct Shown {
    std::string name, text;
    size_t log;
    bool compressed;
    bool operator<(const Shown& other) const { return name < other.name; }
  };
  void Put(const std::string& name, const std::string& text, size_t log, bool compressed) {
    if (compressed) {
      WriteGzip(dir_ / "logs" / name, text);
    } else {
      WriteFile(dir_ / "logs" / name, text);
    }
    files_.push_back({name, text, log, compressed});
  }

  const TempDir& dir_;
  const Site& site_;
  std::mt19937& rng_;
  std::vector<size_t> read_;
  std::vector<Shown> files_;
};

// One replacing run over the pieces, each a file of its own, named in reading order.
void Reference(const TempDir& dir, const std::vector<std::string>& pieces, const fs::path& db,
               const std::string& folder) {
  fs::create_directory(dir / folder);
  std::vector<std::string> args = {"analyse", "--db", db.string()};
  for (size_t k = 0; k < pieces.size(); ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "%04zu.log", k);
    WriteFile(dir / folder / name, pieces[k]);
    args.push_back((dir / folder / name).string());
  }
  Cli(dir, args);
}

size_t LineBoundary(const std::string& text, size_t at) {
  const size_t lf = text.rfind('\n', at);
  return lf == std::string::npos ? 0 : lf + 1;
}

TEST(AddAndMerge, ReplaceThenAddOverGrowingAndRotatedLogsEqualsOneRunOverTheSameLines) {
  // Under the sanitizers every run of the tool is several times slower; two seeds there find
  // the memory faults the others would, and the plain build runs all six.
#if defined(__SANITIZE_ADDRESS__)
  constexpr uint32_t kSeeds = 2;
#else
  constexpr uint32_t kSeeds = 6;
#endif
  for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    std::mt19937 rng(seed);
    RandomLog generator(seed);
    Site site;
    const size_t log_count = 3 + seed % 2;
    for (size_t k = 0; k < log_count; ++k) {
      std::string text = generator.Text(40 + static_cast<int>(rng() % 120));
      // The live log is plain at the end: its final line must be finished to count.
      if (k + 1 == log_count && !text.empty() && text.back() != '\n') text += '\n';
      site.logs.push_back(std::move(text));
    }
    SiteFolder folder(dir, site, rng);
    std::vector<std::string> read_order;  // every piece counted, in order
    const fs::path db = dir / "stats.dt";
    int steps = 0;

    // The first run replaces, over whole lines of the live log.
    const std::string& first = site.logs[0];
    const size_t first_length = LineBoundary(first, rng() % first.size());
    std::vector<std::string> files = folder.Show(0, first_length);
    std::vector<std::string> args = {"analyse", "--db", db.string()};
    args.insert(args.end(), files.begin(), files.end());
    Cli(dir, args);
    for (std::string& piece : folder.NewPieces(true)) read_order.push_back(std::move(piece));

    // Then nightly --add runs: the live log grows (cut anywhere, even inside a line or
    // between CR and LF), sometimes the same state is offered twice, then it is rotated.
    for (size_t live = 0; live < log_count; ++live) {
      const std::string& text = site.logs[live];
      size_t length = live == 0 ? first_length : 0;
      const int nights = 1 + static_cast<int>(rng() % 3);
      for (int night = 0; night <= nights; ++night) {
        length = night == nights ? text.size()
                                 : std::min(text.size(), length + 1 + rng() % (text.size() / 2 + 1));
        files = folder.Show(live, length);
        args = {"analyse", "--add", "--db", db.string()};
        args.insert(args.end(), files.begin(), files.end());
        if (rng() % 4 == 0) args.push_back(files.front());  // named twice: read once
        Cli(dir, args);
        for (std::string& piece : folder.NewPieces(false)) read_order.push_back(std::move(piece));
        // After every run, not only the last: each state must be exact.
        const fs::path step = dir / ("step" + std::to_string(++steps) + ".dt");
        Reference(dir, read_order, step, "step" + std::to_string(steps));
        ASSERT_EQ(Dump(step), Dump(db)) << "live log " << live << ", night " << night;
        if (rng() % 3 == 0) {  // offered again unchanged: nothing new, every file skipped
          const std::string out = Cli(dir, args);
          EXPECT_NE(std::string::npos, out.find("added 0 files, skipped " + std::to_string(files.size())))
              << out;
          EXPECT_NE(std::string::npos, out.find("already analysed: " + files.front())) << out;
        }
      }
    }

    Reference(dir, read_order, dir / "whole.dt", "pieces");
    ASSERT_EQ(Dump(dir / "whole.dt"), Dump(db));
    ExpectSameReports(dir, dir / "whole.dt", db);

    // The same lines through partial databases, merged in order into a fresh file and, with
    // --replace, over a database that holds something else.
    std::vector<std::string> merge = {"merge", "--db", (dir / "merged.dt").string()};
    size_t start = 0;
    for (int part = 0; start < read_order.size(); ++part) {
      const size_t count = 1 + rng() % 3;
      const std::vector<std::string> pieces(
          read_order.begin() + start, read_order.begin() + std::min(read_order.size(), start + count));
      const fs::path part_db = dir / ("part" + std::to_string(part) + ".dt");
      Reference(dir, pieces, part_db, "part" + std::to_string(part));
      merge.push_back(part_db.string());
      start += count;
    }
    Cli(dir, merge);
    EXPECT_EQ(Dump(dir / "whole.dt"), Dump(dir / "merged.dt"));
    ExpectSameReports(dir, dir / "whole.dt", dir / "merged.dt");
    merge[2] = db.string();
    merge.insert(merge.begin() + 1, "--replace");
    Cli(dir, merge);
    EXPECT_EQ(Dump(dir / "whole.dt"), Dump(db));
  }
}

// Random splits of a site's logs into a target and parts that overlap: `merge` either leaves
// what one run over the union of their logs leaves, or exits 1 with the target byte for byte
// as it was (or still missing). It refuses exactly when a part shares some of its logs, but
// not all, with the target and the parts merged before it; a part whose logs are all counted
// is skipped.
TEST(AddAndMerge, RandomOverlappingPartsMergeExactlyOrLeaveTheTargetUnchanged) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    std::mt19937 rng(seed);
    RandomLog generator(seed);
    constexpr size_t kLogs = 5;
    fs::create_directory(dir / "logs");
    std::vector<std::string> texts;
    for (size_t k = 0; k < kLogs; ++k) {
      texts.push_back(generator.Text(10 + static_cast<int>(rng() % 40)));
      WriteFile(dir / "logs" / ("log" + std::to_string(k) + ".log"), texts.back());
    }
    auto subset = [&] {
      std::vector<size_t> logs;
      for (size_t k = 0; k < kLogs; ++k)
        if (rng() % 3 == 0) logs.push_back(k);
      if (logs.empty()) logs.push_back(rng() % kLogs);
      return logs;
    };
    auto analyse = [&](const std::string& db, const std::vector<size_t>& logs) {
      std::vector<std::string> args = {"analyse", "--db", db};
      for (size_t k : logs) args.push_back("logs/log" + std::to_string(k) + ".log");
      Cli(dir, args);
    };

    // The target (missing one time in four) and the parts; what merge must do with them.
    const bool fresh = rng() % 4 == 0;
    std::vector<size_t> order;  // the logs counted, in the order a single run must read them
    if (!fresh) {
      order = subset();
      analyse("target.dt", order);
    }
    std::vector<std::string> merge = {"merge", "--db", "target.dt"};
    bool refused = false;
    const size_t parts = 1 + rng() % 4;
    for (size_t p = 0; p < parts; ++p) {
      const std::vector<size_t> logs = subset();
      const std::string part = "part" + std::to_string(p) + ".dt";
      analyse(part, logs);
      merge.push_back(part);
      size_t known = 0;
      for (size_t k : logs) known += std::count(order.begin(), order.end(), k);
      if (known == 0) {
        order.insert(order.end(), logs.begin(), logs.end());
      } else if (known != logs.size()) {
        refused = true;
      }
    }

    const bool existed = fs::exists(dir / "target.dt");
    const std::string before = existed ? ReadFile(dir / "target.dt") : "";
    const CliResult run = RunCli(dir.path(), merge);
    if (refused) {
      EXPECT_EQ(1, run.status) << run.out;
      EXPECT_NE(std::string::npos, run.err.find("counted already and others")) << run.err;
      ASSERT_EQ(existed, fs::exists(dir / "target.dt"));
      if (existed) {
        EXPECT_TRUE(before == ReadFile(dir / "target.dt")) << "the target changed";
      }
      continue;
    }
    ASSERT_EQ(0, run.status) << run.err;
    std::vector<std::string> pieces;
    for (size_t k : order) pieces.push_back(texts[k]);
    Reference(dir, pieces, dir / "union.dt", "union");
    EXPECT_EQ(Dump(dir / "union.dt"), Dump(dir / "target.dt"));
    ExpectSameReports(dir, dir / "union.dt", dir / "target.dt");
  }
}

// Large new text is parsed on two cores, cut near its middle; a line too long to parse is
// passed over and counted, as a replacing run does. A log that grew by much more than a few
// megabytes, with and without such a line, must add up to one run over the same lines.
TEST(AddAndMerge, LargeGrowthOnTwoCoresAndOverlongLinesCountAsInOneRun) {
  for (uint32_t seed = 1; seed <= 2; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    std::mt19937 rng(seed);
    RandomLog generator(seed);
    std::string text = generator.Text(110000);
    if (seed == 1) {
      // 65 MiB without a line feed, in the second half, at a line start.
      const size_t at = LineBoundary(text, text.size() * 3 / 4);
      text.insert(at, std::string(size_t{65} << 20, 'x') + "\n");
    }
    ASSERT_GT(text.size(), size_t{12} << 20);
    const size_t cut = 1 + rng() % (text.size() / 8);  // anywhere, even inside a line
    const fs::path db = dir / "stats.dt", log = dir / "access.log";
    WriteFile(log, text.substr(0, cut));
    Cli(dir, {"analyse", "--db", db.string(), log.string()});
    WriteFile(log, text);
    const std::string out = Cli(dir, {"analyse", "--add", "--db", db.string(), log.string()});
    if (seed == 1) {
      EXPECT_NE(std::string::npos, out.find("(1 too long)")) << out;
    }

    // What was counted: the first piece whole, then from after the line the first run read
    // unfinished up to the last line feed.
    const size_t after_cut = text[cut - 1] == '\n' ? cut : text.find('\n', cut) + 1;
    const size_t last = text.rfind('\n') + 1;
    Reference(dir, {text.substr(0, cut), text.substr(after_cut, last - after_cut)},
              dir / "whole.dt", "pieces");
    EXPECT_EQ(Dump(dir / "whole.dt"), Dump(db));
  }
}

}  // namespace
}  // namespace hitsieve::testing
