// The report page as text: what the browser will parse. The data block must give back every log
// text exactly, no log text may appear as markup, and the policy must admit the page's own script.

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include <zlib.h>

#include "engine/dimensions/dimension.h"
#include "engine/search_engine.h"
#include "engine/stats_collector.h"
#include "engine/text.h"
#include "export/html_report.h"
#include "export/report_language.h"
#include "export/html_report_assets.h"
#include "export/referer_text.h"
#include "export/sha256.h"
#include "store/dimension_reports.h"
#include "store/stats_saver.h"
#include "tests/export/shared_database.h"

namespace hitsieve {
namespace {

// A small JSON reader, strict enough to reject what a browser's JSON.parse rejects.
struct Json {
  std::variant<std::nullptr_t, double, std::string, std::vector<Json>, std::map<std::string, Json>> v;
  const std::vector<Json>& Array() const { return std::get<std::vector<Json>>(v); }
  const Json& operator[](const std::string& key) const {
    return std::get<std::map<std::string, Json>>(v).at(key);
  }
  const Json& operator[](size_t i) const { return Array().at(i); }
  const std::string& Text() const { return std::get<std::string>(v); }
  double Number() const { return std::get<double>(v); }
};

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}
  Json ReadDocument() {
    Json value = Read();
    if (pos_ != text_.size()) throw std::runtime_error("trailing text");
    return value;
  }

 private:
  char Peek() const {
    if (pos_ >= text_.size()) throw std::runtime_error("unexpected end");
    return text_[pos_];
  }
  void Expect(char c) {
    if (Peek() != c) throw std::runtime_error(std::string("expected ") + c);
    ++pos_;
  }
  Json Read() {
    const char c = Peek();
    if (c == '"') return Json{ReadString()};
    if (c == 'n' && text_.substr(pos_, 4) == "null") return pos_ += 4, Json{nullptr};
    if (c == '[') {
      std::vector<Json> items;
      ++pos_;
      while (Peek() != ']') {
        if (!items.empty()) Expect(',');
        items.push_back(Read());
      }
      ++pos_;
      return Json{std::move(items)};
    }
    if (c == '{') {
      std::map<std::string, Json> members;
      ++pos_;
      while (Peek() != '}') {
        if (!members.empty()) Expect(',');
        std::string key = ReadString();
        Expect(':');
        members.emplace(std::move(key), Read());
      }
      ++pos_;
      return Json{std::move(members)};
    }
    size_t end = pos_;
    while (end < text_.size() && (isdigit(static_cast<unsigned char>(text_[end])) || text_[end] == '-')) ++end;
    if (end == pos_) throw std::runtime_error("unexpected character");
    const double number = std::stod(std::string(text_.substr(pos_, end - pos_)));
    pos_ = end;
    return Json{number};
  }
  std::string ReadString() {
    Expect('"');
    std::string out;
    while (true) {
      const unsigned char c = static_cast<unsigned char>(Peek());
      ++pos_;
      if (c == '"') return out;
      if (c < 0x20) throw std::runtime_error("raw control character in a string");
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      const char e = Peek();
      ++pos_;
      static const std::map<char, char> kSimple = {{'"', '"'}, {'\\', '\\'}, {'/', '/'}, {'n', '\n'},
                                                   {'r', '\r'}, {'t', '\t'}, {'b', '\b'}, {'f', '\f'}};
      if (auto it = kSimple.find(e); it != kSimple.end()) {
        out += it->second;
        continue;
      }
      if (e != 'u') throw std::runtime_error("bad escape");
      uint32_t cp = std::stoul(std::string(text_.substr(pos_, 4)), nullptr, 16);
      pos_ += 4;
      if (cp >= 0xD800 && cp <= 0xDBFF) {
        Expect('\\');
        Expect('u');
        const uint32_t low = std::stoul(std::string(text_.substr(pos_, 4)), nullptr, 16);
        pos_ += 4;
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      }
      AppendUtf8(cp, out);
    }
  }
  static void AppendUtf8(uint32_t cp, std::string& out) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
};

