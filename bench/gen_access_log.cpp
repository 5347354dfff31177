// gen_access_log: writes a synthetic access log in the NCSA combined format, for the parsing
// benchmark and the bundled sample logs. The output depends only on the options: the same
// seed gives the same bytes on every machine (own PRNG, no std distributions).
//
//   gen_access_log [--lines N] [--seed S] [--days D] [--start dd/Mon/yyyy] [--crlf] [--gzip]
//                  [--profile default|site] [-o FILE]
//
// The default profile is small and dense with edge cases (the bundled samples come from it; its
// bytes must not change). The site profile imitates a month of a busy site for the speed
// comparison: many addresses, agents, pages, images and phrases; its days default to 30.
//
// Lines are spread evenly over D days from the start date, in time order. The default start,
// 28/Oct/2008, with several days crosses a month boundary, so the byte order of the day keys
// differs from the calendar order. Self-contained: needs only zlib and the standard library.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// splitmix64: small, fast, and the same sequence everywhere.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }
  // True with probability `per_mille` / 1000.
  bool Chance(unsigned per_mille) { return Next() % 1000 < per_mille; }
  // Favours small indices, like the popularity of pages and visitors.
  size_t Skewed(size_t n) { return Below(Below(n) + 1); }
  template <class C>
  const auto& Pick(const C& items) { return items[Below(std::size(items))]; }

 private:
  uint64_t state_;
};

// ---- Text: phrases are written here in UTF-8 and re-encoded per engine. ----

std::u32string DecodeUtf8(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = s[i];
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    out.push_back(cp);
    i += extra + 1;
  }
  return out;
}

