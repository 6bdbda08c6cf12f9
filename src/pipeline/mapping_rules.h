// Mapping rules: mask single fields addressed by dotted paths.
#pragma once

#include <string_view>
#include <vector>

#include "json/arena.h"
#include "json/value.h"
#include "pipeline/call_state.h"
#include "policy/model.h"

namespace quorvel::pipeline {

// Masks the string at `source_field` in place. False when the path does not
// resolve to a string through objects only; the payload is then unchanged.
bool resolve_and_mask(json::Value& root, std::string_view source_field,
                      const policy::MaskingStrategy& strategy, json::Arena& arena);

// Applies every rule in order, each to the result of the ones before it; adds
// the applied rules to the count and every rule's category to the names.
void apply_mapping_rules(json::Value& root, const std::vector<policy::MappingRule>& rules,
                         EncodeCall& call, json::Arena& arena);

}  // namespace quorvel::pipeline
