// Feeds arbitrary bytes to the log parser and the statistics collector, whole and read from a
// file in blocks on several threads (the two must agree), checks the hand-written splitter
// and scans against the Boost components whose results they must equal, and the gzip reader
// against zlib on the bytes as they are and compressed into members that are then cut,
// damaged or followed by other bytes.
//
// Build and run (from the repository root):
//   cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
//     -DHITSIEVE_BUILD_FUZZ=ON -DHITSIEVE_BUILD_UI=OFF -DHITSIEVE_BUILD_BENCH=OFF
//   cmake --build build-fuzz --target parse_content_fuzzer
//   mkdir -p build-fuzz/corpus && build-fuzz/fuzz/parse_content_fuzzer build-fuzz/corpus \
//     tests/data -max_len=4096 -max_total_time=300
// Add HITSIEVE_FUZZ_GZIP_PROGRAM=1 to compare the gzip reader with the gzip program as well.
#include <boost/regex.hpp>
#include <boost/tokenizer.hpp>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/gzip_inflate.h"
#include "engine/log_reader.h"
#include "engine/page_filter.h"
#include "engine/query_match.h"
#include "engine/record_parser.h"
#include "engine/stats_collector.h"
#include "engine/text.h"
#include "tests/engine/field_splitter.h"
#include "tests/engine/zlib_reference.h"

