#include "ui/report_bar_chart.h"

#include <algorithm>
#include <cmath>

#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QCursor>
#include <QGraphicsLayout>
#include <QLegend>
#include <QResizeEvent>
#include <QToolTip>
#include <QValueAxis>

namespace hitsieve {

ReportBarChart::ReportBarChart(QWidget* parent) : QChartView(parent) {
  auto* chart = new QChart();
  chart->legend()->setAlignment(Qt::AlignTop);
  chart->setMargins(QMargins(0, 0, 0, 0));
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  chart->setBackgroundRoundness(0);
  series_ = new QBarSeries(chart);
  series_->setBarWidth(0.8);
  set_ = new QBarSet(QString(), series_);
  series_->append(set_);
  chart->addSeries(series_);
  labelsAxis_ = new QCategoryAxis(chart);
  labelsAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  labelsAxis_->setGridLineVisible(false);
  valuesAxis_ = new QValueAxis(chart);
  valuesAxis_->setLabelFormat(QStringLiteral("%d"));
  chart->addAxis(labelsAxis_, Qt::AlignBottom);
  chart->addAxis(valuesAxis_, Qt::AlignLeft);
  series_->attachAxis(labelsAxis_);
  series_->attachAxis(valuesAxis_);
  setChart(chart);
  setRenderHint(QPainter::Antialiasing, true);
  connect(set_, &QBarSet::hovered, this, [this](bool status, int index) {
    if (status) {
      QToolTip::showText(QCursor::pos(), HoverText(index), this);
    } else {
      QToolTip::hideText();
    }
  });
}

void ReportBarChart::SetBars(const QString& name, const QStringList& labels,
                             const std::vector<int64_t>& values) {
  set_->setLabel(name);
  set_->remove(0, set_->count());
  QList<qreal> bars;
  int64_t highest = 0;
  for (int64_t value : values) {
    bars.append(static_cast<qreal>(value));
    highest = std::max(highest, value);
  }
  labels_ = labels;
  step_ = 0;
  labelsAxis_->setRange(-0.5, std::max<qsizetype>(labels.size(), 1) - 0.5);
  set_->append(bars);
  valuesAxis_->setRange(0, static_cast<double>(std::max<int64_t>(highest, 1)));
  valuesAxis_->applyNiceNumbers();
  PlaceLabels();
}

void ReportBarChart::resizeEvent(QResizeEvent* event) {
  QChartView::resizeEvent(event);
  PlaceLabels();
}

// Each written label stands under its bar and has the room up to the next written one.
void ReportBarChart::PlaceLabels() {
  if (labels_.isEmpty()) return;
  const QFontMetrics metrics(labelsAxis_->labelsFont());
  int widest = 0;
  for (const QString& label : labels_) widest = std::max(widest, metrics.horizontalAdvance(label));
  const qreal plot = std::max<qreal>(1.0, chart()->plotArea().width() > 0
                                              ? chart()->plotArea().width()
                                              : width() - 60);
  const qreal per_bar = plot / static_cast<qreal>(labels_.size());
  const int room = widest + 3 * metrics.averageCharWidth();
  const int step = std::max(1, static_cast<int>(std::ceil(room / per_bar)));
  if (step == step_) return;
  step_ = step;
  for (const QString& label : labelsAxis_->categoriesLabels()) labelsAxis_->remove(label);
  labelsAxis_->setStartValue(-0.5);
  for (int i = 0; i < labels_.size(); i += step) labelsAxis_->append(labels_[i], i);
}

QStringList ReportBarChart::Labels() const { return labels_; }

QString ReportBarChart::HoverText(int index) const {
  if (index < 0 || index >= set_->count()) return QString();
  const QStringList labels = Labels();
  const QString label = index < labels.size() ? labels[index] : QString();
  return QStringLiteral("%1\n%2: %3")
      .arg(label, set_->label())
      .arg(static_cast<qint64>(set_->at(index)));
}

}  // namespace hitsieve
