// CountryDatabase: the country of a client address, from a database file in the MaxMind DB
// format; CountryName: the English and Russian names of the country codes.
#ifndef HITSIEVE_ENGINE_DIMENSIONS_COUNTRY_DATABASE_H_
#define HITSIEVE_ENGINE_DIMENSIONS_COUNTRY_DATABASE_H_

#include <memory>
#include <string>
#include <string_view>

namespace hitsieve {

// Error texts of opening a country database; the message is "<file>: <text>". Callers and
// tests compare against these.
inline constexpr const char kCountryDbMissingError[] = "country database not found";
inline constexpr const char kCountryDbNotFileError[] = "country database is not a regular file";
inline constexpr const char kCountryDbReadError[] = "country database cannot be read";
inline constexpr const char kCountryDbDamagedError[] =
    "country database is damaged or not in the MaxMind DB format";
inline constexpr const char kCountryDbNoCountriesError[] = "country database has no country data";

// The file name of the country database that comes with the program.
inline constexpr const char kDefaultCountryDbName[] = "geo-whois-asn-country.mmdb";

// A country database opened once and read by any number of threads. Records hold the country
// as `country_code` (the shipped database) or as `country.iso_code` (city and country
// databases of the common commercial shape); both are read.
class CountryDatabase {
 public:
  // Opens a MaxMind DB format file. Throws std::runtime_error with a clear one-line message
  // naming the file when it is missing, not a regular file, or damaged / not a country db.
  explicit CountryDatabase(const std::string& path);
  ~CountryDatabase();
  CountryDatabase(const CountryDatabase&) = delete;
  CountryDatabase& operator=(const CountryDatabase&) = delete;

  // ISO 3166 alpha-2 code in upper case ("DE"), or "" when not found / not an address.
  // Takes an IPv4 address in dotted form or an IPv6 address (bare or in brackets; an IPv4
  // address mapped into IPv6 is looked up as the IPv4 address). Anything else, host names
  // included, is "" and never a name lookup. Never throws.
  std::string Lookup(std::string_view address) const;

  // What identifies the data: database type and build epoch (e.g. "geo-whois-asn-country
  // 1781712345"), recorded in the statistics so an add with another database is refused.
  std::string BuildId() const;

  // The database used when none is chosen: the installed data folder's file, else the build
  // tree's / source tree's third_party copy. Empty when none is found.
  static std::string DefaultPath();

 private:
  struct Handle;
  std::unique_ptr<Handle> db_;
  std::string build_id_;
};

// English and Russian country names by ISO code (either letter case); "" for an unknown code.
// The texts are UTF-8.
std::string_view CountryName(std::string_view iso, bool russian);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_DIMENSIONS_COUNTRY_DATABASE_H_
