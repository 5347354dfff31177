#ifndef HITSIEVE_TESTS_ENGINE_RANDOM_LOG_H_
#define HITSIEVE_TESTS_ENGINE_RANDOM_LOG_H_

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace hitsieve {

// Generates access-log lines that exercise every rule of the reader and the collector: quotes
// and brackets in odd places, crawlers of every engine, search referers of the six engines
// whose phrases repeat in varying letter case, CR LF and mixed line ends, NUL bytes, empty and
// CR-only lines, unclosed quotes, leading spaces and lines far longer than a read block. The
// same seed always gives the same lines.
class RandomLog {
 public:
  explicit RandomLog(uint32_t seed) : rng_(seed) {}

  // `count` lines, each with its line end, except that the last one sometimes has none. Each
  // call picks one line-end style for its lines: LF, CR LF or a mix.
  std::vector<std::string> Lines(int count) {
    const size_t style = Below(3);
    const size_t giant = OneIn(2) ? Below(count) : count;  // one line longer than 4096 bytes
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
      std::string line = i == static_cast<int>(giant) ? Combined(Filler(5000 + Below(4000))) : Line();
      line += style == 0 || (style == 2 && OneIn(2)) ? "\n" : "\r\n";
      lines.push_back(std::move(line));
    }
    if (!lines.empty() && OneIn(3)) {
      std::string& last = lines.back();
      last.erase(last.find_last_not_of("\r\n") + 1);
    }
    return lines;
  }

  std::string Text(int count) {
    std::string text;
    for (const std::string& line : Lines(count)) text += line;
    return text;
  }

  // One combined-format line for `url`, with a random client, day, referer and user agent.
  std::string Combined(const std::string& url) {
    static const char* const kIps[] = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "192.168.7.77",
                                       "::1",      "8.8.8.8",  "10.0.0.10"};
    static const char* const kDays[] = {"01/Nov/2008", "02/Oct/2008", "10/Oct/2000",
                                        "31/Dec/2009"};
    static const char* const kStatuses[] = {"200", "200", "404", "304", "-", "abc",
                                            "99999999999"};
    static const char* const kSizes[] = {"1234", "-", "-5", "0", "512", "123456789012"};
    std::string line = Pick(kIps);
    line += OneIn(20) ? "  - - [" : " - - [";  // a double space shifts every later field
    line += Pick(kDays);
    line += ":13:55:36 +0400] \"";
    line += OneIn(25) ? "GET " + url : OneIn(30) ? std::string("-") : "GET " + url + " HTTP/1.1";
    line += "\" ";
    line += Pick(kStatuses);
    line += ' ';
    line += Pick(kSizes);
    if (OneIn(12)) return line;  // common format: no referer, no user agent
    line += " \"" + Referer() + "\" \"" + Agent() + "\"";
    if (OneIn(20)) line += ' ';
    return line;
  }

  // One well-formed request, for writing in any server's log format. Its texts hold nothing a
  // format would have to escape or that the combined parser reads differently (no quote,
  // bracket, backslash, '+' in the agent, blank in the URL or referer), and "-" stands for a
  // missing referer or agent.
  struct Request {
    std::string ip, day, method, path, query;  // day: dd/Mon/yyyy; query without its '?'
    int year = 0, month = 0, day_of_month = 0;
    int status = 200;
    int64_t bytes = 0;
    std::string referer, agent;
    int hour = 13;  // of the time 13:55:36, as each format writes it
  };
  Request NextRequest() {
    static const char* const kIps[] = {"10.0.0.1", "10.0.0.2", "192.168.7.77", "::1", "8.8.8.8"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static const char* const kMethods[] = {"GET", "GET", "POST", "HEAD"};
    static const int kStatuses[] = {200, 200, 200, 304, 404, 301, 500};
    Request request;
    request.ip = Pick(kIps);
    request.year = 2000 + static_cast<int>(Below(12));
    request.month = 1 + static_cast<int>(Below(12));
    request.day_of_month = 1 + static_cast<int>(Below(28));
    char day[32];  // room for any int the compiler cannot rule out
    std::snprintf(day, sizeof day, "%02d/%s/%04d", request.day_of_month,
                  kMonths[request.month - 1], request.year);
    request.day = day;
    request.method = Pick(kMethods);
    std::string url;
    do {
      url = Url();
    } while (url.find(' ') != std::string::npos || url.back() == '?');
    const size_t question = url.find('?');
    request.path = url.substr(0, question);
    if (question != std::string::npos) request.query = url.substr(question + 1);
    request.status = kStatuses[Below(7)];
    request.bytes = OneIn(5) ? 0 : static_cast<int64_t>(Below(100000));
    auto clean = [](const std::string& text, const char* forbidden) {
      return text.empty() || text.find_first_of(forbidden) != std::string::npos ? std::string("-")
                                                                                 : text;
    };
    request.referer = clean(Referer(), " \"[]\\");
    request.agent = clean(Agent(), "\"[]\\+");
    return request;
  }

 private:
  size_t Below(size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
  bool OneIn(size_t n) { return Below(n) == 0; }
  template <size_t N>
  const char* Pick(const char* const (&pool)[N]) { return pool[Below(N)]; }

  std::string Line() {
    switch (Below(40)) {
      case 0: return "";
      case 1: return "\r";
      case 2: return Garbage();
      case 3: return " " + Combined(Url());  // a first field that is empty: skipped
      default: break;
    }
    std::string line = Combined(Url());
    if (OneIn(15)) line.insert(Below(line.size() + 1), 1, '\0');
    if (OneIn(15)) line.resize(Below(line.size() + 1));  // often leaves a quote open
    return line;
  }

  std::string Url() {
    static const char* const kUrls[] = {
        "/",          "/index.html",   "/Index.html",        "/a.HTM",     "/img/logo.gif",
        "/news.php?id=7", "/files/x.zip", "/doc.txt?",     "/dir/",      "/path with space.html",
        "/sub.dir/page", "/ru/\xEF\xF0\xE8\xE2\xE5\xF2.html"};
    if (OneIn(25)) return Filler(100 + Below(500));
    return Pick(kUrls);
  }

  std::string Filler(size_t length) {
    std::string url = "/long/";
    while (url.size() < length) url += static_cast<char>('a' + Below(26));
    return url + (OneIn(2) ? ".html" : ".gif");
  }

  std::string Garbage() {
    static const char kBytes[] = " \"[]\t\r\0abcXYZ-/.:\xC0\xFF";
    std::string line;
    for (size_t n = Below(60); n > 0; --n) line += kBytes[Below(sizeof(kBytes) - 1)];
    return line;
  }

  std::string Agent() {
    static const char* const kPeople[] = {"Mozilla/5.0 (X11; Linux x86_64)",
                                          "Mozilla/4.08 [en] (Win98)", "Opera/9.80", "-", "",
                                          "googlebot-lookalike (lower case is no robot)"};
    static const char* const kRobots[] = {
        "Googlebot/2.1 (+http://www.google.com/bot.html)", "Mozilla/5.0 (compatible; YandexBot/3.0)",
        "StackRambler/2.0 (MSIE incompatible)", "Aport", "WebAlta Crawler/2.0",
        "Mozilla (compatible; www.webalta.net)", "WebAlta Googlebot"};
    return OneIn(6) ? Pick(kRobots) : Pick(kPeople);
  }

  std::string Referer() {
    static const char* const kSites[] = {"http://example.com/links.html", "http://Example.com",
                                         "https://forum.example.org:8080/t?id=1",
                                         "no scheme here", "http://example.com/other.html"};
    const size_t kind = Below(10);
    if (kind < 3) return "-";
    if (kind == 3) return "";
    if (kind == 4) return Pick(kSites);
    return SearchReferer();
  }

  std::string SearchReferer() {
    static const char* const kWithPhrase[] = {
        "http://www.google.ru/search?hl=ru&q=",       "http://google.com/search?q=",
        "http://yandex.ru/yandsearch?text=",          "http://www.yandex.ru/yandsearch?lr=213&text=",
        "http://www.rambler.ru/srch?words=",          "http://rambler.ru/srch?set=top100&words=",
        "http://go.mail.ru/search?q=",                "http://sm.aport.ru/scripts/template.dll?r=",
        "http://webalta.ru/search?q=",                "http://www.webalta.ru/search?q="};
    static const char* const kWithout[] = {"http://www.google.com/", "http://yandex.ru/",
                                           "http://www.rambler.ru/", "http://go.mail.ru/",
                                           "http://sm.aport.ru/", "http://webalta.ru/"};
    if (OneIn(8)) return Pick(kWithout);
    std::string referer = Pick(kWithPhrase) + Encode(Phrase());
    if (OneIn(6)) referer += '+';
    if (OneIn(4)) referer += "&ie=utf-8";
    return referer;
  }

  // A phrase from a small pool, so that each recurs many times, spelt in a random letter case.
  std::string Phrase() {
    static const char* const kPhrases[] = {
        "weather", "foo bar", "Hitsieve", "cheap flights moscow", "\xEF\xEE\xE3\xEE\xE4\xE0",
        "\xEA\xF3\xEF\xE8\xF2\xFC \xF1\xEB\xEE\xED\xE0", "", " spaced ", "a", "\xB8\xEB\xEA\xE0"};
    std::string phrase = Pick(kPhrases);
    const size_t style = Below(4);  // as is, upper, lower, mixed
    if (style == 0) return phrase;
    for (char& c : phrase) {
      if (style == 3 && OneIn(2)) continue;
      c = style == 2 ? Lower(c) : Upper(c);
    }
    return phrase;
  }

  static char Upper(char c) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z') return static_cast<char>(b - 0x20);
    if (b >= 0xE0) return static_cast<char>(b - 0x20);
    return b == 0xB8 ? '\xA8' : c;
  }
  static char Lower(char c) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 'A' && b <= 'Z') return static_cast<char>(b + 0x20);
    if (b >= 0xC0 && b <= 0xDF) return static_cast<char>(b + 0x20);
    return b == 0xA8 ? '\xB8' : c;
  }

  std::string Encode(const std::string& phrase) {
    std::string out;
    for (const char c : phrase) {
      const auto b = static_cast<unsigned char>(c);
      if ((b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z')) {
        out += c;
      } else if (b == ' ' && OneIn(2)) {
        out += '+';
      } else {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", b);
        out += hex;
      }
    }
    return out;
  }

  std::mt19937 rng_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_TESTS_ENGINE_RANDOM_LOG_H_
