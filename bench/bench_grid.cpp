// Refills the common-statistics grid with 100 000 days, as a reload after a long run would,
// and prints the time per refill (rendering the cells, one model reset and the repaint). Then,
// on 100 000 pages: a header click's sort by a text and by a number column, each keystroke of
// a search typed and erased, and the daily chart of ten years (3 650 days), each with the
// repaint that shows it. Runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/resource.h>

#include <algorithm>
#include <functional>

#include <QApplication>
#include <QDate>

#include "store/report_queries.h"
#include "ui/daily_chart.h"
#include "ui/list_ctrl_grid.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Timing {
  double mean_ms = 0, worst_ms = 0;
};

// Runs `step` `times` times, each followed by the repaint that shows its result.
Timing Measure(int times, QWidget& shown, const std::function<void(int)>& step) {
  Timing timing;
  for (int i = 0; i < times; ++i) {
    const Clock::time_point start = Clock::now();
    step(i);
    shown.repaint();
    QApplication::processEvents();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    timing.mean_ms += ms / times;
    timing.worst_ms = std::max(timing.worst_ms, ms);
  }
  return timing;
}

bool SortsAndFilters() {
  constexpr int kPages = 100000;
  std::vector<hitsieve::PageStatsRow> pages;
  pages.reserve(kPages);
  for (int i = 0; i < kPages; ++i) {
    hitsieve::PageStatsRow row{i + 1, "/section" + std::to_string(i % 97) + "/page" +
                                          std::to_string(i * 7919 % kPages) + ".html",
                               (i * 31) % 5000, i % 13, static_cast<int64_t>(i) * 4096, {}};
    pages.push_back(row);
  }
  hitsieve::ListCtrlGrid grid;
  grid.SetupPageStatsColumns();
  grid.resize(1000, 600);
  grid.show();
  grid.FillPageStats(pages);
  QApplication::processEvents();

  const Timing by_text = Measure(6, grid, [&](int) { grid.SortByColumnClicked(0); });
  const Timing by_number = Measure(6, grid, [&](int) { grid.SortByColumnClicked(1); });
  const Timing by_megabytes = Measure(6, grid, [&](int) { grid.SortByColumnClicked(3); });
  std::printf("sort, %d page rows: by page %.1f ms mean (%.1f worst), by visits %.1f ms mean "
              "(%.1f worst), by traffic %.1f ms mean (%.1f worst)\n",
              kPages, by_text.mean_ms, by_text.worst_ms, by_number.mean_ms, by_number.worst_ms,
              by_megabytes.mean_ms, by_megabytes.worst_ms);

  // Typed and erased one character at a time, while the list is sorted by visits.
  const QString typed = QStringLiteral("SECTION4/PAGE1");
  const int keys = static_cast<int>(typed.size());
  const Timing typing = Measure(2 * keys, grid, [&](int i) {
    const int length = i < keys ? i + 1 : 2 * keys - i - 1;
    grid.SetFilterText(typed.left(length));
  });
  std::printf("search keystroke, %d page rows: %.1f ms mean, %.1f ms worst (%d keystrokes)\n",
              kPages, typing.mean_ms, typing.worst_ms, 2 * keys);
  return grid.Model()->RowCount() == kPages + 1;
}

bool ChartOfTenYears() {
  constexpr int kDays = 3650;
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::vector<hitsieve::CommonStatsRow> days;
  const QDate first(2015, 1, 1);
  for (int i = 0; i < kDays; ++i) {
    const QDate day = first.addDays(i);
    char text[16];
    std::snprintf(text, sizeof text, "%02d/%s/%04d", day.day(), kMonths[day.month() - 1],
                  day.year());
    days.push_back({i + 1, text, 100 + i % 300, 150 + i % 400, 400 + (i * 37) % 900, i % 50});
  }
  hitsieve::DailyChart chart;
  chart.resize(800, 250);
  chart.show();
  QApplication::processEvents();
  const Timing drawing = Measure(5, chart, [&](int) { chart.SetDays(days); });

  std::printf("daily chart, %d days: %.1f ms mean, %.1f ms worst (set and drawn, 5 times)\n",
              kDays, drawing.mean_ms, drawing.worst_ms);
  return chart.LeftOut() == 0;
}

}  // namespace

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
  const bool refilled = grid.Model()->RowCount() == kRows + 1;
  const bool sorted = SortsAndFilters();
  const bool charted = ChartOfTenYears();
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak memory: %.1f MB\n", usage.ru_maxrss / 1024.0);
  return refilled && sorted && charted ? 0 : 1;
}
