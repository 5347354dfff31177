// The language of the workbook and the report page: chosen from the environment as the desktop
// chooses its own, Russian by default, and English throughout when asked for.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>

#include "export/html_report.h"
#include "export/html_report_assets.h"
#include "export/report_language.h"
#include "export/spreadsheet_export.h"
#include "store/dimension_reports.h"
#include "tests/export/xlsx_reader.h"

namespace hitsieve {
namespace {

namespace fs = std::filesystem;

// Sets the locale variables for one case and puts the old values back.
class LocaleEnvironment {
 public:
  static constexpr const char* kNames[] = {"HITSIEVE_LANG", "LC_ALL", "LC_MESSAGES", "LANG",
                                           "LANGUAGE"};
  LocaleEnvironment() {
    for (size_t k = 0; k < std::size(kNames); ++k) {
      const char* value = std::getenv(kNames[k]);
      saved_[k] = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    }
  }
  ~LocaleEnvironment() {
    for (size_t k = 0; k < std::size(kNames); ++k) Set(kNames[k], saved_[k] ? saved_[k]->c_str() : nullptr);
    SetOutputLanguage(ReportLanguage::kRussian);
  }
  static void Set(const char* name, const char* value) {
    if (value == nullptr || *value == '\0') {
      unsetenv(name);
    } else {
      setenv(name, value, 1);
    }
  }

