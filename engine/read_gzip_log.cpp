// How a gzip log is read: decompressed on a thread of its own beside the parsing caller, or,
// on two cores or more, decompressed and parsed in segments by every core in turn.
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/keyed_stack.h"
#include "engine/line_blocks.h"
#include "engine/read_steps.h"
#include "engine/stats_collector.h"

namespace hitsieve {

// Decompression on a thread of its own, parsing on the calling thread; a few blocks travel
// between them, so memory holds no more than those whatever the file's size.
void CollectGzip(RecordSink& sink, GzipSource& source, const CollectOptions& options,
                 const TextObserver& text, ProgressReport& progress) {
  constexpr size_t kBlocksInFlight = 3;

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<LineBlock> ready;   // guarded by mutex
  std::vector<LineBlock> spare(kBlocksInFlight);  // guarded by mutex
  bool produced_all = false;     // guarded by mutex
  bool stop = false;             // guarded by mutex: the parser gave up
  std::exception_ptr error;      // written before produced_all is set
  int64_t long_lines = 0;        // written before produced_all is set

  std::jthread producer([&] {
    try {
      ObservedSource<GzipSource> observed(source, text);
      LineCutter<ObservedSource<GzipSource>> cutter(observed, options.block_size, options.max_line);
      for (;;) {
        LineBlock block;
        {
          std::unique_lock<std::mutex> lock(mutex);
          changed.wait(lock, [&] { return stop || !spare.empty(); });
          if (stop) break;
          block = std::move(spare.back());
          spare.pop_back();
        }
        if (!cutter.Fill(block)) break;
        std::lock_guard<std::mutex> lock(mutex);
        ready.push_back(std::move(block));
        changed.notify_all();
      }
      long_lines = cutter.long_lines();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(mutex);
    produced_all = true;
    changed.notify_all();
  });
  // Should parsing fail, the producer must not wait for a block that never comes back.
  struct StopProducer {
    std::mutex& mutex;
    std::condition_variable& changed;
    bool& stop;
    ~StopProducer() {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
      changed.notify_all();
    }
  } stop_producer{mutex, changed, stop};

  for (;;) {
    LineBlock block;
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return produced_all || !ready.empty(); });
      if (ready.empty()) break;
      block = std::move(ready.front());
      ready.pop_front();
    }
    ThrowIfStopped(options.stop);
    sink.ParseLines(block.Text());
    progress.Report(block.position);
    std::lock_guard<std::mutex> lock(mutex);
    spare.push_back(std::move(block));
    changed.notify_all();
  }
  producer.join();
  if (error) std::rethrow_exception(error);
  sink.CountLongLines(long_lines);
}

