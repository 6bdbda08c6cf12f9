// SessionRegistry: the process-wide map from session id to the state that
// every enforcer of that session shares.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "util/uuid.h"
#include "vault/token_vault.h"

namespace quorvel::enforcer {

struct SessionState {
  std::shared_ptr<vault::TokenVault> vault;
  Uuid session_uuid{};
};

class SessionRegistry {
 public:
  static constexpr size_t kShardCount = 32;

  // The registry of the process: built on first use, even when several
  // threads get there together, and never destroyed.
  static SessionRegistry& instance();

  SessionRegistry() = default;
  SessionRegistry(const SessionRegistry&) = delete;
  SessionRegistry& operator=(const SessionRegistry&) = delete;

  // The state registered for `session_id` (compared byte for byte), with an
  // empty in-memory vault and a fresh random uuid when there is none yet.
  // Callers that race on a new id all receive the one state that was stored.
  SessionState get_or_create(std::string_view session_id);

  // Number of registered sessions.
  size_t size() const;

 private:
  struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  struct alignas(64) Shard {
    mutable std::shared_mutex mu;
    std::unordered_map<std::string, SessionState, TextHash, std::equal_to<>> sessions;
  };

  std::array<Shard, kShardCount> shards_;
};

}  // namespace quorvel::enforcer
