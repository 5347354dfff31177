#include "ui/queries_tab.h"

#include <vector>

#include "export/spreadsheet_export.h"
#include "store/report_queries.h"
#include "ui/list_ctrl_grid.h"

namespace hitsieve {

QueriesTab::QueriesTab(QWidget* parent)
    : GridReportScreen(parent, QRect(0, 17, 341, 209), QSize(341, 226)) {
  Grid()->SetupQueryStatsColumns();
  AddSearch(150);
}

void QueriesTab::ReadAndFill() {
  std::vector<QueryStatsRow> rows;
  rows.reserve(2000);
  ReadQueryStats(rows);
  Grid()->FillQueryStats(rows);
}

void QueriesTab::Export(ExportHost& host) { QueryStatsExport(host).Export(); }

}  // namespace hitsieve