// A gzip stream cannot be cut before it is decompressed, but its text can. Each thread in turn
// takes the stream, decompresses the next segment of whole lines, gives the stream up and
// parses its segment while the next thread decompresses the following one. The first segment
// goes straight into `collector`, every later one into a collector of its own, which the
// calling thread takes in stream order as they finish: the days and robot hits at once, the
// keyed tables as runs merged with their neighbours' (KeyedStack) and into `collector`'s maps
// once every segment is in. A few segments wait at most, so memory holds no more than those
// whatever the file's size.
void CollectGzipInSegments(StatsCollector& collector, GzipSource& source, unsigned threads,
                           const CollectOptions& options, const TextObserver& text,
                           ProgressReport& progress) {
  constexpr int64_t kMinSegment = 4 << 20;
  constexpr int64_t kMaxSegment = 64 << 20;
  const size_t segment =
      options.gzip_segment != 0
          ? options.gzip_segment
          : static_cast<size_t>(std::clamp<int64_t>(
                source.size() * kGzipRatio / (4 * static_cast<int64_t>(threads)), kMinSegment,
                kMaxSegment));
  struct Part {
    std::unique_ptr<StatsCollector> stats;  // null for the first segment and for an empty one
    std::exception_ptr error;
    int64_t position = 0;  // compressed bytes consumed when the segment was complete
  };
  const StatsCollector blank = collector.EmptyCopy();
  KeyedStack keyed;  // the keyed tables of every segment after the first
  ObservedSource<GzipSource> observed(source, text);  // read in order: the stream is held
  LineCutter<ObservedSource<GzipSource>> cutter(observed, options.block_size, options.max_line);
  const size_t window = threads + 1;  // segments decompressed ahead of the first not merged

  std::mutex mutex;
  std::condition_variable changed;
  std::mutex stream;   // held while a thread decompresses; guards `cutter` and `source`
  size_t taken = 0;    // guarded by mutex: segments handed out
  size_t merged = 0;   // guarded by mutex
  bool ended = false;  // guarded by mutex: the stream is exhausted or failed; `taken` is final
  bool stop = false;   // guarded by mutex
  std::map<size_t, Part> finished;  // guarded by mutex: parsed, not yet merged

  auto work = [&] {
    std::vector<LineBlock> blocks;
    for (;;) {
      size_t k;
      Part part;
      size_t used = 0;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return stop || ended || taken < merged + window; });
        if (stop || ended) return;
        lock.unlock();
        std::lock_guard<std::mutex> hold(stream);
        lock.lock();
        if (stop || ended) return;
        k = taken++;
        lock.unlock();
        try {
          size_t filled = 0;
          while (filled < segment) {
            ThrowIfStopped(options.stop);
            if (used == blocks.size()) blocks.emplace_back();
            if (!cutter.Fill(blocks[used])) break;
            filled += blocks[used++].size;
          }
          part.position = source.Position();
          if (filled < segment) {
            lock.lock();
            ended = true;
            lock.unlock();
          }
        } catch (...) {
          part.error = std::current_exception();
          lock.lock();
          ended = true;
          lock.unlock();
        }
      }
      changed.notify_all();
      if (!part.error && used > 0) {
        try {
          if (k != 0) part.stats = std::make_unique<StatsCollector>(blank.EmptyCopy());
          RecordSink& sink = k == 0 ? static_cast<RecordSink&>(collector) : *part.stats;
          for (size_t b = 0; b < used; ++b) {
            ThrowIfStopped(options.stop);
            sink.ParseLines(blocks[b].Text());
          }
          // Each part sorts its own new keys, on its own thread: the first into the maps, the
          // others into runs (see KeyedStack).
          if (k == 0) {
            collector.Finish();
          } else {
            part.stats->FinishToRuns();
          }
        } catch (...) {
          part.error = std::current_exception();
          part.stats.reset();
        }
      }
      std::lock_guard<std::mutex> lock(mutex);
      finished.emplace(k, std::move(part));
      changed.notify_all();
    }
  };

  std::vector<std::jthread> workers;
  const StopWorkers stop_workers(mutex, changed, stop);  // after the workers: runs first
  workers.reserve(threads);
  for (unsigned t = 0; t < threads; ++t) workers.emplace_back(work);

  std::unique_lock<std::mutex> lock(mutex);
  for (size_t k = 0;; ++k) {
    changed.wait(lock, [&] { return finished.count(k) != 0 || (ended && k >= taken); });
    const auto found = finished.find(k);
    if (found == finished.end()) break;  // every segment is merged
    Part part = std::move(found->second);
    finished.erase(found);
    lock.unlock();
    if (part.error) std::rethrow_exception(part.error);
    if (part.stats) {
      collector.AbsorbRest(*part.stats);
      keyed.Push(std::move(part.stats));
    }
    part.stats.reset();
    progress.Report(part.position);
    lock.lock();
    merged = k + 1;
    changed.notify_all();
  }
  // Every segment is in, so no worker uses the cutter any more.
  collector.CountLongLines(cutter.long_lines());
  lock.unlock();
  keyed.MergeInto(collector, threads);
}

}  // namespace hitsieve
