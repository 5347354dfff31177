// CollectFile reads in blocks, on several threads, and merges per-thread collectors; whatever
// the block size and thread count, its statistics must be exactly those of parsing the file's
// whole text on one collector. These tests compare the two on generated logs, table by table
// and row by row.
#include <atomic>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/log_format/log_format.h"
#include "engine/log_reader.h"
#include "engine/page_filter.h"
#include "engine/standard_engines.h"
#include "engine/stats_collector.h"
#include "tests/engine/random_log.h"

namespace hitsieve {
namespace {

namespace fs = std::filesystem;

// ---- Collectors to compare --------------------------------------------------------------

const SearchEngineRegistry& AllEngines() {
  static SearchEngineRegistry registry;
  static const bool filled = (RegisterStandardEngines(registry), true);
  (void)filled;
  return registry;
}

// Not the process-wide registry, and unlike it: a part collector that looked engines up
// anywhere but in its parent's registry would count Google's crawler as a robot.
const SearchEngineRegistry& AllButGoogle() {
  static SearchEngineRegistry registry;
  static const bool filled = [] {
    registry.Register(std::make_unique<YandexEngine>());
    registry.Register(std::make_unique<RamblerEngine>());
    registry.Register(std::make_unique<MailruEngine>());
    registry.Register(std::make_unique<AportEngine>());
    registry.Register(std::make_unique<WebaltaEngine>());
    return true;
  }();
  (void)filled;
  return registry;
}

// How a collector counts; part collectors must count the same way as the one they serve.
struct Counting {
  const char* label;
  const SearchEngineRegistry& (*registry)();
  const char* extensions;
};
const Counting kCountings[] = {{"default extensions", AllEngines, kDefaultExtensionList},
                         {"no page filter", AllEngines, ""},
                         {"GIF and php only", AllEngines, "GIF; php"},
                         {"registry without Google", AllButGoogle, kDefaultExtensionList}};

StatsCollector MakeCollector(const Counting& setup) {
  StatsCollector collector(setup.registry());
  ParseExtensionList(setup.extensions, collector.pageExtensions);
  return collector;
}

// The reference: the whole text read at once and parsed on one collector.
StatsCollector CollectWhole(const Counting& setup, const std::string& path) {
  std::string text;
  if (IsGzipName(path)) {
    ReadGzipFile(path, text);
  } else {
    ReadPlainFile(path, text);
  }
  StatsCollector collector = MakeCollector(setup);
  collector.ParseContent(text);
  return collector;
}

// ---- Row-by-row comparison --------------------------------------------------------------

// Every table of a collector as rows of text, in the collector's order. Fields carry their
// length, so any byte (NUL included) and any field boundary shows.
struct Snapshot {
  std::vector<std::pair<const char*, std::vector<std::string>>> tables;
};

void Put(std::string& row, std::string_view field) {
  row += std::to_string(field.size()) + ':';
  row += field;
  row += ' ';
}
void Put(std::string& row, int64_t number) { row += std::to_string(number) + ' '; }

// The keys are numbers private to each collector: compare the texts they stand for.
template <typename ToText>
void PutSorted(std::string& row, const KeySet& set, ToText to_text) {
  std::vector<std::string> items;
  set.ForEach([&](uint64_t key) { items.push_back(to_text(key)); });
  std::sort(items.begin(), items.end());
  Put(row, static_cast<int64_t>(items.size()));
  for (const std::string& item : items) Put(row, item);
}

template <typename Map>
std::vector<std::string> CountRows(const Map& counts) {
  std::vector<std::string> rows;
  for (const auto& [key, count] : counts) {
    rows.emplace_back();
    Put(rows.back(), key);
    Put(rows.back(), count);
  }
  return rows;
}

std::vector<std::string> EngineRows(const CountsByEngine& hits) {
  std::vector<std::string> rows;
  for (const auto& [engine, count] : hits) rows.push_back(std::to_string(engine) + '=' + std::to_string(count));
  return rows;
}

Snapshot Take(const StatsCollector& c) {
  Snapshot s;
  s.tables.reserve(8);  // rows are filled through references into this vector
  auto& days = s.tables.emplace_back("days", std::vector<std::string>()).second;
  for (const auto& [key, day] : c.days) {
    std::string& row = days.emplace_back();
    Put(row, key);
    PutSorted(row, day.ips, [&](uint64_t address) {
      return std::string(c.AddressText(static_cast<uint32_t>(address)));
    });
    PutSorted(row, day.visitors, [&](uint64_t visitor) {
      std::string text;
      Put(text, c.AddressText(VisitorAddress(visitor)));
      Put(text, c.AgentText(VisitorAgent(visitor)));
      return text;
    });
    Put(row, day.views);
    Put(row, day.searches);
  }
  auto& pages = s.tables.emplace_back("pages", std::vector<std::string>()).second;
  for (const auto& [key, page] : c.pages) {
    std::string& row = pages.emplace_back();
    Put(row, key);
    Put(row, page.visits);
    Put(row, page.searches);
    Put(row, page.bandwidth);
    for (const std::string& hits : EngineRows(page.engineHits)) row += hits + ' ';
  }
  s.tables.emplace_back("referers", CountRows(c.referers));
  s.tables.emplace_back("refererHosts", CountRows(c.refererHosts));
  auto& queries = s.tables.emplace_back("queries", std::vector<std::string>()).second;
  for (const auto& [phrase, counts] : c.queries) {
    std::string& row = queries.emplace_back();
    Put(row, phrase);  // the exact bytes: the first spelling must win
    for (const std::string& count : EngineRows(counts)) row += count + ' ';
  }
  auto& robots = s.tables.emplace_back("robotHits", std::vector<std::string>()).second;
  for (const RobotHit& hit : c.robotHits) {
    std::string& row = robots.emplace_back();
    for (const std::string* field : {&hit.name, &hit.action, &hit.ip, &hit.date}) Put(row, *field);
    Put(row, hit.code);
  }
  s.tables.emplace_back("records", std::vector<std::string>{std::to_string(c.records())});
  return s;
}

std::string Printable(std::string_view bytes) {
  std::string out;
  for (const char c : bytes.substr(0, 240)) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      out += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return bytes.size() > 240 ? out + "..." : out;
}

// The first row in which `got` differs from `want`, or "" when every table agrees.
std::string FirstDifference(const Snapshot& want, const Snapshot& got) {
  for (size_t t = 0; t < want.tables.size(); ++t) {
    const auto& [name, want_rows] = want.tables[t];
    const auto& got_rows = got.tables[t].second;
    for (size_t r = 0; r < std::max(want_rows.size(), got_rows.size()); ++r) {
      const std::string w = r < want_rows.size() ? want_rows[r] : "(none)";
      const std::string g = r < got_rows.size() ? got_rows[r] : "(none)";
      if (w != g) {
        return std::string(name) + " row " + std::to_string(r) + " of " +
               std::to_string(want_rows.size()) + ": want <" + Printable(w) + "> got <" +
               Printable(g) + ">";
      }
    }
  }
  return "";
}

// ---- Files ------------------------------------------------------------------------------

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "collect-file-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

// One complete gzip member holding `data`.
std::string GzipMember(std::string_view data, int level = 6) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&z, data.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

// `data` as several gzip members of levels 0 (stored) to 9, cut at arbitrary bytes (inside
// lines too); one member may be
// empty.
std::string GzipMembers(std::string_view data, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<size_t> cuts = {0, data.size()};
  for (int i = 0; i < 3; ++i) cuts.push_back(data.empty() ? 0 : rng() % data.size());
  std::sort(cuts.begin(), cuts.end());
  std::string out;
  for (size_t i = 0; i + 1 < cuts.size(); ++i) {
    out += GzipMember(data.substr(cuts[i], cuts[i + 1] - cuts[i]), static_cast<int>(i) * 3);
  }
  return out;
}

// ---- Logs -------------------------------------------------------------------------------

struct LogCase {
  std::string label;
  std::string text;
};

std::string FixedLine(const std::string& ip, const std::string& url, const std::string& referer,
                      const std::string& agent = "Mozilla/5.0") {
  return ip + " - - [10/Oct/2000:13:55:36 +0400] \"GET " + url + " HTTP/1.1\" 200 100 \"" +
         referer + "\" \"" + agent + "\"\n";
}

// A phrase spelt one way early in each half and another way later, with robots in both
// halves, so that a merge in the wrong order or one that lets a later spelling win shows.
std::string SpellingsInBothHalves() {
  std::string half;
  std::string text;
  for (const char* spelling : {"Weather", "WEATHER", "weather"}) {
    text += FixedLine("1.1.1.1", "/w.html", std::string("http://www.google.com/search?q=") + spelling);
    text += FixedLine("2.2.2.2", "/r.gif", "-", std::string("Googlebot ") + spelling);
  }
  for (const char* spelling : {"wEATHER", "Weather", "\xCF\xCE\xC3\xCE\xC4\xC0"}) {
    text += FixedLine("3.3.3.3", "/w.html", std::string("http://go.mail.ru/search?q=") + spelling);
    text += FixedLine("4.4.4.4", "/r.gif", "-", std::string("Aport ") + spelling);
  }
  text += FixedLine("5.5.5.5", "/w.html", "http://go.mail.ru/search?q=\xEF\xEE\xE3\xEE\xE4\xE0");
  return text;
}

std::vector<LogCase> LogCases() {
  RandomLog lines(99);
  // The first case is counted with every engine and the default extensions.
  std::vector<LogCase> cases = {
      {"one phrase spelt differently in each half", SpellingsInBothHalves()},
      {"empty file", ""},
      {"only line feeds", "\n\n\n\n\n"},
      {"only CR LF", "\r\n\r\n\r\n"},
      {"one line without a line feed", lines.Combined("/index.html")},
      {"no final line feed", lines.Text(5) + "\n" + lines.Combined("/last.html")},
      {"line longer than every block",
       lines.Combined("/" + std::string(20000, 'x') + ".html") + "\n" + lines.Text(3)},
      {"NUL bytes", std::string("\0\n", 2) + lines.Combined("/a.html") + std::string("\0\n\0", 3) +
                        lines.Combined("/b.html") + std::string("\0", 1)},
  };
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    cases.push_back({"random seed " + std::to_string(seed), RandomLog(seed).Text(40 + 20 * seed)});
  }
  return cases;
}

struct LogFile {
  const char* kind;
  std::string path;
};

// Writes `text` as a plain file, as one gzip member and as several; the first case also
// as plain text under a gzip name, which zlib passes through unchanged.
std::vector<LogFile> WriteLogFiles(const TempDir& dir, const std::string& text, uint32_t seed) {
  std::vector<LogFile> files = {{"plain", dir / "access.log"},
                                {"gzip", dir / "access.log.gz"},
                                {"gzip members", dir / "members.log.GZ"}};
  WriteFile(files[0].path, text);
  WriteFile(files[1].path, GzipMember(text));
  WriteFile(files[2].path, GzipMembers(text, seed));
  if (seed == 0) {
    files.push_back({"plain text named .gz", dir / "plain.log.gz"});
    WriteFile(files.back().path, text);
  }
  return files;
}

const size_t kBlockSizes[] = {1, 7, 64, 4096, CollectOptions().block_size};

// ---- Tests ------------------------------------------------------------------------------

TEST(CollectFile, MatchesWholeTextParseForAnyBlockSizeAndThreadCount) {
  const TempDir dir;
  const std::vector<LogCase> cases = LogCases();
  int mismatches = 0;
  for (size_t n = 0; n < cases.size(); ++n) {
    const Counting& setup = kCountings[n % std::size(kCountings)];
    for (const LogFile& file : WriteLogFiles(dir, cases[n].text, static_cast<uint32_t>(n))) {
      SCOPED_TRACE(cases[n].label + ", " + file.kind + ", " + setup.label);
      const Snapshot want = Take(CollectWhole(setup, file.path));
      {
        StatsCollector streamed = MakeCollector(setup);
        streamed.ProcessFile(file.path);
        EXPECT_EQ("", FirstDifference(want, Take(streamed))) << "ProcessFile";
      }
      const bool gzip = IsGzipName(file.path);
      for (const size_t block : kBlockSizes) {
        if (gzip && block == 1) continue;  // segments of single bytes take minutes
        for (const unsigned threads : {1u, 2u, 3u, 8u}) {
          CollectOptions options{block, threads, 0};
          // A gzip file in segments of one block to a few, handed to the threads in turn.
          if (gzip) options.gzip_segment = block * (threads - 1);
          std::string seen;
          options.file_text = [&seen](size_t, std::string_view text) { seen += text; };
          StatsCollector got = MakeCollector(setup);
          CollectFile(got, file.path, options);
          const std::string difference = FirstDifference(want, Take(got));
          EXPECT_EQ("", difference) << "block " << block << ", threads " << threads;
          EXPECT_TRUE(seen == cases[n].text) << "text seen, block " << block << ", threads " << threads;
          if (!difference.empty() && ++mismatches == 10) FAIL() << "stopped after 10 mismatches";
        }
      }
    }
  }
}

TEST(CollectFile, LargerFileOnSeveralThreadsMatches) {
  const TempDir dir;
  const std::string text = RandomLog(2024).Text(8000);  // about a megabyte
  ASSERT_GT(text.size(), 800000u);
  const std::vector<LogFile> files = WriteLogFiles(dir, text, 7);
  const struct {
    const char* label;
    CollectOptions options;
    bool plain_only;
  } runs[] = {{"defaults", CollectOptions{}, false},
              {"default blocks, 2 threads", CollectOptions{CollectOptions().block_size, 2, 0}, true},
              {"64 KB blocks, 2 threads", CollectOptions{64 << 10, 2, 0}, false},
              {"4 KB blocks, 3 threads", CollectOptions{4096, 3, 0}, false},
              {"a thread per core", CollectOptions{16 << 10, 0, 0}, false},
              {"4 KB blocks, 2 threads, 100 KB segments", CollectOptions{4096, 2, 0, 100 << 10}, false},
              {"64 KB blocks, 5 threads, 1 block segments", CollectOptions{64 << 10, 5, 0, 1}, false}};
  for (const LogFile& file : files) {
    const Snapshot want = Take(CollectWhole(kCountings[0], file.path));
    for (const auto& run : runs) {
      if (run.plain_only && IsGzipName(file.path)) continue;
      SCOPED_TRACE(std::string(file.kind) + ", " + run.label);
      StatsCollector got = MakeCollector(kCountings[0]);
      CollectFile(got, file.path, run.options);
      EXPECT_EQ("", FirstDifference(want, Take(got)));
    }
  }
}

// A caller hashes the text it is shown to recognise the log later, so a line dropped for its
// length must still be shown, in place, whichever way the file is read.
TEST(CollectFile, ShowsTheWholeTextLinesTooLongToParseIncluded) {
  const TempDir dir;
  RandomLog lines(77);
  const std::string text = lines.Text(30) + "\n" + lines.Combined("/" + std::string(5000, 'y')) +
                           "\n" + lines.Text(30) + "\n" + std::string(3000, 'z');
  int64_t long_lines = -1;  // the same count every way
  for (const LogFile& file : WriteLogFiles(dir, text, 0)) {
    for (const unsigned threads : {1u, 2u, 3u}) {
      for (const unsigned file_threads : {0u, 2u}) {
        SCOPED_TRACE(std::string(file.kind) + ", threads " + std::to_string(threads) +
                     ", file threads " + std::to_string(file_threads));
        CollectOptions options{256, threads, 0, 1024};
        options.max_line = 1000;
        options.file_threads = file_threads;
        std::vector<std::string> seen(2);
        options.file_text = [&seen](size_t k, std::string_view piece) { seen.at(k) += piece; };
        StatsCollector got = MakeCollector(kCountings[0]);
        CollectFiles(got, {file.path, file.path}, options, nullptr, {});
        if (long_lines < 0) long_lines = got.long_lines();
        EXPECT_GE(got.long_lines(), 4);  // both of the text's long lines, twice
        EXPECT_EQ(long_lines, got.long_lines());
        EXPECT_TRUE(seen[0] == text && seen[1] == text);
      }
    }
  }
}

// A run hands every file to one collector: the second file's statistics follow the first's,
// and a phrase or robot hit of the first keeps its place whichever way the second is read.
TEST(CollectFile, LaterFileAddsToWhatEarlierFilesLeft) {
  const TempDir dir;
  const std::string first_text = SpellingsInBothHalves() + RandomLog(31).Text(150);
  const std::string second_text = RandomLog(32).Text(150) + SpellingsInBothHalves();
  WriteFile(dir / "first.log", first_text);
  WriteFile(dir / "first.log.gz", GzipMember(first_text));
  WriteFile(dir / "second.log", second_text);
  WriteFile(dir / "second.log.gz", GzipMembers(second_text, 32));
  StatsCollector whole = MakeCollector(kCountings[0]);
  whole.ParseContent(first_text);
  whole.ParseContent(second_text);
  const Snapshot want = Take(whole);
  for (const char* first : {"first.log", "first.log.gz"}) {
    for (const char* second : {"second.log", "second.log.gz"}) {
      for (const unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(std::string(first) + " then " + second + ", threads " + std::to_string(threads));
        StatsCollector got = MakeCollector(kCountings[0]);
        CollectFile(got, dir / first, CollectOptions{256, threads, 0, 1000});
        CollectFile(got, dir / second, CollectOptions{256, threads, 0, 1000});
        EXPECT_EQ("", FirstDifference(want, Take(got)));
      }
    }
  }
}

// Lines [from, to) of a log, as one text.
std::string JoinLines(const std::vector<std::string>& lines, size_t from, size_t to) {
  std::string text;
  for (size_t i = from; i < to; ++i) text += lines[i];
  return text;
}

TEST(StatsCollectorAbsorb, SplittingTheRecordsAnywhereGivesTheSameResult) {
  for (uint32_t seed : {5u, 6u, 7u}) {
    const Counting& setup = kCountings[seed % std::size(kCountings)];
    const std::vector<std::string> lines = RandomLog(seed).Lines(30);
    auto join = [&lines](size_t from, size_t to) { return JoinLines(lines, from, to); };
    StatsCollector whole = MakeCollector(setup);
    whole.ParseContent(join(0, lines.size()));
    const Snapshot want = Take(whole);
    const Snapshot empty = Take(MakeCollector(setup));
    int mismatches = 0;
    // The first part is parsed here, the second in a copy that is then absorbed, and the rest
    // is parsed here again: a merged collector must go on counting correctly.
    const size_t n = lines.size();
    for (size_t i = 0; i <= n; ++i) {
      // The absorbed part: empty, one line, up to the middle of the rest, everything left.
      std::vector<size_t> ends = {i, std::min(i + 1, n), (i + n + 1) / 2, n};
      ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
      for (const size_t j : ends) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", " + setup.label + ", lines [0," +
                     std::to_string(i) + ") [" + std::to_string(i) + "," + std::to_string(j) +
                     ") [" + std::to_string(j) + ",end)");
        StatsCollector first = MakeCollector(setup);
        first.ParseContent(join(0, i));
        StatsCollector second = first.EmptyCopy();
        second.ParseContent(join(i, j));
        first.Absorb(std::move(second));
        Snapshot left = Take(second);
        left.tables.pop_back();  // how many records it once took is no table
        Snapshot none = empty;
        none.tables.pop_back();
        EXPECT_EQ("", FirstDifference(none, left)) << "the absorbed collector is left empty";
        first.ParseContent(join(j, lines.size()));
        const std::string difference = FirstDifference(want, Take(first));
        EXPECT_EQ("", difference);
        if (!difference.empty() && ++mismatches == 5) FAIL() << "stopped after 5 mismatches";
      }
    }
  }
}

