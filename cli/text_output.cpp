#include "cli/text_output.h"

#include <algorithm>
#include <utility>

namespace hitsieve::cli {

namespace {

// Decodes the code point at `pos`; returns its length in bytes (1 for a malformed byte, whose
// code point is reported as 0xFFFD).
size_t DecodeUtf8(std::string_view text, size_t pos, char32_t& code_point) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3
                                  : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || pos + length > text.size()) {
    code_point = 0xFFFD;
    return 1;
  }
  code_point = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) {
      code_point = 0xFFFD;
      return 1;
    }
    code_point = (code_point << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are malformed too: a terminal may
  // decode them otherwise.
  static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code_point < kMinimum[length] || code_point > 0x10FFFF ||
      (code_point >= 0xD800 && code_point <= 0xDFFF)) {
    code_point = 0xFFFD;
    return 1;
  }
  return length;
}

bool IsCombining(char32_t c) {
  return (c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) ||
         (c >= 0xFE00 && c <= 0xFE0F);
}

bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
         (c >= 0x20000 && c <= 0x3FFFD);
}

// Appends the printable form of `text` from `pos` on, character by character, until `out` holds
// `limit` bytes or more or the text ends; returns where it stopped.
size_t AppendPrintable(std::string_view text, size_t pos, size_t limit, std::string& out) {
  while (pos < text.size() && out.size() < limit) {
    char32_t c;
    const size_t length = DecodeUtf8(text, pos, c);
    const bool malformed = c == 0xFFFD && length == 1;
    if (malformed || c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      out += '?';
    } else {
      out.append(text.substr(pos, length));
    }
    pos += length;
  }
  return pos;
}

}  // namespace

size_t DisplayWidth(std::string_view text) {
  size_t width = 0;
  for (size_t pos = 0; pos < text.size();) {
    char32_t c;
    pos += DecodeUtf8(text, pos, c);
    width += IsCombining(c) ? 0 : IsWide(c) ? 2 : 1;
  }
  return width;
}

std::string PrintableText(std::string_view text) {
  std::string printable;
  printable.reserve(text.size());
  AppendPrintable(text, 0, text.size(), printable);
  return printable;
}

std::string CsvTextCell(std::string_view text, const CsvCellRule& rule) {
  std::string cell = rule.printable ? PrintableText(text) : std::string(text);
  // What a spreadsheet takes for the start of a formula; "-1" and "+1" too, which would at
  // best lose their text and at worst be the tail of an expression.
  if (rule.guard_formula && !cell.empty() &&
      std::string_view("=+-@\t\r").find(cell.front()) != std::string_view::npos) {
    cell.insert(cell.begin(), '\'');
  }
  return cell;
}

AlignedTableWriter::AlignedTableWriter(std::vector<std::string> titles)
    : titles_(std::move(titles)), widths_(titles_.size(), 0) {
  Measure(titles_);
}

void AlignedTableWriter::Measure(const std::vector<std::string>& cells) {
  // PrintableText turns each character it replaces into one '?', which changes no display
  // width, so the cells are measured as they are, without a printable copy.
  for (size_t i = 0; i < cells.size() && i < widths_.size(); ++i)
    widths_[i] = std::max(widths_[i], DisplayWidth(cells[i]));
}

void AlignedTableWriter::WriteRow(std::ostream& out, const std::vector<std::string>& cells) const {
  // Blanks (padding, separators, a cell's own trailing spaces) are only counted until something
  // follows them, so that the end of the line carries none. PrintableText keeps every space and
  // makes no others, so the cell's trailing spaces and display width are found on the cell
  // itself, and its printable form goes out in pieces, never copied whole.
  line_.clear();
  size_t blanks = 0;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) blanks += 2;
    const std::string_view cell = cells[i];
    const size_t last = cell.find_last_not_of(' ');
    if (last != std::string_view::npos) {
      while (blanks > 0) {
        const size_t run = std::min(blanks, kLineBuffer);
        line_.append(run, ' ');
        blanks -= run;
        if (line_.size() >= kLineBuffer) Flush(out);
      }
      const std::string_view shown = cell.substr(0, last + 1);
      for (size_t pos = 0; pos < shown.size();) {
        pos = AppendPrintable(shown, pos, kLineBuffer, line_);
        if (line_.size() >= kLineBuffer) Flush(out);
      }
    }
    blanks += cell.size() - (last == std::string_view::npos ? 0 : last + 1);
    const size_t width = DisplayWidth(cell);
    if (i + 1 < widths_.size() && width < widths_[i]) blanks += widths_[i] - width;
  }
  line_ += '\n';
  Flush(out);
}

void AlignedTableWriter::Flush(std::ostream& out) const {
  out.write(line_.data(), static_cast<std::streamsize>(line_.size()));
  line_.clear();
}

void WriteCsvRecord(std::ostream& out, const std::vector<std::string>& fields) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out << ',';
    const std::string& field = fields[i];
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
      out << field;
      continue;
    }
    out << '"';
    for (char c : field) {
      if (c == '"') out << '"';
      out << c;
    }
    out << '"';
  }
  out << '\n';
}

}  // namespace hitsieve::cli
