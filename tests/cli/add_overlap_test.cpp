// Adding logs whose text overlaps what was counted without continuing it: copies of a log's
// start (rotation copies, backups) under each rotation scheme, logs that share their head with a
// counted one and then part, and different logs that only begin alike. End to end with the real
// hitsieve-cli; each database must equal one replacing run over the lines counted once each.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "tests/engine/random_log.h"

namespace hitsieve::testing {
namespace {

using Rows = std::vector<std::string>;

size_t LineBoundary(const std::string& text, size_t at) {
  if (at >= text.size()) return text.size();
  const size_t lf = text.rfind('\n', at);
  return lf == std::string::npos ? 0 : lf + 1;
}

// A file of one night: the first `length` bytes of log `log`.
struct Shown {
  std::string name;  // under the test folder
  size_t log;
  size_t length;
  bool compressed;
};

// The site's logs and how much of each has been counted: a log is counted once, up to the
// furthest point any file showed it (through its last line feed, for a plain file).
class Site {
 public:
  Site(const TempDir& dir, std::vector<std::string> logs)
      : dir_(dir), logs_(std::move(logs)), counted_(logs_.size(), 0) {}
  const std::string& log(size_t k) const { return logs_[k]; }

  // Puts the night's files in place of the last night's and returns the arguments of an
  // --add run over them; appends what it should count, in reading order, to `pieces`.
  std::vector<std::string> Night(std::vector<Shown> files, std::vector<std::string>& pieces) {
    for (const char* folder : {"logs", "backup"}) {
      fs::remove_all(dir_ / folder);
      fs::create_directory(dir_ / folder);
    }
    std::sort(files.begin(), files.end(),
              [](const Shown& a, const Shown& b) { return a.name < b.name; });
    std::vector<std::string> args = {"analyse", "--add", "--db", "s.dt"};
    for (const Shown& file : files) {
      const std::string text = logs_[file.log].substr(0, file.length);
      if (file.compressed) {
        WriteGzip(dir_ / file.name, text);
      } else {
        WriteFile(dir_ / file.name, text);
      }
      args.push_back((dir_ / file.name).string());
      const size_t end = file.compressed ? text.size() : LineBoundary(text, text.size() - 1);
      size_t& counted = counted_[file.log];
      if (end > counted) pieces.push_back(text.substr(counted, end - counted));
      counted = std::max(counted, end);
    }
    return args;
  }