// Parts of one log counted apart, their keyed tables left pending, sorted into maps or sorted
// into runs, then put together in file order as the readers do (whole collectors absorbed;
// runs merged with their neighbours in any order, then into the first part's maps; runs added
// to a first part that holds a map and a run), and the first part counting on after that:
// every mix must give the counts of one parse.
TEST(StatsCollectorRuns, AnyMixOfMapsRunsAndPendingKeysGivesOneParsesResult) {
  using Keyed = StatsCollector::Keyed;
  for (uint32_t seed : {21u, 22u, 23u}) {
    const Counting& setup = kCountings[seed % std::size(kCountings)];
    const std::vector<std::string> lines = RandomLog(seed).Lines(300);
    auto join = [&lines](size_t from, size_t to) { return JoinLines(lines, from, to); };
    StatsCollector whole = MakeCollector(setup);
    whole.ParseContent(join(0, lines.size()));
    const Snapshot want = Take(whole);
    std::mt19937 rng(seed);
    int mismatches = 0;
    for (int trial = 0; trial < 150; ++trial) {
      // Cut points: the first part in two pieces (the first finished into the maps), then up to
      // five parts, then a tail the first part counts after the others have joined it.
      std::vector<size_t> cuts;
      for (int c = static_cast<int>(rng() % 7) + 2; c > 0; --c) {
        cuts.push_back(rng() % (lines.size() + 1));
      }
      std::sort(cuts.begin(), cuts.end());
      const size_t tail = cuts.back();
      const int how = static_cast<int>(rng() % 3);  // 0 Absorb, 1 runs by neighbours, 2 runs in turn
      SCOPED_TRACE("seed " + std::to_string(seed) + ", trial " + std::to_string(trial) + ", way " +
                   std::to_string(how));
      StatsCollector first = MakeCollector(setup);
      first.ParseContent(join(0, cuts[0]));
      first.ParseLines(join(cuts[0], cuts[1]));
      std::vector<std::unique_ptr<StatsCollector>> parts;
      for (size_t p = 1; p + 1 < cuts.size(); ++p) {
        parts.push_back(std::make_unique<StatsCollector>(first.EmptyCopy()));
        parts.back()->ParseLines(join(cuts[p], cuts[p + 1]));
      }
      if (how == 0) {
        // Each part's tables pending, in maps or in runs, and the first part's too.
        if (rng() % 2 != 0) first.FinishToRuns();
        for (const auto& part : parts) {
          const unsigned state = rng() % 3;
          if (state == 1) part->Finish();
          if (state == 2) part->FinishToRuns();
        }
        for (const auto& part : parts) first.Absorb(std::move(*part));
      } else if (how == 1) {
        // As files side by side: the rest joins in order, the runs merge by neighbours.
        first.Finish();
        for (const auto& part : parts) {
          part->FinishToRuns();
          first.AbsorbRest(*part);
        }
        while (parts.size() > 1) {
          const size_t i = rng() % (parts.size() - 1);
          for (const Keyed table : StatsCollector::kKeyed) parts[i]->AbsorbRun(*parts[i + 1], table);
          parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        }
        for (const Keyed table : StatsCollector::kKeyed) {
          first.Finish(table);
          if (!parts.empty()) first.AbsorbTable(*parts[0], table);
        }
      } else {
        // As the ranges of one file: the first part's run, after its map, takes the others'.
        first.FinishToRuns();
        for (const auto& part : parts) {
          part->FinishToRuns();
          first.AbsorbRest(*part);
          for (const Keyed table : StatsCollector::kKeyed) first.AbsorbRun(*part, table);
        }
        for (const Keyed table : StatsCollector::kKeyed) first.Finish(table);
      }
      if (how != 0) {
        EXPECT_EQ(0u, first.RunKeys()) << "a run was left out of the maps";
      }
      first.ParseContent(join(tail, lines.size()));
      const std::string difference = FirstDifference(want, Take(first));
      EXPECT_EQ("", difference);
      if (!difference.empty() && ++mismatches == 5) FAIL() << "stopped after 5 mismatches";
    }
  }
}

