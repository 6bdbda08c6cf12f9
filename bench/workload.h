// Deterministic payloads for the benchmarks: chat transcripts and tool-call
// arguments of a chosen size, with or without PII, and the policy that finds
// it.
#pragma once

#include <cstddef>
#include <string>

namespace quorvel::bench {

enum class Shape { kChat, kToolCall };

// A JSON payload of about `bytes` bytes. With `pii`, about one finding per
// 2 KiB of string text: e-mail addresses, US phone numbers, SSN-style
// numbers, card numbers, IPv4 addresses and IBANs.
std::string make_payload(Shape shape, size_t bytes, bool pii, unsigned seed = 1);

// Six patterns for those kinds plus two mapping rules on tool-call fields.
std::string benchmark_policy(bool active = true);

const char* shape_name(Shape shape);

}  // namespace quorvel::bench
