// Calendar arithmetic of the daily chart, kept apart from the widgets so that it can be checked
// over any period: which days carry the axis labels, and which days are the site's real traffic
// rather than a stray date (year 0000 or 9999) that would squeeze the real days together.
#ifndef HITSIEVE_UI_DAY_AXIS_H_
#define HITSIEVE_UI_DAY_AXIS_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include <QDate>
#include <QString>

namespace hitsieve {

// Days further than this from the busy range are left out of the chart.
inline constexpr int kFarAwayDays = 366;

struct AxisDays {
  std::vector<QDate> days;  // in calendar order, each once
  QString format;           // QDate::toString format that tells these days apart
};

// The days of [first, last] that carry a label when at most `max_labels` fit: every day, every
// 2nd or 7th or 14th day from `first`; else the first of every 1, 2, 3 or 6 months; else the
// first of January of every 1, 2, 5, 10... years. Never empty: when no such day falls inside,
// `first` alone. REQUIRES: first <= last, both valid.
AxisDays ChooseAxisDays(const QDate& first, const QDate& last, int max_labels);

// The calendar day of a day text "dd/Mon/yyyy", or an invalid date for any other text and for
// days the calendar lacks (31/Feb). Year 0000 is the year before year 1, as astronomers count.
QDate DayDate(std::string_view text);

// REQUIRES: `days` in calendar order. The run of days that holds the traffic: the days are cut
// wherever two of them lie more than kFarAwayDays apart, and the run with the most days (then
// the most `weights`, then the latest) is kept. Returns [begin, end) indexes into `days`.
std::pair<size_t, size_t> BusyRange(const std::vector<QDate>& days,
                                    const std::vector<int64_t>& weights);

}  // namespace hitsieve

#endif  // HITSIEVE_UI_DAY_AXIS_H_
