#include "json/reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "json/writer.h"

namespace quorvel::json {
namespace {

struct RoundTrip {
  std::string input;
  std::string written;  // empty when the input must be refused
};

void PrintTo(const RoundTrip& c, std::ostream* os) { *os << c.input.substr(0, 60); }

class ReaderTable : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(ReaderTable, ParsesAndWritesBack) {
  const RoundTrip& c = GetParam();
  Arena arena;
  auto v = parse(c.input, arena);
  if (c.written.empty()) {
    EXPECT_FALSE(v.ok()) << "accepted: " << c.input;
    return;
  }
  ASSERT_TRUE(v.ok()) << c.input << ": " << v.error().message;
  EXPECT_EQ(to_json(*v), c.written) << c.input;
}

INSTANTIATE_TEST_SUITE_P(
    Json, ReaderTable,
    ::testing::Values(
        // Whitespace and trailing text.
        RoundTrip{" \t\r\n{} \n ", "{}"}, RoundTrip{"{}x", ""}, RoundTrip{"[1] [2]", ""},
        RoundTrip{"", ""}, RoundTrip{"   ", ""}, RoundTrip{"\f[]", ""},
        RoundTrip{"\xEF\xBB\xBF{}", ""},
        // Objects: sorted keys, last duplicate wins.
        RoundTrip{R"({ "b": 1, "a": [true, null] })", R"({"a":[true,null],"b":1})"},
        RoundTrip{R"({"k":1,"a":2,"k":3})", R"({"a":2,"k":3})"},
        RoundTrip{R"({"k":1,"k":{"x":2},"k":[]})", R"({"k":[]})"},
        RoundTrip{R"({"é":1,"z":2,"A":3,"":4})", R"({"":4,"A":3,"z":2,"é":1})"},
        RoundTrip{R"({"a":1,})", ""}, RoundTrip{R"({1:2})", ""}, RoundTrip{R"({"a" 1})", ""},
        RoundTrip{"[1,]", ""}, RoundTrip{"[,1]", ""}, RoundTrip{"/*c*/[]", ""},
        // Numbers: the three classes and their boundaries.
        RoundTrip{"0", "0"}, RoundTrip{"-0", "-0.0"}, RoundTrip{"-0.0", "-0.0"},
        RoundTrip{"18446744073709551615", "18446744073709551615"},
        RoundTrip{"18446744073709551616", "18446744073709551616.0"},
        RoundTrip{"-9223372036854775808", "-9223372036854775808"},
        RoundTrip{"-9223372036854775809", "-9223372036854775808.0"},
        RoundTrip{"1.50", "1.5"}, RoundTrip{"1e2", "100.0"}, RoundTrip{"1E-2", "0.01"},
        RoundTrip{"-1.5e+3", "-1500.0"}, RoundTrip{"1e400", ""}, RoundTrip{"-1e400", ""},
        RoundTrip{"1e-400", "0.0"}, RoundTrip{"4.9e-324", "5e-324"},
        RoundTrip{"1.7976931348623157e308", "1.7976931348623157e+308"},
        RoundTrip{"01", ""}, RoundTrip{"1.", ""}, RoundTrip{".5", ""}, RoundTrip{"+1", ""},
        RoundTrip{"1e", ""}, RoundTrip{"-", ""}, RoundTrip{"NaN", ""}, RoundTrip{"Infinity", ""},
        // Strings: escapes, control characters, surrogates.
        RoundTrip{R"("a\u0000b")", R"("a\u0000b")"},
        RoundTrip{R"("\"\\\/\b\f\n\r\t")", R"("\"\\/\b\f\n\r\t")"},
        RoundTrip{R"("\u001f\u007f\u00e9")", "\"\\u001f\x7f\xC3\xA9\""},
        RoundTrip{R"("\ud83d\ude00")", "\"\xF0\x9F\x98\x80\""},
        RoundTrip{R"("\ud83d")", ""}, RoundTrip{R"("\ude00")", ""},
        RoundTrip{R"("\ud83d\u0041")", ""}, RoundTrip{R"("\ud83dx")", ""},
        RoundTrip{R"("\x")", ""}, RoundTrip{R"("\u12")", ""}, RoundTrip{"\"a\tb\"", ""},
        RoundTrip{"\"a\nb\"", ""}, RoundTrip{"\"abc", ""}, RoundTrip{"\"\\", ""},
        // UTF-8.
        RoundTrip{"\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
        RoundTrip{"\"\xFF\"", ""}, RoundTrip{"\"\xC0\xAF\"", ""}, RoundTrip{"\"\xED\xA0\x80\"", ""},
        RoundTrip{"\"\xF4\x90\x80\x80\"", ""}, RoundTrip{"\"\xE2\x82\"", ""},
        // Literals.
        RoundTrip{"true", "true"}, RoundTrip{"nul", ""}, RoundTrip{"True", ""}));

std::string nested(int depth, char open, char close) {
  return std::string(static_cast<size_t>(depth), open) + std::string(static_cast<size_t>(depth), close);
}

TEST(Reader, NestingLimitIs127Levels) {
  for (auto [open, close] : {std::pair{'[', ']'}, std::pair{'{', '}'}}) {
    std::string ok127, bad128;
    if (open == '[') {
      ok127 = nested(127, '[', ']');
      bad128 = nested(128, '[', ']');
    } else {
      for (int i = 0; i < 126; ++i) ok127 += "{\"a\":";
      ok127 += "{}" + std::string(126, '}');
      bad128 = "{\"a\":" + ok127 + "}";
    }
    Arena a1, a2;
    EXPECT_TRUE(parse(ok127, a1).ok()) << open;
    auto r = parse(bad128, a2);
    ASSERT_FALSE(r.ok()) << open;
    EXPECT_NE(r.error().message.find("127"), std::string::npos);
  }
}

TEST(Reader, MillionOpeningBracketsFailWithoutDeepRecursion) {
  Arena arena;
  EXPECT_FALSE(parse(std::string(1'000'000, '['), arena).ok());
  EXPECT_FALSE(parse(std::string(1'000'000, '{'), arena).ok());
}

TEST(Reader, ErrorCarriesLineAndColumn) {
  Arena arena;
  auto r = parse("{\n  \"a\": 1,\n  \"b\": tru\n}", arena);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().line, 3u);
  EXPECT_EQ(r.error().column, 8u);
}

TEST(Reader, StringsWithoutEscapesPointIntoTheText) {
  const std::string text = R"(["plain","esc\n"])";
  Arena arena;
  auto v = parse(text, arena);
  ASSERT_TRUE(v.ok());
  const auto items = v->array();
  EXPECT_EQ(items[0].string().data(), text.data() + 2);
  EXPECT_EQ(items[1].string(), "esc\n");
}

TEST(Reader, NumberClasses) {
  Arena arena;
  auto v = parse("[5, -5, 5.0, -0, 18446744073709551616]", arena);
  ASSERT_TRUE(v.ok());
  const auto items = v->array();
  EXPECT_EQ(items[0].kind, Kind::kUint);
  EXPECT_EQ(items[1].kind, Kind::kInt);
  EXPECT_EQ(items[2].kind, Kind::kDouble);
  EXPECT_EQ(items[3].kind, Kind::kDouble);
  EXPECT_TRUE(std::signbit(items[3].double_value));
  EXPECT_EQ(items[4].kind, Kind::kDouble);
}

TEST(Reader, LargeObjectsSortAndDeduplicate) {
  std::string text = "{";
  for (int i = 99; i >= 0; --i) text += "\"k" + std::to_string(i % 50) + "\":" + std::to_string(i) + ",";
  text.back() = '}';
  Arena arena;
  auto v = parse(text, arena);
  ASSERT_TRUE(v.ok());
  ASSERT_EQ(v->size, 50u);
  for (size_t i = 1; i < v->size; ++i) EXPECT_LT(v->object()[i - 1].key, v->object()[i].key);
  // "k7" was given 57 first and 7 last.
  ASSERT_NE(v->find("k7"), nullptr);
  EXPECT_EQ(v->find("k7")->uint_value, 7u);
}

}  // namespace
}  // namespace quorvel::json
