// Builds TokenMappings for vault tests.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "util/clock.h"
#include "util/uuid.h"
#include "vault/token_mapping.h"

namespace quorvel::vault::testing {

inline constexpr Uuid kSessionA{0x0a, 0, 0, 0, 0, 0, 0x40, 0, 0x80, 0, 0, 0, 0, 0, 0, 1};
inline constexpr Uuid kSessionB{0x0b, 0, 0, 0, 0, 0, 0x40, 0, 0x80, 0, 0, 0, 0, 0, 0, 2};

// The PII type is the text between '<' and the first ':' when the token has
// that shape, else the whole token.
inline TokenMapping make_mapping(std::string_view token, std::string_view original,
                                 std::string_view session_id = "session-a",
                                 const Uuid& uuid = kSessionA, int64_t created_ns = 1) {
  TokenMapping m;
  m.token = std::string(token);
  m.original_value = std::string(original);
  const size_t colon = token.find(':');
  m.pii_type = std::string(token.size() > 1 && token.front() == '<' && colon != std::string_view::npos
                               ? token.substr(1, colon - 1)
                               : token);
  m.session_id = std::string(session_id);
  m.session_uuid = uuid;
  m.created_at = UtcTime(std::chrono::nanoseconds(created_ns));
  return m;
}

}  // namespace quorvel::vault::testing
