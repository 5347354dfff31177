// RequestRecord: one parsed access-log line, as views of its bytes.
#ifndef HITSIEVE_ENGINE_REQUEST_RECORD_H_
#define HITSIEVE_ENGINE_REQUEST_RECORD_H_

#include <cstdint>
#include <string_view>

namespace hitsieve {

// One parsed access-log line. The texts are views of the log's bytes, unchanged (no decoding,
// no case folding), into the line or into the parser's buffers: they are valid only while the
// record is being handed over (RecordSink::OnRecord), so a receiver copies what it keeps.
struct RequestRecord {
  std::string_view ip;          // field 0, the client address
  std::string_view date;        // first 11 characters of field 3: the day key, dd/Mon/yyyy
  std::string_view url;         // field 4 between its first and last space
  int32_t status = 0;           // field 5, atoi semantics, saturated at the 32-bit limits
  int64_t bytes = 0;            // field 6, atoi semantics, 64-bit, negative becomes 0
  std::string_view referer;     // field 7 unchanged ("-" stays "-")
  std::string_view user_agent;  // field 8 unchanged
};

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_REQUEST_RECORD_H_
