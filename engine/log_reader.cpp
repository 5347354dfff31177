#include "engine/log_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "engine/line_blocks.h"
#include "engine/record_sink.h"
#include "engine/stats_collector.h"

namespace hitsieve {

// ---- Sources ----

int OpenRegularFile(const std::string& path, const char* open_error, int64_t& size) {
  // O_NONBLOCK: should the name have become a pipe since it was checked, opening it must not
  // wait for a writer that never comes. It changes nothing for a regular file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw std::runtime_error(open_error);
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    throw std::runtime_error(open_error);
  }
  size = info.st_size;
  return fd;
}

PlainFile::PlainFile(const std::string& path) {
  fd_ = OpenRegularFile(path, kFileOpenError, size_);
  if (size_ == 0) {
    // Files under /proc and /sys report no size but have content; reading them as empty would
    // replace the statistics with nothing.
    char probe;
    ssize_t read;
    do {
      read = ::pread(fd_, &probe, 1, 0);
    } while (read < 0 && errno == EINTR);
    if (read != 0) {
      ::close(fd_);
      throw std::runtime_error(kFileReadError);
    }
  }
  posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

PlainFile::~PlainFile() { ::close(fd_); }

size_t PlainFile::ReadAt(int64_t offset, char* out, size_t count) const {
  if (offset >= size_) return 0;
  count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size_ - offset));
  for (;;) {
    const ssize_t read = ::pread(fd_, out, count, offset);
    // Nothing before size(): the file has been cut while it was read.
    if (read > 0 || (read == 0 && count == 0)) return static_cast<size_t>(read);
    if (read == 0 || errno != EINTR) throw std::runtime_error(kFileReadError);
  }
}

void PlainFile::CheckNotShrunk() const {
  struct stat info;
  if (fstat(fd_, &info) != 0 || info.st_size < size_) throw std::runtime_error(kFileReadError);
}

int64_t PlainFile::NextLineStart(int64_t offset) const {
  char buffer[64 * 1024];
  while (offset < size_) {
    const size_t read = ReadAt(offset, buffer, sizeof buffer);
    if (const void* found = std::memchr(buffer, '\n', read)) {
      return offset + (static_cast<const char*>(found) - buffer) + 1;
    }
    offset += static_cast<int64_t>(read);
  }
  return size_;
}

size_t PlainSource::Read(char* out, size_t count) {
  const int64_t left = end_ - position_;
  const size_t wanted = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), left));
  if (wanted == 0) return 0;
  const size_t read = file_.ReadAt(position_, out, wanted);
  position_ += static_cast<int64_t>(read);
  return read;
}

void LineBlock::Reserve(size_t wanted) {
  if (wanted <= capacity) return;
  // Not zero-filled: every byte is written by a read before it is looked at.
  auto grown = std::make_unique_for_overwrite<char[]>(wanted);
  if (size > 0) std::memcpy(grown.get(), data.get(), size);
  data = std::move(grown);
  capacity = wanted;
}

// ---- Reading a whole file into memory ----

void ReadPlainFile(const std::string& path, std::string& text) {
  const PlainFile file(path);
  text.resize(static_cast<size_t>(file.size()));
  size_t done = 0;
  while (done < text.size()) {
    done += file.ReadAt(static_cast<int64_t>(done), text.data() + done, text.size() - done);
  }
}

void ReadGzipFile(const std::string& path, std::string& text) {
  constexpr size_t kInitialCapacity = 204800;
  constexpr size_t kChunk = 64 * 1024;
  try {
    GzipSource source(path);
    text.reserve(kInitialCapacity);
    for (;;) {
      const size_t size = text.size();
      text.resize(size + kChunk);
      const size_t read = source.Read(text.data() + size, kChunk);
      text.resize(size + read);
      if (read == 0) break;
    }
  } catch (...) {
    text.clear();
    text.shrink_to_fit();
    throw;
  }
}

// ---- Reading a file on the calling thread ----

