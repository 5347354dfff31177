#include "ui/common_stat_dlg.h"

#include <algorithm>
#include <exception>
#include <vector>

#include <QPushButton>

#include "export/html_report.h"
#include "export/spreadsheet_export.h"
#include "store/report_queries.h"
#include "ui/daily_chart.h"
#include "ui/list_ctrl_grid.h"
#include "ui/ui_export_host.h"
#include "ui/ui_seams.h"

namespace hitsieve {

namespace {

// Percent of the height under the buttons that the chart takes: 107 of the template's 190.
constexpr int kChartShare = 56;

}  // namespace

// The grid keeps the top of the screen; the chart of the same days sits below it. Both grow
// with the screen, sharing its height as the template does (see resizeEvent).
CommonStatDlg::CommonStatDlg(QWidget* parent)
    : GridReportScreen(parent, QRect(0, 17, 299, 83), QSize(299, 210)) {
  Grid()->SetupCommonStatsColumns();
  const DialogUnits du(this);
  chart_ = new DailyChart(this);
  chart_->setObjectName(QStringLiteral("chart"));
  chart_->setGeometry(du.Rect(0, 103, 299, 107));
  using enum AnchorLayout::Flags;
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
}

void CommonStatDlg::Export(ExportHost& host) { CommonStatsExport(host).Export(); }

}  // namespace hitsieve
