#include "ui/common_stat_dlg.h"

#include <vector>

#include "export/spreadsheet_export.h"
#include "store/report_queries.h"
#include "ui/list_ctrl_grid.h"

namespace hitsieve {

CommonStatDlg::CommonStatDlg(QWidget* parent)
    : GridReportScreen(parent, QRect(0, 17, 299, 193), QSize(299, 210)) {
  Grid()->SetupCommonStatsColumns();
}

void CommonStatDlg::ReadAndFill() {
  std::vector<CommonStatsRow> rows;
  rows.reserve(1000);
  ReadCommonStats(rows);
  Grid()->FillCommonStats(rows);
}

void CommonStatDlg::Export(ExportHost& host) { CommonStatsExport(host).Export(); }

}  // namespace hitsieve
