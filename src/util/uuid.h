// Version-4 UUIDs: drawn from the OS random source, parsed from text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

using Uuid = std::array<uint8_t, 16>;

Uuid random_uuid_v4();

// Accepts, with hex digits in either case: 32 digits; the 36-character
// 8-4-4-4-12 form; that form in braces; "urn:uuid:" followed by that form.
std::optional<Uuid> parse_uuid(std::string_view text);

// Lower-case 8-4-4-4-12 form.
std::string format_uuid(const Uuid& uuid);

}  // namespace quorvel
