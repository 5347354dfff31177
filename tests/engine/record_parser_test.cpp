#include <gtest/gtest.h>

#include <boost/tokenizer.hpp>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/record_parser.h"
#include "engine/record_sink.h"
#include "tests/engine/field_splitter.h"
#include "tests/engine/stored_record.h"

namespace hitsieve {
namespace {

class CollectingSink : public RecordSink {
 public:
  std::vector<StoredRecord> records;

 protected:
  void OnRecord(const RequestRecord& record) override { records.emplace_back(record); }
};

std::vector<StoredRecord> Parse(std::string_view text) {
  CollectingSink sink;
  sink.ParseContent(text);
  return sink.records;
}

std::vector<std::string> SplitWithOurs(std::string_view line) {
  std::vector<std::string> fields;
  FieldSplitter splitter(line);
  std::string field;
  while (splitter.Next(&field)) {
    fields.push_back(field);
    field.clear();
  }
  return fields;
}

std::vector<std::string> SplitWithBoost(const std::string& line) {
  using Separator = boost::escaped_list_separator<char>;
  boost::tokenizer<Separator> tokens(line, Separator("", " ", "\"[]"));
  return std::vector<std::string>(tokens.begin(), tokens.end());
}

TEST(FieldSplitter, AgreesWithBoostTokenizerOnGeneratedLines) {
  const std::string alphabet = std::string(" \"[]\\\r\t ab-") + "\xC0\xFF" + std::string(1, '\0');
  std::mt19937 random(20081110);
  for (int n = 0; n < 20000; ++n) {
    // Up to 80 bytes, mostly plain text, so that special bytes fall inside, at the edges of and
    // after the splitter's 16-byte blocks.
    std::string line(random() % 80, ' ');
    const bool sparse = n % 2 == 0;
    for (char& c : line) c = sparse && random() % 8 != 0 ? 'x' : alphabet[random() % alphabet.size()];
    ASSERT_EQ(SplitWithBoost(line), SplitWithOurs(line)) << "line #" << n << ": " << line;
  }
}

TEST(FieldSplitter, SkipsFieldsWithoutCopying) {
  FieldSplitter splitter("a \"b c\" d");
  std::string field;
  EXPECT_TRUE(splitter.Next(nullptr));
  EXPECT_TRUE(splitter.Next(&field));
  EXPECT_EQ("b c", field);
  EXPECT_TRUE(splitter.Next(nullptr));
  EXPECT_FALSE(splitter.Next(&field));
}

// The record as the field splitter alone cuts the line, field after field: the reference that
// the parser's own walk (which picks out a line's quotes and spaces 64 bytes at a time and
// stops after the user agent) must agree with.
std::string SplitterRecord(std::string_view line) {
  std::vector<std::string> f;
  FieldSplitter splitter(line);
  std::string field;
  while (splitter.Next(&field)) {
    f.push_back(field);
    field.clear();
  }
  if (f.empty() || f[0].empty()) return "no record";
  f.resize(std::max<size_t>(f.size(), 9));
  return f[0] + "|" + std::string(std::string_view(f[3]).substr(0, 11)) + "|" +
         std::string(RequestLineUrl(f[4])) + "|" + std::to_string(ParseStatusField(f[5])) + "|" +
         std::to_string(ParseBytesField(f[6])) + "|" + f[7] + "|" + f[8];
}

std::string ParserRecord(std::string_view line, RequestRecord& record, RecordScratch& scratch) {
  if (!ParseRecordLine(line, record, scratch)) return "no record";
  return std::string(record.ip) + "|" + std::string(record.date) + "|" + std::string(record.url) +
         "|" + std::to_string(record.status) + "|" + std::to_string(record.bytes) + "|" +
         std::string(record.referer) + "|" + std::string(record.user_agent);
}

TEST(RecordParser, AgreesWithTheFieldSplitterOnGeneratedLines) {
  const std::string alphabet = std::string(" \"[]\\\r\t ab-/0123456789") + "\xC0\xFF" + std::string(1, '\0');
  const std::string combined =
      "66.249.65.1 - - [28/Oct/2008:00:00:00 +0300] \"GET /news/2007/06/forum-2788.html?a=1 "
      "HTTP/1.1\" 200 38793 \"http://www.google.ru/search?hl=ru&q=%D0%B0+b\" \"Mozilla/5.0 "
      "(Windows; U; Windows NT 5.1; en-US; rv:1.9.0.1) Gecko/2009011913 Firefox/3.0.1\"";
  std::mt19937 random(20261207);
  // One record and scratch for every line, as a run uses them: nothing may leak between lines.
  RequestRecord record;
  RecordScratch scratch;
  for (int n = 0; n < 60000; ++n) {
    std::string line;
    if (n % 3 == 0) {
      // A real line with a few bytes replaced by special ones, removed or doubled.
      line = combined;
      for (int edits = static_cast<int>(random() % 6); edits > 0; --edits) {
        const size_t at = random() % line.size();
        switch (random() % 3) {
          case 0: line[at] = alphabet[random() % 5]; break;
          case 1: line.erase(at, 1 + random() % 20); break;
          default: line.insert(at, line.substr(at, random() % 30)); break;
        }
        if (line.empty()) line = "x";
      }
    } else {
      // Up to 300 bytes, mostly plain, so that the special bytes fall on both sides of and
      // across the 64-byte steps, inside and outside quotes opened in an earlier step.
      line.assign(random() % 300, ' ');
      const bool sparse = n % 2 == 0;
      for (char& c : line) c = sparse && random() % 8 != 0 ? 'x' : alphabet[random() % alphabet.size()];
    }
    ASSERT_EQ(SplitterRecord(line), ParserRecord(line, record, scratch)) << "line #" << n << ": " << line;
  }
}

TEST(RecordParser, NumbersFollowAtoiAndSaturate) {
  const struct {
    const char* field;
    int32_t status;
    int64_t bytes;
  } cases[] = {
      {"200", 200, 200},
      {"-", 0, 0},
      {"-5", -5, 0},
      {"abc", 0, 0},
      {"  +42x", 42, 42},
      {"12\r", 12, 12},
      {"", 0, 0},
      {"2147483647", 2147483647, 2147483647},
      {"2147483648", std::numeric_limits<int32_t>::max(), 2147483648LL},
      {"-2147483648", std::numeric_limits<int32_t>::min(), 0},
      {"-99999999999", std::numeric_limits<int32_t>::min(), 0},
      {"5000000000", std::numeric_limits<int32_t>::max(), 5000000000LL},
      {"9223372036854775807", std::numeric_limits<int32_t>::max(),
       std::numeric_limits<int64_t>::max()},
      {"99999999999999999999999", std::numeric_limits<int32_t>::max(),
       std::numeric_limits<int64_t>::max()},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.status, ParseStatusField(c.field)) << c.field;
    EXPECT_EQ(c.bytes, ParseBytesField(c.field)) << c.field;
  }
}

TEST(RecordParser, UrlIsTextBetweenFirstAndLastSpace) {
  const struct {
    const char* request;
    const char* url;
  } cases[] = {{"GET /index.html HTTP/1.0", "/index.html"},
               {"-", "-"},
               {"GET /", ""},
               {"GET /a b.html HTTP/1.1", "/a b.html"},
               {"", ""},
               {"  ", ""},
               {"GET  /x HTTP/1.0", " /x"}};
  for (const auto& c : cases) EXPECT_EQ(c.url, RequestLineUrl(c.request)) << c.request;
}

TEST(RecordParser, CombinedLineFillsEveryField) {
  const auto records = Parse(
      "127.0.0.1 - frank [10/Oct/2000:13:55:36 -0700] \"GET /apache_pb.gif HTTP/1.0\" 200 2326 "
      "\"http://www.example.com/start.html\" \"Mozilla/4.08 [en] (Win98; I ;Nav)\" extra");
  ASSERT_EQ(1u, records.size());
  const StoredRecord& r = records[0];
  EXPECT_EQ("127.0.0.1", r.ip);
  EXPECT_EQ("10/Oct/2000", r.date);
  EXPECT_EQ("/apache_pb.gif", r.url);
  EXPECT_EQ(200, r.status);
  EXPECT_EQ(2326, r.bytes);
  EXPECT_EQ("http://www.example.com/start.html", r.referer);
  EXPECT_EQ("Mozilla/4.08 en (Win98; I ;Nav)", r.user_agent);
}

TEST(RecordParser, LineShapes) {
  const struct {
    const char* label;
    std::string text;
    size_t records;
    const char* ip;       // of the first record
    const char* url;
    int32_t status;
    int64_t bytes;
    const char* referer;
    const char* agent;
  } cases[] = {
      {"common format", "h - - [01/Jan/2001:00:00:00 +0000] \"GET /a HTTP/1.0\" 404 -", 1, "h",
       "/a", 404, 0, "", ""},
      {"common format, CR LF", "h - - [x] \"GET /a HTTP/1.0\" 200 17\r\n", 1, "h", "/a", 200, 17,
       "", ""},
      {"combined, CR LF", "h - - [x] \"GET /a HTTP/1.0\" 200 1 \"r\" \"ua\"\r\n", 1, "h", "/a", 200,
       1, "r", "ua\r"},
      {"only CR", "\r", 1, "\r", "", 0, 0, "", ""},
      {"no final LF", "a\nb", 2, "a", "", 0, 0, "", ""},
      {"final LF", "a\n", 1, "a", "", 0, 0, "", ""},
      {"empty, spaces, leading space", "\n   \n x y\n", 0, "", "", 0, 0, "", ""},
      {"empty quoted first field", "\"\" a b", 0, "", "", 0, 0, "", ""},
      {"two spaces shift fields", "h  - - [d] \"GET /a HTTP/1.0\" 200 5", 1, "h", "d", 0, 200,
       "5", ""},
      {"unclosed request line", "h - - [d] \"GET /a HTTP/1.0 200 5", 1, "h", "/a HTTP/1.0 200", 0,
       0, "", ""},
      {"bracket closes a double quote", "h - - [d] \"GET /a b] 3 4", 1, "h", "/a", 3, 4, "", ""},
      {"backslash is data", "h - - [d] \"GET /a\\b HTTP/1.0\" 3", 1, "h", "/a\\b", 3, 0, "", ""},
  };
  for (const auto& c : cases) {
    const auto records = Parse(c.text);
    ASSERT_EQ(c.records, records.size()) << c.label;
    if (records.empty()) continue;
    const StoredRecord& r = records[0];
    EXPECT_EQ(c.ip, r.ip) << c.label;
    EXPECT_EQ(c.url, r.url) << c.label;
    EXPECT_EQ(c.status, r.status) << c.label;
    EXPECT_EQ(c.bytes, r.bytes) << c.label;
    EXPECT_EQ(c.referer, r.referer) << c.label;
    EXPECT_EQ(c.agent, r.user_agent) << c.label;
  }
}

TEST(RecordParser, DateIsFirstElevenCharactersOfTimeField) {
  const struct {
    const char* line;
    const char* date;
  } cases[] = {{"h - - [10/Oct/2000:13:55:36 -0700]", "10/Oct/2000"},
               {"h - - [1/Oct]", "1/Oct"},
               {"h - -", ""},
               {"h - - 01/Nov/2008:x", "01/Nov/2008"}};
  for (const auto& c : cases) {
    const auto records = Parse(c.line);
    ASSERT_EQ(1u, records.size()) << c.line;
    EXPECT_EQ(c.date, records[0].date) << c.line;
  }
}

TEST(RecordParser, FieldsDoNotLeakIntoTheNextLine) {
  const auto records = Parse("a - - [d] \"GET /x HTTP/1.0\" 200 9 \"r\" \"u\"\nb");
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ("b", records[1].ip);
  EXPECT_EQ("", records[1].date);
  EXPECT_EQ("", records[1].url);
  EXPECT_EQ(0, records[1].status);
  EXPECT_EQ(0, records[1].bytes);
  EXPECT_EQ("", records[1].referer);
  EXPECT_EQ("", records[1].user_agent);
}

TEST(RecordParser, HugeLinesParseQuickly) {
  const std::string big(1 << 20, 'x');
  const std::string text = "h - - [d] \"GET /" + big + " HTTP/1.0\" 200 1 \"" + big + "\" \"" +
                           big + "\"\n" + std::string(1 << 20, ' ') + "\n" +
                           std::string(1 << 20, '"') + "\n";
  const auto start = std::chrono::steady_clock::now();
  const auto records = Parse(text);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(1u, records.size());  // the line of spaces is skipped; the line of quotes is empty
  EXPECT_EQ(big.size() + 1, records[0].url.size());
  EXPECT_EQ(big, records[0].user_agent);
  EXPECT_LT(elapsed, std::chrono::seconds(2));
}

}  // namespace
}  // namespace hitsieve
