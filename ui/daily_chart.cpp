#include "ui/daily_chart.h"

#include <algorithm>
#include <numeric>

#include <QChart>
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

qint64 Milliseconds(const QDate& day) { return day.startOfDay().toMSecsSinceEpoch(); }

QDate DayDate(const std::string& text) {
  const int number = DayNumber(text);
  if (number < 0) return QDate();
  return QDate(number / 10000, number / 100 % 100, number % 100);  // invalid for 31/Feb
}

}  // namespace

DailyChart::DailyChart(QWidget* parent) : QChartView(parent) {
  auto* chart = new QChart();
  chart->legend()->setAlignment(Qt::AlignTop);
  chart->setMargins(QMargins(4, 4, 4, 4));
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
  int64_t highest = 0;
  for (const auto& [day, row] : dated) {
    days_.push_back(day);
    const int64_t values[kSeriesCount] = {row->ips, row->visitors, row->views, row->searches};
    const double x = static_cast<double>(Milliseconds(day));
    for (int i = 0; i < kSeriesCount; ++i) {
      values_[i].push_back(values[i]);
      points[i].append(QPointF(x, static_cast<double>(values[i])));
      highest = std::max(highest, values[i]);
    }
  }
  for (int i = 0; i < kSeriesCount; ++i) series_[i]->replace(points[i]);

  const QDate first = days_.empty() ? QDate::currentDate() : days_.front();
  const QDate last = days_.empty() ? first : days_.back();
  daysAxis_->setRange(first.startOfDay(), (last == first ? last.addDays(1) : last).startOfDay());
  valuesAxis_->setRange(0, static_cast<double>(std::max<int64_t>(highest, 1)));
  valuesAxis_->applyNiceNumbers();
  chart()->setTitle(leftOut_ == 0 ? QString()
                                  : tr("Не показано дней с нераспознанной датой: %1")
                                        .arg(leftOut_));
}

QString DailyChart::HoverText(int index, const QPointF& value) const {
  if (days_.empty()) return QString();
  const QDate wanted = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(value.x()) +
                                                      12 * 3600 * 1000)
                           .date();
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
