#include "enforcer/encode_flow.h"

#include <variant>

#include "enforcer/envelope.h"
#include "json/reader.h"
#include "json/writer.h"
#include "pipeline/call_state.h"
#include "pipeline/mapping_rules.h"
#include "pipeline/masker.h"
#include "pipeline/tokens.h"
#include "policy/compiled_patterns.h"

namespace quorvel::enforcer {

char* encode(const Enforcer& enforcer, std::string_view json_text, bool with_signature) {
  json::Arena arena;
  auto parsed = json::parse(json_text, arena);
  if (!parsed.ok()) return nullptr;
  json::Value payload = parsed.value();

  const policy::PolicyRef policy = enforcer.policy_cell->snapshot();
  const policy::QuorvelPolicy& body = policy->quorvel_policy;
  pipeline::EncodeCall call;
  std::string injection;
  if (policy->active && (body.masking || body.mapping)) {
    if (with_signature) call.signature = pipeline::draw_signature();
    if (body.mapping) pipeline::apply_mapping_rules(payload, body.mapping_rules, call, arena);
    // An Llm backend contributes no patterns: the walk changes nothing.
    if (std::holds_alternative<policy::Regex>(body.pii_config.backend) &&
        policy->compiled_patterns != nullptr) {
      const pipeline::TokenSink sink{enforcer.session_id, enforcer.session_uuid,
                                     &enforcer.token_counter, enforcer.vault.get()};
      pipeline::mask_value(payload, *policy->compiled_patterns, sink, call, arena);
    }
    if (call.signature && call.applied_count != 0) {
      injection = pipeline::signature_injection_text(*call.signature);
    }
  }

  json::Writer w(envelope_capacity(json_text.size()));
  w.raw("{\"payload\":");
  w.value(payload);
  w.raw(",\"signature_injection_text\":");
  w.string(injection);
  w.raw(",\"rules_applied_count\":");
  w.uint(call.applied_count);
  w.raw(",\"rule_names\":");
  write_names(w, call.rule_names.names());
  w.raw(",\"policy_name\":");
  w.string(policy->policy_name);
  w.raw('}');
  return w.release();
}

}  // namespace quorvel::enforcer
