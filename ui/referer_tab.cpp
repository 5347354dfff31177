#include "ui/referer_tab.h"

namespace hitsieve {

RefererTab::RefererTab(QWidget* parent) : ReportScreen(parent) {}

void RefererTab::Reload() {}

void RefererTab::SetRunActive(bool /*active*/) {}

}  // namespace hitsieve
