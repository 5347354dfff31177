#include "engine/dimensions/country_database.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/temp_dir.h"

namespace hitsieve {
namespace {

namespace fs = std::filesystem;

const std::string kScripts = std::string(HITSIEVE_SOURCE_DIR) + "/tests/data/";
const std::string kPinnedDb = std::string(HITSIEVE_SOURCE_DIR) +
    "/third_party/data/node_modules/@ip-location-db/geo-whois-asn-country-mmdb/" +
    kDefaultCountryDbName;

// Named for what it holds, so that a folder left by a killed run tells where it came from.
class ScratchDir : public TempDir {
 public:
  ScratchDir() : TempDir("hitsieve-geo") {}
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A test database written by tests/data/make-country-db.pl; shape "code", "iso" or "none".
std::string MakeDb(const ScratchDir& dir, const std::string& shape, int ip_version) {
  const std::string path = dir.File(shape + std::to_string(ip_version) + ".mmdb");
  const std::string command = "/usr/bin/perl '" + kScripts + "make-country-db.pl' '" + path +
                              "' " + shape + " " + std::to_string(ip_version);
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
  return path;
}

// The message of the exception the constructor throws, or "" when it opens.
std::string OpenError(const std::string& path) {
  try {
    CountryDatabase db(path);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return {};
}

// What Debian's python3-maxminddb answers for `addresses`: the build id line, then a code or
// "" per address.
std::vector<std::string> ReferenceLookups(const ScratchDir& dir, const std::string& db,
                                          const std::vector<std::string>& addresses) {
  const std::string in = dir.File("addresses.txt");
  const std::string out = dir.File("reference.txt");
  std::ofstream list(in);
  for (const std::string& a : addresses) list << a << '\n';
  list.close();
  const std::string command = "/usr/bin/python3 '" + kScripts + "lookup-countries.py' '" + db +
                              "' '" + in + "' > '" + out + "'";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
  std::vector<std::string> lines;
  std::istringstream text(ReadAll(out));
  for (std::string line; std::getline(text, line);) lines.push_back(line == "-" ? "" : line);
  return lines;
}

// Random addresses: IPv4 anywhere, IPv6 mostly under prefixes the registries hand out, and
// some IPv4 addresses mapped into IPv6.
std::vector<std::string> RandomAddresses(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  const uint16_t prefixes[] = {0x2001, 0x2400, 0x2401, 0x2403, 0x2405, 0x2408, 0x2600, 0x2601,
                               0x2604, 0x2607, 0x2800, 0x2803, 0x2a00, 0x2a01, 0x2a02, 0x2a03,
                               0x2a05, 0x2a0e, 0x2c0f, 0x3fff};
  std::vector<std::string> out;
  char text[64];
  for (size_t i = 0; i < count; ++i) {
    const uint32_t v4 = random();
    const auto byte = [v4](int n) { return (v4 >> (24 - 8 * n)) & 0xff; };
    switch (i % 4) {
      case 0:
      case 1:
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", byte(0), byte(1), byte(2), byte(3));
        break;
      case 2:
        std::snprintf(text, sizeof text, "%x:%x:%x::%x", prefixes[random() % std::size(prefixes)],
                      static_cast<unsigned>(random() & 0xffff),
                      static_cast<unsigned>(random() & 0xffff),
                      static_cast<unsigned>(random() & 0xffff));
        break;
      default:
        std::snprintf(text, sizeof text, "::ffff:%u.%u.%u.%u", byte(0), byte(1), byte(2),
                      byte(3));
    }
    out.push_back(text);
  }
  return out;
}

class CountryDatabaseTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    for (const char* shape : {"code", "iso", "none"}) {
      dbs_[shape] = MakeDb(*dir_, shape, 6);
    }
    dbs_["v4"] = MakeDb(*dir_, "code", 4);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static ScratchDir* dir_;
  static std::map<std::string, std::string> dbs_;
};
ScratchDir* CountryDatabaseTest::dir_ = nullptr;
std::map<std::string, std::string> CountryDatabaseTest::dbs_;

TEST_F(CountryDatabaseTest, BothRecordShapesGiveTheSameCountries) {
  const std::pair<const char*, const char*> cases[] = {
      {"1.2.3.4", "DE"},          {"1.2.3.255", "DE"},     {"1.2.4.0", ""},
      {"1.2.2.255", ""},          {"5.6.7.8", "FR"},       // lower case in the file
      {"10.1.2.3", ""},           {"11.1.2.3", ""},        // not two letters; a control byte
      {"9.9.9.9", ""},            // a record without a country
      {"::ffff:1.2.3.4", "DE"},   {"::FFFF:5.6.0.1", "FR"}, {"[::ffff:200.1.2.3]", "BR"},
      {"2001:db8::1", "JP"},      {"2001:DB8:FFFF::", "JP"}, {"2001:db8:1::7", "CA"},
      {"[2a00:1450:4001::1]", "IE"}, {"2a00:1451::1", ""}, {"::1", ""},
      {"0.0.0.0", ""},            {"255.255.255.255", ""},
  };
  for (const char* shape : {"code", "iso"}) {
    const CountryDatabase db(dbs_[shape]);
    EXPECT_EQ(db.BuildId().rfind(std::string("Test-Country-") + shape + " ", 0), 0u)
        << db.BuildId();
    for (const auto& [address, country] : cases) {
      EXPECT_EQ(db.Lookup(address), country) << shape << " " << address;
    }
  }
}

TEST_F(CountryDatabaseTest, IpV6AddressesInAnIpV4DatabaseAreNotFound) {
  const CountryDatabase db(dbs_["v4"]);
  EXPECT_EQ(db.Lookup("1.2.3.4"), "DE");
  EXPECT_EQ(db.Lookup("::ffff:1.2.3.4"), "DE");
  EXPECT_EQ(db.Lookup("2001:db8::1"), "");
  EXPECT_EQ(db.Lookup("::1"), "");
}

// Whatever a log's client field holds: only a numeric address is looked up, the rest is "".
TEST_F(CountryDatabaseTest, TextsThatAreNoAddressAreNotFound) {
  const CountryDatabase db(dbs_["code"]);
  std::vector<std::string> texts = {
      "", "-", "localhost", "example.com", "1.2.3", "1.2.3.4.5", "1.2.3.4 ", " 1.2.3.4",
      "1.2.3.4:80", "[1.2.3.4]", "1.2.3.4/24", "01.2.3.4", "1.2.3.256", "0x01.2.3.4", "1.2.3.-4",
      "2001:db8::1%eth0", "2001:db8:::1", "[2001:db8::1", "2001:db8::1]", "[]", "[", "]",
      "::ffff:1.2.3.4.5", "1.2.3.4, 5.6.7.8", "1.2.3.4\r\n",
      std::string("1.2.3.4\0", 8), std::string("1.2.3.4\0garbage", 15),
      std::string("2001:db8::1\0", 12), "\xff\xfe", "\xd0\x9f\xd1\x80\xd0\xb8",
      std::string(100000, '1'), "1.2.3." + std::string(70, '4'), std::string(5000, ':'),
  };
  std::istringstream hostile(ReadAll(std::string(HITSIEVE_TEST_DATA) + "/hostile-lines.log"));
  for (std::string line; std::getline(hostile, line);) {
    texts.push_back(line.substr(0, line.find(' ')));
    texts.push_back(line);
  }
  ASSERT_GT(texts.size(), 60u);
  for (const std::string& text : texts) {
    std::string country;
    EXPECT_NO_THROW(country = db.Lookup(text));
    if (text != "1.2.3.4" && text != "2001:db8::1") {
      EXPECT_EQ(country, "") << testing::PrintToString(text.substr(0, 80));
    }
  }
  // Random bytes from the alphabet of addresses: never a throw, and a result is a code.
  std::mt19937 random(27);
  const std::string alphabet = std::string("0123456789abcdefABCDEF.:[]%/ \xff", 31) + '\0';
  for (int i = 0; i < 20000; ++i) {
    std::string text(random() % 48, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    std::string country;
    ASSERT_NO_THROW(country = db.Lookup(text));
    ASSERT_TRUE(country.empty() || country == "DE" || country == "FR" || country == "BR" ||
                country == "JP" || country == "CA" || country == "IE")
        << testing::PrintToString(text) << " -> " << country;
  }
}

TEST_F(CountryDatabaseTest, UnusableFilesAreClearErrorsNamingTheFile) {
  const std::string missing = dir_->File("no-such.mmdb");
  EXPECT_EQ(OpenError(missing), missing + ": " + kCountryDbMissingError);
  EXPECT_EQ(OpenError(dir_->File("no-such-dir/x.mmdb")),
            dir_->File("no-such-dir/x.mmdb") + ": " + kCountryDbMissingError);

  const std::string folder = dir_->File("folder.mmdb");
  fs::create_directory(folder);
  EXPECT_EQ(OpenError(folder), folder + ": " + kCountryDbNotFileError);
  // A pipe is refused without being opened: opening it would wait for a writer.
  const std::string fifo = dir_->File("pipe.mmdb");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(OpenError(fifo), fifo + ": " + kCountryDbNotFileError);

  const std::string empty = dir_->File("empty.mmdb");
  WriteAll(empty, "");
  EXPECT_EQ(OpenError(empty), empty + ": " + kCountryDbDamagedError);
  const std::string text = dir_->File("text.mmdb");
  WriteAll(text, "1.2.3.0/24,DE\n");
  EXPECT_EQ(OpenError(text), text + ": " + kCountryDbDamagedError);
  // Cut short: the description at the end of the file is gone.
  const std::string good = ReadAll(dbs_["code"]);
  const std::string truncated = dir_->File("truncated.mmdb");
  WriteAll(truncated, good.substr(0, good.size() / 2));
  EXPECT_EQ(OpenError(truncated), truncated + ": " + kCountryDbDamagedError);

  EXPECT_EQ(OpenError(dbs_["none"]), dbs_["none"] + ": " + kCountryDbNoCountriesError);

  // A control byte in the file name does not break the message's line.
  const std::string odd = dir_->File("line\nbreak.mmdb");
  EXPECT_EQ(OpenError(odd), dir_->File("line?break.mmdb") + ": " + kCountryDbMissingError);
}

// Bytes changed anywhere in the file: the database is refused at opening, or it opens and
// every lookup still answers with a code or "".
TEST_F(CountryDatabaseTest, DamagedBytesAreRefusedOrHarmless) {
  const std::string good = ReadAll(dbs_["iso"]);
  const std::string path = dir_->File("damaged.mmdb");
  std::mt19937 random(5);
  int refused = 0;
  for (int round = 0; round < 300; ++round) {
    std::string bytes = good;
    for (int n = 1 + random() % 8; n > 0; --n) {
      bytes[random() % bytes.size()] = static_cast<char>(random());
    }
    WriteAll(path, bytes);
    try {
      const CountryDatabase db(path);
      for (const char* address : {"1.2.3.4", "5.6.7.8", "9.9.9.9", "200.1.1.1", "2001:db8::1",
                                  "2001:db8:1::1", "2a00:1450::1", "::1", "128.0.0.1"}) {
        const std::string country = db.Lookup(address);
        EXPECT_TRUE(country.empty() || (country.size() == 2 && std::isupper(country[0]) &&
                                        std::isupper(country[1])))
            << country;
      }
    } catch (const std::runtime_error& e) {
      ++refused;
      EXPECT_EQ(std::string(e.what()).rfind(path + ": ", 0), 0u) << e.what();
    }
  }
  EXPECT_GT(refused, 0);
}

// The same answers as Debian's python3-maxminddb for a few thousand random addresses, on the
// shipped database and on a test database of the other record shape.
TEST_F(CountryDatabaseTest, AgreesWithTheReferenceReader) {
  ASSERT_TRUE(fs::is_regular_file(kPinnedDb)) << kPinnedDb << " (run scripts/install-deps)";
  const std::vector<std::string> addresses = RandomAddresses(4000, 2026);
  for (const std::string& path : {kPinnedDb, dbs_["iso"]}) {
    const CountryDatabase db(path);
    const std::vector<std::string> expected = ReferenceLookups(*dir_, path, addresses);
    ASSERT_EQ(expected.size(), addresses.size() + 1);
    EXPECT_EQ(db.BuildId(), expected[0]);
    size_t found = 0;
    for (size_t i = 0; i < addresses.size(); ++i) {
      EXPECT_EQ(db.Lookup(addresses[i]), expected[i + 1]) << path << " " << addresses[i];
      found += !expected[i + 1].empty();
    }
    if (path == kPinnedDb) {
      // Most of the IPv4 space is assigned: the comparison is not one of empty answers.
      EXPECT_GT(found, addresses.size() / 3);
      // Every country the shipped data gave has a name in both languages.
      for (size_t i = 1; i < expected.size(); ++i) {
        if (expected[i].empty()) continue;
        EXPECT_NE(CountryName(expected[i], false), "") << expected[i];
        EXPECT_NE(CountryName(expected[i], true), "") << expected[i];
      }
    }
  }
}

// The collector looks addresses up from several threads over one opened database.
TEST_F(CountryDatabaseTest, ThreadsShareOneDatabase) {
  ASSERT_TRUE(fs::is_regular_file(kPinnedDb)) << kPinnedDb << " (run scripts/install-deps)";
  const CountryDatabase db(kPinnedDb);
  const std::vector<std::string> addresses = RandomAddresses(20000, 7);
  std::vector<std::string> alone;
  for (const std::string& a : addresses) alone.push_back(db.Lookup(a));
  std::vector<std::vector<std::string>> shared(4);
  {
    std::vector<std::jthread> threads;
    for (auto& answers : shared) {
      threads.emplace_back([&db, &addresses, &answers] {
        for (const std::string& a : addresses) answers.push_back(db.Lookup(a));
      });
    }
  }
  for (const auto& answers : shared) EXPECT_EQ(answers, alone);
}

TEST(CountryDatabaseDefault, FindsTheShippedDatabase) {
  const std::string path = CountryDatabase::DefaultPath();
  ASSERT_NE(path, "");
  EXPECT_TRUE(fs::is_regular_file(path));
  EXPECT_EQ(fs::path(path).filename(), kDefaultCountryDbName);
  EXPECT_NO_THROW(CountryDatabase{path});
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3
                                          : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    }
    i += length;
  }
  return true;
}

TEST(CountryName, EveryCodeHasBothNamesInUtf8) {
  EXPECT_EQ(CountryName("DE", false), "Germany");
  EXPECT_EQ(CountryName("de", true), "Германия");
  EXPECT_EQ(CountryName("RU", true), "Россия");
  EXPECT_EQ(CountryName("XK", false), "Kosovo");
  int known = 0;
  for (char a = 'A'; a <= 'Z'; ++a) {
    for (char b = 'A'; b <= 'Z'; ++b) {
      const std::string code{a, b};
      const std::string_view english = CountryName(code, false);
      const std::string_view russian = CountryName(code, true);
      ASSERT_EQ(english.empty(), russian.empty()) << code;
      if (english.empty()) continue;
      ++known;
      EXPECT_TRUE(IsValidUtf8(english) && IsValidUtf8(russian)) << code;
      EXPECT_NE(english, russian) << code;
      // Russian names are written in Cyrillic (its letters start with 0xD0 or 0xD1 in UTF-8).
      EXPECT_TRUE(russian.find('\xd0') != std::string_view::npos ||
                  russian.find('\xd1') != std::string_view::npos)
          << code;
    }
  }
  EXPECT_GE(known, 249);  // the whole standard list
  for (const char* unknown : {"", "D", "DEU", "ZZ", "12", "\xd0\x94", "D\n"}) {
    EXPECT_EQ(CountryName(unknown, false), "") << unknown;
  }
}

}  // namespace
}  // namespace hitsieve
