// Numbers at the edges of the three classes (unsigned 64-bit, signed 64-bit,
// double): each is held in the right class and written back in a form that
// reads back to the same value (a double's integral value exactly, with a
// fraction), or the payload is refused.
#include <gtest/gtest.h>

#include <string>

#include "hostile/hostile_helpers.h"

namespace quorvel::testing {
namespace {

const struct {
  const char* in;
  const char* out;  // nullptr: refused
} kCases[] = {
    // Unsigned integers up to 2^64 - 1; beyond, a double.
    {"0", "0"},
    {"18446744073709551615", "18446744073709551615"},
    {"18446744073709551616", "18446744073709551616.0"},
    {"99999999999999999999", "1e+20"},
    {"9007199254740993", "9007199254740993"},
    // Signed integers down to -2^63; below, a double; -0 is a double.
    {"-1", "-1"},
    {"-9223372036854775807", "-9223372036854775807"},
    {"-9223372036854775808", "-9223372036854775808"},
    {"-9223372036854775809", "-9223372036854775808.0"},
    {"-18446744073709551616", "-18446744073709551616.0"},
    {"-0", "-0.0"},
    {"-0.0", "-0.0"},
    {"0.0", "0.0"},
    {"0e0", "0.0"},
    {"-0e-0", "-0.0"},
    // Doubles: integral ones keep a fraction; the largest finite ones read;
    // beyond them the payload is refused.
    {"1e2", "100.0"},
    {"1E+2", "100.0"},
    {"1.50", "1.5"},
    {"1e308", "1e+308"},
    {"1.7976931348623157e308", "1.7976931348623157e+308"},
    {"-1.7976931348623157e308", "-1.7976931348623157e+308"},
    {"1.7976931348623158e308", "1.7976931348623157e+308"},
    {"1.7976931348623159e308", nullptr},
    {"1e309", nullptr},
    {"-1e309", nullptr},
    {"1e99999999999999999999", nullptr},
    {"0.0000001e310", "1e+303"},
    // The smallest normal and subnormal doubles, and underflow to zero.
    {"2.2250738585072014e-308", "2.2250738585072014e-308"},
    {"2.225073858507201e-308", "2.225073858507201e-308"},
    {"4.9406564584124654e-324", "5e-324"},
    {"5e-324", "5e-324"},
    {"3e-324", "5e-324"},
    {"2e-324", "0.0"},
    {"1e-400", "0.0"},
    {"-1e-400", "-0.0"},
    {"1e-99999999999999999999", "0.0"},
    {"123456789012345678901234567890", "1.2345678901234568e+29"},
    // Not numbers of JSON.
    {"-", nullptr},
    {"01", nullptr},
    {"-01", nullptr},
    {"1.", nullptr},
    {".5", nullptr},
    {"+1", nullptr},
    {"1e", nullptr},
    {"1e+", nullptr},
    {"0x10", nullptr},
    {"NaN", nullptr},
    {"Infinity", nullptr},
    {"-Infinity", nullptr},
};

TEST(NumberBoundaries, EachNumberAloneAndInsideAPayload) {
  ConfigPtr def(quorvel_config_default());
  EnforcerPtr plain = enforcer(def, fresh_session("numbers"));
  ConfigPtr cfg = config(active_policy(R"([{"name":"DIGITS","pattern":"[0-9]+"}])"));
  ASSERT_NE(cfg, nullptr);
  EnforcerPtr active = enforcer(cfg, fresh_session("numbers"));
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.in);
    const std::string array = std::string("[") + c.in + "," + c.in + "]";
    auto out = encode(plain, c.in);
    auto in_array = encode(plain, array);
    if (c.out == nullptr) {
      EXPECT_FALSE(out);
      EXPECT_FALSE(in_array);
      EXPECT_FALSE(decode(plain, c.in));
      continue;
    }
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, inactive_envelope(c.out));
    ASSERT_TRUE(in_array);
    EXPECT_EQ(payload_of(*in_array), std::string("[") + c.out + "," + c.out + "]");
    // What is written back reads back to the same value and text.
    auto again = encode(plain, c.out);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *out);
    // Numbers are never tokenized, whatever their digits.
    auto processed = encode(active, array, 1);
    ASSERT_TRUE(processed);
    EXPECT_NE(processed->find("\"rules_applied_count\":0,"), std::string::npos) << *processed;
  }
}

// Integers that configure the policy: only unsigned integers without
// fraction or exponent are counts; anything else fails the strict record.
TEST(NumberBoundaries, CountsInAPolicy) {
  const auto policy_with_prefix = [](const std::string& n) {
    return active_policy("[]", R"([{"source_field":"card","pii_category":"CARD","strategy":{"type":"partial_mask","preserve_prefix":)" +
                                   n + R"(,"preserve_suffix":0}}])");
  };
  ConfigPtr widest = config(policy_with_prefix("18446744073709551615"));
  ASSERT_NE(widest, nullptr);
  EnforcerPtr e = enforcer(widest, fresh_session("numbers"));
  auto out = encode(e, R"({"card":"4111111111111111"})");
  ASSERT_TRUE(out);
  EXPECT_EQ(payload_of(*out), R"({"card":"4111111111111111"})");
  EXPECT_NE(out->find(R"("rules_applied_count":1,"rule_names":["CARD"])"), std::string::npos);

  for (const char* n : {"18446744073709551616", "-1", "1.0", "1e1", "-0"}) {
    SCOPED_TRACE(n);
    // The body fails and falls back to the default body: no rule at all.
    ConfigPtr cfg = config(policy_with_prefix(n));
    ASSERT_NE(cfg, nullptr);
    EnforcerPtr f = enforcer(cfg, fresh_session("numbers"));
    auto masked = encode(f, R"({"card":"4111111111111111"})");
    ASSERT_TRUE(masked);
    EXPECT_NE(masked->find(R"("rules_applied_count":0,"rule_names":[])"), std::string::npos) << *masked;
  }
}

}  // namespace
}  // namespace quorvel::testing
