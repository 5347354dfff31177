#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "engine/text.h"
#include "export/spreadsheet_export.h"
#include "tests/export/xlsx_reader.h"

namespace hitsieve {
namespace {

namespace fs = std::filesystem;
using test::FilesIn;
using test::ReadFirstSheet;

class WriteXlsxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "xlsx-writer-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST_F(WriteXlsxTest, CellsReadBackWithTheirKindAndText) {
  ReportTable table;
  table.header = {"Запрос", "Всего", "Траффик"};
  table.numeric = {false, true, true};
  table.rows = {
      {"=1+1", "5", "1048576"},
      {"\xEF\xEE\xE8\xF1\xEA", "0", "9000000000"},  // "поиск" in Windows-1251
      {"+x", "-7", "0"},
      {"@a", "12", "3"},
      {"-1", "1", "2"},
  };
  const std::string path = Path("out.xlsx");
  WriteXlsx(table, path, false);

  struct Expected {
    const char* ref;
    bool is_text;
    const char* value;
  };
  const Expected expected[] = {
      {"A1", true, "Запрос"},   {"B1", true, "Всего"},    {"C1", true, "Траффик"},
      {"A2", true, "=1+1"},     {"B2", false, "5"},       {"C2", false, "1048576"},
      {"A3", true, "поиск"},    {"B3", false, "0"},       {"C3", false, "9000000000"},
      {"A4", true, "+x"},       {"B4", false, "-7"},      {"C4", false, "0"},
      {"A5", true, "@a"},       {"B5", false, "12"},      {"C5", false, "3"},
      {"A6", true, "-1"},       {"B6", false, "1"},       {"C6", false, "2"},
  };
  auto cells = ReadFirstSheet(path);
  EXPECT_EQ(cells.size(), std::size(expected));
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.ref);
    ASSERT_TRUE(cells.count(e.ref));
    EXPECT_EQ(cells[e.ref].is_text, e.is_text);
    EXPECT_FALSE(cells[e.ref].has_formula);
    EXPECT_EQ(cells[e.ref].value, e.value);
  }
  EXPECT_EQ(FilesIn(dir_.string()), std::vector<std::string>{"out.xlsx"});
}

// A share in percent is a number with a decimal point; anything else that is not a whole
// number stays the text it is.
TEST_F(WriteXlsxTest, DecimalsInNumberColumnsAreNumbers) {
  ReportTable table;
  table.header = {"Доля, %"};
  table.numeric = {true};
  const struct {
    const char* cell;
    bool is_text;
    const char* read;
  } cases[] = {{"12.34", false, "12.34"}, {"0.05", false, "0.05"}, {"-3.5", false, "-3.5"},
               {"100.00", false, "100"},  {"1.2.3", true, "1.2.3"}, {".5", true, ".5"},
               {"5.", true, "5."},        {"1e5", true, "1e5"},     {"12,34", true, "12,34"},
               {"7.x", true, "7.x"}};
  for (const auto& c : cases) table.rows.push_back({c.cell});
  const std::string path = Path("shares.xlsx");
  WriteXlsx(table, path, false);
  auto cells = ReadFirstSheet(path);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string ref = "A" + std::to_string(i + 2);
    SCOPED_TRACE(ref);
    ASSERT_TRUE(cells.count(ref));
    EXPECT_EQ(cases[i].is_text, cells[ref].is_text);
    EXPECT_EQ(cases[i].read, cells[ref].value);
  }
}

TEST_F(WriteXlsxTest, ExistingFileIsKeptUnlessOverwriteIsAsked) {
  const std::string path = Path("report.xlsx");
  std::ofstream(path) << "keep me";
  ReportTable table;
  table.header = {"Дата"};
  table.numeric = {false};

  EXPECT_THROW(WriteXlsx(table, path, false), std::runtime_error);
  std::ifstream in(path);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "keep me");
  EXPECT_EQ(FilesIn(dir_.string()), std::vector<std::string>{"report.xlsx"});

  WriteXlsx(table, path, true);
  EXPECT_EQ(ReadFirstSheet(path)["A1"].value, "Дата");
  EXPECT_EQ(FilesIn(dir_.string()), std::vector<std::string>{"report.xlsx"});
}