std::vector<std::string> HostileLines() {
  std::ifstream in(HITSIEVE_TEST_DATA "/hostile-lines.log", std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Hostile texts of the tests' own, so the suite does not depend on a file outside the tree.
std::vector<std::string> HostileTexts() {
  std::vector<std::string> texts = {
      "<script>alert(1)</script>", "\"><img src=x onerror=alert(1)>", "javascript:alert(1)",
      "http://example.com/</script><script>alert(2)</script>", "</SCRIPT ><!--", "<!-- -->",
      "a\xE2\x80\xA8" "b\xE2\x80\xA9" "c", "\x1B[31mred\x07", "nul\0byte", "\xFF\xFE\x80",
      "'single' & \"double\"", "\xE2\x80\xAEreversed", "]]><![CDATA[", "\\u003c/script>",
      std::string(20000, 'a'), "\xC0\xEF\xEE\xF0\xF2"};
  texts[8] = std::string("nul\0byte", 8);
  for (std::string& line : HostileLines()) texts.push_back(std::move(line));
  return texts;
}

// Every text in every text column of every table.
HtmlReportData HostileData() {
  HtmlReportData data;
  int n = 1;
  for (const std::string& text : HostileTexts()) {
    data.days.push_back({n, text, n, n, n, n});
    data.pages.push_back({n, text, n, n, n, {n, n, n, n, n, n}});
    data.queries.push_back({text, 6 * n, {n, n, n, n, n, n}});
    data.referers.push_back({n, text, 0, n});
    data.referers.push_back({n, "http://x.org/?q=" + text, 1, n});
    data.referers.push_back({n, text, 1, n});
    data.robots.push_back({text, text, n, text, text});
    ++n;
  }
  // Panels: a list whose keys and texts are log texts, and one with days that are.
  data.panels.resize(2);
  DimensionPanel& notfound = data.panels[0];
  notfound.report = *FindDimensionReport("notfound");
  notfound.counted = true;
  DimensionPanel& status = data.panels[1];
  status.report = *FindDimensionReport("status");
  status.counted = true;
  n = 1;
  for (const std::string& text : HostileTexts()) {
    notfound.rows.push_back({text, std::to_string(n), text});
    status.rows.push_back({text, std::to_string(n)});
    status.daily.push_back({text, text, std::to_string(n)});
    ++n;
  }
  return data;
}

// The text between the element's opening tag and the next "</script".
std::string ScriptContent(const std::string& page, const std::string& opening) {
  const size_t start = page.find(opening);
  EXPECT_NE(std::string::npos, start) << opening;
  const size_t from = start + opening.size();
  return page.substr(from, page.find("</script", from) - from);
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(HtmlReport, HostileTextsComeBackFromTheDataBlockAndNeverAsMarkup) {
  const HtmlReportData data = HostileData();
  const std::string page = BuildHtmlReport(data, "<b>now</b>");
  // Only the page's own two script elements; nothing else that a parser would take as a tag.
  EXPECT_EQ(2u, Count(Lower(page), "<script"));
  EXPECT_EQ(2u, Count(Lower(page), "</script"));
  EXPECT_EQ(0u, Count(page, "<b>now</b>"));
  EXPECT_EQ(0u, Count(page, "<!--"));

  const std::string block = ScriptContent(page, "<script type=\"application/json\" id=\"report-data\">");
  for (const char* forbidden : {"<", ">", "&", "\xE2\x80\xA8", "\xE2\x80\xA9"})
    EXPECT_EQ(std::string::npos, block.find(forbidden)) << "raw " << forbidden << " in the data";
  const Json json = JsonReader(block).ReadDocument();

  const auto shown = [](const std::string& text) { return Cp1251ToUtf8(text); };
  for (size_t i = 0; i < data.pages.size(); ++i) {
    SCOPED_TRACE("text " + std::to_string(i));
    EXPECT_EQ(shown(data.days[i].date), json["days"][i][0].Text());
    EXPECT_EQ(shown(data.pages[i].page), json["pages"][i][0].Text());
    EXPECT_EQ(shown(data.queries[i].query), json["queries"][i][0].Text());
    EXPECT_EQ(shown(data.referers[3 * i].referer), json["hosts"][i][0].Text());
    const Json& robot = json["robots"][i];
    EXPECT_EQ(shown(data.robots[i].name),
              json["crawlers"][static_cast<size_t>(robot[0].Number())][0].Text());
    EXPECT_EQ(shown(data.robots[i].date), json["robotDays"][static_cast<size_t>(robot[4].Number())].Text());
    EXPECT_EQ(shown(data.robots[i].action), robot[1].Text());
    EXPECT_EQ(shown(data.robots[i].ip), robot[3].Text());
    // Whole referers: only http(s) ones may become links.
    const Json& linked = json["referers"][2 * i];
    EXPECT_EQ(shown(data.referers[3 * i + 1].referer), linked[0].Text());
    EXPECT_EQ(1.0, linked[2].Number());
    const Json& plain = json["referers"][2 * i + 1];
    EXPECT_EQ(IsWebLink(data.referers[3 * i + 2].referer) ? 1.0 : 0.0, plain[2].Number());
    // The text people read travels beside the stored one whenever the two differ.
    for (const Json* row : {&linked, &plain}) {
      const std::string& stored = (*row)[0].Text();
      EXPECT_EQ(RefererDisplayText(stored), row->Array().size() > 3 ? (*row)[3].Text() : stored);
    }
    // The panels' texts: keys, referers and days.
    const Json& notfound = json["panels"][0]["rows"][i];
    EXPECT_EQ(shown(data.panels[0].rows[i][0]), notfound[0].Text());
    EXPECT_EQ(shown(data.panels[0].rows[i][2]), notfound[2].Text());
    const Json& status = json["panels"][1];
    const Json& day = status["daily"][i];
    EXPECT_EQ(shown(data.panels[1].daily[i][0]),
              status["days"][static_cast<size_t>(day[0].Number())].Text());
    EXPECT_EQ(shown(data.panels[1].daily[i][1]), day[1].Text());
  }
}

TEST(HtmlReport, RefererLinkTextNamesTheHostTheLinkOpens) {
  HtmlReportData data;
  const char* referers[] = {"https://www.google.com%2Fsearch%3Fq%3Dx@evil.example/",
                            "https://www.%D0%B0pple.com/", "http://a.example/?q=%E2%80%AEgpj.exe"};
  for (const char* referer : referers) data.referers.push_back({1, referer, 1, 1});
  const std::string page = BuildHtmlReport(data, "");
  const Json json = JsonReader(ScriptContent(page, "id=\"report-data\">")).ReadDocument();
  const Json& rows = json["referers"];
  EXPECT_EQ(3u, rows[0].Array().size()) << "shown as written";
  EXPECT_EQ("https://www.xn--pple-43d.com/", rows[1][3].Text());
  EXPECT_EQ("http://a.example/?q=\xEF\xBF\xBDgpj.exe", rows[2][3].Text());
}

TEST(HtmlReport, JsonStringsRoundTripAnyBytes) {
  std::mt19937 random(14);
  std::uniform_int_distribution<int> byte(0, 255), length(0, 40);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes;
    for (int i = length(random); i > 0; --i) bytes += static_cast<char>(byte(random));
    const std::string utf8 = Cp1251ToUtf8(bytes);
    const std::string json = JsonString(utf8);
    ASSERT_EQ(std::string::npos, json.find_first_of("<>&")) << json;
    ASSERT_EQ(utf8, JsonReader(json).ReadDocument().Text()) << json;
  }
  // Bytes that are not UTF-8 become U+FFFD, never an invalid string.
  EXPECT_EQ("a\xEF\xBF\xBD" "b", JsonReader(JsonString("a\xFF" "b")).ReadDocument().Text());
  EXPECT_EQ("\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",  // an encoded surrogate
            JsonReader(JsonString("\xED\xA0\x80")).ReadDocument().Text());
}

// Any scalar value, those that could end a script element or a line for a script parser most
// often, goes through JsonString into JSON that parses back to it.
TEST(HtmlReport, JsonStringsRoundTripAnyScalarValue) {
  std::mt19937 random(2028);
  const char32_t risky[] = {0x2028, 0x2029, '<', '/', 's', 'S', 'c', 'r', 'i', 'p', 't', '!',
                            '-', '>', '&', '"', '\\', 0, 0x1F, 0x7F, 0x85, 0xFEFF, 0x10FFFF};
  std::uniform_int_distribution<int> kind(0, 3), length(0, 30);
  std::uniform_int_distribution<uint32_t> any(0, 0x10FFFF - 0x800);
  std::uniform_int_distribution<size_t> pick(0, std::size(risky) - 1);
  const auto append = [](std::string& out, char32_t c) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  };
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int i = length(random); i > 0; --i) {
      char32_t c = risky[pick(random)];
      if (kind(random) == 0) {
        c = any(random);
        if (c >= 0xD800) c += 0x800;  // no surrogates: they are not scalar values
      }
      append(text, c);
    }
    const std::string json = JsonString(text);
    ASSERT_EQ(std::string::npos, json.find("\xE2\x80\xA8")) << json;
    ASSERT_EQ(std::string::npos, json.find("\xE2\x80\xA9")) << json;
    ASSERT_EQ(std::string::npos, Lower(json).find("</script")) << json;
    ASSERT_EQ(std::string::npos, json.find("<!--")) << json;
    ASSERT_EQ(text, JsonReader(json).ReadDocument().Text()) << json;
  }
}

