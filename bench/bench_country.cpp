// Country lookups per second over the shipped database (or FILE): IPv4, IPv6, IPv4 mapped into
// IPv6 and texts that are no address, each with Google Benchmark. Also the time to open.
//   bench_country [--db=FILE] [benchmark options, e.g. --benchmark_min_time=0.2s]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/dimensions/country_database.h"

namespace {

std::string g_db_path;

enum class Kind { kIpV4, kIpV6, kMapped, kNoAddress };

std::vector<std::string> Addresses(Kind kind) {
  std::mt19937 random(42);
  std::vector<std::string> out;
  char text[64];
  for (int i = 0; i < 4096; ++i) {
    const uint32_t v = random();
    const unsigned a = v >> 24, b = (v >> 16) & 0xff, c = (v >> 8) & 0xff, d = v & 0xff;
    switch (kind) {
      case Kind::kIpV4:
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", a, b, c, d);
        break;
      case Kind::kIpV6:
        std::snprintf(text, sizeof text, "2a0%x:%x:%x::%x", static_cast<unsigned>(random() % 8),
                      static_cast<unsigned>(random() & 0xffff),
                      static_cast<unsigned>(random() & 0xffff), d);
        break;
      case Kind::kMapped:
        std::snprintf(text, sizeof text, "::ffff:%u.%u.%u.%u", a, b, c, d);
        break;
      case Kind::kNoAddress:
        std::snprintf(text, sizeof text, "host-%u.example.net", v);
        break;
    }
    out.push_back(text);
  }
  return out;
}

void Lookups(benchmark::State& state, Kind kind) {
  const hitsieve::CountryDatabase db(g_db_path);
  const std::vector<std::string> addresses = Addresses(kind);
  size_t i = 0, found = 0;
  for (auto _ : state) {
    const std::string country = db.Lookup(addresses[i++ % addresses.size()]);
    found += !country.empty();
    benchmark::DoNotOptimize(country);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["found"] = benchmark::Counter(static_cast<double>(found) /
                                               static_cast<double>(state.iterations()));
}

void Open(benchmark::State& state) {
  for (auto _ : state) {
    const hitsieve::CountryDatabase db(g_db_path);
    benchmark::DoNotOptimize(db.BuildId());
  }
}

BENCHMARK_CAPTURE(Lookups, ipv4, Kind::kIpV4);
BENCHMARK_CAPTURE(Lookups, ipv6, Kind::kIpV6);
BENCHMARK_CAPTURE(Lookups, ipv4_mapped, Kind::kMapped);
BENCHMARK_CAPTURE(Lookups, no_address, Kind::kNoAddress);
BENCHMARK(Open)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  g_db_path = hitsieve::CountryDatabase::DefaultPath();
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--db=", 5) == 0) {
      g_db_path = argv[i] + 5;
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (g_db_path.empty()) {
    std::fprintf(stderr, "bench_country: no country database found; give --db=FILE\n");
    return 1;
  }
  int rest_count = static_cast<int>(rest.size());
  benchmark::Initialize(&rest_count, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
