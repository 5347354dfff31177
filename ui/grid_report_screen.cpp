#include "ui/grid_report_screen.h"

#include <exception>

#include <QLineEdit>
#include <QPushButton>

#include "ui/list_ctrl_grid.h"
#include "ui/ui_export_host.h"
#include "ui/ui_seams.h"

namespace hitsieve {

GridReportScreen::GridReportScreen(QWidget* parent, const QRect& grid, const QSize& size)
    : ReportScreen(parent) {
  const DialogUnits du(this);
  grid_ = new ListCtrlGrid(this);
  grid_->setObjectName(QStringLiteral("grid"));
  grid_->setGeometry(du.Rect(grid.x(), grid.y(), grid.width(), grid.height()));
  excelButton_ = AddButton(QStringLiteral("Excel"), QStringLiteral("excel"), du.Rect(0, 0, 50, 14));
  resize(du.Size(size.width(), size.height()));

  using enum AnchorLayout::Flags;
  Layout().Init(this);
  Layout().Add(grid_, ANCHOR_ALL);
  connect(excelButton_, &QPushButton::clicked, this, &GridReportScreen::OnExcel);
}

void GridReportScreen::AddSearch(int width) {
  // REQUIRES: the screen still has its template size, which the layout records.
  const DialogUnits du(this);
  filterEdit_ = AddFilterEdit(QRect(this->width() - du.X(width), 0, du.X(width), du.Y(14)),
                              {grid_});
  Layout().Add(filterEdit_, AnchorLayout::ANCHOR_TOP | AnchorLayout::ANCHOR_RIGHT);
  grid_->FitColumnsToWidth(0);
}

void GridReportScreen::Reload() {
  try {
    ReadAndFill();
  } catch (const std::exception& e) {
    ShowMessage(this, QString::fromStdString(e.what()));
  }
}

void GridReportScreen::SetRunActive(bool active) { excelButton_->setEnabled(!active); }

void GridReportScreen::OnExcel() {
  UiExportHost host(this);
  Export(host);
}

}  // namespace hitsieve