std::string Unbase64(const std::string& text) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    const size_t v = kAlphabet.find(c);
    if (v == std::string::npos) throw std::runtime_error("not base64");
    bits = (bits << 6) | static_cast<uint32_t>(v);
    if ((count += 6) >= 8) out += static_cast<char>((bits >> (count -= 8)) & 0xFF);
  }
  return out;
}

std::string Gunzip(const std::string& packed) {
  z_stream stream{};
  EXPECT_EQ(Z_OK, inflateInit2(&stream, 15 + 16));
  std::string out(packed.size() * 20 + 1024, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(Z_STREAM_END, inflate(&stream, Z_FINISH));
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return out;
}

TEST(HtmlReport, LargeDataTravelsCompressedAndIntact) {
  HtmlReportData data;
  for (int i = 0; i < 60000; ++i) {
    data.pages.push_back({i, "/page-" + std::to_string(i) + "/</script>.html", i, 0, 1LL << 40, {}});
  }
  const std::string page = BuildHtmlReport(data, "");
  const std::string opening =
      "<script type=\"application/json\" id=\"report-data\" data-encoding=\"gzip-base64\">";
  const std::string block = ScriptContent(page, opening);
  ASSERT_FALSE(block.empty());
  EXPECT_EQ(std::string::npos, block.find_first_not_of(
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="));
  const std::string json_text = Gunzip(Unbase64(block));
  EXPECT_GT(json_text.size(), kPlainDataLimit);
  const Json json = JsonReader(json_text).ReadDocument();
  ASSERT_EQ(data.pages.size(), json["pages"].Array().size());
  EXPECT_EQ("/page-59999/</script>.html", json["pages"][59999][0].Text());
  EXPECT_EQ(static_cast<double>(1LL << 40), json["pages"][59999][3].Number());
  EXPECT_LT(page.size(), json_text.size() / 3);
}

TEST(HtmlReport, PolicyAdmitsExactlyThePageOwnScriptAndStyle) {
  const std::string page = BuildHtmlReport(HtmlReportData{}, "");
  const std::string script = ScriptContent(page, "</script>\n<script>");
  EXPECT_EQ(kHtmlReportScript, script);
  const auto digest = [](const std::string& text) {
    const auto d = Sha256(text);
    return "'sha256-" + Base64(d.data(), d.size()) + "'";
  };
  const size_t policy = page.find("Content-Security-Policy");
  const std::string meta = page.substr(policy, page.find('>', policy) - policy);
  EXPECT_NE(std::string::npos, meta.find("default-src 'none'"));
  EXPECT_NE(std::string::npos, meta.find("script-src " + digest(kHtmlReportScript) + ";"));
  EXPECT_NE(std::string::npos, meta.find("style-src " + digest(kHtmlReportStyle) + ";"));
  EXPECT_EQ(std::string::npos, meta.find("unsafe"));
  // The script must not end its own element or open a comment the parser would honour.
  EXPECT_EQ(std::string::npos, Lower(kHtmlReportScript).find("</script"));
  EXPECT_EQ(std::string::npos, std::string(kHtmlReportScript).find("<!--"));
  EXPECT_EQ(std::string::npos, Lower(kHtmlReportStyle).find("</style"));
}

TEST(HtmlReport, Sha256AndBase64MatchTheirStandards) {
  const auto hex = [](const std::array<uint8_t, 32>& d) {
    std::string out;
    char buffer[3];
    for (uint8_t b : d) std::snprintf(buffer, sizeof buffer, "%02x", b), out += buffer;
    return out;
  };
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", hex(Sha256("")));
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", hex(Sha256("abc")));
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
            hex(Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")));
  EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
            hex(Sha256(std::string(1000000, 'a'))));
  const struct { const char* in; const char* out; } cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.out, Base64(reinterpret_cast<const uint8_t*>(c.in), strlen(c.in))) << c.in;
  }
}

// A few absurd days must not decide the chart's range or the summary's period.
TEST(HtmlReport, ChartAndSummaryKeepToTheBusyStretchOfTheCalendar) {
  const struct {
    const char* label;
    std::vector<std::pair<const char*, int32_t>> days;  // key, views
    int32_t first, last;                                // 0: no range
    int64_t left_out;
  } cases[] = {
      {"absurd ends", {{"05/May/2009", 10}, {"01/Jan/0000", 1}, {"31/Dec/9999", 1}, {"06/May/2009", 3}},
       20090505, 20090506, 2},
      {"two-digit year far back", {{"05/May/0009", 50}, {"05/May/2009", 60}, {"07/May/2009", 1}},
       20090505, 20090507, 1},
      {"busier old stretch wins", {{"01/Jan/2001", 100}, {"02/Jan/2001", 1}, {"01/Jan/2005", 5}},
       20010101, 20010102, 1},
      {"equal views: more days", {{"01/Jan/2001", 2}, {"01/Jan/2005", 1}, {"02/Jan/2005", 1}},
       20050101, 20050102, 1},
      {"a year's gap is one stretch", {{"01/Jan/2004", 1}, {"01/Jan/2005", 1}}, 20040101, 20050101, 0},
      {"a gap of 367 days splits", {{"01/Jan/2004", 1}, {"02/Jan/2005", 1}}, 20050102, 20050102, 1},
      {"only year 0", {{"01/Jan/0000", 1}}, 0, 0, 1},
      {"year 1 is a date", {{"01/Jan/0001", 1}}, 10101, 10101, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    HtmlReportData data;
    for (const auto& [key, views] : c.days) data.days.push_back({0, key, 1, 1, views, 0});
    const std::optional<ChartRange> range = BusyRange(data.days);
    ASSERT_EQ(c.first != 0, range.has_value());
    if (range) {
      EXPECT_EQ(c.first, range->first);
      EXPECT_EQ(c.last, range->last);
    }
    const HtmlReportSummary s = SummariseReport(data);
    EXPECT_EQ(c.left_out, s.days_left_out);
    EXPECT_EQ(static_cast<int64_t>(c.days.size()) - c.left_out, s.days);
    const Json json = JsonReader(ScriptContent(BuildHtmlReport(data, ""), "id=\"report-data\">"))
                          .ReadDocument();
    ASSERT_EQ(range ? 2u : 0u, json["chart"].Array().size());
    if (range) {
      EXPECT_EQ(c.first, json["chart"][0].Number());
    }
  }
}

TEST(HtmlReport, SummaryTotalsEveryDayAndFindsTheCalendarEnds) {
  HtmlReportData data;
  const int32_t big = INT32_MAX;
  // Byte order of the keys is not calendar order; a key that is no date is summed but is no day.
  for (const char* day : {"01/Feb/2009", "02/Jan/2009", "31/Dec/2008", "99/Zzz/0000"})
    data.days.push_back({0, day, big, big, big, 1});
  data.pages.resize(3);
  data.queries.resize(2);
  data.robots.resize(5);
  const HtmlReportSummary s = SummariseReport(data);
  EXPECT_EQ(3, s.days);
  EXPECT_EQ(1, s.days_left_out);
  EXPECT_EQ("31/Dec/2008", s.first_day);
  EXPECT_EQ("01/Feb/2009", s.last_day);
  EXPECT_EQ(4LL * big, s.hosts);  // no 32-bit wrap
  EXPECT_EQ(4LL * big, s.visitors);
  EXPECT_EQ(4LL * big, s.views);
  EXPECT_EQ(4, s.searches);
  EXPECT_EQ(3, s.pages);
  EXPECT_EQ(2, s.phrases);
  EXPECT_EQ(5, s.robot_hits);

  const std::string page = BuildHtmlReport(data, "");
  EXPECT_NE(std::string::npos, page.find("id=\"sum-hosts\">8\u202F589\u202F934\u202F588<"));
  EXPECT_NE(std::string::npos, page.find("id=\"sum-period\">31/Dec/2008 — 01/Feb/2009<"));
  EXPECT_NE(std::string::npos, page.find("id=\"sum-robots\">5<"));

  // With no real date at all the period is a dash, and the escaped key never shows as markup.
  data.days = {{0, "<i>x</i>", 1, 1, 1, 1}};
  const std::string odd = BuildHtmlReport(data, "");
  EXPECT_NE(std::string::npos, odd.find("id=\"sum-period\">—<"));
}

TEST(HtmlReport, DayKeysReadAsCalendarDaysOnlyWhenReal) {
  const struct { const char* key; int32_t day; } cases[] = {
      {"10/Oct/2000", 20001010}, {"29/Feb/2008", 20080229}, {"29/Feb/2000", 20000229},
      {"29/Feb/1900", 0},        {"29/Feb/2009", 0},        {"31/Apr/2009", 0},
      {"00/Jan/2009", 0},        {"1/Jan/2009", 0},         {"01/jan/2009", 0},
      {"01/Jan/09", 0},          {"01-Jan-2009", 0},        {"01/Jan/2009 ", 0},
      {"", 0},                   {"0x/Jan/2009", 0}};
  for (const auto& c : cases) EXPECT_EQ(c.day, CalendarDayNumber(c.key).value_or(0)) << c.key;
}

TEST(HtmlReport, OnlyHttpAndHttpsReferersAreLinks) {
  const struct { const char* url; bool link; } cases[] = {
      {"http://example.org/", true},   {"HTTPS://example.org", true}, {"hTtP://x", true},
      {"javascript:alert(1)", false},  {" http://x.org/", false},     {"http:/x.org", false},
      {"http://", false},              {"ftp://x.org/", false},       {"data:text/html,x", false},
      {"//x.org/", false},             {"httpx://x.org", false},      {"", false}};
  for (const auto& c : cases) EXPECT_EQ(c.link, IsWebLink(c.url)) << c.url;
}

TEST(HtmlReport, HtmlEscapeLeavesNoMarkupCharacter) {
  for (const std::string& text : HostileTexts()) {
    const std::string escaped = HtmlEscape(text);
    EXPECT_EQ(std::string::npos, escaped.find_first_of("<>\"'")) << text;
  }
  EXPECT_EQ("&lt;a href=&quot;x&quot;&gt;&amp;&#39;", HtmlEscape("<a href=\"x\">&'"));
}

}  // namespace
}  // namespace hitsieve

