// The JSON text helpers of the tool: strings that hold the characters the
// scanner looks for must not confuse it.
#include <gtest/gtest.h>

#include <string>

#include "json_text.h"

namespace quorvel::tools {
namespace {

struct PrettyCase {
  const char* in;
  const char* out;
};

TEST(PrettyJson, IndentsContainersAndCopiesScalars) {
  const PrettyCase cases[] = {
      {"1", "1"},
      {" \"a\" ", "\"a\""},
      {"{}", "{}"},
      {"[ ]", "[]"},
      {"{\"a\":[]}", "{\n  \"a\": []\n}"},
      {"[1,{\"b\":null}]", "[\n  1,\n  {\n    \"b\": null\n  }\n]"},
      // Brackets, commas, colons, quotes and spaces inside strings stay put.
      {"{\"k{,\":\"v]: \\\"x\\\" \\\\\"}", "{\n  \"k{,\": \"v]: \\\"x\\\" \\\\\"\n}"},
      {"{ \"a\" :\n\t1 ,\r\n \"b\":-2.5e3}", "{\n  \"a\": 1,\n  \"b\": -2.5e3\n}"},
  };
  for (const auto& c : cases) EXPECT_EQ(pretty_json(c.in), c.out) << c.in;
}

TEST(MemberText, FindsTopLevelMembersOnly) {
  const std::string envelope =
      R"({"payload":{"rule_names":"inner","x":"}{"},"rule_names":["A","B"],"n":12, "s" : "t"})";
  EXPECT_EQ(member_text(envelope, "payload"), R"({"rule_names":"inner","x":"}{"})");
  EXPECT_EQ(member_text(envelope, "rule_names"), R"(["A","B"])");
  EXPECT_EQ(member_text(envelope, "n"), "12");
  EXPECT_EQ(member_text(envelope, "s"), "\"t\"");
  EXPECT_EQ(member_text(envelope, "x"), std::nullopt);
  EXPECT_EQ(member_text("[1,2]", "payload"), std::nullopt);
  EXPECT_EQ(member_text("{}", "payload"), std::nullopt);
}

TEST(StringContent, ResolvesEscapes) {
  EXPECT_EQ(string_content(R"("")"), "");
  EXPECT_EQ(string_content(R"("a\"b\\c\/d\n\t")"), "a\"b\\c/d\n\t");
  EXPECT_EQ(string_content(R"("\u00e9\u2014")"), "\xC3\xA9\xE2\x80\x94");
  EXPECT_EQ(string_content(R"("\ud83d\ude00")"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(string_content("42"), std::nullopt);
  EXPECT_EQ(string_content(R"("\x")"), std::nullopt);
  EXPECT_EQ(string_content(R"("\u12")"), std::nullopt);
}

}  // namespace
}  // namespace quorvel::tools
