#include "ui/page_stats_tab.h"

#include <vector>

#include "export/spreadsheet_export.h"
#include "store/report_queries.h"
#include "ui/list_ctrl_grid.h"

namespace hitsieve {

PageStatsTab::PageStatsTab(QWidget* parent)
    : GridReportScreen(parent, QRect(0, 16, 383, 217), QSize(383, 233)) {
  Grid()->SetupPageStatsColumns();
  AddSearch(150);
}

void PageStatsTab::ReadAndFill() {
  std::vector<PageStatsRow> rows;
  rows.reserve(5000);
  ReadPageStats(rows);
  Grid()->FillPageStats(rows);
}

void PageStatsTab::Export(ExportHost& host) { PageStatsExport(host).Export(); }

}  // namespace hitsieve
