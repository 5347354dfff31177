#ifndef HITSIEVE_UI_QUERIES_TAB_H_
#define HITSIEVE_UI_QUERIES_TAB_H_

#include "ui/report_screen.h"

namespace hitsieve {

// The "Поисковые запросы" screen. Owned by MainDlg; UI thread only. Not built yet: it shows nothing.
class QueriesTab : public ReportScreen {
  Q_OBJECT

 public:
  explicit QueriesTab(QWidget* parent);

  void Reload() override;
  void SetRunActive(bool active) override;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_QUERIES_TAB_H_
