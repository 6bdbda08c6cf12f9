// An enforcer with a vault of its own, outside the session registry, for the
// fuzzers that encode: every input then starts from an empty vault and a
// counter at 0, so a crash replays exactly and the vault does not grow from
// one input to the next.
#pragma once

#include <memory>
#include <string_view>

#include "enforcer/enforcer.h"
#include "policy/model.h"
#include "vault/in_memory_token_vault.h"

namespace quorvel::fuzzing {

inline std::unique_ptr<enforcer::Enforcer> fresh_enforcer(policy::PolicyRef policy,
                                                          std::string_view session_id) {
  auto e = std::make_unique<enforcer::Enforcer>();
  e->session_id = std::string(session_id);
  e->policy_cell = std::make_shared<enforcer::PolicyCell>(policy);
  e->config = std::move(policy);
  e->vault = std::make_shared<vault::InMemoryTokenVault>();
  return e;
}

}  // namespace quorvel::fuzzing
