// Helpers for the hostile-input tests: the envelope's parts, and the payload
// as the library reads and writes it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ffi/c_api_helpers.h"
#include "json/arena.h"
#include "json/reader.h"
#include "json/writer.h"

namespace quorvel::testing {

// The compact text of a JSON text as read, or nothing when it does not read.
inline std::optional<std::string> rewritten(std::string_view text) {
  json::Arena arena;
  auto read = json::parse(text, arena);
  if (!read.ok()) return std::nullopt;
  return json::to_json(read.value());
}

// The payload member of an envelope, as compact text. An envelope around a
// payload of 127 levels has 128 and does not read; its payload is then cut
// out of the text, which works for envelopes with an empty injection text.
inline std::string payload_of(const std::string& envelope) {
  json::Arena arena;
  auto read = json::parse(envelope, arena);
  if (read.ok() && read.value().is_object()) {
    const json::Value* payload = read.value().find("payload");
    return payload == nullptr ? "<no payload>" : json::to_json(*payload);
  }
  const std::string_view prefix = "{\"payload\":";
  size_t end = envelope.rfind(",\"rules_applied_count\":");
  const std::string_view empty_injection = ",\"signature_injection_text\":\"\"";
  const size_t injection = envelope.rfind(empty_injection, end);
  if (injection != std::string::npos && injection + empty_injection.size() == end) end = injection;
  if (envelope.rfind(prefix, 0) != 0 || end == std::string::npos) return "<not an envelope>";
  return envelope.substr(prefix.size(), end - prefix.size());
}

// The envelope of a pass-through call on an inactive policy.
inline std::string inactive_envelope(std::string_view payload) {
  return "{\"payload\":" + std::string(payload) +
         ",\"signature_injection_text\":\"\",\"rules_applied_count\":0,\"rule_names\":[],"
         "\"policy_name\":\"default\"}";
}

}  // namespace quorvel::testing
