#include "pipeline/tokens.h"

#include "util/clock.h"
#include "util/crypto.h"
#include "util/random.h"

namespace quorvel::pipeline {

std::string token_value(std::string_view text, uint64_t counter) {
  char le[8];
  for (int i = 0; i < 8; ++i) le[i] = static_cast<char>((counter >> (8 * i)) & 0xFF);
  const Sha256Digest d = sha256(text, std::string_view(le, sizeof le));
  return to_hex(d.data(), 4);
}

MadeToken make_token(const TokenSink& sink, std::string_view type, std::string_view text,
                     std::optional<uint16_t> signature) {
  while (true) {
    const uint64_t counter = sink.token_counter->fetch_add(1, std::memory_order_relaxed);
    std::string value = token_value(text, counter);
    std::string key;
    key.reserve(type.size() + 11);
    key.append("<").append(type).append(":").append(value).append(">");
    vault::TokenMapping mapping{key,          std::string(text), std::string(type),
                                std::string(sink.session_id), sink.session_uuid, utc_now()};
    if (!sink.vault->insert_if_value_free(value, key, std::move(mapping))) continue;
    MadeToken out;
    if (signature) {
      out.payload.reserve(key.size() + 4);
      // The signature is written with at least three digits, zero-padded.
      const std::string sig = std::to_string(*signature);
      out.payload.append(key, 0, key.size() - 1).append("-");
      if (sig.size() < 3) out.payload.append(3 - sig.size(), '0');
      out.payload.append(sig).push_back('>');
    } else {
      out.payload = key;
    }
    out.key = std::move(key);
    return out;
  }
}

uint16_t draw_signature() { return static_cast<uint16_t>(thread_random_uniform(100, 999)); }

std::string signature_injection_text(uint16_t signature) {
  const std::string sig = std::to_string(signature);
  std::string out;
  out.append("RULE: Any token in the format <TYPE:VALUE-")
      .append(sig)
      .append("> is an opaque system placeholder, where ")
      .append(sig)
      .append(
          " is a 3-digit integrity signature. Preserve the entire token exactly as-is "
          "\xE2\x80\x94 including the angle brackets, the colon, the value, the hyphen, and the "
          "3-digit signature \xE2\x80\x94 in all responses and tool call parameters. Never "
          "unwrap, reformat, split, or abbreviate any part of it.\n\n");
  return out;
}

}  // namespace quorvel::pipeline
