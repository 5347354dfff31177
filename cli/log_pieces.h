// One plain log read in byte ranges, on several machines: `analyse --byte-range` writes a piece,
// `describe-log` tells how a whole read of the log remembers it, and `merge --pieces-of` joins
// the pieces into the part that one `analyse` of the whole log writes.
#ifndef HITSIEVE_CLI_LOG_PIECES_H_
#define HITSIEVE_CLI_LOG_PIECES_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/dimensions/crawler_list.h"
#include "engine/dimensions/dimension.h"
#include "engine/page_filter.h"
#include "store/merge_part.h"

namespace hitsieve {
class LogFormat;
}

namespace hitsieve::cli {

struct ParsedArguments;

// The byte range of `analyse --byte-range`, checked with the rest of the command line before
// anything is opened: one plain LOGFILE, --db given, no option that needs the whole log.
struct ByteRange {
  int64_t begin = 0, end = 0;
};
std::optional<ByteRange> ByteRangeOption(const ParsedArguments& parsed,
                                         const std::vector<std::string>& files,
                                         const LogFormat* format);

// Reads the lines of `file` that begin in `range` and writes their statistics as a piece to
// `database`, a new file, counted under `crawlers` with the dimensions of `dimensions`, as a
// replacing run of the whole log counts them. Prints a one-line summary.
int AnalyseByteRange(const std::string& file, const ByteRange& range,
                     const ExtensionSet& extensions, std::shared_ptr<const LogFormat> format,
                     const std::string& database, CrawlerMode crawlers,
                     const DimensionOptions& dimensions);

// The pieces of `file` (part files, in any order) joined into what one replacing run of the
// whole log brings: their statistics in file order and the log as that run remembers it,
// from `described` (a line of describe-log) or else read from the file now. Refused unless
// every piece is of that log and together they cover its text exactly once. The log is
// remembered with `log_format` (LogFormat::text(), empty for the default reading).
MergePart JoinLogPieces(const std::string& file, const std::optional<std::string>& described,
                        const std::vector<std::string>& pieces,
                        const std::string& log_format = {});

// Consecutive pieces of `file`, in file order, joined into one piece written to `database`, a
// new file: so that many pieces can be joined in a tree. Prints a one-line summary.
int JoinPiecesIntoPiece(const std::string& file, const std::vector<std::string>& pieces,
                        const std::string& database);

}  // namespace hitsieve::cli

#endif  // HITSIEVE_CLI_LOG_PIECES_H_
