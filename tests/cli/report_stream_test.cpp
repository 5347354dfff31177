// The report command streams its rows. Checked two ways: its output is byte for byte what the
// whole-table rendering of the window's grids gives, over generated statistics; and it prints a
// table far larger than its memory limit.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/text_output.h"
#include "aligned_table_reference.h"
#include "cli_test_support.h"
#include "engine/text.h"
#include "export/report_lists.h"
#include "export/report_tables.h"
#include "store/report_queries.h"
#include "store/sqlitepp/statement.h"
#include "store/sqlitepp/transaction.h"
#include "store/stats_database.h"

namespace hitsieve::testing {
namespace {

using sqlitepp::use;

const char* const kKinds[] = {"common", "pages", "queries", "referers", "robots"};

// ---- The whole-table rendering: every row read into memory, then shown as the grids show it.

std::vector<std::string> Titles(const ListColumns& columns) {
  std::vector<std::string> titles;
  for (const ListColumn& column : columns) titles.push_back(column.title);
  return titles;
}

std::string WholeTableText(const std::string& kind) {
  std::ostringstream out;
  auto list = [&out](const ListColumns& columns, const std::vector<ListRow>& rows) {
    WriteAlignedTable(out, Titles(columns), rows);
  };
  if (kind == "common") {
    std::vector<CommonStatsRow> rows;
    ReadCommonStats(rows);
    list(CommonStatsColumns(), RenderCommonStats(rows));
  } else if (kind == "pages") {
    std::vector<PageStatsRow> rows;
    ReadPageStats(rows);
    list(PageStatsColumns(), RenderPageStats(rows));
  } else if (kind == "queries") {
    std::vector<QueryStatsRow> rows;
    ReadQueryStats(rows);
    list(QueryStatsColumns(), RenderQueryStats(rows));
  } else if (kind == "referers") {
    std::vector<RefererRow> rows;
    ReadRefererStats(rows);
    list(RefererColumns(0), RenderReferers(rows, 0, ""));
    out << '\n';
    list(RefererColumns(1), RenderReferers(rows, 1, ""));
  } else {
    std::vector<RobotLogRow> rows;
    ReadRobotLog(rows);
    list(RobotLogColumns(), RenderRobotLog(rows, ""));
    out << '\n';
    list(RobotSummaryColumns(), RenderRobotSummary(RobotCounts(rows)));
  }
  return out.str();
}

// The export table's rows from the whole table read at once (referers: one read, host rows
// first), as CSV under `rule`.
std::string WholeTableCsv(const std::string& kind, const cli::CsvCellRule& rule) {
  ReportTable table;
  std::vector<std::vector<std::string>> rows;
  if (kind == "common") {
    BuildCommonStatsTable(table);
    std::vector<CommonStatsRow> read;
    ReadCommonStats(read);
    for (const auto& r : read)
      rows.push_back({r.date, Decimal(r.ips), Decimal(r.visitors), Decimal(r.views),
                      Decimal(r.searches)});
  } else if (kind == "pages" || kind == "queries") {
    auto engines = [](const EngineCounts& counts, std::vector<std::string> cells) {
      for (int32_t count : counts) cells.push_back(Decimal(count));
      return cells;
    };
    if (kind == "pages") {
      BuildPageStatsTable(table);
      std::vector<PageStatsRow> read;
      ReadPageStats(read);
      for (const auto& r : read)
        rows.push_back(engines(r.engines, {r.page, Decimal(r.visits), Decimal(r.searches),
                                           Decimal(r.bandwidth)}));
    } else {
      BuildQueryStatsTable(table);
      std::vector<QueryStatsRow> read;
      ReadQueryStats(read);
      for (const auto& r : read) rows.push_back(engines(r.engines, {r.query, Decimal(r.total)}));
    }
  } else if (kind == "referers") {
    BuildRefererTable(table);
    std::vector<RefererRow> read;
    ReadRefererStats(read);
    for (int type : {0, 1}) {
      for (const auto& r : read)
        if (r.type == type) rows.push_back({r.referer, Decimal(r.type), Decimal(r.cnt)});
    }
  } else {
    BuildRobotLogTable(table);
    std::vector<RobotLogRow> read;
    ReadRobotLog(read);
    for (const auto& r : read) rows.push_back({r.name, r.action, Decimal(r.code), r.ip, r.date});
  }
  std::ostringstream out;
  cli::WriteCsvRecord(out, table.header);
  for (const auto& row : rows) {
    std::vector<std::string> fields;
    for (size_t i = 0; i < row.size(); ++i)
      fields.push_back(table.numeric[i] ? row[i] : cli::CsvTextCell(Cp1251ToUtf8(row[i]), rule));
    cli::WriteCsvRecord(out, fields);
  }
  return out.str();
}

// ---- Generated statistics.

// Texts cut from the hostile log (whole lines and their quoted fields), random bytes with NULs
// and Windows-1251 letters, and empty texts (stored as NULL).
class TextSource {
 public:
  explicit TextSource(uint32_t seed) : random_(seed) {
    std::ifstream in(std::string(HITSIEVE_TEST_DATA) + "/hostile-lines.log", std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      pieces_.push_back(line);
      std::istringstream fields(line);
      for (std::string field; std::getline(fields, field, '"');) pieces_.push_back(field);
    }
  }

