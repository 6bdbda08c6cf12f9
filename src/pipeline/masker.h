// The PII pass: finds PII in every string value with the policy's patterns
// and replaces each accepted finding by a token whose original is stored in
// the session's vault.
#pragma once

#include <string_view>

#include "json/arena.h"
#include "json/value.h"
#include "pipeline/call_state.h"
#include "policy/compiled_patterns.h"

namespace quorvel::pipeline {

// Walks `value` depth first (arrays by index, objects by key; keys are never
// scanned) and tokenizes its strings in place.
void mask_value(json::Value& value, const policy::CompiledPatterns& patterns,
                const TokenSink& sink, EncodeCall& call, json::Arena& arena);

// The scan of one string: the new text (a view into `arena`, or `text` itself
// when nothing was found).
std::string_view mask_string(std::string_view text, const policy::CompiledPatterns& patterns,
                             const TokenSink& sink, EncodeCall& call, json::Arena& arena);

}  // namespace quorvel::pipeline
