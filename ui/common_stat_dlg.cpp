#include "ui/common_stat_dlg.h"

#include <vector>

#include "export/spreadsheet_export.h"
#include "store/report_queries.h"
#include "ui/daily_chart.h"
#include "ui/list_ctrl_grid.h"

namespace hitsieve {

// The grid keeps the top of the screen and grows with it; the chart of the same days sits
// below it at a fixed height.
CommonStatDlg::CommonStatDlg(QWidget* parent)
    : GridReportScreen(parent, QRect(0, 17, 299, 83), QSize(299, 210)) {
  Grid()->SetupCommonStatsColumns();
  const DialogUnits du(this);
  chart_ = new DailyChart(this);
  chart_->setObjectName(QStringLiteral("chart"));
  chart_->setGeometry(du.Rect(0, 103, 299, 107));
  using enum AnchorLayout::Flags;
  Layout().Add(chart_, ANCHOR_LEFT | ANCHOR_RIGHT | ANCHOR_BOTTOM);
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
