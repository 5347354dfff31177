#ifndef HITSIEVE_UI_GRID_REPORT_SCREEN_H_
#define HITSIEVE_UI_GRID_REPORT_SCREEN_H_

#include <QRect>
#include <QSize>

#include "ui/report_screen.h"

class QLineEdit;
class QPushButton;

namespace hitsieve {

class ExportHost;
class ListCtrlGrid;

// A report screen made of one grid under an "Excel" button. The grid follows the screen's size;
// the button stays in the top-left corner. Reload reads the rows and fills the grid; a failed
// read is shown in a message box and the previous rows stay. A screen of this kind states only
// its rectangles, its columns (set up in its constructor), its read-and-fill and its export.
// UI thread only.
class GridReportScreen : public ReportScreen {
  Q_OBJECT

 public:
  void Reload() override;
  // The export reads the database, which a run is writing: "Excel" waits for the run's end.
  void SetRunActive(bool active) override;

  ListCtrlGrid* Grid() const { return grid_; }
  // The search field of screens that have one, else null.
  QLineEdit* FilterEdit() const { return filterEdit_; }
  void OnExcel();

 protected:
  // `grid` is the grid's rectangle and `size` the screen's size, both in dialog units.
  GridReportScreen(QWidget* parent, const QRect& grid, const QSize& size);

  // Adds a search field at the top right, `width` dialog units wide, and lets the grid's first
  // column take the width that the number columns leave.
  void AddSearch(int width);

  // Reads the report's rows and hands them to Grid(); throws on a failed read.
  virtual void ReadAndFill() = 0;
  // Copies the report into a workbook, reporting through `host`.
  virtual void Export(ExportHost& host) = 0;

 private:
  ListCtrlGrid* grid_;
  QPushButton* excelButton_;
  QLineEdit* filterEdit_ = nullptr;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_GRID_REPORT_SCREEN_H_
