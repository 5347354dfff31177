#include "engine/record_parser.h"

#include <limits>

namespace hitsieve {

namespace {

bool IsQuote(char c) { return c == '"' || c == '[' || c == ']'; }

bool IsAtoiBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// atoi reading with saturation at [min, max].
int64_t ParseSaturated(std::string_view text, int64_t min, int64_t max) {
  size_t i = 0;
  while (i < text.size() && IsAtoiBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulate towards the sign's limit so that the most negative value fits too.
  const uint64_t limit = negative ? static_cast<uint64_t>(-(min + 1)) + 1 : static_cast<uint64_t>(max);
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (value > (limit - digit) / 10) {
      value = limit;
      break;
    }
    value = value * 10 + digit;
  }
  if (!negative) return static_cast<int64_t>(value);
  return value == limit ? min : -static_cast<int64_t>(value);
}

}  // namespace

bool FieldSplitter::Next(std::string* out) {
  if (next_ == end_) {
    const bool more = trailing_empty_;
    trailing_empty_ = false;
    return more;
  }
  trailing_empty_ = false;
  bool quoted = false;
  const char* run = next_;  // start of the bytes not yet copied into `out`
  for (; next_ != end_; ++next_) {
    const char c = *next_;
    if (c == ' ') {
      if (quoted) continue;
      if (out != nullptr) out->append(run, next_);
      ++next_;
      trailing_empty_ = true;
      return true;
    }
    if (IsQuote(c)) {
      if (out != nullptr) out->append(run, next_);
      run = next_ + 1;
      quoted = !quoted;
    }
  }
  if (out != nullptr) out->append(run, end_);
  return true;
}

int32_t ParseStatusField(std::string_view field) {
  return static_cast<int32_t>(ParseSaturated(field, std::numeric_limits<int32_t>::min(),
                                             std::numeric_limits<int32_t>::max()));
}

int64_t ParseBytesField(std::string_view field) {
  const int64_t value = ParseSaturated(field, std::numeric_limits<int64_t>::min(),
                                       std::numeric_limits<int64_t>::max());
  return value < 0 ? 0 : value;
}

std::string_view RequestLineUrl(std::string_view request_line) {
  const size_t first = request_line.find(' ');
  if (first == std::string_view::npos) return request_line;
  const size_t last = request_line.rfind(' ');
  if (last == first) return {};
  return request_line.substr(first + 1, last - first - 1);
}

bool ParseRecordLine(std::string_view line, RequestRecord& record, std::string& scratch) {
  FieldSplitter fields(line);
  record.ip.clear();
  if (!fields.Next(&record.ip) || record.ip.empty()) return false;
  record.date.clear();
  record.url.clear();
  record.status = 0;
  record.bytes = 0;
  record.referer.clear();
  record.user_agent.clear();
  for (int index = 1;; ++index) {
    std::string* target = nullptr;
    if (index == 3) target = &record.date;
    if (index >= 4 && index <= 6) target = &scratch;
    if (index == 7) target = &record.referer;
    if (index == 8) target = &record.user_agent;
    scratch.clear();
    if (!fields.Next(target)) break;
    if (index == 3 && record.date.size() > 11) record.date.resize(11);
    if (index == 4) record.url.assign(RequestLineUrl(scratch));
    if (index == 5) record.status = ParseStatusField(scratch);
    if (index == 6) record.bytes = ParseBytesField(scratch);
  }
  return true;
}

}  // namespace hitsieve
