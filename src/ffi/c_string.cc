#include "ffi/c_string.h"

#include <cstring>

#include "util/fatal.h"

namespace quorvel::ffi {

char* to_c_string(std::string_view text) noexcept {
  if (text.find('\0') != std::string_view::npos) text = {};
  char* out = static_cast<char*>(checked_malloc(text.size() + 1));
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  return out;
}

}  // namespace quorvel::ffi
