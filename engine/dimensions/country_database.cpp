#include "engine/dimensions/country_database.h"

#include <arpa/inet.h>
#include <maxminddb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <unordered_set>
#include <vector>

namespace hitsieve {

struct CountryDatabase::Handle {
  MMDB_s mmdb{};
  bool open = false;
  ~Handle() {
    if (open) MMDB_close(&mmdb);
  }
};

namespace {

// The longest address text worth parsing: a full IPv6 address with an IPv4 tail, in brackets.
constexpr size_t kMaxAddressLength = 64;
// How far the check for country data walks the search tree before it gives up.
constexpr size_t kMaxNodesWalked = size_t{1} << 22;
constexpr size_t kMaxRecordsChecked = 1024;

// Control bytes of a file name or database type would break the one-line message or the
// statistics' record; they read as '?'.
std::string Printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) c = '?';
  }
  return out;
}

[[noreturn]] void Fail(const std::string& path, const char* what) {
  throw std::runtime_error(Printable(path) + ": " + what);
}

// Stats the file without opening it: opening a pipe for reading would wait for a writer.
void CheckRegularFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    Fail(path, errno == ENOENT || errno == ENOTDIR ? kCountryDbMissingError : kCountryDbReadError);
  }
  if (!S_ISREG(st.st_mode)) Fail(path, kCountryDbNotFileError);
  if (st.st_size == 0) Fail(path, kCountryDbDamagedError);
}

// The two-letter code at `entry` in either record shape, upper-cased; "" when the record has
// none or holds something else there.
std::string CountryCodeAt(MMDB_entry_s entry) {
  MMDB_entry_data_s data{};
  int status = MMDB_get_value(&entry, &data, "country_code", nullptr);
  if (status != MMDB_SUCCESS || !data.has_data) {
    data = {};
    status = MMDB_get_value(&entry, &data, "country", "iso_code", nullptr);
  }
  if (status != MMDB_SUCCESS || !data.has_data || data.type != MMDB_DATA_TYPE_UTF8_STRING ||
      data.data_size != 2) {
    return {};
  }
  std::string code(data.utf8_string, 2);
  for (char& c : code) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c < 'A' || c > 'Z') return {};
  }
  return code;
}

// Walks the search tree from its root until a record with a country code turns up. False when
// the first records (or all of them) have none: an ASN or other non-country database. Throws
// on a node the library cannot read and on a path longer than an address has bits (a loop).
bool HasCountryData(const MMDB_s& mmdb, const std::string& path) {
  const uint32_t node_count = mmdb.metadata.node_count;
  const uint32_t bits = mmdb.metadata.ip_version == 6 ? 128 : 32;
  struct Pending {
    uint32_t node;
    uint32_t depth;
  };
  std::vector<Pending> pending{{0, 0}};
  std::unordered_set<uint32_t> checked;
  size_t walked = 0;
  while (!pending.empty() && walked < kMaxNodesWalked && checked.size() < kMaxRecordsChecked) {
    const auto [node_number, depth] = pending.back();
    pending.pop_back();
    ++walked;
    MMDB_search_node_s node{};
    if (node_number >= node_count || depth >= bits ||
        MMDB_read_node(&mmdb, node_number, &node) != MMDB_SUCCESS) {
      Fail(path, kCountryDbDamagedError);
    }
    // Right first so that the left branch is walked first, the lowest addresses.
    const std::pair<uint8_t, uint64_t> records[] = {{node.right_record_type, node.right_record},
                                                    {node.left_record_type, node.left_record}};
    const MMDB_entry_s entries[] = {node.right_record_entry, node.left_record_entry};
    for (int i = 0; i < 2; ++i) {
      const auto [type, value] = records[i];
      if (type == MMDB_RECORD_TYPE_SEARCH_NODE) {
        pending.push_back({static_cast<uint32_t>(value), depth + 1});
      } else if (type == MMDB_RECORD_TYPE_DATA) {
        if (!checked.insert(entries[i].offset).second) continue;
        if (!CountryCodeAt(entries[i]).empty()) return true;
      } else if (type == MMDB_RECORD_TYPE_INVALID) {
        Fail(path, kCountryDbDamagedError);
      }
    }
  }
  return false;
}

