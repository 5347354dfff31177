#include "ui/dimension_screen.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <utility>

#include <QComboBox>
#include <QDate>
#include <QItemSelectionModel>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>

#include "engine/text.h"
#include "export/dimension_tables.h"
#include "store/stats_database.h"
#include "ui/day_axis.h"
#include "ui/list_ctrl_grid.h"
#include "ui/report_bar_chart.h"
#include "ui/ui_export_host.h"
#include "ui/ui_seams.h"

namespace hitsieve {

namespace {

constexpr char kColumns[] = "hitsieve::ListColumns";
// Percent of the height under the top row that the days of a chosen row take.
constexpr int kDaysShare = 45;
constexpr char kScreen[] = "hitsieve::DimensionScreen";

// Column titles: "report.column" for a title of one report, "column" for every report.
const std::pair<std::string_view, const char*> kColumnTitles[] = {
    {"status.code", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Код ответа")},
    {"code", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Код")},
    {"requests", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Запросы")},
    {"url", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Страница")},
    {"referer", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Чаще всего приходили с")},
    {"hour", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Час")},
    {"views", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Просмотры")},
    {"visitors", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Посетители")},
    {"browsers.family", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Браузер")},
    {"systems.family", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Система")},
    {"browser", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Браузер")},
    {"system", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Система")},
    {"family", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Название")},
    {"version", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Версия")},
    {"device", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Устройство")},
    {"countries.code", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Код страны")},
    {"iso code", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Код страны")},
    {"country", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Страна")},
    {"countries.name", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Страна")},
    {"crawlers.name", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Робот")},
    {"name", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Название")},
    {"category", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Категория")},
    {"token", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Подпись в агенте")},
    {"pages", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Страницы")},
    {"days", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Дней")},
    {"day", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "День")},
    {"days seen", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Дней")},
    {"first day", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Первый день")},
    {"last day", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Последний день")},
    {"traffic", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Трафик, байт")},
    {"engine", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Поисковая система")},
    {"arrivals", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Переходы")},
    {"phrase", QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Запрос")},
};
const char* const kShareTitle = QT_TRANSLATE_NOOP("hitsieve::ListColumns", "Доля, %");

// Each list's caption; another report shows its own title.
const std::pair<std::string_view, const char*> kCaptions[] = {
    {"status", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "Запросы людей по кодам ответа")},
    {"notfound", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen",
                                   "Страницы, которых нет (404 и 410), и откуда на них пришли")},
    {"hours", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "Просмотры и посетители по часам")},
    {"browsers", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "Браузеры")},
    {"systems", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "Системы")},
    {"countries", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "Страны посетителей")},
    {"crawlers", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "Роботы и их запросы")},
    {"engines", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "Переходы из поисковых систем")},
};
const char* const kNotCounted = QT_TRANSLATE_NOOP(
    "hitsieve::DimensionScreen",
    "Не подсчитано в этой базе статистики. Подсчитает анализ, который заменяет статистику "
    "(без «Добавить к сохранённой статистике»).");
const char* const kEveryValue = QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "Все");

// The caption over the days of a chosen row (%1 its first cell), and what it says while no row
// is chosen; another report says it in general words.
const struct {
  std::string_view report;
  const char* days;
  const char* none;
} kDaysCaptions[] = {
    {"crawlers", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "Запросы робота %1 по дням"),
     QT_TRANSLATE_NOOP("hitsieve::DimensionScreen",
                       "Выберите робота в списке: здесь будут его запросы по дням")},
    {{}, QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "%1 по дням"),
     QT_TRANSLATE_NOOP("hitsieve::DimensionScreen",
                       "Выберите строку списка: здесь будут её дни")},
};

QString CaptionOf(const DimensionReport& report) {
  for (const auto& [name, caption] : kCaptions)
    if (name == report.name) return QCoreApplication::translate(kScreen, caption);
  return QString::fromUtf8(report.title.data(), static_cast<qsizetype>(report.title.size()));
}

int ColumnIndex(const DimensionReport& report, std::string_view column) {
  if (column.empty()) return -1;
  for (size_t k = 0; k < report.columns.size(); ++k)
    if (report.columns[k] == column) return static_cast<int>(k);
  return -1;
}

// Text columns of days sort in calendar order.
bool IsDayColumn(std::string_view column) {
  return column == "day" || column == "date" || column.ends_with(" day") ||
         column.ends_with("_day");
}

std::vector<CellKind> Kinds(const DimensionReport& report) {
  std::vector<CellKind> kinds;
  for (size_t k = 0; k < report.columns.size(); ++k) {
    if (report.numeric[k]) {
      kinds.push_back(CellKind::kNumber);
    } else {
      kinds.push_back(IsDayColumn(report.columns[k]) ? CellKind::kDay : CellKind::kText);
    }
  }
  if (report.share_of >= 0) kinds.push_back(CellKind::kDecimal);
  return kinds;
}

// Number columns get the width of their title or a six-digit number; the text columns share
// the rest equally. A list of numbers alone (the hours) keeps that width.
void FitColumns(ListCtrlGrid& grid, const DimensionReport& report) {
  int first_text = -1;
  for (size_t k = 0; k < report.columns.size(); ++k)
    if (!report.numeric[k]) {
      first_text = static_cast<int>(k);
      break;
    }
  grid.FitColumnsToWidth(first_text);
  for (size_t k = 0; k < report.columns.size(); ++k)
    if (!report.numeric[k])
      grid.horizontalHeader()->setSectionResizeMode(static_cast<int>(k), QHeaderView::Stretch);
}

// The crawler list's categories as the lists show them; the statistics keep the list's words.
struct CategoryTitle {
  const char* key;
  const char* title;
};
constexpr CategoryTitle kCategoryTitles[] = {
    {"search engine", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "поисковая система")},
    {"AI", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "ИИ")},
    {"SEO tool", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "SEO-инструмент")},
    {"feed reader", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "чтение лент")},
    {"monitoring", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "мониторинг")},
    {"archive", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "архив")},
    {"tool/script", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "программа или скрипт")},
    {"other", QT_TRANSLATE_NOOP("hitsieve::DimensionScreen", "прочее")},
};

bool IsCategoryColumn(const DimensionReport& report, size_t k) {
  return k < report.columns.size() && report.columns[k] == "category";
}

// A category as shown (UTF-8), or `key` itself when the list does not name it.
std::string CategoryShown(const std::string& key) {
  for (const CategoryTitle& category : kCategoryTitles)
    if (key == category.key) return QCoreApplication::translate(kScreen, category.title).toStdString();
  return key;
}

// The stored key of a category as shown.
std::string CategoryKeyOf(const std::string& shown) {
  for (const CategoryTitle& category : kCategoryTitles)
    if (shown == QCoreApplication::translate(kScreen, category.title).toStdString()) return category.key;
  return shown;
}

// The texts of the first `count` cells of shown row `row`, as stored (Windows-1251).
std::vector<std::string> KeyOfRow(const DimensionReport& report, const ListModel& model, int row,
                                  int count) {
  std::vector<std::string> key;
  for (int k = 0; k < count; ++k) {
    const std::string cell = model.Cell(row, k);
    key.push_back(ConvertCodePage(IsCategoryColumn(report, static_cast<size_t>(k)) ? CategoryKeyOf(cell) : cell,
                                  kCodePageUtf8, kCodePage1251));
  }
  return key;
}

// A day as the logs write it: 05/Mar/2024.
QString DayText(const QDate& day) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  return QStringLiteral("%1/%2/%3")
      .arg(day.day(), 2, 10, QLatin1Char('0'))
      .arg(QLatin1String(kMonths[day.month() - 1]))
      .arg(day.year(), 4, 10, QLatin1Char('0'));
}

}  // namespace

const std::vector<DimensionScreenPlan>& DimensionScreenPlans() {
  static const std::vector<DimensionScreenPlan> plans = {
      {"status", QT_TRANSLATE_NOOP("hitsieve::MainDlg", "Коды ответа"), {"status", "notfound"}, {},
       {}},
      {"hours", QT_TRANSLATE_NOOP("hitsieve::MainDlg", "Время суток"), {"hours"}, "views", {}},
      {"browsers", QT_TRANSLATE_NOOP("hitsieve::MainDlg", "Браузеры и системы"),
       {"browsers", "systems"}, {}, {}},
      {"countries", QT_TRANSLATE_NOOP("hitsieve::MainDlg", "Страны"), {"countries"}, {}, {}},
      {"crawlers", QT_TRANSLATE_NOOP("hitsieve::MainDlg", "Все роботы"), {"crawlers"}, {},
       "category", {"requests", "traffic"}},
      {"engines", QT_TRANSLATE_NOOP("hitsieve::MainDlg", "Поисковые системы"), {"engines"}, {}, {}},
  };
  return plans;
}

std::vector<const DimensionReport*> FoundReports(const DimensionScreenPlan& plan) {
  std::vector<const DimensionReport*> found;
  for (std::string_view name : plan.reports)
    if (const DimensionReport* report = FindDimensionReport(name)) found.push_back(report);
  return found;
}

std::string DimensionColumnTitle(const DimensionReport& report, std::string_view column) {
  std::string spaced(column);
  std::replace(spaced.begin(), spaced.end(), '_', ' ');
  const std::string own = std::string(report.name) + "." + spaced;
  for (const std::string& wanted : {own, spaced})
    for (const auto& [name, title] : kColumnTitles)
      if (name == wanted) return title;
  return std::string(column);
}

ListColumns DimensionListColumns(const DimensionReport& report) {
  ListColumns columns;
  for (std::string_view column : report.columns)
    columns.push_back({DimensionColumnTitle(report, column), 100});
  if (report.share_of >= 0) columns.push_back({kShareTitle, 100});
  return columns;
}

ListRow DimensionListCells(const DimensionReport& report, const std::vector<std::string>& row) {
  ListRow cells = row;
  for (size_t k = 0; k < cells.size() && k < report.columns.size(); ++k)
    if (!report.numeric[k])
      cells[k] = IsCategoryColumn(report, k) ? CategoryShown(cells[k]) : Cp1251ToUtf8(cells[k]);
  if (report.share_of >= 0 && cells.size() > report.columns.size())
    std::replace(cells.back().begin(), cells.back().end(), '.', ',');
  return cells;
}

DimensionScreen::DimensionScreen(QWidget* parent, const DimensionScreenPlan& plan)
    : GridReportScreen(parent, QRect(0, 17, 383, 216), QSize(383, 233)), plan_(plan) {
  setObjectName(QString::fromUtf8(plan.name));
  const DialogUnits du(this);
  const std::vector<const DimensionReport*> reports = FoundReports(plan);
  for (size_t k = 0; k < reports.size(); ++k) {
    Pane pane;
    pane.report = reports[k];
    const QString name = QString::fromUtf8(reports[k]->name.data(),
                                           static_cast<qsizetype>(reports[k]->name.size()));
    if (k == 0) {
      pane.grid = Grid();
      pane.excel = findChild<QPushButton*>(QStringLiteral("excel"));
    } else {
      pane.grid = new ListCtrlGrid(this);
      pane.grid->setObjectName(QStringLiteral("grid_") + name);
      pane.excel = AddButton(QStringLiteral("Excel"), QStringLiteral("excel_") + name,
                             du.Rect(0, 0, 50, 14));
      connect(pane.excel, &QPushButton::clicked, this, [this, k] { ExportList(static_cast<int>(k)); });
    }
    pane.grid->SetColumns(DimensionListColumns(*pane.report), Kinds(*pane.report));
    pane.caption = new QLabel(CaptionOf(*pane.report), this);
    pane.caption->setObjectName(QStringLiteral("caption_") + name);
    pane.caption->setTextFormat(Qt::PlainText);
    pane.not_counted = new QLabel(QCoreApplication::translate(kScreen, kNotCounted), this);
    pane.not_counted->setObjectName(QStringLiteral("not_counted_") + name);
    pane.not_counted->setTextFormat(Qt::PlainText);
    pane.not_counted->setWordWrap(true);
    pane.not_counted->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    pane.not_counted->setFrameShape(QFrame::StyledPanel);
    pane.not_counted->setMargin(du.X(4));
    pane.not_counted->hide();
    panes_.push_back(std::move(pane));
  }
  // The search field filters the first list; the others follow its text.
  AddSearch(150);
  for (size_t k = 1; k < panes_.size(); ++k)
    connect(FilterEdit(), &QLineEdit::textChanged, panes_[k].grid,
            [grid = panes_[k].grid](const QString& text) { grid->SetFilterText(text); });
  for (Pane& pane : panes_) FitColumns(*pane.grid, *pane.report);
  const DimensionReport& first = *panes_.front().report;
  chartColumn_ = ColumnIndex(first, plan.chart_column);
  if (chartColumn_ >= 0) {
    chart_ = new ReportBarChart(this);
    chart_->setObjectName(QStringLiteral("chart"));
  }
  if (!plan.day_columns.empty() && !first.daily_query.empty()) {
    while (keyColumns_ < static_cast<int>(first.columns.size()) && !first.numeric[keyColumns_])
      ++keyColumns_;
    // A daily row holds the day, then the report's columns.
    for (std::string_view column : plan.day_columns)
      if (const int index = ColumnIndex(first, column); index >= 0)
        daysColumns_.push_back(index + 1);
  }
  if (keyColumns_ > 0 && !daysColumns_.empty()) {
    daysCaption_ = new QLabel(this);
    daysCaption_->setObjectName(QStringLiteral("days_caption"));
    daysCaption_->setTextFormat(Qt::PlainText);
    daysGrid_ = new ListCtrlGrid(this);
    daysGrid_->setObjectName(QStringLiteral("days"));
    ListColumns columns = {{DimensionColumnTitle(first, "day"), 100}};
    std::vector<CellKind> kinds = {CellKind::kDay};
    for (const int index : daysColumns_) {
      columns.push_back({DimensionColumnTitle(first, first.columns[index - 1]), 100});
      kinds.push_back(first.numeric[index - 1] ? CellKind::kNumber : CellKind::kText);
    }
    daysGrid_->SetColumns(columns, kinds);
    // The day takes what the counts leave of the width PlacePanes gives the table.
    daysGrid_->FitColumnsToWidth(0);
    daysChart_ = new ReportBarChart(this);
    daysChart_->setObjectName(QStringLiteral("days_chart"));
    // The current row is the one the user chose, by click or by keys.
    connect(panes_.front().grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
              if (current.isValid()) ShowDaysOfRow(current.row());
            });
    ShowDays({});
  }
  choiceColumn_ = ColumnIndex(first, plan.choice_column);
  if (choiceColumn_ >= 0) {
    choice_ = new QComboBox(this);
    choice_->setObjectName(QStringLiteral("choice"));
    // Only a choice of the user filters; a reload's own changes of the items do not.
    connect(choice_, &QComboBox::activated, this, &DimensionScreen::OnChoice);
    FillChoice();
  }
  PlacePanes();
}

// The top row holds the first list's "Excel" and caption, the drop-down and the search field;
// under it the lists, each after the first under a row of its own "Excel" and caption. A list
// above another takes the height of its rows (up to an equal share) and leaves the rest to the
// lists below, so that a short list of codes leaves the room to the long list under it. A chart
// stands to the right of the lists, which keep the width of their columns.
void DimensionScreen::PlacePanes() {
  if (panes_.empty()) return;
  const DialogUnits du(this);
  const int row = du.Y(14), gap = du.Y(3), button = du.X(50), space = du.X(4);
  const int width = this->width(), height = this->height();
  int caption_right = width;
  if (FilterEdit() != nullptr) caption_right = FilterEdit()->geometry().left() - space;
  if (choice_ != nullptr) {
    const int choice_width = du.X(100);
    const int left = std::max(button + space, caption_right - choice_width);
    choice_->setGeometry(left, 0, caption_right - left,
                         std::max(row, choice_->sizeHint().height()));
    caption_right = left - space;
  }
  const int body_top = row + gap;
  int lists_width = width;
  if (chart_ != nullptr) {
    // Beside the lists (a screen with days has no such chart).
    const ListCtrlGrid& grid = *panes_.front().grid;
    const int columns = grid.horizontalHeader()->length() + 2 * grid.frameWidth() +
                        grid.verticalScrollBar()->sizeHint().width();
    lists_width = std::min(columns, width / 2);
    const int chart_left = lists_width + space;
    chart_->setGeometry(chart_left, body_top, std::max(0, width - chart_left),
                        std::max(0, height - body_top));
  }
  const int header = row + 2 * gap;  // the row of "Excel" and caption above a later list
  // The days of the chosen row take the lower part: their caption, then their table at the
  // width of its columns and the chart beside it.
  int lists_bottom = height;
  if (daysGrid_ != nullptr) {
    const int days_height = std::max(0, (height - body_top) * kDaysShare / 100);
    lists_bottom = std::max(body_top, height - days_height - header);
    daysCaption_->setGeometry(0, lists_bottom + gap, width, row);
    const int days_top = lists_bottom + header;
    // As wide as a day and the counts; the day's column stretches over what the counts leave.
    int columns = daysGrid_->fontMetrics().horizontalAdvance(QStringLiteral("28/Oct/2008")) +
                  2 * style()->pixelMetric(QStyle::PM_HeaderMargin) + 12;
    for (int column = 1; column < daysGrid_->Model()->columnCount(); ++column)
      columns += daysGrid_->columnWidth(column);
    const int days_width = std::min(columns + 2 * daysGrid_->frameWidth() +
                                        daysGrid_->verticalScrollBar()->sizeHint().width(),
                                    width / 2);
    daysGrid_->setGeometry(0, days_top, days_width, std::max(0, height - days_top));
    const int chart_left = days_width + space;
    daysChart_->setGeometry(chart_left, days_top, std::max(0, width - chart_left),
                            std::max(0, height - days_top));
  }
  const int count = static_cast<int>(panes_.size());
  const int share = std::max(0, (lists_bottom - body_top - (count - 1) * header) / count);
  int top = body_top;
  for (int k = 0; k < count; ++k) {
    Pane& pane = panes_[k];
    if (k > 0) {
      pane.excel->setGeometry(0, top + gap, button, row);
      pane.caption->setGeometry(button + space, top + gap, std::max(0, lists_width - button - space),
                                row);
      top += header;
    } else {
      pane.excel->setGeometry(0, 0, button, row);
      pane.caption->setGeometry(button + space, 0, std::max(0, caption_right - button - space), row);
    }
    int this_height = std::max(0, lists_bottom - top);
    if (k + 1 < count) {
      int wanted;
      if (pane.counted) {
        const ListCtrlGrid& grid = *pane.grid;
        const int rows = std::max(3, grid.Model()->RowCount());
        wanted = grid.horizontalHeader()->sizeHint().height() +
                 rows * grid.verticalHeader()->defaultSectionSize() + 2 * grid.frameWidth() + 2;
      } else {
        wanted = pane.not_counted->heightForWidth(lists_width) + 2;
      }
      this_height = std::min(share, wanted);
    }
    const QRect rect(0, top, lists_width, this_height);
    pane.grid->setGeometry(rect);
    pane.not_counted->setGeometry(rect);
    top += this_height;
  }
}

void DimensionScreen::resizeEvent(QResizeEvent* event) {
  GridReportScreen::resizeEvent(event);
  PlacePanes();
}

void DimensionScreen::ReadAndFill() {
  // Every list is read before any is shown: after a failed read the lists keep their rows.
  const bool absent = StatsDatabase::IsAbsent();
  std::vector<std::vector<ListRow>> read(panes_.size());
  std::vector<bool> counted(panes_.size(), true);
  for (size_t k = 0; k < panes_.size(); ++k) {
    const DimensionReport& report = *panes_[k].report;
    if (absent) continue;
    counted[k] = DimensionCounted(report.dimension);
    if (!counted[k]) continue;
    ForEachDimensionTableRow(report, [&](const std::vector<std::string>& cells) {
      read[k].push_back(DimensionListCells(report, cells));
    });
  }
  for (size_t k = 0; k < panes_.size(); ++k) {
    Pane& pane = panes_[k];
    pane.rows = std::move(read[k]);
    pane.counted = counted[k];
    pane.grid->setVisible(pane.counted);
    pane.not_counted->setVisible(!pane.counted);
    pane.excel->setEnabled(pane.counted && !runActive_);
  }
  if (choice_ != nullptr) FillChoice();
  for (Pane& pane : panes_) ShowRows(pane);
  if (chart_ != nullptr) FillChart();
  if (daysGrid_ != nullptr) {
    for (QWidget* days : {static_cast<QWidget*>(daysCaption_), static_cast<QWidget*>(daysGrid_),
                          static_cast<QWidget*>(daysChart_)})
      days->setVisible(panes_.front().counted);
    ChooseDaysRow();
  }
  PlacePanes();
}

void DimensionScreen::ShowRows(Pane& pane) {
  const int index = choice_ != nullptr && &pane == &panes_.front() ? choice_->currentIndex() : 0;
  if (index <= 0 || index >= static_cast<int>(choices_.size())) {
    pane.grid->SetRows(pane.rows);
    return;
  }
  std::vector<ListRow> kept;
  for (const ListRow& row : pane.rows)
    if (static_cast<size_t>(choiceColumn_) < row.size() && row[choiceColumn_] == choices_[index])
      kept.push_back(row);
  pane.grid->SetRows(std::move(kept));
}

void DimensionScreen::FillChoice() {
  const QSignalBlocker blocker(choice_);
  const std::string chosen =
      choice_->currentIndex() > 0 && choice_->currentIndex() < static_cast<int>(choices_.size())
          ? choices_[choice_->currentIndex()]
          : std::string();
  std::set<std::string> values;
  for (const ListRow& row : panes_.front().rows)
    if (static_cast<size_t>(choiceColumn_) < row.size()) values.insert(row[choiceColumn_]);
  choice_->clear();
  choices_.assign(1, std::string());
  choice_->addItem(QCoreApplication::translate(kScreen, kEveryValue));
  for (const std::string& value : values) {
    choices_.push_back(value);
    choice_->addItem(DisplayText(value));
  }
  // The choice stays across a reload while its value is still there.
  const auto kept = std::find(choices_.begin() + 1, choices_.end(), chosen);
  choice_->setCurrentIndex(chosen.empty() || kept == choices_.end()
                               ? 0
                               : static_cast<int>(kept - choices_.begin()));
}

void DimensionScreen::OnChoice(int index) {
  if (index < 0 || index >= static_cast<int>(choices_.size())) return;
  if (choice_->currentIndex() != index) {
    const QSignalBlocker blocker(choice_);
    choice_->setCurrentIndex(index);
  }
  ShowRows(panes_.front());
  if (daysGrid_ != nullptr) ChooseDaysRow();
}

void DimensionScreen::ChooseDaysRow() {
  ListCtrlGrid& grid = *panes_.front().grid;
  const int rows = panes_.front().counted ? grid.Model()->RowCount() : 0;
  int chosen = rows > 0 ? 0 : -1;
  for (int row = 0; row < rows && !daysKey_.empty(); ++row)
    if (KeyOfRow(*panes_.front().report, *grid.Model(), row, keyColumns_) == daysKey_) {
      chosen = row;
      break;
    }
  if (chosen < 0) {
    ShowDays({});
    return;
  }
  {
    // The list shows the choice; its days are read once, below.
    choosing_ = true;
    grid.selectionModel()->setCurrentIndex(
        grid.Model()->index(chosen, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    choosing_ = false;
  }
  ShowDays(KeyOfRow(*panes_.front().report, *grid.Model(), chosen, keyColumns_));
}

void DimensionScreen::ShowDaysOfRow(int row) {
  if (daysGrid_ == nullptr || choosing_) return;
  const ListModel& model = *panes_.front().grid->Model();
  if (row < 0 || row >= model.RowCount()) return;
  try {
    ShowDays(KeyOfRow(*panes_.front().report, model, row, keyColumns_));
  } catch (const std::exception& e) {
    ShowMessage(this, QString::fromStdString(e.what()));
  }
}

// One bar a day, in calendar order. Between the first and the last day the days without
// requests stand as empty bars, so that the gaps show, unless a day text is no date or the
// days spread over more than a year.
void DimensionScreen::FillDaysChart(const std::vector<DayCells>& days) {
  std::vector<QDate> dates;
  for (const auto& [day, cells] : days) dates.push_back(DayDate(day));
  const bool calendar =
      !dates.empty() &&
      std::all_of(dates.begin(), dates.end(), [](const QDate& date) { return date.isValid(); }) &&
      dates.front().daysTo(dates.back()) <= kFarAwayDays;
  QStringList labels;
  std::vector<int64_t> values;
  for (size_t k = 0; k < days.size(); ++k) {
    if (calendar && k > 0)
      for (QDate gap = dates[k - 1].addDays(1); gap < dates[k]; gap = gap.addDays(1)) {
        labels << DayText(gap);
        values.push_back(0);
      }
    labels << DisplayText(Cp1251ToUtf8(days[k].first));
    const std::string& cell = days[k].second.empty() ? std::string() : days[k].second.front();
    int64_t value = 0;
    std::from_chars(cell.data(), cell.data() + cell.size(), value);
    values.push_back(value);
  }
  daysChart_->SetBars(
      ColumnTitle(DimensionColumnTitle(*panes_.front().report, plan_.day_columns.front())), labels,
      values);
}

void DimensionScreen::ShowDays(std::vector<std::string> key) {
  const DimensionReport& report = *panes_.front().report;
  const auto& caption = [&report] {
    for (const auto& texts : kDaysCaptions)
      if (texts.report.empty() || texts.report == report.name) return texts;
    return kDaysCaptions[0];
  }();
  std::vector<DayCells> days;
  if (!key.empty() && !StatsDatabase::IsAbsent()) {
    ForEachDimensionReportDailyRowOf(report, key, [&](const std::vector<std::string>& row) {
      std::vector<std::string> cells;
      for (const int index : daysColumns_)
        cells.push_back(static_cast<size_t>(index) < row.size() ? row[index] : std::string());
      days.emplace_back(row.empty() ? std::string() : row[0], std::move(cells));
    });
  }
  // Calendar order; a day text that is no date goes last.
  std::stable_sort(days.begin(), days.end(), [](const auto& a, const auto& b) {
    const int x = DayNumber(a.first), y = DayNumber(b.first);
    if ((x < 0) != (y < 0)) return y < 0;
    return x < 0 ? a.first < b.first : x < y;
  });
  std::vector<ListRow> rows;
  for (const auto& [day, cells] : days) {
    ListRow row = {Cp1251ToUtf8(day)};
    row.insert(row.end(), cells.begin(), cells.end());
    rows.push_back(std::move(row));
  }
  daysGrid_->SetRows(std::move(rows));
  daysKey_ = std::move(key);
  daysCaption_->setText(daysKey_.empty()
                            ? QCoreApplication::translate(kScreen, caption.none)
                            : QCoreApplication::translate(kScreen, caption.days)
                                  .arg(DisplayText(Cp1251ToUtf8(daysKey_.front()))));
  FillDaysChart(days);
}

void DimensionScreen::FillChart() {
  const Pane& pane = panes_.front();
  QStringList labels;
  std::vector<int64_t> values;
  for (const ListRow& row : pane.rows) {
    labels << DisplayText(row.empty() ? std::string() : row[0]);
    const std::string& cell =
        static_cast<size_t>(chartColumn_) < row.size() ? row[chartColumn_] : std::string();
    int64_t value = 0;
    std::from_chars(cell.data(), cell.data() + cell.size(), value);
    values.push_back(value);
  }
  chart_->SetBars(ColumnTitle(DimensionColumnTitle(*pane.report, plan_.chart_column)), labels,
                  values);
  chart_->setVisible(pane.counted);
}

void DimensionScreen::SetRunActive(bool active) {
  runActive_ = active;
  GridReportScreen::SetRunActive(active);
  for (const Pane& pane : panes_) pane.excel->setEnabled(!active && pane.counted);
}

void DimensionScreen::ExportList(int list) {
  UiExportHost host(this);
  ExportPane(panes_[list], host);
}

void DimensionScreen::Export(ExportHost& host) { ExportPane(panes_.front(), host); }

// The workbook's header is the list's, in the window's language.
void DimensionScreen::ExportPane(const Pane& pane, ExportHost& host) {
  std::vector<std::string> titles;
  for (const ListColumn& column : DimensionListColumns(*pane.report))
    titles.push_back(ColumnTitle(column.title).toStdString());
  const DimensionReport& report = *pane.report;
  auto shown = [&report](std::vector<std::string>& row) {
    for (size_t k = 0; k < row.size(); ++k)
      if (IsCategoryColumn(report, k))
        row[k] = ConvertCodePage(CategoryShown(row[k]), kCodePageUtf8, kCodePage1251);
  };
  DimensionReportExport(host, report, std::move(titles), shown).Export();
}

}  // namespace hitsieve
