// Feeds arbitrary cells to the command line's text and CSV writers and checks the two promises
// they make about log text: nothing that reaches a terminal carries a control character, and
// every CSV record reads back as the cells written (guarded cells with their apostrophe).
//
// Build and run (from the repository root):
//   cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
//     -DHITSIEVE_BUILD_FUZZ=ON -DHITSIEVE_BUILD_UI=OFF -DHITSIEVE_BUILD_BENCH=OFF
//   cmake --build build-fuzz --target text_output_fuzzer
//   build-fuzz/fuzz/text_output_fuzzer -max_len=512 -max_total_time=300
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/text_output.h"
#include "tests/cli/aligned_table_reference.h"

namespace {

using hitsieve::cli::CsvCellRule;

void Check(bool condition) {
  if (!condition) std::abort();
}

// True unless `text` is well-formed UTF-8 free of C0 controls (line feed allowed where
// `newline_ok`), DEL and C1 controls. Malformed bytes count as controls: a byte 80-9F on its
// own is obeyed by a terminal in 8-bit mode.
bool HasControl(std::string_view text, bool newline_ok) {
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return true;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return true;
      c = (c << 6) | (next & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMinimum[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return true;
    if (c == '\n' ? !newline_ok : c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
    i += length;
  }
  return false;
}

// An RFC 4180 reader for one record ending in "\n".
std::vector<std::string> ReadCsvRecord(std::string_view text) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else if (c == '\n') {
      Check(i + 1 == text.size());  // the record ends at its only unquoted line feed
    } else {
      fields.back() += c;
    }
  }
  Check(!quoted);
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Cells are separated by 0x1E, a byte the writers treat like any other.
  std::vector<std::string> cells(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0x1E) {
      cells.emplace_back();
    } else {
      cells.back() += static_cast<char>(data[i]);
    }
  }
  for (const std::string& cell : cells) {
    Check(!HasControl(hitsieve::cli::PrintableText(cell), false));
    const std::string guarded = hitsieve::cli::CsvTextCell(cell, CsvCellRule{true, true});
    Check(!HasControl(guarded, false));
    Check(guarded.empty() || std::string_view("=+-@\t\r").find(guarded[0]) == std::string_view::npos);
  }
  std::ostringstream table;
  hitsieve::testing::WriteAlignedTable(table, cells, {cells, cells});
  Check(!HasControl(table.str(), true));
  // The streaming writer (rows measured, then written) gives the same bytes.
  {
    hitsieve::cli::AlignedTableWriter writer(cells);
    writer.Measure(cells);
    writer.Measure(cells);
    std::ostringstream streamed;
    writer.WriteTitles(streamed);
    writer.WriteRow(streamed, cells);
    writer.WriteRow(streamed, cells);
    streamed.flush();
    Check(streamed.str() == table.str());
  }

  for (const CsvCellRule& rule : {CsvCellRule{false, false}, CsvCellRule{false, true},
                                  CsvCellRule{true, true}}) {
    std::vector<std::string> written;
    for (const std::string& cell : cells) written.push_back(hitsieve::cli::CsvTextCell(cell, rule));
    std::ostringstream csv;
    hitsieve::cli::WriteCsvRecord(csv, written);
    Check(ReadCsvRecord(csv.str()) == written);
    if (!rule.printable && !rule.guard_formula) Check(written == cells);
  }
  return 0;
}
