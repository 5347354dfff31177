// Server log formats: the same generated requests written in every preset and in Apache,
// nginx and JSON format strings must give exactly the statistics of those requests written as
// combined, every table and every row; and format texts that cannot be understood are refused
// with the place of the problem.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/log_format/format_reader.h"
#include "engine/log_format/log_format.h"
#include "engine/page_filter.h"
#include "engine/standard_engines.h"
#include "engine/stats_collector.h"
#include "tests/engine/random_log.h"

namespace hitsieve {
namespace {

using Request = RandomLog::Request;

const SearchEngineRegistry& Engines() {
  static SearchEngineRegistry registry;
  static const bool filled = (RegisterStandardEngines(registry), true);
  (void)filled;
  return registry;
}

// ---- Writing one request the way each server writes it -----------------------------------

long long EpochSeconds(const Request& r) {
  // Days since 1970-01-01 of the civil date, then the time of day, UTC.
  const int y = r.year - (r.month <= 2 ? 1 : 0);
  const int era = y / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (r.month + (r.month > 2 ? -3 : 9)) + 2) / 5 + r.day_of_month - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long days = era * 146097LL + doe - 719468;
  return days * 86400 + r.hour * 3600 + 55 * 60 + 36;
}

// The time of day as every format writes it.
std::string Time(const Request& r) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:55:36", r.hour);
  return text;
}

std::string Iso(const Request& r) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:55:36+00:00", r.year, r.month,
                r.day_of_month, r.hour);
  return text;
}

std::string Uri(const Request& r) { return r.query.empty() ? r.path : r.path + "?" + r.query; }
std::string RequestLine(const Request& r) { return r.method + " " + Uri(r) + " HTTP/1.1"; }
std::string ApacheBytes(const Request& r) { return r.bytes == 0 ? "-" : std::to_string(r.bytes); }

std::string Combined(const Request& r) {
  return r.ip + " - - [" + r.day + ":" + Time(r) + " +0000] \"" + RequestLine(r) + "\" " +
         std::to_string(r.status) + " " + ApacheBytes(r) + " \"" + r.referer + "\" \"" + r.agent +
         "\"";
}