namespace {

void ThrowIfStopped(const std::atomic<bool>* stop) {
  if (stop != nullptr && stop->load(std::memory_order_relaxed)) throw ReadingStopped();
}

// Hands `source` to `sink` block by block; `parsed(position)` follows each block, with the
// source bytes consumed so far. Checks `stop` (may be null) before each block.
template <typename Source, typename Parsed>
void ParseBlocks(RecordSink& sink, Source& source, const CollectOptions& options, Parsed parsed,
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

void Ignore(int64_t) {}

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

}  // namespace

void RecordSink::ProcessFile(const std::string& path) {
  const CollectOptions options;
  if (IsGzipName(path)) {
    GzipSource source(path);
    ParseBlocks(*this, source, options, Ignore);
  } else {
    PlainFile file(path);
    PlainSource source(file, 0, file.size());
    ParseBlocks(*this, source, options, Ignore);
    file.CheckNotShrunk();
  }
  Finish();
}

// ---- Reading a file on several threads ----

namespace {

constexpr unsigned kMaxThreads = 16;
// The text of one file, for CollectOptions::file_text.
using TextObserver = std::function<void(std::string_view)>;
TextObserver FileTextOf(const CollectOptions& options, size_t file) {
  if (!options.file_text) return {};
  return [&options, file](std::string_view text) { options.file_text(file, text); };
}

// Shows `text` the bytes [begin, end) of `file`, in order.
void ShowPlainText(const PlainFile& file, int64_t begin, int64_t end, const TextObserver& text,
                   const std::atomic<bool>* stop) {
  constexpr size_t kPiece = 1 << 20;
  const auto buffer = std::make_unique_for_overwrite<char[]>(kPiece);
  while (begin < end) {
    ThrowIfStopped(stop);
    const size_t read = file.ReadAt(
        begin, buffer.get(), static_cast<size_t>(std::min<int64_t>(kPiece, end - begin)));
    text(std::string_view(buffer.get(), read));
    begin += static_cast<int64_t>(read);
  }
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

unsigned ThreadCount(const CollectOptions& options, int64_t size) {
  if (size == 0 || size < options.parallel_threshold) return 1;
  unsigned count = options.threads != 0 ? options.threads : std::thread::hardware_concurrency();
  count = std::clamp(count, 1u, kMaxThreads);
  return static_cast<unsigned>(std::min<int64_t>(count, size));
}

void CollectPlainOnCaller(RecordSink& sink, const PlainFile& file, const CollectOptions& options,
                          const TextObserver& text, ProgressReport& progress) {
  PlainSource plain(file, 0, file.size());
  ObservedSource<PlainSource> source(plain, text);
  ParseBlocks(sink, source, options, [&](int64_t done) { progress.Report(done); },
              options.stop);
}

// Work in pieces, some waiting for others, done by a few threads: each takes the first piece,
// in the order they were added, whose pieces before it are done. After a piece fails, no other
// is started; Run then throws the error of the first failed piece in that order. A piece due
// to start once `stop` (may be null) is set fails with ReadingStopped instead.
class TaskList {
 public:
  explicit TaskList(const std::atomic<bool>* stop = nullptr) : stop_(stop) {}

  // Returns the piece's number, for the `after` of later pieces.
  size_t Add(std::function<void()> run, std::vector<size_t> after = {}) {
    Task& task = tasks_.emplace_back();
    task.run = std::move(run);
    task.after = std::move(after);
    return tasks_.size() - 1;
  }

  // Runs every piece on `threads` threads; the calling thread meanwhile calls `wait()`, which
  // should return within a short time, until they are done.
  void Run(unsigned threads, const std::function<void(std::unique_lock<std::mutex>&)>& wait) {
    {
      std::vector<std::jthread> workers;  // joined when this scope ends, whatever happens
      workers.reserve(threads);
      for (unsigned t = 0; t < threads; ++t) workers.emplace_back([this] { Work(); });
      std::unique_lock<std::mutex> lock(mutex_);
      while (ended_ < threads) wait(lock);
    }
    for (const Task& task : tasks_) {
      if (task.error) std::rethrow_exception(task.error);
    }
  }

  // Wakes the waiting caller, as a piece does when it ends.
  std::condition_variable& changed() { return changed_; }

 private:
  struct Task {
    std::function<void()> run;
    std::vector<size_t> after;
    bool started = false;
    bool done = false;
    std::exception_ptr error;
  };

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      Task* next = nullptr;
      bool waiting = false;  // a piece not started yet, whose pieces before it are not done
      if (!failed_) {
        for (Task& task : tasks_) {
          if (task.started) continue;
          const bool ready = std::all_of(task.after.begin(), task.after.end(),
                                         [this](size_t k) { return tasks_[k].done; });
          if (ready) {
            next = &task;
            break;
          }
          waiting = true;
        }
      }
      if (next == nullptr && !waiting) break;
      if (next == nullptr) {
        changed_.wait(lock);
        continue;
      }
      next->started = true;
      lock.unlock();
      std::exception_ptr error;
      try {
        ThrowIfStopped(stop_);
        next->run();
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      next->done = true;
      next->error = error;
      if (error) failed_ = true;
      changed_.notify_all();
    }
    ++ended_;
    changed_.notify_all();
  }

  const std::atomic<bool>* stop_;
  std::vector<Task> tasks_;  // fixed once Run has started
  std::mutex mutex_;
  std::condition_variable changed_;
  bool failed_ = false;  // guarded by mutex_
  unsigned ended_ = 0;   // guarded by mutex_: workers that found nothing more to do
};

// The file is cut at line feeds into one contiguous range per thread; each range is parsed
// into a collector of its own, and the collectors are merged in file order, which gives the
// statistics of one collector reading the whole file. The work after parsing (sorting each
// part's new keys, merging the parts, showing `text` the later ranges) is done in pieces by
// whichever thread is free, so that no core waits while another finishes: each keyed table is
// sorted and merged on its own, and the days apart from them. The calling thread only reports
// progress meanwhile, woken as blocks are parsed. `text` sees the first range as it is parsed
// and the others after it, in order.
void CollectPlainInRanges(StatsCollector& collector, const PlainFile& file, unsigned threads,
                          const CollectOptions& options, const TextObserver& text,
                          ProgressReport& progress) {
  using Keyed = StatsCollector::Keyed;
  const int64_t size = file.size();
  std::vector<int64_t> bounds(threads + 1, size);
  bounds[0] = 0;
  for (unsigned k = 1; k < threads; ++k) {
    bounds[k] = std::max(bounds[k - 1], file.NextLineStart(size / threads * k - 1));
  }
  // The first range goes straight into `collector`, after whatever earlier files left there.
  std::vector<StatsCollector> parts;
  parts.reserve(threads - 1);
  for (unsigned k = 1; k < threads; ++k) parts.push_back(collector.EmptyCopy());
  auto part = [&](unsigned k) -> StatsCollector& { return k == 0 ? collector : parts[k - 1]; };

  std::atomic<int64_t> parsed{0};
  TaskList tasks(options.stop);
  std::vector<size_t> parse(threads);
  for (unsigned k = 0; k < threads; ++k) {
    parse[k] = tasks.Add([&, k] {
      PlainSource plain(file, bounds[k], bounds[k + 1]);
      static const TextObserver kUnseen;
      ObservedSource<PlainSource> source(plain, k == 0 ? text : kUnseen);
      int64_t reported = bounds[k];
      ParseBlocks(part(k), source, options, [&](int64_t position) {
        parsed += position - reported;
        reported = position;
        tasks.changed().notify_all();
      }, options.stop);
    });
  }
  // The text's later ranges can only follow the first: the caller's hash runs in order.
  if (text && threads > 1) {
    tasks.Add([&] { ShowPlainText(file, bounds[1], size, text, options.stop); }, {parse[0]});
  }
  // The days, largest first; each part's in turn, after all of those before it.
  size_t days = parse[0];
  for (unsigned k = 1; k < threads; ++k) {
    days = tasks.Add([&, k] { collector.AbsorbRest(parts[k - 1]); }, {days, parse[k]});
  }
  // The referers are the most keys, then the phrases and pages.
  const Keyed kOrder[] = {Keyed::kReferers, Keyed::kPhrases, Keyed::kPages};
  std::vector<std::vector<size_t>> finished(threads);
  for (const Keyed table : kOrder) {
    for (unsigned k = 0; k < threads; ++k) {
      finished[k].push_back(
          tasks.Add([&, k, table] { part(k).FinishToRun(table); }, {parse[k]}));
    }
  }
  // Each table's runs merged in part order, then put into the map once.
  for (size_t t = 0; t < std::size(kOrder); ++t) {
    const Keyed table = kOrder[t];
    size_t merged = finished[0][t];
    for (unsigned k = 1; k < threads; ++k) {
      merged = tasks.Add([&, k, table] { collector.AbsorbRun(parts[k - 1], table); },
                         {merged, finished[k][t]});
    }
    tasks.Add([&, table] { collector.Finish(table); }, {merged});
  }

  int64_t reported = 0;
  tasks.Run(threads, [&](std::unique_lock<std::mutex>& lock) {
    tasks.changed().wait_for(lock, kProgressInterval);
    const int64_t now = parsed.load();
    if (now == reported) return;
    reported = now;
    lock.unlock();
    progress.Report(now);
    lock.lock();
  });
}

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


// The keyed tables (pages, referers, hosts, phrases) of whole files, or of a gzip file's
// segments, each part's sorted into runs (StatsCollector::FinishToRuns) and merged as a merge
// sort merges runs. Merging each part in turn into all those before it would walk their keys
// once per part, which costs the parts times the keys; here a part's runs are merged only with
// their neighbour's of about their size, which keeps the runs waiting few (each at most half
// the one before it) and costs each key a merge per doubling. Only neighbours are merged, the
// earlier absorbing the later, so a phrase keeps the spelling of its first part. The runs go
// into the maps once, at the end.
class KeyedStack {
 public:
  // `part`: the next file's collector, its keyed tables in runs, the rest absorbed already.
  void Push(std::unique_ptr<StatsCollector> part) {
    parts_.push_back(std::move(part));
    while (parts_.size() >= 2 &&
           2 * parts_.back()->RunKeys() >= parts_[parts_.size() - 2]->RunKeys()) {
      StatsCollector& earlier = *parts_[parts_.size() - 2];
      for (const StatsCollector::Keyed table : StatsCollector::kKeyed) {
        earlier.AbsorbRun(*parts_.back(), table);
      }
      parts_.pop_back();
    }
  }

