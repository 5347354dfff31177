#ifndef HITSIEVE_TESTS_CLI_ALIGNED_TABLE_REFERENCE_H_
#define HITSIEVE_TESTS_CLI_ALIGNED_TABLE_REFERENCE_H_

// The aligned text table written the plain way, from rows held whole: the reference the
// streaming AlignedTableWriter must match byte for byte. Shared by the command-line tests and
// the text-output fuzzer.

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "cli/text_output.h"

namespace hitsieve::testing {

inline void WriteAlignedLine(std::ostream& out, const std::vector<std::string>& cells,
                             const std::vector<size_t>& widths) {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) line.append(2, ' ');
    const std::string cell = cli::PrintableText(cells[i]);
    line += cell;
    const size_t width = cli::DisplayWidth(cell);
    if (i + 1 < widths.size() && width < widths[i]) line.append(widths[i] - width, ' ');
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  out << line << '\n';
}

// The header line, then one line per row, every column left-aligned and padded by display
// width, columns two spaces apart, no trailing blanks.
inline void WriteAlignedTable(std::ostream& out, const std::vector<std::string>& titles,
                              const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths(titles.size(), 0);
  auto measure = [&widths](const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size() && i < widths.size(); ++i)
      widths[i] = std::max(widths[i], cli::DisplayWidth(cells[i]));
  };
  measure(titles);
  for (const auto& row : rows) measure(row);
  WriteAlignedLine(out, titles, widths);
  for (const auto& row : rows) WriteAlignedLine(out, row, widths);
}

}  // namespace hitsieve::testing

#endif  // HITSIEVE_TESTS_CLI_ALIGNED_TABLE_REFERENCE_H_
