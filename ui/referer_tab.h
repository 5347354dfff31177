#ifndef HITSIEVE_UI_REFERER_TAB_H_
#define HITSIEVE_UI_REFERER_TAB_H_

#include "ui/report_screen.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace hitsieve {

class RefererGrid;

// "Рефереры": the referring hosts (left) and whole referers (right) of the last run, most
// frequent first. "Применить" hides, in both lists, every referer that contains the edit's
// text and rereads the database; the text stays in force for the reloads after later runs
// until another one is applied. Owned by MainDlg; UI thread only.
class RefererTab : public ReportScreen {
  Q_OBJECT

 public:
  explicit RefererTab(QWidget* parent);

  void Reload() override;
  // "Применить" rereads the database, which a run is writing: it waits for the run's end.
  void SetRunActive(bool active) override;

  RefererGrid* HostGrid() const { return hostGrid_; }
  RefererGrid* PageGrid() const { return pageGrid_; }
  QLineEdit* ExcludeEdit() const { return excludeEdit_; }
  // Shows, in both lists, only the rows that contain its text.
  QLineEdit* FilterEdit() const { return filterEdit_; }
  void OnApply();

 private:
  void SetExclusion(const QString& text);

  RefererGrid* hostGrid_;  // rows of type 0
  RefererGrid* pageGrid_;  // rows of type 1
  QLabel* excludeLabel_;
  QLineEdit* excludeEdit_;
  QLineEdit* filterEdit_;
  QPushButton* applyButton_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_REFERER_TAB_H_
