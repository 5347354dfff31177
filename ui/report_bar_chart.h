#ifndef HITSIEVE_UI_REPORT_BAR_CHART_H_
#define HITSIEVE_UI_REPORT_BAR_CHART_H_

#include <cstdint>
#include <vector>

#include <QChartView>
#include <QStringList>

class QCategoryAxis;
class QBarSeries;
class QBarSet;
class QValueAxis;

namespace hitsieve {

// One count of a list as bars, one bar per row in the list's order, labelled with the row's
// key: the views of each hour of the day. The pointer over a bar shows its label and value.
// Where the labels are too wide for their bars, only every second (third...) one is written,
// so that none is cut. UI thread only.
class ReportBarChart : public QChartView {
  Q_OBJECT

 public:
  explicit ReportBarChart(QWidget* parent = nullptr);

  // Replaces the bars; `name` names the count in the legend.
  void SetBars(const QString& name, const QStringList& labels, const std::vector<int64_t>& values);

  QBarSet* Bars() const { return set_; }
  QStringList Labels() const;
  // What hovering bar `index` shows.
  QString HoverText(int index) const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Writes every label, or every n-th one where they do not fit their bars.
  void PlaceLabels();

  QBarSeries* series_;
  QBarSet* set_;
  QCategoryAxis* labelsAxis_;  // bar i stands at x = i
  QValueAxis* valuesAxis_;
  QStringList labels_;  // every bar's label, in bar order
  int step_ = 0;         // of the labels written; 0 before the first placing
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_REPORT_BAR_CHART_H_
