#include "policy/compiled_patterns.h"
#include "policy/model.h"
#include "util/clock.h"

namespace quorvel::policy {

PolicyConfig::PolicyConfig(const PolicyConfig& o)
    : RefCounted(),
      schema_version(o.schema_version),
      policy_id(o.policy_id),
      policy_name(o.policy_name),
      policy_version(o.policy_version),
      built_at(o.built_at),
      active(o.active),
      quorvel_policy(o.quorvel_policy),
      tracing_policy(o.tracing_policy),
      compiled_patterns(o.compiled_patterns) {}

std::unique_ptr<PolicyConfig> default_policy() {
  auto p = std::make_unique<PolicyConfig>();
  p->schema_version = "1.0";
  p->policy_id = random_uuid_v4();
  p->policy_name = "default";
  p->policy_version = "0.0.0";
  p->built_at = utc_now();
  p->active = false;
  p->quorvel_policy.pii_config.backend = Regex{};
  p->compiled_patterns = CompiledPatterns::empty();
  return p;
}

LlmConfig default_llm_config() {
  LlmConfig c;
  c.model = "default";
  c.system_prompt = "detect and replace pii";
  c.timeout_ms = 5000;
  return c;
}

}  // namespace quorvel::policy
