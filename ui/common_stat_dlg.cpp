#include "ui/common_stat_dlg.h"

#include <algorithm>
#include <exception>
#include <vector>

#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

#include "export/html_report.h"
#include "engine/text.h"
#include "export/spreadsheet_export.h"
#include "store/dimension_reports.h"
#include "store/report_queries.h"
#include "ui/daily_chart.h"
#include "ui/list_ctrl_grid.h"
#include "ui/ui_export_host.h"
#include "ui/ui_seams.h"

namespace hitsieve {

namespace {

// Percent of the height under the summary that the chart takes.
constexpr int kChartShare = 56;

// The summary's fields in reading order, three to a line: the name of each value's label and
// its title.
const struct {
  const char* field;
  const char* title;
} kSummaryFields[] = {
    {"first_day", QT_TRANSLATE_NOOP("hitsieve::CommonStatDlg", "Первый день:")},
    {"last_day", QT_TRANSLATE_NOOP("hitsieve::CommonStatDlg", "Последний день:")},
    {"days", QT_TRANSLATE_NOOP("hitsieve::CommonStatDlg", "Дней:")},
    {"views", QT_TRANSLATE_NOOP("hitsieve::CommonStatDlg", "Просмотры:")},
    {"visitors", QT_TRANSLATE_NOOP("hitsieve::CommonStatDlg", "Посетители (сумма дней):")},
    {"addresses", QT_TRANSLATE_NOOP("hitsieve::CommonStatDlg", "Разных адресов:")},
    {"traffic", QT_TRANSLATE_NOOP("hitsieve::CommonStatDlg", "Трафик:")},
    {"not_found", QT_TRANSLATE_NOOP("hitsieve::CommonStatDlg", "Запросов не найдено (404, 410):")},
    {"bot_share", QT_TRANSLATE_NOOP("hitsieve::CommonStatDlg", "Доля запросов роботов:")},
};
constexpr int kSummaryColumns = 3;

// What a value the database does not hold shows.
QString Missing() { return QStringLiteral("—"); }

}  // namespace

// The grid keeps the top of the screen; the chart of the same days sits below it. Both grow
// with the screen, sharing its height as the template does (see resizeEvent).
CommonStatDlg::CommonStatDlg(QWidget* parent)
    : GridReportScreen(parent, QRect(0, 52, 299, 67), QSize(299, 210)) {
  Grid()->SetupCommonStatsColumns();
  const DialogUnits du(this);
  summary_ = new QWidget(this);
  summary_->setObjectName(QStringLiteral("summary"));
  auto* lines = new QGridLayout(summary_);
  lines->setContentsMargins(0, 0, 0, 0);
  lines->setHorizontalSpacing(du.X(4));
  lines->setVerticalSpacing(du.Y(1));
  for (int i = 0; i < static_cast<int>(std::size(kSummaryFields)); ++i) {
    auto* title = new QLabel(tr(kSummaryFields[i].title), summary_);
    auto* value = new QLabel(Missing(), summary_);
    value->setObjectName(QStringLiteral("summary_") + QLatin1String(kSummaryFields[i].field));
    value->setTextFormat(Qt::PlainText);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = value->font();
    bold.setBold(true);
    value->setFont(bold);
    const int line = i / kSummaryColumns, column = 2 * (i % kSummaryColumns);
    lines->addWidget(title, line, column);
    lines->addWidget(value, line, column + 1);
  }
  for (int column = 1; column < 2 * kSummaryColumns; column += 2) lines->setColumnStretch(column, 1);
  summary_->setGeometry(du.Rect(0, 17, 299, 32));
  chart_ = new DailyChart(this);
  chart_->setObjectName(QStringLiteral("chart"));
  chart_->setGeometry(du.Rect(0, 122, 299, 88));
  using enum AnchorLayout::Flags;
  Layout().Add(summary_, ANCHOR_TOP | ANCHOR_LEFT | ANCHOR_RIGHT);
  Layout().Add(chart_, ANCHOR_LEFT | ANCHOR_RIGHT | ANCHOR_BOTTOM);
  htmlButton_ = AddButton(QStringLiteral("HTML"), QStringLiteral("html"), du.Rect(54, 0, 50, 14));
  connect(htmlButton_, &QPushButton::clicked, this, &CommonStatDlg::OnHtmlReport);
}

// The layout has stretched the grid and kept the chart's height; the chart takes back its
// template share of the height the two have together.
void CommonStatDlg::resizeEvent(QResizeEvent* event) {
  GridReportScreen::resizeEvent(event);
  if (chart_ == nullptr) return;
  const QRect grid = Grid()->geometry();
  const QRect chart = chart_->geometry();
  const int gap = chart.top() - grid.bottom() - 1;
  const int shared = chart.bottom() - grid.top() + 1 - gap;
  const int chart_height = std::max(0, shared * kChartShare / 100);
  Grid()->setGeometry(grid.left(), grid.top(), grid.width(), std::max(0, shared - chart_height));
  chart_->setGeometry(chart.left(), chart.bottom() + 1 - chart_height, chart.width(), chart_height);
}

void CommonStatDlg::SetRunActive(bool active) {
  GridReportScreen::SetRunActive(active);
  htmlButton_->setEnabled(!active);
}

// Written where the workbooks go and named like them, then handed to the default browser.
void CommonStatDlg::OnHtmlReport() {
  UiExportHost host(this);
  try {
    const std::string path = WriteHtmlReportInto(host.WorkbookFolder());
    if (!host.OpenWorkbook(path))
      ShowMessage(this, tr("Нет программы, которая открыла бы страницу ") +
                            QString::fromStdString(path));
  } catch (const std::exception& e) {
    ShowMessage(this, QString::fromStdString(e.what()));
  }
}

void CommonStatDlg::ReadAndFill() {
  std::vector<CommonStatsRow> rows;
  rows.reserve(1000);
  ReadCommonStats(rows);
  Grid()->FillCommonStats(rows);
  chart_->SetDays(rows);
  FillSummary();
}

// Numbers in the window's language (its default locale): "1 234" or "1,234". A table the
// summary cannot read leaves its values at "—": the screen that shows that table reports it.
void CommonStatDlg::FillSummary() {
  PeriodSummary summary;
  try {
    summary = ReadPeriodSummary();
  } catch (const std::exception&) {
    summary = PeriodSummary{};
  }
  const QLocale locale;
  const bool any = summary.days > 0;
  const auto number = [&](int64_t value) { return any ? locale.toString(qint64{value}) : Missing(); };
  const auto day = [&](const std::string& text) {
    return text.empty() ? Missing() : QString::fromStdString(Cp1251ToUtf8(text));
  };
  const auto set = [&](const char* field, const QString& text) {
    if (auto* label = summary_->findChild<QLabel*>(QStringLiteral("summary_") + QLatin1String(field)))
      label->setText(text);
  };
  set("first_day", day(summary.first_day));
  set("last_day", day(summary.last_day));
  set("days", number(summary.days));
  set("views", number(summary.views));
  set("visitors", number(summary.visitors));
  set("addresses", any && summary.addresses ? locale.toString(qint64{*summary.addresses}) : Missing());
  set("traffic", any ? tr("%1 МБ").arg(locale.toString(static_cast<double>(summary.traffic) / 1048576.0,
                                                       'f', 2))
                     : Missing());
  set("not_found", any && summary.not_found ? locale.toString(qint64{*summary.not_found}) : Missing());
  set("bot_share", any && summary.bot_share
                       ? locale.toString(*summary.bot_share * 100.0, 'f', 1) + QStringLiteral(" %")
                       : Missing());
}

QString CommonStatDlg::SummaryValue(const QString& field) const {
  const auto* label = summary_->findChild<QLabel*>(QStringLiteral("summary_") + field);
  return label != nullptr ? label->text() : QString();
}

void CommonStatDlg::Export(ExportHost& host) { CommonStatsExport(host).Export(); }

}  // namespace hitsieve
