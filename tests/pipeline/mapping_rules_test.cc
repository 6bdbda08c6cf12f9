// Mapping rules: dotted paths through objects only, string leaves only, rules
// in order on each other's results, and the count and category list they add.
#include "pipeline/mapping_rules.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"

namespace quorvel::pipeline {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using policy::MappingRule;
using policy::PartialMask;
using policy::Redact;
using policy::Replace;

MappingRule redact(std::string path, std::string category = "CAT") {
  return MappingRule{std::move(path), std::move(category), Redact{}};
}

struct Outcome {
  std::string payload;
  uint32_t applied = 0;
  std::vector<std::string> names;
};

Outcome run(const std::string& payload, const std::vector<MappingRule>& rules,
        uint32_t applied_before = 0) {
  json::Arena arena;
  auto parsed = json::parse(payload, arena);
  EXPECT_TRUE(parsed.ok()) << payload;
  json::Value root = parsed.value();
  EncodeCall call;
  call.applied_count = applied_before;
  apply_mapping_rules(root, rules, call, arena);
  return Outcome{json::to_json(root), call.applied_count, call.rule_names.names()};
}

struct PathCase {
  const char* what;
  std::string path;
  std::string payload;
  std::string expected;  // empty: the payload stays as it was
};

TEST(MappingRules, PathsResolveThroughObjectsToStringsOnly) {
  const std::vector<PathCase> cases = {
      {"nested member", "user.name", R"({"user":{"name":"Ada"}})",
       R"({"user":{"name":"[REDACTED]"}})"},
      {"top-level member", "name", R"({"name":"Ada","other":"x"})",
       R"({"name":"[REDACTED]","other":"x"})"},
      {"siblings and key order are kept", "b.y", R"({"a":"1","b":{"x":"2","y":"3","z":"4"}})",
       R"({"a":"1","b":{"x":"2","y":"[REDACTED]","z":"4"}})"},
      {"the empty path is the empty key", "", R"({"":"Ada","a":"b"})",
       R"({"":"[REDACTED]","a":"b"})"},
      {"a trailing full stop names the empty key inside", "a.", R"({"a":{"":"Ada"},"":"x"})",
       R"({"":"x","a":{"":"[REDACTED]"}})"},
      {"an empty middle segment", "a..b", R"({"a":{"":{"b":"Ada"}}})",
       R"({"a":{"":{"b":"[REDACTED]"}}})"},
      {"a leading full stop", ".a", R"({"":{"a":"Ada"},"a":"x"})",
       R"({"":{"a":"[REDACTED]"},"a":"x"})"},
      {"keys with a full stop cannot be addressed", "a.b", R"({"a.b":"Ada"})", ""},
      {"keys are case-sensitive", "Name", R"({"name":"Ada"})", ""},
      {"a number leaf", "user.age", R"({"user":{"age":42}})", ""},
      {"a boolean leaf", "user.ok", R"({"user":{"ok":true}})", ""},
      {"a null leaf", "user.n", R"({"user":{"n":null}})", ""},
      {"an array leaf", "user.tags", R"({"user":{"tags":["Ada"]}})", ""},
      {"an object leaf", "user", R"({"user":{"name":"Ada"}})", ""},
      {"arrays are not traversed", "items.0.name", R"({"items":[{"name":"Ada"}]})", ""},
      {"\"0\" is only ever a key", "items.0.name", R"({"items":{"0":{"name":"Ada"}}})",
       R"({"items":{"0":{"name":"[REDACTED]"}}})"},
      {"missing intermediate member", "profile.name", R"({"user":{"name":"Ada"}})", ""},
      {"path goes on past a string", "user.name.first", R"({"user":{"name":"Ada"}})", ""},
      {"path stops short of the string", "a.", R"({"a":"Ada"})", ""},
      {"root array", "0", R"(["Ada"])", ""},
      {"root string", "", R"("Ada")", ""},
      {"root string, other path", "name", R"("Ada")", ""},
      {"root number", "", R"(7)", ""},
      {"empty object", "", R"({})", ""},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome r = run(c.payload, {redact(c.path)});
    if (c.expected.empty()) {
      json::Arena arena;
      EXPECT_EQ(r.payload, json::to_json(json::parse(c.payload, arena).value()));
      EXPECT_EQ(r.applied, 0u);
    } else {
      EXPECT_EQ(r.payload, c.expected);
      EXPECT_EQ(r.applied, 1u);
    }
    // The category is listed whether the rule applied or not.
    EXPECT_THAT(r.names, ElementsAre("CAT"));
  }
}

// Each rule sees the payload that the rules before it produced.
TEST(MappingRules, RulesApplyInOrderOnEachOthersResults) {
  const Outcome r = run(R"({"user":{"name":"Ada Lovelace"}})",
                    {MappingRule{"user.name", "NAME", Replace{"abcdef"}},
                     MappingRule{"user.name", "NAME", PartialMask{1, 1}}});
  EXPECT_EQ(r.payload, R"({"user":{"name":"a****f"}})");
  EXPECT_EQ(r.applied, 2u);
  EXPECT_THAT(r.names, ElementsAre("NAME"));

  const Outcome reversed = run(R"({"user":{"name":"Ada Lovelace"}})",
                           {MappingRule{"user.name", "NAME", PartialMask{1, 1}},
                            MappingRule{"user.name", "NAME", Replace{"abcdef"}}});
  EXPECT_EQ(reversed.payload, R"({"user":{"name":"abcdef"}})");
  EXPECT_EQ(reversed.applied, 2u);
}

// A rule counts when it applies, even when its strategy leaves the text as it
// was; the count is added to what the call already holds.
TEST(MappingRules, CountsAppliedRulesOnTopOfTheCall) {
  const Outcome r = run(R"({"a":"Ada","b":"Bob","n":1})",
                    {MappingRule{"a", "A", PartialMask{10, 0}}, redact("b", "B"),
                     redact("n", "N"), redact("missing", "M")},
                    5);
  EXPECT_EQ(r.payload, R"({"a":"Ada","b":"[REDACTED]","n":1})");
  EXPECT_EQ(r.applied, 7u);
  EXPECT_THAT(r.names, ElementsAre("A", "B", "N", "M"));
}

// Categories come once each, in rule order, whether their rules applied or
// not; equality is byte for byte.
TEST(MappingRules, CategoriesAreListedOnceInRuleOrder) {
  const Outcome r = run(R"({"x":"1","y":"2"})",
                    {redact("nowhere", "PHONE"), redact("x", "EMAIL"), redact("y", "PHONE"),
                     redact("z", "email"), redact("x", "EMAIL"), redact("", "")});
  EXPECT_THAT(r.names, ElementsAreArray({"PHONE", "EMAIL", "email", ""}));
  EXPECT_EQ(r.applied, 3u);
  EXPECT_EQ(r.payload, R"({"x":"[REDACTED]","y":"[REDACTED]"})");
}

TEST(MappingRules, NoRulesChangeNothing) {
  const Outcome r = run(R"({"a":"Ada"})", {}, 2);
  EXPECT_EQ(r.payload, R"({"a":"Ada"})");
  EXPECT_EQ(r.applied, 2u);
  EXPECT_TRUE(r.names.empty());
}

}  // namespace
}  // namespace quorvel::pipeline
