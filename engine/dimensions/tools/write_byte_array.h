// Writes bytes made at build time as a C++ array definition, through a temporary file and a
// rename, for the build tools that compile data into the program.
#ifndef HITSIEVE_ENGINE_DIMENSIONS_TOOLS_WRITE_BYTE_ARRAY_H_
#define HITSIEVE_ENGINE_DIMENSIONS_TOOLS_WRITE_BYTE_ARRAY_H_

#include <cstddef>
#include <cstdio>
#include <string>

namespace hitsieve {

// Writes "// COMMENT" and "alignas(16) constexpr unsigned char NAME[SIZE] = {...};" to
// `output`. False, with the reason on standard error, when it cannot be written.
inline bool WriteByteArray(const std::string& output, const char* comment, const char* name,
                           const char* bytes, std::size_t size) {
  const std::string temporary = output + ".tmp";
  std::FILE* out = std::fopen(temporary.c_str(), "w");
  if (out == nullptr) {
    std::perror(temporary.c_str());
    return false;
  }
  std::fprintf(out, "// %s\nalignas(16) constexpr unsigned char %s[%zu] = {\n", comment, name,
               size);
  for (std::size_t i = 0; i < size; ++i) {
    std::fprintf(out, "%u,%s", static_cast<unsigned char>(bytes[i]), i % 32 == 31 ? "\n" : "");
  }
  std::fprintf(out, "};\n");
  const bool written = std::fflush(out) == 0 && std::ferror(out) == 0;
  std::fclose(out);
  if (!written || std::rename(temporary.c_str(), output.c_str()) != 0) {
    std::perror(output.c_str());
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_DIMENSIONS_TOOLS_WRITE_BYTE_ARRAY_H_