// nginx escape=json: quote, backslash and control bytes escaped, other bytes as they are.
std::string Json(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04x", c);
      out += hex;
    } else if (c == '/') {
      out += "\\/";  // allowed, and undone like any escape
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string W3cAgent(std::string agent) {
  std::replace(agent.begin(), agent.end(), ' ', '+');
  return agent;
}

std::string W3cDate(const Request& r) { return Iso(r).substr(0, 10); }

struct Written {
  const char* format;  // as given to --log-format
  std::function<std::string(const Request&)> line;
  bool plain_referer_and_agent = false;  // the format holds neither: compare with "-"
  const char* header = nullptr;          // written before the lines
};

const std::vector<Written>& Formats() {
  static const std::vector<Written> kFormats = {
      {"common",
       [](const Request& r) {
         return r.ip + " - frank [" + r.day + ":" + Time(r) + " -0700] \"" + RequestLine(r) + "\" " +
                std::to_string(r.status) + " " + ApacheBytes(r);
       },
       true},
      {"vhost_combined",
       [](const Request& r) { return "www.example.com:443 " + Combined(r); }},
      {"w3c", [](const Request& r) {
         return W3cDate(r) + " " + Time(r) + " 10.1.1.1 " + r.method + " " + r.path + " " +
                (r.query.empty() ? "-" : r.query) + " 80 - " + r.ip + " " + W3cAgent(r.agent) +
                " " + r.referer + " " + std::to_string(r.status) + " 0 0 " +
                std::to_string(r.bytes) + " 15";
       }, false,
       "#Software: Microsoft Internet Information Services 10.0\n#Version: 1.0\n"
       "#Date: 2000-01-01 00:00:00\n#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query "
       "s-port cs-username c-ip cs(User-Agent) cs(Referer) sc-status sc-substatus "
       "sc-win32-status sc-bytes time-taken"},
      {"caddy", [](const Request& r) {
         return "{\"level\":\"info\",\"ts\":" + std::to_string(EpochSeconds(r)) +
                ".5241024,\"logger\":\"http.log.access\",\"msg\":\"handled request\","
                "\"request\":{\"remote_ip\":\"10.9.9.9\",\"remote_port\":\"41342\",\"client_ip\":" +
                Json(r.ip) + ",\"proto\":\"HTTP/1.1\",\"method\":" + Json(r.method) +
                ",\"host\":\"example.com\",\"uri\":" + Json(Uri(r)) + ",\"headers\":{" +
                (r.agent == "-" ? "" : "\"User-Agent\":[" + Json(r.agent) + "],") +
                "\"Accept\":[\"*/*\"]" +
                (r.referer == "-" ? "" : ",\"Referer\":[" + Json(r.referer) + "]") +
                "}},\"bytes_read\":0,\"user_id\":\"\",\"duration\":0.0009,\"size\":" +
                std::to_string(r.bytes) + ",\"status\":" + std::to_string(r.status) +
                ",\"resp_headers\":{\"Server\":[\"Caddy\"]}}";
       }},
      {R"(%a %l %u %{%d/%b/%Y:%H:%M:%S %z}t %m %U%q %H %>s %B "%{Referer}i" "%{User-agent}i" %D)",
       [](const Request& r) {
         return r.ip + " - - " + r.day + ":" + Time(r) + " +0000 " + r.method + " " + r.path +
                (r.query.empty() ? "" : "?" + r.query) + " HTTP/1.1 " + std::to_string(r.status) +
                " " + std::to_string(r.bytes) + " \"" + r.referer + "\" \"" + r.agent + "\" 1234";
       }},
      {R"(%{Host}i %h %{msec}t "%r" %s %O %I "%{User-Agent}i" "%{Referer}i")",
       [](const Request& r) {
         return "example.com " + r.ip + " " + std::to_string(EpochSeconds(r)) + "250 \"" +
                RequestLine(r) + "\" " + std::to_string(r.status) + " " + std::to_string(r.bytes) +
                " 321 \"" + r.agent + "\" \"" + r.referer + "\"";
       }},
      {R"($remote_addr - $remote_user [$time_local] "$request" $status $body_bytes_sent )"
       R"("$http_referer" "$http_user_agent" $request_time "$upstream_addr" "$http_x_forwarded_for")",
       [](const Request& r) {
         return r.ip + " - - [" + r.day + ":" + Time(r) + " +0300] \"" + RequestLine(r) + "\" " +
                std::to_string(r.status) + " " + std::to_string(r.bytes) + " \"" + r.referer +
                "\" \"" + r.agent + "\" 0.004 \"127.0.0.1:8080\" \"-\"";
       }},
      {R"($remote_addr $time_iso8601 $request_method $uri $args $status $bytes_sent )"
       R"(${host} "$http_referer" "$http_user_agent")",
       [](const Request& r) {
         return r.ip + " " + Iso(r) + " " + r.method + " " + r.path + " " +
                (r.query.empty() ? "-" : r.query) + " " + std::to_string(r.status) + " " +
                std::to_string(r.bytes) + " example.com \"" + r.referer + "\" \"" + r.agent + "\"";
       }},
      {R"($msec|$remote_addr|$request_uri|$status|$body_bytes_sent|$http_user_agent|$http_referer)",
       [](const Request& r) {
         return std::to_string(EpochSeconds(r)) + ".123|" + r.ip + "|" + Uri(r) + "|" +
                std::to_string(r.status) + "|" + std::to_string(r.bytes) + "|" + r.agent + "|" +
                r.referer;
       }},
      {R"({"time":"$time_iso8601","remote_addr":"$remote_addr","request":"$request",)"
       R"("status": $status, "bytes":$body_bytes_sent,"referer":"$http_referer",)"
       R"("agent":"$http_user_agent","request_time":$request_time,"server":"edge-1"})",
       [](const Request& r) {
         return "{\"time\":" + Json(Iso(r)) + ",\"remote_addr\":" + Json(r.ip) +
                ",\"request\":" + Json(RequestLine(r)) + ",\"status\": " +
                std::to_string(r.status) + ", \"bytes\":" + std::to_string(r.bytes) +
                ",\"referer\":" + Json(r.referer == "-" ? "" : r.referer) +
                ",\"agent\":" + Json(r.agent) + ",\"request_time\":0.012,\"server\":\"edge-1\"}";
       }},
  };
  return kFormats;
}

// ---- Every table of a collector as rows of text ------------------------------------------

std::vector<std::string> Tables(const StatsCollector& c) {
  std::vector<std::string> rows;
  auto field = [](std::string& row, std::string_view text) {
    row += std::to_string(text.size()) + ':' + std::string(text) + ' ';
  };
  for (const auto& [key, day] : c.days) {
    std::string row = "day ";
    field(row, key);
    std::vector<std::string> ips, visitors;
    day.ips.ForEach([&](uint64_t k) { ips.emplace_back(c.AddressText(static_cast<uint32_t>(k))); });
    day.visitors.ForEach([&](uint64_t k) {
      visitors.push_back(std::string(c.AddressText(VisitorAddress(k))) + '|' +
                         std::string(c.AgentText(VisitorAgent(k))));
    });
    std::sort(ips.begin(), ips.end());
    std::sort(visitors.begin(), visitors.end());
    for (const std::string& ip : ips) field(row, ip);
    for (const std::string& visitor : visitors) field(row, visitor);
    rows.push_back(row + std::to_string(day.views) + ' ' + std::to_string(day.searches));
  }
  for (const auto& [key, page] : c.pages) {
    std::string row = "page ";
    field(row, key);
    row += std::to_string(page.visits) + ' ' + std::to_string(page.searches) + ' ' +
           std::to_string(page.bandwidth);
    for (const auto& [engine, count] : page.engineHits)
      row += ' ' + std::to_string(engine) + '=' + std::to_string(count);
    rows.push_back(row);
  }
  for (const auto& [key, count] : c.referers) rows.push_back("referer " + key + ' ' + std::to_string(count));
  for (const auto& [key, count] : c.refererHosts) rows.push_back("host " + key + ' ' + std::to_string(count));
  for (const auto& [phrase, counts] : c.queries) {
    std::string row = "phrase ";
    field(row, phrase);
    for (const auto& [engine, count] : counts)
      row += ' ' + std::to_string(engine) + '=' + std::to_string(count);
    rows.push_back(row);
  }
  for (const RobotHit& hit : c.robotHits)
    rows.push_back("robot " + hit.name + ' ' + hit.action + ' ' + hit.ip + ' ' + hit.date + ' ' +
                   std::to_string(hit.code));
  for (const auto& counted : c.dimensions()) {
    std::vector<std::string> cells;
    counted.table.ForEach([&](const DimensionTable::Key& key, const DimensionCell& cell) {
      std::string row = std::string(counted.dimension->Shape().name) + ' ';
      field(row, key.day);
      field(row, key.key);
      field(row, key.sub);
      row += std::to_string(cell.counts[0]) + ' ' + std::to_string(cell.visitors.size());
      cells.push_back(row);
    });
    std::sort(cells.begin(), cells.end());
    rows.insert(rows.end(), cells.begin(), cells.end());
  }
  rows.push_back("records " + std::to_string(c.records()));
  return rows;
}

StatsCollector Collect(const std::string& text, std::shared_ptr<const LogFormat> format,
                       const char* extensions) {
  StatsCollector collector(Engines());
  ParseExtensionList(extensions, collector.pageExtensions);
  collector.SetLogFormat(std::move(format));
  collector.SetDimensions(MakeDimensions({}));
  collector.StartFile();
  collector.ParseContent(text);
  return collector;
}

void ExpectSameTables(const std::vector<std::string>& want, const std::vector<std::string>& got,
                      const std::string& label) {
  const auto [w, g] = std::mismatch(want.begin(), want.end(), got.begin(), got.end());
  if (w == want.end() && g == got.end()) return;
  ADD_FAILURE() << label << ": first difference\n  combined: " << (w == want.end() ? "(none)" : *w)
                << "\n  format:   " << (g == got.end() ? "(none)" : *g);
}

// ---- Tests --------------------------------------------------------------------------------

TEST(LogFormat, EveryFormatGivesTheTablesOfTheSameRequestsWrittenAsCombined) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    RandomLog log(seed);
    std::vector<Request> requests;
    for (int k = 0; k < 400; ++k) {
      requests.push_back(log.NextRequest());
      requests.back().hour = (k * 7 + static_cast<int>(seed)) % 24;
    }
    const char* extensions = seed % 3 == 0 ? "" : kDefaultExtensionList;
    for (const Written& written : Formats()) {
      std::string combined, text;
      if (written.header) text = std::string(written.header) + (seed % 2 ? "\r\n" : "\n");
      for (Request request : requests) {
        text += written.line(request) + (seed % 2 ? "\r\n" : "\n");
        if (written.plain_referer_and_agent) request.referer = request.agent = "-";
        combined += Combined(request) + "\n";
      }
      const std::string label = std::string(written.format) + " seed " + std::to_string(seed);
      const StatsCollector want = Collect(combined, nullptr, extensions);
      ASSERT_EQ(want.unrecognised_lines(), 0) << label;
      const std::shared_ptr<const LogFormat> format = LogFormat::Compile(written.format);
      EXPECT_EQ(written.format, format->text()) << label;  // as a remembered log keeps it
      const StatsCollector got = Collect(text, format, extensions);
      EXPECT_EQ(got.unrecognised_lines(), 0) << label;
      ExpectSameTables(Tables(want), Tables(got), label);
      // "auto" recognises the presets from the first lines and reads them the same way.
      if (LogFormat::Preset(written.format)) {
        const StatsCollector found = Collect(text, LogFormat::Compile("auto"), extensions);
        ExpectSameTables(Tables(want), Tables(found), label + " (auto)");
      }
    }
  }
}

