#include "policy/compiled_patterns.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "policy/pattern_dialect.h"
#include "policy/required_bytes.h"

namespace quorvel::policy {

Result<std::shared_ptr<const CompiledPatterns>, CompiledPatterns::Failure>
CompiledPatterns::compile(const std::vector<PiiPattern>& patterns) {
  auto out = std::make_shared<CompiledPatterns>();
  out->entries_.reserve(patterns.size());
  for (const PiiPattern& p : patterns) {
    auto re = compile_pattern(p.pattern);
    if (!re.ok()) return Err(Failure{p.pattern, re.error()});
    out->entries_.push_back(Entry{p.name, std::move(re).value()});
  }
  if (!out->entries_.empty()) {
    // The filter is an optimisation only: if it cannot be built, every
    // pattern runs on every string.
    auto filter = std::make_unique<re2::RE2::Set>(out->entries_.front().re->options(),
                                                  re2::RE2::UNANCHORED);
    bool ok = true;
    for (const PiiPattern& p : patterns) {
      auto translated = translate_pattern(p.pattern);
      if (!translated.ok() || filter->Add(translated.value(), nullptr) < 0) {
        ok = false;
        break;
      }
    }
    if (ok && filter->Compile()) out->filter_ = std::move(filter);
  }
  if (!out->entries_.empty() && out->entries_.size() <= 64) {
    out->byte_filter_ = true;
    for (size_t i = 0; i < patterns.size(); ++i) {
      auto translated = translate_pattern(patterns[i].pattern);
      const auto required = translated.ok() ? required_bytes(translated.value()) : std::nullopt;
      const uint64_t bit = uint64_t{1} << i;
      if (!required) {
        out->unfiltered_ |= bit;
        continue;
      }
      for (size_t b = 0; b < 256; ++b) {
        if (required->test(b)) out->by_byte_[b] |= bit;
      }
    }
    out->plan_vector_skip();
  }
  return std::shared_ptr<const CompiledPatterns>(std::move(out));
}

std::shared_ptr<const CompiledPatterns> CompiledPatterns::empty() {
  static const auto* kEmpty =
      new std::shared_ptr<const CompiledPatterns>(std::make_shared<CompiledPatterns>());
  return *kEmpty;
}

void CompiledPatterns::plan_vector_skip() {
  size_t b = 0;
  while (b < 0x80) {
    if (by_byte_[b] == 0) {
      ++b;
      continue;
    }
    const size_t lo = b;
    while (b < 0x80 && by_byte_[b] != 0) ++b;
    if (range_count_ == kMaxRanges) return;  // too scattered to pay off
    range_low_[range_count_] = static_cast<uint8_t>(lo);
    range_width_[range_count_] = static_cast<uint8_t>(b - 1 - lo);
    ++range_count_;
  }
  for (size_t h = 0x80; h < 256; ++h) high_bytes_matter_ = high_bytes_matter_ || by_byte_[h] != 0;
  vector_skip_ = true;
}

uint64_t CompiledPatterns::byte_candidates(std::string_view text) const {
  const uint64_t all = entries_.size() == 64 ? ~uint64_t{0} : (uint64_t{1} << entries_.size()) - 1;
  uint64_t found = unfiltered_;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
#if defined(__SSE2__)
  if (vector_skip_) {
    // Most text holds none of the bytes that matter: rule out 16 bytes at a
    // time, and look at single bytes only in blocks that hold one.
    __m128i low[kMaxRanges], width[kMaxRanges];
    for (size_t r = 0; r < range_count_; ++r) {
      low[r] = _mm_set1_epi8(static_cast<char>(range_low_[r]));
      width[r] = _mm_set1_epi8(static_cast<char>(range_width_[r]));
    }
    while (end - p >= 16 && found != all) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      int mask = high_bytes_matter_ ? _mm_movemask_epi8(chunk) : 0;
      for (size_t r = 0; r < range_count_ && mask == 0; ++r) {
        const __m128i d = _mm_sub_epi8(chunk, low[r]);
        mask = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(d, width[r]), d));
      }
      if (mask != 0) {
        for (int i = 0; i < 16; ++i) found |= by_byte_[p[i]];
      }
      p += 16;
    }
  }
#endif
  // Checked in blocks so that a text where every pattern is already a
  // candidate stops early.
  while (p < end && found != all) {
    const auto* block_end = end - p > 64 ? p + 64 : end;
    for (; p < block_end; ++p) found |= by_byte_[*p];
  }
  return found;
}

void CompiledPatterns::candidates(std::string_view text, std::vector<int>* out) const {
  out->clear();
  if (byte_filter_) {
    const uint64_t possible = byte_candidates(text);
    if (possible == 0) return;
    // A single candidate runs on its own; the multi-pattern filter pays off
    // only when it can rule out several at once.
    if ((possible & (possible - 1)) == 0 || filter_ == nullptr) {
      for (size_t i = 0; i < entries_.size(); ++i) {
        if (possible >> i & 1) out->push_back(static_cast<int>(i));
      }
      return;
    }
  }
  if (filter_ != nullptr) {
    re2::RE2::Set::ErrorInfo info{};
    if (filter_->Match(re2::StringPiece(text.data(), text.size()), out, &info)) {
      std::sort(out->begin(), out->end());
      return;
    }
    if (info.kind == re2::RE2::Set::kNoError) return;  // nothing matches
    out->clear();
  }
  for (size_t i = 0; i < entries_.size(); ++i) out->push_back(static_cast<int>(i));
}

}  // namespace quorvel::policy
