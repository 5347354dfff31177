#include "ui/robot_log_grid.h"

namespace hitsieve {

void RobotLogGrid::SetupColumns() {
  SetColumns(RobotLogColumns(), {CellKind::kPlainText, CellKind::kText, CellKind::kNumber,
                                 CellKind::kPlainText, CellKind::kDay});
}

void RobotLogGrid::FillAll() {
  counts_ = RobotCounts(rows_);
  SetRows(RenderRobotLog(rows_, {}));
}

void RobotLogGrid::FillForRobot(const std::string& name) { SetRows(RenderRobotLog(rows_, name)); }

}  // namespace hitsieve
