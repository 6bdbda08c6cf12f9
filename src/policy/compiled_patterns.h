// CompiledPatterns: a policy's Regex patterns compiled once at load, shared
// read-only by every encode that uses the policy, with a multi-pattern
// filter that tells in one scan which patterns can match a text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <re2/re2.h>
#include <re2/set.h>

#include "policy/model.h"
#include "util/result.h"

namespace quorvel::policy {

class CompiledPatterns {
 public:
  struct Entry {
    std::string name;
    std::unique_ptr<const re2::RE2> re;
  };
  struct Failure {
    std::string pattern;
    std::string message;
  };

  // Compiles every pattern in order; the first failure comes back with the
  // pattern's text and the engine's message.
  static Result<std::shared_ptr<const CompiledPatterns>, Failure> compile(
      const std::vector<PiiPattern>& patterns);
  static std::shared_ptr<const CompiledPatterns> empty();

  const std::vector<Entry>& entries() const { return entries_; }
  bool has_filter() const { return filter_ != nullptr; }

  // Indices, ascending, of the patterns that can match somewhere in `text`:
  // those whose required bytes occur in it, narrowed by the multi-pattern
  // filter to those that do match when it can run.
  void candidates(std::string_view text, std::vector<int>* out) const;

 private:
  // Patterns that may run on `text` judging by the bytes it holds, as bits
  // of pattern indices (only with at most 64 patterns).
  uint64_t byte_candidates(std::string_view text) const;
  void plan_vector_skip();

  std::vector<Entry> entries_;
  std::unique_ptr<re2::RE2::Set> filter_;
  // For every byte, the patterns that one of their required bytes equals;
  // `unfiltered_` holds the patterns without required bytes, which always run.
  bool byte_filter_ = false;
  uint64_t unfiltered_ = 0;
  uint64_t by_byte_[256] = {};
  // The ASCII bytes that matter to some pattern as at most kMaxRanges
  // ranges, so that 16 bytes at a time can be found uninteresting; and
  // whether any non-ASCII byte matters.
  static constexpr size_t kMaxRanges = 6;
  size_t range_count_ = 0;
  uint8_t range_low_[kMaxRanges] = {};
  uint8_t range_width_[kMaxRanges] = {};
  bool high_bytes_matter_ = false;
  bool vector_skip_ = false;
};

}  // namespace quorvel::policy
