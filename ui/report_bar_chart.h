#ifndef HITSIEVE_UI_REPORT_BAR_CHART_H_
#define HITSIEVE_UI_REPORT_BAR_CHART_H_

#include <cstdint>
#include <vector>

#include <QChartView>
#include <QStringList>

class QBarCategoryAxis;
class QBarSeries;
class QBarSet;
class QValueAxis;

namespace hitsieve {

// One count of a list as bars, one bar per row in the list's order, labelled with the row's
// key: the views of each hour of the day. The pointer over a bar shows its label and value.
// UI thread only.
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

 private:
  QBarSeries* series_;
  QBarSet* set_;
  QBarCategoryAxis* labelsAxis_;
  QValueAxis* valuesAxis_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_REPORT_BAR_CHART_H_
