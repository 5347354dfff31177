// The statistics file the export tests share. The database is process-wide and stays open once
// opened, so every suite that writes statistics uses this one file, in a temporary folder that
// is removed at exit; each test replaces the tables it reads.
#ifndef HITSIEVE_TESTS_EXPORT_SHARED_DATABASE_H_
#define HITSIEVE_TESTS_EXPORT_SHARED_DATABASE_H_

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "store/stats_database.h"

namespace hitsieve::test {

// The folder holding the shared file "stats.dt", named to the database on first use.
inline const std::filesystem::path& SharedDatabaseFolder() {
  static const std::filesystem::path folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "export-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    StatsDatabase::SetFileName((std::filesystem::path(pattern) / "stats.dt").string());
    std::atexit([] { std::filesystem::remove_all(SharedDatabaseFolder()); });
    return std::filesystem::path(pattern);
  }();
  return folder;
}

}  // namespace hitsieve::test

#endif  // HITSIEVE_TESTS_EXPORT_SHARED_DATABASE_H_
