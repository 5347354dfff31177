// What the log readers share, inside the engine only: the stop check, the block loop, the
// progress report, how many threads a file gets, and the reading strategies' entry points.
#ifndef HITSIEVE_ENGINE_READ_STEPS_H_
#define HITSIEVE_ENGINE_READ_STEPS_H_

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "engine/gzip_inflate.h"
#include "engine/line_blocks.h"
#include "engine/log_reader.h"
#include "engine/record_sink.h"
#include "engine/stats_collector.h"

namespace hitsieve {

constexpr unsigned kMaxThreads = 16;

// The text of one file, for CollectOptions::file_text.
using TextObserver = std::function<void(std::string_view)>;
inline TextObserver FileTextOf(const CollectOptions& options, size_t file) {
  if (!options.file_text) return {};
  return [&options, file](std::string_view text) { options.file_text(file, text); };
}

constexpr int64_t kGzipRatio = 8;  // about how much a log shrinks when compressed
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

class ProgressReport {
 public:
  explicit ProgressReport(ReadProgressObserver* observer) : observer_(observer) {}
  void Start(int64_t size) {
    size_ = size;
    Report(0);
  }
  void Report(int64_t done) {
    if (observer_ != nullptr) observer_->FileProgress(std::clamp<int64_t>(done, 0, size_), size_);
  }
  void Finish() { Report(size_); }

 private:
  ReadProgressObserver* observer_;
  int64_t size_ = 0;
};

inline unsigned ThreadCount(const CollectOptions& options, int64_t size) {
  if (size == 0 || size < options.parallel_threshold) return 1;
  unsigned count = options.threads != 0 ? options.threads : std::thread::hardware_concurrency();
  count = std::clamp(count, 1u, kMaxThreads);
  return static_cast<unsigned>(std::min<int64_t>(count, size));
}

inline void ThrowIfStopped(const std::atomic<bool>* stop) {
  if (stop != nullptr && stop->load(std::memory_order_relaxed)) throw ReadingStopped();
}

// Hands `source` to `sink` block by block; `parsed(position)` follows each block, with the
// source bytes consumed so far. Checks `stop` (may be null) before each block.
template <typename Source, typename Parsed>
inline void ParseBlocks(RecordSink& sink, Source& source, const CollectOptions& options, Parsed parsed,
                 const std::atomic<bool>* stop = nullptr) {
  LineCutter<Source> cutter(source, options.block_size, options.max_line);
  LineBlock block;
  for (;;) {
    ThrowIfStopped(stop);
    if (!cutter.Fill(block)) break;
    sink.ParseLines(block.Text());
    parsed(block.position);
  }
  sink.CountLongLines(cutter.long_lines());
}

inline void Ignore(int64_t) {}

// Raises a pool's stop flag and wakes its workers when it goes out of scope. Declared after the
// workers, it runs first, so however the pool's function is left the workers stop before they
// are joined.
class StopWorkers {
 public:
  StopWorkers(std::mutex& mutex, std::condition_variable& changed, bool& stop)
      : mutex_(mutex), changed_(changed), stop_(stop) {}
  StopWorkers(const StopWorkers&) = delete;
  StopWorkers& operator=(const StopWorkers&) = delete;
  ~StopWorkers() {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex& mutex_;
  std::condition_variable& changed_;
  bool& stop_;
};

// The reading strategies, each in its own file; CollectFileAt chooses among them.

// Plain file, parsed on the calling thread (read_plain_log.cpp).
void CollectPlainOnCaller(RecordSink& sink, const PlainFile& file, const CollectOptions& options,
                          const TextObserver& text, ProgressReport& progress);
// The bytes [begin, end) of a plain file (line starts) cut into ranges parsed on several
// threads (read_plain_log.cpp).
void CollectPlainInRanges(StatsCollector& collector, const PlainFile& file, int64_t begin,
                          int64_t end, unsigned threads, const CollectOptions& options,
                          const TextObserver& text, ProgressReport& progress);
// Gzip file decompressed on a thread beside the parsing caller (read_gzip_log.cpp).
void CollectGzip(RecordSink& sink, GzipSource& source, const CollectOptions& options,
                 const TextObserver& text, ProgressReport& progress);
// Gzip file decompressed and parsed in segments on several threads (read_gzip_log.cpp).
void CollectGzipInSegments(StatsCollector& collector, GzipSource& source, unsigned threads,
                           const CollectOptions& options, const TextObserver& text,
                           ProgressReport& progress);
// One file, by whichever strategy fits it; `index` is its place in CollectFiles' list
// (log_reader.cpp).
void CollectFileAt(StatsCollector& collector, const std::string& path, size_t index,
                   const CollectOptions& options, ReadProgressObserver* observer);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_READ_STEPS_H_
