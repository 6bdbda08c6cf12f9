// Strict UTF-8 validation: overlong forms, encoded surrogates and code points
// above U+10FFFF are ill-formed.
#pragma once

#include <cstddef>
#include <string_view>

namespace quorvel {

bool is_valid_utf8(const char* data, size_t len) noexcept;
inline bool is_valid_utf8(std::string_view s) noexcept { return is_valid_utf8(s.data(), s.size()); }

// Length of the well-formed sequence starting at `p` (1 to 4), or 0 if the
// bytes there are not well-formed UTF-8. `end` bounds the read.
size_t utf8_sequence_length(const unsigned char* p, const unsigned char* end) noexcept;

}  // namespace quorvel
