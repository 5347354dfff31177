// Parsing one access-log line (combined format) into a RequestRecord.
#ifndef HITSIEVE_ENGINE_RECORD_PARSER_H_
#define HITSIEVE_ENGINE_RECORD_PARSER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/request_record.h"

namespace hitsieve {

// Decimal value with atoi's reading (leading blanks, optional sign, digits up to the first
// other byte, nothing gives 0), saturated at the 32-bit limits instead of overflowing.
int32_t ParseStatusField(std::string_view field);

// As ParseStatusField, in 64 bits, and a negative value (such as "-5") becomes 0.
int64_t ParseBytesField(std::string_view field);

// The request line between its first and its last space; the whole field when it holds no
// space, empty when it holds exactly one.
std::string_view RequestLineUrl(std::string_view request_line);

// Where the fields of a record go when they are not one run of the line's bytes. Kept between
// lines, so that a line costs no allocation once the buffers have grown.
struct RecordScratch {
  std::string ip, date, request, status, bytes, referer, user_agent, skipped;
};

// Fills `record` from `line`, cut into fields thus: a space outside quotes ends a field; '"',
// '[' and ']' all toggle quoting and are dropped (so ']' closes what '"' opened); every other
// byte, backslash and CR included, belongs to the field. A line ending in a space has an empty
// last field. False when the line has no field or its first field is empty.
// The record's texts view `line` and `scratch`, and last as long as both stay unchanged.
bool ParseRecordLine(std::string_view line, RequestRecord& record, RecordScratch& scratch);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_RECORD_PARSER_H_
