#include "export/html_report.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <stdexcept>
#include <tuple>

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include "engine/search_engine.h"
#include "engine/text.h"
#include "export/html_report_assets.h"
#include "export/referer_text.h"
#include "export/report_language.h"
#include "export/report_lists.h"
#include "export/sha256.h"
#include "export/workbook_error.h"
#include "export/xlsx_file.h"

namespace hitsieve {

namespace {

// Appends JSON by hand: the page's data is a few arrays of arrays, and every string goes through
// JsonString so that nothing in it can end the script element.
class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : out_(out) {}

  JsonWriter& Text(std::string_view utf8) { return Put(JsonString(utf8)); }
  JsonWriter& Log(std::string_view cp1251) { return Text(Cp1251ToUtf8(cp1251)); }
  JsonWriter& Number(int64_t value) { return Put(Decimal(value)); }
  JsonWriter& Open(char bracket) {
    Separate();
    out_ += bracket;
    first_ = true;
    return *this;
  }
  JsonWriter& Close(char bracket) {
    out_ += bracket;
    first_ = false;
    return *this;
  }
  JsonWriter& Key(std::string_view name) {
    Separate();
    out_ += JsonString(name);
    out_ += ':';
    first_ = true;
    return *this;
  }
  JsonWriter& Titles(const ListColumns& columns) {
    Open('[');
    for (const ListColumn& column : columns) Text(Translated(column.title));
    return Close(']');
  }

 private:
  JsonWriter& Put(std::string_view text) {
    Separate();
    out_ += text;
    return *this;
  }
  void Separate() {
    if (!first_) out_ += ',';
    first_ = false;
  }

