// The daily chart's calendar arithmetic: label days and the busy range.
#include "ui/day_axis.h"

#include <algorithm>
#include <charconv>
#include <iterator>

namespace hitsieve {

namespace {

constexpr const char kDayFormat[] = "dd.MM.yyyy";
constexpr const char kMonthFormat[] = "MM.yyyy";
constexpr const char kYearFormat[] = "yyyy";

// Years as astronomers number them (0 is the year before 1), which QDate skips.
int64_t AstronomicalYear(const QDate& day) { return day.year() < 0 ? day.year() + 1 : day.year(); }
QDate FromAstronomical(int64_t year, int month) {
  return QDate(static_cast<int>(year <= 0 ? year - 1 : year), month, 1);
}

int64_t MonthIndex(const QDate& day) { return AstronomicalYear(day) * 12 + day.month() - 1; }

int64_t CeilToMultiple(int64_t value, int64_t step) {
  int64_t floor = value / step * step;
  if (floor > value) floor -= step;  // division truncates toward zero
  return floor == value ? value : floor + step;
}

// Labels on the first day of every `step` months (step divides 12) or, with `years`, of
// January of every `step` years; empty when there would be more than `max_labels` or none.
std::vector<QDate> CalendarLabels(const QDate& first, const QDate& last, int64_t step,
                                  bool years, int max_labels) {
  const int64_t unit = years ? 12 : 1;
  // The first month start on or after `first`.
  const int64_t from = MonthIndex(first) + (first.day() == 1 ? 0 : 1);
  const int64_t start = CeilToMultiple(from, step * unit);
  const int64_t end = MonthIndex(last);
  if (start > end || (end - start) / (step * unit) + 1 > max_labels) return {};
  std::vector<QDate> days;
  for (int64_t m = start; m <= end; m += step * unit) {
    const int64_t year = m >= 0 ? m / 12 : -((-m + 11) / 12);
    days.push_back(FromAstronomical(year, static_cast<int>(m - year * 12) + 1));
  }
  return days;
}

}  // namespace

AxisDays ChooseAxisDays(const QDate& first, const QDate& last, int max_labels) {
  max_labels = std::max(1, max_labels);
  const int64_t span = first.daysTo(last) + 1;
  for (int64_t step : {1, 2, 7, 14}) {
    if ((span + step - 1) / step > max_labels) continue;
    AxisDays axis{{}, QString::fromLatin1(kDayFormat)};
    for (int64_t d = 0; d < span; d += step) axis.days.push_back(first.addDays(d));
    return axis;
  }
  for (int64_t months : {1, 2, 3, 6}) {
    std::vector<QDate> days = CalendarLabels(first, last, months, false, max_labels);
    if (!days.empty()) return {std::move(days), QString::fromLatin1(kMonthFormat)};
  }
  // 1, 2, 5, 10, 20, 50... years, as far as the calendar goes.
  for (int64_t base = 1; base <= 100000; base *= 10) {
    for (int64_t years : {base, 2 * base, 5 * base}) {
      std::vector<QDate> days = CalendarLabels(first, last, years, true, max_labels);
      if (!days.empty()) return {std::move(days), QString::fromLatin1(kYearFormat)};
    }
  }
  return {{first}, QString::fromLatin1(kDayFormat)};
}

QDate DayDate(std::string_view text) {
  static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (text.size() != 11 || text[2] != '/' || text[6] != '/') return QDate();
  auto digits = [&](size_t from, size_t count, int& out) {
    const char* end = text.data() + from + count;
    return std::from_chars(text.data() + from, end, out).ptr == end;
  };
  int day = 0, year = 0;
  if (!digits(0, 2, day) || !digits(7, 4, year)) return QDate();
  const auto month = std::find(std::begin(kMonths), std::end(kMonths), text.substr(3, 3));
  if (month == std::end(kMonths)) return QDate();
  // Years 0-99 are those years, never 1900-1999; QDate counts no year 0.
  return QDate(year == 0 ? -1 : year, static_cast<int>(month - std::begin(kMonths)) + 1, day);
}

std::pair<size_t, size_t> BusyRange(const std::vector<QDate>& days,
                                    const std::vector<int64_t>& weights) {
  std::pair<size_t, size_t> best{0, 0};
  int64_t best_weight = -1;
  size_t begin = 0;
  int64_t weight = 0;
  for (size_t i = 0; i < days.size(); ++i) {
    if (i > begin && days[i - 1].daysTo(days[i]) > kFarAwayDays) {
      begin = i;
      weight = 0;
    }
    weight += i < weights.size() ? weights[i] : 0;
    const bool run_ends = i + 1 == days.size() || days[i].daysTo(days[i + 1]) > kFarAwayDays;
    if (!run_ends) continue;
    const size_t length = i + 1 - begin, best_length = best.second - best.first;
    if (length > best_length || (length == best_length && weight >= best_weight)) {
      best = {begin, i + 1};
      best_weight = weight;
    }
  }
  return best;
}

}  // namespace hitsieve
