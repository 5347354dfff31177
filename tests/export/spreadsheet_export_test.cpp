#include "export/spreadsheet_export.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>

#include "engine/stats_collector.h"
#include "store/stats_database.h"
#include "store/stats_saver.h"
#include "tests/export/shared_database.h"
#include "tests/export/xlsx_reader.h"

namespace hitsieve {
namespace {

namespace fs = std::filesystem;
using test::FilesIn;
using test::ReadFirstSheet;
using test::XlsxCell;

// Stands in for the window: records message boxes and the workbooks it was asked to open.
class RecordingHost : public ExportHost {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool OpenWorkbook(const std::string& path) override {
    opened.push_back(path);
    return can_open;
  }
  std::vector<std::string> messages, opened;
  bool can_open = true;
};

const std::regex kComErrorText(
    "_com_error:\nError       : [0-9A-F]{8}\nErrorMessage: [^\n]+\nDescription : [^\n]+\n"
    "Source      : [^\n]+\n");

// The database is process-wide and stays open once opened, so the tests share one file, whose
// tables each test replaces; each has its own temporary folder (TMPDIR) beside it.
class SpreadsheetExportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { work_ = test::SharedDatabaseFolder(); }
  void SetUp() override {
    temp_ = work_ / "tmp";
    fs::create_directory(temp_);
    setenv("TMPDIR", temp_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TMPDIR");
    for (const auto& entry : fs::directory_iterator(work_)) {
      if (entry.path().filename().string().rfind("stats.dt", 0) != 0) fs::remove_all(entry.path());
    }
  }

  static void Save(const StatsCollector& collector) {
    StatsSaver saver(collector, nullptr);
    saver.save();
  }

  // Two days, two pages (one never found by a search), two phrases (one Cyrillic, one that
  // looks like a formula).
  static void SaveSampleData() {
    StatsCollector c;
    DayStats& day = c.days["01/Feb/2024"];
    day.ips.Insert(0);  // two addresses, one of them with a known agent
    day.ips.Insert(1);
    day.visitors.Insert(VisitorKey(0, 0));
    day.views = 5;
    c.days["02/Feb/2024"].views = 1;
    c.pages["/index.html"] = PageStats{10, 2, 500, {{1, 2}}};
    c.pages["/big.zip"] = PageStats{3, 0, 1048576, {}};
    c.queries["\xEF\xEE\xE8\xF1\xEA"] = {{1, 5}};  // "поиск" in Windows-1251
    c.queries["=1+1"] = {{0, 1}};
    Save(c);
  }

  static inline fs::path work_;
  fs::path temp_;
  RecordingHost host_;
};

struct ExpectedCell {
  const char* ref;
  bool is_text;
  const char* value;
};

void ExpectCells(const std::map<std::string, XlsxCell>& cells,
                 const std::vector<ExpectedCell>& expected) {
  for (const ExpectedCell& e : expected) {
    SCOPED_TRACE(e.ref);
    auto it = cells.find(e.ref);
    ASSERT_NE(it, cells.end());
    EXPECT_EQ(it->second.is_text, e.is_text);
    EXPECT_FALSE(it->second.has_formula);
    EXPECT_EQ(it->second.value, e.value);
  }
}

TEST_F(SpreadsheetExportTest, EmptyCommonStatisticsGiveOnlyTheHeaderRow) {
  Save(StatsCollector());
  CommonStatsExport exporter(host_);
  ASSERT_TRUE(exporter.Export());
  EXPECT_TRUE(host_.messages.empty());
  ASSERT_EQ(host_.opened.size(), 1u);
  const fs::path path = host_.opened[0];
  EXPECT_EQ(path.parent_path(), temp_);
  EXPECT_TRUE(std::regex_match(path.filename().string(),
                               std::regex(R"(hitsieve-common-\d{4}-\d\d-\d\d-\d{6}\.xlsx)")))
      << path;
  auto cells = ReadFirstSheet(path);
  EXPECT_EQ(cells.size(), 5u);
  ExpectCells(cells, {{"A1", true, "Дата"},
                      {"B1", true, "Хосты"},
                      {"C1", true, "Посетители"},
                      {"D1", true, "Просмотры"},
                      {"E1", true, "Searches"}});
}

TEST_F(SpreadsheetExportTest, EachScreenExportsItsTableWithTypedCells) {
  using Factory = std::function<std::unique_ptr<SpreadsheetExport>(ExportHost&)>;
  struct Case {
    const char* label;
    Factory make;
    size_t cell_count;
    std::vector<ExpectedCell> cells;
  };
  const Case cases[] = {
      {"common statistics", [](ExportHost& h) { return std::make_unique<CommonStatsExport>(h); },
       3 * 5,
       {{"A2", true, "01/Feb/2024"}, {"B2", false, "2"}, {"C2", false, "1"}, {"D2", false, "5"},
        {"E2", false, "0"}, {"A3", true, "02/Feb/2024"}, {"B3", false, "0"}}},
      {"pages", [](ExportHost& h) { return std::make_unique<PageStatsExport>(h); }, 3 * 10,
       {{"A1", true, "Страница"}, {"B1", true, "Посещений"}, {"C1", true, "Searches"},
        {"D1", true, "Траффик"}, {"E1", true, "Google"}, {"F1", true, "Yandex"},
        {"G1", true, "Rambler"}, {"H1", true, "Mail.ru"}, {"I1", true, "Апорт"},
        {"J1", true, "Webalta"},
        // Most visited first.
        {"A2", true, "/index.html"}, {"B2", false, "10"}, {"C2", false, "2"},
        {"D2", false, "500"}, {"F2", false, "2"},
        // Traffic in bytes; no searches is 0, not a dash.
        {"A3", true, "/big.zip"}, {"C3", false, "0"}, {"D3", false, "1048576"},
        {"J3", false, "0"}}},
      {"queries", [](ExportHost& h) { return std::make_unique<QueryStatsExport>(h); }, 3 * 8,
       {{"A1", true, "Запрос"}, {"B1", true, "Всего"}, {"E1", true, "Rambler"},
        {"H1", true, "Webalta"},
        {"A2", true, "поиск"}, {"B2", false, "5"}, {"D2", false, "5"}, {"C2", false, "0"},
        {"A3", true, "=1+1"}, {"B3", false, "1"}, {"C3", false, "1"}}},
  };
  SaveSampleData();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RecordingHost host;
    ASSERT_TRUE(c.make(host)->Export());
    EXPECT_TRUE(host.messages.empty());
    ASSERT_EQ(host.opened.size(), 1u);
    auto cells = ReadFirstSheet(host.opened[0]);
    EXPECT_EQ(cells.size(), c.cell_count);
    ExpectCells(cells, c.cells);
  }
}

TEST_F(SpreadsheetExportTest, TwoExportsGiveTwoFilesWithTheSameData) {
  SaveSampleData();
  PageStatsExport first(host_), second(host_);
  ASSERT_TRUE(first.Export());
  ASSERT_TRUE(second.Export());
  ASSERT_EQ(host_.opened.size(), 2u);
  EXPECT_NE(host_.opened[0], host_.opened[1]);
  EXPECT_EQ(FilesIn(temp_.string()).size(), 2u);
  auto a = ReadFirstSheet(host_.opened[0]), b = ReadFirstSheet(host_.opened[1]);
  ASSERT_EQ(a.size(), 30u);
  ASSERT_EQ(a.size(), b.size());
  for (const auto& [ref, cell] : a) {
    SCOPED_TRACE(ref);
    EXPECT_EQ(b[ref].value, cell.value);
    EXPECT_EQ(b[ref].is_text, cell.is_text);
  }
}

TEST_F(SpreadsheetExportTest, UnusableTemporaryFolderGivesOneMessageAndNoFile) {
  const fs::path not_a_folder = work_ / "plain-file";
  std::ofstream(not_a_folder) << "x";
  struct Case {
    const char* label;
    std::string folder;
    const char* source;
  };
  const Case cases[] = {
      {"no file can be made there", "/proc", "xlsx writer"},
      {"not a folder", not_a_folder.string(), "temporary folder"},
  };
  SaveSampleData();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    setenv("TMPDIR", c.folder.c_str(), 1);
    RecordingHost host;
    EXPECT_FALSE(QueryStatsExport(host).Export());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(std::regex_match(host.messages[0], kComErrorText)) << host.messages[0];
    EXPECT_NE(host.messages[0].find("Error       : 8007"), std::string::npos) << host.messages[0];
    EXPECT_NE(host.messages[0].find(std::string("Source      : ") + c.source + "\n"),
              std::string::npos)
        << host.messages[0];
    EXPECT_TRUE(host.opened.empty());
  }
  EXPECT_EQ(FilesIn(work_.string()), (std::vector<std::string>{"plain-file", "stats.dt", "tmp"}));
}