namespace hitsieve {
namespace {

// ---- The panels of the dimension reports, over statistics counted from a log ----------------

const SearchEngineRegistry& StandardEngines() {
  static SearchEngineRegistry registry;
  static const bool filled = (RegisterStandardEngines(registry), true);
  (void)filled;
  return registry;
}

// A log of many days, hours, codes, pages and referers (hostile ones among them), with a
// crawler's requests that no status or not-found row may count; and what it must count.
struct GeneratedLog {
  std::string text;
  std::map<std::pair<std::string, std::string>, int64_t> status;  // (day, code) -> requests
  int64_t not_found = 0, robots = 0, requests = 0;
};

GeneratedLog MakeLog(uint32_t seed) {
  std::mt19937 random(seed);
  const auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  const std::vector<std::string> days = {"30/Dec/2008", "31/Dec/2008", "01/Jan/2009",
                                         "02/Jan/2009", "10/Jan/2009", "01/Feb/2009"};
  const std::vector<int> codes = {200, 200, 200, 304, 301, 404, 404, 410, 500, 503, 206, 999};
  std::vector<std::string> urls = {"/", "/index.html", "/news.html", "/a.png", "/old.html",
                                   "/</script><b>x</b>.html", "/\xEF\xF0\xE8\xE2\xE5\xF2.html"};
  const std::vector<std::string> referers = {"-", "http://a.example/", "http://b.example/x?<i>",
                                             "javascript:alert(1)"};
  GeneratedLog log;
  for (int line = 0; line < 3000; ++line) {
    const std::string& day = days[pick(days.size())];
    const int code = codes[pick(codes.size())];
    const bool robot = pick(10) == 0;
    char time[16];
    std::snprintf(time, sizeof time, "%02zu:%02zu:%02zu", pick(24), pick(60), pick(60));
    log.text += "10.0." + std::to_string(pick(4)) + "." + std::to_string(pick(50)) + " - - [" + day +
                ":" + time + " +0300] \"GET " + urls[pick(urls.size())] + " HTTP/1.1\" " +
                std::to_string(code) + " " + std::to_string(100 + pick(5000)) + " \"" +
                referers[pick(referers.size())] + "\" \"" +
                (robot ? "Googlebot/2.1" : "Mozilla/5.0 (" + std::to_string(pick(3)) + ")") +
                "\"\n";
    if (robot) {
      ++log.robots;
      continue;
    }
    ++log.requests;
    ++log.status[{day, std::to_string(code)}];
    if (code == 404 || code == 410) ++log.not_found;
  }
  return log;
}

void SaveLog(const std::string& text, bool dimensions) {
  StatsCollector collector(StandardEngines());
  if (dimensions) collector.SetDimensions(MakeDimensions(DimensionOptions{}));
  collector.ParseContent(text);
  StatsSaver saver(collector, nullptr);
  saver.save();
}

std::vector<std::vector<std::string>> QueryRows(const DimensionReport& report) {
  std::vector<std::vector<std::string>> rows;
  ForEachDimensionReportRow(report, [&](const std::vector<std::string>& cells) { rows.push_back(cells); });
  return rows;
}

// The daily rows added up as the page adds them: by the key and every text, counts summed.
std::map<std::vector<std::string>, std::vector<int64_t>> AddedUp(
    const std::vector<std::vector<std::string>>& rows, size_t first, const std::vector<bool>& numeric) {
  std::map<std::vector<std::string>, std::vector<int64_t>> sums;
  for (const std::vector<std::string>& row : rows) {
    std::vector<std::string> key;
    std::vector<int64_t> counts;
    for (size_t k = 0; k < numeric.size(); ++k) {
      if (k == 0 || !numeric[k]) key.push_back(row[first + k]);
      else counts.push_back(std::stoll(row[first + k]));
    }
    std::vector<int64_t>& sum = sums[key];
    if (sum.empty()) sum.assign(counts.size(), 0);
    for (size_t k = 0; k < counts.size(); ++k) sum[k] += counts[k];
  }
  // A row of zeros (an hour without views) is no row.
  std::erase_if(sums, [](const auto& entry) {
    return std::all_of(entry.second.begin(), entry.second.end(), [](int64_t v) { return v == 0; });
  });
  return sums;
}

Json PageData(const std::string& page) {
  return JsonReader(ScriptContent(page, "<script type=\"application/json\" id=\"report-data\">"))
      .ReadDocument();
}

// The text of the summary's figure `id`.
std::string Figure(const std::string& page, const std::string& id) {
  const std::string opening = "<dd id=\"sum-" + id + "\">";
  const size_t at = page.find(opening);
  if (at == std::string::npos) return "(missing)";
  const size_t from = at + opening.size();
  return page.substr(from, page.find("</dd>", from) - from);
}

class HtmlPanelsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::SharedDatabaseFolder(); }
  void SetUp() override { SetOutputLanguage(ReportLanguage::kRussian); }
};

