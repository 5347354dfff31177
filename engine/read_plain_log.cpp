// How a plain log is read: on the calling thread, or cut at line feeds into one range per
// core, each parsed into a collector of its own and merged in file order.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/line_blocks.h"
#include "engine/read_steps.h"
#include "engine/stats_collector.h"
#include "engine/task_list.h"

namespace hitsieve {

namespace {

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

}  // namespace

void CollectPlainOnCaller(RecordSink& sink, const PlainFile& file, const CollectOptions& options,
                          const TextObserver& text, ProgressReport& progress) {
  PlainSource plain(file, 0, file.size());
  ObservedSource<PlainSource> source(plain, text);
  ParseBlocks(sink, source, options, [&](int64_t done) { progress.Report(done); },
              options.stop);
}

// The bytes [begin, end) of the file (both line starts, or the file's ends) are cut at line
// feeds into one contiguous range per thread; each range is parsed
// into a collector of its own, and the collectors are merged in file order, which gives the
// statistics of one collector reading the whole file. The work after parsing (sorting each
// part's new keys, merging the parts, showing `text` the later ranges) is done in pieces by
// whichever thread is free, so that no core waits while another finishes: each keyed table is
// sorted and merged on its own, and the days apart from them. The calling thread only reports
// progress meanwhile, woken as blocks are parsed. `text` sees the first range as it is parsed
// and the others after it, in order.
void CollectPlainInRanges(StatsCollector& collector, const PlainFile& file, int64_t begin,
                          int64_t end, unsigned threads, const CollectOptions& options,
                          const TextObserver& text, ProgressReport& progress) {
  using Keyed = StatsCollector::Keyed;
  const int64_t size = end - begin;
  std::vector<int64_t> bounds(threads + 1, end);
  bounds[0] = begin;
  for (unsigned k = 1; k < threads; ++k) {
    bounds[k] = std::clamp(file.NextLineStart(begin + size / threads * k - 1), bounds[k - 1], end);
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
    tasks.Add([&] { ShowPlainText(file, bounds[1], end, text, options.stop); }, {parse[0]});
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

}  // namespace hitsieve
