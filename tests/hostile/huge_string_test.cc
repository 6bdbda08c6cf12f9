// A 64 MiB string: encoded, its few findings tokenized, and decoded back to
// the very same text. Strings of 16 MiB as a run of escapes, as a key and as
// a policy name.
#include <gtest/gtest.h>

#include <string>

#include "hostile/hostile_helpers.h"

namespace quorvel::testing {
namespace {

constexpr size_t kSize = size_t{64} << 20;
constexpr size_t kSmallerSize = size_t{16} << 20;

// 64 MiB of text with multi-byte characters and, at four places, an address.
std::string huge_text() {
  const std::string unit = "héllo wörld ✓ 𝄞 lorem ipsum ";
  std::string text;
  text.reserve(kSize + unit.size());
  while (text.size() + unit.size() <= kSize) text.append(unit);
  const size_t quarter = text.size() / 4;
  // From the back, so that each place is still the start of a unit.
  for (size_t k = 4; k-- > 0;) {
    const std::string mail = " user" + std::to_string(k) + "x@example.com ";
    text.insert(k * quarter + 1000 - (k * quarter + 1000) % unit.size(), mail);
  }
  return text;
}

TEST(HugeString, EncodesAndDecodesBackExactly) {
  ConfigPtr cfg = config(active_policy(R"([{"name":"EMAIL","pattern":"[a-z0-9]+@[a-z]+\\.com"}])"));
  ASSERT_NE(cfg, nullptr);
  EnforcerPtr e = enforcer(cfg, fresh_session("huge"));
  const std::string payload = "\"" + huge_text() + "\"";

  auto encoded = encode(e, payload, 1);
  ASSERT_TRUE(encoded);
  EXPECT_NE(encoded->find("\"rules_applied_count\":4,\"rule_names\":[\"EMAIL\"]"), std::string::npos);
  EXPECT_EQ(encoded->find("@example.com"), std::string::npos);
  const std::string encoded_payload = payload_of(*encoded);
  encoded.reset();

  auto decoded = decode(e, encoded_payload, 1);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(payload_of(*decoded) == payload) << "the decoded payload differs from the original";
  EXPECT_NE(decoded->find("\"rules_applied_count\":4,"), std::string::npos);
}

TEST(HugeString, StringOfEscapesPassesThrough) {
  ConfigPtr cfg(quorvel_config_default());
  EnforcerPtr e = enforcer(cfg, fresh_session("huge"));
  // 16 MiB of "\n\u00e9" escapes: 8 bytes in, 3 bytes read, 4 written back.
  std::string payload = "\"";
  payload.reserve(kSmallerSize + 2);
  while (payload.size() + 8 < kSmallerSize) payload += "\\n\\u00e9";
  payload += "\"";
  auto encoded = encode(e, payload);
  ASSERT_TRUE(encoded);
  const size_t n = (payload.size() - 2) / 8;
  std::string expected = "\"";
  expected.reserve(n * 4 + 2);
  for (size_t i = 0; i < n; ++i) expected += "\\n\xC3\xA9";
  expected += "\"";
  EXPECT_TRUE(*encoded == inactive_envelope(expected)) << "the envelope differs";
}

TEST(HugeString, HugeKeyAndHugePolicyName) {
  const std::string big(kSmallerSize, 'k');
  ConfigPtr def(quorvel_config_default());
  EnforcerPtr e = enforcer(def, fresh_session("huge"));
  const std::string object = "{\"" + big + "\":\"v\"}";
  auto encoded = encode(e, object);
  ASSERT_TRUE(encoded);
  EXPECT_TRUE(*encoded == inactive_envelope(object));

  const std::string doc = R"({"policy_name":")" + big + R"(","policy_version":"1"})";
  ConfigPtr cfg = config(doc);
  ASSERT_NE(cfg, nullptr);
  auto name = take(quorvel_config_policy_name(cfg.get()));
  ASSERT_TRUE(name);
  EXPECT_EQ(name->size(), kSmallerSize);
}

}  // namespace
}  // namespace quorvel::testing
