#ifndef HITSIEVE_UI_REPORT_SCREEN_H_
#define HITSIEVE_UI_REPORT_SCREEN_H_

#include <initializer_list>

#include <QWidget>

#include "ui/anchor_layout.h"
#include "ui/reloadable.h"

class QKeyEvent;
class QLineEdit;
class QPushButton;
class QResizeEvent;

namespace hitsieve {

class ListCtrlGrid;

// Base of the screens shown in the main window's frame. Enter and Escape inside a screen do
// nothing (they would otherwise reach the main window and close it). A screen places its
// controls at template rectangles, then records them in Layout(), which every resize applies.
// Owned by MainDlg; UI thread only.
class ReportScreen : public QWidget, public Reloadable {
 public:
  explicit ReportScreen(QWidget* parent) : QWidget(parent) {}

 protected:
  AnchorLayout& Layout() { return layout_; }

  // A push button of this screen at `rect` (pixels) that Enter does not press.
  QPushButton* AddButton(const QString& text, const QString& name, const QRect& rect);
  // A search field at `rect` (pixels) that shows, in each of `grids`, only the rows whose text
  // contains what is typed. Its object name is "filter".
  QLineEdit* AddFilterEdit(const QRect& rect, std::initializer_list<ListCtrlGrid*> grids);

  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  AnchorLayout layout_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_REPORT_SCREEN_H_
