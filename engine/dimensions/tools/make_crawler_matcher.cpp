// Compiles the crawler list's patterns into one Hyperscan database at build time and writes it,
// serialized, as a C++ array for crawler_list.cpp. Usage: make_crawler_matcher OUTPUT
//
// The database is compiled for the generic x86-64 target, not the build machine's processor,
// so that a package built on one machine runs on any other.
#include <hs/hs.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/dimensions/crawler_list.h"
#include "engine/dimensions/crawler_matcher_flags.h"

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
  const std::string output = argv[1];
  const std::string temporary = output + ".tmp";
  std::FILE* out = std::fopen(temporary.c_str(), "w");
  if (out == nullptr) {
    std::perror(temporary.c_str());
    return 1;
  }
  std::fprintf(out, "// The crawler list's compiled matcher; made by make_crawler_matcher.\n"
                    "alignas(16) constexpr unsigned char kCrawlerMatcher[%zu] = {\n", size);
  for (size_t i = 0; i < size; ++i) {
    std::fprintf(out, "%u,%s", static_cast<unsigned char>(bytes[i]), i % 32 == 31 ? "\n" : "");
  }
  std::fprintf(out, "};\n");
  const bool written = std::fflush(out) == 0 && std::ferror(out) == 0;
  std::fclose(out);
  std::free(bytes);
  hs_free_database(database);
  if (!written || std::rename(temporary.c_str(), output.c_str()) != 0) {
    std::perror(output.c_str());
    return 1;
  }
  return 0;
}
