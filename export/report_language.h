#ifndef HITSIEVE_EXPORT_REPORT_LANGUAGE_H_
#define HITSIEVE_EXPORT_REPORT_LANGUAGE_H_

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

// The language of what the program writes for people to read: the workbook's header row and
// the report page. Russian, the language the texts are written in, or English. The desktop
// sets the window's language; hitsieve-cli uses the rule the desktop uses to choose it, or
// its --lang option. No Qt.
namespace hitsieve {

enum class ReportLanguage { kRussian, kEnglish };

// HITSIEVE_LANG=en or ru when set; otherwise English when the system's language (LC_ALL, else
// LC_MESSAGES, else LANG, with LANGUAGE's first choice taking over unless the locale is C or
// POSIX) is English, and Russian for every other.
ReportLanguage LanguageFromEnvironment();

// "ru" or "en"; nothing for any other text.
std::optional<ReportLanguage> ParseReportLanguage(std::string_view code);

// The language reports are written in; LanguageFromEnvironment() until set. Set once at
// start-up, before any report is written; read from any thread afterwards.
ReportLanguage OutputLanguage();
void SetOutputLanguage(ReportLanguage language);

// A text written in the sources in Russian, in `language`. A text without an English
// version (a search engine's name, "Searches") stays as written.
std::string Translated(std::string_view russian, ReportLanguage language);
inline std::string Translated(std::string_view russian) {
  return Translated(russian, OutputLanguage());
}

// Every text that has an English version, as (Russian, English).
std::span<const std::pair<std::string_view, std::string_view>> EnglishTexts();

// A text of a dimension report's description (its title or a column's name, written there in
// English, lower-case) in `language`, for people: "status codes" is "Status codes" or
// "Коды ответа". A text without a Russian version stays English.
std::string DimensionText(std::string_view english, ReportLanguage language);
inline std::string DimensionText(std::string_view english) {
  return DimensionText(english, OutputLanguage());
}

}  // namespace hitsieve

#endif  // HITSIEVE_EXPORT_REPORT_LANGUAGE_H_
