// ContentHash: the 64-bit hash that recognises a log by its text.
#ifndef HITSIEVE_ENGINE_CONTENT_HASH_H_
#define HITSIEVE_ENGINE_CONTENT_HASH_H_

#include <cstdint>
#include <string_view>

namespace hitsieve {

// A 64-bit hash of a byte stream, fed in pieces of any size: the value depends only on the
// bytes, never on how they were cut. Stored in statistics files, so the function never changes.
// Fast (eight bytes per step), well mixed, not cryptographic.
class ContentHash {
 public:
  explicit ContentHash(uint64_t seed = 0) : state_(seed ^ kStart) {}

  void Update(std::string_view bytes);
  // The hash of everything fed so far; feeding may go on afterwards.
  uint64_t Value() const;
  // Number of bytes fed so far.
  int64_t size() const { return size_; }

  // One-shot forms.
  static uint64_t Of(std::string_view bytes, uint64_t seed = 0) {
    ContentHash hash(seed);
    hash.Update(bytes);
    return hash.Value();
  }

 private:
  static constexpr uint64_t kStart = 0x243f6a8885a308d3ULL;
  void Word(uint64_t word);

  uint64_t state_;
  uint64_t pending_ = 0;     // bytes of an incomplete word, little-endian
  unsigned pending_bytes_ = 0;
  int64_t size_ = 0;
};

// The hashes kept for a day's distinct client addresses and visitors (address, user agent).
uint64_t AddressHash(std::string_view address);
uint64_t VisitorHash(std::string_view address, std::string_view user_agent);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_CONTENT_HASH_H_
