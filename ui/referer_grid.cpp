#include "ui/referer_grid.h"

namespace hitsieve {

void RefererGrid::SetupColumns(int mode) {
  mode_ = mode;
  // Hosts are names; whole referers are addresses whose tooltip shows them decoded.
  SetColumns(RefererColumns(mode), {mode == 0 ? CellKind::kPlainText : CellKind::kText,
                                    CellKind::kNumber});
}

void RefererGrid::Fill(const std::vector<RefererRow>& rows) {
  SetRows(RenderReferers(rows, mode_, exclusion_));
}

}  // namespace hitsieve