// Lines that do not fit are counted, never read as something else, and the lines around them
// still count; a W3C file's fields may change between its lines.
TEST(LogFormat, LinesThatDoNotFitAreCountedAndW3cFieldsMayChange) {
  const std::string w3c =
      "2001-01-01 10:00:00 1.1.1.1 /before-fields.html 200\n"  // no #Fields: yet
      "#Fields: date time c-ip cs-uri-stem sc-status\n"
      "2001-01-01 10:00:00 1.1.1.1 /a.html 200\n"
      "2001-01-01 10:00:00 1.1.1.1 /a.html\n"  // a field short
      "#Fields:\tcs-uri-stem\tcs-uri-query\tdate\ttime\tsc-status\tcs(User-Agent)\n"
      "/b.html\tq=1\t2001-01-02\t11:00:00\t404\tMozilla/5.0+(X11)\n"
      "/c.html\t-\tnot-a-date\t11:00:00\t200\t-\n";
  const StatsCollector collector = Collect(w3c, LogFormat::Compile("w3c"), "");
  EXPECT_EQ(collector.records(), 2);
  EXPECT_EQ(collector.lines_without_record(), 3);
  EXPECT_EQ(collector.pages.count("/a.html"), 1u);
  EXPECT_EQ(collector.pages.count("/b.html?q=1"), 1u);
  EXPECT_EQ(collector.AgentText(1), "Mozilla/5.0 (X11)");
  ASSERT_EQ(collector.days.size(), 2u);
  EXPECT_EQ(collector.days.begin()->first, "01/Jan/2001");

  const std::string nginx =
      "1.1.1.1 [10/Oct/2000:13:55:36 +0000] \"GET /x.html HTTP/1.1\" 200\n"
      "1.1.1.1 [10/Oct/2000:13:55:36 +0000] \"GET /y.html HTTP/1.1\" OK\n"     // status no number
      "1.1.1.1 [32/Oct/2000:13:55:36 +0000] \"GET /z.html HTTP/1.1\" 200\n"    // no such day
      "1.1.1.1 [10/Oct/2000:13:55:36 +0000] \"GET /x.html HTTP/1.1\" 200 9\n"  // text after it
      "{\"a\":1}\n\n   \n";
  const StatsCollector templated =
      Collect(nginx, LogFormat::Compile(R"($remote_addr [$time_local] "$request" $status)"), "");
  EXPECT_EQ(templated.records(), 1);
  EXPECT_EQ(templated.lines_without_record(), 4);  // blank lines are not counted

  const StatsCollector json = Collect("{\"time\":\"2000-10-10T00:00:00\",\"uri\":\"/a\\u00e9.html\",\"t\":[[[]]]}\n"
                      "{\"time\":\"2000-10-10T00:00:00\",\"uri\":\"/bad\\x.html\"}\n"
                      "{\"time\":\"2000-10-10T00:00:00\"}\n",
                      LogFormat::Compile(R"({"time":"$time_iso8601","uri":"$request_uri"})"), "");
  EXPECT_EQ(json.records(), 1);
  EXPECT_EQ(json.pages.count("/a\xC3\xA9.html"), 1u);
  EXPECT_EQ(json.lines_without_record(), 2);
}

