#ifndef HITSIEVE_ENGINE_LOG_READER_H_
#define HITSIEVE_ENGINE_LOG_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>

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
  // Parsing threads for a plain file; 0 means one per processor core. A gzip file is always
  // decompressed on one thread and parsed on another.
  unsigned threads = 0;
  // A plain file smaller than this is parsed on one thread: starting threads would cost more.
  int64_t parallel_threshold = 8 << 20;
};

// Reads `path` (gzip when IsGzipName says so, plain otherwise) in blocks and hands every record
// to `collector`. The statistics are exactly those of ParseContent on the file's whole text:
// the same rows, in the same order, robot hits in file order, and each phrase spelt as at its
// first occurrence in the file. Memory holds a few blocks, never the whole file. Throws the
// reader errors of record_sink.h; the collector then holds part of the file and must be
// discarded. `progress` may be null.
void CollectFile(StatsCollector& collector, const std::string& path,
                 const CollectOptions& options = {}, ReadProgressObserver* progress = nullptr);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_LOG_READER_H_
