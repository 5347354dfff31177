#ifndef HITSIEVE_UI_REFERER_GRID_H_
#define HITSIEVE_UI_REFERER_GRID_H_

#include <string>
#include <vector>

#include "ui/list_ctrl_grid.h"

namespace hitsieve {

// One of the referers screen's two lists: it shows the rows of one type (0 = referring host,
// 1 = whole referer) and hides those whose referer contains the exclusion text. UI thread only.
class RefererGrid : public ListCtrlGrid {
  Q_OBJECT

 public:
  using ListCtrlGrid::ListCtrlGrid;

  // Keeps `mode` for good and sets that mode's columns.
  void SetupColumns(int mode);
  int Mode() const { return mode_; }

  // Stored bytes, matched case-sensitively anywhere in the referer; empty hides nothing.
  void SetExclusionText(const std::string& text) { exclusion_ = text; }

  // Replaces the rows: those of this grid's mode not excluded, in the given order; no totals.
  void Fill(const std::vector<RefererRow>& rows);

 private:
  int mode_ = 0;
  std::string exclusion_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_REFERER_GRID_H_
