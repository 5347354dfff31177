#include "engine/record_sink.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
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

}  // namespace

void ReadPlainFile(const std::string& path, std::string& text) {
  size_t size = 0;
  FileHandle file = OpenPlainFile(path, size);
  if (size == 0) return;
  text.resize(size);
  // A file that shrank since its size was taken keeps only what was really read.
  text.resize(std::fread(text.data(), 1, text.size(), file.get()));
}

void ReadGzipFile(const std::string& path, std::string& text) {
  GzHandle file(gzopen(path.c_str(), "rb"));
  if (!file) throw std::runtime_error(kGzipOpenError);
  gzbuffer(file.get(), kGzipBuffer);
  text.reserve(kGzipInitialCapacity);
  auto fail = [&text] {
    text.clear();
    text.shrink_to_fit();
    throw std::runtime_error(kGzipReadError);
  };
  std::unique_ptr<char[]> buffer(new char[kGzipChunk]);
  for (;;) {
    const int read = gzread(file.get(), buffer.get(), kGzipChunk);
    if (read < 0) fail();
    if (read == 0) break;
    // Every decompressed byte is kept, NUL bytes included.
    text.append(buffer.get(), static_cast<size_t>(read));
  }
  // zlib ends a stream that was cut short like a complete one and only remembers the fact;
  // a truncated file would otherwise lose its tail without a word.
  int error = Z_OK;
  gzerror(file.get(), &error);
  if (error != Z_OK) fail();
}

void RecordSink::ProcessFile(const std::string& path) {
  if (IsGzipName(path)) {
    std::string text;
    ReadGzipFile(path, text);
    ParseContent(text);
    return;
  }
  // Read as ReadPlainFile does, into a buffer that is not filled with zeros first: for a log of
  // hundreds of megabytes that pass costs as much as a tenth of the parse.
  size_t size = 0;
  FileHandle file = OpenPlainFile(path, size);
  std::unique_ptr<char[]> buffer(size == 0 ? nullptr : new char[size]);
  if (size != 0) size = std::fread(buffer.get(), 1, size, file.get());
  file.reset();
  ParseContent(std::string_view(buffer.get(), size));
}

void RecordSink::ParseContent(std::string_view text) {
  // One record and one field buffer serve every line, so their capacity is reused.
  RequestRecord record;
  std::string scratch;
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
