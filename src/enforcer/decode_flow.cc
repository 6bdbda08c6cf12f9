#include "enforcer/decode_flow.h"

#include "enforcer/detokenizer.h"
#include "enforcer/envelope.h"
#include "json/reader.h"
#include "json/writer.h"

namespace quorvel::enforcer {

char* decode(const Enforcer& enforcer, std::string_view json_text, bool signed_tokens) {
  json::Arena arena;
  auto parsed = json::parse(json_text, arena);
  if (!parsed.ok()) return nullptr;
  json::Value payload = parsed.value();

  const policy::PolicyRef policy = enforcer.policy_cell->snapshot();
  DetokenizeStats stats;
  if (policy->active && policy->quorvel_policy.mapping) {
    detokenize(payload, *enforcer.vault, signed_tokens, stats, arena);
  }

  json::Writer w(envelope_capacity(json_text.size()));
  w.raw("{\"payload\":");
  w.value(payload);
  w.raw(",\"rules_applied_count\":");
  w.uint(stats.count);
  w.raw(",\"rule_names\":");
  write_names(w, stats.names.names());
  w.raw(",\"policy_name\":");
  w.string(policy->policy_name);
  w.raw('}');
  return w.release();
}

}  // namespace quorvel::enforcer
