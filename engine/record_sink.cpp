#include "engine/record_sink.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <memory>
#include <stdexcept>

#include "engine/record_parser.h"

namespace hitsieve {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

struct GzCloser {
  void operator()(gzFile_s* file) const { gzclose(file); }
};
using GzHandle = std::unique_ptr<gzFile_s, GzCloser>;

constexpr size_t kGzipInitialCapacity = 204800;
// Chunks larger than zlib's default keep the per-call overhead low; no byte depends on the size.
constexpr unsigned kGzipChunk = 64 * 1024;
constexpr unsigned kGzipBuffer = 128 * 1024;

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c; }

}  // namespace

bool IsGzipName(std::string_view path) {
  if (path.size() < 3) return false;
  const std::string_view tail = path.substr(path.size() - 3);
  return tail[0] == '.' && AsciiLower(tail[1]) == 'g' && AsciiLower(tail[2]) == 'z';
}

namespace {

// Opens a plain file positioned at its start and gives its size; the size is 0 when it cannot
// be determined (a pipe, a device), and such a file reads as empty.
FileHandle OpenPlainFile(const std::string& path, size_t& size) {
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) throw std::runtime_error(kFileOpenError);
  // A directory opens on Linux, and its "size" may be absurd; it is no file to read.
  struct stat info;
  if (fstat(fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
    throw std::runtime_error(kFileOpenError);
  }
  size = 0;
  if (fseeko(file.get(), 0, SEEK_END) != 0) return file;
  const off_t end = ftello(file.get());
  if (end <= 0 || fseeko(file.get(), 0, SEEK_SET) != 0) return file;
  size = static_cast<size_t>(end);
  return file;
}

// The whole-file readers write into an output that offers free space with
// `char* Space(size_t at_least)` and takes the bytes written into it with `Commit(size_t)`.

template <typename Output>
void ReadPlain(const std::string& path, Output& out) {
  size_t size = 0;
  FileHandle file = OpenPlainFile(path, size);
  if (size == 0) return;
  // A file that shrank since its size was taken keeps only what was really read.
  out.Commit(std::fread(out.Space(size), 1, size, file.get()));
}

// Every byte is kept, NUL bytes included. Throws the gzip errors; `out` is then left to the
// caller.
template <typename Output>
void DecompressGzip(const std::string& path, Output& out) {
  GzHandle file(gzopen(path.c_str(), "rb"));
  if (!file) throw std::runtime_error(kGzipOpenError);
  gzbuffer(file.get(), kGzipBuffer);
  for (;;) {
    const int read = gzread(file.get(), out.Space(kGzipChunk), kGzipChunk);
    if (read < 0) throw std::runtime_error(kGzipReadError);
    out.Commit(static_cast<size_t>(read));  // also gives back the space a last, empty read left
    if (read == 0) break;
  }
  // zlib ends a stream that was cut short like a complete one and only remembers the fact;
  // a truncated file would otherwise lose its tail without a word.
  int error = Z_OK;
  gzerror(file.get(), &error);
  if (error != Z_OK) throw std::runtime_error(kGzipReadError);
}

// Writes into a std::string, growing it as needed.
class StringOutput {
 public:
  explicit StringOutput(std::string& text) : text_(text), size_(text.size()) {}
  char* Space(size_t at_least) {
    text_.resize(size_ + at_least);
    return text_.data() + size_;
  }
  void Commit(size_t size) {
    size_ += size;
    text_.resize(size_);
  }

 private:
  std::string& text_;
  size_t size_;
};

}  // namespace

void ReadPlainFile(const std::string& path, std::string& text) {
  StringOutput out(text);
  ReadPlain(path, out);
}

void ReadGzipFile(const std::string& path, std::string& text) {
  try {
    text.reserve(kGzipInitialCapacity);
    StringOutput out(text);
    DecompressGzip(path, out);
  } catch (...) {
    text.clear();
    text.shrink_to_fit();
    throw;
  }
}

void RecordSink::ParseContent(std::string_view text) {
  ParseLines(text);
  Finish();
}

void RecordSink::ParseLines(std::string_view text) {
  // One record and one set of field buffers serve every line, so their capacity is reused.
  RequestRecord record;
  RecordScratch scratch;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find('\n', begin);
    const std::string_view line =
        text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
    if (ParseRecordLine(line, record, scratch)) OnRecord(record);
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
}

}  // namespace hitsieve
