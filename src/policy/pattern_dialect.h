// The regular-expression dialect of policy patterns, compiled on RE2. RE2
// lacks a few parts of the dialect, so a pattern is first translated into
// RE2's syntax; the dialect's limits are enforced here as well.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <re2/re2.h>

#include "util/result.h"

namespace quorvel::policy {

// Largest compiled program a pattern may have, in bytes.
inline constexpr int64_t kMaxPatternProgramBytes = 10 * 1024 * 1024;
// Deepest nesting of groups and repetitions a pattern may have. Every group
// (capturing, named, non-capturing or with flags) adds one level to what it
// encloses, and every repetition operator adds one level to its operand: "a"
// has depth 0, "(a)" and "a*" depth 1, "(a)*" and "((a))" depth 2.
inline constexpr int kMaxPatternNesting = 250;
// Most Unicode classes a pattern may name: every \d \w \s \D \W \S and
// every \p{..} or \P{..} counts once. Each such class costs RE2 hundreds of
// ranges to parse and up to about 11 KB of program to compile, so beyond this
// count a pattern would nearly always exceed the program limit anyway; it
// is refused before RE2 spends time and memory on it.
inline constexpr int kMaxPatternUnicodeClasses = 1000;

// Rewrites a dialect pattern into RE2 syntax, or explains why it cannot be.
// The translation gives "(?<name>" RE2's spelling "(?P<name>", makes the
// shorthand classes \d \w \s \D \W \S Unicode-aware, refuses look-around,
// back-references and the constructs that RE2 would read differently, and
// checks the nesting and class-count limits. All other text passes unchanged.
Result<std::string, std::string> translate_pattern(std::string_view pattern);

// Translates and compiles a pattern with the dialect's default flags (UTF-8,
// case-sensitive, leftmost-first, "." not matching a line feed, "^" and "$"
// at the ends of the whole text, quiet). The error is the translator's or
// the engine's message.
Result<std::unique_ptr<const re2::RE2>, std::string> compile_pattern(std::string_view pattern);

}  // namespace quorvel::policy
