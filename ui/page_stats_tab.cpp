#include "ui/page_stats_tab.h"

namespace hitsieve {

PageStatsTab::PageStatsTab(QWidget* parent) : ReportScreen(parent) {}

void PageStatsTab::Reload() {}

void PageStatsTab::SetRunActive(bool /*active*/) {}

}  // namespace hitsieve
