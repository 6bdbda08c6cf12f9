// U+0000 in keys, values, patterns, pattern names, policy names, mapping
// rules and session ids: kept byte for byte, written as \u0000, never a cut.
#include <gtest/gtest.h>

#include <string>

#include "hostile/hostile_helpers.h"

namespace quorvel::testing {
namespace {

using namespace std::string_literals;

TEST(Nul, KeysAndValuesPassThroughAndSortByteWise) {
  ConfigPtr cfg(quorvel_config_default());
  EnforcerPtr e = enforcer(cfg, fresh_session("nul"));
  const struct {
    const char* in;
    const char* payload;
  } cases[] = {
      {R"({"a\u0000b":"x\u0000y"})", R"({"a\u0000b":"x\u0000y"})"},
      {R"("\u0000")", R"("\u0000")"},
      {R"(["\u0000\u0000","",null])", R"(["\u0000\u0000","",null])"},
      // "a" < "a\0" < "a\0b" < "ab" byte-wise.
      {R"({"ab":1,"a\u0000b":2,"a":3,"a\u0000":4})", R"({"a":3,"a\u0000":4,"a\u0000b":2,"ab":1})"},
      // Keys equal up to the NUL are different keys; equal ones keep the last.
      {R"({"a\u0000x":1,"a\u0000y":2,"a\u0000x":3})", R"({"a\u0000x":3,"a\u0000y":2})"},
  };
  for (const auto& c : cases) {
    auto out = encode(e, c.in);
    ASSERT_TRUE(out) << c.in;
    EXPECT_EQ(*out, inactive_envelope(c.payload));
    out = decode(e, c.in);
    ASSERT_TRUE(out) << c.in;
    EXPECT_EQ(payload_of(*out), c.payload);
  }
}

TEST(Nul, RawNulByteInTheTextIsRefused) {
  ConfigPtr cfg(quorvel_config_default());
  EnforcerPtr e = enforcer(cfg, fresh_session("nul"));
  for (const std::string& text : {"\"a\0b\""s, "{\"a\0\":1}"s, "1\0"s, "\0"s}) {
    EXPECT_FALSE(encode(e, text));
    EXPECT_FALSE(decode(e, text));
  }
}

TEST(Nul, PatternsFindNulAndTokensRestoreIt) {
  ConfigPtr cfg = config(active_policy(R"([{"name":"NULID","pattern":"\\x00[0-9]+"}])"));
  ASSERT_NE(cfg, nullptr);
  EnforcerPtr e = enforcer(cfg, fresh_session("nul"));
  const std::string payload = R"({"id":"x\u0000123 and \u0000123\u0000","k\u0000":"\u0000"})";
  auto encoded = encode(e, payload);
  ASSERT_TRUE(encoded);
  const std::string p = payload_of(*encoded);
  EXPECT_EQ(p.find("123"), std::string::npos) << p;
  EXPECT_NE(encoded->find(R"("rules_applied_count":2,"rule_names":["NULID"])"), std::string::npos) << *encoded;
  auto decoded = decode(e, p);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(payload_of(*decoded), *rewritten(payload));
}

TEST(Nul, PatternNameWithNulMakesTokensThatDecodingLeaves) {
  ConfigPtr cfg = config(active_policy(R"([{"name":"N\u0000M","pattern":"secret"}])"));
  ASSERT_NE(cfg, nullptr);
  EnforcerPtr e = enforcer(cfg, fresh_session("nul"));
  auto encoded = encode(e, R"("a secret")");
  ASSERT_TRUE(encoded);
  EXPECT_NE(encoded->find(R"("payload":"a <N\u0000M:)"), std::string::npos) << *encoded;
  EXPECT_NE(encoded->find(R"("rule_names":["N\u0000M"])"), std::string::npos) << *encoded;
  const std::string p = payload_of(*encoded);
  auto decoded = decode(e, p);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(payload_of(*decoded), p);  // TYPE is not [A-Z0-9_]+: not a token
}

TEST(Nul, PolicyNameAndVersionWithNul) {
  ConfigPtr cfg = config(R"({"policy_name":"a\u0000b","policy_version":"\u0000"})");
  ASSERT_NE(cfg, nullptr);
  EXPECT_EQ(take(quorvel_config_policy_name(cfg.get())), "");
  EXPECT_EQ(take(quorvel_config_policy_version(cfg.get())), "");
  EnforcerPtr e = enforcer(cfg, fresh_session("nul"));
  auto out = encode(e, "1");
  ASSERT_TRUE(out);
  EXPECT_EQ(*out,
            R"({"payload":1,"signature_injection_text":"","rules_applied_count":0,"rule_names":[],"policy_name":"a\u0000b"})");
  out = decode(e, "1");
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, R"({"payload":1,"rules_applied_count":0,"rule_names":[],"policy_name":"a\u0000b"})");
}

TEST(Nul, MappingRulesWithNulInPathAndReplacement) {
  const std::string rules =
      R"([{"source_field":"a\u0000b.c","pii_category":"C\u0000","strategy":{"type":"replace","with":"x\u0000"}}])";
  ConfigPtr cfg = config(active_policy("[]", rules));
  ASSERT_NE(cfg, nullptr);
  EnforcerPtr e = enforcer(cfg, fresh_session("nul"));
  auto out = encode(e, R"({"a\u0000b":{"c":"secret"},"a":{"c":"kept"}})");
  ASSERT_TRUE(out);
  EXPECT_EQ(payload_of(*out), R"({"a":{"c":"kept"},"a\u0000b":{"c":"x\u0000"}})");
  EXPECT_NE(out->find(R"("rules_applied_count":1,"rule_names":["C\u0000"])"), std::string::npos) << *out;
}

TEST(Nul, SaltVariableNameWithNulIsRefused) {
  const std::string rules =
      R"([{"source_field":"a","pii_category":"A","strategy":{"type":"hash","algorithm":"sha256","salt_env":"PATH\u0000X"}}])";
  EXPECT_EQ(config(active_policy("[]", rules)), nullptr);
}

TEST(Nul, SessionIdsDifferingAfterANulAreDifferentSessions) {
  ConfigPtr cfg = config(active_policy(R"([{"name":"EMAIL","pattern":"[a-z]+@[a-z]+\\.com"}])"));
  ASSERT_NE(cfg, nullptr);
  const std::string base = fresh_session("nul");
  EnforcerPtr a = enforcer(cfg, base + "\0a"s);
  EnforcerPtr b = enforcer(cfg, base + "\0b"s);
  EnforcerPtr a2 = enforcer(cfg, base + "\0a"s);
  auto encoded = encode(a, R"("ada@math.com")");
  ASSERT_TRUE(encoded);
  const std::string p = payload_of(*encoded);
  EXPECT_EQ(payload_of(*decode(a2, p)), R"("ada@math.com")");
  EXPECT_EQ(payload_of(*decode(b, p)), p);
}

}  // namespace
}  // namespace quorvel::testing
