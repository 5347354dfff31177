// The report language: the rule that picks it from the environment, and the English texts of
// the workbook's headers and the report page, which the desktop's translation uses as well.

#include "export/report_language.h"

#include <atomic>
#include <cstdlib>
#include <utility>

namespace hitsieve {

namespace {

// Russian as written in the sources, and English. Column titles read as the window's English
// translation reads them.
constexpr std::pair<std::string_view, std::string_view> kEnglish[] = {
    {"Дата", "Date"},
    {"Хосты", "Hosts"},
    {"Посетители", "Visitors"},
    {"Просмотры", "Views"},
    {"Страница", "Page"},
    {"Посещений", "Visits"},
    {"Траффик", "Traffic"},
    {"Траффик(Mb)", "Traffic (MB)"},
    {"Апорт", "Aport"},
    {"Запрос", "Query"},
    {"Всего", "Total"},
    {"Домены", "Domains"},
    {"Кол-во", "Count"},
    {"Паук", "Robot"},
    {"Код", "Code"},
    {"Запросы", "Requests"},
    {"Реферер", "Referer"},
    {"Тип", "Type"},
    {"Hitsieve: отчёт", "Hitsieve: report"},
    {"Hitsieve: отчёт о посещениях", "Hitsieve: visit report"},
    {"Сводка", "Summary"},
    {"Дней", "Days"},
    {"Период", "Period"},
    {"Страниц", "Pages"},
    {"Запросов", "Phrases"},
    {"Обращений роботов", "Robot requests"},
    {"Отчёт составлен ", "Report written "},
    {"и ещё ", "and "},
    {" вне периода: не даты или дальше года от него",
     " outside the period: not dates, or more than a year away from it"},
    {"Графики и таблицы показывает сценарий страницы: разрешите его, чтобы их увидеть.",
     "The page's script draws the charts and tables: allow it to see them."},
    {"Общая статистика", "Overview"},
    {"Даты есть только у ежедневной статистики: диапазон дат ограничивает график и таблицу по "
     "дням, остальные отчёты охватывают весь период.",
     "Only the daily statistics have dates: the date range limits the chart and the daily "
     "table; the other reports cover the whole period."},
    {"Обращения к страницам", "Pages"},
    {"Поисковые запросы", "Search phrases"},
    {"Рефереры", "Referers"},
    {"Поисковики", "Search robots"},
    {"Запросы роботов", "Robot requests"},
    // The page's script.
    {"Фильтр", "Filter"},
    {"Все", "All"},
    {"Сортировать", "Sort"},
    {"Нет строк, подходящих под условия", "No rows match"},
    {"Нет данных", "No data"},
    {"Итого", "Total"},
    {"Строк: ", "Rows: "},
    {" из ", " of "},
    {"Строк на странице", "Rows per page"},
    {" на странице", " per page"},
    {"строки ", "rows "},
    {", страница ", ", page "},
    {"страница 1 из 1", "page 1 of 1"},
    {"Первая страница", "First page"},
    {"Предыдущая страница", "Previous page"},
    {"Следующая страница", "Next page"},
    {"Последняя страница", "Last page"},
    {"Ежедневная статистика", "Daily statistics"},
    {"Нет дней для графика", "No days to chart"},
    {"Весь период", "Whole period"},
    {"С", "From"},
    {"по", "to"},
    {"Дней в диапазоне: ", "Days in the range: "},
    {"Не на графике: ", "Not in the chart: "},
    {" (не даты или дальше года от основного периода); они есть в таблице.", " (not dates, or more than a year away from the main period); the table lists them."},
    {"Запросов: ", "Requests: "},
    {"Доля", "Share"},
    {"Не удалось показать отчёт: ", "The report could not be shown: "},
    // The panels of the dimension reports.
    {"Адресов", "Addresses"},
    {"Траффик, МБ", "Traffic, MB"},
    {"Не найдено", "Not found"},
    {"Доля роботов", "Robots' share"},
    {"не подсчитано", "not counted"},
    {"Даты есть у ежедневной статистики и у панелей с данными по дням: диапазон дат "
     "ограничивает их; остальные отчёты охватывают весь период.",
     "The daily statistics and the panels with daily data have dates: the date range limits "
     "them; the other reports cover the whole period."},
    {"Не подсчитано в этой статистике: она составлена раньше или дополнена запуском без этого "
     "отчёта; его подсчитает новый анализ без --add.",
     "Not counted in these statistics: they were made before, or added to by a run without "
     "this report; a new analysis without --add counts it."},
    {"Весь период; диапазон дат общей статистики ограничивает эту панель.",
     "The whole period; the date range of the overview limits this panel."},
    {"Весь период: у строк этого отчёта нет дат.",
     "The whole period: this report's rows have no dates."},
    {"Диапазон дат: ", "Date range: "},
    {" по ", " to "},
    {"Нет данных для графика", "No data to chart"},
    {"Десять крупнейших", "The ten largest"},
    {"Просмотры по часам", "Views by hour"},
    {"Показать или скрыть", "Show or hide"},
    {"другие", "other"},
    {"(пусто)", "(empty)"},
};

// The dimension reports' texts in Russian, keyed by the descriptions' English.
constexpr std::pair<std::string_view, std::string_view> kDimensionRussian[] = {
    {"status codes", "Коды ответа"},
    {"pages not found", "Ненайденные страницы"},
    {"hours", "Время суток"},
    {"browsers", "Браузеры"},
    {"systems", "Системы"},
    {"browser versions", "Версии браузеров"},
    {"device classes", "Классы устройств"},
    {"countries", "Страны"},
    {"crawlers", "Все роботы"},
    {"search engines", "Поисковые системы"},
    {"engines", "Поисковые системы"},
    {"code", "Код"},
    {"requests", "Запросы"},
    {"share, %", "Доля, %"},
    {"url", "Адрес"},
    {"referer", "Реферер"},
    {"hour", "Час"},
    {"views", "Просмотры"},
    {"visitors", "Посетители"},
    {"family", "Семейство"},
    {"browser", "Браузер"},
    {"system", "Система"},
    {"version", "Версия"},
    {"device", "Устройство"},
    {"iso code", "Код ISO"},
    {"country", "Страна"},
    {"name", "Название"},
    {"category", "Категория"},
    {"days seen", "Дней"},
    {"days", "Дней"},
    {"first day", "Первый день"},
    {"last day", "Последний день"},
    {"traffic", "Траффик"},
    {"engine", "Поисковик"},
    {"phrase", "Фраза"},
    {"arrivals", "Переходы"},
    {"pages", "Страницы"},
};

// -1 until set or first read.
std::atomic<int> chosen{-1};

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// "en_GB.UTF-8@euro" -> "en".
std::string LanguagePart(const std::string& locale) {
  return locale.substr(0, locale.find_first_of("_.@"));
}

}  // namespace

std::optional<ReportLanguage> ParseReportLanguage(std::string_view code) {
  if (code == "ru") return ReportLanguage::kRussian;
  if (code == "en") return ReportLanguage::kEnglish;
  return std::nullopt;
}

ReportLanguage LanguageFromEnvironment() {
  std::string forced = Variable("HITSIEVE_LANG");
  for (char& c : forced) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (const std::optional<ReportLanguage> language = ParseReportLanguage(forced)) return *language;
  std::string locale = Variable("LC_ALL");
  if (locale.empty()) locale = Variable("LC_MESSAGES");
  if (locale.empty()) locale = Variable("LANG");
  if (locale.empty() || locale == "C" || locale == "POSIX" || locale.starts_with("C.")) {
    return ReportLanguage::kRussian;
  }
  const std::string languages = Variable("LANGUAGE");
  const std::string first = languages.substr(0, languages.find(':'));
  const std::string language = LanguagePart(first.empty() ? locale : first);
  return language == "en" ? ReportLanguage::kEnglish : ReportLanguage::kRussian;
}

ReportLanguage OutputLanguage() {
  int value = chosen.load();
  if (value < 0) {
    value = static_cast<int>(LanguageFromEnvironment());
    int unset = -1;
    chosen.compare_exchange_strong(unset, value);
    value = chosen.load();
  }
  return static_cast<ReportLanguage>(value);
}

void SetOutputLanguage(ReportLanguage language) { chosen.store(static_cast<int>(language)); }

std::span<const std::pair<std::string_view, std::string_view>> EnglishTexts() { return kEnglish; }

std::string DimensionText(std::string_view english, ReportLanguage language) {
  if (language == ReportLanguage::kRussian) {
    std::string lower(english);
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (const auto& [from, to] : kDimensionRussian) {
      if (from == lower) return std::string(to);
    }
  }
  std::string text(english);
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

std::string Translated(std::string_view russian, ReportLanguage language) {
  if (language == ReportLanguage::kEnglish) {
    for (const auto& [from, to] : kEnglish) {
      if (from == russian) return std::string(to);
    }
  }
  return std::string(russian);
}

}  // namespace hitsieve
