// Refills the common-statistics grid with 100 000 days, as a reload after a long run would,
// and prints the time per refill (rendering the cells, one model reset and the repaint).
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <QApplication>

#include "store/report_queries.h"
#include "ui/list_ctrl_grid.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  constexpr int kRows = 100000;
  constexpr int kRefills = 10;

  std::vector<hitsieve::CommonStatsRow> rows;
  rows.reserve(kRows);
  for (int i = 0; i < kRows; ++i) {
    const std::string day = std::to_string(10 + i % 18) + "/Oct/" + std::to_string(1000 + i);
    rows.push_back({i + 1, day, i % 500, i % 700, i % 900, i % 7});
  }

  hitsieve::ListCtrlGrid grid;
  grid.SetupCommonStatsColumns();
  grid.resize(800, 600);
  grid.show();
  QApplication::processEvents();

  using Clock = std::chrono::steady_clock;
  double total_ms = 0, best_ms = 1e18;
  for (int i = 0; i < kRefills; ++i) {
    const Clock::time_point start = Clock::now();
    grid.FillCommonStats(rows);
    grid.repaint();
    QApplication::processEvents();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    total_ms += ms;
    best_ms = std::min(best_ms, ms);
  }
  std::printf("grid refill, %d common-statistics rows: %.1f ms mean, %.1f ms best (%d refills)\n",
              kRows, total_ms / kRefills, best_ms, kRefills);
  return grid.Model()->RowCount() == kRows + 1 ? 0 : 1;
}
