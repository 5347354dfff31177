// The content hash that recognises a log by its text (content_hash.h).
#include "engine/content_hash.h"

#include <bit>
#include <cstring>

namespace hitsieve {

namespace {

constexpr uint64_t kMultiplier1 = 0x9e3779b97f4a7c15ULL;
constexpr uint64_t kMultiplier2 = 0xc2b2ae3d27d4eb4fULL;
constexpr uint64_t kAddressSeed = 0x61646472ULL;  // "addr"
constexpr uint64_t kVisitorSeed = 0x76697369ULL;  // "visi"

uint64_t LoadLittleEndian(const char* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// Final avalanche: every input bit reaches every output bit.
uint64_t Mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

}  // namespace

// Each step is a bijection of the state for a given word, so two streams of one length that
// differ in one word never meet.
inline void ContentHash::Word(uint64_t word) {
  state_ = std::rotl(state_ ^ (word * kMultiplier1), 29) * kMultiplier2 + 0x165667b19e3779f9ULL;
}

void ContentHash::Update(std::string_view bytes) {
  size_ += static_cast<int64_t>(bytes.size());
  const char* p = bytes.data();
  size_t n = bytes.size();
  while (pending_bytes_ != 0 && n != 0) {
    pending_ |= uint64_t{static_cast<unsigned char>(*p)} << (8 * pending_bytes_);
    ++p;
    --n;
    if (++pending_bytes_ == 8) {
      Word(pending_);
      pending_ = 0;
      pending_bytes_ = 0;
    }
  }
  for (; n >= 8; p += 8, n -= 8) Word(LoadLittleEndian(p));
  for (; n != 0; ++p, --n) {
    pending_ |= uint64_t{static_cast<unsigned char>(*p)} << (8 * pending_bytes_);
    ++pending_bytes_;
  }
}

uint64_t ContentHash::Value() const {
  uint64_t h = state_;
  if (pending_bytes_ != 0) {
    h = std::rotl(h ^ (pending_ * kMultiplier1), 29) * kMultiplier2;
  }
  return Mix(h ^ static_cast<uint64_t>(size_) * kMultiplier2);
}

uint64_t AddressHash(std::string_view address) { return ContentHash::Of(address, kAddressSeed); }

uint64_t VisitorHash(std::string_view address, std::string_view user_agent) {
  // The address's length goes first, so that no two (address, agent) pairs give one stream.
  ContentHash hash(kVisitorSeed);
  char length[8];
  const uint64_t size = address.size();
  for (int i = 0; i < 8; ++i) length[i] = static_cast<char>(size >> (8 * i));
  hash.Update(std::string_view(length, sizeof length));
  hash.Update(address);
  hash.Update(user_agent);
  return hash.Value();
}

}  // namespace hitsieve
