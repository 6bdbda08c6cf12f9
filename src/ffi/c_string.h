// to_c_string: the one conversion of a returned text into a C string.
#pragma once

#include <string_view>

namespace quorvel::ffi {

// A new NUL-terminated copy on the C heap. A text holding a NUL byte becomes
// the empty string rather than being cut short.
char* to_c_string(std::string_view text) noexcept;

}  // namespace quorvel::ffi
