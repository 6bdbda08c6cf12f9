// Encode and decode under a fixed active policy with mapping on and a few
// patterns. Any payload is encoded; one that reads gives an envelope, and
// one none of whose strings holds "<" or is exactly eight hex digits comes
// back from decoding the encoded payload exactly as it was read.
//
// The first byte picks the options: bit 0 signs the tokens (and decodes in
// mode 1), bit 1 decodes the encoded payload's strings as extra bare values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "enforcer/decode_flow.h"
#include "enforcer/encode_flow.h"
#include "fresh_enforcer.h"
#include "fuzz_check.h"
#include "json/arena.h"
#include "json/reader.h"
#include "json/writer.h"
#include "policy/reader.h"

namespace {

// Patterns that overlap (DIGITS inside PHONE and CARD), one that matches
// across the whole of a string (LINE), one that can match empty text
// (MAYBE) and one that matches U+0000 (NUL).
constexpr std::string_view kPolicy = R"({
  "schema_version": "1.0", "policy_name": "fuzz", "policy_version": "1", "active": true,
  "quorvel_policy": {"masking": true, "mapping": true, "masking_rules": [], "mapping_rules": [],
    "pii_config": {"backend": {"type": "regex", "patterns": [
      {"name": "EMAIL", "pattern": "[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}"},
      {"name": "PHONE", "pattern": "\\b\\d{3}-\\d{4}\\b"},
      {"name": "CARD", "pattern": "\\b(?:\\d{4}[- ]?){3}\\d{4}\\b"},
      {"name": "DIGITS", "pattern": "\\d{2,}"},
      {"name": "LINE", "pattern": "^secret:.*$"},
      {"name": "MAYBE", "pattern": "z*"},
      {"name": "NUL", "pattern": "\\x00\\w+"},
      {"name": "WORD_1", "pattern": "(?i)\\bcafé\\b|\\p{Greek}+"}
    ]}}}
})";

const quorvel::policy::PolicyRef& policy() {
  static const auto* ref = [] {
    auto read = quorvel::policy::read_policy(kPolicy);
    FUZZ_CHECK(read.ok());
    return new quorvel::policy::PolicyRef(
        quorvel::policy::PolicyRef::adopt(std::move(read).value().release()));
  }();
  return *ref;
}

bool is_bare_value(std::string_view s) {
  if (s.size() != 8) return false;
  for (char c : s) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

// Whether decoding must give this value back: no string holds "<" or is a
// bare token value.
bool round_trips(const quorvel::json::Value& v) {
  switch (v.kind) {
    case quorvel::json::Kind::kString:
      return v.string().find('<') == std::string_view::npos && !is_bare_value(v.string());
    case quorvel::json::Kind::kArray:
      for (const auto& item : v.array()) {
        if (!round_trips(item)) return false;
      }
      return true;
    case quorvel::json::Kind::kObject:
      for (const auto& m : v.object()) {
        if (!round_trips(m.value)) return false;
      }
      return true;
    default:
      return true;
  }
}

// The "payload" member of an envelope, as compact text.
std::string payload_of(const char* envelope, quorvel::json::Arena& arena) {
  auto read = quorvel::json::parse(envelope, arena);
  FUZZ_CHECK(read.ok());
  FUZZ_CHECK(read.value().is_object());
  const quorvel::json::Value* payload = read.value().find("payload");
  FUZZ_CHECK(payload != nullptr);
  return quorvel::json::to_json(*payload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool sign = (data[0] & 1) != 0;
  const bool bare_values = (data[0] & 2) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  quorvel::json::Arena arena;
  auto original = quorvel::json::parse(text, arena);
  auto enforcer = quorvel::fuzzing::fresh_enforcer(policy(), "encode-decode-fuzzer");
  char* encoded = quorvel::enforcer::encode(*enforcer, text, sign);
  FUZZ_CHECK((encoded != nullptr) == original.ok());
  if (encoded == nullptr) return 0;

  const std::string as_read = quorvel::json::to_json(original.value());
  const std::string encoded_payload = payload_of(encoded, arena);
  std::free(encoded);

  char* decoded = quorvel::enforcer::decode(*enforcer, encoded_payload, sign);
  FUZZ_CHECK(decoded != nullptr);
  const std::string decoded_payload = payload_of(decoded, arena);
  std::free(decoded);
  if (round_trips(original.value())) FUZZ_CHECK(decoded_payload == as_read);

  if (bare_values) {
    // Every token value of the encoded payload, alone in a string, is looked
    // up by value; the call succeeds whatever it finds.
    std::string probe = "[";
    for (size_t p = encoded_payload.find(':'); p != std::string::npos;
         p = encoded_payload.find(':', p + 1)) {
      const std::string value = encoded_payload.substr(p + 1, 8);
      if (!is_bare_value(value)) continue;
      probe += (probe.size() > 1 ? ",\"" : "\"") + value + "\"";
    }
    probe += "]";
    char* values = quorvel::enforcer::decode(*enforcer, probe, false);
    FUZZ_CHECK(values != nullptr);
    std::free(values);
  }
  return 0;
}
