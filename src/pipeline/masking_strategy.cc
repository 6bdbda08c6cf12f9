#include "pipeline/masking_strategy.h"

#include <cstdlib>
#include <cstring>

#include "util/crypto.h"
#include "util/utf8.h"

namespace quorvel::pipeline {
namespace {

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::string partial_mask(const policy::PartialMask& m, std::string_view value) {
  const uint64_t len = value.size();
  uint64_t keep_front = std::min<uint64_t>(m.preserve_prefix, len);
  uint64_t keep_back = std::min<uint64_t>(m.preserve_suffix, len - keep_front);
  if (keep_front + keep_back == len) return std::string(value);
  // A cut inside a multi-byte character masks that whole character, so the
  // result stays valid UTF-8 and keeps its length in bytes.
  while (keep_front > 0 && is_continuation(value[keep_front])) --keep_front;
  while (keep_back > 0 && is_continuation(value[len - keep_back])) --keep_back;
  std::string out(value);
  std::memset(out.data() + keep_front, '*', len - keep_front - keep_back);
  return out;
}

std::string hash(const policy::Hash& h, std::string_view value) {
  if (h.algorithm != "sha256") return std::string(kRedacted);
  // The key is read at every application. Without a usable key the value is
  // redacted: an unkeyed hash of a short identifier can be reversed by trying
  // every candidate.
  const char* salt = std::getenv(h.salt_env.c_str());
  if (salt == nullptr || !is_valid_utf8(salt, std::strlen(salt))) return std::string(kRedacted);
  const Sha256Digest mac = hmac_sha256(salt, value);
  return to_hex(mac.data(), mac.size());
}

}  // namespace

std::string apply_strategy(const policy::MaskingStrategy& strategy, std::string_view value) {
  struct Visitor {
    std::string_view value;
    std::string operator()(const policy::Redact&) const { return std::string(kRedacted); }
    std::string operator()(const policy::PartialMask& m) const { return partial_mask(m, value); }
    std::string operator()(const policy::Replace& r) const { return r.with; }
    std::string operator()(const policy::Hash& h) const { return hash(h, value); }
  };
  return std::visit(Visitor{value}, strategy);
}

}  // namespace quorvel::pipeline
