// The decode envelope through the public header.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "ffi/c_api_helpers.h"

namespace quorvel::testing {
namespace {

const char kEmail[] = R"([{"name":"EMAIL","pattern":"[a-z]+@[a-z]+\\.org"}])";

std::vector<std::string> tokens_in(const std::string& text) {
  std::vector<std::string> out;
  const std::regex re(R"(<[A-Z0-9_]+:[0-9a-f]{8}(-[0-9]{3})?>)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it) {
    out.push_back(it->str());
  }
  return out;
}

std::string decoded(std::string_view payload, unsigned count, std::string_view names,
                    std::string_view policy = "test") {
  return "{\"payload\":" + std::string(payload) + ",\"rules_applied_count\":" + std::to_string(count) +
         ",\"rule_names\":" + std::string(names) + ",\"policy_name\":\"" + std::string(policy) + "\"}";
}

TEST(Decode, DefaultPolicyExampleEnvelope) {
  ConfigPtr cfg(quorvel_config_default());
  EnforcerPtr e(quorvel_enforcer_create(cfg.get(), nullptr, 0));
  for (int mode : {0, 1, 2, -1}) {
    EXPECT_EQ(decode(e, R"(["x", {"k": 2}])", mode),
              R"({"payload":["x",{"k":2}],"rules_applied_count":0,"rule_names":[],"policy_name":"default"})");
  }
}

class DecodeSession : public ::testing::Test {
 protected:
  void SetUp() override {
    cfg_ = config(active_policy(kEmail));
    ASSERT_NE(cfg_, nullptr);
    session_ = fresh_session("decode");
    e_ = enforcer(cfg_, session_);
    auto out = encode(e_, R"(["ada@math.org","bob@chem.org"])", 1);
    ASSERT_TRUE(out);
    signed_ = tokens_in(*out);
    ASSERT_EQ(signed_.size(), 2u) << *out;
    for (const std::string& t : signed_) unsigned_.push_back(t.substr(0, t.size() - 5) + ">");
  }
  ConfigPtr cfg_;
  std::string session_;
  EnforcerPtr e_;
  std::vector<std::string> signed_, unsigned_;
};

TEST_F(DecodeSession, ModesDecideWhetherSignedTokensAreRestored) {
  const std::string reply = "[\"" + signed_[0] + " / " + unsigned_[1] + "\"]";
  for (int mode : {0, 2, 7, -1}) {
    EXPECT_EQ(decode(e_, reply, mode), decoded("[\"" + signed_[0] + " / bob@chem.org\"]", 1, R"(["EMAIL"])"))
        << mode;
  }
  EXPECT_EQ(decode(e_, reply, 1), decoded(R"(["ada@math.org / bob@chem.org"])", 2, R"(["EMAIL"])"));
}

TEST_F(DecodeSession, AnySignatureDigitsAreAcceptedInSignedMode) {
  const std::string other = unsigned_[0].substr(0, unsigned_[0].size() - 1) + "-000>";
  EXPECT_EQ(decode(e_, "\"" + other + "\"", 1), decoded(R"("ada@math.org")", 1, R"(["EMAIL"])"));
}

TEST_F(DecodeSession, OtherEnforcersOfTheSessionRestoreOthersDoNot) {
  EnforcerPtr same = enforcer(cfg_, session_);
  cfg_.reset();  // the enforcers keep the policy alive
  const std::string reply = "{\"to\":\"" + unsigned_[1] + "\"}";
  EXPECT_EQ(decode(same, reply), decoded(R"({"to":"bob@chem.org"})", 1, R"(["EMAIL"])"));
  ConfigPtr cfg2 = config(active_policy(kEmail));
  EnforcerPtr stranger = enforcer(cfg2, session_ + "-x");
  EXPECT_EQ(decode(stranger, reply), decoded(reply, 0, "[]"));
}

TEST_F(DecodeSession, MappingSwitchOffLeavesTokens) {
  ConfigPtr off = config(active_policy(kEmail, "[]", true, false));
  EnforcerPtr e = enforcer(off, session_);
  const std::string reply = "\"" + unsigned_[0] + "\"";
  EXPECT_EQ(decode(e, reply, 1), decoded(reply, 0, "[]"));
}

TEST_F(DecodeSession, RefusedTexts) {
  for (std::string text : {std::string("["), std::string("{} {}"), std::string(128, '[') + std::string(128, ']'),
                           std::string("\"\xC0\x80\"")}) {
    EXPECT_EQ(decode(e_, text), std::nullopt) << text;
  }
}

TEST_F(DecodeSession, BareValueIsRestored) {
  const std::string value = unsigned_[0].substr(7, 8);
  EXPECT_EQ(decode(e_, "\"" + value + "\""), decoded(R"("ada@math.org")", 1, R"(["EMAIL"])"));
  EXPECT_EQ(decode(e_, "\" " + value + "\""), decoded("\" " + value + "\"", 0, "[]"));
}

}  // namespace
}  // namespace quorvel::testing
