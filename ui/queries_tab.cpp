#include "ui/queries_tab.h"

#include <exception>
#include <vector>

#include <QPushButton>

#include "export/spreadsheet_export.h"
#include "store/report_queries.h"
#include "ui/list_ctrl_grid.h"
#include "ui/ui_export_host.h"
#include "ui/ui_seams.h"

namespace hitsieve {

QueriesTab::QueriesTab(QWidget* parent) : ReportScreen(parent) {
  const DialogUnits du(this);
  grid_ = new ListCtrlGrid(this);
  grid_->setObjectName(QStringLiteral("grid"));
  grid_->setGeometry(du.Rect(0, 17, 341, 209));
  excelButton_ = new QPushButton(QStringLiteral("Excel"), this);
  excelButton_->setObjectName(QStringLiteral("excel"));
  excelButton_->setAutoDefault(false);
  excelButton_->setGeometry(du.Rect(0, 0, 50, 14));
  resize(du.Size(341, 226));

  layout_.Init(this);
  layout_.Add(grid_, 15);
  grid_->SetupQueryStatsColumns();
  connect(excelButton_, &QPushButton::clicked, this, &QueriesTab::OnExcel);
}

void QueriesTab::Reload() {
  std::vector<QueryStatsRow> rows;
  rows.reserve(2000);
  try {
    ReadQueryStats(rows);
    grid_->FillQueryStats(rows);
  } catch (const std::exception& e) {
    ShowMessage(this, QString::fromStdString(e.what()));
  }
}

void QueriesTab::SetRunActive(bool active) { excelButton_->setEnabled(!active); }

void QueriesTab::OnExcel() {
  UiExportHost host(this);
  QueryStatsExport exporter(host);
  exporter.Export();
}

void QueriesTab::resizeEvent(QResizeEvent* event) {
  ReportScreen::resizeEvent(event);
  layout_.Apply();
}

}  // namespace hitsieve
