// Files that try to break the reader: a line without end, a gigabyte of zeros, a file that
// shrinks while it is read, a pipe or a system file in a log's place.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "engine/line_blocks.h"
#include "engine/log_reader.h"
#include "engine/record_sink.h"
#include "engine/stats_collector.h"
#include "tests/temp_dir.h"

namespace hitsieve {
namespace {

namespace fs = std::filesystem;

// Named for what it holds, so that a folder left by a killed run tells where it came from.
class ScratchDir : public TempDir {
 public:
  ScratchDir() : TempDir("hitsieve-hostile") {}
};

void WriteText(const std::string& path, const std::string& text) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, out);
  std::fwrite(text.data(), 1, text.size(), out);
  std::fclose(out);
}

void WriteGzipText(const std::string& path, const std::string& text) {
  gzFile out = gzopen(path.c_str(), "wb1");
  ASSERT_NE(nullptr, out);
  if (!text.empty()) gzwrite(out, text.data(), static_cast<unsigned>(text.size()));
  gzclose(out);
}

std::string Line(const std::string& url) {
  return "10.0.0.1 - - [01/Dec/2008:10:00:00 +0400] \"GET " + url + " HTTP/1.1\" 200 10 \"-\" \"M\"\n";
}

std::string Thrown(const std::string& path, const CollectOptions& options = {}) {
  StatsCollector collector;
  try {
    CollectFile(collector, path, options);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "no error";
}

// Over every way of cutting the text into blocks and threads, a line of max_line bytes or more
// is dropped whole and counted, and the lines around it are read as usual.
TEST(HostileFile, OverlongLinesAreSkippedAndCounted) {
  ScratchDir dir;
  const std::string text = Line("/a.html") + std::string(5000, 'x') + "\n" + Line("/b.html") +
                           std::string(999, 'y') + "\n" + Line("/c.html") + std::string(7000, 'z');
  WriteText(dir.File("long.log"), text);
  WriteGzipText(dir.File("long.log.gz"), text);
  for (const char* name : {"long.log", "long.log.gz"}) {
    for (size_t block : {1, 7, 64, 999, 1000}) {
      for (unsigned threads : {1u, 3u}) {
        CollectOptions options;
        options.block_size = block;
        options.threads = threads;
        options.parallel_threshold = 0;
        options.max_line = 1000;
        StatsCollector collector;
        CollectFile(collector, dir.File(name), options);
        const std::string label = std::string(name) + " block " + std::to_string(block) +
                                  " threads " + std::to_string(threads);
        // The 999-byte line and its line feed fit: one field, a record whose day is no date.
        EXPECT_EQ(4, collector.records()) << label;
        EXPECT_EQ(2, collector.long_lines()) << label;  // 5000 and 7000 bytes
        EXPECT_EQ(3, collector.unrecognised_lines()) << label;
        EXPECT_EQ(1u, collector.pages.count("/c.html")) << label;
      }
    }
  }
}

// A gigabyte without a line feed, from a sparse file and from a gzip stream, read under an
// address-space limit of 512 MB: the reader must neither grow without bound nor fail.
TEST(HostileFile, GigabyteOfZerosReadsInBoundedMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#else
  ScratchDir dir;
  constexpr off_t kGigabyte = off_t{1} << 30;
  const std::string sparse = dir.File("zeros.log");
  {
    const int fd = ::open(sparse.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ftruncate(fd, kGigabyte));  // holes: nothing is stored
    ::close(fd);
  }
  const std::string zipped = dir.File("zeros.log.gz");
  {
    gzFile out = gzopen(zipped.c_str(), "wb1");
    ASSERT_NE(nullptr, out);
    const std::string chunk(1 << 20, '\0');
    for (int i = 0; i < 1024; ++i) gzwrite(out, chunk.data(), static_cast<unsigned>(chunk.size()));
    gzwrite(out, "\n", 1);
    gzwrite(out, Line("/after.html").data(), static_cast<unsigned>(Line("/after.html").size()));
    gzclose(out);
  }
  for (const std::string& path : {sparse, zipped}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // 512 MB more than the child already maps: what earlier tests in this process left
      // behind (thread arenas, freed heap) is not the reader's.
      rlim_t mapped = 0;
      if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        unsigned long pages = 0;
        if (std::fscanf(statm, "%lu", &pages) == 1) {
          mapped = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
        }
        std::fclose(statm);
      }
      const rlimit limit{mapped + (512u << 20), mapped + (512u << 20)};
      setrlimit(RLIMIT_AS, &limit);
      int status = 3;
      try {
        StatsCollector collector;
        CollectFile(collector, path);
        const bool gzip = IsGzipName(path);
        status = collector.long_lines() == 1 && collector.records() == (gzip ? 1 : 0) ? 0 : 1;
      } catch (...) {
        status = 2;
      }
      _exit(status);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status)) << path << " killed by signal " << WTERMSIG(status);
    EXPECT_EQ(0, WEXITSTATUS(status)) << path << " (1 wrong counts, 2 threw, e.g. bad_alloc)";
  }
