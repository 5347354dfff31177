#ifndef HITSIEVE_UI_ROBOTS_TAB_H_
#define HITSIEVE_UI_ROBOTS_TAB_H_

#include <string>
#include <vector>

#include "ui/report_screen.h"

class QComboBox;
class QLineEdit;

namespace hitsieve {

class ListCtrlGrid;
class RobotLogGrid;

// "Поисковики": the requests of search-engine robots in the last run. On top one row per robot
// with its number of requests, below the requests themselves; the drop-down restricts the
// requests to one robot ("Все" shows every one) without reading the database again. Every
// reload puts the choice back at "Все". Owned by MainDlg; UI thread only.
class RobotsTab : public ReportScreen {
  Q_OBJECT

 public:
  explicit RobotsTab(QWidget* parent);

  void Reload() override;

  RobotLogGrid* LogGrid() const { return logGrid_; }
  ListCtrlGrid* SummaryGrid() const { return summaryGrid_; }
  QComboBox* RobotChoice() const { return robotChoice_; }
  // Shows only the requests that contain its text, within the chosen robot's.
  QLineEdit* FilterEdit() const { return filterEdit_; }
  // The robot of each drop-down item, in item order; "" stands for "Все".
  const std::vector<std::string>& Names() const { return names_; }

  // The user chose item `index` of the drop-down.
  void OnRobotChosen(int index);

 private:
  void FillRobotChoice();

  RobotLogGrid* logGrid_;
  ListCtrlGrid* summaryGrid_;
  QComboBox* robotChoice_;
  QLineEdit* filterEdit_;
  std::vector<std::string> names_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_ROBOTS_TAB_H_
