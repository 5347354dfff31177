// A folder of its own under the temporary directory for one test, removed with everything in it
// when the object goes.
#ifndef HITSIEVE_TESTS_ENGINE_SCRATCH_DIR_H_
#define HITSIEVE_TESTS_ENGINE_SCRATCH_DIR_H_

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace hitsieve::test {

class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix = "hitsieve-test") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace hitsieve::test

#endif  // HITSIEVE_TESTS_ENGINE_SCRATCH_DIR_H_
