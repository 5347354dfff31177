#ifndef HITSIEVE_TESTS_TEMP_DIR_H_
#define HITSIEVE_TESTS_TEMP_DIR_H_

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace hitsieve {

// A fresh directory for one test's files, removed with everything in it at the end. Named by
// `prefix`, so that a folder left by a killed run tells where it came from.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "hitsieve-store") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_TESTS_TEMP_DIR_H_
