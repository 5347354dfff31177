#include "ui/robots_tab.h"

#include <algorithm>
#include <exception>
#include <utility>

#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

#include "engine/text.h"
#include "store/report_queries.h"
#include "ui/list_model.h"
#include "ui/robot_log_grid.h"
#include "ui/ui_seams.h"

namespace hitsieve {

RobotsTab::RobotsTab(QWidget* parent) : ReportScreen(parent) {
  const DialogUnits du(this);
  summaryGrid_ = new ListCtrlGrid(this);
  summaryGrid_->setObjectName(QStringLiteral("summary"));
  summaryGrid_->setGeometry(du.Rect(0, 0, 411, 85));
  robotChoice_ = new QComboBox(this);
  robotChoice_->setObjectName(QStringLiteral("robot"));
  // The template's height includes the dropped-down list; the closed box keeps its own.
  const QRect choice = du.Rect(307, 88, 104, 14);
  robotChoice_->setGeometry(choice.x(), choice.y(), choice.width(),
                            std::max(choice.height(), robotChoice_->sizeHint().height()));
  logGrid_ = new RobotLogGrid(this);
  logGrid_->setObjectName(QStringLiteral("log"));
  logGrid_->setGeometry(du.Rect(0, 103, 411, 183));
  resize(du.Size(411, 286));

  using enum AnchorLayout::Flags;
  Layout().Init(this);
  Layout().Add(summaryGrid_, ANCHOR_TOP | ANCHOR_LEFT | ANCHOR_RIGHT);
  Layout().Add(robotChoice_, ANCHOR_TOP | ANCHOR_RIGHT);
  Layout().Add(logGrid_, ANCHOR_ALL);
  filterEdit_ = AddFilterEdit(du.Rect(0, 88, 150, 14), {logGrid_});
  Layout().Add(filterEdit_, ANCHOR_TOP | ANCHOR_LEFT);
  logGrid_->SetupColumns();
  summaryGrid_->SetupRobotSummaryColumns();
  // The address column is sized for a small dialog font; with a larger one it still shows a
  // whole IPv4 address.
  const int ipColumn = 3;
  const int ipWidth =
      logGrid_->fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255")) + 12;
  logGrid_->setColumnWidth(ipColumn, std::max(logGrid_->columnWidth(ipColumn), ipWidth));
  // Only a choice of the user filters; the reload's own changes of the items do not.
  connect(robotChoice_, &QComboBox::activated, this, &RobotsTab::OnRobotChosen);
}

void RobotsTab::Reload() {
  // Read into a vector of our own and hand it over only when complete: after a failed read the
  // drop-down keeps filtering the rows that the lists still show.
  std::vector<RobotLogRow> rows;
  rows.reserve(10000);
  try {
    ReadRobotLog(rows);
    logGrid_->Rows() = std::move(rows);
    logGrid_->FillAll();
    summaryGrid_->FillRobotSummary(*logGrid_);
    FillRobotChoice();
  } catch (const std::exception& e) {
    ShowMessage(this, QString::fromStdString(e.what()));
  }
}

void RobotsTab::FillRobotChoice() {
  const QSignalBlocker blocker(robotChoice_);
  robotChoice_->clear();
  names_.clear();
  robotChoice_->addItem(tr("Все"));
  names_.emplace_back();
  for (const auto& [name, count] : logGrid_->Counts()) {
    robotChoice_->addItem(DisplayText(Cp1251ToUtf8(name)));
    names_.push_back(name);
  }
  robotChoice_->setCurrentIndex(0);
}

void RobotsTab::OnRobotChosen(int index) {
  if (index < 0 || index >= static_cast<int>(names_.size())) {
    ShowMessage(this, QStringLiteral("Fatal error: Unknown index"));
    return;
  }
  try {
    logGrid_->FillForRobot(names_[index]);
  } catch (const std::exception& e) {
    ShowMessage(this, QString::fromStdString(e.what()));
  }
}

}  // namespace hitsieve
