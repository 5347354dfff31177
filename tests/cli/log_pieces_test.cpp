// One plain log read in byte ranges with the real hitsieve-cli: `analyse --byte-range` for each
// range, `describe-log`, `merge --pieces-of`. For any cuts the joined pieces must be the part one
// `analyse` of the whole log writes, down to how the log is remembered (so that a later --add
// reads only what is new), and a piece must never pass for a whole log.

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

// How a database remembers its logs, all but the time of reading.
Rows Remembered(const fs::path& db) {
  return QueryRows(db, "SELECT name, bytes, hash, head_bytes, head_hash, first_line_hash, lines, "
                       "first_day, last_day FROM analysed_logs ORDER BY rec_id");
}

// Every dimension the database counted and its rows, each table as a set: a piece counts what
// a run over the whole log counts.
Rows Dimensions(const fs::path& db) {
  Rows dump = QueryRows(db, "SELECT name, version FROM counted_dimensions ORDER BY name");
  for (const std::string& table :
       QueryRows(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name LIKE "
                     "'dim\\_%' ESCAPE '\\' ORDER BY name")) {
    Rows rows;
    for (std::string& row : QueryRows(db, "SELECT * FROM " + table))
      rows.push_back(row.substr(row.find('|') + 1));  // without the rec_id
    std::sort(rows.begin(), rows.end());
    dump.push_back("table " + table);
    dump.insert(dump.end(), rows.begin(), rows.end());
  }
  return dump;
}

CliResult Cli(const TempDir& dir, const std::vector<std::string>& args) {
  return RunCli(dir.path(), args);
}

// A log with what cuts must survive: lines far longer than a read block, empty lines, CR LF,
// and (for some seeds) a last line without a line feed.
std::string GeneratedLog(uint32_t seed) {
  RandomLog generator(seed);
  std::string text;
  // A first line longer than the head that recognises a log, for some seeds.
  if (seed % 3 == 2) text = generator.Combined("/" + std::string(70000, 'f') + ".html") + "\n";
  for (int chunk = 0; chunk < 4; ++chunk) {
    text += generator.Text(60 + static_cast<int>(seed) * 10);
    if (!text.empty() && text.back() != '\n') text += "\n";
    text += chunk % 2 == 0 ? "\n\n" : "\r\n";
    text += generator.Combined("/" + std::string(70000, 'p') + ".html") + "\n";
  }
  text += generator.Text(40);
  return text;
}

// Reads `log` in pieces cut at `cuts` (0 first) into parts named piece-N.dt; returns them.
std::vector<std::string> AnalysePieces(const TempDir& dir, const fs::path& log,
                                       const std::vector<int64_t>& cuts,
                                       const std::vector<std::string>& options) {
  std::vector<std::string> parts;
  for (size_t k = 0; k + 1 < cuts.size(); ++k) {
    const std::string part = (dir / ("piece-" + std::to_string(k) + ".dt")).string();
    fs::remove(part);
    std::vector<std::string> args = {"analyse", "--db", part, "--byte-range",
                                     std::to_string(cuts[k]) + "-" + std::to_string(cuts[k + 1])};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(log.string());
    const CliResult run = Cli(dir, args);
    EXPECT_EQ(0, run.status) << run.err;
    parts.push_back(part);
  }
  return parts;
}

