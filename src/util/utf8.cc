#include "util/utf8.h"

#include <cstdint>
#include <cstring>

namespace quorvel {

size_t utf8_sequence_length(const unsigned char* p, const unsigned char* end) noexcept {
  const unsigned char c = p[0];
  if (c < 0x80) return 1;
  const size_t avail = static_cast<size_t>(end - p);
  auto cont = [](unsigned char b) { return (b & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) {
    return avail >= 2 && cont(p[1]) ? 2 : 0;
  }
  if (c >= 0xE0 && c <= 0xEF) {
    if (avail < 3 || !cont(p[1]) || !cont(p[2])) return 0;
    if (c == 0xE0 && p[1] < 0xA0) return 0;  // overlong
    if (c == 0xED && p[1] > 0x9F) return 0;  // surrogates
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (avail < 4 || !cont(p[1]) || !cont(p[2]) || !cont(p[3])) return 0;
    if (c == 0xF0 && p[1] < 0x90) return 0;  // overlong
    if (c == 0xF4 && p[1] > 0x8F) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

bool is_valid_utf8(const char* data, size_t len) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  const auto* end = p + len;
  while (p < end) {
    // ASCII runs are checked eight bytes at a time.
    while (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if (word & 0x8080808080808080ULL) break;
      p += 8;
    }
    if (p == end) break;
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const size_t n = utf8_sequence_length(p, end);
    if (n == 0) return false;
    p += n;
  }
  return true;
}

}  // namespace quorvel