  std::string& out_;
  bool first_ = true;
};

// More than this many days without traffic ends a stretch of the calendar (see BusyRange).
constexpr int64_t kStretchGap = 366;

// Days since 1970-01-01 of a yyyymmdd number, by the proleptic Gregorian calendar.
int64_t EpochDay(int32_t day) {
  int64_t y = day / 10000;
  const int64_t m = day / 100 % 100, d = day % 100;
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int64_t SaturatingSum(int64_t a, int64_t b) {
  int64_t sum;
  return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<int64_t>::max() : sum;
}

// Requests per day and per status code of one crawler.
struct CrawlerFigures {
  int64_t requests = 0;
  std::map<std::string, int64_t> days;
  std::map<int32_t, int64_t> codes;
};

void WriteRows(JsonWriter& json, const HtmlReportData& data) {
  json.Key("days").Open('[');
  for (const CommonStatsRow& row : data.days) {
    json.Open('[').Log(row.date).Number(row.ips).Number(row.visitors).Number(row.views);
    json.Number(row.searches).Close(']');
  }
  json.Close(']').Key("pages").Open('[');
  for (const PageStatsRow& row : data.pages) {
    json.Open('[').Log(row.page).Number(row.visits).Number(row.searches).Number(row.bandwidth);
    for (int32_t count : row.engines) json.Number(count);
    json.Close(']');
  }
  json.Close(']').Key("queries").Open('[');
  for (const QueryStatsRow& row : data.queries) {
    json.Open('[').Log(row.query).Number(row.total);
    for (int32_t count : row.engines) json.Number(count);
    json.Close(']');
  }
  json.Close(']').Key("hosts").Open('[');
  for (const RefererRow& row : data.referers) {
    if (row.type == 0) json.Open('[').Log(row.referer).Number(row.cnt).Close(']');
  }
  // Whole referers: the text as stored, whether it may serve as a link, and, when it differs,
  // the text people read (RefererDisplayText: the host as the browser will open it, the rest
  // decoded).
  json.Close(']').Key("referers").Open('[');
  for (const RefererRow& row : data.referers) {
    if (row.type != 1) continue;
    const std::string text = Cp1251ToUtf8(row.referer);
    json.Open('[').Text(text).Number(row.cnt).Number(IsWebLink(row.referer) ? 1 : 0);
    if (std::string shown = RefererDisplayText(text); shown != text) json.Text(shown);
    json.Close(']');
  }
  // Robot hits name their crawler and day by index (into "crawlers" and "robotDays"): a large
  // log repeats both in every row.
  std::map<std::string, int64_t> crawler_index, day_index;
  for (const RobotLogRow& row : data.robots) {
    crawler_index.emplace(row.name, 0);
    day_index.emplace(row.date, 0);
  }
  int64_t next = 0;
  for (auto& entry : crawler_index) entry.second = next++;
  next = 0;
  json.Close(']').Key("robotDays").Open('[');
  for (auto& [day, index] : day_index) {
    index = next++;
    json.Log(day);
  }
  json.Close(']').Key("robots").Open('[');
  for (const RobotLogRow& row : data.robots) {
    json.Open('[').Number(crawler_index[row.name]).Log(row.action).Number(row.code).Log(row.ip);
    json.Number(day_index[row.date]).Close(']');
  }
  json.Close(']');
}

void WriteCrawlers(JsonWriter& json, const std::vector<RobotLogRow>& robots) {
  std::map<std::string, CrawlerFigures> crawlers;
  for (const RobotLogRow& row : robots) {
    CrawlerFigures& figures = crawlers[row.name];
    ++figures.requests;
    ++figures.days[row.date];
    ++figures.codes[row.code];
  }
  json.Key("crawlers").Open('[');
  for (const auto& [name, figures] : crawlers) {
    json.Open('[').Log(name).Number(figures.requests).Open('[');
    for (const auto& [day, count] : figures.days) json.Open('[').Log(day).Number(count).Close(']');
    json.Close(']').Open('[');
    for (const auto& [code, count] : figures.codes)
      json.Open('[').Number(code).Number(count).Close(']');
    json.Close(']').Close(']');
  }
  json.Close(']');
}

// A panel's element ids and its name in the data: the report's name, with any character but
// a lower-case letter, a digit and '_' left out.
std::string PanelId(std::string_view name) {
  std::string id;
  for (const char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') id += c;
  }
  return id;
}

// One row's cells from `from` on: numbers as numbers, texts from the logs as strings.
void WriteCells(JsonWriter& json, const std::vector<std::string>& cells, size_t from,
                const std::vector<bool>& numeric) {
  for (size_t k = from; k < cells.size(); ++k) {
    if (!numeric[k - from]) {
      json.Log(cells[k]);
      continue;
    }
    int64_t value = 0;
    const char* end = cells[k].data() + cells[k].size();
    if (std::from_chars(cells[k].data(), end, value).ptr != end) value = 0;
    json.Number(value);
  }
}

// Each panel: its name, title and columns (as the description names them, and as people read
// them, the share's column last), which columns are numbers, the column whose share is shown
// (-1: none), whether its dimension was counted, and its rows. A report with days adds them:
// its days, and the daily rows, each naming its day by index into them.
void WritePanels(JsonWriter& json, const std::vector<DimensionPanel>& panels) {
  json.Key("panels").Open('[');
  for (const DimensionPanel& panel : panels) {
    const DimensionReport& report = panel.report;
    json.Open('{').Key("name").Text(PanelId(report.name));
    json.Key("title").Text(DimensionText(report.title)).Key("columns").Open('[');
    for (std::string_view column : report.columns) json.Text(column);
    json.Close(']').Key("titles").Open('[');
    for (std::string_view column : report.columns) json.Text(DimensionText(column));
    if (report.share_of >= 0) json.Text(DimensionText("share, %"));
    json.Close(']').Key("numeric").Open('[');
    for (const bool numeric : report.numeric) json.Number(numeric ? 1 : 0);
    json.Close(']').Key("share").Number(report.share_of);
    json.Key("counted").Number(panel.counted ? 1 : 0).Key("rows").Open('[');
    for (const std::vector<std::string>& row : panel.rows) {
      json.Open('[');
      WriteCells(json, row, 0, report.numeric);
      json.Close(']');
    }
    json.Close(']');
    if (!report.daily_query.empty()) {
      std::map<std::string, int64_t> day_index;
      for (const std::vector<std::string>& row : panel.daily) day_index.emplace(row[0], 0);
      int64_t next = 0;
      json.Key("days").Open('[');
      for (auto& [day, index] : day_index) {
        index = next++;
        json.Log(day);
      }
      json.Close(']').Key("daily").Open('[');
      for (const std::vector<std::string>& row : panel.daily) {
        json.Open('[').Number(day_index[row[0]]);
        WriteCells(json, row, 1, report.numeric);
        json.Close(']');
      }
      json.Close(']');
    }
    json.Close('}');
  }
  json.Close(']');
}

std::string DataJson(const HtmlReportData& data) {
  std::string out;
  out.reserve(64 + 80 * (data.days.size() + data.pages.size() + data.queries.size() +
                         data.referers.size() + data.robots.size()));
  JsonWriter json(out);
  json.Open('{').Key("titles").Open('{');
  json.Key("days").Titles(CommonStatsColumns()).Key("pages").Titles(PageStatsColumns());
  json.Key("queries").Titles(QueryStatsColumns()).Key("hosts").Titles(RefererColumns(0));
  json.Key("referers").Titles(RefererColumns(1)).Key("robots").Titles(RobotLogColumns());
  json.Key("crawlers").Titles(RobotSummaryColumns()).Close('}');
  // The chart's days, worked out here so that the summary and the chart agree.
  json.Key("chart").Open('[');
  if (const std::optional<ChartRange> range = BusyRange(data.days))
    json.Number(range->first).Number(range->last);
  json.Close(']');
  // An English page's texts: the script writes its own in Russian and looks them up here.
  if (OutputLanguage() == ReportLanguage::kEnglish) {
    json.Key("texts").Open('{');
    for (const auto& [russian, english] : EnglishTexts()) json.Key(russian).Text(english);
    json.Close('}');
  }
  WriteRows(json, data);
  WriteCrawlers(json, data.robots);
  WritePanels(json, data.panels);
  json.Close('}');
  return out;
}

std::string LocalTimeText(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, format, &local);
  return buffer;
}

// gzip (RFC 1952) of `text`, for DecompressionStream in the browser.
std::string Gzip(const std::string& text) {
  if (text.size() > std::numeric_limits<uInt>::max() / 2)
    throw std::runtime_error("The report is too large for one page");
  z_stream stream{};
  if (deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("Could not start compressing the report data");
  std::string out(deflateBound(&stream, text.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("Could not compress the report data");
  return out;
}

// The data element. Up to kPlainDataLimit bytes the JSON stands as it is, readable in the page's
// source; a larger report's JSON is gzip-compressed and base64-encoded, which makes the file
// several times smaller and lets the browser read and parse it within the load-time target
// (the page inflates it with the browser's own DecompressionStream).
std::string DataElement(const std::string& json) {
  if (json.size() <= kPlainDataLimit)
    return "<script type=\"application/json\" id=\"report-data\">" + json + "</script>\n";
  const std::string packed = Gzip(json);
  return "<script type=\"application/json\" id=\"report-data\" data-encoding=\"gzip-base64\">" +
         Base64(reinterpret_cast<const uint8_t*>(packed.data()), packed.size()) + "</script>\n";
}

std::string CspSource(std::string_view text) {
  const std::array<uint8_t, 32> digest = Sha256(text);
  return "'sha256-" + Base64(digest.data(), digest.size()) + "'";
}

// Whole numbers with thin groups, as the summary shows them: 1234567 -> "1 234 567".
std::string Grouped(int64_t value) {
  std::string digits = Decimal(value < 0 ? -value : value);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(i, "\u202F");
  return value < 0 ? "-" + digits : digits;
}

// A fraction with one decimal place as the page's language writes it: "12,5 %" or "12.5 %".
std::string Decimal1(double value, std::string_view unit) {
  char text[48];
  std::snprintf(text, sizeof text, "%.1f", value);
  std::string shown = text;
  if (OutputLanguage() == ReportLanguage::kRussian) std::replace(shown.begin(), shown.end(), '.', ',');
  return shown + (unit.empty() ? "" : "\u00A0" + std::string(unit));
}

std::string SummaryHtml(const HtmlReportSummary& s, const PeriodSummary& whole,
                        std::string_view generated) {
  const auto item = [](std::string_view label, const std::string& value, std::string_view id) {
    return "<div class=\"figure\"><dt>" + Translated(label) + "</dt><dd id=\"sum-" +
           std::string(id) + "\">" + value + "</dd></div>\n";
  };
  const std::string period =
      s.first_day.empty() ? std::string("—")
                          : HtmlEscape(Cp1251ToUtf8(s.first_day)) + " — " +
                                HtmlEscape(Cp1251ToUtf8(s.last_day));
  std::string days = Grouped(s.days);
  if (s.days_left_out > 0) {
    days += " <small>(" + Translated("и ещё ") + Grouped(s.days_left_out) +
            Translated(" вне периода: не даты или дальше года от него") + ")</small>";
  }
  std::string html = "<section id=\"summary\"><h2>" + Translated("Сводка") +
                     "</h2><dl class=\"figures\">\n";
  html += item("Дней", days, "days");
  html += item("Период", period, "period");
  html += item("Хосты", Grouped(s.hosts), "hosts");
  html += item("Посетители", Grouped(s.visitors), "visitors");
  html += item("Просмотры", Grouped(s.views), "views");
  html += item("Searches", Grouped(s.searches), "searches");
  html += item("Страниц", Grouped(s.pages), "pages");
  html += item("Запросов", Grouped(s.phrases), "phrases");
  html += item("Обращений роботов", Grouped(s.robot_hits), "robots");
  // The whole period's figures from the statistics (none are worked out from the rows above).
  const std::string not_counted = "<small>" + Translated("не подсчитано") + "</small>";
  html += item("Адресов", whole.addresses ? Grouped(*whole.addresses) : not_counted, "addresses");
  html += item("Траффик, МБ", Decimal1(static_cast<double>(whole.traffic) / 1048576.0, ""),
               "traffic");
  html += item("Не найдено", whole.not_found ? Grouped(*whole.not_found) : not_counted,
               "notfound");
  html += item("Доля роботов", whole.bot_share ? Decimal1(*whole.bot_share * 100, "%") : not_counted,
               "bots");
  html += "</dl><p class=\"note\">" + Translated("Отчёт составлен ") + HtmlEscape(generated) +
          ".</p></section>\n";
  return html;
}

// The sections the script fills; without the script only the summary is there.
std::string BodySections(const std::vector<DimensionPanel>& panels) {
  const auto section = [](const char* id, const char* title, const std::string& inside) {
    return "<section id=\"" + std::string(id) + "\"><h2>" + Translated(title) + "</h2>" + inside +
           "</section>\n";
  };
  std::string html = "<nav id=\"nav\"></nav>\n<noscript><p class=\"note\">" +
                     Translated("Графики и таблицы показывает сценарий страницы: разрешите его, "
                                "чтобы их увидеть.") +
                     "</p></noscript>\n";
  html += section("daily", "Общая статистика",
                  "\n<p class=\"note\">" +
                      Translated("Даты есть у ежедневной статистики и у панелей с данными по "
                                 "дням: диапазон дат ограничивает их; остальные отчёты "
                                 "охватывают весь период.") +
                      "</p>\n<div id=\"range\"></div><div id=\"chart\"></div><div "
                      "id=\"days-table\"></div>");
  html += section("pages", "Обращения к страницам", "<div id=\"pages-table\"></div>");
  html += section("queries", "Поисковые запросы", "<div id=\"queries-table\"></div>");
  html += section("referers", "Рефереры",
                  "<div class=\"pair\"><div id=\"hosts-table\"></div><div "
                  "id=\"referers-table\"></div></div>");
  html += section("robots", "Поисковики",
                  "<div id=\"crawlers-table\"></div><div id=\"crawler-panels\"></div><h3>" +
                      Translated("Запросы роботов") + "</h3><div id=\"robots-table\"></div>");
  for (const DimensionPanel& panel : panels) {
    const std::string id = "panel-" + PanelId(panel.report.name);
    html += "<section id=\"" + id + "\" class=\"panel\"><h2>" +
            HtmlEscape(DimensionText(panel.report.title)) + "</h2><p class=\"note\" id=\"" + id +
            "-note\"></p><div id=\"" + id + "-chart\"></div><div id=\"" + id +
            "-table\"></div></section>\n";
  }
  return html;
}

}  // namespace

void ReadHtmlReportData(HtmlReportData& data) {
  HtmlReportData read;
  ReadCommonStats(read.days);
  ReadPageStats(read.pages);
  ReadQueryStats(read.queries);
  ReadRefererStats(read.referers);
  ReadRobotLog(read.robots);
  read.panels = ReadDimensionPanels();
  read.period = ReadPeriodSummary();
  data = std::move(read);
}

std::vector<DimensionPanel> ReadDimensionPanels(const std::vector<DimensionReport>& reports) {
  std::vector<DimensionPanel> panels;
  for (const DimensionReport& report : reports) {
    DimensionPanel& panel = panels.emplace_back();
    panel.report = report;
    panel.counted = DimensionCounted(report.dimension);
    if (!panel.counted) continue;
    ForEachDimensionReportRow(report, [&](const std::vector<std::string>& cells) {
      panel.rows.push_back(cells);
    });
    if (report.daily_query.empty()) continue;
    ForEachDimensionReportDailyRow(report, [&](const std::vector<std::string>& cells) {
      panel.daily.push_back(cells);
    });
  }
  return panels;
}

std::optional<ChartRange> BusyRange(const std::vector<CommonStatsRow>& days) {
  std::vector<std::pair<int32_t, int64_t>> dated;  // day, views
  for (const CommonStatsRow& row : days) {
    if (const std::optional<int32_t> day = CalendarDayNumber(row.date)) dated.emplace_back(*day, row.views);
  }
  if (dated.empty()) return std::nullopt;
  std::sort(dated.begin(), dated.end());
  struct Stretch {
    ChartRange range;
    int64_t views = 0, days = 0;
    auto Weight() const { return std::tie(views, days, range.last); }
  };
  Stretch best, current{{dated[0].first, dated[0].first}};
  for (size_t k = 0; k < dated.size(); ++k) {
    const auto [day, views] = dated[k];
    if (k > 0 && EpochDay(day) - EpochDay(current.range.last) > kStretchGap) {
      if (best.days == 0 || current.Weight() > best.Weight()) best = current;
      current = Stretch{{day, day}};
    }
    current.range.last = day;
    current.views = SaturatingSum(current.views, views);
    ++current.days;
  }
  if (best.days == 0 || current.Weight() > best.Weight()) best = current;
  return best.range;
}

HtmlReportSummary SummariseReport(const HtmlReportData& data) {
  HtmlReportSummary s;
  const std::optional<ChartRange> range = BusyRange(data.days);
  for (const CommonStatsRow& row : data.days) {
    s.hosts += row.ips;
    s.visitors += row.visitors;
    s.views += row.views;
    s.searches += row.searches;
    const std::optional<int32_t> day = CalendarDayNumber(row.date);
    if (!day || !range || *day < range->first || *day > range->last) {
      ++s.days_left_out;
      continue;
    }
    ++s.days;
    if (*day == range->first) s.first_day = row.date;
    if (*day == range->last) s.last_day = row.date;
  }
  s.pages = static_cast<int64_t>(data.pages.size());
  s.phrases = static_cast<int64_t>(data.queries.size());
  s.robot_hits = static_cast<int64_t>(data.robots.size());
  return s;
}

std::string BuildHtmlReport(const HtmlReportData& data, std::string_view generated) {
  const std::string script = kHtmlReportScript;
  const std::string style = kHtmlReportStyle;
  std::string page;
  const bool english = OutputLanguage() == ReportLanguage::kEnglish;
  page += std::string("<!DOCTYPE html>\n<html lang=\"") + (english ? "en" : "ru") +
          "\">\n<head>\n<meta charset=\"utf-8\">\n";
  page += "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; script-src " +
          CspSource(script) + "; style-src " + CspSource(style) +
          "; img-src 'none'; base-uri 'none'; form-action 'none'\">\n";
  page += "<meta name=\"referrer\" content=\"no-referrer\">\n";
  page += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  page += "<title>" + Translated("Hitsieve: отчёт") + "</title>\n<style>" + style +
          "</style>\n</head>\n<body>\n";
  page += "<header><h1>" + Translated("Hitsieve: отчёт о посещениях") + "</h1></header>\n<main>\n";
  page += SummaryHtml(SummariseReport(data), data.period, generated);
  page += BodySections(data.panels);
  page += "</main>\n";
  page += DataElement(DataJson(data));
  page += "<script>" + script + "</script>\n</body>\n</html>\n";
  return page;
}

namespace {

// Writes `text` into the file at `path`; a failure says why (a full disk, a file size limit).
void WriteWhole(const std::string& path, std::string_view text, const std::string& target) {
  const auto fail = [&](int error) {
    return SystemError(error, "Could not write the report page " + target, "report page");
  };
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) throw fail(errno);
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int error = written < 0 ? errno : EIO;
      ::close(fd);
      throw fail(error);
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
  // Some file systems report a full disk only when the data is flushed or the file closed.
  if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
    const int error = errno;
    ::close(fd);
    throw fail(error);
  }
  if (::close(fd) != 0 && errno != EINTR) throw fail(errno);
}

// The page of the current statistics in a temporary file in `folder`, not yet placed.
std::unique_ptr<TemporaryFile> WritePageBeside(const std::string& folder, const std::string& target) {
  HtmlReportData data;
  ReadHtmlReportData(data);
  const std::string page = BuildHtmlReport(data, LocalTimeText("%Y-%m-%d %H:%M"));
  auto file = std::make_unique<TemporaryFile>(folder, target);
  WriteWhole(file->path(), page, target);
  return file;
}

}  // namespace

void WriteHtmlReportFile(const std::string& path, bool replace) {
  RefuseUnsafeTarget(path);  // before the tables are read; PlaceAt checks again
  const std::unique_ptr<TemporaryFile> file =
      WritePageBeside(std::filesystem::path(path).parent_path().string(), path);
  if (!file->PlaceAt(path, replace)) throw std::runtime_error(path + " already exists");
}

std::string WriteHtmlReportInto(const std::string& folder) {
  const std::string base = folder + "/hitsieve-report-" + LocalTimeText("%Y-%m-%d-%H%M%S");
  const std::unique_ptr<TemporaryFile> file = WritePageBeside(folder, base + ".html");
  for (int n = 1; n <= 1000; ++n) {
    const std::string path = n == 1 ? base + ".html" : base + "-" + std::to_string(n) + ".html";
    if (file->PlaceAt(path, /*overwrite=*/false)) return path;
  }
  throw std::runtime_error("Every name for the report page " + base + ".html is taken");
}

}  // namespace hitsieve