TEST(LogPieces, JoinedPiecesAreOneRunOverTheWholeLog) {
  const TempDir dir;
  std::mt19937 rng(5);
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    const std::string text = GeneratedLog(seed);
    const int64_t size = static_cast<int64_t>(text.size());
    const fs::path log = dir / "access.log";
    WriteFile(log, text);
    std::vector<std::string> options;
    if (seed % 3 == 0) options = {"--extensions", ""};
    if (seed % 3 == 1) options = {"--crawlers", "all"};
    std::vector<int64_t> cuts = {0, size + (seed % 2 == 0 ? 1000 : 0)};
    const int count = 1 + static_cast<int>(seed % 4);
    for (int k = 0; k < count; ++k) {
      const int64_t at = std::uniform_int_distribution<int64_t>(0, size)(rng);
      // Some cuts just after a line feed, where the line that begins there must not be lost.
      const size_t lf = text.find('\n', static_cast<size_t>(at));
      cuts.push_back(k % 2 == 1 && lf != std::string::npos ? static_cast<int64_t>(lf) + 1 : at);
    }
    std::sort(cuts.begin(), cuts.end());
    std::string cut_text;
    for (const int64_t cut : cuts) cut_text += " " + std::to_string(cut);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", cuts" + cut_text);

    const fs::path local = dir / "local.dt", joined = dir / "joined.dt";
    fs::remove(local);
    fs::remove(joined);
    std::vector<std::string> analyse = {"analyse", "--db", local.string()};
    analyse.insert(analyse.end(), options.begin(), options.end());
    analyse.push_back(log.string());
    ASSERT_EQ(0, Cli(dir, analyse).status);
    std::vector<std::string> pieces = AnalysePieces(dir, log, cuts, options);
    if (seed % 2 == 0 && pieces.size() >= 3) {  // the later pieces joined into one first
      const std::string tail = (dir / "tail.dt").string();
      fs::remove(tail);
      std::vector<std::string> join = {"merge", "--into-piece", "--db", tail, "--pieces-of",
                                       log.string()};
      join.insert(join.end(), pieces.begin() + 1, pieces.end());
      const CliResult joined_tail = Cli(dir, join);
      ASSERT_EQ(0, joined_tail.status) << joined_tail.err;
      pieces.resize(1);
      pieces.push_back(tail);
    }
    std::vector<std::string> merge = {"merge", "--db", joined.string(), "--pieces-of", "access.log"};
    if (seed % 2 == 1) {  // as the cluster does it; else the merge reads the log itself
      const CliResult described = Cli(dir, {"describe-log", log.string()});
      ASSERT_EQ(0, described.status) << described.err;
      merge.push_back("--described=" + described.out.substr(0, described.out.find('\n')));
    }
    merge.insert(merge.end(), pieces.begin(), pieces.end());
    const CliResult merged = Cli(dir, merge);
    ASSERT_EQ(0, merged.status) << merged.err;

    EXPECT_EQ(DumpWithDaySets(local), DumpWithDaySets(joined));
    EXPECT_EQ(Remembered(local), Remembered(joined));
    ASSERT_EQ(1u, Remembered(joined).size());
    const Rows dimensions = Dimensions(local);
    EXPECT_NE(dimensions.end(), std::find(dimensions.begin(), dimensions.end(), "table dim_status"));
    EXPECT_EQ(dimensions, Dimensions(joined));
    EXPECT_EQ(QueryRows(local, "SELECT name, value FROM run_settings ORDER BY name"),
              QueryRows(joined, "SELECT name, value FROM run_settings ORDER BY name"));

    // The log grows; an add onto either database reads only the new lines, alike.
    WriteFile(log, text + RandomLog(seed + 100).Text(30) + "\n");
    for (const fs::path& db : {local, joined}) {
      std::vector<std::string> add = {"analyse", "--add", "--db", db.string()};
      add.insert(add.end(), options.begin(), options.end());
      add.push_back(log.string());
      const CliResult added = Cli(dir, add);
      EXPECT_EQ(0, added.status) << added.err;
      EXPECT_NE(std::string::npos, added.out.find("added 1 file, skipped 0")) << added.out;
    }
    EXPECT_EQ(DumpWithDaySets(local), DumpWithDaySets(joined));
    EXPECT_EQ(Remembered(local), Remembered(joined));
  }
}

