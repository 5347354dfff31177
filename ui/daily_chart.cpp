#include "ui/daily_chart.h"

#include <algorithm>
#include <cmath>

#include <QCategoryAxis>
#include <QChart>
#include <QGraphicsLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QValueAxis>

#include "export/report_lists.h"
#include "ui/list_model.h"

namespace hitsieve {

namespace {

constexpr qint64 kDayMs = 24 * 3600 * 1000;
constexpr qint64 kEpochDay = 2440588;  // 1970-01-01
// Room beside the plot for the values' labels, and between two day labels.
constexpr int kValueAxisRoom = 60;
constexpr int kLabelGap = 16;

}  // namespace

DailyChart::DailyChart(QWidget* parent) : QChartView(parent) {
  auto* chart = new QChart();
  chart->legend()->setAlignment(Qt::AlignTop);
  chart->setMargins(QMargins(0, 0, 0, 0));
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  chart->setBackgroundRoundness(0);
  daysAxis_ = new QCategoryAxis(chart);
  daysAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
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
    series_[i] = series;
  }
  for (int i = 0; i < kSeriesCount; ++i) {
    const QList<QLegendMarker*> markers = chart->legend()->markers(series_[i]);
    for (QLegendMarker* marker : markers)
      connect(marker, &QLegendMarker::clicked, this, [this, i] { ToggleSeries(i); });
  }
  setChart(chart);
  setRenderHint(QPainter::Antialiasing, false);

  // The values under the pointer, anywhere over the plot: a line one pixel wide is too thin a
  // target to find by hovering it.
  viewport()->setMouseTracking(true);
  hover_ = new QLabel(viewport());
  hover_->setObjectName(QStringLiteral("hover"));
  hover_->setTextFormat(Qt::PlainText);
  hover_->setFrameShape(QFrame::Box);
  hover_->setAutoFillBackground(true);
  hover_->setMargin(3);
  hover_->setAttribute(Qt::WA_TransparentForMouseEvents);
  hover_->hide();
  SetDays({});
}