  std::string Text() {
    switch (Pick(6)) {
      case 0:
        return "";
      case 1:
      case 2:
        return pieces_[Pick(pieces_.size())];
      case 3:
        return pieces_[Pick(pieces_.size())] + Bytes();
      default:
        return Bytes();
    }
  }

  // Small ranges, so that rows of equal count (whose order the ORDER BY leaves open) abound.
  int Count() { return Pick(8) == 0 ? static_cast<int>(random_()) : static_cast<int>(Pick(6)) - 1; }
  int64_t Traffic() {
    static const int64_t kEdges[] = {0, -1, INT64_MAX, INT64_MIN, 1048576, 1572864};
    return Pick(3) == 0 ? kEdges[Pick(6)] : static_cast<int64_t>(random_() % 100000000);
  }
  size_t Pick(size_t n) { return random_() % n; }

 private:
  std::string Bytes() {
    static const char kAlphabet[] = {'a', '/', ' ', '.', '\0', '\x1b', '\xC0', '\xEF', '\x98', '"',
                                     ',', '=', '\n', '\t'};
    std::string text(Pick(10), ' ');
    for (char& c : text) c = kAlphabet[Pick(sizeof kAlphabet)];
    return text;
  }

  std::mt19937 random_;
  std::vector<std::string> pieces_;
};

void Insert(const std::string& sql, const std::vector<std::string>& texts,
            const std::vector<int64_t>& numbers) {
  std::vector<std::string> text_values = texts;
  std::vector<int64_t> number_values = numbers;
  sqlitepp::statement st(StatsDatabase::Instance().session());
  {
    auto query = st << sql;  // hands its text and binders over when it goes
    for (std::string& text : text_values) query, use(text);
    for (int64_t& number : number_values) query, use(number);
  }
  st.exec();
}

void FillTables(TextSource& source, int rows) {
  sqlitepp::session& session = StatsDatabase::Instance().session();
  sqlitepp::transaction txn(session);
  for (const char* table : {"common_stats", "page_stats", "query_stats", "referer_stats", "robot_log"})
    session << "DELETE FROM " << table;
  auto engines = [&source] {
    std::vector<int64_t> counts;
    for (int i = 0; i < kEngineCount; ++i) counts.push_back(source.Count());
    return counts;
  };
  for (int i = 0; i < rows; ++i) {
    Insert("INSERT INTO common_stats(date, ips, visitors, views, searches) VALUES(?, ?, ?, ?, ?)",
           {source.Text()}, {source.Count(), source.Count(), source.Count(), source.Count()});
    std::vector<int64_t> page{source.Count(), source.Count(), source.Traffic()};
    for (int64_t count : engines()) page.push_back(count);
    Insert("INSERT INTO page_stats(page, visits, searches, bandwidth, google, yandex, rambler, "
           "mailru, aport, webalta) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
           {source.Text()}, page);
    std::vector<int64_t> query{source.Count()};
    for (int64_t count : engines()) query.push_back(count);
    Insert("INSERT INTO query_stats(query, total, google, yandex, rambler, mailru, aport, "
           "webalta) VALUES(?, ?, ?, ?, ?, ?, ?, ?)",
           {source.Text()}, query);
    // Type 2 belongs to neither list.
    Insert("INSERT INTO referer_stats(referer, type, cnt) VALUES(?, ?, ?)", {source.Text()},
           {static_cast<int64_t>(source.Pick(5) % 3), source.Count()});
    // Names whose byte order differs from any other order: prefixes, NULs, high bytes, empty
    // texts both stored as NULL and as '' (which a report reads alike).
    static const std::string kNames[] = {"Google", "Yandex", "\xC0\xEF\xEE\xF0\xF2", "",
                                         std::string("a\0b", 3), "a", std::string("a\0", 2),
                                         "ab", "\x1b]0;x\x07"};
    const std::string name = kNames[source.Pick(std::size(kNames))];
    const std::vector<std::string> texts{source.Text(), source.Text(), source.Text()};
    if (source.Pick(10) == 0) {
      Insert("INSERT INTO robot_log(name, action, ip, date, code) VALUES('', ?, ?, ?, ?)", texts,
             {source.Count()});
      continue;
    }
    Insert("INSERT INTO robot_log(name, action, ip, date, code) VALUES(?, ?, ?, ?, ?)",
           {name, texts[0], texts[1], texts[2]},
           {source.Count()});
  }
  txn.commit();
}

TEST(ReportStream, EveryReportAndFormatMatchesTheWholeTableRendering) {
  TempDir dir;
  StatsDatabase::SetFileName((dir / "gen.dt").string());
  const struct {
    const char* format;
    bool raw;
    cli::CsvCellRule rule;
  } formats[] = {{"text", false, {}}, {"csv", false, {false, true}}, {"csv", true, {false, false}}};
  const int kSizes[] = {0, 1, 3, 40, 150, 7, 90, 300};
  for (uint32_t seed = 0; seed < std::size(kSizes); ++seed) {
    TextSource source(seed);
    FillTables(source, kSizes[seed]);
    for (const char* kind : kKinds) {
      for (const auto& f : formats) {
        std::vector<std::string> args{"report", kind, "--db", "gen.dt", "--format", f.format};
        if (f.raw) args.push_back("--raw");
        const CliResult report = RunCli(dir.path(), args);
        const std::string label = std::string(kind) + " " + f.format + (f.raw ? " raw" : "") +
                                  ", seed " + std::to_string(seed);
        ASSERT_EQ(0, report.status) << label << ": " << report.err;
        const std::string expected =
            std::string(f.format) == "text" ? WholeTableText(kind) : WholeTableCsv(kind, f.rule);
        std::string out = report.out;
        // The summary of the period heads the text of the days (when there are days).
        if (std::string(kind) == "common" && std::string(f.format) == "text" &&
            out.rfind("first day", 0) == 0) {
          const size_t end = out.find("\nrobots ");
          ASSERT_NE(std::string::npos, end) << label << ": " << out;
          out.erase(0, out.find("\n\n", end) + 2);
        }
        ASSERT_EQ(expected, out) << label;
      }
    }
  }
}

// ---- A table far larger than the memory the report may use.

// Runs hitsieve-cli under an address-space limit; its exit status, or 128 plus its signal.
CliResult RunCliLimited(const fs::path& cwd, const std::vector<std::string>& args,
                        rlim_t address_space) {
  TempDir io;
  const pid_t child = fork();
  if (child == 0) {
    const rlimit limit{address_space, address_space};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(125);
    const int status = WaitForExit(StartCli(cwd, args, io / "out", io / "err"));
    _exit(status >= 0 ? status : 128 - status);
  }
  CliResult result;
  result.status = WaitForExit(child);
  result.out = ReadFile(io / "out");
  result.err = ReadFile(io / "err");
  return result;
}

TEST(ReportStream, PagesReportOfManyRowsRunsInAFractionOfTheTablesSize) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#else
  // 300 000 pages: reading them whole took about 220 MB; the limit is 64 MB of address space,
  // code and libraries included.
  constexpr int kPages = 300000;
  constexpr rlim_t kLimit = rlim_t{64} << 20;
  TempDir dir;
  StatsDatabase::SetFileName((dir / "big.dt").string());
  sqlitepp::session& session = StatsDatabase::Instance().session();
  session << "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " << kPages
          << ") INSERT INTO page_stats(page, visits, searches, bandwidth, google, yandex, "
             "rambler, mailru, aport, webalta) SELECT '/section-' || (i % 97) || '/page-' || i || "
             "'.html', 1 + i % 1000, i % 7, i * 1000, i % 2, i % 3, 0, 0, 0, i % 5 FROM n";
  std::string visits;
  sqlitepp::statement total(session);
  total << "SELECT CAST(sum(visits) AS TEXT) FROM page_stats", sqlitepp::into(visits);
  ASSERT_TRUE(total.exec());

  for (const std::string format : {"text", "csv"}) {
    const CliResult report =
        RunCliLimited(dir.path(), {"report", "pages", "--db", "big.dt", "--format", format}, kLimit);
    ASSERT_EQ(0, report.status) << format << ": " << report.err;
    std::istringstream lines(report.out);
    std::string header, first;
    std::getline(lines, header);
    std::getline(lines, first);
    size_t count = 2;
    for (std::string line; std::getline(lines, line);) ++count;
    if (format == "text") {
      // Header, totals, one line per page; the totals, summed on the first pass, cover them all.
      EXPECT_EQ(size_t{kPages} + 2, count) << format;
      ASSERT_EQ(' ', first.front()) << first;
      std::istringstream totals(first);
      std::string visits_total;
      totals >> visits_total;
      EXPECT_EQ(visits, visits_total) << first;
    } else {
      EXPECT_EQ(size_t{kPages} + 1, count) << format;
      EXPECT_EQ(0u, header.find("Страница,")) << header;
    }
  }
#endif
}

}  // namespace
}  // namespace hitsieve::testing
