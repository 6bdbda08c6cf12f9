#include "pipeline/mapping_rules.h"

#include "pipeline/masking_strategy.h"

namespace quorvel::pipeline {

bool resolve_and_mask(json::Value& root, std::string_view source_field,
                      const policy::MaskingStrategy& strategy, json::Arena& arena) {
  json::Value* current = &root;
  // Segments are the pieces between full stops, empty ones included.
  while (true) {
    const size_t dot = source_field.find('.');
    const std::string_view segment = source_field.substr(0, dot);
    if (!current->is_object()) return false;
    json::Value* member = current->find(segment);
    if (member == nullptr) return false;
    if (dot == std::string_view::npos) {
      if (!member->is_string()) return false;
      *member = json::Value::make_string(arena.copy(apply_strategy(strategy, member->string())));
      return true;
    }
    current = member;
    source_field.remove_prefix(dot + 1);
  }
}

void apply_mapping_rules(json::Value& root, const std::vector<policy::MappingRule>& rules,
                         EncodeCall& call, json::Arena& arena) {
  uint32_t applied = 0;
  for (const policy::MappingRule& rule : rules) {
    if (resolve_and_mask(root, rule.source_field, rule.strategy, arena)) ++applied;
  }
  call.applied_count += applied;
  for (const policy::MappingRule& rule : rules) call.rule_names.add(rule.pii_category);
}

}  // namespace quorvel::pipeline
