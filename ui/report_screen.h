#ifndef HITSIEVE_UI_REPORT_SCREEN_H_
#define HITSIEVE_UI_REPORT_SCREEN_H_

#include <QWidget>

#include "ui/reloadable.h"

class QKeyEvent;

namespace hitsieve {

// Base of the screens shown in the main window's frame. Enter and Escape inside a screen do
// nothing (they would otherwise reach the main window and close it). Owned by MainDlg.
class ReportScreen : public QWidget, public Reloadable {
 public:
  explicit ReportScreen(QWidget* parent) : QWidget(parent) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_REPORT_SCREEN_H_
