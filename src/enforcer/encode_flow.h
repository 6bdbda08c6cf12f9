// quorvel_encode behind the C shim: parse, process per the policy, write the
// envelope.
#pragma once

#include <string_view>

#include "enforcer/enforcer.h"

namespace quorvel::enforcer {

// The encode envelope as a C-heap string, or null when the text is not UTF-8
// or not exactly one JSON value.
char* encode(const Enforcer& enforcer, std::string_view json, bool with_signature);

}  // namespace quorvel::enforcer