TEST_F(WriteXlsxTest, FailureLeavesNoFileBehind) {
  ReportTable table;
  table.header = {"Дата"};
  table.numeric = {false};
  // A directory in the way: the workbook is written, then cannot take its name.
  fs::create_directory(dir_ / "taken.xlsx");
  fs::create_directory(dir_ / "taken.xlsx" / "inside");
  EXPECT_THROW(WriteXlsx(table, Path("taken.xlsx"), true), std::runtime_error);
  // No such directory: nothing can be created.
  EXPECT_THROW(WriteXlsx(table, Path("missing/out.xlsx"), false), std::runtime_error);
  EXPECT_EQ(FilesIn(dir_.string()), std::vector<std::string>{"taken.xlsx"});
}

TEST_F(WriteXlsxTest, OverlongTextIsCutToWhatACellHolds) {
  ReportTable table;
  table.header = {"Страница"};
  table.numeric = {false};
  table.rows = {{std::string(40000, '\xE6')}};  // "ж" in Windows-1251, two bytes in UTF-8
  WriteXlsx(table, Path("long.xlsx"), false);
  auto cells = ReadFirstSheet(Path("long.xlsx"));
  EXPECT_EQ(cells["A2"].value.size(), 32767u * 2);
}

// Texts go into the sheet inline (the writer streams its rows), not through a shared table: the
// hostile log's lines must still come out as well-formed XML and as the same, inert texts.
TEST_F(WriteXlsxTest, HostileTextsStayWellFormedInertText) {
  ReportTable table;
  table.header = {"Запрос", "Всего"};
  table.numeric = {false, true};
  std::ifstream in(HITSIEVE_TEST_DATA "/hostile-lines.log", std::ios::binary);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) table.rows.push_back({line, "1"});  // an empty text makes no cell
  table.rows.push_back({std::string("a\0b\x1b[2J\r\n\t ", 11), "2"});
  ASSERT_GT(table.rows.size(), 20u);
  WriteXlsx(table, Path("hostile.xlsx"), false);

  const std::string xml = test::UnzipMember(Path("hostile.xlsx"), "xl/worksheets/sheet1.xml");
  for (unsigned char c : xml)
    ASSERT_TRUE(c >= 0x20 || c == '\t' || c == '\n' || c == '\r') << "raw control byte " << int(c);
  auto cells = ReadFirstSheet(Path("hostile.xlsx"));
  ASSERT_EQ(cells.size(), 2 * (table.rows.size() + 1));
  for (size_t r = 0; r < table.rows.size(); ++r) {
    const std::string row = std::to_string(r + 2);
    SCOPED_TRACE(row);
    const test::XlsxCell& text = cells["A" + row];
    EXPECT_TRUE(text.is_text);
    EXPECT_FALSE(text.has_formula);
    // Controls are written in the workbook's own escape form, _xHHHH_.
    std::string decoded;
    for (size_t i = 0; i < text.value.size(); ++i) {
      if (text.value.compare(i, 2, "_x") == 0 && i + 7 <= text.value.size() && text.value[i + 6] == '_') {
        decoded += static_cast<char>(std::stoi(text.value.substr(i + 2, 4), nullptr, 16));
        i += 6;
      } else {
        decoded += text.value[i];
      }
    }
    // A text that reads like the escape form comes back as written, too.
    std::string expected = Cp1251ToUtf8(table.rows[r][0]);
    if (expected.size() < 32767) {
      EXPECT_EQ(expected, decoded);
    }
    EXPECT_EQ(table.rows[r][1], cells["B" + row].value);
  }
}

}  // namespace
}  // namespace hitsieve