// Not a screen's exporter: lets a test hand WriteWorkbook any table.
class TableExport : public SpreadsheetExport {
 public:
  using SpreadsheetExport::SpreadsheetExport;
  bool BuildTable(ReportTable&) override { return true; }

 protected:
  void StreamTable(ReportTableSink&) override {}
  const char* Kind() const override { return "test"; }
  const char* Table() const override { return "page_stats"; }
};

TEST_F(SpreadsheetExportTest, TableTooBigForASheetLeavesNoPartialFile) {
  ReportTable table;
  table.header = {"Страница"};
  table.numeric = {false};
  table.rows.resize(1048576);  // with the header one row more than a worksheet holds
  EXPECT_FALSE(TableExport(host_).WriteWorkbook(table));
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_TRUE(std::regex_match(host_.messages[0], kComErrorText)) << host_.messages[0];
  EXPECT_TRUE(host_.opened.empty());
  EXPECT_TRUE(FilesIn(temp_.string()).empty());
}

TEST_F(SpreadsheetExportTest, WorkbookNobodyCanOpenIsReportedAndKeptComplete) {
  SaveSampleData();
  host_.can_open = false;
  EXPECT_FALSE(PageStatsExport(host_).Export());
  ASSERT_EQ(host_.opened.size(), 1u);
  ASSERT_EQ(host_.messages.size(), 1u);
  const std::string& text = host_.messages[0];
  EXPECT_TRUE(std::regex_match(text, kComErrorText)) << text;
  EXPECT_NE(text.find("Error       : 800401F3\n"), std::string::npos) << text;
  EXPECT_NE(text.find("ErrorMessage: Unknown error 0x800401F3\n"), std::string::npos) << text;
  EXPECT_NE(text.find(host_.opened[0]), std::string::npos) << text;
  EXPECT_NE(text.find("Source      : desktop opener\n"), std::string::npos) << text;
  EXPECT_EQ(ReadFirstSheet(host_.opened[0]).size(), 30u);
  EXPECT_EQ(FilesIn(temp_.string()).size(), 1u);
}

TEST_F(SpreadsheetExportTest, DatabaseErrorShowsItsMessageAndMakesNoWorkbook) {
  SaveSampleData();
  // Moved aside rather than dropped: the next test uses the same file.
  StatsDatabase::Instance().session() << "ALTER TABLE query_stats RENAME TO query_stats_away";
  QueryStatsExport exporter(host_);
  ReportTable table;
  table.header = {"left over"};
  EXPECT_FALSE(exporter.BuildTable(table));
  EXPECT_TRUE(table.header.empty());
  EXPECT_TRUE(table.rows.empty());
  EXPECT_FALSE(exporter.Export());
  ASSERT_EQ(host_.messages.size(), 2u);
  EXPECT_NE(host_.messages[1].find("no such table: query_stats"), std::string::npos)
      << host_.messages[1];
  EXPECT_EQ(host_.messages[1].find("_com_error"), std::string::npos);
  EXPECT_TRUE(host_.opened.empty());
  EXPECT_TRUE(FilesIn(temp_.string()).empty());
  StatsDatabase::Instance().session() << "ALTER TABLE query_stats_away RENAME TO query_stats";
}

}  // namespace
}  // namespace hitsieve
