#include "engine/record_parser.h"

#include <array>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hitsieve {

namespace {

// Bytes that flip the quoting, and with them the space, which ends a field outside quotes.
constexpr std::array<unsigned char, 256> MakeSpecialTable() {
  std::array<unsigned char, 256> table{};
  table['"'] = table['['] = table[']'] = 1;
  table[' '] = 2;
  return table;
}
constexpr std::array<unsigned char, 256> kSpecial = MakeSpecialTable();

// The first quote character in [p, end), or also the first space when `kSpaceToo`; end when
// there is none. Most of a line is plain text (and inside quotes spaces are plain too), so the
// scan looks at 16 bytes at a time where the processor allows it.
template <bool kSpaceToo>
const char* FindSpecial(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i double_quote = _mm_set1_epi8('"');
  const __m128i open_bracket = _mm_set1_epi8('[');
  const __m128i close_bracket = _mm_set1_epi8(']');
  while (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(block, double_quote),
                                _mm_or_si128(_mm_cmpeq_epi8(block, open_bracket),
                                             _mm_cmpeq_epi8(block, close_bracket)));
    if (kSpaceToo) hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, space));
    const int mask = _mm_movemask_epi8(hits);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  const unsigned char wanted = kSpaceToo ? 2 : 1;
  while (p != end && (kSpecial[static_cast<unsigned char>(*p)] == 0 ||
                      kSpecial[static_cast<unsigned char>(*p)] > wanted)) {
    ++p;
  }
  return p;
}

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

bool FieldSplitter::Next(std::string_view& field, std::string& scratch) {
  field = {};
  if (next_ == end_) {
    const bool more = trailing_empty_;
    trailing_empty_ = false;
    return more;
  }
  trailing_empty_ = false;
  // The field's non-empty pieces: the first is kept as a view; a second one means joining.
  const char* first = nullptr;
  const char* first_end = nullptr;
  bool joined = false;
  auto add = [&](const char* begin, const char* end) {
    if (begin == end) return;
    if (joined) {
      scratch.append(begin, end);
    } else if (first == nullptr) {
      first = begin;
      first_end = end;
    } else {
      scratch.assign(first, first_end);
      scratch.append(begin, end);
      joined = true;
    }
  };
  bool quoted = false;
  const char* run = next_;  // start of the piece being scanned
  for (;;) {
    next_ = quoted ? FindSpecial<false>(next_, end_) : FindSpecial<true>(next_, end_);
    if (next_ == end_) break;
    add(run, next_);
    if (*next_ == ' ') {  // found outside quotes only
      ++next_;
      trailing_empty_ = true;
      run = nullptr;
      break;
    }
    run = ++next_;
    quoted = !quoted;
  }
  if (run != nullptr) add(run, end_);
  if (joined) field = scratch;
  else if (first != nullptr) field = std::string_view(first, static_cast<size_t>(first_end - first));
  return true;
}

bool FieldSplitter::Next(std::string* out) {
  std::string_view field;
  std::string scratch;
  if (!Next(field, scratch)) return false;
  if (out != nullptr) out->append(field);
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

bool ParseRecordLine(std::string_view line, RequestRecord& record, RecordScratch& scratch) {
  FieldSplitter fields(line);
  if (!fields.Next(record.ip, scratch.ip) || record.ip.empty()) return false;
  record.date = {};
  record.url = {};
  record.status = 0;
  record.bytes = 0;
  record.referer = {};
  record.user_agent = {};
  std::string_view field;
  for (int index = 1;; ++index) {
    switch (index) {
      case 3:
        if (!fields.Next(record.date, scratch.date)) return true;
        record.date = record.date.substr(0, 11);
        break;
      case 4:
        if (!fields.Next(field, scratch.request)) return true;
        record.url = RequestLineUrl(field);
        break;
      case 5:
        if (!fields.Next(field, scratch.status)) return true;
        record.status = ParseStatusField(field);
        break;
      case 6:
        if (!fields.Next(field, scratch.bytes)) return true;
        record.bytes = ParseBytesField(field);
        break;
      case 7:
        if (!fields.Next(record.referer, scratch.referer)) return true;
        break;
      case 8:
        if (!fields.Next(record.user_agent, scratch.user_agent)) return true;
        break;
      default:
        if (!fields.Next(field, scratch.skipped)) return true;
        break;
    }
  }
}

}  // namespace hitsieve