void DailyChart::SetDays(const std::vector<CommonStatsRow>& rows) {
  std::vector<std::pair<QDate, const CommonStatsRow*>> dated;
  dated.reserve(rows.size());
  unrecognised_ = 0;
  for (const CommonStatsRow& row : rows) {
    const QDate day = DayDate(row.date);
    if (day.isValid()) {
      dated.emplace_back(day, &row);
    } else {
      ++unrecognised_;
    }
  }
  std::stable_sort(dated.begin(), dated.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<QDate> all_days;
  std::vector<int64_t> views;
  for (const auto& [day, row] : dated) {
    all_days.push_back(day);
    views.push_back(row->views);
  }
  const auto [begin, end] = BusyRange(all_days, views);
  farAway_ = static_cast<int>(dated.size() - (end - begin));

  days_.clear();
  for (auto& values : values_) values.clear();
  std::array<QList<QPointF>, kSeriesCount> points;
  for (auto& list : points) list.reserve(static_cast<qsizetype>(end - begin));
  // Noon of each day in local time, from one offset for the whole chart: converting every day
  // on its own costs more than the rest of the chart, and an hour of summer time never moves
  // noon into another day.
  const QDate first = begin < end ? dated[begin].first : QDate::currentDate();
  offsetMs_ = first.startOfDay().offsetFromUtc() * 1000LL;
  int64_t highest = 0;
  for (size_t k = begin; k < end; ++k) {
    const auto& [day, row] = dated[k];
    days_.push_back(day);
    const int64_t values[kSeriesCount] = {row->ips, row->visitors, row->views, row->searches};
    for (int i = 0; i < kSeriesCount; ++i) {
      values_[i].push_back(values[i]);
      points[i].append(QPointF(DayX(day), static_cast<double>(values[i])));
      highest = std::max(highest, values[i]);
    }
  }
  // The ranges first, so that the lines are laid out once, for the new ranges. Each day has
  // its whole width, its point in the middle.
  const QDate last = days_.empty() ? first : days_.back();
  daysAxis_->setRange(DayX(first) - kDayMs / 2, DayX(last) + kDayMs / 2);
  PlaceLabels();
  valuesAxis_->setRange(0, static_cast<double>(std::max<int64_t>(highest, 1)));
  valuesAxis_->applyNiceNumbers();
  // A few weeks show each day's point and smooth lines; years of days stay quick to draw.
  const bool few = days_.size() <= 62;
  for (int i = 0; i < kSeriesCount; ++i) {
    if (series_[i]->pointsVisible() != few) series_[i]->setPointsVisible(few);
    series_[i]->replace(points[i]);
  }
  setRenderHint(QPainter::Antialiasing, days_.size() <= 400);
  QStringList notes;
  if (unrecognised_ > 0)
    notes << tr("Не показано дней с нераспознанной датой: %1").arg(unrecognised_);
  if (farAway_ > 0) notes << tr("Не показано дней дальше года от остальных: %1").arg(farAway_);
  chart()->setTitle(notes.join(QStringLiteral("; ")));
  hover_->hide();
}

// As many labels as the width takes, each under its day's point.
void DailyChart::PlaceLabels() {
  const QDate first = QDate::fromJulianDay(
      static_cast<qint64>(std::floor((daysAxis_->min() + offsetMs_) / kDayMs)) + kEpochDay);
  const QDate last = QDate::fromJulianDay(
      static_cast<qint64>(std::floor((daysAxis_->max() + offsetMs_) / kDayMs)) + kEpochDay - 1);
  const QFontMetrics metrics(daysAxis_->labelsFont());
  const int label_width = metrics.horizontalAdvance(QStringLiteral("00.00.0000")) + kLabelGap;
  const int max_labels = std::max(1, (width() - kValueAxisRoom) / label_width);
  labels_ = ChooseAxisDays(first, std::max(first, last), max_labels);
  for (const QString& label : daysAxis_->categoriesLabels()) daysAxis_->remove(label);
  daysAxis_->setStartValue(daysAxis_->min());
  for (const QDate& day : labels_.days) {
    daysAxis_->append(day.toString(labels_.format), DayX(day));
  }
}

double DailyChart::DayX(const QDate& day) const {
  return static_cast<double>((day.toJulianDay() - kEpochDay) * kDayMs + kDayMs / 2 - offsetMs_);
}

QStringList DailyChart::LabelTexts() const { return daysAxis_->categoriesLabels(); }

size_t DailyChart::NearestDay(double x) const {
  const QDate wanted = QDate::fromJulianDay(
      static_cast<qint64>(std::floor((x + offsetMs_) / kDayMs)) + kEpochDay);
  auto it = std::lower_bound(days_.begin(), days_.end(), wanted);
  if (it == days_.end()) --it;
  if (it != days_.begin() && std::abs(wanted.daysTo(*std::prev(it))) < std::abs(wanted.daysTo(*it)))
    --it;
  return static_cast<size_t>(it - days_.begin());
}

QString DailyChart::HoverText(int index, const QPointF& value) const {
  if (days_.empty()) return QString();
  const size_t at = NearestDay(value.x());
  return QStringLiteral("%1\n%2: %3")
      .arg(days_[at].toString(QStringLiteral("dd.MM.yyyy")), series_[index]->name())
      .arg(values_[index][at]);
}

QString DailyChart::HoverSummary(const QPointF& value) const {
  if (days_.empty()) return QString();
  const size_t at = NearestDay(value.x());
  QString text = days_[at].toString(QStringLiteral("dd.MM.yyyy"));
  for (int i = 0; i < kSeriesCount; ++i)
    if (series_[i]->isVisible())
      text += QStringLiteral("\n%1: %2").arg(series_[i]->name()).arg(values_[i][at]);
  return text;
}

void DailyChart::resizeEvent(QResizeEvent* event) {
  QChartView::resizeEvent(event);
  PlaceLabels();
}

void DailyChart::mouseMoveEvent(QMouseEvent* event) {
  QChartView::mouseMoveEvent(event);
  const QPoint at = event->position().toPoint();
  const QPointF in_chart = chart()->mapFromScene(mapToScene(at));
  if (days_.empty() || !chart()->plotArea().contains(in_chart)) {
    hover_->hide();
    return;
  }
  hover_->setText(HoverSummary(chart()->mapToValue(in_chart, series_[0])));
  hover_->adjustSize();
  // Beside the pointer, kept inside the view.
  QPoint place = at + QPoint(12, 12);
  place.setX(std::min(place.x(), viewport()->width() - hover_->width()));
  if (place.y() + hover_->height() > viewport()->height()) place.setY(at.y() - 12 - hover_->height());
  hover_->move(std::max(0, place.x()), std::max(0, place.y()));
  hover_->show();
  hover_->raise();
}

void DailyChart::leaveEvent(QEvent* event) {
  QChartView::leaveEvent(event);
  hover_->hide();
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