  // Merges what waits into `collector`'s tables, which come before it: each table on its own,
  // on `threads` threads.
  void MergeInto(StatsCollector& collector, unsigned threads) {
    if (parts_.empty()) return;
    TaskList tasks;
    for (const StatsCollector::Keyed table : StatsCollector::kKeyed) {
      tasks.Add([this, &collector, table] {
        collector.Finish(table);
        for (size_t k = parts_.size() - 1; k > 0; --k) {
          parts_[k - 1]->AbsorbRun(*parts_[k], table);
        }
        collector.AbsorbTable(*parts_[0], table);  // the run straight into the map
      });
    }
    tasks.Run(std::clamp(threads, 1u, 4u),
              [&tasks](std::unique_lock<std::mutex>& lock) { tasks.changed().wait(lock); });
    parts_.clear();
  }

 private:
  std::vector<std::unique_ptr<StatsCollector>> parts_;  // in file order
};

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
}  // namespace

namespace {

void CollectFileAt(StatsCollector& collector, const std::string& path, size_t index,
                   const CollectOptions& options, ReadProgressObserver* observer) {
  ProgressReport progress(observer);
  const TextObserver text = FileTextOf(options, index);
  // A format whose lines depend on those before them (W3C's #Fields:) reads a file in order.
  collector.StartFile();
  const bool whole = collector.FormatKeepsState();
  if (IsGzipName(path)) {
    GzipSource source(path);
    progress.Start(source.size());
    const unsigned threads = whole ? 1 : ThreadCount(options, source.size());
    if (threads == 1) {
      CollectGzip(collector, source, options, text, progress);
    } else {
      CollectGzipInSegments(collector, source, threads, options, text, progress);
    }
  } else {
    PlainFile file(path);
    progress.Start(file.size());
    const unsigned threads = whole ? 1 : ThreadCount(options, file.size());
    if (threads == 1) {
      CollectPlainOnCaller(collector, file, options, text, progress);
    } else {
      CollectPlainInRanges(collector, file, threads, options, text, progress);
    }
    file.CheckNotShrunk();
  }
  collector.Finish();
  progress.Finish();
  // A stop asked after the last block, while the parts were merged or the end reported, still
  // ends the read: a stopped read never returns as if it were complete.
  ThrowIfStopped(options.stop);
}

}  // namespace

void CollectFile(StatsCollector& collector, const std::string& path, const CollectOptions& options,
                 ReadProgressObserver* observer) {
  CollectFileAt(collector, path, 0, options, observer);
}

// ---- Reading several files at once ----

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
