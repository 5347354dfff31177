// The day key (dd/Mon/yyyy) of a request, read from the time fields that servers write:
// the bracketed local time of Apache and nginx, ISO 8601, epoch seconds, a W3C date, or a
// time written by a strftime pattern. The day is the one the server wrote (no zone is applied),
// except for epoch seconds, which carry no zone and give the UTC day.
#ifndef HITSIEVE_ENGINE_LOG_FORMAT_DAY_KEY_H_
#define HITSIEVE_ENGINE_LOG_FORMAT_DAY_KEY_H_

#include <cstddef>
#include <string_view>

#include "engine/request_record.h"

namespace hitsieve {

// Eleven bytes, "dd/Mon/yyyy"; no terminating NUL.
// With it the hour 0..23 of the time, when the time holds one (-1 when it does not).
struct DayKey {
  char text[11];
  signed char hour = -1;
  std::string_view view() const { return {text, sizeof text}; }
};

// Each returns false when `text` is not such a time.
// "10/Oct/2000:13:55:36 -0700" (also with the brackets around it).
bool DayFromLocalTime(std::string_view text, DayKey& day);
// "2000-10-10T13:55:36-07:00", "2000-10-10 13:55:36", or a date alone "2000-10-10".
bool DayFromIsoTime(std::string_view text, DayKey& day);
// "971185536", "971185536.123": seconds since 1970 (UTC); `scale` divides, for milliseconds
// (1000) or microseconds (1000000).
bool DayFromEpoch(std::string_view text, long long scale, DayKey& day);
// `text` written by a strftime `pattern`. Understands %d %e %m %b %h %B %Y %y %H %M %S %I %z %T
// %D %F %R and %%; any other conversion matches a run of non-blank bytes.
bool DayFromPattern(std::string_view pattern, std::string_view text, DayKey& day);
// As DayFromPattern for the start of `text`; `used` receives the length of the time.
bool DayFromPatternStart(std::string_view pattern, std::string_view text, DayKey& day,
                         size_t& used);

// True when `pattern` holds a day, a month and a year among the conversions DayFromPattern reads.
bool PatternHasDay(std::string_view pattern);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_LOG_FORMAT_DAY_KEY_H_
