// The ISA-L reader against zlib on generated gzip files: several members written with every
// level and strategy, optional header fields, then cut short, damaged or followed by other bytes,
// and read in pieces of many sizes. Both must give the same bytes or both must refuse.
#include "engine/gzip_inflate.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>

#include "engine/record_sink.h"
#include "tests/engine/random_log.h"
#include "tests/engine/zlib_reference.h"

namespace hitsieve {
namespace {

namespace fs = std::filesystem;

class ScratchFile {
 public:
  ScratchFile()
      : path_((fs::temp_directory_path() /
               ("gzip_inflate_test." + std::to_string(getpid()) + ".gz"))
                  .string()) {}
  ~ScratchFile() { fs::remove(path_); }
  const std::string& Write(const std::string& bytes) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;
    return path_;
  }

 private:
  std::string path_;
};

// What the ISA-L reader gives, read `piece` bytes at a time; nothing when it refuses with
// the gzip read error. Its position must end at the file's size.
std::optional<std::string> IsalRead(const std::string& path, size_t piece) {
  const auto file_size = static_cast<int64_t>(fs::file_size(path));
  GzipInflater reader(path);
  EXPECT_EQ(file_size, reader.size());
  std::string out;
  std::string buffer(piece, '\0');
  try {
    for (;;) {
      const size_t got = reader.Read(buffer.data(), piece);
      if (got == 0) break;
      EXPECT_LE(got, piece);
      out.append(buffer, 0, got);
    }
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(kGzipReadError, e.what());
    return std::nullopt;
  }
  EXPECT_EQ(file_size, reader.Position());
  EXPECT_EQ(0u, reader.Read(buffer.data(), piece)) << "a finished reader stays finished";
  return out;
}

// What today's gzread-based reading gives (it ignores bytes after a member).
std::optional<std::string> GzreadRead(const std::string& path) {
  gzFile file = gzopen(path.c_str(), "rb");
  std::string out;
  char buffer[65536];
  int got;
  while ((got = gzread(file, buffer, sizeof buffer)) > 0) out.append(buffer, got);
  int error = Z_OK;
  gzerror(file, &error);
  gzclose(file);
  if (got < 0 || error != Z_OK) return std::nullopt;
  return out;
}

std::string RandomBytes(std::mt19937& rng, size_t size) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

std::string Content(std::mt19937& rng, RandomLog& log) {
  switch (rng() % 7) {
    case 0: return "";
    case 1: return RandomBytes(rng, rng() % 2000);
    case 2: return std::string(1 + rng() % 1000000, '\0');  // long runs: long matches
    case 3: return RandomBytes(rng, 270000 + rng() % 100000);  // more than one input buffer
    default: return log.Text(1 + static_cast<int>(rng() % 400));
  }
}

// A generated .gz file: one to four members written with every level and strategy, then
// maybe cut short, damaged, followed by other bytes, or replaced by plain text.
struct GeneratedFile {
  std::string bytes;
  std::string description;
};

GeneratedFile Generate(std::mt19937& rng, RandomLog& log) {
  static const int kLevels[] = {0, 1, 6, 9};
  static const int kStrategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE,
                                    Z_FIXED};
  GeneratedFile made;
  std::string& file = made.bytes;
  const int members = 1 + static_cast<int>(rng() % 4);
  for (int m = 0; m < members; ++m) {
    file += GzipMember(Content(rng, log), kLevels[rng() % 4], kStrategies[rng() % 5], rng() % 2);
  }
  std::string change = "none";
  switch (rng() % 8) {
    case 0:
      change = "cut";
      file.resize(rng() % file.size());
      break;
    case 1:
      change = "damaged byte";
      file[rng() % file.size()] ^= static_cast<char>(1 + rng() % 255);
      break;
    case 2: {
      // Zero bytes alone are padding; anything else after a member is not.
      static const std::string kTails[] = {std::string(1, '\0'), std::string(512, '\0'),
                                           std::string("\0\0garbage", 9), "\x1f", "\x1f\x8b",
                                           "garbage\n", "\x1f\x8b\x08"};
      change = "trailing bytes";
      file += kTails[rng() % 7];
      break;
    }
    case 3:
      change = "plain text";
      file = log.Text(1 + static_cast<int>(rng() % 50));
      break;
    default:
      break;
  }
  made.description = std::to_string(members) + " members, change: " + change;
  return made;
}

