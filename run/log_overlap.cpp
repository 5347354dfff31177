// Finding remembered text inside an offered log that continues no remembered log; see
// log_overlap.h for the rules.
#include "run/log_overlap.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "engine/content_hash.h"
#include "run/log_sources.h"

namespace hitsieve {

namespace {

constexpr size_t kPiece = 1 << 20;

// Reads up to `want` bytes, fewer only where the text ends.
size_t ReadFull(LogText& text, std::string& buffer, int64_t want) {
  buffer.resize(static_cast<size_t>(want));
  size_t got = 0;
  while (got < buffer.size()) {
    const size_t n = text.Read(buffer.data() + got, buffer.size() - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

// The hash of a text's first line, line feed included (of all of it without one), as the
// first_line_hash of a remembered log of `length` bytes starting with `head`.
uint64_t FirstLineHash(const std::string& head, int64_t length) {
  const std::string_view start =
      std::string_view(head).substr(0, static_cast<size_t>(std::min(length, kLogHeadBytes)));
  const size_t line_feed = start.find('\n');
  return ContentHash::Of(line_feed == std::string_view::npos ? start : start.substr(0, line_feed + 1));
}

// Whether `start` (the first bytes of a file) begins with the head of `remembered`.
bool HoldsHead(const std::string& start, const LogSource& remembered) {
  const auto head = static_cast<size_t>(remembered.head_bytes);
  return start.size() >= head &&
         ContentHash::Of(std::string_view(start).substr(0, head)) == remembered.head_hash;
}

// The number of bytes the first `length` bytes of `path` share with the text of `remembered`
// in `other`, or nullopt when `other` does not hold that text (it was rotated away, or grew
// shorter). `other` is read only as far as it must be: through the head when they part inside
// it, else through the remembered length, whose hash must match.
std::optional<int64_t> SharedWith(const std::string& path, int64_t length,
                                  const std::string& other, const LogSource& remembered) {
  LogText mine(path), theirs(other);
  ContentHash hash;
  std::optional<int64_t> shared;
  std::string a, b;
  int64_t at = 0;
  while (at < remembered.bytes) {
    int64_t want = std::min<int64_t>(kPiece, remembered.bytes - at);
    if (at < remembered.head_bytes) want = std::min(want, remembered.head_bytes - at);
    const size_t got = ReadFull(theirs, b, want);
    if (static_cast<int64_t>(got) < want) return std::nullopt;
    if (!shared) {
      const size_t mine_got = ReadFull(mine, a, std::clamp<int64_t>(length - at, 0, want));
      const auto parted = std::mismatch(a.data(), a.data() + mine_got, b.data()).first;
      if (parted != a.data() + mine_got || static_cast<int64_t>(mine_got) < want)
        shared = at + (parted - a.data());
    }
    hash.Update(std::string_view(b.data(), got));
    at += static_cast<int64_t>(got);
    if (at == remembered.head_bytes) {
      if (hash.Value() != remembered.head_hash) return std::nullopt;
      if (shared && *shared <= at) return shared;  // the checked head holds all they share
    }
  }
  if (hash.Value() != remembered.hash) return std::nullopt;
  return shared.value_or(remembered.bytes);
}

// Where the line holding byte `at` of `path` starts, and how many line feeds come before it.
std::pair<int64_t, int64_t> LineStartBefore(const std::string& path, int64_t at) {
  LogText text(path);
  std::string buffer;
  int64_t position = 0, line_start = 0, line_feeds = 0;
  while (position < at) {
    const size_t got = ReadFull(text, buffer, std::min<int64_t>(kPiece, at - position));
    if (got == 0) break;
    for (size_t i = 0; i < got; ++i) {
      if (buffer[i] != '\n') continue;
      ++line_feeds;
      line_start = position + static_cast<int64_t>(i) + 1;
    }
    position += static_cast<int64_t>(got);
  }
  return {line_start, line_feeds};
}

}  // namespace

const std::string& LogStarts::Start(const std::string& path) {
  auto [it, fresh] = starts_.try_emplace(path);
  if (fresh) {
    try {
      LogText text(path);
      ReadFull(text, it->second, kLogHeadBytes);
    } catch (const std::exception&) {
      it->second.clear();  // gone, or no longer readable: it holds nothing to find
    }
  }
  return it->second;
}

std::optional<Overlap> FindOverlap(const std::string& path, int64_t length,
                                   const std::string& head, const std::vector<LogSource>& sources,
                                   int64_t covered, LogStarts& starts) {
  if (length <= covered) return std::nullopt;
  const uint64_t first_line = FirstLineHash(head, length);
  std::optional<uint64_t> head_hash;  // of the first kLogHeadBytes, when the text has them
  if (length >= kLogHeadBytes) head_hash = ContentHash::Of(std::string_view(head).substr(0, kLogHeadBytes));

  std::optional<Overlap> best;
  for (size_t i = 0; i < sources.size(); ++i) {
    const LogSource& remembered = sources[i];
    if (remembered.bytes <= std::max(covered, best ? best->covered : 0)) continue;
    // Inside the remembered head only a copy of its start counts; beyond it, sharing the head.
    const bool inside_head = length < remembered.head_bytes;
    if (inside_head ? first_line != remembered.first_line_hash
                    : !head_hash || remembered.head_bytes != kLogHeadBytes ||
                          *head_hash != remembered.head_hash) {
      continue;
    }
    const size_t compare = static_cast<size_t>(inside_head ? length : kLogHeadBytes);
    std::vector<std::string> places = {remembered.name};
    places.insert(places.end(), starts.paths().begin(), starts.paths().end());
    std::optional<int64_t> shared;
    for (const std::string& place : places) {
      if (place == path) continue;
      const std::string& start = starts.Start(place);
      if (start.compare(0, compare, head, 0, compare) != 0 || !HoldsHead(start, remembered))
        continue;
      shared = inside_head ? std::optional<int64_t>(length)
                           : SharedWith(path, length, place, remembered);
      if (shared) break;
    }
    if (!shared) {
      if (inside_head) continue;  // maybe another log with the same first lines: counted
      throw std::runtime_error(
          path + ": begins with the same " + std::to_string(kLogHeadBytes >> 10) +
          " KiB as " + remembered.name +
          ", counted before, but does not continue it, and that text can no longer be found "
          "to tell how much of this one was counted; nothing was added (leave this file out, "
          "or analyse without --add)");
    }
    Overlap found;
    found.source = i;
    if (*shared >= length) {
      found.covered = length;
      const auto [last_start, line_feeds] = LineStartBefore(path, length);
      found.lines = line_feeds + (last_start < length ? 1 : 0);  // an unfinished last line
    } else {
      // The line where they part differs from the remembered one: it is new, whole.
      std::tie(found.covered, found.lines) = LineStartBefore(path, *shared);
    }
    if (found.covered > std::max(covered, best ? best->covered : 0)) best = found;
  }
  return best;
}

std::optional<bool> BeginsWith(const LogSource& longer, const LogSource& shorter,
                               LogStarts& starts) {
  if (shorter.bytes > longer.head_bytes) return std::nullopt;
  const std::string& start = starts.Start(longer.name);
  if (!HoldsHead(start, longer)) return std::nullopt;
  return ContentHash::Of(std::string_view(start).substr(0, static_cast<size_t>(shorter.bytes))) ==
         shorter.hash;
}

}  // namespace hitsieve
