// Fast scans over string bytes for the characters that end a run of plain
// text: a quote, a backslash or a control character below U+0020.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvel::json {

struct StringSpecialTable {
  bool special[256];
  constexpr StringSpecialTable() : special() {
    for (int c = 0; c < 256; ++c) special[c] = c == '"' || c == '\\' || c < 0x20;
  }
};
inline constexpr StringSpecialTable kStringSpecial;

inline bool is_string_special(unsigned char c) { return kStringSpecial.special[c]; }

// First byte in [p, end) that is special, or end.
inline const char* find_string_special(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  // Signed compares: a control byte is at least 0 and below 0x20; bytes from
  // 0x80 up are negative as signed and must not count.
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i minus_one = _mm_set1_epi8(-1);
  while (end - p >= 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i is_quote = _mm_cmpeq_epi8(chunk, quote);
    const __m128i is_backslash = _mm_cmpeq_epi8(chunk, backslash);
    const __m128i is_control =
        _mm_and_si128(_mm_cmplt_epi8(chunk, space), _mm_cmpgt_epi8(chunk, minus_one));
    const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(is_quote, is_backslash), is_control));
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  while (p < end && !is_string_special(static_cast<unsigned char>(*p))) ++p;
  return p;
}

}  // namespace quorvel::json