class LogPiecesRefused : public ::testing::Test {
 protected:
  void SetUp() override {
    text_ = RandomLog(9).Text(400) + "\n";
    size_ = static_cast<int64_t>(text_.size());
    WriteFile(dir_ / "a.log", text_);
    WriteFile(dir_ / "b.log", RandomLog(10).Text(100) + "\n");
    third_ = size_ / 3;
    pieces_ = AnalysePieces(dir_, dir_ / "a.log", {0, third_, 2 * third_, size_}, {});
    ASSERT_EQ(0, Cli(dir_, {"analyse", "--db", "b.dt", "b.log"}).status);
    ASSERT_EQ(0, Cli(dir_, {"analyse", "--db", "b-piece.dt", "--byte-range", "0-99999999",
                            "b.log"}).status);
    ASSERT_EQ(0, Cli(dir_, {"analyse", "--db", "target.dt", "b.log"}).status);
    before_ = ReadFile(dir_ / "target.dt");
  }

  // The command fails with `status`, says `why`, and the target keeps every byte.
  void ExpectRefused(const std::vector<std::string>& args, int status, const std::string& why) {
    SCOPED_TRACE(args.back());
    const CliResult run = Cli(dir_, args);
    EXPECT_EQ(status, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(why)) << run.err;
    EXPECT_TRUE(ReadFile(dir_ / "target.dt") == before_);
    EXPECT_FALSE(fs::exists(dir_ / "new.dt"));
  }

  std::vector<std::string> Merge(const std::string& db, std::vector<std::string> pieces,
                                 std::vector<std::string> options = {}) {
    std::vector<std::string> args = {"merge", "--db", db, "--pieces-of", "a.log"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), pieces.begin(), pieces.end());
    return args;
  }

  TempDir dir_;
  std::string text_, before_;
  int64_t size_ = 0, third_ = 0;
  std::vector<std::string> pieces_;
};

TEST_F(LogPiecesRefused, APieceNeverPassesForAWholeLog) {
  for (const std::string db : {"target.dt", "new.dt"}) {
    ExpectRefused({"merge", "--db", db, pieces_[0]}, 1, "a piece of that log");
    ExpectRefused({"merge", "--db", db, "b.dt", pieces_[1]}, 1, "--pieces-of");
    ExpectRefused({"merge", "--db", db, "--replace", pieces_[2]}, 1, "a piece of that log");
  }
  // Whatever order or mix the pieces come in, they must cover the log once, in order.
  const std::string p0 = pieces_[0], p1 = pieces_[1], p2 = pieces_[2];
  for (const std::string db : {"target.dt", "new.dt"}) {
    ExpectRefused(Merge(db, {p0, p2}), 1, "no piece before it holds bytes");
    ExpectRefused(Merge(db, {p1, p2}), 1, "no piece before it holds bytes [0, ");
    ExpectRefused(Merge(db, {p0, p2, p1}), 1, "no piece before it holds bytes");
    ExpectRefused(Merge(db, {p0, p1, p1, p2}), 1, "overlap the pieces before it");
    ExpectRefused(Merge(db, {p0, p1}), 1, "the pieces of its end are missing");
    ExpectRefused(Merge(db, {p0, p1, p2, "b-piece.dt"}), 1, "a piece of " + (dir_ / "b.log").string());
    ExpectRefused(Merge(db, {p0, "b.dt", p1, p2}), 1, "holds whole logs, not a piece of one");
  }
  // Pieces joined into one piece keep the same rules, and the piece still needs its start.
  ExpectRefused(Merge("new.dt", {p0, p2}, {"--into-piece"}), 1, "no piece before it holds bytes");
  ExpectRefused(Merge("target.dt", {p1, p2}, {"--into-piece"}), 1, "written only to a new");
  ASSERT_EQ(0, Cli(dir_, Merge("tail.dt", {p1, p2}, {"--into-piece"})).status);
  ExpectRefused(Merge("new.dt", {"tail.dt"}), 1, "no piece before it holds bytes [0, ");
  ExpectRefused({"merge", "--db", "new.dt", "tail.dt"}, 1, "a piece of that log");
  ASSERT_EQ(0, Cli(dir_, Merge("whole.dt", {p0, "tail.dt"})).status);
  ExpectRefused(Merge("new.dt", {"whole.dt"}), 1, "holds whole logs, not a piece of one");
  // Nothing is added to a piece: it would be joined as part of its log.
  const std::string piece_bytes = ReadFile(p0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"analyse", "--db", p0, "b.log"},
        std::vector<std::string>{"analyse", "--add", "--db", p0, "b.log"},
        std::vector<std::string>{"merge", "--db", p0, "b.dt"},
        std::vector<std::string>{"merge", "--replace", "--db", p0, "b.dt"}}) {
    ExpectRefused(args, 1, "is a piece of a log");
    EXPECT_TRUE(ReadFile(p0) == piece_bytes);
  }
  // A description of another log, or of the log grown since, does not fit its pieces.
  const CliResult other = Cli(dir_, {"describe-log", "b.log"});
  ASSERT_EQ(0, other.status);
  ExpectRefused(Merge("new.dt", pieces_, {"--described", other.out.substr(0, other.out.find('\n'))}),
                1, "the pieces hold bytes [0, " + std::to_string(size_) + ")");
  WriteFile(dir_ / "a.log", text_ + text_);
  ExpectRefused(Merge("new.dt", pieces_), 1, "or it grew since");
  for (const char* described : {"", "bytes=1", "bytes=5 lines=1 hash=0 head_bytes=5 head_hash=0 "
                                "first_line_hash=0",
                                "bytes=70000 lines=1 hash=0000000000000000 head_bytes=70000 "
                                "head_hash=0000000000000000 first_line_hash=0000000000000000"}) {
    ExpectRefused(Merge("new.dt", pieces_, {std::string("--described=") + described}), 2,
                  "--described needs the line describe-log prints");
  }
}

