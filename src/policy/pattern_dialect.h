// The regular-expression dialect of policy patterns, compiled on RE2. RE2
// lacks a few parts of the dialect, so a pattern is first translated into
// RE2's syntax; the dialect's limits are enforced here as well.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <re2/re2.h>

#include "util/result.h"

namespace quorvel::policy {

// Largest compiled program a pattern may have, in bytes.
inline constexpr int64_t kMaxPatternProgramBytes = 10 * 1024 * 1024;
// Deepest nesting of groups and repetitions a pattern may have.
inline constexpr int kMaxPatternNesting = 250;

// Rewrites a dialect pattern into RE2 syntax, or explains why it cannot be.
Result<std::string, std::string> translate_pattern(std::string_view pattern);

// Translates and compiles a pattern with the dialect's default flags (UTF-8,
// case-sensitive, "." not matching a line feed, quiet). The error is the
// engine's message.
Result<std::unique_ptr<const re2::RE2>, std::string> compile_pattern(std::string_view pattern);

}  // namespace quorvel::policy