 private:
  const TempDir& dir_;
  std::vector<std::string> logs_;
  std::vector<size_t> counted_;
};

enum class Scheme { kCreate, kDelayCompress, kDateExt, kCopyTruncate };

// The name of the rotated log `k`, `age` rotations old.
Shown Rotated(Scheme scheme, size_t k, size_t age, size_t length) {
  const bool plain = age == 1 && scheme != Scheme::kCreate;
  std::string name = scheme == Scheme::kDateExt ? "logs/access.log-" + std::to_string(20240101 + k)
                                                : "logs/access.log." + std::to_string(age);
  if (!plain) name += ".gz";
  return {name, k, length, !plain};
}

// Nightly --add runs over a folder rotated by `scheme`, with backups of the live log offered
// beside it; with copytruncate a run sometimes comes between the copy and the truncation, so
// that the live log it reads has grown past the copy. After every run the database must equal
// one replacing run over the text counted once.
void CheckScheme(Scheme scheme, uint32_t seed) {
  TempDir dir;
  std::mt19937 rng(seed);
  RandomLog generator(seed);
  std::vector<std::string> texts;
  for (int k = 0; k < 3; ++k) {
    std::string text = generator.Text(60 + static_cast<int>(rng() % 800));
    if (text.back() != '\n') text += '\n';
    texts.push_back(std::move(text));
  }
  Site site(dir, texts);
  std::vector<size_t> rotated_length;  // of each rotated log: a copy of its start, or all
  std::vector<Shown> backups;
  std::vector<std::string> pieces;
  int runs = 0;
  auto run = [&](std::vector<Shown> files) {
    files.insert(files.end(), backups.begin(), backups.end());
    const std::vector<std::string> args = site.Night(files, pieces);
    const CliResult result = RunCli(dir.path(), args);
    ASSERT_EQ(0, result.status) << result.err;
    const std::string name = "one" + std::to_string(++runs);
    ASSERT_EQ(0, AnalysePiecesAsOneRun(dir.path(), pieces, dir / (name + ".dt"), name));
    ASSERT_EQ(DumpWithDaySets(dir / (name + ".dt")), DumpWithDaySets(dir / "s.dt"))
        << "run " << runs << "\n" << result.out;
  };
  auto older = [&](size_t live, size_t first_age) {
    std::vector<Shown> files;
    for (size_t k = 0; k < live; ++k)
      files.push_back(Rotated(scheme, k, first_age + live - 1 - k, rotated_length[k]));
    return files;
  };

  for (size_t live = 0; live < texts.size(); ++live) {
    const std::string& text = texts[live];
    size_t length = 0;
    for (int night = 0, nights = 1 + static_cast<int>(rng() % 3); night < nights; ++night) {
      length = std::min(text.size(), length + 1 + rng() % (text.size() / 2));
      std::vector<Shown> files = older(live, 1);
      files.push_back({"logs/access.log", live, length, false});
      if (rng() % 3 == 0) {  // a backup of the live log, offered from now on
        const bool compressed = rng() % 2 == 0;
        const std::string name = "backup/copy" + std::to_string(backups.size()) + ".log";
        backups.push_back({name + (compressed ? ".gz" : ""), live,
                           LineBoundary(text, rng() % length), compressed});
      }
      ASSERT_NO_FATAL_FAILURE(run(files));
    }
    // Rotation. copytruncate copies the live log, then empties it: lines written in between
    // are only in the live log, and a run may read it then.
    size_t kept = text.size();
    if (scheme == Scheme::kCopyTruncate) {
      kept = std::max(LineBoundary(text, length), LineBoundary(text, length + rng() % (text.size() - length + 1)));
      rotated_length.push_back(kept);
      if (kept < text.size() && rng() % 2 == 0) {
        std::vector<Shown> files = older(live + 1, 1);
        files.push_back({"logs/access.log", live, text.size(), false});
        ASSERT_NO_FATAL_FAILURE(run(files));
      }
    } else {
      rotated_length.push_back(kept);
    }
  }
  // The last night, everything rotated and offered again: nothing new.
  ASSERT_NO_FATAL_FAILURE(run(older(texts.size(), 1)));
}

TEST(AddOverlap, CopiesOfCountedTextAddNothingUnderEveryRotationScheme) {
  const struct { Scheme scheme; const char* name; } schemes[] = {
      {Scheme::kCreate, "create"},
      {Scheme::kDelayCompress, "delaycompress"},
      {Scheme::kDateExt, "dateext"},
      {Scheme::kCopyTruncate, "copytruncate"}};
  for (const auto& s : schemes) {
    for (uint32_t seed = 1; seed <= 3; ++seed) {
      SCOPED_TRACE(std::string(s.name) + ", seed " + std::to_string(seed));
      ASSERT_NO_FATAL_FAILURE(CheckScheme(s.scheme, seed));
    }
  }
}

std::string Lines(uint32_t seed, int count) {
  std::string text = RandomLog(seed).Text(count);
  if (text.back() != '\n') text += '\n';
  return text;
}

// Two logs that begin alike, added one after the other: the second adds the lines from the one
// where the two part when they share at least the first 64 KiB (it is a copy of the first that
// went on differently), and all of its lines when they share less (two logs that start with the
// same header or monitoring probe). A log recognised by its head alone, taken for the other
// (read from where that one ended, or skipped), fails the longer and shorter rows.
TEST(AddOverlap, LogsThatBeginAlikeCountTheirOwnLinesOnce) {
  const std::string header = "#Software: Microsoft Internet Information Services 10.0\n#Version: 1.0\n";
  const std::string probe = "10.9.9.9 - - [01/Nov/2008:00:00:01 +0400] \"GET /health HTTP/1.1\" 200 2 \"-\" \"probe\"\n";
  std::string shared = Lines(7, 900);
  ASSERT_GT(shared.size(), size_t{70} << 10);
  const struct { const char* name; std::string a, b; } cases[] = {
      {"same header, small", header + Lines(1, 50), header + Lines(2, 60)},
      {"same probe line, large", probe + Lines(3, 900), probe + Lines(4, 800)},
      {"shared head, second longer", shared + Lines(5, 40), shared + Lines(6, 400)},
      {"shared head, second shorter", shared + Lines(5, 400), shared + Lines(6, 40)},
      {"copy of the start", shared + Lines(5, 400), shared.substr(0, LineBoundary(shared, 70000))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteFile(dir / "a.log", c.a);
    WriteFile(dir / "b.log", c.b);
    for (const char* log : {"a.log", "b.log"}) {
      const CliResult run = RunCli(dir.path(), {"analyse", "--add", "--db", "s.dt", log});
      ASSERT_EQ(0, run.status) << run.err;
    }
    const size_t parted = std::mismatch(c.a.begin(), c.a.end(), c.b.begin(), c.b.end()).first - c.a.begin();
    std::vector<std::string> pieces = {c.a};
    if (parted < c.b.size()) {
      // From the start of the line where they part, or whole.
      pieces.push_back(parted >= (size_t{64} << 10) ? c.b.substr(LineBoundary(c.b, parted - 1)) : c.b);
    }
    ASSERT_EQ(0, AnalysePiecesAsOneRun(dir.path(), pieces, dir / "one.dt", "one"));
    EXPECT_EQ(DumpWithDaySets(dir / "one.dt"), DumpWithDaySets(dir / "s.dt"));
  }
}

// When the counted log's text is gone, how much a log sharing its head was counted cannot be
// told: the run fails, naming both, and the database stays byte for byte as it was.
TEST(AddOverlap, SharedHeadWithALogWhoseTextIsGoneFailsAndChangesNothing) {
  TempDir dir;
  const std::string shared = Lines(7, 900);
  WriteFile(dir / "a.log", shared + Lines(5, 40));
  ASSERT_EQ(0, RunCli(dir.path(), {"analyse", "--add", "--db", "s.dt", "a.log"}).status);
  fs::remove(dir / "a.log");
  WriteFile(dir / "b.log", shared + Lines(6, 40));
  const std::string before = ReadFile(dir / "s.dt");
  const CliResult run = RunCli(dir.path(), {"analyse", "--add", "--db", "s.dt", "b.log"});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("b.log: begins with the same 64 KiB as")) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("a.log, counted before")) << run.err;
  EXPECT_EQ(before, ReadFile(dir / "s.dt"));
}

}  // namespace
}  // namespace hitsieve::testing