TEST_F(HtmlPanelsTest, PanelsHoldTheReportsRowsAndTheirDaysAddUpToThem) {
  for (const uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const GeneratedLog log = MakeLog(seed);
    SaveLog(log.text, true);
    HtmlReportData data;
    ReadHtmlReportData(data);
    ASSERT_EQ(DimensionReports().size(), data.panels.size());
    const std::string page = BuildHtmlReport(data, "now");
    const Json json = PageData(page);
    for (size_t p = 0; p < data.panels.size(); ++p) {
      const DimensionPanel& panel = data.panels[p];
      const DimensionReport& report = panel.report;
      SCOPED_TRACE(std::string(report.name));
      EXPECT_EQ(DimensionReports()[p].name, report.name);
      ASSERT_TRUE(panel.counted);
      EXPECT_FALSE(panel.rows.empty());
      EXPECT_EQ(QueryRows(report), panel.rows);
      if (!report.daily_query.empty()) {
        EXPECT_EQ(AddedUp(panel.rows, 0, report.numeric), AddedUp(panel.daily, 1, report.numeric));
      } else {
        EXPECT_TRUE(panel.daily.empty());
      }
      // The page carries the same rows: log texts as UTF-8, numbers as numbers.
      const Json& shown = json["panels"][p];
      EXPECT_EQ(std::string(report.name), shown["name"].Text());
      EXPECT_EQ(1.0, shown["counted"].Number());
      ASSERT_EQ(panel.rows.size(), shown["rows"].Array().size());
      for (size_t r = 0; r < panel.rows.size(); ++r) {
        for (size_t k = 0; k < report.columns.size(); ++k) {
          if (report.numeric[k]) EXPECT_EQ(std::stod(panel.rows[r][k]), shown["rows"][r][k].Number());
          else EXPECT_EQ(Cp1251ToUtf8(panel.rows[r][k]), shown["rows"][r][k].Text());
        }
      }
      if (report.daily_query.empty()) continue;
      ASSERT_EQ(panel.daily.size(), shown["daily"].Array().size());
      for (size_t r = 0; r < panel.daily.size(); ++r) {
        const Json& row = shown["daily"][r];
        EXPECT_EQ(Cp1251ToUtf8(panel.daily[r][0]), shown["days"][static_cast<size_t>(row[0].Number())].Text());
        EXPECT_EQ(std::stod(panel.daily[r][2]), row[2].Number());
      }
    }
    // The status panel's days against the log itself: robots' requests count nowhere.
    const DimensionPanel& status = data.panels[0];
    ASSERT_EQ("status", status.report.name);
    std::map<std::pair<std::string, std::string>, int64_t> counted;
    for (const std::vector<std::string>& row : status.daily) counted[{row[0], row[1]}] += std::stoll(row[2]);
    EXPECT_EQ(log.status, counted);
    // The summary of the period.
    std::string not_found = Figure(page, "notfound");
    for (size_t at; (at = not_found.find("\u202F")) != std::string::npos;) not_found.erase(at, 3);
    EXPECT_EQ(std::to_string(log.not_found), not_found);
    char share[16];
    std::snprintf(share, sizeof share, "%.1f", 100.0 * static_cast<double>(log.robots) /
                                                   static_cast<double>(log.robots + log.requests));
    std::string russian = share;
    std::replace(russian.begin(), russian.end(), '.', ',');
    EXPECT_EQ(russian + "\u00A0%", Figure(page, "bots"));
  }
}