std::string EncodeUtf8(std::u32string_view s) {
  std::string out;
  for (char32_t cp : s) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

enum class Charset { kUtf8, kCp1251, kKoi8r };

// KOI8-R puts the small letters at C0..DF in this order, the capitals 32 higher.
constexpr std::string_view kKoi8Order = "юабцдефгхийклмнопярстужвьызшэщчъ";

unsigned char CyrillicByte(char32_t cp, Charset cs) {
  static const std::u32string koi_order = DecodeUtf8(kKoi8Order);
  bool upper = (cp >= 0x410 && cp <= 0x42F) || cp == 0x401;
  char32_t lower = cp == 0x401 ? 0x451 : upper ? cp + 0x20 : cp;
  if (cs == Charset::kCp1251) {
    if (lower == 0x451) return upper ? 0xA8 : 0xB8;
    return static_cast<unsigned char>(0xC0 + (cp - 0x410));
  }
  if (lower == 0x451) return upper ? 0xB3 : 0xA3;
  size_t pos = koi_order.find(lower);
  return static_cast<unsigned char>((upper ? 0xE0 : 0xC0) + pos);
}

std::string Encode(std::u32string_view s, Charset cs) {
  if (cs == Charset::kUtf8) return EncodeUtf8(s);
  std::string out;
  for (char32_t cp : s) {
    bool cyrillic = (cp >= 0x410 && cp <= 0x44F) || cp == 0x401 || cp == 0x451;
    out += cp < 0x80 ? static_cast<char>(cp) : cyrillic ? static_cast<char>(CyrillicByte(cp, cs)) : '?';
  }
  return out;
}

char32_t ToUpper(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 32;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  return c == 0x451 ? 0x401 : c;
}
char32_t ToLower(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  return c == 0x401 ? 0x451 : c;
}

// Visitors type in every letter case; the phrase statistics fold them together.
std::u32string VaryCase(std::u32string s, Rng& rng) {
  switch (rng.Below(10)) {
    case 0: case 1: for (auto& c : s) c = ToLower(c); break;
    case 2: if (!s.empty()) s[0] = ToUpper(s[0]); break;
    case 3: for (auto& c : s) c = ToUpper(c); break;
    case 4: for (size_t i = 0; i < s.size(); ++i) if (i == 0 || s[i - 1] == U' ') s[i] = ToUpper(s[i]); break;
    default: break;
  }
  return s;
}

// Percent-encodes every byte outside the unreserved set; spaces as "+" or "%20".
std::string PercentEncode(std::string_view bytes, bool plus_for_space, bool lower_hex = false) {
  const char* hex = lower_hex ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else if (c == ' ' && plus_for_space) {
      out += '+';
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

constexpr const char* kRussianPhrases[] = {
    "анализ логов", "статистика сайта", "счётчик посещений", "веб аналитика",
    "программа для анализа логов apache", "как узнать посещаемость сайта", "поисковые запросы",
    "ёлка новогодняя", "скачать бесплатно", "лог файлы сервера", "посещаемость", "рейтинг сайтов",
    "Яндекс директ", "раскрутка сайта в Москве", "анализатор логов", "что такое реферер",
    "подсчёт уникальных посетителей", "журнал доступа веб сервера", "ЦЕНЫ на хостинг",
    "объявления", "щука", "эхо съезд жюри", "отчёт по поисковым роботам",
};
constexpr const char* kEnglishPhrases[] = {
    "web log analyzer", "Apache access log", "site statistics", "free hit counter",
    "log parser", "referer spam", "combined log format", "how to count visitors", "gzip logs",
    "Googlebot crawl rate", "download", "php", "SEO tools",
};

// The words of a phrase list, each once, in list order.
std::vector<std::u32string> WordsOf(const auto& phrases) {
  std::vector<std::u32string> words;
  for (const char* phrase : phrases) {
    std::u32string text = DecodeUtf8(phrase);
    for (size_t start = 0; start < text.size();) {
      size_t end = std::min(text.find(U' ', start), text.size());
      std::u32string word = text.substr(start, end - start);
      if (std::find(words.begin(), words.end(), word) == words.end()) words.push_back(word);
      start = end + 1;
    }
  }
  return words;
}

// 1 to 4 words of one language, popular words more often: thousands of distinct phrases.
std::u32string CombinedPhrase(Rng& rng) {
  static const std::vector<std::u32string> russian = WordsOf(kRussianPhrases);
  static const std::vector<std::u32string> english = WordsOf(kEnglishPhrases);
  const auto& words = rng.Chance(650) ? russian : english;
  unsigned roll = static_cast<unsigned>(rng.Below(100));
  int count = roll < 25 ? 1 : roll < 65 ? 2 : roll < 90 ? 3 : 4;
  std::u32string phrase;
  for (int i = 0; i < count; ++i) phrase += (i ? U" " : U"") + words[rng.Skewed(words.size())];
  return phrase;
}

// Set once before any line is written: the site profile draws phrases from combined words.
bool g_combined_phrases = false;

// A phrase as the visitor typed it, in Unicode; sometimes empty or with a trailing space.
std::u32string PickPhrase(Rng& rng) {
  if (rng.Chance(15)) return U"";
  std::u32string p = g_combined_phrases ? CombinedPhrase(rng)
                     : DecodeUtf8(rng.Chance(650) ? rng.Pick(kRussianPhrases) : rng.Pick(kEnglishPhrases));
  p = VaryCase(std::move(p), rng);
  if (rng.Chance(60)) p += U' ';
  return p;
}

std::string EncodedPhrase(Rng& rng, Charset cs) {
  return PercentEncode(Encode(PickPhrase(rng), cs), !rng.Chance(150), rng.Chance(100));
}

// ---- Referers ----

constexpr std::string_view kSite = "http://www.hitsieve-demo.ru";

std::string GoogleReferer(Rng& rng) {
  static const char* hosts[] = {"http://www.google.ru", "http://www.google.com", "http://google.ru",
                                "http://www.google.com.ua", "http://www.google.by"};
  std::string host = rng.Pick(hosts);
  if (rng.Chance(80)) {  // a redirect page: a search, but no phrase
    return host + "/url?sa=t&source=web&ct=res&cd=" + std::to_string(1 + rng.Below(10)) +
           "&url=" + PercentEncode(std::string(kSite) + "/", false) + "&ei=Xk3" +
           std::to_string(rng.Below(100000)) + "&usg=AFQjCN";
  }
  std::string q = EncodedPhrase(rng, Charset::kUtf8);
  std::string name = rng.Chance(30) ? "Q" : "q";
  switch (rng.Below(4)) {
    case 0: return host + "/search?hl=ru&" + name + "=" + q + "&lr=&aq=f";
    case 1: return host + "/search?" + name + "=" + q + "&ie=utf-8&oe=utf-8&rls=org.mozilla:ru:official";
    case 2: return host + "/search?hl=ru&" + name + "=" + q + "&start=" + std::to_string(10 * (1 + rng.Below(5))) + "&sa=N";
    default: return host + "/search?hl=ru&" + name + "=" + q;
  }
}

std::string YandexReferer(Rng& rng) {
  std::string host = rng.Chance(500) ? "http://yandex.ru" : "http://www.yandex.ru";
  if (rng.Chance(40)) return host + "/msearch?s=all&text=" + EncodedPhrase(rng, Charset::kUtf8);
  if (rng.Chance(300)) {
    // Older result pages: the query string is carried percent-encoded inside qs=, and the
    // phrase inside it is percent-encoded KOI8-R, so it is decoded twice.
    std::string inner = "rpt=rad&text=" + EncodedPhrase(rng, Charset::kKoi8r);
    return host + "/yandpage?&q=" + std::to_string(rng.Next() % 1000000000) +
           "&p=" + std::to_string(1 + rng.Below(5)) + "&ag=d&qs=" + PercentEncode(inner, false);
  }
  std::string text = EncodedPhrase(rng, Charset::kUtf8);
  if (rng.Chance(400)) return host + "/yandsearch?text=" + text + "&lr=213";
  return host + "/yandsearch?clid=" + std::to_string(9000 + rng.Below(900)) + "&text=" + text +
         "&lr=" + std::to_string(1 + rng.Below(300));
}

std::string RamblerReferer(Rng& rng) {
  std::string host = rng.Chance(300) ? "http://rambler.ru" : "http://www.rambler.ru";
  switch (rng.Below(6)) {
    case 0: return host + "/srch?set=top100&words=" + EncodedPhrase(rng, Charset::kKoi8r);
    case 1: return "http://www.rambler.ru/counter_search?cat=" + std::to_string(rng.Below(400)) +
                   "&words=" + EncodedPhrase(rng, Charset::kKoi8r);
    case 2: return host + "/srch?set=www&oe=1251&words=" + EncodedPhrase(rng, Charset::kCp1251);
    default: return host + "/srch?words=" + EncodedPhrase(rng, Charset::kCp1251) + "&where=1";
  }
}

std::string SearchReferer(Rng& rng) {
  switch (rng.Below(16)) {
    case 0: case 1: case 2: case 3: case 4: return GoogleReferer(rng);
    case 5: case 6: case 7: case 8: case 9: return YandexReferer(rng);
    case 10: case 11: return RamblerReferer(rng);
    case 12: return std::string(rng.Chance(800) ? "http://go.mail.ru" : "http://www.go.mail.ru") +
                    "/search?" + (rng.Chance(500) ? "fr=main&" : "") + "q=" +
                    EncodedPhrase(rng, Charset::kCp1251) + (rng.Chance(500) ? "&rch=e" : "");
    case 13: return std::string("http://sm.aport.ru/") +
                    (rng.Chance(500) ? "search?r=" : "scripts/template.dll?That=std&r=") +
                    EncodedPhrase(rng, Charset::kCp1251);
    default: return std::string(rng.Chance(600) ? "http://webalta.ru" : "http://www.webalta.ru") +
                    "/search?q=" + EncodedPhrase(rng, Charset::kCp1251);
  }
}

constexpr const char* kExternalReferers[] = {
    "http://forum.example.com/viewtopic.php?t=1834", "http://blog.example.org/2008/10/logs/",
    "http://www.links-catalog.ru/internet/stat/", "http://news.rambler.ru/112233/",
    "http://images.google.ru/imgres?imgurl=x", "http://vkontakte.ru/id12345",
    "http://www.liveinternet.ru/rating/", "https://secure.example.net/account?ref=top",
    "http://webmasters.example.ru/articles/stats.html", "http://localhost/",
};

// ---- Pages, visitors, crawlers ----

constexpr const char* kPages[] = {
    "/", "/index.php", "/news/", "/about.html", "/articles/log-analysis.html",
    "/articles/referers.htm", "/index.php?id=5", "/download/", "/download/hitsieve.zip",
    "/docs/readme.txt", "/shop/item.asp?id=17", "/app/view.jsp", "/contacts", "/news/2008/10/",
    "/a.html", "/a.html?x=1", "/INDEX.HTML", "/search.php?q=test", "/index.php?", "/faq.html",
    "/articles/robots.html", "/news/archive.php", "/x.tar.gz", "/sitemap.xml", "/guestbook.php",
};
constexpr const char* kAssets[] = {"/img/logo.gif", "/img/photo.png", "/css/style.css",
                                   "/js/main.js", "/favicon.ico", "/img/bg.jpg"};

constexpr const char* kBrowsers[] = {
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)",
    "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; .NET CLR 2.0.50727)",
    "Mozilla/5.0 (Windows; U; Windows NT 5.1; ru; rv:1.9.0.3) Gecko/2008092417 Firefox/3.0.3",
    "Mozilla/5.0 (Windows; U; Windows NT 6.0; en-US; rv:1.8.1.17) Gecko/20080829 Firefox/2.0.0.17",
    "Opera/9.60 (Windows NT 5.1; U; ru) Presto/2.1.1",
    "Opera/9.52 (X11; Linux i686; U; en)",
    "Mozilla/5.0 (Macintosh; U; Intel Mac OS X 10_5_5; ru-ru) AppleWebKit/525.26.2 (KHTML, like Gecko) Version/3.2 Safari/525.26.12",
    "Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US) AppleWebKit/525.19 (KHTML, like Gecko) Chrome/0.2.153.1 Safari/525.19",
    "Mozilla/5.0 (X11; U; Linux i686; ru; rv:1.9.0.1) Gecko/2008072820 Firefox/3.0.1",
    "Mozilla/4.08 [en] (Win98; I)",
    "Wget/1.11.4",
    "-",
};

struct Crawler {
  const char* agent;
  const char* net;  // first two octets of its addresses
};
constexpr Crawler kCrawlers[] = {
    {"Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)", "66.249"},
    {"Googlebot-Image/1.0", "66.249"},
    {"Yandex/1.01.001 (compatible; Win16; I)", "77.88"},
    {"Mozilla/5.0 (compatible; YandexBlogs/0.99; robot; B)", "213.180"},
    {"StackRambler/2.0 (MSIE incompatible)", "81.19"},
    {"Aport", "194.67"},
    {"WebAlta Crawler/2.0 (http://www.webalta.net/ru/about_webmaster.html) (Windows; U; Windows NT 5.1; ru-RU)", "88.212"},
    {"Mozilla/4.0 (compatible; http://www.webalta.net/ru/about_webmaster.html)", "88.212"},
};

struct Visitor {
  std::string ip;
  const char* agent;
};

std::string RandomIp(Rng& rng) {
  return std::to_string(1 + rng.Below(222)) + "." + std::to_string(rng.Below(256)) + "." +
         std::to_string(rng.Below(256)) + "." + std::to_string(1 + rng.Below(254));
}

std::vector<Visitor> MakeVisitors(Rng& rng, size_t count) {
  std::vector<Visitor> visitors;
  for (size_t i = 0; i < count; ++i) {
    // Some addresses are shared by several browsers (offices behind one gateway).
    std::string ip = (i > 0 && rng.Chance(100)) ? visitors[rng.Below(i)].ip : RandomIp(rng);
    visitors.push_back({ip, rng.Pick(kBrowsers)});
  }
  return visitors;
}

// ---- Calendar: only to name the days; the engine never converts them back. ----

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct Date {
  int day = 28, month = 9, year = 2008;  // month 0-based
  void Advance() {
    static const int kLengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int length = kLengths[month] + (month == 1 && leap ? 1 : 0);
    if (++day > length) {
      day = 1;
      if (++month == 12) month = 0, ++year;
    }
  }
  std::string Text() const {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d/%s/%04d", day, kMonths[month], year);
    return buf;
  }
};

bool ParseDate(const char* text, Date& date) {
  char mon[4] = {};
  if (std::sscanf(text, "%2d/%3s/%4d", &date.day, mon, &date.year) != 3) return false;
  for (int m = 0; m < 12; ++m)
    if (std::strcmp(mon, kMonths[m]) == 0) return date.month = m, date.day >= 1 && date.day <= 31;
  return false;
}

// ---- Output ----

// Writes to a plain file, standard output, or through zlib; owns the handle.
class Output {
 public:
  Output(const std::string& path, bool gzip) {
    if (gzip) {
      gz_ = path.empty() ? gzdopen(fileno(stdout), "wb") : gzopen(path.c_str(), "wb");
      ok_ = gz_ != nullptr;
    } else {
      file_ = path.empty() ? stdout : std::fopen(path.c_str(), "wb");
      ok_ = file_ != nullptr;
    }
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() { Close(); }

  bool ok() const { return ok_; }
  void Write(const std::string& data) {
    if (!ok_ || data.empty()) return;
    if (gz_) ok_ = gzwrite(gz_, data.data(), static_cast<unsigned>(data.size())) > 0;
    else ok_ = std::fwrite(data.data(), 1, data.size(), file_) == data.size();
  }
  bool Close() {
    if (gz_) ok_ = gzclose(gz_) == Z_OK && ok_, gz_ = nullptr;
    if (file_) ok_ = (file_ == stdout ? std::fflush(file_) : std::fclose(file_)) == 0 && ok_, file_ = nullptr;
    return ok_;
  }

 private:
  gzFile gz_ = nullptr;
  FILE* file_ = nullptr;
  bool ok_ = false;
};

// ---- Lines ----

struct Request {
  std::string ip, time, method = "GET", url, protocol = "HTTP/1.1", referer = "-", agent;
  int status = 200;
  std::string size;
};

std::string SizeOf(std::string_view url, Rng& rng) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a: a page keeps roughly its size
  for (char c : url) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  uint64_t base = url.find(".zip") != std::string_view::npos ? 2400000 : 800 + h % 40000;
  return std::to_string(base + rng.Below(200));
}

void SetStatus(Request& r, Rng& rng) {
  unsigned roll = static_cast<unsigned>(rng.Below(1000));
  r.status = roll < 80 ? 304 : roll < 120 ? 404 : roll < 125 ? 500 : roll < 135 ? 301 : 200;
  if (r.url.find("/x.tar.gz") != std::string::npos || r.url == "/sitemap.xml") r.status = 404;
  if (r.status == 304 || (r.status != 200 && rng.Chance(300))) r.size = "-";
  else r.size = r.status == 200 ? SizeOf(r.url, rng) : std::to_string(200 + rng.Below(300));
}

std::string Format(const Request& r) {
  return r.ip + " - - [" + r.time + " +0300] \"" + r.method + ' ' + r.url + ' ' + r.protocol + "\" " +
         std::to_string(r.status) + ' ' + r.size + " \"" + r.referer + "\" \"" + r.agent + '"';
}

// A line a real log also has now and then: damaged, blank, or of another shape.
std::string OddLine(const Request& r, Rng& rng) {
  std::string line = Format(r);
  switch (rng.Below(6)) {
    case 0: return "";
    case 1: return std::string(1 + rng.Below(4), ' ');
    case 2: return line.substr(0, 1 + rng.Below(line.size() - 1));  // cut by a full disk
    case 3: {  // request line never closed
      std::string bad = line;
      bad.erase(bad.find("\" "), 1);
      return bad;
    }
    case 4: return r.ip + " - - [" + r.time + " +0300] \"GET " + r.url + " HTTP/1.0\" 200 " + SizeOf(r.url, rng);
    default: return r.ip + " - - [" + r.time + " +0300] \"-\" 408 -";
  }
}

class LogWriter {
 public:
  LogWriter(Rng& rng, size_t lines) : rng_(rng), visitors_(MakeVisitors(rng, VisitorCount(lines))) {}

  // Appends the lines of one event (a crawler hit, or a page view with its assets).
  void Event(const std::string& time, std::vector<std::string>& lines) {
    Request r;
    r.time = time;
    if (rng_.Chance(110)) return CrawlerHit(r, lines);
    const Visitor& v = visitors_[rng_.Skewed(visitors_.size())];
    r.ip = v.ip;
    r.agent = v.agent;
    r.url = rng_.Chance(2) ? "/my page.html" : kPages[rng_.Skewed(std::size(kPages))];
    if (rng_.Chance(20)) r.method = "POST";
    if (rng_.Chance(100)) r.protocol = "HTTP/1.0";
    unsigned roll = static_cast<unsigned>(rng_.Below(1000));
    if (roll < 300) r.referer = SearchReferer(rng_);
    else if (roll < 500) r.referer = std::string(kSite) + kPages[rng_.Below(std::size(kPages))];
    else if (roll < 580) r.referer = rng_.Pick(kExternalReferers);
    SetStatus(r, rng_);
    if (rng_.Chance(3)) return lines.push_back(OddLine(r, rng_));
    lines.push_back(Format(r));
    std::string page = std::string(kSite) + r.url;
    for (size_t n = rng_.Below(4); n > 0; --n) {  // the page's images, styles, scripts
      Request a = r;
      a.method = "GET";
      a.url = rng_.Pick(kAssets);
      a.referer = page;
      SetStatus(a, rng_);
      lines.push_back(Format(a));
    }
  }

 private:
  static size_t VisitorCount(size_t lines) {
    size_t n = lines / 20;
    return n < 200 ? 200 : n > 50000 ? 50000 : n;
  }

  void CrawlerHit(Request& r, std::vector<std::string>& lines) {
    const Crawler& c = rng_.Pick(kCrawlers);
    r.agent = c.agent;
    r.ip = std::string(c.net) + "." + std::to_string(rng_.Below(256)) + "." + std::to_string(1 + rng_.Below(254));
    unsigned roll = static_cast<unsigned>(rng_.Below(10));
    r.url = roll == 0 ? "/robots.txt" : roll == 1 ? rng_.Pick(kAssets) : kPages[rng_.Below(std::size(kPages))];
    if (rng_.Chance(50)) r.method = "HEAD";
    if (rng_.Chance(30)) r.referer = SearchReferer(rng_);  // must not count as a search
    SetStatus(r, rng_);
    lines.push_back(Format(r));
  }

  Rng& rng_;
  std::vector<Visitor> visitors_;
};

// ---- The site profile: a month of a busy site, for the speed comparison ----
// About 220 bytes a line; per million lines ~60,000 client addresses, ~2,000 user agents, ~8%
// crawler requests, ~20% search referers, about half the requests for images, thousands of pages.

void AddAgents(std::vector<std::string>& out, std::string_view head, const auto& versions,
               const auto& platforms, const auto& languages, std::string_view tail_format) {
  for (const char* v : versions)
    for (const char* p : platforms)
      for (const char* l : languages) {
        std::string agent(head);
        for (char c : tail_format) {  // P platform, L language, V version
          if (c == 'P') agent += p;
          else if (c == 'L') agent += l;
          else if (c == 'V') agent += v;
          else agent += c;
        }
        out.push_back(agent);
      }
}

// Browser agents synthesised from families x versions x platforms x languages: ~2,000 of them.
std::vector<std::string> SiteAgents() {
  static const char* gecko_platforms[] = {
      "Windows; U; Windows NT 5.1", "Windows; U; Windows NT 6.0", "Windows; U; Windows NT 6.1",
      "X11; U; Linux i686", "X11; U; Linux x86_64", "Macintosh; U; Intel Mac OS X 10.5"};
  static const char* gecko_languages[] = {"ru", "en-US", "uk", "de", "ru-RU"};
  std::vector<std::string> firefox;
  for (int i = 1; i <= 20; ++i) firefox.push_back("1.8.1." + std::to_string(i) + ") Gecko/20080201 Firefox/2.0.0." + std::to_string(i));
  for (int i = 0; i <= 15; ++i) firefox.push_back("1.9.0." + std::to_string(i) + ") Gecko/2009011913 Firefox/3.0." + std::to_string(i));
  for (int i = 0; i <= 8; ++i) firefox.push_back("1.9.1." + std::to_string(i) + ") Gecko/20090824 Firefox/3.5." + std::to_string(i));
  std::vector<const char*> firefox_versions;
  for (const auto& f : firefox) firefox_versions.push_back(f.c_str());

  static const char* ie_versions[] = {"5.5", "6.0", "7.0", "8.0"};
  static const char* windows[] = {"Windows NT 5.0", "Windows NT 5.1", "Windows NT 6.0", "Windows NT 6.1"};
  static const char* ie_extras[] = {"", "; SV1", "; .NET CLR 1.1.4322", "; .NET CLR 2.0.50727",
                                    "; .NET CLR 2.0.50727; .NET CLR 3.0.04506.30", "; InfoPath.2",
                                    "; MRA 5.1 (build 02228)", "; Trident/4.0"};
  static const char* opera_versions[] = {"9.00", "9.10", "9.20", "9.21", "9.22", "9.23", "9.24",
                                         "9.25", "9.26", "9.27", "9.50", "9.51", "9.52", "9.60",
                                         "9.61", "9.62", "9.63", "9.64", "10.00", "10.10"};
  static const char* opera_platforms[] = {"Windows NT 5.1", "Windows NT 6.0", "X11; Linux i686"};
  static const char* short_languages[] = {"ru", "en", "uk"};
  std::vector<std::string> chrome;
  for (const char* major : {"0.2.149.", "1.0.154.", "2.0.172.", "3.0.195."})
    for (int build = 20; build < 30; ++build) chrome.push_back(major + std::to_string(build));
  std::vector<const char*> chrome_versions;
  for (const auto& c : chrome) chrome_versions.push_back(c.c_str());
  static const char* chrome_windows[] = {"Windows NT 5.1", "Windows NT 6.0", "Windows NT 6.1"};
  static const char* chrome_languages[] = {"ru", "en-US"};
  static const char* safari_versions[] = {"3.1", "3.1.1", "3.1.2", "3.2", "3.2.1", "3.2.3", "4.0", "4.0.1", "4.0.2", "4.0.3"};
  static const char* macs[] = {"Intel Mac OS X 10_5_6", "Intel Mac OS X 10_5_8"};
  static const char* mac_languages[] = {"ru-ru", "en-us", "de-de"};
  static const char* one[] = {""};

  std::vector<std::string> agents;
  // The most popular first: visitors pick agents with a bias to the front.
  AddAgents(agents, "Mozilla/4.0 (compatible; MSIE ", ie_versions, windows, ie_extras, "V; PL)");
  AddAgents(agents, "Mozilla/5.0 (", firefox_versions, gecko_platforms, gecko_languages, "P; L; rv:V");
  AddAgents(agents, "Opera/9.80 (", opera_versions, opera_platforms, short_languages, "P; U; L) Presto/2.2.15 Version/V");
  AddAgents(agents, "Mozilla/5.0 (Windows; U; ", chrome_versions, chrome_windows, chrome_languages,
            "P; L) AppleWebKit/525.19 (KHTML, like Gecko) Chrome/V Safari/525.19");
  AddAgents(agents, "Mozilla/5.0 (Macintosh; U; ", safari_versions, macs, mac_languages,
            "P; L) AppleWebKit/530.19 (KHTML, like Gecko) Version/V Safari/530.19");
  AddAgents(agents, "", std::vector<const char*>{"Wget/1.11.4", "curl/7.18.2", "-", "Java/1.6.0_13"}, one, one, "V");
  return agents;
}

constexpr const char* kSlugWords[] = {
    "apache", "logs", "statistics", "visitors", "referer", "search", "robots", "hosting", "traffic",
    "counter", "rating", "moscow", "prices", "review", "update", "release", "forum", "guide",
    "server", "gzip", "report", "daily", "weekly", "news", "spring", "winter", "photo", "video"};

// A page of the site; the index decides the page, so popular indices repeat the same URL.
std::string SitePage(Rng& rng) {
  switch (rng.Below(20)) {
    case 0: case 1: return kPages[rng.Skewed(std::size(kPages))];
    case 2: case 3: case 4: case 5: case 6: case 7:
      return "/articles/" + std::to_string(rng.Skewed(4000)) + ".html";
    case 8: case 9: case 10: case 11: {
      size_t id = rng.Skewed(5000);
      char path[128];
      std::snprintf(path, sizeof path, "/news/%zu/%02zu/%s-%zu.html", 2006 + id % 3, 1 + id / 3 % 12,
                    kSlugWords[id % std::size(kSlugWords)], id);
      return path;
    }
    case 12: case 13:
      return "/catalog/item.php?id=" + std::to_string(rng.Skewed(6000)) + (rng.Chance(300) ? "&sort=price" : "");
    case 14: case 15:
      return "/forum/viewtopic.php?t=" + std::to_string(rng.Skewed(3000)) +
             (rng.Chance(400) ? "&start=" + std::to_string(20 * (1 + rng.Below(5))) : "");
    case 16: return "/tags/" + std::string(rng.Pick(kSlugWords)) + "/";
    case 17: return "/download/" + std::string(rng.Pick(kSlugWords)) + "-" + std::to_string(rng.Skewed(40)) + ".zip";
    default: return rng.Chance(500) ? "/" : "/index.php";
  }
}

// An image (or now and then a style sheet or script) that a page pulls in.
std::string SiteAsset(Rng& rng) {
  static const char* layout[] = {"/img/logo.gif", "/img/bg.jpg", "/img/menu.gif", "/img/spacer.gif",
                                 "/img/header.jpg", "/img/footer.png", "/img/arrow.gif", "/favicon.ico"};
  static const char* icons[] = {"rss", "print", "mail", "home", "search", "star", "user", "cart"};
  switch (rng.Below(16)) {
    case 0: case 1: case 9: case 10: case 11: return rng.Pick(layout);
    case 2: case 3: return "/images/news/" + std::to_string(rng.Skewed(6000)) + ".jpg";
    case 4: return "/upload/photos/" + std::to_string(2006 + rng.Below(3)) + "/" + std::to_string(rng.Skewed(20000)) + ".jpg";
    case 5: return "/i/icons/" + std::string(rng.Pick(icons)) + (rng.Chance(500) ? ".png" : "_16.gif");
    case 6: case 7: case 12: case 13: return "/articles/img/" + std::to_string(rng.Skewed(8000)) + ".png";
    case 8: case 14: return "/img/buttons/" + std::string(rng.Pick(kSlugWords)) + ".gif";
    default: return rng.Chance(500) ? "/css/style.css" : "/js/main.js";
  }
}

class SiteWriter {
 public:
  SiteWriter(Rng& rng, size_t lines) : rng_(rng), agents_(SiteAgents()) {
    // A pool this size yields about 60,000 distinct addresses per million lines.
    size_t count = std::max<size_t>(200, lines / 13);
    for (size_t i = 0; i < count; ++i) {
      std::string ip = (i > 0 && rng.Chance(100)) ? visitors_[rng.Below(i)].ip : RandomIp(rng);
      visitors_.push_back({ip, agents_[rng.Skewed(agents_.size())].c_str()});
    }
  }

  void Event(const std::string& time, std::vector<std::string>& lines) {
    Request r;
    r.time = time;
    if (rng_.Chance(175)) return CrawlerHit(r, lines);
    const Visitor& v = visitors_[rng_.Skewed(visitors_.size())];
    r.ip = v.ip;
    r.agent = v.agent;
    r.url = SitePage(rng_);
    if (rng_.Chance(10)) r.method = "POST";
    if (rng_.Chance(50)) r.protocol = "HTTP/1.0";
    unsigned roll = static_cast<unsigned>(rng_.Below(1000));
    if (roll < 520) r.referer = SearchReferer(rng_);
    else if (roll < 740) r.referer = std::string(kSite) + SitePage(rng_);
    else if (roll < 800) r.referer = rng_.Pick(kExternalReferers);
    SetStatus(r, rng_);
    if (rng_.Chance(2)) return lines.push_back(OddLine(r, rng_));
    lines.push_back(Format(r));
    std::string page = std::string(kSite) + r.url;
    for (size_t n = rng_.Below(3) + (rng_.Chance(400) ? 1 : 0); n > 0; --n) {
      Request a = r;
      a.method = "GET";
      a.url = SiteAsset(rng_);
      a.referer = page;
      SetStatus(a, rng_);
      lines.push_back(Format(a));
    }
  }

 private:
  void CrawlerHit(Request& r, std::vector<std::string>& lines) {
    const Crawler& c = rng_.Pick(kCrawlers);
    r.agent = c.agent;
    r.ip = std::string(c.net) + "." + std::to_string(rng_.Below(4)) + "." + std::to_string(1 + rng_.Below(64));
    unsigned roll = static_cast<unsigned>(rng_.Below(20));
    r.url = roll == 0 ? "/robots.txt" : roll < 4 ? SiteAsset(rng_) : SitePage(rng_);
    if (rng_.Chance(50)) r.method = "HEAD";
    if (rng_.Chance(20)) r.referer = SearchReferer(rng_);  // must not count as a search
    SetStatus(r, rng_);
    lines.push_back(Format(r));
  }

  Rng& rng_;
  std::vector<std::string> agents_;  // visitors point into it; never changed after the start
  std::vector<Visitor> visitors_;
};

struct Options {
  size_t lines = 100000;
  uint64_t seed = 1;
  int days = 7;
  Date start;
  bool crlf = false;
  bool gzip = false;
  bool site = false;  // --profile site
  bool days_given = false;
  std::string output;  // empty: standard output
};

bool ParseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    bool has_value = i + 1 < argc;
    if (a == "--crlf") o.crlf = true;
    else if (a == "--gzip") o.gzip = true;
    else if (a == "--lines" && has_value) o.lines = std::strtoull(argv[++i], nullptr, 10);
    else if (a == "--seed" && has_value) o.seed = std::strtoull(argv[++i], nullptr, 10);
    else if (a == "--days" && has_value) o.days = std::atoi(argv[++i]), o.days_given = true;
    else if (a == "--profile" && has_value) {
      std::string_view p = argv[++i];
      if (p != "site" && p != "default") return false;
      o.site = p == "site";
    }
    else if (a == "--start" && has_value) { if (!ParseDate(argv[++i], o.start)) return false; }
    else if (a == "-o" && has_value) o.output = argv[++i];
    else return false;
  }
  if (o.site && !o.days_given) o.days = 30;
  return o.days >= 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: gen_access_log [--lines N] [--seed S] [--days D] [--start dd/Mon/yyyy]\n"
                 "                      [--profile default|site] [--crlf] [--gzip] [-o FILE]\n");
    return 2;
  }
  Output out(o.output, o.gzip);
  if (!out.ok()) {
    std::fprintf(stderr, "gen_access_log: cannot open %s\n", o.output.c_str());
    return 1;
  }
  Rng rng(o.seed);
  g_combined_phrases = o.site;
  std::optional<LogWriter> classic;
  std::optional<SiteWriter> site;
  if (o.site) site.emplace(rng, o.lines);
  else classic.emplace(rng, o.lines);
  const char* eol = o.crlf ? "\r\n" : "\n";
  Date date = o.start;
  int day_index = 0;
  std::string buffer, time;
  std::vector<std::string> lines;
  for (size_t written = 0; written < o.lines;) {
    // Lines are spread evenly over the days, in time order within each day.
    int day = static_cast<int>(written * o.days / o.lines);
    for (; day_index < day; ++day_index) date.Advance();
    size_t day_first = (static_cast<size_t>(day) * o.lines + o.days - 1) / o.days;
    size_t day_lines = (static_cast<size_t>(day + 1) * o.lines + o.days - 1) / o.days - day_first;
    auto second = static_cast<unsigned>((written - day_first) * 86400 / (day_lines ? day_lines : 1));
    char clock[32];
    std::snprintf(clock, sizeof clock, ":%02u:%02u:%02u", second / 3600, second / 60 % 60, second % 60);
    time = date.Text() + clock;
    lines.clear();
    if (site) site->Event(time, lines);
    else classic->Event(time, lines);
    for (size_t k = 0; k < lines.size() && written < o.lines; ++k, ++written) {
      buffer += lines[k];
      buffer += eol;
    }
    if (buffer.size() >= (1 << 20)) out.Write(buffer), buffer.clear();
  }
  out.Write(buffer);
  if (!out.Close()) {
    std::fprintf(stderr, "gen_access_log: write error on %s\n", o.output.empty() ? "stdout" : o.output.c_str());
    return 1;
  }
  return 0;
}
