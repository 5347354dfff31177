// RequestRecord: one parsed access-log line, as views of its bytes.
#ifndef HITSIEVE_ENGINE_REQUEST_RECORD_H_
#define HITSIEVE_ENGINE_REQUEST_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace hitsieve {

// One parsed access-log line. The texts are views of the log's bytes, unchanged (no decoding,
// no case folding), into the line or into the parser's buffers: they are valid only while the
// record is being handed over (RecordSink::OnRecord), so a receiver copies what it keeps.
struct RequestRecord {
  std::string_view ip;          // field 0, the client address
  std::string_view date;        // first 11 characters of field 3: the day key, dd/Mon/yyyy
  int8_t hour = -1;             // the hour 0..23 of the time as written; -1 when none is read
  std::string_view url;         // field 4 between its first and last space
  int32_t status = 0;           // field 5, atoi semantics, saturated at the 32-bit limits
  int64_t bytes = 0;            // field 6, atoi semantics, 64-bit, negative becomes 0
  std::string_view referer;     // field 7 unchanged ("-" stays "-")
  std::string_view user_agent;  // field 8 unchanged
};

// The hour written as two digits at `at` of a time text and followed by ':' ("13:55:36"
// from 10); -1 when they are not there or above 23.
inline int8_t HourAt(std::string_view text, size_t at) {
  if (text.size() < at + 3 || text[at + 2] != ':') return -1;
  const char tens = text[at], ones = text[at + 1];
  if (tens < '0' || tens > '2' || ones < '0' || ones > '9') return -1;
  const int hour = (tens - '0') * 10 + (ones - '0');
  return hour <= 23 ? static_cast<int8_t>(hour) : int8_t{-1};
}

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_REQUEST_RECORD_H_
