// TokenVault: the store of one session's token mappings. The one interface of
// the library with virtual operations; InMemoryTokenVault implements it.
#pragma once

#include <optional>
#include <string_view>

#include "util/uuid.h"
#include "vault/token_mapping.h"

namespace quorvel::vault {

class TokenVault {
 public:
  virtual ~TokenVault() = default;

  // Stores `mapping` under `token`, replacing a mapping stored under an equal
  // key.
  virtual void insert(std::string_view token, TokenMapping mapping) = 0;

  // A copy of the mapping stored under exactly `token`.
  virtual std::optional<TokenMapping> get(std::string_view token) const = 0;

  // The mapping whose key ends with ":" value ">", when exactly one key does.
  virtual std::optional<TokenMapping> find_by_value(std::string_view value) const = 0;

  // Removes every mapping of the session with this uuid.
  virtual void remove_session(const Uuid& session_uuid) = 0;

  // Removes the mapping stored under exactly `token`, if any.
  virtual void remove(std::string_view token) = 0;

  // Stores `mapping` under `token` only if no stored key ends with
  // ":" value ">", all under one lock hold. Returns whether it stored.
  virtual bool insert_if_value_free(std::string_view value, std::string_view token,
                                    TokenMapping mapping) = 0;
};

}  // namespace quorvel::vault
