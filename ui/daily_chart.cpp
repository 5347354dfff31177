#include "ui/daily_chart.h"

#include <algorithm>
#include <numeric>

#include <QChart>
#include <QGraphicsLayout>
#include <QCursor>
#include <QDateTimeAxis>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QToolTip>
#include <QValueAxis>

#include "export/report_lists.h"
#include "ui/list_model.h"

namespace hitsieve {

namespace {

constexpr qint64 kDayMs = 24 * 3600 * 1000;

// Noon of each day in local time, from one offset for the whole chart: converting every day on
// its own costs more than the rest of the chart, and an hour of summer time never moves noon
// into another day.
class DayPlacer {
 public:
  explicit DayPlacer(const QDate& any) : offset_ms_(any.startOfDay().offsetFromUtc() * 1000LL) {}
  double X(const QDate& day) const {
    return static_cast<double>((day.toJulianDay() - kEpochDay) * kDayMs + kDayMs / 2 - offset_ms_);
  }

 private:
  static constexpr qint64 kEpochDay = 2440588;  // 1970-01-01
  qint64 offset_ms_;
};

QDate DayDate(const std::string& text) {
  const int number = DayNumber(text);
  if (number < 0) return QDate();
  return QDate(number / 10000, number / 100 % 100, number % 100);  // invalid for 31/Feb
}

}  // namespace

DailyChart::DailyChart(QWidget* parent) : QChartView(parent) {
  auto* chart = new QChart();
  chart->legend()->setAlignment(Qt::AlignTop);
  chart->setMargins(QMargins(0, 0, 0, 0));
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  chart->setBackgroundRoundness(0);
  daysAxis_ = new QDateTimeAxis(chart);
  daysAxis_->setFormat(QStringLiteral("dd.MM.yyyy"));
  daysAxis_->setTickCount(6);
  valuesAxis_ = new QValueAxis(chart);
  valuesAxis_->setLabelFormat(QStringLiteral("%d"));
  valuesAxis_->setMin(0);
  chart->addAxis(daysAxis_, Qt::AlignBottom);
  chart->addAxis(valuesAxis_, Qt::AlignLeft);

  // The lines carry the names of the grid's columns, in the grid's order.
  const ListColumns& columns = CommonStatsColumns();
  for (int i = 0; i < kSeriesCount; ++i) {
    auto* series = new QLineSeries(chart);
    series->setName(ColumnTitle(columns[i + 1].title));
    chart->addSeries(series);
    series->attachAxis(daysAxis_);
    series->attachAxis(valuesAxis_);
    connect(series, &QLineSeries::hovered, this, [this, i](const QPointF& point, bool state) {
      if (state) {
        QToolTip::showText(QCursor::pos(), HoverText(i, point), this);
      } else {
        QToolTip::hideText();
      }
    });
    series_[i] = series;
  }
  for (int i = 0; i < kSeriesCount; ++i) {
    const QList<QLegendMarker*> markers = chart->legend()->markers(series_[i]);
    for (QLegendMarker* marker : markers)
      connect(marker, &QLegendMarker::clicked, this, [this, i] { ToggleSeries(i); });
  }
  setChart(chart);
  setRenderHint(QPainter::Antialiasing, false);
  SetDays({});
}

void DailyChart::SetDays(const std::vector<CommonStatsRow>& rows) {
  std::vector<std::pair<QDate, const CommonStatsRow*>> dated;
  dated.reserve(rows.size());
  leftOut_ = 0;
  for (const CommonStatsRow& row : rows) {
    const QDate day = DayDate(row.date);
    if (day.isValid()) {
      dated.emplace_back(day, &row);
    } else {
      ++leftOut_;
    }
  }
  std::stable_sort(dated.begin(), dated.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });

  days_.clear();
  for (auto& values : values_) values.clear();
  std::array<QList<QPointF>, kSeriesCount> points;
  for (auto& list : points) list.reserve(static_cast<qsizetype>(dated.size()));
  const DayPlacer placer(dated.empty() ? QDate::currentDate() : dated.front().first);
  int64_t highest = 0;
  for (const auto& [day, row] : dated) {
    days_.push_back(day);
    const int64_t values[kSeriesCount] = {row->ips, row->visitors, row->views, row->searches};
    const double x = placer.X(day);
    for (int i = 0; i < kSeriesCount; ++i) {
      values_[i].push_back(values[i]);
      points[i].append(QPointF(x, static_cast<double>(values[i])));
      highest = std::max(highest, values[i]);
    }
  }
  // The ranges first, so that the lines are laid out once, for the new ranges.
  const QDate first = days_.empty() ? QDate::currentDate() : days_.front();
  const QDate last = days_.empty() ? first : days_.back();
  daysAxis_->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(placer.X(first))),
                      QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(
                          placer.X(last == first ? last.addDays(1) : last))));
  valuesAxis_->setRange(0, static_cast<double>(std::max<int64_t>(highest, 1)));
  valuesAxis_->applyNiceNumbers();
  // A few weeks show each day's point and smooth lines; years of days stay quick to draw.
  const bool few = days_.size() <= 62;
  for (int i = 0; i < kSeriesCount; ++i) {
    if (series_[i]->pointsVisible() != few) series_[i]->setPointsVisible(few);
    series_[i]->replace(points[i]);
  }
  setRenderHint(QPainter::Antialiasing, days_.size() <= 400);
  chart()->setTitle(leftOut_ == 0 ? QString()
                                  : tr("Не показано дней с нераспознанной датой: %1")
                                        .arg(leftOut_));
}

QString DailyChart::HoverText(int index, const QPointF& value) const {
  if (days_.empty()) return QString();
  // Days sit at noon: the nearest day is the one whose date the point has.
  const QDate wanted = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(value.x())).date();
  auto it = std::lower_bound(days_.begin(), days_.end(), wanted);
  if (it == days_.end()) --it;
  if (it != days_.begin() && std::abs(wanted.daysTo(*std::prev(it))) < std::abs(wanted.daysTo(*it)))
    --it;
  const size_t at = static_cast<size_t>(it - days_.begin());
  return QStringLiteral("%1\n%2: %3")
      .arg(it->toString(QStringLiteral("dd.MM.yyyy")), series_[index]->name())
      .arg(values_[index][at]);
}

// The legend entry stays, greyed, so that the line can be brought back.
void DailyChart::ToggleSeries(int index) {
  QLineSeries* series = series_[index];
  series->setVisible(!series->isVisible());
  for (QLegendMarker* marker : chart()->legend()->markers(series)) {
    marker->setVisible(true);
    QColor color = marker->labelBrush().color();
    color.setAlphaF(series->isVisible() ? 1.0 : 0.4);
    marker->setLabelBrush(color);
  }
}

}  // namespace hitsieve
