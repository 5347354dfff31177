#ifndef HITSIEVE_CLI_TEXT_OUTPUT_H_
#define HITSIEVE_CLI_TEXT_OUTPUT_H_

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// Writers for the command line's report output: columns aligned for a terminal, and CSV.
// Every text handed in is UTF-8.
namespace hitsieve::cli {

// Terminal columns taken by a UTF-8 text: one per character, two for East Asian wide
// characters, none for combining marks. A malformed byte counts as one column.
size_t DisplayWidth(std::string_view text);

// Log text may hold control characters (an escape sequence in a URL could set a terminal's
// title, write its clipboard or move its cursor): each C0 control, DEL, C1 control (U+0080 to
// U+009F) and byte that is no part of a UTF-8 sequence becomes '?'.
std::string PrintableText(std::string_view text);

// How a text cell of a CSV report is written.
struct CsvCellRule {
  bool printable = true;      // PrintableText (for a terminal)
  bool guard_formula = true;  // a leading '=', '+', '-', '@', TAB or CR gets an apostrophe
};

// The cell as a spreadsheet may open it without running it as a formula, and as a terminal
// may show it without obeying it: see CsvCellRule.
std::string CsvTextCell(std::string_view text, const CsvCellRule& rule);

// An aligned table of rows that are not held: the header line, then one line per row, every
// column left-aligned and padded by display width, columns two spaces apart, no trailing
// blanks. Every row is measured in a first pass, then written in a second, in the same order.
// Keeps only the column widths and a small buffer: a line goes out in pieces, and no cell is
// copied whole.
class AlignedTableWriter {
 public:
  explicit AlignedTableWriter(std::vector<std::string> titles);
  void Measure(const std::vector<std::string>& cells);
  // REQUIRES: every row has been measured. Writes the header line.
  void WriteTitles(std::ostream& out) const { WriteRow(out, titles_); }
  void WriteRow(std::ostream& out, const std::vector<std::string>& cells) const;

 private:
  static constexpr size_t kLineBuffer = 64 * 1024;
  void Flush(std::ostream& out) const;

  std::vector<std::string> titles_;
  std::vector<size_t> widths_;
  mutable std::string line_;  // the part of the line not yet written
};

// One CSV record ending in "\n". A field that holds a comma, a double quote, CR or LF is
// quoted, with its double quotes doubled.
void WriteCsvRecord(std::ostream& out, const std::vector<std::string>& fields);

}  // namespace hitsieve::cli

#endif  // HITSIEVE_CLI_TEXT_OUTPUT_H_