// Each Finish sorts what was counted since the last one into the maps: many new keys among few
// (walked into place) or a few among many (looked up), in any mix, must give one parse's maps.
TEST(StatsCollector, FinishingAfterChunksOfAnySizeGivesTheSameResult) {
  for (uint32_t seed : {11u, 12u, 13u, 14u}) {
    const Counting& setup = kCountings[seed % std::size(kCountings)];
    const std::vector<std::string> lines = RandomLog(seed).Lines(600);
    std::string all;
    for (const std::string& line : lines) all += line;
    StatsCollector whole = MakeCollector(setup);
    whole.ParseContent(all);
    const Snapshot want = Take(whole);
    ASSERT_GT(whole.referers.size(), 32u) << "too few keys to tell walking from looking up";
    std::mt19937 rng(seed);
    // Chunks of one line after a large first one, then sizes growing and shrinking at random.
    StatsCollector chunked = MakeCollector(setup);
    size_t at = 0;
    size_t size = 400;
    while (at < lines.size()) {
      std::string text;
      for (const size_t end = std::min(lines.size(), at + size); at < end; ++at) text += lines[at];
      chunked.ParseContent(text);
      size = at < 420 ? 1 : 1 + rng() % 60;
    }
    SCOPED_TRACE("seed " + std::to_string(seed) + ", " + setup.label);
    EXPECT_EQ("", FirstDifference(want, Take(chunked)));
  }
}

