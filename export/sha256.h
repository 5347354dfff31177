#ifndef HITSIEVE_EXPORT_SHA256_H_
#define HITSIEVE_EXPORT_SHA256_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// SHA-256, for the report page's Content-Security-Policy, which admits the page's own script and
// style by their digests. Small inputs only; not meant for anything secret.
namespace hitsieve {

std::array<uint8_t, 32> Sha256(std::string_view data);

// Standard base64 with padding.
std::string Base64(const uint8_t* data, size_t size);

}  // namespace hitsieve

#endif  // HITSIEVE_EXPORT_SHA256_H_
