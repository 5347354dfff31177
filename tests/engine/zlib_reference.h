#ifndef HITSIEVE_TESTS_ENGINE_ZLIB_REFERENCE_H_
#define HITSIEVE_TESTS_ENGINE_ZLIB_REFERENCE_H_

// zlib's verdict on the bytes of a .gz log, the reference the ISA-L reader must match: the
// decompressed text, or nothing when the file is not acceptable; and the gzip program's verdict
// on a file. Shared by the engine tests and the fuzzer.

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace hitsieve {

inline bool StartsGzipMember(std::string_view bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
         static_cast<unsigned char>(bytes[1]) == 0x8b;
}

// Every member decompressed with zlib's inflate, one after another. A file that does not begin
// with a member is passed through, as gzread does. Unlike gzread, bytes after a member that do
// not begin another one make the file unacceptable, unless they are all zero (padding, as gzip
// itself allows).
inline std::optional<std::string> ZlibDecompress(std::string_view file) {
  if (!StartsGzipMember(file)) return std::string(file);
  std::string out;
  size_t position = 0;
  char buffer[16384];
  while (position < file.size()) {
    if (!StartsGzipMember(file.substr(position))) {
      if (file.find_first_not_of('\0', position) == std::string_view::npos) break;
      return std::nullopt;
    }
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data() + position));
    stream.avail_in = static_cast<uInt>(file.size() - position);
    int result = Z_OK;
    while (result != Z_STREAM_END) {
      stream.next_out = reinterpret_cast<Bytef*>(buffer);
      stream.avail_out = sizeof buffer;
      result = inflate(&stream, Z_NO_FLUSH);
      out.append(buffer, sizeof buffer - stream.avail_out);
      if (result != Z_OK && result != Z_STREAM_END) break;  // damaged, or cut short (buffer error)
    }
    position = file.size() - stream.avail_in;
    inflateEnd(&stream);
    if (result != Z_STREAM_END) return std::nullopt;
  }
  return out;
}

// One gzip member of `text`, written by zlib with the given level and strategy; `header`
// adds a name, a comment, an extra field and a header checksum.
inline std::string GzipMember(std::string_view text, int level = 6,
                              int strategy = Z_DEFAULT_STRATEGY, bool header = false) {
  z_stream stream{};
  deflateInit2(&stream, level, Z_DEFLATED, 15 + 16, 8, strategy);
  gz_header fields{};
  static unsigned char extra[] = "extra field";
  static unsigned char name[] = "access.log";
  static unsigned char comment[] = "rotated";
  if (header) {
    fields.extra = extra;
    fields.extra_len = sizeof extra;
    fields.name = name;
    fields.comment = comment;
    fields.hcrc = 1;
    deflateSetHeader(&stream, &fields);
  }
  std::string out(deflateBound(&stream, text.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// What the system's gzip makes of a file: its decompressed bytes when `gzip -t` accepts the
// file without a warning, nothing otherwise. `path` holds no quote.
inline std::optional<std::string> GzipToolRead(const std::string& path) {
  if (std::system(("gzip -t -q -- '" + path + "' 2>/dev/null").c_str()) != 0) return std::nullopt;
  std::FILE* pipe = popen(("gzip -d -c -- '" + path + "'").c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run gzip");
  std::string out;
  char buffer[65536];
  while (const size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, got);
  if (pclose(pipe) != 0) throw std::runtime_error("gzip -d failed after gzip -t passed");
  return out;
}

}  // namespace hitsieve

#endif  // HITSIEVE_TESTS_ENGINE_ZLIB_REFERENCE_H_
