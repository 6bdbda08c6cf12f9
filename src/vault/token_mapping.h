// TokenMapping: what a token stands for, as stored in a session's vault.
#pragma once

#include <string>

#include "util/clock.h"
#include "util/uuid.h"

namespace quorvel::vault {

struct TokenMapping {
  std::string token;           // unsigned token text, equal to its vault key
  std::string original_value;  // the text the token replaced
  std::string pii_type;        // the TYPE part of the token
  std::string session_id;
  Uuid session_uuid{};
  UtcTime created_at{};
  bool operator==(const TokenMapping&) const = default;
};

}  // namespace quorvel::vault
