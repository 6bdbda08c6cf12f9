// Policy documents: any bytes go to quorvel_config_from_json. A handle that
// loads answers its queries and its clone answers the same; the policy, read
// again by the library's reader, then encodes and decodes a small payload.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "enforcer/decode_flow.h"
#include "enforcer/encode_flow.h"
#include "fresh_enforcer.h"
#include "fuzz_check.h"
#include "policy/reader.h"
#include "quorvel/quorvel.h"

namespace {

constexpr std::string_view kPayload =
    R"({"a":"ada@math.com 555-0100 4111 1111 1111 1111","b":["x","0a1b2c3d","<EMAIL:0a1b2c3d>"],)"
    R"("c":{"d":"DE44 5001 0517 5407 3249 31","e":12,"f":{"g":"1815-12-10"}}})";

std::string take(char* s) {
  FUZZ_CHECK(s != nullptr);
  std::string out(s);
  quorvel_free(s);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Hash strategies name salt variables; this one is set.
  static const bool salt_set = setenv("QUORVEL_FUZZ_SALT", "pepper", 1) == 0;
  FUZZ_CHECK(salt_set);
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  ConfigHandle* config = quorvel_config_from_json(text.data(), text.size());
  if (config == nullptr) return 0;

  const bool active = quorvel_config_active(config);
  const std::string name = take(quorvel_config_policy_name(config));
  const std::string version = take(quorvel_config_policy_version(config));
  // A loaded policy has a name and a version, which come back empty only
  // when they hold U+0000, and that takes an escape in the document.
  if (text.find('\\') == std::string_view::npos) {
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(!version.empty());
  }

  ConfigHandle* clone = quorvel_config_clone(config);
  FUZZ_CHECK(clone != nullptr);
  quorvel_config_drop(config);
  FUZZ_CHECK(quorvel_config_active(clone) == active);
  FUZZ_CHECK(take(quorvel_config_policy_name(clone)) == name);
  FUZZ_CHECK(take(quorvel_config_policy_version(clone)) == version);
  quorvel_config_drop(clone);

  // The same document through the reader behind the C interface, and a call
  // of each kind under the policy.
  auto policy = quorvel::policy::read_policy(text);
  FUZZ_CHECK(policy.ok());
  FUZZ_CHECK(policy.value()->active == active);
  auto ref = quorvel::policy::PolicyRef::adopt(std::move(policy).value().release());
  auto enforcer = quorvel::fuzzing::fresh_enforcer(ref, "policy-fuzzer");
  for (bool with_signature : {false, true}) {
    char* encoded = quorvel::enforcer::encode(*enforcer, kPayload, with_signature);
    FUZZ_CHECK(encoded != nullptr);
    FUZZ_CHECK(std::strncmp(encoded, "{\"payload\":", 11) == 0);
    // The encoded envelope is itself a payload that decodes.
    char* decoded = quorvel::enforcer::decode(*enforcer, encoded, with_signature);
    FUZZ_CHECK(decoded != nullptr);
    std::free(decoded);
    std::free(encoded);
  }
  return 0;
}
