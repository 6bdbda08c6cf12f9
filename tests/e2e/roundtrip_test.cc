// A host's round trip: encode a conversation, let a stand-in model echo and
// rearrange the tokens, decode, and get the originals back.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "ffi/c_api_helpers.h"

namespace quorvel::testing {
namespace {

const char kPatterns[] =
    R"([{"name":"EMAIL","pattern":"[a-z.]+@[a-z]+\\.com"},)"
    R"({"name":"PHONE","pattern":"\\b555-[0-9]{4}\\b"},)"
    R"({"name":"SSN","pattern":"\\b[0-9]{3}-[0-9]{2}-[0-9]{4}\\b"}])";

const char kPayload[] = R"({
  "messages": [
    {"role": "user", "content": "I am ada@math.com, call 555-0100 or 555-0199."},
    {"role": "user", "content": "My SSN is 123-45-6789."}
  ],
  "tool_call": {"name": "lookup", "arguments": {"customer": {"email": "ada@math.com", "ids": ["123-45-6789"]}}}
})";

struct Token {
  std::string text;      // as it appears in the encoded payload
  std::string unsigned_; // without the signature
};

std::vector<Token> tokens_in(const std::string& envelope) {
  std::vector<Token> out;
  const std::regex re(R"(<([A-Z0-9_]+):([0-9a-f]{8})(-[0-9]{3})?>)");
  const std::string payload = envelope.substr(0, envelope.find(",\"signature_injection_text\""));
  for (auto it = std::sregex_iterator(payload.begin(), payload.end(), re); it != std::sregex_iterator(); ++it) {
    out.push_back({it->str(), "<" + (*it)[1].str() + ":" + (*it)[2].str() + ">"});
  }
  return out;
}

// The model answers with every token it saw, in reverse order, twice per
// string, inside a reply and inside the nested arguments of a tool call.
std::string model_reply(const std::vector<Token>& tokens, bool keep_signatures) {
  std::string all;
  for (auto it = tokens.rbegin(); it != tokens.rend(); ++it) {
    const std::string& t = keep_signatures ? it->text : it->unsigned_;
    all += t + " (" + t + ") ";
  }
  return R"({"content":")" + all + R"(","tool_calls":[{"name":"notify","arguments":{"to":{"primary":")" +
         (keep_signatures ? tokens[0].text : tokens[0].unsigned_) + R"("},"cc":[")" +
         (keep_signatures ? tokens.back().text : tokens.back().unsigned_) + R"("]}}]})";
}


class RoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    cfg_ = config(active_policy(kPatterns));
    ASSERT_NE(cfg_, nullptr);
    session_ = fresh_session("roundtrip");
    e_ = enforcer(cfg_, session_);
  }
  ConfigPtr cfg_;
  std::string session_;
  EnforcerPtr e_;
};

TEST_F(RoundTrip, SignedAndUnsignedRepliesRestoreEveryOriginal) {
  auto encoded = encode(e_, kPayload, 1);
  ASSERT_TRUE(encoded);
  for (const char* original : {"ada@math.com", "555-0100", "555-0199", "123-45-6789"}) {
    EXPECT_EQ(encoded->find(original), std::string::npos) << original;
  }
  const std::vector<Token> tokens = tokens_in(*encoded);
  ASSERT_EQ(tokens.size(), 6u) << *encoded;
  cfg_.reset();  // the host may drop its handle once the enforcer exists

  const std::string expected_content_part = "555-0199 (555-0199) ";
  for (bool keep_signatures : {true, false}) {
    const std::string reply = model_reply(tokens, keep_signatures);
    for (int mode : {0, 1, 2, 7, -1}) {
      auto out = decode(e_, reply, mode);
      ASSERT_TRUE(out);
      const bool restores = !keep_signatures || mode == 1;
      if (!restores) {
        EXPECT_NE(out->find("\"rules_applied_count\":0,"), std::string::npos) << *out;
        EXPECT_NE(out->find(tokens[0].text), std::string::npos);
        continue;
      }
      for (const Token& t : tokens) EXPECT_EQ(out->find(t.unsigned_.substr(0, 6)), std::string::npos) << *out;
      EXPECT_NE(out->find(expected_content_part), std::string::npos) << *out;
      EXPECT_NE(out->find(R"("to":{"primary":"ada@math.com"})"), std::string::npos) << *out;
      EXPECT_NE(out->find(R"("cc":["123-45-6789"])"), std::string::npos) << *out;
      // Six tokens twice in the content plus two in the arguments.
      EXPECT_NE(out->find(R"("rules_applied_count":14,"rule_names":["SSN","EMAIL","PHONE"])"),
                std::string::npos)
          << *out;
    }
  }
}

TEST_F(RoundTrip, EveryEnforcerOfTheSessionRestoresOthersDoNot) {
  auto encoded = encode(e_, kPayload, 0);
  ASSERT_TRUE(encoded);
  const std::vector<Token> tokens = tokens_in(*encoded);
  const std::string reply = model_reply(tokens, false);
  EnforcerPtr second = enforcer(cfg_, session_);
  e_.reset();  // the session outlives its enforcers
  EnforcerPtr third = enforcer(cfg_, session_);
  for (const EnforcerPtr* e : {&second, &third}) {
    auto out = decode(*e, reply);
    ASSERT_TRUE(out);
    EXPECT_NE(out->find(R"("to":{"primary":"ada@math.com"})"), std::string::npos) << *out;
  }
  for (const std::string& other : {session_ + "x", session_.substr(1), std::string()}) {
    EnforcerPtr stranger = enforcer(cfg_, other);
    auto out = decode(stranger, reply);
    ASSERT_TRUE(out);
    EXPECT_NE(out->find("\"rules_applied_count\":0,"), std::string::npos) << other << ": " << *out;
  }
}

TEST_F(RoundTrip, SameValueGetsANewTokenEachTime) {
  auto first = encode(e_, R"("ada@math.com")");
  auto second = encode(e_, R"("ada@math.com")");
  ASSERT_TRUE(first && second);
  const auto a = tokens_in(*first), b = tokens_in(*second);
  ASSERT_EQ(a.size(), 1u);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_NE(a[0].text, b[0].text);
  for (const auto& t : {a[0], b[0]}) {
    auto out = decode(e_, "\"" + t.text + "\"");
    ASSERT_TRUE(out);
    EXPECT_NE(out->find(R"("payload":"ada@math.com")"), std::string::npos) << *out;
  }
}

}  // namespace
}  // namespace quorvel::testing
