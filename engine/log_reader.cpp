// CollectFile: one log read into a collector by the strategy that fits its kind and size (the
// strategies are in read_plain_log.cpp and read_gzip_log.cpp); RecordSink::ProcessFile.
#include "engine/log_reader.h"

#include <stdexcept>
#include <string>

#include "engine/gzip_inflate.h"
#include "engine/line_blocks.h"
#include "engine/read_steps.h"
#include "engine/record_sink.h"
#include "engine/stats_collector.h"

namespace hitsieve {

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
      CollectPlainInRanges(collector, file, 0, file.size(), threads, options, text, progress);
    }
    file.CheckNotShrunk();
  }
  collector.Finish();
  progress.Finish();
  // A stop asked after the last block, while the parts were merged or the end reported, still
  // ends the read: a stopped read never returns as if it were complete.
  ThrowIfStopped(options.stop);
}

LineRange CollectFileRange(StatsCollector& collector, const std::string& path, int64_t begin,
                           int64_t end, const CollectOptions& options) {
  if (begin < 0 || end < begin) throw std::invalid_argument("a byte range ends before it begins");
  if (IsGzipName(path) || collector.FormatKeepsState())
    throw std::invalid_argument("a compressed log, or one whose lines depend on those before "
                                "them, is read from its start");
  collector.StartFile();
  PlainFile file(path);
  // The first line that begins at or after `at`.
  const auto line_start = [&file](int64_t at) {
    return at <= 0 ? 0 : at >= file.size() ? file.size() : file.NextLineStart(at - 1);
  };
  const LineRange range{line_start(begin), line_start(end)};
  const unsigned threads = ThreadCount(options, range.text_end - range.text_begin);
  if (threads == 1) {
    PlainSource source(file, range.text_begin, range.text_end);
    ParseBlocks(collector, source, options, Ignore, options.stop);
  } else {
    ProgressReport progress(nullptr);
    CollectPlainInRanges(collector, file, range.text_begin, range.text_end, threads, options, {},
                         progress);
  }
  file.CheckNotShrunk();
  collector.Finish();
  ThrowIfStopped(options.stop);
  return range;
}

void CollectFile(StatsCollector& collector, const std::string& path, const CollectOptions& options,
                 ReadProgressObserver* observer) {
  CollectFileAt(collector, path, 0, options, observer);
}

}  // namespace hitsieve
