// Parsing one access-log line into a RequestRecord, and the numeric fields' reading rules.
#include "engine/record_parser.h"

#include <array>
#include <bit>
#include <cstring>
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

namespace {

// The quote characters and the spaces of 64 bytes of a line, one bit a byte (bit i for byte i).
struct ByteMasks {
  uint64_t quotes = 0;
  uint64_t spaces = 0;
};

ByteMasks MasksOf64(const char* p) {
  ByteMasks masks;
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i double_quote = _mm_set1_epi8('"');
  const __m128i open_bracket = _mm_set1_epi8('[');
  const __m128i close_bracket = _mm_set1_epi8(']');
  for (int k = 0; k < 4; ++k) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const __m128i quotes = _mm_or_si128(_mm_cmpeq_epi8(block, double_quote),
                                        _mm_or_si128(_mm_cmpeq_epi8(block, open_bracket),
                                                     _mm_cmpeq_epi8(block, close_bracket)));
    masks.quotes |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(quotes))} << (16 * k);
    masks.spaces |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, space)))}
                    << (16 * k);
  }
#else
  for (int i = 0; i < 64; ++i) {
    const unsigned char kind = kSpecial[static_cast<unsigned char>(p[i])];
    masks.quotes |= uint64_t{kind == 1} << i;
    masks.spaces |= uint64_t{kind == 2} << i;
  }
#endif
  return masks;
}

// Bit i of the result is the parity of bits 0..i of `x`.
uint64_t PrefixXor(uint64_t x) {
  x ^= x << 1;
  x ^= x << 2;
  x ^= x << 4;
  x ^= x << 8;
  x ^= x << 16;
  x ^= x << 32;
  return x;
}

// The fields of a record line, cut by the rules that ParseRecordLine documents, found 64 bytes
// at a time: the bytes that matter (quote characters, and spaces outside quotes) are picked out
// as bit masks, so the walk visits a dozen places of a line instead of every one of its bytes.
class RecordFields {
 public:
  RecordFields(std::string_view line, RequestRecord& record, RecordScratch& scratch)
      : line_(line), record_(record), scratch_(scratch) {}

  // The record parsed, as ParseRecordLine documents.
  bool Parse() {
    if (line_.empty()) return false;
    const char* const begin = line_.data();
    const size_t size = line_.size();
    bool quoted = false;
    for (size_t base = 0; base < size; base += 64) {
      ByteMasks masks;
      if (size - base >= 64) {
        masks = MasksOf64(begin + base);
      } else {
        // The line's last bytes, in a buffer of 64: nothing past the line is read.
        char tail[64] = {};
        std::memcpy(tail, begin + base, size - base);
        masks = MasksOf64(tail);
        const uint64_t inside_line = (uint64_t{1} << (size - base)) - 1;
        masks.quotes &= inside_line;
        masks.spaces &= inside_line;
      }
      const uint64_t parity = PrefixXor(masks.quotes);  // bit 63: of every quote of the 64
      const uint64_t in_quotes = parity ^ (quoted ? ~uint64_t{0} : 0);
      quoted ^= (parity >> 63) != 0;
      uint64_t marks = masks.quotes | (masks.spaces & ~in_quotes);
      while (marks != 0) {
        const int bit = std::countr_zero(marks);
        marks &= marks - 1;
        const size_t at = base + static_cast<size_t>(bit);
        AddPiece(at);
        piece_ = at + 1;
        if ((masks.quotes >> bit & 1) == 0 && !EndField()) return Result();
      }
    }
    AddPiece(size);
    EndField();
    return Result();
  }

 private:
  // Field 0 empty: no record.
  bool Result() const { return !no_record_; }

  // The bytes [piece_, end) belong to the field being read.
  void AddPiece(size_t end) {
    if (end == piece_ || !Kept(index_)) return;
    if (joined_) {
      scratch_field_->append(line_.data() + piece_, end - piece_);
    } else if (pieces_ == 0) {
      first_ = piece_;
      first_end_ = end;
      pieces_ = 1;
    } else {
      scratch_field_ = Scratch(index_);
      scratch_field_->assign(line_.data() + first_, first_end_ - first_);
      scratch_field_->append(line_.data() + piece_, end - piece_);
      joined_ = true;
    }
  }

  // Hands the field read to the record; false when no later field matters.
  bool EndField() {
    std::string_view field;
    if (joined_) field = *scratch_field_;
    else if (pieces_ != 0) field = line_.substr(first_, first_end_ - first_);
    switch (index_) {
      case 0:
        if (field.empty()) {
          no_record_ = true;
          return false;
        }
        record_.ip = field;
        record_.date = {};
        record_.hour = -1;
        record_.url = {};
        record_.status = 0;
        record_.bytes = 0;
        record_.referer = {};
        record_.user_agent = {};
        break;
      case 3:
        record_.date = field.substr(0, 11);
        record_.hour = HourAt(field, 12);
        break;
      case 4: record_.url = RequestLineUrl(field); break;
      case 5: record_.status = ParseStatusField(field); break;
      case 6: record_.bytes = ParseBytesField(field); break;
      case 7: record_.referer = field; break;
      case 8: record_.user_agent = field; return false;
      default: break;
    }
    ++index_;
    pieces_ = 0;
    joined_ = false;
    return true;
  }

  static bool Kept(int index) { return index == 0 || (index >= 3 && index <= 8); }
  std::string* Scratch(int index) const {
    switch (index) {
      case 0: return &scratch_.ip;
      case 3: return &scratch_.date;
      case 4: return &scratch_.request;
      case 5: return &scratch_.status;
      case 6: return &scratch_.bytes;
      case 7: return &scratch_.referer;
      default: return &scratch_.user_agent;
    }
  }

  const std::string_view line_;
  RequestRecord& record_;
  RecordScratch& scratch_;
  int index_ = 0;          // the field being read
  size_t piece_ = 0;       // where its current piece began
  int pieces_ = 0;         // 0 or 1 non-empty pieces seen, when not joined
  size_t first_ = 0, first_end_ = 0;
  bool joined_ = false;    // two pieces or more: the field is in *scratch_field_
  std::string* scratch_field_ = nullptr;
  bool no_record_ = false;
};

}  // namespace

bool ParseRecordLine(std::string_view line, RequestRecord& record, RecordScratch& scratch) {
  return RecordFields(line, record, scratch).Parse();
}

}  // namespace hitsieve