TEST_F(HtmlPanelsTest, PanelsOfDimensionsNotCountedSaySoInsteadOfShowingZeros) {
  SaveLog(MakeLog(7).text, false);
  HtmlReportData data;
  ReadHtmlReportData(data);
  ASSERT_FALSE(data.panels.empty());
  for (const DimensionPanel& panel : data.panels) {
    EXPECT_FALSE(panel.counted) << panel.report.name;
    EXPECT_TRUE(panel.rows.empty() && panel.daily.empty()) << panel.report.name;
  }
  const std::string page = BuildHtmlReport(data, "now");
  const Json json = PageData(page);
  for (const Json& panel : json["panels"].Array()) {
    EXPECT_EQ(0.0, panel["counted"].Number());
    EXPECT_TRUE(panel["rows"].Array().empty());
  }
  EXPECT_EQ("<small>не подсчитано</small>", Figure(page, "notfound"));
  EXPECT_EQ("<small>не подсчитано</small>", Figure(page, "bots"));
}

// A description the program does not ship (as others are added) makes a panel the same way;
// its name cannot break out of the ids it makes, nor its title out of the heading.
TEST_F(HtmlPanelsTest, AnyDescriptionMakesAPanel) {
  SaveLog(MakeLog(4).text, true);
  DimensionReport made_up = *FindDimensionReport("hours");
  made_up.name = "busy\"><b>hours";
  made_up.title = "<i>busy hours</i>";
  made_up.share_of = 1;
  HtmlReportData data;
  data.panels = ReadDimensionPanels({made_up});
  ASSERT_EQ(1u, data.panels.size());
  EXPECT_EQ(QueryRows(made_up), data.panels[0].rows);
  const std::string page = BuildHtmlReport(data, "now");
  EXPECT_NE(std::string::npos, page.find("<section id=\"panel-busybhours\" class=\"panel\"><h2>&lt;i&gt;busy hours&lt;/i&gt;</h2>"));
  EXPECT_EQ(std::string::npos, page.find("<b>"));
  EXPECT_EQ(std::string::npos, page.find("<i>"));
  const Json json = PageData(page);
  EXPECT_EQ("busybhours", json["panels"][0]["name"].Text());
  EXPECT_EQ(1.0, json["panels"][0]["share"].Number());
  // The share's column follows the described ones.
  EXPECT_EQ(made_up.columns.size() + 1, json["panels"][0]["titles"].Array().size());
}

