#include "ui/referer_grid.h"

namespace hitsieve {

void RefererGrid::SetupColumns(int mode) {
  mode_ = mode;
  SetColumns(RefererColumns(mode));
}

void RefererGrid::Fill(const std::vector<RefererRow>& rows) {
  SetRows(RenderReferers(rows, mode_, exclusion_));
}

}  // namespace hitsieve
