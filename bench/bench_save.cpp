// Saves a large generated collector into a temporary statistics database and prints the rows
// written per second and the peak resident set size. Usage: bench_save [rows-per-table]
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/stats_collector.h"
#include "store/stats_database.h"
#include "store/stats_saver.h"

namespace {

using hitsieve::StatsCollector;

// `n` pages, `n` phrases, `n` robot hits and `n` referer rows (half hosts, half whole
// referers), plus a month of days.
void Fill(StatsCollector& c, int n) {
  for (int d = 1; d <= 30; ++d) {
    auto& day = c.days[std::to_string(d) + "/Oct/2000"];
    day.views = 1000 + d;
    day.searches = d;
    day.ips.Insert(static_cast<uint64_t>(d));
  }
  for (int i = 0; i < n; ++i) {
    std::string id = std::to_string(i);
    auto& page = c.pages["/section/" + id + "/index.html?page=" + id];
    page.visits = i % 1000;
    page.searches = i % 7;
    page.bandwidth = int64_t{i} * 40000;
    page.engineHits[i % hitsieve::kEngineCount] = i % 7;
    if (i % 2 == 0) {
      c.refererHosts["http://host" + id + ".example.org"] = i % 50 + 1;
    } else {
      c.referers["http://host" + id + ".example.org/search?q=" + id] = i % 50 + 1;
    }
    c.queries["phrase number " + id] = {{i % hitsieve::kEngineCount, i % 9 + 1}};
    c.robotHits.push_back({"Googlebot", "/robots/" + id + ".html", 200,
                           "66.249." + std::to_string(i % 256) + ".1", "10/Oct/2000"});
  }
}

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  int n = argc > 1 ? std::atoi(argv[1]) : 100000;
  std::string dir = (std::filesystem::temp_directory_path() / "hitsieve-bench-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  hitsieve::StatsDatabase::SetFileName(dir + "/bench.dt");
  int status = 0;
  try {
    StatsCollector collector;
    Fill(collector, n);
    size_t rows = collector.days.size() + collector.pages.size() + collector.referers.size() +
                  collector.refererHosts.size() + collector.robotHits.size() +
                  collector.queries.size();
    hitsieve::StatsDatabase::Instance();  // opening and creating tables are not timed
    for (int run = 1; run <= 2; ++run) {  // the second run replaces the first's rows
      auto start = std::chrono::steady_clock::now();
      hitsieve::StatsSaver saver(collector, nullptr);
      saver.save();
      double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::printf("save %d: %zu rows in %.3f s, %.0f rows/s\n", run, rows, seconds,
                  rows / seconds);
    }
    std::printf("peak RSS: %ld KiB\n", PeakRssKb());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_save: %s\n", e.what());
    status = 1;
  }
  std::filesystem::remove_all(dir);
  return status;
}
