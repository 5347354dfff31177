#ifndef HITSIEVE_UI_ANALYSE_PROP_DLG_H_
#define HITSIEVE_UI_ANALYSE_PROP_DLG_H_

#include <QDialog>

#include "engine/page_filter.h"

class QLineEdit;

namespace hitsieve {

// Asks which page extensions a run counts. Opens with `text` (the list used last, the default
// list at first); "Анализ" fills the target set from the text as the user left it, "Отмена"
// leaves the set alone.
class AnalysePropDlg : public QDialog {
  Q_OBJECT

 public:
  // REQUIRES: `target` outlives the dialog.
  AnalysePropDlg(ExtensionSet& target, const QString& text, QWidget* parent = nullptr);

  QLineEdit* ExtensionEdit() const { return edit_; }

  void accept() override;

 private:
  ExtensionSet& target_;
  QLineEdit* edit_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_ANALYSE_PROP_DLG_H_