TEST(GzipInflater, MatchesZlibOnGeneratedDamagedAndConcatenatedFiles) {
  std::mt19937 rng(20261207);
  RandomLog log(7);
  ScratchFile scratch;
  const size_t kPieces[] = {1, 7, 4096, 65536, 4 << 20};
  int accepted = 0;
  int refused = 0;
  for (int round = 0; round < 150; ++round) {
    const GeneratedFile made = Generate(rng, log);
    const std::string& file = made.bytes;
    size_t piece = kPieces[rng() % 5];
    if (file.size() > 20000 && piece < 4096) piece += 4093;  // not a million calls a file
    SCOPED_TRACE("round " + std::to_string(round) + ", " + made.description + ", pieces of " +
                 std::to_string(piece));
    const std::string& path = scratch.Write(file);
    const std::optional<std::string> expected = ZlibDecompress(file);
    const std::optional<std::string> got = IsalRead(path, piece);
    ASSERT_EQ(expected.has_value(), got.has_value());
    if (expected) {
      ASSERT_TRUE(*expected == *got) << "sizes " << expected->size() << " and " << got->size();
      ++accepted;
    } else {
      ++refused;
    }
    // Today's reader agrees wherever it does not overlook bytes after a member.
    const std::optional<std::string> gzread = GzreadRead(path);
    if (expected) {
      ASSERT_TRUE(gzread.has_value());
      ASSERT_TRUE(*expected == *gzread);
    }
    if (!gzread) {
      ASSERT_FALSE(got.has_value());
    }
  }
  // Both kinds of verdict must have come up often, or the comparison proves little.
  EXPECT_GT(accepted, 50);
  EXPECT_GT(refused, 25);
}

// For every file that begins with the gzip magic bytes, the verdict and the bytes are those of
// the gzip program. Other files (plain text, an empty file) are logs of their own here, which
// gzip refuses as "not in gzip format".
TEST(GzipInflater, AgreesWithTheGzipProgram) {
  std::mt19937 rng(7122026);
  RandomLog log(11);
  ScratchFile scratch;
  int accepted = 0;
  int refused = 0;
  for (int round = 0; round < 120; ++round) {
    const GeneratedFile made = Generate(rng, log);
    SCOPED_TRACE("round " + std::to_string(round) + ", " + made.description);
    const std::string& path = scratch.Write(made.bytes);
    const std::optional<std::string> got = IsalRead(path, 65536);
    const std::optional<std::string> tool = GzipToolRead(path);
    if (!StartsGzipMember(made.bytes)) {
      ASSERT_FALSE(tool.has_value());
      ASSERT_TRUE(got == made.bytes);
      continue;
    }
    ASSERT_EQ(tool.has_value(), got.has_value());
    if (got) {
      ASSERT_TRUE(*tool == *got) << "sizes " << tool->size() << " and " << got->size();
      ++accepted;
    } else {
      ++refused;
    }
  }
  EXPECT_GT(accepted, 40);
  EXPECT_GT(refused, 20);
}

TEST(GzipInflater, EdgesOfTheFile) {
  ScratchFile scratch;
  // An empty file, one byte, and the two magic bytes alone (a member cut short).
  EXPECT_EQ("", IsalRead(scratch.Write(""), 100).value_or("?"));
  EXPECT_EQ("\x1f", IsalRead(scratch.Write("\x1f"), 100).value_or("?"));
  EXPECT_FALSE(IsalRead(scratch.Write("\x1f\x8b"), 100).has_value());
  // NUL bytes are kept, across members too.
  const std::string nul("a\0b\n\0", 5);
  EXPECT_EQ(nul + nul, IsalRead(scratch.Write(GzipMember(nul) + GzipMember(nul)), 3).value_or("?"));
  // Header flags that gzip does not define (0x20 marks an encrypted member), in the first
  // member or a later one, refuse the file, as gzip and zlib do.
  for (const unsigned char flag : {0x20, 0x40, 0x80}) {
    std::string flagged = GzipMember("x\n");
    flagged[3] = static_cast<char>(flagged[3] | flag);
    EXPECT_FALSE(IsalRead(scratch.Write(flagged), 4096).has_value()) << int{flag};
    EXPECT_FALSE(IsalRead(scratch.Write(GzipMember("y\n") + flagged), 4096).has_value()) << int{flag};
    EXPECT_FALSE(ZlibDecompress(flagged).has_value());
  }
  // An empty member between two others.
  EXPECT_EQ("x\ny\n",
            IsalRead(scratch.Write(GzipMember("x\n") + GzipMember("") + GzipMember("y\n")), 4096)
                .value_or("?"));
}

TEST(GzipInflater, OpenAndReadFailures) {
  try {
    GzipInflater reader("/no/such/file.gz");
    FAIL() << "opened a missing file";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(kGzipOpenError, e.what());
  }
  // A folder is no file to read.
  try {
    GzipInflater folder(fs::temp_directory_path().string());
    FAIL() << "opened a folder";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(kGzipOpenError, e.what());
  }
}

}  // namespace
}  // namespace hitsieve
