// Argument parsing of the tool's commands.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"

namespace quorvel::tools {
namespace {

constexpr OptionSpec kSpec[] = {{"policy", true}, {"signature", false}, {"replay", true, true}};

std::optional<ParsedArgs> parse(std::vector<std::string_view> args, std::string* error) {
  return parse_args(args, kSpec, 1, error);
}

TEST(ParseArgs, ReadsValuesOperandsAndRepeats) {
  std::string error;
  auto p = parse({"--policy", "p.json", "--replay=a.json", "--signature", "--replay", "b.json",
                  "x.json"},
                 &error);
  ASSERT_TRUE(p) << error;
  EXPECT_EQ(p->value("policy"), "p.json");
  EXPECT_TRUE(p->has("signature"));
  EXPECT_EQ(p->values("replay"), (std::vector<std::string>{"a.json", "b.json"}));
  EXPECT_EQ(p->operands, std::vector<std::string>{"x.json"});
  EXPECT_FALSE(p->help);
}

TEST(ParseArgs, DashIsAnOperandAndDoubleDashEndsOptions) {
  std::string error;
  auto p = parse({"-", "--policy", "-p.json"}, &error);
  ASSERT_TRUE(p) << error;
  EXPECT_EQ(p->operands, std::vector<std::string>{"-"});
  EXPECT_EQ(p->value("policy"), "-p.json");

  p = parse({"--policy", "p", "--", "--signature"}, &error);
  ASSERT_TRUE(p) << error;
  EXPECT_FALSE(p->has("signature"));
  EXPECT_EQ(p->operands, std::vector<std::string>{"--signature"});
}

TEST(ParseArgs, HelpWinsOverEveryOtherProblem) {
  std::string error;
  auto p = parse({"--bogus", "a", "b", "--help"}, &error);
  ASSERT_TRUE(p) << error;
  EXPECT_TRUE(p->help);
  // After "--" it is a file name.
  EXPECT_FALSE(parse({"--", "--help", "x"}, &error));
}

TEST(ParseArgs, RefusesWhatIsNotInTheSpec) {
  const std::pair<std::vector<std::string_view>, const char*> cases[] = {
      {{"--sign"}, "unknown option '--sign'"},
      {{"-p", "x"}, "unknown option '-p'"},
      {{"--policy"}, "option '--policy' needs a value"},
      {{"--policy=a", "--policy", "b"}, "option '--policy' given twice"},
      {{"--signature=1"}, "option '--signature' takes no value"},
      {{"a", "b"}, "unexpected argument 'b'"},
  };
  for (const auto& [args, message] : cases) {
    std::string error;
    EXPECT_FALSE(parse(args, &error)) << message;
    EXPECT_EQ(error, message);
  }
}

}  // namespace
}  // namespace quorvel::tools