 private:
  std::optional<std::string> saved_[std::size(kNames)];
};

TEST(ReportLanguage, EnvironmentChoosesAsTheDesktopDoes) {
  const struct {
    const char* forced;
    const char* all;
    const char* messages;
    const char* lang;
    const char* language;
    ReportLanguage expected;
  } cases[] = {
      {"en", "ru_RU.UTF-8", "", "", "", ReportLanguage::kEnglish},
      {"EN", "", "", "", "", ReportLanguage::kEnglish},
      {"ru", "en_US.UTF-8", "", "", "", ReportLanguage::kRussian},
      {"", "en_GB.UTF-8", "", "ru_RU.UTF-8", "", ReportLanguage::kEnglish},
      {"", "", "en_US.UTF-8", "ru_RU.UTF-8", "", ReportLanguage::kEnglish},
      {"", "", "", "ru_RU.UTF-8", "", ReportLanguage::kRussian},
      {"", "", "", "de_DE.UTF-8", "", ReportLanguage::kRussian},
      {"", "", "", "ru_RU.UTF-8", "en:ru", ReportLanguage::kEnglish},
      {"", "", "", "C.UTF-8", "en", ReportLanguage::kRussian},
      {"", "C", "", "en_US.UTF-8", "", ReportLanguage::kRussian},
      {"", "", "", "", "", ReportLanguage::kRussian},
      {"xx", "", "", "en", "", ReportLanguage::kEnglish},
  };
  LocaleEnvironment restore;
  for (const auto& c : cases) {
    LocaleEnvironment::Set("HITSIEVE_LANG", c.forced);
    LocaleEnvironment::Set("LC_ALL", c.all);
    LocaleEnvironment::Set("LC_MESSAGES", c.messages);
    LocaleEnvironment::Set("LANG", c.lang);
    LocaleEnvironment::Set("LANGUAGE", c.language);
    EXPECT_EQ(c.expected, LanguageFromEnvironment())
        << c.forced << "|" << c.all << "|" << c.messages << "|" << c.lang << "|" << c.language;
  }
}

bool HasCyrillic(const std::string& text) {
  return text.find("\xD0") != std::string::npos || text.find("\xD1") != std::string::npos;
}

TEST(ReportLanguage, PageIsRussianByDefaultAndWhollyEnglishWhenAsked) {
  LocaleEnvironment restore;
  HtmlReportData data;
  data.days = {{1, "05/May/2009", 1, 1, 1, 0}, {2, "05/May/0009", 1, 1, 1, 0}};
  data.pages = {{1, "/a.html", 1, 0, 10, {}}};
  data.referers = {{1, "http://a.example/", 1, 1}};
  data.robots = {{"Googlebot", "/", 200, "1.1.1.1", "05/May/2009"}};

  SetOutputLanguage(ReportLanguage::kRussian);
  const std::string russian = BuildHtmlReport(data, "now");
  EXPECT_NE(std::string::npos, russian.find("<html lang=\"ru\">"));
  EXPECT_NE(std::string::npos, russian.find("<title>Hitsieve: отчёт</title>"));
  EXPECT_NE(std::string::npos, russian.find("\"days\":[\"Дата\",\"Хосты\""));

  SetOutputLanguage(ReportLanguage::kEnglish);
  const std::string english = BuildHtmlReport(data, "now");
  EXPECT_NE(std::string::npos, english.find("<html lang=\"en\">"));
  EXPECT_NE(std::string::npos, english.find("<title>Hitsieve: report</title>"));
  EXPECT_NE(std::string::npos, english.find("\"days\":[\"Date\",\"Hosts\""));
  // Before the data (whose English texts are keyed by the script's Russian ones) and the
  // script, no Russian text is left.
  const size_t data_block = english.find("<script type=\"application/json\"");
  ASSERT_NE(std::string::npos, data_block);
  EXPECT_FALSE(HasCyrillic(english.substr(0, data_block))) << english.substr(0, data_block);
  EXPECT_EQ(std::string::npos, russian.find("\"texts\":"));
  EXPECT_NE(std::string::npos, english.find("\"Фильтр\":\"Filter\""));
}

// Every text the page's script shows goes through its lookup and has an English version.
TEST(ReportLanguage, EveryScriptTextHasAnEnglishVersion) {
  const std::string script = kHtmlReportScript;
  const std::regex russian("'([^']*[\\xD0\\xD1][^']*)'");
  int looked_up = 0;
  for (auto it = std::sregex_iterator(script.begin(), script.end(), russian);
       it != std::sregex_iterator(); ++it) {
    const std::string text = (*it)[1];
    const size_t at = static_cast<size_t>(it->position());
    // Russian literals appear only as lookups or as the series' names, which are looked up.
    const bool lookup = at >= 11 && script.compare(at - 11, 11, "translated(") == 0;
    const bool series = at >= 6 && script.compare(at - 6, 6, "name: ") == 0;
    EXPECT_TRUE(lookup || series) << text << " is shown without translation";
    EXPECT_NE(text, Translated(text, ReportLanguage::kEnglish)) << text << " has no English";
    ++looked_up;
  }
  EXPECT_GT(looked_up, 25);
}

// Every report of today's traffic has a Russian title and Russian column names on the page.
TEST(ReportLanguage, EveryDimensionReportIsNamedInRussian) {
  for (const DimensionReport& report : DimensionReports()) {
    EXPECT_NE(std::string(report.title), DimensionText(report.title, ReportLanguage::kRussian))
        << report.name;
    for (std::string_view column : report.columns)
      EXPECT_NE(std::string(column), DimensionText(column, ReportLanguage::kRussian))
          << report.name << "." << column;
  }
}

TEST(ReportLanguage, WorkbookHeaderFollowsTheLanguage) {
  LocaleEnvironment restore;
  std::string pattern = (fs::temp_directory_path() / "report-language-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  ReportTable table;
  table.header = {"Страница", "Посещений", "Searches", "Траффик", "Google", "Апорт"};
  table.numeric = {false, true, true, true, true, true};
  table.rows = {{"/a.html", "1", "0", "10", "0", "0"}};
  const struct {
    ReportLanguage language;
    const char* a1;
    const char* d1;
    const char* f1;
  } cases[] = {{ReportLanguage::kRussian, "Страница", "Траффик", "Апорт"},
               {ReportLanguage::kEnglish, "Page", "Traffic", "Aport"}};
  for (const auto& c : cases) {
    SetOutputLanguage(c.language);
    const std::string path = (dir / "book.xlsx").string();
    WriteXlsx(table, path, /*overwrite=*/true);
    const auto cells = test::ReadFirstSheet(path);
    EXPECT_EQ(c.a1, cells.at("A1").value);
    EXPECT_EQ("Searches", cells.at("C1").value);
    EXPECT_EQ(c.d1, cells.at("D1").value);
    EXPECT_EQ(c.f1, cells.at("F1").value);
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace hitsieve