// Parses `address` into `storage`; false when it is not a numeric IPv4 or IPv6 address.
bool ParseAddress(std::string_view address, sockaddr_storage& storage) {
  // Brackets enclose an IPv6 address only (as in URLs).
  const bool bracketed = address.size() > 2 && address.front() == '[' && address.back() == ']';
  if (bracketed) address = address.substr(1, address.size() - 2);
  if (address.empty() || address.size() > kMaxAddressLength ||
      address.find('\0') != std::string_view::npos) {
    return false;
  }
  char text[kMaxAddressLength + 1];
  std::memcpy(text, address.data(), address.size());
  text[address.size()] = '\0';

  storage = {};
  if (address.find(':') == std::string_view::npos) {
    if (bracketed) return false;
    auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
    v4.sin_family = AF_INET;
    return ::inet_pton(AF_INET, text, &v4.sin_addr) == 1;
  }
  in6_addr v6addr{};
  if (::inet_pton(AF_INET6, text, &v6addr) != 1) return false;
  if (IN6_IS_ADDR_V4MAPPED(&v6addr)) {
    // A dual-stack server writes IPv4 clients as ::ffff:a.b.c.d; not every database maps that
    // range onto its IPv4 data.
    auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
    v4.sin_family = AF_INET;
    std::memcpy(&v4.sin_addr, &v6addr.s6_addr[12], 4);
    return true;
  }
  auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
  v6.sin6_family = AF_INET6;
  v6.sin6_addr = v6addr;
  return true;
}

bool IsRegularFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

CountryDatabase::CountryDatabase(const std::string& path) : db_(std::make_unique<Handle>()) {
  CheckRegularFile(path);
  const int status = MMDB_open(path.c_str(), MMDB_MODE_MMAP, &db_->mmdb);
  if (status != MMDB_SUCCESS) {
    Fail(path, status == MMDB_FILE_OPEN_ERROR || status == MMDB_IO_ERROR ||
                       status == MMDB_OUT_OF_MEMORY_ERROR
                   ? kCountryDbReadError
                   : kCountryDbDamagedError);
  }
  db_->open = true;
  const MMDB_metadata_s& meta = db_->mmdb.metadata;
  if ((meta.ip_version != 4 && meta.ip_version != 6) || meta.node_count == 0) {
    Fail(path, kCountryDbDamagedError);
  }
  if (!HasCountryData(db_->mmdb, path)) Fail(path, kCountryDbNoCountriesError);
  build_id_ = Printable(meta.database_type != nullptr ? meta.database_type : "") + " " +
              std::to_string(meta.build_epoch);
}

CountryDatabase::~CountryDatabase() = default;

std::string CountryDatabase::Lookup(std::string_view address) const {
  sockaddr_storage storage;
  if (!ParseAddress(address, storage)) return {};
  int error = MMDB_SUCCESS;
  const MMDB_lookup_result_s result =
      MMDB_lookup_sockaddr(&db_->mmdb, reinterpret_cast<const sockaddr*>(&storage), &error);
  if (error != MMDB_SUCCESS || !result.found_entry) return {};
  return CountryCodeAt(result.entry);
}

std::string CountryDatabase::BuildId() const { return build_id_; }

std::string CountryDatabase::DefaultPath() {
  namespace fs = std::filesystem;
  // Installed: <prefix>/bin/<program> beside <prefix>/share/hitsieve/data/.
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    const fs::path installed = (program.parent_path() / ".." / "share" / "hitsieve" / "data" /
                                kDefaultCountryDbName).lexically_normal();
    if (IsRegularFile(installed)) return installed.string();
  }
#ifdef HITSIEVE_SOURCE_COUNTRY_DB
  // Run from a build tree: the copy that scripts/install-deps put into the sources.
  if (IsRegularFile(HITSIEVE_SOURCE_COUNTRY_DB)) return HITSIEVE_SOURCE_COUNTRY_DB;
#endif
  return {};
}

}  // namespace hitsieve
