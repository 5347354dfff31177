// The byte sources that readers cut into blocks of whole lines: a plain file read at any
// offset, a range of it, and a growing line block; and reading a whole file into memory.
#include "engine/line_blocks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "engine/gzip_inflate.h"
#include "engine/record_sink.h"

namespace hitsieve {

// ---- Sources ----

int OpenRegularFile(const std::string& path, const char* open_error, int64_t& size) {
  // O_NONBLOCK: should the name have become a pipe since it was checked, opening it must not
  // wait for a writer that never comes. It changes nothing for a regular file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw std::runtime_error(open_error);
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    throw std::runtime_error(open_error);
  }
  size = info.st_size;
  return fd;
}

PlainFile::PlainFile(const std::string& path) {
  fd_ = OpenRegularFile(path, kFileOpenError, size_);
  if (size_ == 0) {
    // Files under /proc and /sys report no size but have content; reading them as empty would
    // replace the statistics with nothing.
    char probe;
    ssize_t read;
    do {
      read = ::pread(fd_, &probe, 1, 0);
    } while (read < 0 && errno == EINTR);
    if (read != 0) {
      ::close(fd_);
      throw std::runtime_error(kFileReadError);
    }
  }
  posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

PlainFile::~PlainFile() { ::close(fd_); }

size_t PlainFile::ReadAt(int64_t offset, char* out, size_t count) const {
  if (offset >= size_) return 0;
  count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size_ - offset));
  for (;;) {
    const ssize_t read = ::pread(fd_, out, count, offset);
    // Nothing before size(): the file has been cut while it was read.
    if (read > 0 || (read == 0 && count == 0)) return static_cast<size_t>(read);
    if (read == 0 || errno != EINTR) throw std::runtime_error(kFileReadError);
  }
}

void PlainFile::CheckNotShrunk() const {
  struct stat info;
  if (fstat(fd_, &info) != 0 || info.st_size < size_) throw std::runtime_error(kFileReadError);
}

int64_t PlainFile::NextLineStart(int64_t offset) const {
  char buffer[64 * 1024];
  while (offset < size_) {
    const size_t read = ReadAt(offset, buffer, sizeof buffer);
    if (const void* found = std::memchr(buffer, '\n', read)) {
      return offset + (static_cast<const char*>(found) - buffer) + 1;
    }
    offset += static_cast<int64_t>(read);
  }
  return size_;
}

size_t PlainSource::Read(char* out, size_t count) {
  const int64_t left = end_ - position_;
  const size_t wanted = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), left));
  if (wanted == 0) return 0;
  const size_t read = file_.ReadAt(position_, out, wanted);
  position_ += static_cast<int64_t>(read);
  return read;
}

void LineBlock::Reserve(size_t wanted) {
  if (wanted <= capacity) return;
  // Not zero-filled: every byte is written by a read before it is looked at.
  auto grown = std::make_unique_for_overwrite<char[]>(wanted);
  if (size > 0) std::memcpy(grown.get(), data.get(), size);
  data = std::move(grown);
  capacity = wanted;
}

// ---- Reading a whole file into memory ----

void ReadPlainFile(const std::string& path, std::string& text) {
  const PlainFile file(path);
  text.resize(static_cast<size_t>(file.size()));
  size_t done = 0;
  while (done < text.size()) {
    done += file.ReadAt(static_cast<int64_t>(done), text.data() + done, text.size() - done);
  }
}

void ReadGzipFile(const std::string& path, std::string& text) {
  constexpr size_t kInitialCapacity = 204800;
  constexpr size_t kChunk = 64 * 1024;
  try {
    GzipSource source(path);
    text.reserve(kInitialCapacity);
    for (;;) {
      const size_t size = text.size();
      text.resize(size + kChunk);
      const size_t read = source.Read(text.data() + size, kChunk);
      text.resize(size + read);
      if (read == 0) break;
    }
  } catch (...) {
    text.clear();
    text.shrink_to_fit();
    throw;
  }
}

}  // namespace hitsieve
