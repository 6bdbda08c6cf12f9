#include "enforcer/session_registry.h"

#include <mutex>
#include <utility>

#include "vault/in_memory_token_vault.h"

namespace quorvel::enforcer {

SessionRegistry& SessionRegistry::instance() {
  // Leaked on purpose: enforcers may outlive static destruction.
  static auto* registry = new SessionRegistry;
  return *registry;
}

SessionState SessionRegistry::get_or_create(std::string_view session_id) {
  const size_t hash = TextHash{}(session_id);
  // The top bits pick the shard; the map inside uses the low bits.
  Shard& shard = shards_[(hash >> 32) % kShardCount];
  {
    std::shared_lock lock(shard.mu);
    if (auto it = shard.sessions.find(session_id); it != shard.sessions.end()) return it->second;
  }
  // Built outside the lock; discarded if another thread registers first.
  SessionState fresh{std::make_shared<vault::InMemoryTokenVault>(), random_uuid_v4()};
  std::unique_lock lock(shard.mu);
  return shard.sessions.try_emplace(std::string(session_id), fresh).first->second;
}

size_t SessionRegistry::size() const {
  size_t total = 0;
  for (const Shard& shard : shards_) {
    std::shared_lock lock(shard.mu);
    total += shard.sessions.size();
  }
  return total;
}

}  // namespace quorvel::enforcer
