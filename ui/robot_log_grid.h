#ifndef HITSIEVE_UI_ROBOT_LOG_GRID_H_
#define HITSIEVE_UI_ROBOT_LOG_GRID_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ui/list_ctrl_grid.h"

namespace hitsieve {

// The robots screen's request list. It keeps the rows last read so that choosing one robot
// filters them in memory, and the number of rows per robot for the summary list.
// UI thread only.
class RobotLogGrid : public ListCtrlGrid {
  Q_OBJECT

 public:
  using ListCtrlGrid::ListCtrlGrid;

  void SetupColumns();

  // The stored rows; the robots screen reads the database into them before FillAll.
  std::vector<RobotLogRow>& Rows() { return rows_; }

  // Shows every stored row and recounts the rows per robot.
  void FillAll();
  // Shows the stored rows of robot `name` (every row when empty); the counts stay.
  void FillForRobot(const std::string& name);

  // Robot name (stored bytes) -> rows, in byte order of the name, as of the last FillAll.
  const std::map<std::string, int64_t>& Counts() const { return counts_; }

 private:
  std::vector<RobotLogRow> rows_;
  std::map<std::string, int64_t> counts_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_ROBOT_LOG_GRID_H_
