// Required bytes of a pattern: a set of bytes of which every non-empty match
// contains at least one. A text holding none of them cannot match, so the
// pattern need not run on it at all.
#pragma once

#include <bitset>
#include <optional>
#include <string_view>

namespace quorvel::policy {

using ByteSet = std::bitset<256>;

// Works on a pattern in RE2 syntax (after translation). Nothing when the
// pattern can match the empty text, or uses syntax this analysis does not
// follow: then every text must be scanned.
std::optional<ByteSet> required_bytes(std::string_view re2_pattern);

}  // namespace quorvel::policy
