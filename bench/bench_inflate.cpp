// Raw decompression speed of a .gz file: the engine's reader against zlib's gzread, both into
// the same 4 MiB buffer and counting line feeds as `zcat FILE | wc -l` would.
//   bench_inflate FILE.gz [RUNS]
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/gzip_inflate.h"

namespace {

constexpr size_t kBuffer = 4 << 20;

struct Result {
  double seconds;
  size_t bytes;
  size_t lines;
};

size_t CountLines(const char* data, size_t size) {
  size_t lines = 0;
  const char* end = data + size;
  while ((data = static_cast<const char*>(std::memchr(data, '\n', end - data))) != nullptr) {
    ++lines;
    ++data;
  }
  return lines;
}

template <typename Read>
Result Time(Read read) {
  auto buffer = std::make_unique<char[]>(kBuffer);
  const auto start = std::chrono::steady_clock::now();
  Result result{0, 0, 0};
  for (;;) {
    const size_t got = read(buffer.get(), kBuffer);
    if (got == 0) break;
    result.bytes += got;
    result.lines += CountLines(buffer.get(), got);
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

Result Isal(const char* path) {
  hitsieve::GzipInflater reader(path);
  return Time([&](char* out, size_t count) { return reader.Read(out, count); });
}

Result Zlib(const char* path) {
  gzFile file = gzopen(path, "rb");
  if (file == nullptr) std::exit(1);
  gzbuffer(file, 128 * 1024);
  const Result result = Time([&](char* out, size_t count) {
    const int got = gzread(file, out, static_cast<unsigned>(count));
    if (got < 0) std::exit(1);
    return static_cast<size_t>(got);
  });
  gzclose(file);
  return result;
}

void Report(const char* name, std::vector<Result> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const Result& a, const Result& b) { return a.seconds < b.seconds; });
  const Result& median = runs[runs.size() / 2];
  std::printf("%-6s median %.3f s  best %.3f s  %.0f MB/s  %zu bytes  %zu lines\n", name,
              median.seconds, runs.front().seconds, median.bytes / median.seconds / 1e6,
              median.bytes, median.lines);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_inflate FILE.gz [RUNS]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  std::vector<Result> isal;
  std::vector<Result> zlib;
  for (int i = 0; i < runs; ++i) {
    isal.push_back(Isal(argv[1]));
    zlib.push_back(Zlib(argv[1]));
  }
  Report("isa-l", isal);
  Report("zlib", zlib);
  return isal.front().bytes == zlib.front().bytes && isal.front().lines == zlib.front().lines ? 0 : 1;
}
