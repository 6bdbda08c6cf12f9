// CompiledPatterns: a policy's Regex patterns compiled once at load, shared
// read-only by every encode that uses the policy, with a multi-pattern
// filter that tells in one scan which patterns can match a text.
#pragma once

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

  // Indices, ascending, of the patterns that match somewhere in `text`.
  // Without a filter, or when the filter runs out of memory, every index.
  void candidates(std::string_view text, std::vector<int>* out) const;

 private:
  std::vector<Entry> entries_;
  std::unique_ptr<re2::RE2::Set> filter_;
};

}  // namespace quorvel::policy
