#ifndef HITSIEVE_TESTS_CLI_REPORT_BYTES_H_
#define HITSIEVE_TESTS_CLI_REPORT_BYTES_H_

#include <map>
#include <string>
#include <vector>

#include "cli_test_support.h"

// Everything a user can be shown of a statistics database, as bytes, through the real
// hitsieve-cli: the text and csv (plain and raw) of every report, the sheet and shared strings
// of every workbook, and the data of the report page in both languages. Two databases whose
// maps are equal show the same reports everywhere.
namespace hitsieve::testing {

// Output name ("pages.txt", "queries.xlsx:sheet1.xml", "page.en.json", ...) -> its bytes.
// Every command must succeed (checked with gtest).
std::map<std::string, std::string> AllReportBytes(const TempDir& dir, const std::string& db);

// For each output of `expected` that `actual` lacks or holds other bytes for: its name and the
// start of its first differing line in both. Empty when every report is the same.
std::vector<std::string> ReportDifferences(const std::map<std::string, std::string>& expected,
                                           const std::map<std::string, std::string>& actual);

// Keyed tables (every table whose rows are identified by a key, not by their place) rewritten
// with their rows in a random order under new, scattered rec_ids: what adds and merges may
// leave where one replacing run writes the keys in order. The robot log keeps its order.
void ShuffleKeyedRows(const fs::path& db, unsigned seed);

}  // namespace hitsieve::testing

#endif  // HITSIEVE_TESTS_CLI_REPORT_BYTES_H_
