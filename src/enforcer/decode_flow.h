// quorvel_decode behind the C shim: parse, restore tokens per the policy,
// write the envelope.
#pragma once

#include <string_view>

#include "enforcer/enforcer.h"

namespace quorvel::enforcer {

// The decode envelope as a C-heap string, or null when the text is not UTF-8
// or not exactly one JSON value. `signed_tokens` restores signed tokens too.
char* decode(const Enforcer& enforcer, std::string_view json, bool signed_tokens);

}  // namespace quorvel::enforcer
