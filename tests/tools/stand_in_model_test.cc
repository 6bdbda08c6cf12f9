// The stand-in model: which texts it takes for tokens, and that its reply
// carries each token in the forms decode restores.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json_text.h"
#include "stand_in_model.h"

namespace quorvel::tools {
namespace {

std::vector<std::string> texts(const std::vector<Token>& tokens) {
  std::vector<std::string> out;
  for (const Token& t : tokens) out.push_back(t.text);
  return out;
}

TEST(FindTokens, TakesOnlyWhatDecodeRecognises) {
  struct Case {
    const char* json;
    std::vector<std::string> tokens;
  };
  const Case cases[] = {
      {R"("<EMAIL:0a1b2c3d>")", {"<EMAIL:0a1b2c3d>"}},
      {R"("<SSN_2:0A1B2C3D-417>")", {"<SSN_2:0A1B2C3D-417>"}},
      {R"("<email:0a1b2c3d> <EMAIL:0a1b2c3> <EMAIL:0a1b2c3dd> <:0a1b2c3d>")", {}},
      {R"("<EMAIL:0a1b2c3d-41> <EMAIL:0a1b2c3d-4177> <EMAIL:0a1b2c3d")", {}},
      {R"("<<EMAIL:0a1b2c3d>>")", {"<EMAIL:0a1b2c3d>"}},
      {R"(["<A:00000001>","<B:00000002>","<A:00000001>","<A:00000001-123>"])",
       {"<A:00000001>", "<B:00000002>", "<A:00000001-123>"}},
  };
  for (const Case& c : cases) EXPECT_EQ(texts(find_tokens(c.json)), c.tokens) << c.json;

  const std::vector<Token> t = find_tokens(R"("<PHONE:eaa59f10-792>")");
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].unsigned_, "<PHONE:eaa59f10>");
  EXPECT_EQ(t[0].value, "eaa59f10");
}

TEST(StandInReply, QuotesEveryTokenSignedAndUnsigned) {
  const std::vector<Token> tokens = find_tokens(R"(["<A:00000001-123>","<B:00000002-123>"])");
  const std::string reply = stand_in_reply(tokens);
  const auto content = string_content(member_text(reply, "content").value_or(""));
  ASSERT_TRUE(content);
  EXPECT_NE(content->find("<B:00000002-123>, <A:00000001-123>"), std::string::npos) << *content;

  const std::string calls(member_text(reply, "tool_calls").value_or(""));
  EXPECT_NE(calls.find(R"("mentioned":["<B:00000002>","<A:00000001>"])"), std::string::npos)
      << calls;
  EXPECT_NE(calls.find(R"("reference":"00000001")"), std::string::npos) << calls;
  EXPECT_NE(calls.find(R"("to":"<A:00000001>")"), std::string::npos) << calls;
}

TEST(StandInReply, WithoutTokensIsPlainText) {
  const std::string reply = stand_in_reply({});
  EXPECT_EQ(member_text(reply, "tool_calls"), std::nullopt);
  EXPECT_TRUE(find_tokens(reply).empty());
}

}  // namespace
}  // namespace quorvel::tools
