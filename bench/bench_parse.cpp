// bench_parse: how fast a run reads and classifies access logs.
//
//   bench_parse [FILE...]
//
// With no files it uses bench/out/access-1m.log and bench/out/access-1m.log.gz (relative to the
// current directory), generating them first with the gen_access_log program that sits next to
// this one. Each file is processed in a child process of its own, so that the peak resident
// memory reported (getrusage ru_maxrss) belongs to that file alone. The engine is set up as a
// real run sets it up: the six standard engines and the default extension list.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/page_filter.h"
#include "engine/record_sink.h"
#include "engine/search_engine.h"
#include "engine/stats_collector.h"

namespace {

constexpr const char kDefaultPlain[] = "bench/out/access-1m.log";
constexpr const char kDefaultGzip[] = "bench/out/access-1m.log.gz";
constexpr const char kDefaultLines[] = "1000000";

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;  // kilobytes on Linux
}

// User plus system time of this process; steadier than wall time on a busy machine.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs in the child: process one file as a run would, print one result line.
int MeasureFile(const std::string& path) {
  using hitsieve::StatsCollector;
  hitsieve::RegisterStandardEngines(hitsieve::SearchEngineRegistry::Instance());
  StatsCollector collector;
  hitsieve::ParseExtensionList(hitsieve::kDefaultExtensionList, collector.pageExtensions);

  double cpu_start = CpuSeconds();
  auto start = std::chrono::steady_clock::now();
  collector.ProcessFile(path);
  double total = SecondsSince(start);
  double cpu = CpuSeconds() - cpu_start;
  long peak_kb = PeakRssKb();

  // The read alone, to tell reading from parsing and classifying.
  std::string text;
  start = std::chrono::steady_clock::now();
  if (hitsieve::IsGzipName(path)) hitsieve::ReadGzipFile(path, text);
  else hitsieve::ReadPlainFile(path, text);
  double read = SecondsSince(start);

  double records = static_cast<double>(collector.records());
  std::printf("%-30s %6.1f MB %8lld records %6.3f s (cpu %.3f s, read alone %.3f s) %8.0f records/s"
              " %6.1f MB/s  peak RSS %6.1f MB\n",
              path.c_str(), text.size() / 1e6, static_cast<long long>(collector.records()), total, cpu,
              read, total > 0 ? records / total : 0.0, total > 0 ? text.size() / 1e6 / total : 0.0,
              peak_kb / 1024.0);
  std::printf("%-32s days %zu, pages %zu, referers %zu, referer hosts %zu, phrases %zu, robot hits %zu\n",
              "", collector.days.size(), collector.pages.size(), collector.referers.size(),
              collector.refererHosts.size(), collector.queries.size(), collector.robotHits.size());
  return 0;
}

bool RunInChild(const std::string& path) {
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    int rc = 1;
    try {
      rc = MeasureFile(path);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "bench_parse: %s: %s\n", path.c_str(), e.what());
    }
    std::fflush(stdout);
    _exit(rc);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Writes `path` with the generator beside this program unless it exists already.
bool EnsureGenerated(const std::filesystem::path& self_dir, const std::string& path, bool gzip) {
  if (std::filesystem::exists(path)) return true;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::string gen = (self_dir / "gen_access_log").string();
  std::fprintf(stderr, "bench_parse: generating %s\n", path.c_str());
  std::fflush(stderr);
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    std::vector<const char*> args = {gen.c_str(), "--lines", kDefaultLines, "--seed", "1", "-o", path.c_str()};
    if (gzip) args.push_back("--gzip");
    args.push_back(nullptr);
    execv(gen.c_str(), const_cast<char* const*>(args.data()));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files(argv + 1, argv + argc);
  if (files.empty()) {
    auto self_dir = std::filesystem::canonical("/proc/self/exe").parent_path();
    if (!EnsureGenerated(self_dir, kDefaultPlain, false) || !EnsureGenerated(self_dir, kDefaultGzip, true)) {
      std::fprintf(stderr, "bench_parse: could not generate the benchmark logs\n");
      return 1;
    }
    files = {kDefaultPlain, kDefaultGzip};
  }
  bool ok = true;
  for (const auto& file : files) ok = RunInChild(file) && ok;
  return ok ? 0 : 1;
}
