// Masking strategies: what each MaskingStrategy makes of one string value.
#pragma once

#include <string>
#include <string_view>

#include "policy/model.h"

namespace quorvel::pipeline {

inline constexpr std::string_view kRedacted = "[REDACTED]";

// The masked text of `value`. Reads the process environment for Hash.
std::string apply_strategy(const policy::MaskingStrategy& strategy, std::string_view value);

}  // namespace quorvel::pipeline
