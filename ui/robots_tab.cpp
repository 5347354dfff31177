#include "ui/robots_tab.h"

namespace hitsieve {

RobotsTab::RobotsTab(QWidget* parent) : ReportScreen(parent) {}

void RobotsTab::Reload() {}

void RobotsTab::SetRunActive(bool /*active*/) {}

}  // namespace hitsieve