// The message CollectFile throws, or "no error".
std::string CollectError(const std::string& path, const CollectOptions& options) {
  StatsCollector collector = MakeCollector(kCountings[0]);
  try {
    CollectFile(collector, path, options);
  } catch (const std::runtime_error& e) {
    return e.what();  // the partial collector is discarded, as a run does
  }
  return "no error";
}

std::string WholeReadError(const std::string& path) {
  try {
    CollectWhole(kCountings[0], path);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "no error";
}

// A log read in byte ranges, each range into a collector of its own as another machine would,
// and the collectors put together in file order: whatever the cuts (at a line start, inside a
// line, inside a CR LF, past the end, several at one place), the ranges' texts follow each
// other without gap or overlap and the statistics are those of the whole text.
TEST(CollectFileRange, AnyCutsGiveTheWholeFilesStatistics) {
  const TempDir dir;
  std::vector<LogCase> cases = LogCases();
  cases.push_back({"larger log", RandomLog(2025).Text(3000)});
  std::mt19937 rng(11);
  int mismatches = 0;
  for (size_t n = 0; n < cases.size(); ++n) {
    const Counting& setup = kCountings[n % std::size(kCountings)];
    const std::string& text = cases[n].text;
    const std::string path = dir / "ranges.log";
    WriteFile(path, text);
    const Snapshot want = Take(CollectWhole(setup, path));
    const int64_t size = static_cast<int64_t>(text.size());
    for (int round = 0; round < 12; ++round) {
      std::vector<int64_t> cuts = {0};
      const int count = std::uniform_int_distribution<int>(0, 6)(rng);
      for (int k = 0; k < count; ++k) {
        int64_t at = std::uniform_int_distribution<int64_t>(0, size + 2)(rng);
        // Half of the cuts on a line start, where a range's first line must not be lost.
        const size_t lf = text.find('\n', static_cast<size_t>(std::min(at, size)));
        if (k % 2 == 1 && lf != std::string::npos) at = static_cast<int64_t>(lf) + 1;
        cuts.push_back(at);
      }
      cuts.push_back(size + round % 2);
      std::sort(cuts.begin(), cuts.end());
      const unsigned threads = 1 + round % 3;
      const CollectOptions options{round % 4 == 0 ? size_t{7} : size_t{512}, threads, 0};
      std::string cut_text;
      for (const int64_t cut : cuts) cut_text += " " + std::to_string(cut);
      SCOPED_TRACE(cases[n].label + ", cuts" + cut_text + ", threads " + std::to_string(threads));
      StatsCollector joined = MakeCollector(setup);
      int64_t next = 0;
      for (size_t k = 0; k + 1 < cuts.size(); ++k) {
        StatsCollector piece = MakeCollector(setup);
        const LineRange range = CollectFileRange(piece, path, cuts[k], cuts[k + 1], options);
        EXPECT_EQ(next, range.text_begin) << "range " << k;
        // Its text begins at the first line start at or after the cut.
        const size_t lf = cuts[k] == 0 || cuts[k] > size ? std::string::npos
                                                          : text.find('\n', cuts[k] - 1);
        const int64_t start = cuts[k] == 0                ? 0
                              : lf == std::string::npos ? size
                                                        : static_cast<int64_t>(lf) + 1;
        EXPECT_EQ(start, range.text_begin) << "range " << k;
        next = range.text_end;
        joined.Absorb(std::move(piece));
      }
      EXPECT_EQ(size, next);
      const std::string difference = FirstDifference(want, Take(joined));
      EXPECT_EQ("", difference);
      if (!difference.empty() && ++mismatches == 5) FAIL() << "stopped after 5 mismatches";
    }
  }
}

TEST(CollectFileRange, RefusesWhatOnlyAWholeReadCanCount) {
  const TempDir dir;
  const std::string text = RandomLog(3).Text(20);
  WriteFile(dir / "a.log", text);
  WriteFile(dir / "a.log.gz", GzipMember(text));
  StatsCollector collector = MakeCollector(kCountings[0]);
  EXPECT_THROW(CollectFileRange(collector, dir / "a.log.gz", 0, 10), std::invalid_argument);
  EXPECT_THROW(CollectFileRange(collector, dir / "a.log", 10, 9), std::invalid_argument);
  collector.SetLogFormat(LogFormat::Preset("w3c"));
  EXPECT_THROW(CollectFileRange(collector, dir / "a.log", 0, 10), std::invalid_argument);
}

TEST(CollectFile, ThrowsTheReaderErrors) {
  const TempDir dir;
  const std::string text = RandomLog(3).Text(2000);  // many blocks before the damage
  const std::string member = GzipMember(text);
  std::string bad_checksum = member;
  bad_checksum[member.size() - 8] ^= 0x55;
  fs::create_directory(dir / "directory.log");
  const struct {
    const char* label;
    const char* name;
    std::string bytes;  // not written when empty
    const char* error;
  } cases[] = {
      {"missing plain file", "missing.log", "", kFileOpenError},
      {"directory", "directory.log", "", kFileOpenError},
      {"missing gzip file", "missing.log.gz", "", kGzipOpenError},
      {"gzip cut in its data", "cut.log.gz", member.substr(0, member.size() * 2 / 3), kGzipReadError},
      {"gzip without its trailer", "trailer.log.gz", member.substr(0, member.size() - 8), kGzipReadError},
      {"gzip with a wrong checksum", "checksum.log.gz", bad_checksum, kGzipReadError},
      {"second gzip member cut short", "second.log.gz",
       GzipMember(text) + member.substr(0, member.size() / 2), kGzipReadError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = dir / c.name;
    if (!c.bytes.empty()) WriteFile(path, c.bytes);
    ASSERT_EQ(c.error, WholeReadError(path)) << "the test's file is not what it claims";
    for (const CollectOptions& options :
         {CollectOptions{}, CollectOptions{4096, 1, 0}, CollectOptions{4096, 3, 0}}) {
      EXPECT_EQ(c.error, CollectError(path, options))
          << "block " << options.block_size << ", threads " << options.threads;
    }
  }
}

// Records every report; reports may come from any of the reading threads.
class RecordingProgress : public ReadProgressObserver {
 public:
  void FileProgress(int64_t done, int64_t size) override {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.emplace_back(done, size);
  }
  std::vector<std::pair<int64_t, int64_t>> reports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<int64_t, int64_t>> reports_;
};

TEST(CollectFile, ReportsProgressInBytesOfTheFile) {
  const TempDir dir;
  const std::string text = RandomLog(11).Text(1000);
  WriteFile(dir / "p.log", text);
  WriteFile(dir / "p.log.gz", GzipMembers(text, 11));
  WriteFile(dir / "empty.log", "");
  const struct {
    const char* label;
    const char* name;
    CollectOptions options;
    bool ends_at_size;
  } cases[] = {
      {"plain, one thread", "p.log", CollectOptions{4096, 1, 0}, true},
      {"plain, three threads", "p.log", CollectOptions{4096, 3, 0}, true},
      {"plain, defaults", "p.log", CollectOptions{}, true},
      {"gzip", "p.log.gz", CollectOptions{4096, 1, 0}, false},
      {"gzip in segments on three threads", "p.log.gz", CollectOptions{4096, 3, 0, 8192}, true},
      {"empty file", "empty.log", CollectOptions{4096, 2, 0}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = dir / c.name;
    const auto size = static_cast<int64_t>(fs::file_size(path));
    RecordingProgress progress;
    StatsCollector collector = MakeCollector(kCountings[0]);
    CollectFile(collector, path, c.options, &progress);
    const auto reports = progress.reports();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(0, reports.front().first) << "the first report comes when the file is open";
    int64_t last = 0;
    for (const auto& [done, reported_size] : reports) {
      EXPECT_EQ(size, reported_size);
      EXPECT_LE(last, done) << "progress went back";
      EXPECT_LE(done, reported_size);
      last = done;
    }
    if (c.ends_at_size) {
      EXPECT_EQ(size, reports.back().first) << "the last report is the whole file";
    }
  }
}

// ---- Several files ----------------------------------------------------------------------

// Files of a run read side by side must give what reading them one after another gives, and
// report each file done in order, once its records are all in the run's collector.
TEST(CollectFiles, WholeFilesSideBySideMatchReadingThemInTurn) {
  const TempDir dir;
  const std::vector<LogCase> cases = LogCases();
  std::vector<std::string> paths;
  std::vector<int64_t> records_after;  // the reference's record count after each file
  StatsCollector whole = MakeCollector(kCountings[0]);
  for (size_t n = 0; n < cases.size(); ++n) {
    const std::string name = std::to_string(100 + n) + ".log";
    switch (n % 3) {
      case 0: WriteFile(dir / name, cases[n].text); paths.push_back(dir / name); break;
      case 1: WriteFile(dir / name + ".gz", GzipMember(cases[n].text)); paths.push_back(dir / name + ".gz"); break;
      default: WriteFile(dir / name + ".GZ", GzipMembers(cases[n].text, n)); paths.push_back(dir / name + ".GZ"); break;
    }
    whole.ParseContent(cases[n].text);
    records_after.push_back(whole.records());
  }
  ASSERT_GT(whole.records(), 200);
  const Snapshot want = Take(whole);
  for (const unsigned threads : {0u, 1u, 2u, 3u, 7u}) {
    for (const size_t block : {size_t{64}, CollectOptions().block_size}) {
      SCOPED_TRACE("file threads " + std::to_string(threads) + ", block " + std::to_string(block));
      StatsCollector got = MakeCollector(kCountings[0]);
      std::vector<int64_t> records_seen;
      // Small blocks: a gzip file read alone is parsed in segments; large: in a pipeline.
      CollectOptions options{block, block == 64 ? 2u : 1u, 0, block * 3};
      options.file_threads = threads;
      std::vector<std::string> texts(paths.size());
      options.file_text = [&](size_t file, std::string_view text) { texts.at(file) += text; };
      CollectFiles(got, paths, options, nullptr, [&] { records_seen.push_back(got.records()); });
      EXPECT_EQ(records_after, records_seen) << "a file was reported done before its records arrived";
      EXPECT_EQ("", FirstDifference(want, Take(got)));
      for (size_t n = 0; n < paths.size(); ++n) {
        EXPECT_TRUE(texts[n] == cases[n].text) << paths[n];
      }
    }
  }
}

// Files of very different sizes, in an order that makes the run merge their keyed tables at
// many depths (small after large, runs of like sizes, large after small): the result must be
// that of reading them in turn, whatever the thread count.
TEST(CollectFiles, ManyFilesOfMixedSizesMatchReadingThemInTurn) {
  const TempDir dir;
  std::mt19937 rng(2027);
  std::vector<std::string> paths;
  StatsCollector whole = MakeCollector(kCountings[3]);
  for (int n = 0; n < 40; ++n) {
    const int lines = n % 9 == 0 ? 400 : n % 4 == 0 ? 120 : 1 + static_cast<int>(rng() % 30);
    const std::string text = RandomLog(300 + n).Text(lines);
    const std::string path = dir / ("day-" + std::to_string(100 + n) + (n % 2 ? ".log.gz" : ".log"));
    WriteFile(path, n % 2 == 0 ? text : GzipMember(text));
    paths.push_back(path);
    whole.ParseContent(text);
  }
  const Snapshot want = Take(whole);
  for (const unsigned threads : {2u, 3u}) {
    SCOPED_TRACE("file threads " + std::to_string(threads));
    StatsCollector got = MakeCollector(kCountings[3]);
    CollectOptions options;
    options.file_threads = threads;
    CollectFiles(got, paths, options, nullptr, {});
    EXPECT_EQ("", FirstDifference(want, Take(got)));
  }
}

TEST(CollectFiles, TheFirstFailingFileInOrderEndsTheRun) {
  const TempDir dir;
  const std::string text = RandomLog(41).Text(3000);  // long enough to still be read by a worker
  WriteFile(dir / "a.log", text);
  WriteFile(dir / "b.log.gz", GzipMember(text));
  WriteFile(dir / "damaged.log.gz", GzipMember(text).substr(0, 3000));
  WriteFile(dir / "tiny.log", "x\n");
  const struct {
    std::vector<std::string> names;
    const char* error;
    int done;  // files reported done before the failure
  } cases[] = {
      {{"a.log", "b.log.gz", "damaged.log.gz", "tiny.log", "missing.log"}, kGzipReadError, 2},
      {{"a.log", "missing.log", "tiny.log", "damaged.log.gz"}, kFileOpenError, 1},
      {{"tiny.log", "a.log", "b.log.gz", "a.log", "missing.log.gz"}, kGzipOpenError, 4},
      {{"damaged.log.gz", "a.log", "b.log.gz"}, kGzipReadError, 0},
  };
  for (const auto& c : cases) {
    std::vector<std::string> paths;
    for (const std::string& name : c.names) paths.push_back(dir / name);
    for (const unsigned threads : {1u, 2u, 4u}) {
      SCOPED_TRACE(c.names.front() + "..., threads " + std::to_string(threads));
      CollectOptions options;
      options.file_threads = threads;
      StatsCollector got = MakeCollector(kCountings[0]);
      int done = 0;
      std::string error = "no error";
      try {
        CollectFiles(got, paths, options, nullptr, [&] { ++done; });
      } catch (const std::runtime_error& e) {
        error = e.what();
      }
      EXPECT_EQ(c.error, error);
      EXPECT_EQ(c.done, done);
    }
  }
  // What the caller's own callback throws ends the run too, with every worker stopped.
  const std::vector<std::string> many(20, dir / "a.log");
  CollectOptions options;
  options.file_threads = 2;
  StatsCollector got = MakeCollector(kCountings[0]);
  int done = 0;
  EXPECT_THROW(CollectFiles(got, many, options, nullptr,
                            [&] {
                              if (++done == 3) throw std::logic_error("observer failed");
                            }),
               std::logic_error);
  EXPECT_EQ(3, done);
}

TEST(CollectFiles, ReportsProgressOfTheFirstFileNotDone) {
  const TempDir dir;
  std::vector<std::string> paths;
  std::vector<int64_t> sizes;
  for (uint32_t seed = 0; seed < 6; ++seed) {
    const std::string text = RandomLog(50 + seed).Text(300 * (seed % 3));  // some empty
    const std::string name = dir / ("f" + std::to_string(seed) + (seed % 2 ? ".log.gz" : ".log"));
    WriteFile(name, seed % 2 ? GzipMember(text) : text);
    paths.push_back(name);
    sizes.push_back(static_cast<int64_t>(fs::file_size(name)));
  }
  RecordingProgress progress;
  std::vector<size_t> reports_at_done;
  CollectOptions options{512, 1, 0};
  options.file_threads = 3;
  StatsCollector got = MakeCollector(kCountings[0]);
  CollectFiles(got, paths, options, &progress, [&] { reports_at_done.push_back(progress.reports().size()); });
  ASSERT_EQ(paths.size(), reports_at_done.size());
  const auto reports = progress.reports();
  size_t from = 0;
  for (size_t k = 0; k < paths.size(); ++k) {
    SCOPED_TRACE("file " + std::to_string(k));
    ASSERT_LT(from, reports_at_done[k]) << "no report for this file";
    EXPECT_EQ(std::make_pair(int64_t{0}, sizes[k]), reports[from]) << "a file's reports start at 0";
    EXPECT_EQ(std::make_pair(sizes[k], sizes[k]), reports[reports_at_done[k] - 1]);
    for (size_t r = from + 1; r < reports_at_done[k]; ++r) {
      EXPECT_EQ(sizes[k], reports[r].second);
      EXPECT_LE(reports[r - 1].first, reports[r].first) << "progress went back";
    }
    from = reports_at_done[k];
  }
}

}  // namespace
}  // namespace hitsieve

namespace hitsieve {
namespace {

// Sets the stop flag once the reader has reported some progress inside a file, or only once it
// has reported a file's end. The reports of a read on several threads come from the calling
// thread, so "inside" may in fact come after the last block: the read must end stopped all the
// same.
class StopOnProgress : public ReadProgressObserver {
 public:
  StopOnProgress(std::atomic<bool>& stop, bool at_end) : stop_(stop), at_end_(at_end) {}
  void FileProgress(int64_t done, int64_t size) override {
    if (at_end_ ? done == size && size > 0 : done > 0) stop_.store(true);
  }

 private:
  std::atomic<bool>& stop_;
  bool at_end_;
};

// Every way of reading ends with ReadingStopped once asked, inside a file or as its end is
// reported: one thread or several, plain or gzip, one file or several side by side. Without
// the request the same reads complete.
TEST(CollectFiles, StopEndsEveryKindOfReadWithReadingStopped) {
  const TempDir dir;
  const std::string text = RandomLog(5).Text(20000);  // hundreds of 4 KB blocks
  WriteFile(dir / "a.log", text);
  WriteFile(dir / "b.log.gz", GzipMember(text));
  const std::vector<std::string> both = {dir / "a.log", dir / "b.log.gz", dir / "a.log"};
  const struct {
    const char* label;
    std::vector<std::string> paths;
    CollectOptions options;
  } cases[] = {
      {"plain on the caller", {dir / "a.log"}, CollectOptions{4096, 1, 0}},
      {"plain in ranges", {dir / "a.log"}, CollectOptions{4096, 3, 0}},
      {"gzip beside a decompressing thread", {dir / "b.log.gz"}, CollectOptions{4096, 1, 0}},
      {"gzip in segments", {dir / "b.log.gz"}, CollectOptions{4096, 3, 0, 16384}},
      {"several files in turn", both, CollectOptions{4096, 1, 0}},
      {"several files side by side", both, CollectOptions{4096, 1, 0, 0, 3}},
  };
  for (const auto& c : cases) {
    for (const bool at_end : {false, true}) {
      SCOPED_TRACE(std::string(c.label) + (at_end ? ", asked at a file's end" : ""));
      std::atomic<bool> stop{false};
      CollectOptions options = c.options;
      options.stop = &stop;
      StopOnProgress stopper(stop, at_end);
      int files_done = 0;
      StatsCollector stopped = MakeCollector(kCountings[0]);
      EXPECT_THROW(CollectFiles(stopped, c.paths, options, &stopper, [&] { ++files_done; }),
                   ReadingStopped);
      EXPECT_LT(files_done, static_cast<int>(c.paths.size()));

      stop.store(false);
      StatsCollector whole = MakeCollector(kCountings[0]);
      EXPECT_NO_THROW(CollectFiles(whole, c.paths, options, nullptr, [&] {}));
      EXPECT_GT(whole.records(), 0);
    }
  }

  std::atomic<bool> stop{true};  // asked before the first block: nothing is read
  CollectOptions options;
  options.stop = &stop;
  StatsCollector none = MakeCollector(kCountings[0]);
  EXPECT_THROW(CollectFile(none, dir / "a.log", options), ReadingStopped);
  EXPECT_EQ(0, none.records());
}

}  // namespace
}  // namespace hitsieve
