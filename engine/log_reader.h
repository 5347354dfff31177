// Reading logs into a collector: CollectFile and CollectFiles, their options, progress and stop.
#ifndef HITSIEVE_ENGINE_LOG_READER_H_
#define HITSIEVE_ENGINE_LOG_READER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace hitsieve {

class StatsCollector;

// Receives how far the run has read into the file it is reading. Called on the run's worker
// thread, once when a file has been opened (done 0) and then as blocks of it have been parsed;
// must be cheap and thread-safe. The file's end is still marked by FILE_DONE.
class ReadProgressObserver {
 public:
  virtual ~ReadProgressObserver() = default;
  // `done` of the current file's `size` bytes have been parsed, 0 <= done <= size. For a gzip
  // file both count compressed bytes. `size` is 0 when the file is empty or reads as empty.
  virtual void FileProgress(int64_t done, int64_t size) = 0;
};

// How CollectFile reads. The defaults are what a run uses; tests vary them to cut lines at
// every kind of place. No setting changes a result.
struct CollectOptions {
  // Bytes read per block. A block always ends at a line feed (or the file's end); a line
  // longer than a block makes its block grow to hold it.
  size_t block_size = 4 << 20;
  // Parsing threads for one file; 0 means one per processor core. A plain file is cut into
  // one range per thread. A gzip file is decompressed one segment at a time, by whichever
  // thread is free, while the others parse the segments already decompressed.
  unsigned threads = 0;
  // A file smaller than this (compressed, for gzip) is parsed on one thread: starting threads
  // would cost more. A small gzip file is still decompressed on a thread of its own.
  int64_t parallel_threshold = 8 << 20;
  // Decompressed bytes in a segment of a gzip file parsed on several threads; 0 chooses from
  // the file's size, so that each thread gets a few segments.
  size_t gzip_segment = 0;
  // Threads reading whole files at once when a run has several; 0 means one per core.
  unsigned file_threads = 0;
  // When set, sees the whole text of every file (decompressed, for gzip), every byte once and
  // in order, lines too long to parse included, so that a caller that needs the text too (to
  // hash it) need not read or decompress it again. `file` is the file's place in CollectFiles'
  // list (0 for CollectFile). The calls for one file never overlap; those for different files
  // may come at once from several threads. A plain file parsed in ranges on several threads is
  // shown its first range as it is parsed and the rest once that range is done, read again
  // from the system's cache: the text must be seen in order.
  std::function<void(size_t file, std::string_view text)> file_text{};
  // A line of this many bytes or more (or of block_size, if that is larger) is skipped and
  // counted (RecordSink::long_lines), so that memory stays bounded whatever the file holds.
  size_t max_line = size_t{64} << 20;
  // When set and true, reading stops at the next block on every thread with ReadingStopped.
  // Another thread may set it at any time; a request that comes after the last block, before
  // CollectFile or CollectFiles has returned (a progress report may make it), ends the read
  // the same way, so a stopped read never returns as complete.
  const std::atomic<bool>* stop = nullptr;
};

// Thrown by the readers when CollectOptions::stop was set: the run was stopped on purpose.
class ReadingStopped : public std::runtime_error {
 public:
  ReadingStopped() : std::runtime_error("analysis stopped") {}
};

// Reads `path` (gzip when IsGzipName says so, plain otherwise) in blocks and hands every record
// to `collector`. The statistics are exactly those of ParseContent on the file's whole text:
// the same rows, in the same order, robot hits in file order, and each phrase spelt as at its
// first occurrence in the file. Memory holds a few blocks, never the whole file. Throws the
// reader errors of record_sink.h; the collector then holds part of the file and must be
// discarded. `progress` may be null.
void CollectFile(StatsCollector& collector, const std::string& path,
                 const CollectOptions& options = {}, ReadProgressObserver* progress = nullptr);

// Reads `paths`, in this order, into `collector`: the statistics of CollectFile on each file in
// turn. When there are several files and several cores, whole files are read on several threads
// at once, each into a collector of its own, and merged into `collector` in file order; a few
// files' statistics wait at most. `file_done` is called on the calling thread each time the next
// file's records are all in `collector`; progress reports, also on the calling thread, follow the
// first file not yet done. A failure is raised once the files before the failing one are done,
// and it is the failure of the first failing file in order; `collector` must then be discarded.
void CollectFiles(StatsCollector& collector, const std::vector<std::string>& paths,
                  const CollectOptions& options, ReadProgressObserver* progress,
                  const std::function<void()>& file_done);

// Where the text of a byte range of a plain file lies: from the first line that begins in the
// range to the end of the last one (its line feed included, or the file's end).
struct LineRange {
  int64_t text_begin = 0, text_end = 0;
};

// Reads into `collector` the lines of the plain file `path` that begin at byte offsets in
// [begin, end): a line begins at 0 and after every line feed, and a line that begins before
// `begin` belongs to the range before, so any cut points split a file's lines exactly. The
// statistics of the ranges of any cuts, added in file order, are those of CollectFile on the
// whole file. A large range is parsed on several threads. REQUIRES: 0 <= begin <= end; a
// plain file (not IsGzipName); a format that does not keep state from line to line. Throws
// the reader errors of record_sink.h, ReadingStopped as CollectFile does.
LineRange CollectFileRange(StatsCollector& collector, const std::string& path, int64_t begin,
                           int64_t end, const CollectOptions& options = {});

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_LOG_READER_H_
