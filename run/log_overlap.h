// Finding remembered text inside an offered log that is no continuation of any remembered log:
// an old copy of a log counted further since (a backup, or the copy copytruncate made while the
// live log went on growing), or a log that shares its whole head with a counted one and then
// parts from it; and whether one remembered log begins with another. Remembered logs keep only
// hashes, so the text is looked for in the files.
#ifndef HITSIEVE_RUN_LOG_OVERLAP_H_
#define HITSIEVE_RUN_LOG_OVERLAP_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "store/stats_merge.h"

namespace hitsieve {

// The first bytes of logs, read once each when first asked for: where a run looks for the
// text of a remembered log. Worker thread of one run.
class LogStarts {
 public:
  // `paths`: the logs of the run, searched besides the name a remembered log was last read under.
  explicit LogStarts(std::vector<std::string> paths = {}) : paths_(std::move(paths)) {}
  const std::vector<std::string>& paths() const { return paths_; }
  // The first kLogHeadBytes of the (decompressed) text of `path`, fewer when it is shorter;
  // empty when it cannot be read.
  const std::string& Start(const std::string& path);

 private:
  std::vector<std::string> paths_;
  std::map<std::string, std::string> starts_;
};

// How much of an offered text was counted before as part of remembered log `source`.
struct Overlap {
  size_t source = 0;
  int64_t covered = 0;  // bytes from the start; the whole offered text when it is all known
  int64_t lines = 0;    // lines in those bytes
};

// The offered text is the first `length` bytes of `path`, which begin with `head` (its first
// kLogHeadBytes bytes, or all of them). Looks among the remembered logs that are longer than
// `covered` bytes for one that holds the text: whole (it is a copy of the start of that log,
// or equal to it), or, when the two share at least the head, up to the start of the line where
// they part. Two logs that part inside the head are two logs: a few equal first lines (the
// same header or monitoring probe) do not make one a copy of the other.
// Throws when a log shares its head with a remembered log whose text can no longer be found to
// tell how much more they share: counting it could count lines twice.
std::optional<Overlap> FindOverlap(const std::string& path, int64_t length,
                                   const std::string& head, const std::vector<LogSource>& sources,
                                   int64_t covered, LogStarts& starts);

// Whether the text of remembered log `longer`, read from the file it was last read under,
// begins with the whole text of `shorter`, a log no longer than `longer`'s head: what the
// stored hashes of two logs with heads of different lengths cannot tell. nullopt when that
// file no longer begins with `longer`'s head (gone, rotated, rewritten, unreadable). Each file
// is read once per `starts`.
std::optional<bool> BeginsWith(const LogSource& longer, const LogSource& shorter,
                               LogStarts& starts);

}  // namespace hitsieve

#endif  // HITSIEVE_RUN_LOG_OVERLAP_H_
