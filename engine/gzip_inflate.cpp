// Reading gzip logs with ISA-L's inflate, member by member, as zlib's gzread would.
#include "engine/gzip_inflate.h"

#include <fcntl.h>
#include <isa-l/igzip_lib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "engine/line_blocks.h"
#include "engine/record_sink.h"

namespace hitsieve {

namespace {

// Compressed bytes read from the file at a time: large reads keep the decoder in its fast loop.
constexpr size_t kInputBuffer = 256 * 1024;
constexpr unsigned char kMagic0 = 0x1f;
constexpr unsigned char kMagic1 = 0x8b;
constexpr unsigned char kReservedFlags = 0xe0;
constexpr size_t kMaxCall = std::numeric_limits<uint32_t>::max();  // the decoder counts in 32 bits

}  // namespace

GzipInflater::GzipInflater(const std::string& path) {
  // Only a regular file: a pipe or a device could hang the run or never end.
  fd_ = OpenRegularFile(path, kGzipOpenError, size_);
  posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  in_ = std::make_unique_for_overwrite<unsigned char[]>(kInputBuffer);
  in_next_ = in_.get();
}

GzipInflater::~GzipInflater() { ::close(fd_); }

void GzipInflater::Fail() { throw std::runtime_error(kGzipReadError); }

bool GzipInflater::Refill() {
  if (in_end_) return false;
  unsigned char* buffer = in_.get();
  if (in_avail_ > 0 && in_next_ != buffer) std::memmove(buffer, in_next_, in_avail_);
  in_next_ = buffer;
  if (in_avail_ == kInputBuffer) return true;
  for (;;) {
    const ssize_t got = ::read(fd_, buffer + in_avail_, kInputBuffer - in_avail_);
    if (got > 0) {
      in_avail_ += static_cast<size_t>(got);
      read_ += got;
      return true;
    }
    if (got == 0) {
      in_end_ = true;
      return false;
    }
    if (errno != EINTR) Fail();
  }
}

void GzipInflater::FillAtLeast(size_t count) {
  while (in_avail_ < count && Refill()) {
  }
}

bool GzipInflater::AtMagic() const {
  return in_avail_ >= 2 && in_next_[0] == kMagic0 && in_next_[1] == kMagic1;
}

void GzipInflater::StartMember() {
  // Header flags beyond the five that gzip defines (an encrypted member, say) mean a member
  // that gzip and zlib refuse; the decoder would skip them and read on.
  FillAtLeast(4);
  if (in_avail_ >= 4 && (in_next_[3] & kReservedFlags) != 0) Fail();
  if (!state_) {
    state_ = std::make_unique<inflate_state>();
    isal_inflate_init(state_.get());
  } else {
    isal_inflate_reset(state_.get());
  }
  // Header, CRC-32 and length of every member are read and checked by the decoder.
  state_->crc_flag = ISAL_GZIP;
  mode_ = Mode::kMember;
}

size_t GzipInflater::Read(char* out, size_t count) {
  size_t done = 0;
  while (done < count) {
    switch (mode_) {
      case Mode::kStart:
      case Mode::kBetweenMembers:
        // Like gzread: two magic bytes at the very start make a gzip file; anything else,
        // including a file of one byte, is passed through. After a member, zero bytes to the
        // end are padding (gzip accepts them too); other bytes that begin no further member
        // are damage.
        FillAtLeast(2);
        if (in_avail_ == 0) {
          mode_ = Mode::kEnd;
        } else if (AtMagic()) {
          StartMember();
        } else if (mode_ == Mode::kStart) {
          mode_ = Mode::kCopy;
        } else {
          SkipZeroPadding();
          mode_ = Mode::kEnd;
        }
        break;
      case Mode::kMember:
        done += Inflate(out + done, count - done);
        break;
      case Mode::kCopy:
        if (in_avail_ == 0 && !Refill()) {
          mode_ = Mode::kEnd;
          break;
        }
        {
          const size_t take = std::min(in_avail_, count - done);
          std::memcpy(out + done, in_next_, take);
          in_next_ += take;
          in_avail_ -= take;
          done += take;
        }
        break;
      case Mode::kEnd:
        return done;
    }
  }
  return done;
}

// Consumes the rest of the file, which must be zero bytes.
void GzipInflater::SkipZeroPadding() {
  do {
    if (std::any_of(in_next_, in_next_ + in_avail_, [](unsigned char c) { return c != 0; })) {
      Fail();
    }
    in_next_ += in_avail_;
    in_avail_ = 0;
  } while (Refill());
}

// Decodes into `out` until it is full, the member ends, or the input runs dry and the file
// has no more; returns the bytes written.
size_t GzipInflater::Inflate(char* out, size_t count) {
  inflate_state& state = *state_;
  size_t done = 0;
  while (done < count) {
    if (in_avail_ == 0) Refill();
    const size_t room = std::min(count - done, kMaxCall);
    state.next_in = const_cast<unsigned char*>(in_next_);
    state.avail_in = static_cast<uint32_t>(std::min(in_avail_, kMaxCall));
    state.next_out = reinterpret_cast<unsigned char*>(out + done);
    state.avail_out = static_cast<uint32_t>(room);
    const uint32_t offered = state.avail_in;
    if (isal_inflate(&state) < 0) Fail();
    const size_t used = offered - state.avail_in;
    const size_t produced = room - state.avail_out;
    in_next_ += used;
    in_avail_ -= used;
    done += produced;
    if (state.block_state == ISAL_BLOCK_FINISH) {
      mode_ = Mode::kBetweenMembers;
      break;
    }
    // No progress with room left: the decoder needs more input than it has. None more at the
    // file's end means the member was cut short.
    if (used == 0 && produced == 0 && (in_avail_ == kInputBuffer || !Refill())) Fail();
  }
  return done;
}

}  // namespace hitsieve
