// Enforcer: the per-conversation object behind the C handle, and the
// process-wide creation of enforcers through the session registry.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>

#include "policy/model.h"
#include "util/uuid.h"
#include "vault/token_vault.h"

namespace quorvel::enforcer {

// The policy that encode and decode read, under a shared lock, at the start
// of each call.
class PolicyCell {
 public:
  explicit PolicyCell(policy::PolicyRef policy) : policy_(std::move(policy)) {}
  policy::PolicyRef snapshot() const {
    std::shared_lock lock(mu_);
    return policy_;
  }

 private:
  mutable std::shared_mutex mu_;
  policy::PolicyRef policy_;
};

struct Enforcer {
  std::string session_id;
  policy::PolicyRef config;
  std::shared_ptr<PolicyCell> policy_cell;
  std::shared_ptr<vault::TokenVault> vault;
  Uuid session_uuid{};
  // Advanced by one atomic fetch-and-add per token value attempt.
  mutable std::atomic<uint64_t> token_counter{0};
};

// Builds an enforcer for `session_id` (already checked as UTF-8; empty for a
// missing or malformed id), registering the session on first use.
std::unique_ptr<Enforcer> create_enforcer(policy::PolicyRef config, std::string_view session_id);

}  // namespace quorvel::enforcer
