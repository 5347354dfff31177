#ifndef HITSIEVE_ENGINE_LINE_BLOCKS_H_
#define HITSIEVE_ENGINE_LINE_BLOCKS_H_

// The engine's streaming readers: byte sources for plain and gzip files, and the cutter that
// turns a source into blocks of whole lines. Internal to the engine (log_reader.cpp).

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "engine/gzip_inflate.h"

namespace hitsieve {

// A plain file opened for reading, its size taken once at opening. Bytes appended after that
// are not read; a file that shrinks reads as far as it goes.
class PlainFile {
 public:
  // Throws std::runtime_error(kFileOpenError) when the path cannot be opened or is a folder.
  explicit PlainFile(const std::string& path);
  ~PlainFile();
  PlainFile(const PlainFile&) = delete;
  PlainFile& operator=(const PlainFile&) = delete;

  // 0 for a file whose size cannot be known (a pipe, a terminal): such a file reads as empty.
  int64_t size() const { return size_; }

  // Reads up to `count` bytes at `offset`, never past size(); 0 at the end. Safe to call from
  // several threads at once. Throws std::runtime_error(kFileReadError) when the system fails.
  size_t ReadAt(int64_t offset, char* out, size_t count) const;

  // The offset just after the first line feed at or after `offset`, or size() when none.
  int64_t NextLineStart(int64_t offset) const;

 private:
  int fd_ = -1;
  int64_t size_ = 0;
};

// The bytes [begin, end) of a plain file, in order.
class PlainSource {
 public:
  PlainSource(const PlainFile& file, int64_t begin, int64_t end)
      : file_(file), position_(begin), end_(end) {}
  size_t Read(char* out, size_t count);
  // Bytes of the file consumed so far, counted from the file's start.
  int64_t Position() const { return position_; }

 private:
  const PlainFile& file_;
  int64_t position_;
  int64_t end_;
};

// The decompressed bytes of a gzip file (or a file without a gzip header, passed through),
// decoded with ISA-L: see gzip_inflate.h.
using GzipSource = GzipInflater;

// A buffer holding whole lines: every line of it but the file's last ends in a line feed.
struct LineBlock {
  std::unique_ptr<char[]> data;
  size_t capacity = 0;
  size_t size = 0;
  int64_t position = 0;  // source bytes consumed once this block was complete

  std::string_view Text() const { return std::string_view(data.get(), size); }
  // Makes room for at least `capacity` bytes, keeping the first `size`.
  void Reserve(size_t wanted);
};

// Cuts a source into blocks at line feeds. A block is filled to the block size and then cut
// after its last line feed; the bytes after it begin the next block. A line longer than the
// block size makes its block grow until the line ends. Parsing the blocks one after another
// gives the same lines as parsing the whole text at once.
template <typename Source>
class LineCutter {
 public:
  LineCutter(Source& source, size_t block_size)
      : source_(source), block_size_(block_size == 0 ? 1 : block_size) {}

  // Fills `block` (its earlier contents are dropped, its buffer reused) with the next lines.
  // False when the source is exhausted. Source errors pass through.
  bool Fill(LineBlock& block);

 private:
  Source& source_;
  size_t block_size_;
  std::string carry_;  // the start of a line that the previous block could not hold whole
  bool end_ = false;
};

template <typename Source>
bool LineCutter<Source>::Fill(LineBlock& block) {
  block.size = 0;
  block.Reserve(std::max(block_size_, carry_.size() + 1));
  carry_.copy(block.data.get(), carry_.size());
  block.size = carry_.size();
  carry_.clear();
  size_t scanned = block.size;  // the carried bytes hold no line feed
  while (!end_) {
    if (block.size == block.capacity) block.Reserve(block.capacity * 2);
    const size_t read = source_.Read(block.data.get() + block.size, block.capacity - block.size);
    if (read == 0) {
      end_ = true;
      break;
    }
    block.size += read;
    if (block.size < block.capacity) continue;  // fill the block before cutting it
    const char* begin = block.data.get();
    const void* found = memrchr(begin + scanned, '\n', block.size - scanned);
    if (found != nullptr) {
      const char* cut = static_cast<const char*>(found) + 1;
      carry_.assign(cut, begin + block.size);
      block.size = static_cast<size_t>(cut - begin);
      break;
    }
    scanned = block.size;
  }
  block.position = source_.Position();
  return block.size > 0;
}

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_LINE_BLOCKS_H_