namespace {

using hitsieve::FieldSplitter;

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckSplitter(const std::string& line) {
  using Separator = boost::escaped_list_separator<char>;
  boost::tokenizer<Separator> tokens(line, Separator("", " ", "\"[]"));
  std::vector<std::string> expected(tokens.begin(), tokens.end());
  FieldSplitter splitter(line);
  std::string field;
  size_t index = 0;
  while (splitter.Next(&field)) {
    Check(index < expected.size() && expected[index] == field);
    ++index;
    field.clear();
  }
  Check(index == expected.size());
}

// Boost may give up on long inputs with an exception; that is why the scans exist. Compare
// only where it gives an answer.
void CheckScan(const boost::regex& re, const std::string& text, bool found, std::string_view value) {
  try {
    boost::smatch m;
    const bool matched = boost::regex_match(text, m, re);
    Check(matched == found);
    if (matched) Check(m[1].str() == value);
  } catch (const std::runtime_error&) {
  }
}

void CheckScans(const std::string& text) {
  const auto flags = boost::regex::perl | boost::regex::icase;
  static const boost::regex q_re(".*?(?:\\?|&)q=(.*?)(?:&.*|$)", flags);
  static const boost::regex text_re(".*?text=(.*?)(?:&.*|$)", flags);
  static const boost::regex element_re("(?:.*?/)*(.*?)$", flags);
  static const boost::regex extension_re("(?:.*?\\.)*(.*?)(?:\\?|$)", flags);
  std::string_view value;
  bool found = hitsieve::FindParameterValue(text, 'q', value);
  CheckScan(q_re, text, found, value);
  found = hitsieve::FindKeyValue(text, "text=", value);
  CheckScan(text_re, text, found, value);
  const std::string_view element = hitsieve::LastPathElement(text);
  CheckScan(element_re, text, true, element);
  CheckScan(extension_re, std::string(element), true, hitsieve::ElementExtension(element));
}

// The registry's look-ups skip ahead for keys that begin with "//"; a plain search of every
// key in byte order is what they must equal.
void CheckLookups(const hitsieve::SearchEngineRegistry& registry, std::string_view text) {
  auto naive = [text](const hitsieve::EngineMap& keys) -> const hitsieve::SearchEngine* {
    for (const auto& [key, engine] : keys) {
      if (text.find(key) != std::string_view::npos) return engine;
    }
    return nullptr;
  };
  Check(registry.FindByReferer(text) == naive(registry.refererPatterns()));
  Check(registry.FindRobot(text) == naive(registry.robotTokens()));
}

std::string ScratchPath() {
  return "/tmp/parse_content_fuzzer." + std::to_string(getpid()) + ".log";
}

void WriteScratch(const std::string& path, std::string_view bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  Check(file != nullptr);
  Check(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
  std::fclose(file);
}

void CheckSameStatistics(const hitsieve::StatsCollector& blocks,
                         const hitsieve::StatsCollector& whole);

// The same bytes read from a file in blocks, on several threads, must give the statistics of
// the whole text parsed at once: every saved value of every table, robot hits in order. So
// must the bytes compressed and read in segments.
void CheckBlockReading(const hitsieve::StatsCollector& whole, std::string_view text,
                       const uint8_t* data, size_t size) {
  static const std::string path = [] {
    std::atexit([] { std::remove(ScratchPath().c_str()); });
    return ScratchPath();
  }();
  WriteScratch(path, text);
  hitsieve::CollectOptions options;
  options.block_size = size > 1 ? 1 + data[1] % 64 : 4;
  options.threads = size > 2 ? 1 + data[2] % 4 : 2;
  options.parallel_threshold = 0;
  hitsieve::StatsCollector blocks = whole.EmptyCopy();
  hitsieve::CollectFile(blocks, path, options);
  CheckSameStatistics(blocks, whole);

  // Compressed, the same text read in segments of a few blocks on the same threads.
  static const std::string gz_path = [] {
    std::atexit([] { std::remove((ScratchPath() + ".members.gz").c_str()); });
    return ScratchPath() + ".members.gz";
  }();
  WriteScratch(gz_path, hitsieve::GzipMember(text, 1));
  options.gzip_segment = options.block_size * (size > 3 ? 1 + data[3] % 4 : 2);
  hitsieve::StatsCollector segments = whole.EmptyCopy();
  hitsieve::CollectFile(segments, gz_path, options);
  CheckSameStatistics(segments, whole);
}

void CheckSameStatistics(const hitsieve::StatsCollector& blocks,
                         const hitsieve::StatsCollector& whole) {

  Check(blocks.records() == whole.records());
  Check(blocks.days.size() == whole.days.size());
  for (auto a = blocks.days.cbegin(), b = whole.days.begin(); a != blocks.days.cend(); ++a, ++b) {
    Check(a->first == b->first && a->second.ips.size() == b->second.ips.size() &&
          a->second.visitors.size() == b->second.visitors.size() &&
          a->second.views == b->second.views && a->second.searches == b->second.searches);
  }
  Check(blocks.pages.size() == whole.pages.size());
  for (auto a = blocks.pages.cbegin(), b = whole.pages.begin(); a != blocks.pages.cend(); ++a, ++b) {
    Check(a->first == b->first && a->second.visits == b->second.visits &&
          a->second.searches == b->second.searches && a->second.bandwidth == b->second.bandwidth &&
          a->second.engineHits == b->second.engineHits);
  }
  Check(blocks.referers == whole.referers && blocks.refererHosts == whole.refererHosts);
  Check(blocks.queries.size() == whole.queries.size());
  for (auto a = blocks.queries.cbegin(), b = whole.queries.begin(); a != blocks.queries.cend();
       ++a, ++b) {
    Check(a->first == b->first && a->second == b->second);  // the same spelling, not just letters
  }
  Check(blocks.robotHits.size() == whole.robotHits.size());
  for (size_t i = 0; i < blocks.robotHits.size(); ++i) {
    const hitsieve::RobotHit& a = blocks.robotHits[i];
    const hitsieve::RobotHit& b = whole.robotHits[i];
    Check(a.name == b.name && a.action == b.action && a.code == b.code && a.ip == b.ip &&
          a.date == b.date);
  }
}

// The gzip reader must give zlib's bytes, or refuse exactly where zlib does.
void CheckGzipReader(std::string_view file, size_t piece) {
  static const std::string path = [] {
    std::atexit([] { std::remove((ScratchPath() + ".gz").c_str()); });
    return ScratchPath() + ".gz";
  }();
  WriteScratch(path, file);
  const std::optional<std::string> expected = hitsieve::ZlibDecompress(file);
  std::string got;
  std::string buffer(piece, '\0');
  bool refused = false;
  try {
    hitsieve::GzipInflater reader(path);
    while (const size_t n = reader.Read(buffer.data(), piece)) got.append(buffer, 0, n);
  } catch (const std::runtime_error&) {
    refused = true;
  }
  Check(refused == !expected.has_value());
  if (expected) Check(got == *expected);
  // With HITSIEVE_FUZZ_GZIP_PROGRAM set, a file that begins like gzip also gets the gzip
  // program's verdict (two processes an input: slow, so not by default).
  static const bool ask_gzip = std::getenv("HITSIEVE_FUZZ_GZIP_PROGRAM") != nullptr;
  if (ask_gzip && hitsieve::StartsGzipMember(file)) {
    const std::optional<std::string> tool = hitsieve::GzipToolRead(path);
    Check(tool.has_value() == !refused);
    if (tool) Check(got == *tool);
  }
}

// The bytes as a file of their own, then compressed into one to three members and changed as
// the input's first bytes say.
void CheckGzip(const uint8_t* data, size_t size, std::string_view text) {
  const size_t piece = size > 3 ? 1 + data[3] % 200 : 64;
  CheckGzipReader(text, piece);
  if (size < 8) return;
  const size_t cut1 = data[4] * text.size() / 256;
  const size_t cut2 = cut1 + data[5] * (text.size() - cut1) / 256;
  std::string file = hitsieve::GzipMember(text.substr(0, cut1), data[6] % 10, Z_DEFAULT_STRATEGY,
                                          data[6] & 0x80);
  if (data[7] % 2) file += hitsieve::GzipMember(text.substr(cut1, cut2 - cut1), 1, Z_FIXED);
  if (data[7] % 3) file += hitsieve::GzipMember(text.substr(cut2), 9, Z_FILTERED);
  const size_t at = (static_cast<size_t>(data[5]) << 8 | data[4]) % file.size();
  switch (data[7] >> 4) {
    case 0: file.resize(at); break;
    case 1: file[at] ^= static_cast<char>(data[6] | 1); break;
    case 2: file += text.substr(0, 3); break;
    default: break;
  }
  CheckGzipReader(file, piece);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static hitsieve::SearchEngineRegistry& registry = [] () -> hitsieve::SearchEngineRegistry& {
    hitsieve::RegisterStandardEngines(hitsieve::SearchEngineRegistry::Instance());
    return hitsieve::SearchEngineRegistry::Instance();
  }();
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  hitsieve::StatsCollector collector(registry);
  if (size > 0 && data[0] % 2 == 0) {
    hitsieve::ParseExtensionList(hitsieve::kDefaultExtensionList, collector.pageExtensions);
  }
  collector.ParseContent(text);
  CheckBlockReading(collector, text, data, size);
  CheckGzip(data, size, text);

  const std::string line(text.substr(0, text.find('\n')));
  CheckSplitter(line);
  CheckScans(line);
  CheckLookups(registry, line);

  for (const int from : {hitsieve::kCodePageUtf8, hitsieve::kCodePageKoi8r, hitsieve::kCodePage1251}) {
    hitsieve::ConvertCodePage(text, from, hitsieve::kCodePage1251);
    hitsieve::ConvertCodePage(text, from, hitsieve::kCodePageUtf8);
  }
  hitsieve::Cp1251ToUtf8(hitsieve::UrlDecode(text));
  return 0;
}