TEST(LogFormat, FormatsThatCannotBeUnderstoodNameThePlaceOfTheProblem) {
  const struct {
    const char* format;
    size_t position;
  } kRefused[] = {
      {"", 0},
      {"apache2", 0},                                  // no such preset
      {"%h %t \"%r\" %{Referer", 11},                  // '%{' never closed
      {"%h %t \"%r\" %Z", 12},                         // no such directive
      {"%h %t %r %", 9},                               // '%' at the end
      {"%h %l %u \"%r\" %>s", 17},                     // no time
      {"%h [%t] %>s %b", 14},                          // no request or URL
      {"%h %t%r", 5},                                  // two fields side by side
      {"$remote_addr [$time_local] \"$request\" ${status", 38},
      {"$remote_addr [$time_local] \"$request\" $ x", 38},
      {"{\"t\":\"$msec\",\"u\":\"$uri\"", 23},              // JSON not closed
      {"{\"t\":\"$msec\",\"u\":{\"p\":\"$uri\"}}", 17},     // nested
  };
  for (const auto& refused : kRefused) {
    try {
      LogFormat::Compile(refused.format);
      ADD_FAILURE() << "accepted: " << refused.format;
    } catch (const LogFormatError& e) {
      EXPECT_EQ(e.position(), refused.position) << refused.format << ": " << e.what();
    }
  }
  EXPECT_EQ(LogFormat::Compile("combined")->kind(), LogFormat::Kind::kCombined);
  EXPECT_EQ(LogFormat::Compile("%h %t \"%r\" 100%% %>s")->elements().size(), 7u);
}

}  // namespace
}  // namespace hitsieve
