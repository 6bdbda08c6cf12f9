#include "enforcer/enforcer.h"

#include <utility>

#include "enforcer/session_registry.h"

namespace quorvel::enforcer {

std::unique_ptr<Enforcer> create_enforcer(policy::PolicyRef config, std::string_view session_id) {
  if (!config) return nullptr;
  SessionState state = SessionRegistry::instance().get_or_create(session_id);
  auto enforcer = std::make_unique<Enforcer>();
  enforcer->session_id = std::string(session_id);
  enforcer->policy_cell = std::make_shared<PolicyCell>(config);
  enforcer->config = std::move(config);
  enforcer->vault = std::move(state.vault);
  enforcer->session_uuid = state.session_uuid;
  return enforcer;
}

}  // namespace quorvel::enforcer
