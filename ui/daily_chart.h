#ifndef HITSIEVE_UI_DAILY_CHART_H_
#define HITSIEVE_UI_DAILY_CHART_H_

#include <array>
#include <vector>

#include <QChartView>
#include <QDate>

#include "store/report_queries.h"

class QLineSeries;
class QDateTimeAxis;
class QValueAxis;

namespace hitsieve {

// The common statistics screen's picture of the traffic: hosts, visitors, views and searches
// per day, in calendar order. The days are read from their text for the chart only; a day
// text that is not a date is left out, and the title says how many were. A click on a legend
// entry hides or shows its line; hovering a line shows the day and its value. UI thread only.
class DailyChart : public QChartView {
  Q_OBJECT

 public:
  static constexpr int kSeriesCount = 4;

  explicit DailyChart(QWidget* parent = nullptr);

  // Replaces every line with the days of `rows` (in any order).
  void SetDays(const std::vector<CommonStatsRow>& rows);

  QLineSeries* Series(int index) const { return series_[index]; }
  // Days of `rows` whose text is not a date, as of the last SetDays.
  int LeftOut() const { return leftOut_; }
  // What hovering line `index` at chart value `value` shows: the nearest day's date and that
  // line's value. x is in milliseconds since the epoch; each day's point is at its local noon.
  QString HoverText(int index, const QPointF& value) const;

 private:
  void ToggleSeries(int index);

  std::array<QLineSeries*, kSeriesCount> series_{};
  QDateTimeAxis* daysAxis_;
  QValueAxis* valuesAxis_;
  std::vector<QDate> days_;                            // calendar order
  std::array<std::vector<int64_t>, kSeriesCount> values_;  // per line, in the order of days_
  int leftOut_ = 0;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_DAILY_CHART_H_
