// Byte sources for plain and gzip logs and the cutter that turns them into blocks of whole lines.
#ifndef HITSIEVE_ENGINE_LINE_BLOCKS_H_
#define HITSIEVE_ENGINE_LINE_BLOCKS_H_

// The engine's streaming readers: byte sources for plain and gzip files, and the cutter that
// turns a source into blocks of whole lines. Internal to the engine (the readers).

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/gzip_inflate.h"

namespace hitsieve {

// Opens `path` for reading without blocking (a pipe swapped in for a log must not hang the
// run) and refuses what is not a regular file. Returns the descriptor; throws
// std::runtime_error(`open_error`).
int OpenRegularFile(const std::string& path, const char* open_error, int64_t& size);

// A plain file opened for reading, its size taken once at opening. Bytes appended after that
// are not read; a file that shrinks under the reader is an error, never a shorter log.
class PlainFile {
 public:
  // Throws std::runtime_error(kFileOpenError) when the path cannot be opened or is no regular
  // file (a folder, a pipe, a device), and (kFileReadError) for a file that reports no size
  // but has content (as some system files do): it would otherwise read as empty.
  explicit PlainFile(const std::string& path);
  ~PlainFile();
  PlainFile(const PlainFile&) = delete;
  PlainFile& operator=(const PlainFile&) = delete;

  int64_t size() const { return size_; }

  // Reads up to `count` bytes at `offset`, never past size(); 0 only at size(). Safe to call
  // from several threads at once. Throws std::runtime_error(kFileReadError) when the system
  // fails or the file has become shorter than size().
  size_t ReadAt(int64_t offset, char* out, size_t count) const;

  // The offset just after the first line feed at or after `offset`, or size() when none.
  int64_t NextLineStart(int64_t offset) const;

  // Throws std::runtime_error(kFileReadError) when the file is now shorter than size(): a
  // part read before it shrank may hold lines that no longer exist.
  void CheckNotShrunk() const;

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

// A source whose bytes are also shown to `seen` (when set), every byte once, in the order read.
// Bytes the cutter drops with a line too long are shown too: `seen` gets the file's whole text.
template <typename Source>
class ObservedSource {
 public:
  ObservedSource(Source& source, const std::function<void(std::string_view)>& seen)
      : source_(source), seen_(seen) {}
  size_t Read(char* out, size_t count) {
    const size_t read = source_.Read(out, count);
    if (read != 0 && seen_) seen_(std::string_view(out, read));
    return read;
  }
  int64_t Position() const { return source_.Position(); }

 private:
  Source& source_;
  const std::function<void(std::string_view)>& seen_;
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

// No log line is this long; a longer one is skipped whole (and counted), so that memory stays
// bounded whatever a file holds: a gigabyte of zeros has no line feed at all.
inline constexpr size_t kMaxLineLength = size_t{64} << 20;

// Cuts a source into blocks at line feeds. A block is filled to the block size and then cut
// after its last line feed; the bytes after it begin the next block. A line longer than the
// block size makes its block grow until the line ends, up to `max_line` (at least the block
// size): a line of that many bytes or more is dropped up to its line feed and counted. Parsing the blocks one after another gives the same
// lines as parsing the whole text at once, less the lines too long.
template <typename Source>
class LineCutter {
 public:
  LineCutter(Source& source, size_t block_size, size_t max_line = kMaxLineLength)
      : source_(source),
        block_size_(block_size == 0 ? 1 : block_size),
        max_line_(std::max(max_line, block_size_)) {}

  // Lines dropped so far for being longer than `max_line`.
  int64_t long_lines() const { return long_lines_; }

  // Fills `block` (its earlier contents are dropped, its buffer reused) with the next lines.
  // False when the source is exhausted. Source errors pass through.
  bool Fill(LineBlock& block);

 private:
  // Drops bytes up to and including the next line feed; the bytes after it start `block`.
  void SkipRestOfLine(LineBlock& block);

  Source& source_;
  size_t block_size_;
  size_t max_line_;
  std::string carry_;  // the start of a line that the previous block could not hold whole
  bool end_ = false;
  int64_t long_lines_ = 0;
};

template <typename Source>
void LineCutter<Source>::SkipRestOfLine(LineBlock& block) {
  ++long_lines_;
  for (;;) {
    const size_t read = source_.Read(block.data.get(), block.capacity);
    if (read == 0) {
      end_ = true;
      block.size = 0;
      return;
    }
    const char* begin = block.data.get();
    if (const void* found = std::memchr(begin, '\n', read)) {
      const size_t rest = read - (static_cast<const char*>(found) + 1 - begin);
      std::memmove(block.data.get(), static_cast<const char*>(found) + 1, rest);
      block.size = rest;
      return;
    }
  }
}

template <typename Source>
bool LineCutter<Source>::Fill(LineBlock& block) {
  block.size = 0;
  block.Reserve(std::max(block_size_, carry_.size() + 1));
  carry_.copy(block.data.get(), carry_.size());
  block.size = carry_.size();
  carry_.clear();
  size_t scanned = block.size;  // the carried bytes hold no line feed
  while (!end_) {
    if (block.size == block.capacity) {
      // Full, and not one line feed in it: the block is the start of a single line.
      if (block.size >= max_line_) {
        SkipRestOfLine(block);
        scanned = 0;
        continue;
      }
      block.Reserve(std::min(block.capacity * 2, std::max(max_line_, block_size_)));
    }
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
