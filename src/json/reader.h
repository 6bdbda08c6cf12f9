// Strict JSON reader: exactly one value, surrounded only by space, tab, line
// feed and carriage return; nesting at most 127 levels; strict UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "json/arena.h"
#include "json/value.h"
#include "util/result.h"

namespace quorvel::json {

inline constexpr int kMaxDepth = 127;

struct ParseError {
  std::string message;
  size_t line = 0;    // 1-based
  size_t column = 0;  // 1-based, in bytes
  size_t offset = 0;  // 0-based byte offset
};

// Parses `text` into `arena`. Strings without escapes are views into `text`,
// so `text` must outlive the result.
Result<Value, ParseError> parse(std::string_view text, Arena& arena);

}  // namespace quorvel::json
