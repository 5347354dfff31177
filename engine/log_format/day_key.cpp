// Reading the day out of the time fields of access logs; see day_key.h.
#include "engine/log_format/day_key.h"

#include <cstdint>

namespace hitsieve {

namespace {

constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
constexpr std::string_view kMonthNames[] = {"January", "February", "March",     "April",
                                            "May",     "June",     "July",      "August",
                                            "September", "October", "November", "December"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Month 1..12 of an English abbreviation as Apache writes it, 0 for anything else.
int MonthOf(std::string_view abbreviation) {
  if (abbreviation.size() != 3) return 0;
  for (size_t k = 0; k < 12; ++k) {
    if (kMonths.substr(3 * k, 3) == abbreviation) return static_cast<int>(k) + 1;
  }
  return 0;
}

bool MakeDay(int year, int month, int day_of_month, DayKey& day) {
  if (year < 0 || year > 9999 || month < 1 || month > 12 || day_of_month < 1 || day_of_month > 31)
    return false;
  day.text[0] = static_cast<char>('0' + day_of_month / 10);
  day.text[1] = static_cast<char>('0' + day_of_month % 10);
  day.text[2] = '/';
  for (int k = 0; k < 3; ++k) day.text[3 + k] = kMonths[static_cast<size_t>(3 * (month - 1) + k)];
  day.text[6] = '/';
  day.text[7] = static_cast<char>('0' + year / 1000);
  day.text[8] = static_cast<char>('0' + year / 100 % 10);
  day.text[9] = static_cast<char>('0' + year / 10 % 10);
  day.text[10] = static_cast<char>('0' + year % 10);
  return true;
}

// Exactly `count` digits at `at`; -1 when they are not there.
int DigitsAt(std::string_view text, size_t at, size_t count) {
  if (text.size() < at + count) return -1;
  int value = 0;
  for (size_t k = at; k < at + count; ++k) {
    if (!IsDigit(text[k])) return -1;
    value = value * 10 + (text[k] - '0');
  }
  return value;
}

// The civil date of a count of days since 1970-01-01 (proleptic Gregorian calendar).
void CivilFromDays(int64_t days, int& year, int& month, int& day_of_month) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t shifted_month = (5 * day_of_year + 2) / 153;
  day_of_month = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  year = static_cast<int>(year_of_era + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace

bool DayFromLocalTime(std::string_view text, DayKey& day) {
  if (!text.empty() && text.front() == '[') {
    if (text.back() != ']') return false;
    text = text.substr(1, text.size() - 2);
  }
  if (text.size() < 12 || text[2] != '/' || text[6] != '/' || text[11] != ':') return false;
  const int day_of_month = DigitsAt(text, 0, 2);
  const int year = DigitsAt(text, 7, 4);
  const int month = MonthOf(text.substr(3, 3));
  day.hour = HourAt(text, 12);
  return day_of_month >= 0 && year >= 0 && MakeDay(year, month, day_of_month, day);
}

bool DayFromIsoTime(std::string_view text, DayKey& day) {
  if (text.size() < 10 || text[4] != '-' || text[7] != '-') return false;
  if (text.size() > 10 && text[10] != 'T' && text[10] != ' ' && text[10] != 't') return false;
  const int year = DigitsAt(text, 0, 4);
  const int month = DigitsAt(text, 5, 2);
  const int day_of_month = DigitsAt(text, 8, 2);
  day.hour = text.size() > 10 ? HourAt(text, 11) : -1;
  return year >= 0 && month >= 0 && day_of_month >= 0 && MakeDay(year, month, day_of_month, day);
}

bool DayFromEpoch(std::string_view text, long long scale, DayKey& day) {
  size_t k = 0;
  int64_t whole = 0;
  // 10^12 seconds is far beyond year 9999; the bound keeps the sum from overflowing.
  for (; k < text.size() && IsDigit(text[k]); ++k) {
    whole = whole * 10 + (text[k] - '0');
    if (whole > 1000000000000000000 / 10) return false;
  }
  if (k == 0) return false;
  if (k < text.size()) {
    if (text[k] != '.' || k + 1 == text.size()) return false;
    for (++k; k < text.size(); ++k)
      if (!IsDigit(text[k])) return false;
  }
  const int64_t seconds = whole / scale;
  if (seconds > int64_t{253402300799}) return false;  // after 9999-12-31
  int year, month, day_of_month;
  CivilFromDays(seconds / 86400, year, month, day_of_month);
  day.hour = static_cast<signed char>(seconds % 86400 / 3600);
  return MakeDay(year, month, day_of_month, day);
}

namespace {

// Reads `text` against `pattern` from its start, filling the date parts found; false on a mismatch.
class PatternReader {
 public:
  PatternReader(std::string_view text) : text_(text) {}

  bool Read(std::string_view pattern, int depth = 0) {
    for (size_t p = 0; p < pattern.size(); ++p) {
      if (pattern[p] != '%') {
        if (t_ >= text_.size() || text_[t_] != pattern[p]) return false;
        ++t_;
        continue;
      }
      if (++p == pattern.size()) return false;
      if (!Conversion(pattern[p], depth)) return false;
    }
    return true;
  }

  bool Day(DayKey& day) const {
    day.hour = hour_ >= 0 && hour_ <= 23 ? static_cast<signed char>(hour_) : -1;
    return MakeDay(year_, month_, day_of_month_, day);
  }

 private:
  bool Number(size_t most, int& out, bool blank_pad = false) {
    if (blank_pad && t_ < text_.size() && text_[t_] == ' ') ++t_;
    size_t k = 0;
    int value = 0;
    while (k < most && t_ < text_.size() && IsDigit(text_[t_])) {
      value = value * 10 + (text_[t_++] - '0');
      ++k;
    }
    out = value;
    return k > 0;
  }

  bool Conversion(char c, int depth) {
    int ignored = 0;
    switch (c) {
      case 'd': return Number(2, day_of_month_);
      case 'e': return Number(2, day_of_month_, true);
      case 'm': return Number(2, month_);
      case 'Y': return Number(4, year_);
      case 'y':
        if (!Number(2, year_)) return false;
        year_ += year_ < 69 ? 2000 : 1900;
        return true;
      case 'b':
      case 'h':
        month_ = MonthOf(text_.substr(t_, 3));
        t_ += 3;
        return month_ != 0;
      case 'B':
        for (size_t k = 0; k < 12; ++k) {
          if (text_.substr(t_).starts_with(kMonthNames[k])) {
            month_ = static_cast<int>(k) + 1;
            t_ += kMonthNames[k].size();
            return true;
          }
        }
        return false;
      case 'H':
        return Number(2, hour_);
      case 'M':
      case 'S':
      case 'I': return Number(2, ignored);
      case 'z':
        if (t_ < text_.size() && (text_[t_] == '+' || text_[t_] == '-')) ++t_;
        else return false;
        return Number(4, ignored);
      case '%':
        if (t_ >= text_.size() || text_[t_] != '%') return false;
        ++t_;
        return true;
      case 'T': return depth < 2 && Read("%H:%M:%S", depth + 1);
      case 'D': return depth < 2 && Read("%m/%d/%y", depth + 1);
      case 'F': return depth < 2 && Read("%Y-%m-%d", depth + 1);
      case 'R': return depth < 2 && Read("%H:%M", depth + 1);
      default: {
        // A conversion that holds no part of the date: any run of non-blank bytes.
        const size_t from = t_;
        while (t_ < text_.size() && text_[t_] != ' ' && text_[t_] != '\t') ++t_;
        return t_ > from;
      }
    }
  }

  std::string_view text_;
  size_t t_ = 0;
  int year_ = -1, month_ = 0, day_of_month_ = 0;
  int hour_ = -1;  // only from %H (a 12-hour %I says nothing without its AM or PM)

 public:
  bool AtEnd() const { return t_ == text_.size(); }
  size_t Used() const { return t_; }
};

}  // namespace

bool DayFromPattern(std::string_view pattern, std::string_view text, DayKey& day) {
  PatternReader reader(text);
  return reader.Read(pattern) && reader.AtEnd() && reader.Day(day);
}

bool DayFromPatternStart(std::string_view pattern, std::string_view text, DayKey& day,
                         size_t& used) {
  PatternReader reader(text);
  if (!reader.Read(pattern) || !reader.Day(day)) return false;
  used = reader.Used();
  return true;
}

bool PatternHasDay(std::string_view pattern) {
  bool day = false, month = false, year = false;
  for (size_t p = 0; p + 1 < pattern.size(); ++p) {
    if (pattern[p] != '%') continue;
    switch (pattern[++p]) {
      case 'd': case 'e': day = true; break;
      case 'm': case 'b': case 'h': case 'B': month = true; break;
      case 'Y': case 'y': year = true; break;
      case 'D': case 'F': day = month = year = true; break;
      default: break;
    }
  }
  return day && month && year;
}

}  // namespace hitsieve
