// Compiles the crawler list's patterns into one Hyperscan database at build time and writes it,
// serialized, as a C++ array for crawler_list.cpp. Usage: make_crawler_matcher OUTPUT
//
// The database is compiled for the generic x86-64 target, not the build machine's processor,
// so that a package built on one machine runs on any other.
#include <hs/hs.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/dimensions/crawler_list.h"
#include "engine/dimensions/crawler_matcher_flags.h"
#include "engine/dimensions/tools/write_byte_array.h"

namespace hitsieve {
namespace {
#include "crawler_entries.inc"
}  // namespace
}  // namespace hitsieve

int main(int argc, char** argv) {
  using namespace hitsieve;
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_crawler_matcher OUTPUT\n");
    return 2;
  }
  std::vector<const char*> patterns;
  std::vector<unsigned> flags, ids;
  for (unsigned id = 0; id < std::size(kCrawlerEntries); ++id) {
    patterns.push_back(kCrawlerEntries[id].pattern);
    flags.push_back(kCrawlerPatternFlags);
    ids.push_back(id);
  }
  hs_platform_info_t generic{};
  generic.tune = HS_TUNE_FAMILY_GENERIC;
  generic.cpu_features = 0;
  hs_database_t* database = nullptr;
  hs_compile_error_t* error = nullptr;
  if (hs_compile_multi(patterns.data(), flags.data(), ids.data(),
                       static_cast<unsigned>(patterns.size()), HS_MODE_BLOCK, &generic, &database,
                       &error) != HS_SUCCESS) {
    std::fprintf(stderr, "make_crawler_matcher: pattern %d (%s): %s\n", error->expression,
                 error->expression >= 0 ? patterns[error->expression] : "-", error->message);
    hs_free_compile_error(error);
    return 1;
  }
  char* bytes = nullptr;
  size_t size = 0;
  if (hs_serialize_database(database, &bytes, &size) != HS_SUCCESS) {
    std::fprintf(stderr, "make_crawler_matcher: the database could not be serialized\n");
    return 1;
  }
  const bool written = WriteByteArray(
      argv[1], "The crawler list's compiled matcher; made by make_crawler_matcher.",
      "kCrawlerMatcher", bytes, size);
  std::free(bytes);
  hs_free_database(database);
  return written ? 0 : 1;
}