// Logs may claim any byte count: the period's traffic saturates instead of failing the page.
TEST_F(HtmlPanelsTest, TrafficBeyondEveryIntegerStillGivesAPage) {
  StatsCollector collector(StandardEngines());
  collector.days["01/Jan/2009"].views = 1;
  collector.pages["/a.iso"] = PageStats{1, 0, std::numeric_limits<int64_t>::max(), {}};
  collector.pages["/b.iso"] = PageStats{1, 0, std::numeric_limits<int64_t>::max(), {}};
  StatsSaver(collector, nullptr).save();
  HtmlReportData data;
  ASSERT_NO_THROW(ReadHtmlReportData(data));
  EXPECT_EQ(std::numeric_limits<int64_t>::max(), data.period.traffic);
  EXPECT_NE("(missing)", Figure(BuildHtmlReport(data, "now"), "traffic"));
}

TEST_F(HtmlPanelsTest, PanelTitlesFollowThePageLanguage) {
  SaveLog(MakeLog(5).text, true);
  HtmlReportData data;
  ReadHtmlReportData(data);
  SetOutputLanguage(ReportLanguage::kEnglish);
  const std::string english = BuildHtmlReport(data, "now");
  SetOutputLanguage(ReportLanguage::kRussian);
  const std::string russian = BuildHtmlReport(data, "now");
  EXPECT_NE(std::string::npos, english.find("<h2>Status codes</h2>"));
  EXPECT_NE(std::string::npos, russian.find("<h2>Коды ответа</h2>"));
  EXPECT_NE(std::string::npos, english.find("\"titles\":[\"Hour\",\"Views\",\"Visitors\"]"));
  EXPECT_NE(std::string::npos, russian.find("\"titles\":[\"Час\",\"Просмотры\",\"Посетители\"]"));
}

}  // namespace
}  // namespace hitsieve
