// Surrogates: a \u escape that leaves one unpaired, and surrogates encoded
// as UTF-8 bytes, are refused everywhere; proper pairs become one character.
#include <gtest/gtest.h>

#include <string>

#include "hostile/hostile_helpers.h"

namespace quorvel::testing {
namespace {

const char* const kIllFormed[] = {
    R"("\ud800")",        R"("\udbff")",        R"("\udc00")",         R"("\udfff")",
    R"("\ud800x")",       R"("x\udc00")",       R"("\ud800\u0041")",   R"("\ud800\ud800")",
    R"("\udc00\ud800")",  R"("\udbff\ue000")",  R"("\ud800\")",        R"("\ud800\u")",
    R"("\ud800\udc0")",   R"("\ud800\\udc00")", R"("\ud800\n\udc00")", R"("\uD800")",
    R"({"\ud800":1})",    R"(["ok","\udfff"])", "\"\xED\xA0\x80\"",    "\"\xED\xBF\xBF\"",
    "\"\xED\xA0\x80\xED\xB0\x80\"",  // CESU-8 of U+10000
    "{\"\xED\xB0\x80\":1}",
};

const struct {
  const char* in;
  const char* out;  // the payload as written back
} kPairs[] = {
    {R"("\ud800\udc00")", "\"\xF0\x90\x80\x80\""},
    {R"("\uD83D\uDE00")", "\"\xF0\x9F\x98\x80\""},
    {R"("\udbff\udfff")", "\"\xF4\x8F\xBF\xBF\""},
    {R"("\ud7ff\ue000")", "\"\xED\x9F\xBF\xEE\x80\x80\""},
    {R"({"\ud834\udd1e":"\ud834\udd1e"})", "{\"\xF0\x9D\x84\x9E\":\"\xF0\x9D\x84\x9E\"}"},
};

TEST(Surrogates, UnpairedOrEncodedSurrogatesAreRefused) {
  ConfigPtr cfg = config(active_policy(R"([{"name":"ANY","pattern":"."}])"));
  ASSERT_NE(cfg, nullptr);
  EnforcerPtr e = enforcer(cfg, fresh_session("surrogates"));
  for (const char* text : kIllFormed) {
    EXPECT_FALSE(encode(e, text, 1)) << text;
    EXPECT_FALSE(decode(e, text, 1)) << text;
    const std::string doc = std::string(R"({"policy_name":)") + text + "}";
    EXPECT_EQ(config(doc), nullptr) << doc;
  }
}

TEST(Surrogates, PairsBecomeOneCharacterAndRoundTrip) {
  ConfigPtr def(quorvel_config_default());
  EnforcerPtr plain = enforcer(def, fresh_session("surrogates"));
  // Every character a token of its own: a pair must not be split.
  ConfigPtr cfg = config(active_policy(R"([{"name":"ANY","pattern":"."}])"));
  ASSERT_NE(cfg, nullptr);
  EnforcerPtr e = enforcer(cfg, fresh_session("surrogates"));
  for (const auto& c : kPairs) {
    auto out = encode(plain, c.in);
    ASSERT_TRUE(out) << c.in;
    EXPECT_EQ(*out, inactive_envelope(c.out));
    auto encoded = encode(e, c.in);
    ASSERT_TRUE(encoded) << c.in;
    auto decoded = decode(e, payload_of(*encoded));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(payload_of(*decoded), c.out);
  }
}

TEST(Surrogates, SessionIdWithAnEncodedSurrogateIsTheEmptySession) {
  ConfigPtr cfg = config(active_policy(R"([{"name":"EMAIL","pattern":"[a-z]+@[a-z]+\\.com"}])"));
  ASSERT_NE(cfg, nullptr);
  EnforcerPtr empty = enforcer(cfg, "");
  EnforcerPtr cesu = enforcer(cfg, "\xED\xA0\x80");
  auto encoded = encode(empty, R"("ada@math.com")");
  ASSERT_TRUE(encoded);
  auto decoded = decode(cesu, payload_of(*encoded));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(payload_of(*decoded), R"("ada@math.com")");
}

}  // namespace
}  // namespace quorvel::testing
