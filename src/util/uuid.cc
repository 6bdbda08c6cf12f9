#include "util/uuid.h"

#include "util/random.h"

namespace quorvel {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads 32 hex digits, skipping hyphens at the 8-4-4-4-12 positions when
// `hyphens` is set.
std::optional<Uuid> parse_digits(std::string_view s, bool hyphens) {
  Uuid out{};
  size_t pos = 0;
  for (size_t byte = 0; byte < 16; ++byte) {
    if (hyphens && (byte == 4 || byte == 6 || byte == 8 || byte == 10)) {
      if (s[pos] != '-') return std::nullopt;
      ++pos;
    }
    const int hi = hex_value(s[pos]);
    const int lo = hex_value(s[pos + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out[byte] = static_cast<uint8_t>(hi << 4 | lo);
    pos += 2;
  }
  return out;
}

}  // namespace

Uuid random_uuid_v4() {
  Uuid u;
  fill_random(u.data(), u.size());
  u[6] = static_cast<uint8_t>((u[6] & 0x0F) | 0x40);
  u[8] = static_cast<uint8_t>((u[8] & 0x3F) | 0x80);
  return u;
}

std::optional<Uuid> parse_uuid(std::string_view text) {
  switch (text.size()) {
    case 32:
      return parse_digits(text, false);
    case 36:
      return parse_digits(text, true);
    case 38:
      if (text.front() != '{' || text.back() != '}') return std::nullopt;
      return parse_digits(text.substr(1, 36), true);
    case 45:
      if (text.substr(0, 9) != "urn:uuid:") return std::nullopt;
      return parse_digits(text.substr(9), true);
    default:
      return std::nullopt;
  }
}

std::string format_uuid(const Uuid& uuid) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(36);
  for (size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    out.push_back(kHex[uuid[i] >> 4]);
    out.push_back(kHex[uuid[i] & 0xF]);
  }
  return out;
}

}  // namespace quorvel