#endif
}

TEST(HostileFile, FileThatShrinksWhileReadFailsTheRead) {
  ScratchDir dir;
  const std::string path = dir.File("shrinks.log");
  std::string text;
  for (int i = 0; i < 2000; ++i) text += Line("/p" + std::to_string(i) + ".html");
  WriteText(path, text);
  PlainFile file(path);
  ASSERT_EQ(0, truncate(path.c_str(), static_cast<off_t>(text.size() / 2)));
  char buffer[256];
  // Before the new end the bytes are there; past it, the missing ones are an error, not an end.
  EXPECT_EQ(sizeof buffer, file.ReadAt(0, buffer, sizeof buffer));
  EXPECT_THROW(file.ReadAt(static_cast<int64_t>(text.size()) - 100, buffer, 50), std::runtime_error);
  EXPECT_THROW(file.CheckNotShrunk(), std::runtime_error);
  PlainSource source(file, 0, file.size());
  LineCutter<PlainSource> cutter(source, 4096);
  LineBlock block;
  try {
    while (cutter.Fill(block)) {
    }
    FAIL() << "a cut file read to its end";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(kFileReadError, e.what());
  }
}

// What is no regular file is refused at once: a pipe would hang the run (nobody writes to
// it), a device could never end, a system file that reports no size would read as empty.
TEST(HostileFile, OnlyRegularFilesAreRead) {
  ScratchDir dir;
  ASSERT_EQ(0, mkfifo(dir.File("fifo.log").c_str(), 0600));
  ASSERT_EQ(0, mkfifo(dir.File("fifo.log.gz").c_str(), 0600));
  EXPECT_EQ(kFileOpenError, Thrown(dir.File("fifo.log")));
  EXPECT_EQ(kGzipOpenError, Thrown(dir.File("fifo.log.gz")));
  EXPECT_EQ(kFileOpenError, Thrown("/dev/zero"));
  if (fs::exists("/proc/self/status")) {
    EXPECT_EQ(kFileReadError, Thrown("/proc/self/status"));
  }
  // A truly empty file is still an empty log.
  WriteText(dir.File("empty.log"), "");
  EXPECT_EQ("no error", Thrown(dir.File("empty.log")));
}

// Data after a gzip member that is not another member, or a damaged second member, used to be
// dropped without a word; now the whole file fails, as gzip -t fails it.
TEST(HostileFile, GzipWithDamagedOrTrailingDataFails) {
  ScratchDir dir;
  WriteGzipText(dir.File("one.gz"), Line("/a.html"));
  std::string member;
  {
    std::FILE* in = std::fopen(dir.File("one.gz").c_str(), "rb");
    ASSERT_NE(nullptr, in);
    char buffer[4096];
    member.assign(buffer, std::fread(buffer, 1, sizeof buffer, in));
    std::fclose(in);
  }
  std::string damaged = member;
  damaged[member.size() / 2] ^= 0x55;
  const struct {
    const char* name;
    std::string bytes;
    const char* outcome;
  } cases[] = {{"two.gz", member + member, "no error"},
               {"garbage.gz", member + "garbage after the member\n", kGzipReadError},
               {"zeros.gz", member + std::string(64, '\0'), "no error"},
               {"zeros-then-text.gz", member + std::string(64, '\0') + "x", kGzipReadError},
               {"second-damaged.gz", member + damaged, kGzipReadError},
               {"second-cut.gz", member + member.substr(0, member.size() - 4), kGzipReadError}};
  for (const auto& c : cases) {
    WriteText(dir.File(c.name), c.bytes);
    EXPECT_EQ(c.outcome, Thrown(dir.File(c.name))) << c.name;
  }
}

TEST(HostileFile, LinesThatAreNoLogLinesAreCounted) {
  StatsCollector collector;
  collector.ParseContent(Line("/a.html") + "\n  \n" + "garbage\n" + "\t\n" +
                         "1.2.3.4 - - [99/Foo/20xx:00:00:00 +0000] \"GET /b HTTP/1.0\" 200 1\n" +
                         " starts with a space\n" + Line("/c.html"));
  // The loose parser makes records of "garbage", of the tab and of the 99/Foo line; none of
  // their days is a date. The line that starts with a space gives no record. Blank lines
  // are not counted.
  EXPECT_EQ(5, collector.records());
  EXPECT_EQ(1, collector.lines_without_record());
  EXPECT_EQ(3, collector.lines_without_date());
  EXPECT_EQ(4, collector.unrecognised_lines());
  const struct {
    const char* date;
    bool valid;
  } dates[] = {{"01/Dec/2008", true},  {"31/Jan/1999", true},  {"01/dec/2008", false},
               {"1/Dec/2008", false},  {"01/Dec/208x", false}, {"01-Dec-2008", false},
               {"01/Decx2008", false}, {"01/ecJ/2008", false}, {"", false}};
  for (const auto& d : dates) EXPECT_EQ(d.valid, IsLogDate(d.date)) << d.date;
}

}  // namespace
}  // namespace hitsieve
