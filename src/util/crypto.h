// SHA-256 and HMAC-SHA-256 through OpenSSL's libcrypto.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

using Sha256Digest = std::array<uint8_t, 32>;

// SHA-256 over the concatenation of two byte strings.
Sha256Digest sha256(std::string_view a, std::string_view b = {}) noexcept;

Sha256Digest hmac_sha256(std::string_view key, std::string_view message) noexcept;

// Lower-case hexadecimal, high nibble first.
std::string to_hex(const uint8_t* bytes, size_t n);

}  // namespace quorvel
