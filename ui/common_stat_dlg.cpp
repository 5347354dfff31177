#include "ui/common_stat_dlg.h"

#include <exception>
#include <vector>

#include <QPushButton>

#include "export/spreadsheet_export.h"
#include "store/report_queries.h"
#include "ui/list_ctrl_grid.h"
#include "ui/ui_export_host.h"
#include "ui/ui_seams.h"

namespace hitsieve {

CommonStatDlg::CommonStatDlg(QWidget* parent) : ReportScreen(parent) {
  const DialogUnits du(this);
  grid_ = new ListCtrlGrid(this);
  grid_->setObjectName(QStringLiteral("grid"));
  grid_->setGeometry(du.Rect(0, 17, 299, 193));
  excelButton_ = new QPushButton(QStringLiteral("Excel"), this);
  excelButton_->setObjectName(QStringLiteral("excel"));
  excelButton_->setAutoDefault(false);
  excelButton_->setGeometry(du.Rect(0, 0, 50, 14));
  resize(du.Size(299, 210));

  layout_.Init(this);
  layout_.Add(grid_, 15);
  grid_->SetupCommonStatsColumns();
  connect(excelButton_, &QPushButton::clicked, this, &CommonStatDlg::OnExcel);
}

void CommonStatDlg::Reload() {
  std::vector<CommonStatsRow> rows;
  rows.reserve(1000);
  try {
    ReadCommonStats(rows);
    grid_->FillCommonStats(rows);
  } catch (const std::exception& e) {
    ShowMessage(this, QString::fromStdString(e.what()));
  }
}

void CommonStatDlg::SetRunActive(bool active) { excelButton_->setEnabled(!active); }

void CommonStatDlg::OnExcel() {
  UiExportHost host(this);
  CommonStatsExport exporter(host);
  exporter.Export();
}

void CommonStatDlg::resizeEvent(QResizeEvent* event) {
  ReportScreen::resizeEvent(event);
  layout_.Apply();
}

}  // namespace hitsieve