TEST_F(LogPiecesRefused, ByteRangeOnlyWhereAPieceCanBeReadAlone) {
  WriteGzip(dir_ / "a.log.gz", text_);
  const struct {
    std::vector<std::string> args;
    int status;
    std::string why;
  } cases[] = {
      {{"--db", "new.dt", "--byte-range", "0-10", "a.log.gz"}, 2, "is compressed"},
      {{"--db", "new.dt", "--byte-range", "0-10", "--log-format", "w3c", "a.log"}, 2,
       "reads each log from its start"},
      {{"--db", "new.dt", "--byte-range", "0-10", "--log-format", "auto", "a.log"}, 2,
       "reads each log from its start"},
      {{"--byte-range", "0-10", "a.log"}, 2, "needs --db PART"},
      {{"--db", "new.dt", "--byte-range", "0-10", "a.log", "b.log"}, 2, "reads one LOGFILE"},
      {{"--db", "new.dt", "--byte-range", "10-9", "a.log"}, 2, "needs BEGIN-END"},
      {{"--db", "new.dt", "--byte-range", "-9", "a.log"}, 2, "needs BEGIN-END"},
      {{"--db", "new.dt", "--byte-range", "0-1e9", "a.log"}, 2, "needs BEGIN-END"},
      {{"--db", "new.dt", "--byte-range", "0-10", "--add", "a.log"}, 2, "cannot be used with --add"},
      {{"--db", "new.dt", "--byte-range", "0-10", "--from", "2008-01-01", "a.log"}, 2,
       "cannot be used with --from"},
      // A piece goes to a new file only: never over a database's statistics.
      {{"--db", "target.dt", "--byte-range", "0-10", "a.log"}, 1, "written only to a new"},
  };
  for (const auto& test : cases) {
    std::vector<std::string> args = {"analyse"};
    args.insert(args.end(), test.args.begin(), test.args.end());
    ExpectRefused(args, test.status, test.why);
  }
}

}  // namespace
}  // namespace hitsieve::testing
