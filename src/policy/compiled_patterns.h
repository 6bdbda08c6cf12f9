// CompiledPatterns: a policy's Regex patterns compiled once at load, shared
// read-only by every encode that uses the policy.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <re2/re2.h>

#include "policy/model.h"
#include "util/result.h"

namespace quorvel::policy {

class CompiledPatterns {
 public:
  struct Entry {
    std::string name;
    std::unique_ptr<const re2::RE2> re;
  };

  // Compiles every pattern in order; the first failure is returned with the
  // pattern's text.
  struct Failure {
    std::string pattern;
    std::string message;
  };
  static Result<std::shared_ptr<const CompiledPatterns>, Failure> compile(
      const std::vector<PiiPattern>& patterns);
  static std::shared_ptr<const CompiledPatterns> empty();

  const std::vector<Entry>& entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
};

}  // namespace quorvel::policy
