// CollectFiles: several logs read in turn, or side by side one whole log per core, and their
// statistics merged in file order.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/gzip_inflate.h"
#include "engine/keyed_stack.h"
#include "engine/line_blocks.h"
#include "engine/log_reader.h"
#include "engine/read_steps.h"
#include "engine/stats_collector.h"

namespace hitsieve {

namespace {

// Reads one whole file on the calling thread into `sink`, publishing its size once it is open
// and the bytes parsed so far as blocks go by.
void ReadWholeFile(RecordSink& sink, const std::string& path, const CollectOptions& options,
                   const TextObserver& text, std::atomic<int64_t>& size,
                   std::atomic<int64_t>& done) {
  auto parsed = [&](int64_t position) { done.store(position, std::memory_order_relaxed); };
  if (IsGzipName(path)) {
    GzipSource source(path);
    size.store(source.size());
    ObservedSource<GzipSource> observed(source, text);
    LineCutter<ObservedSource<GzipSource>> cutter(observed, options.block_size, options.max_line);
    LineBlock block;
    for (;;) {
      ThrowIfStopped(options.stop);
      if (!cutter.Fill(block)) break;
      sink.ParseLines(block.Text());
      parsed(block.position);
    }
    sink.CountLongLines(cutter.long_lines());
  } else {
    PlainFile file(path);
    size.store(file.size());
    PlainSource plain(file, 0, file.size());
    ObservedSource<PlainSource> source(plain, text);
    ParseBlocks(sink, source, options, parsed, options.stop);
    file.CheckNotShrunk();
  }
}

// Whole files side by side pay when the work spreads evenly over the cores: a folder of daily
// logs. One file larger than a core's share is better read alone on every core, as
// CollectFile does, one file after another.
unsigned FileThreads(const std::vector<std::string>& paths) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  int64_t total = 0;
  int64_t largest = 0;
  for (const std::string& path : paths) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    const int64_t weight = info.st_size * (IsGzipName(path) ? kGzipRatio : 1);
    total += weight;
    largest = std::max(largest, weight);
  }
  return largest > total / cores ? 1 : cores;
}

// One file of the run: filled by the worker that reads it, emptied by the caller that merges.
struct FileSlot {
  std::atomic<int64_t> size{-1};  // -1 until the file is open
  std::atomic<int64_t> done{0};
  std::unique_ptr<StatsCollector> part;  // guarded by the mutex until `ready`
  std::exception_ptr error;
  bool ready = false;
};

}  // namespace

void CollectFiles(StatsCollector& collector, const std::vector<std::string>& paths,
                  const CollectOptions& options, ReadProgressObserver* observer,
                  const std::function<void()>& file_done) {
  const size_t count = paths.size();
  unsigned threads = options.file_threads != 0 ? options.file_threads : FileThreads(paths);
  threads = static_cast<unsigned>(std::min<size_t>(std::clamp(threads, 1u, kMaxThreads), count));
  if (threads <= 1) {
    for (size_t k = 0; k < count; ++k) {
      ThrowIfStopped(options.stop);
      CollectFileAt(collector, paths[k], k, options, observer);
      if (file_done) file_done();
    }
    return;
  }

  // Workers copy this, never `collector`, which the calling thread changes as it merges.
  const StatsCollector blank = collector.EmptyCopy();
  KeyedStack keyed;
  const auto slots = std::make_unique<FileSlot[]>(count);
  // Files read ahead of the first one not yet merged: their statistics wait in memory.
  const size_t window = 2 * static_cast<size_t>(threads);
  std::mutex mutex;
  std::condition_variable changed;
  size_t next = 0;      // guarded by mutex: the next file a worker takes
  size_t merged = 0;    // guarded by mutex
  size_t end = count;   // guarded by mutex: no file from here on is started
  bool stop = false;    // guarded by mutex

  auto work = [&] {
    for (;;) {
      size_t k;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return stop || next >= end || next < merged + window; });
        if (stop || next >= end) return;
        k = next++;
      }
      FileSlot& slot = slots[k];
      auto part = std::make_unique<StatsCollector>(blank.EmptyCopy());
      std::exception_ptr error;
      try {
        ReadWholeFile(*part, paths[k], options, FileTextOf(options, k), slot.size, slot.done);
        part->FinishToRuns();
      } catch (...) {
        error = std::current_exception();
        part.reset();
      }
      std::lock_guard<std::mutex> lock(mutex);
      slot.part = std::move(part);
      slot.error = error;
      slot.ready = true;
      if (error) end = std::min(end, k + 1);  // the files after a failing one are not needed
      changed.notify_all();
    }
  };

  std::vector<std::jthread> workers;
  const StopWorkers stop_workers(mutex, changed, stop);  // after the workers: runs first
  workers.reserve(threads);
  for (unsigned t = 0; t < threads; ++t) workers.emplace_back(work);

  for (size_t k = 0; k < count; ++k) {
    ThrowIfStopped(options.stop);  // files read ahead are not merged after a stop
    FileSlot& slot = slots[k];
    ProgressReport progress(observer);
    bool started = false;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      const bool ready = slot.ready;
      const int64_t size = slot.size.load();
      if (!started && (size >= 0 || ready)) {
        started = true;
        lock.unlock();
        progress.Start(std::max<int64_t>(size, 0));
        lock.lock();
      }
      if (ready) break;
      changed.wait_for(lock, kProgressInterval);
      if (started && !slot.ready) {
        lock.unlock();
        progress.Report(slot.done.load(std::memory_order_relaxed));
        lock.lock();
      }
    }
    std::unique_ptr<StatsCollector> part = std::move(slot.part);
    const std::exception_ptr error = slot.error;
    lock.unlock();
    if (error) std::rethrow_exception(error);
    // The file's records, days and robot hits join the run now; its keyed tables wait among
    // the others' (see KeyedStack).
    collector.AbsorbRest(*part);
    keyed.Push(std::move(part));
    progress.Finish();
    ThrowIfStopped(options.stop);  // as CollectFileAt: never done after a stop
    lock.lock();
    merged = k + 1;
    changed.notify_all();
    lock.unlock();
    if (file_done) file_done();
  }
  keyed.MergeInto(collector, threads);
}

}  // namespace hitsieve
