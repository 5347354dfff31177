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

// Log text may hold control characters (an escape sequence in a URL could restyle or move a
// terminal's cursor): each C0 control and DEL becomes '?'.
std::string PrintableText(std::string_view text);

// The header line, then one line per row, every column left-aligned and padded by display
// width, columns two spaces apart, no trailing blanks.
void WriteAlignedTable(std::ostream& out, const std::vector<std::string>& titles,
                       const std::vector<std::vector<std::string>>& rows);

// One CSV record ending in "\n". A field that holds a comma, a double quote, CR or LF is
// quoted, with its double quotes doubled.
void WriteCsvRecord(std::ostream& out, const std::vector<std::string>& fields);

}  // namespace hitsieve::cli

#endif  // HITSIEVE_CLI_TEXT_OUTPUT_H_
