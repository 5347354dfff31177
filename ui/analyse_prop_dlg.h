#ifndef HITSIEVE_UI_ANALYSE_PROP_DLG_H_
#define HITSIEVE_UI_ANALYSE_PROP_DLG_H_

#include <QDialog>

#include "engine/page_filter.h"

class QLineEdit;

namespace hitsieve {

// Asks which page extensions a run counts. Always opens with the default list; "Анализ" fills
// the target set from the text as the user left it, "Отмена" leaves the set alone.
class AnalysePropDlg : public QDialog {
  Q_OBJECT

 public:
  // REQUIRES: `target` outlives the dialog.
  AnalysePropDlg(ExtensionSet& target, QWidget* parent = nullptr);

  QLineEdit* ExtensionEdit() const { return edit_; }

  void accept() override;

 private:
  ExtensionSet& target_;
  QLineEdit* edit_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_ANALYSE_PROP_DLG_H_
