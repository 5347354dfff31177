#include "ui/page_stats_tab.h"

#include <exception>
#include <vector>

#include <QPushButton>

#include "export/spreadsheet_export.h"
#include "store/report_queries.h"
#include "ui/list_ctrl_grid.h"
#include "ui/ui_export_host.h"
#include "ui/ui_seams.h"

namespace hitsieve {

PageStatsTab::PageStatsTab(QWidget* parent) : ReportScreen(parent) {
  const DialogUnits du(this);
  grid_ = new ListCtrlGrid(this);
  grid_->setObjectName(QStringLiteral("grid"));
  grid_->setGeometry(du.Rect(0, 16, 383, 217));
  excelButton_ = new QPushButton(QStringLiteral("Excel"), this);
  excelButton_->setObjectName(QStringLiteral("excel"));
  excelButton_->setAutoDefault(false);
  excelButton_->setGeometry(du.Rect(0, 0, 50, 14));
  resize(du.Size(383, 233));

  layout_.Init(this);
  layout_.Add(grid_, 15);
  grid_->SetupPageStatsColumns();
  connect(excelButton_, &QPushButton::clicked, this, &PageStatsTab::OnExcel);
}

void PageStatsTab::Reload() {
  std::vector<PageStatsRow> rows;
  rows.reserve(5000);
  try {
    ReadPageStats(rows);
    grid_->FillPageStats(rows);
  } catch (const std::exception& e) {
    ShowMessage(this, QString::fromStdString(e.what()));
  }
}

void PageStatsTab::SetRunActive(bool active) { excelButton_->setEnabled(!active); }

void PageStatsTab::OnExcel() {
  UiExportHost host(this);
  PageStatsExport exporter(host);
  exporter.Export();
}

void PageStatsTab::resizeEvent(QResizeEvent* event) {
  ReportScreen::resizeEvent(event);
  layout_.Apply();
}

}  // namespace hitsieve
