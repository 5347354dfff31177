#include "ui/queries_tab.h"

namespace hitsieve {

QueriesTab::QueriesTab(QWidget* parent) : ReportScreen(parent) {}

void QueriesTab::Reload() {}

void QueriesTab::SetRunActive(bool /*active*/) {}

}  // namespace hitsieve
