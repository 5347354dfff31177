#ifndef HITSIEVE_UI_ABOUT_DLG_H_
#define HITSIEVE_UI_ABOUT_DLG_H_

#include <QDialog>

namespace hitsieve {

// "О программе": the icon, the version line, three credit lines and the statistics file the
// window shows. Shown modally.
class AboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDlg(QWidget* parent = nullptr);
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_ABOUT_DLG_H_
