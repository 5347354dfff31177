#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/record_sink.h"
#include "tests/engine/stored_record.h"

namespace hitsieve {
namespace {

const std::string kData = HITSIEVE_TEST_DATA;

class CollectingSink : public RecordSink {
 public:
  std::vector<StoredRecord> records;

 protected:
  void OnRecord(const RequestRecord& record) override { records.emplace_back(record); }
};

std::string ThrownMessage(void (*read)(const std::string&, std::string&), const std::string& path) {
  std::string text;
  try {
    read(path, text);
  } catch (const std::runtime_error& e) {
    EXPECT_TRUE(text.empty()) << path;
    return e.what();
  }
  return "no error";
}

TEST(LogFileSource, PicksGzipByNameEndingOnly) {
  const struct {
    const char* path;
    bool gzip;
  } cases[] = {{"a.log.gz", true}, {"A.LOG.GZ", true}, {"x.Gz", true},  {".gz", true},
               {"a.gzip", false},  {"a.tgz", false},   {"gz", false},   {"", false},
               {"a.log", false},   {"a.gz.log", false}, {"agz", false}, {"/d.gz/a", false}};
  for (const auto& c : cases) EXPECT_EQ(c.gzip, IsGzipName(c.path)) << c.path;
}

TEST(LogFileSource, PlainAndGzipGiveTheSameText) {
  std::string plain;
  std::string gzip;
  ReadPlainFile(kData + "/engine-small.log", plain);
  ReadGzipFile(kData + "/engine-small.log.GZ", gzip);
  EXPECT_EQ(374u, plain.size());
  EXPECT_EQ(plain, gzip);
}

TEST(LogFileSource, ProcessFileChoosesReaderByName) {
  const struct {
    const char* file;
    size_t records;
  } cases[] = {{"engine-small.log", 3}, {"engine-small.log.GZ", 3}, {"engine-empty.log.gz", 0},
               {"engine-small-crlf.log", 3}};
  for (const auto& c : cases) {
    CollectingSink sink;
    sink.ProcessFile(kData + "/" + c.file);
    EXPECT_EQ(c.records, sink.records.size()) << c.file;
  }
}

TEST(LogFileSource, CrLfReachesParserWithCarriageReturn) {
  CollectingSink sink;
  sink.ProcessFile(kData + "/engine-small-crlf.log");
  ASSERT_EQ(3u, sink.records.size());
  EXPECT_EQ("Mozilla/5.0\r", sink.records[1].user_agent);
}

TEST(LogFileSource, NulByteAndEverythingAfterItSurviveBothReaders) {
  for (const char* file : {"engine-nul.log", "engine-nul.log.gz"}) {
    std::string text;
    if (IsGzipName(file)) {
      ReadGzipFile(kData + "/" + file, text);
    } else {
      ReadPlainFile(kData + "/" + file, text);
    }
    EXPECT_EQ(245u, text.size()) << file;
    CollectingSink sink;
    sink.ParseContent(text);
    // The line holding only the NUL is a record too; the line after it is not lost.
    ASSERT_EQ(3u, sink.records.size()) << file;
    EXPECT_EQ(std::string(1, '\0'), sink.records[1].ip) << file;
    EXPECT_EQ("/img/logo.gif", sink.records[2].url) << file;
    CollectingSink whole_file;  // ProcessFile reads plain files through a path of its own
    whole_file.ProcessFile(kData + "/" + file);
    ASSERT_EQ(3u, whole_file.records.size()) << file;
    EXPECT_EQ(std::string(1, '\0'), whole_file.records[1].ip) << file;
  }
}

TEST(LogFileSource, FailuresRaiseTheirFixedMessages) {
  EXPECT_EQ(kFileOpenError, ThrownMessage(ReadPlainFile, kData + "/no-such-file.log"));
  EXPECT_EQ(kFileOpenError, ThrownMessage(ReadPlainFile, kData));
  EXPECT_EQ(kGzipOpenError, ThrownMessage(ReadGzipFile, kData + "/no-such-file.log.gz"));
  EXPECT_EQ(kGzipReadError, ThrownMessage(ReadGzipFile, kData + "/engine-damaged.log.gz"));
  auto process = [](const std::string& path, std::string&) { CollectingSink().ProcessFile(path); };
  EXPECT_EQ(kFileOpenError, ThrownMessage(process, kData + "/no-such-file.log"));
  EXPECT_EQ(kFileOpenError, ThrownMessage(process, kData));
}

TEST(LogFileSource, DamagedGzipParsesNothing) {
  CollectingSink sink;
  try {
    sink.ProcessFile(kData + "/engine-damaged.log.gz");
    FAIL() << "no error raised";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(kGzipReadError, e.what());
  }
  EXPECT_TRUE(sink.records.empty());
}

TEST(LogFileSource, PlainTextNamedGzIsReadUnchanged) {
  // zlib passes data without a gzip header through as it is.
  const std::string path = ::testing::TempDir() + "/plain-named.gz";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  std::fputs("1.2.3.4 - - [01/Jan/2001:00:00:00 +0000] \"GET /a HTTP/1.0\" 200 5\n", f);
  std::fclose(f);
  CollectingSink sink;
  sink.ProcessFile(path);
  ASSERT_EQ(1u, sink.records.size());
  EXPECT_EQ("01/Jan/2001", sink.records[0].date);
  std::remove(path.c_str());
}

}  // namespace
TEST(LogFileSource, TruncatedGzipIsAnErrorNotAShorterLog) {
  // A valid stream cut short: every prefix of the compressed bytes must fail, never parse.
  const std::string whole = ::testing::TempDir() + "/whole.log.gz";
  {
    gzFile out = gzopen(whole.c_str(), "wb");
    ASSERT_NE(nullptr, out);
    for (int i = 0; i < 8000; ++i)  // some 600 KB: the readers' buffers must grow
      gzprintf(out, "10.0.0.%d - - [10/Oct/2000:13:55:36 +0400] \"GET /p%d.html HTTP/1.0\" 200 %d\n",
               i % 250, i, i);
    gzclose(out);
  }
  std::string bytes;
  ReadPlainFile(whole, bytes);
  ASSERT_GT(bytes.size(), 100u);
  const std::string cut = ::testing::TempDir() + "/cut.log.gz";
  for (size_t keep : {bytes.size() - 1, bytes.size() - 8, bytes.size() / 2, size_t{20}}) {
    {
      std::FILE* out = std::fopen(cut.c_str(), "wb");
      ASSERT_NE(nullptr, out);
      std::fwrite(bytes.data(), 1, keep, out);
      std::fclose(out);
    }
    CollectingSink sink;
    EXPECT_EQ(kGzipReadError, ThrownMessage(ReadGzipFile, cut)) << "kept " << keep << " bytes";
    EXPECT_THROW(sink.ProcessFile(cut), std::runtime_error) << "kept " << keep << " bytes";
    EXPECT_TRUE(sink.records.empty()) << "kept " << keep << " bytes";
  }
  std::string text;
  ReadGzipFile(whole, text);
  EXPECT_EQ(8000, std::count(text.begin(), text.end(), '\n'));
  CollectingSink all;
  all.ProcessFile(whole);
  ASSERT_EQ(8000u, all.records.size());
  EXPECT_EQ("/p7999.html", all.records.back().url);
  EXPECT_EQ(7999, all.records.back().bytes);
}

}  // namespace hitsieve
