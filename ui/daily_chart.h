#ifndef HITSIEVE_UI_DAILY_CHART_H_
#define HITSIEVE_UI_DAILY_CHART_H_

#include <array>
#include <vector>

#include <QChartView>
#include <QDate>

#include "store/report_queries.h"
#include "ui/day_axis.h"

class QCategoryAxis;
class QLabel;
class QLineSeries;
class QValueAxis;

namespace hitsieve {

// The common statistics screen's picture of the traffic: hosts, visitors, views and searches
// per day, in calendar order. The days are read from their text for the chart only; a day
// text that is not a date is left out, and so is a day more than a year away from the run of
// days that holds the traffic (a stray 01/Jan/0000 would squeeze every real day into a few
// pixels); the title says how many of each were. The axis labels sit under days, as many as
// the width takes. A click on a legend entry hides or shows its line; the pointer over the
// plot shows the nearest day and its values. UI thread only.
class DailyChart : public QChartView {
  Q_OBJECT

 public:
  static constexpr int kSeriesCount = 4;

  explicit DailyChart(QWidget* parent = nullptr);

  // Replaces every line with the days of `rows` (in any order).
  void SetDays(const std::vector<CommonStatsRow>& rows);

  QLineSeries* Series(int index) const { return series_[index]; }
  // Days of `rows` left out of the chart, as of the last SetDays: not a date, or far away.
  int LeftOut() const { return unrecognised_ + farAway_; }
  int FarAway() const { return farAway_; }
  // The days the axis labels, in calendar order, and the labels' texts.
  const AxisDays& LabelDays() const { return labels_; }
  QStringList LabelTexts() const;
  // What hovering line `index` at chart value `value` shows: the nearest day's date and that
  // line's value. x is in milliseconds since the epoch; each day's point is at its local noon.
  QString HoverText(int index, const QPointF& value) const;
  // What the pointer at chart value `value` shows: the nearest day and every visible line's
  // value there.
  QString HoverSummary(const QPointF& value) const;
  // The label that follows the pointer over the plot.
  QLabel* HoverLabel() const { return hover_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void ToggleSeries(int index);
  void PlaceLabels();
  // Where `day`'s points sit: its local noon, in milliseconds since the epoch.
  double DayX(const QDate& day) const;
  // Index into days_ of the day nearest to x (ms); REQUIRES: days_ not empty.
  size_t NearestDay(double x) const;

  std::array<QLineSeries*, kSeriesCount> series_{};
  QCategoryAxis* daysAxis_;
  QValueAxis* valuesAxis_;
  QLabel* hover_;
  std::vector<QDate> days_;                                // calendar order
  std::array<std::vector<int64_t>, kSeriesCount> values_;  // per line, in the order of days_
  AxisDays labels_;
  qint64 offsetMs_ = 0;  // local time's offset from UTC, for the whole chart
  int unrecognised_ = 0;
  int farAway_ = 0;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_DAILY_CHART_H_
