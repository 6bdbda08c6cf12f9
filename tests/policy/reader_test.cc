// The policy document reader: documents and the policy or error they give,
// the report of what was taken, the defaults, and malformed input.
#include "policy/reader.h"

#include <gtest/gtest.h>
#include <re2/re2.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "policy/compiled_patterns.h"

namespace quorvel::policy {
namespace {

// Salt variables the documents below name.
constexpr const char* kSaltSet = "QUORVEL_READER_TEST_SALT_SET";
constexpr const char* kSaltUnset = "QUORVEL_READER_TEST_SALT_UNSET";
constexpr const char* kSaltNotUtf8 = "QUORVEL_READER_TEST_SALT_NOT_UTF8";
constexpr const char* kSaltWithEquals = "QUORVEL_READER_TEST_SALT_EQ";

class SaltEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv(kSaltSet, "k3y", 1);
    unsetenv(kSaltUnset);
    setenv(kSaltNotUtf8, "\xC3\x28", 1);
    // getenv("..._EQ=a") would find this one and return "b".
    setenv(kSaltWithEquals, "a=b", 1);
  }
};
[[maybe_unused]] const auto* const kSaltEnvironment = ::testing::AddGlobalTestEnvironment(new SaltEnvironment);

std::string describe(const PolicyLoadError& e) {
  using E = PolicyLoadError;
  switch (e.kind()) {
    case E::Kind::Parse:
      return "Parse";
    case E::Kind::UnsupportedSchema:
      return "UnsupportedSchema " + std::get<E::UnsupportedSchema>(e.data).schema_version;
    case E::Kind::EmptyField:
      return "EmptyField " + std::get<E::EmptyField>(e.data).field;
    case E::Kind::InvalidPattern:
      return "InvalidPattern " + std::get<E::InvalidPattern>(e.data).pattern;
    case E::Kind::MissingSalt:
      return "MissingSalt " + std::get<E::MissingSalt>(e.data).variable;
  }
  return "?";
}

bool is_random_v4(const Uuid& u) { return (u[6] & 0xF0) == 0x40 && (u[8] & 0xC0) == 0x80; }

// Everything a loaded policy must hold, whatever the document said.
void expect_loaded_invariants(const PolicyConfig& p) {
  EXPECT_EQ(p.schema_version, "1.0");
  EXPECT_FALSE(p.policy_name.empty());
  EXPECT_FALSE(p.policy_version.empty());
  ASSERT_NE(p.compiled_patterns, nullptr);
  if (const auto* regex = std::get_if<Regex>(&p.quorvel_policy.pii_config.backend)) {
    ASSERT_EQ(p.compiled_patterns->entries().size(), regex->patterns.size());
    for (size_t i = 0; i < regex->patterns.size(); ++i) {
      EXPECT_EQ(p.compiled_patterns->entries()[i].name, regex->patterns[i].name);
      ASSERT_NE(p.compiled_patterns->entries()[i].re, nullptr);
    }
  } else {
    EXPECT_TRUE(p.compiled_patterns->entries().empty());
  }
}

// `got` equals `want` in every field; an all-zero policy_id in `want` asks
// for a freshly drawn one instead.
void expect_policy(const PolicyConfig& got, const PolicyConfig& want) {
  EXPECT_EQ(got.schema_version, want.schema_version);
  if (want.policy_id == Uuid{}) {
    EXPECT_TRUE(is_random_v4(got.policy_id)) << format_uuid(got.policy_id);
  } else {
    EXPECT_EQ(format_uuid(got.policy_id), format_uuid(want.policy_id));
  }
  EXPECT_EQ(got.policy_name, want.policy_name);
  EXPECT_EQ(got.policy_version, want.policy_version);
  EXPECT_EQ(got.active, want.active);
  EXPECT_TRUE(got.quorvel_policy == want.quorvel_policy);
  EXPECT_TRUE(got.tracing_policy == want.tracing_policy);
  expect_loaded_invariants(got);
}

using Change = std::function<void(PolicyConfig&)>;

struct LoadCase {
  std::string label;
  std::string document;
  Change change;      // the expected policy is the default one with this change
  std::string error;  // describe() of the error, when the load must fail
};

LoadCase loads(std::string label, std::string document, Change change = {}) {
  return {std::move(label), std::move(document), std::move(change), {}};
}
LoadCase fails(std::string label, std::string document, std::string error) {
  return {std::move(label), std::move(document), {}, std::move(error)};
}

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.document.substr(0, 120); }

class ReadPolicyTable : public ::testing::TestWithParam<LoadCase> {};

std::string case_name(const ::testing::TestParamInfo<LoadCase>& param) {
  return param.param.label;
}

TEST_P(ReadPolicyTable, GivesPolicyOrError) {
  const LoadCase& c = GetParam();
  auto r = read_policy(c.document);
  if (!c.error.empty()) {
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(describe(r.error()), c.error);
    return;
  }
  ASSERT_TRUE(r.ok()) << describe(r.error());
  std::unique_ptr<PolicyConfig> want = default_policy();
  want->policy_id = Uuid{};
  if (c.change) c.change(*want);
  expect_policy(**r, *want);
}

// ---- building blocks of the documents

const char* const kStrictBody = R"({
  "masking": true, "mapping": true,
  "masking_rules": [{"pii_name": "EMAIL", "strategy": {"type": "partial_mask",
                     "preserve_prefix": 2, "preserve_suffix": 3}}],
  "mapping_rules": [{"source_field": "user.name", "pii_category": "NAME",
                     "strategy": {"type": "replace", "with": "***"}}],
  "pii_config": {"backend": {"type": "regex",
                 "patterns": [{"name": "EMAIL", "pattern": "[a-z]+@[a-z]+"}]}}})";

QuorvelPolicy strict_body() {
  QuorvelPolicy b;
  b.masking = true;
  b.mapping = true;
  b.masking_rules = {{"EMAIL", PartialMask{2, 3}}};
  b.mapping_rules = {{"user.name", "NAME", Replace{"***"}}};
  b.pii_config.backend = Regex{{{"EMAIL", "[a-z]+@[a-z]+"}}};
  return b;
}

// A strict body with one Hash strategy in each rule list.
std::string hash_body(const std::string& masking_salt, const std::string& mapping_salt) {
  return R"({"quorvel_policy": {"masking": true, "mapping": true,
      "mapping_rules": [["a.b", "CAT", ["hash", "sha256", ")" +
         mapping_salt + R"("]]],
      "masking_rules": [["EMAIL", ["hash", "sha256", ")" +
         masking_salt + R"("]]],
      "pii_config": [["regex", []]]}})";
}

QuorvelPolicy hash_policy(const std::string& masking_salt, const std::string& mapping_salt) {
  QuorvelPolicy b;
  b.masking = true;
  b.mapping = true;
  b.masking_rules = {{"EMAIL", Hash{"sha256", masking_salt}}};
  b.mapping_rules = {{"a.b", "CAT", Hash{"sha256", mapping_salt}}};
  b.pii_config.backend = Regex{};
  return b;
}

const char* const kTracing = R"({"enabled": false, "capture_all_nodes": false,
    "capture_inputs": true, "capture_outputs": false, "capture_timestamps": true,
    "capture_llm_metadata": true, "capture_cot": true, "capture_tool_calls": false,
    "capture_agent_transitions": true, "capture_human_overrides": false,
    "output_sink": {"type": "file", "path": "/var/trace"}})";

TracingPolicy tracing() {
  return TracingPolicy{false, false, true, false, true, true, true, false, true, false,
                       File{"/var/trace"}};
}

const Uuid kId = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
            0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89};

const auto activate = [](PolicyConfig& p) { p.active = true; };

QuorvelPolicy llm_body(std::string url, LlmConfig config, bool mapping = false) {
  QuorvelPolicy b;
  b.masking = true;
  b.mapping = mapping;
  b.pii_config.backend = Llm{std::move(url), std::move(config)};
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    TopLevel, ReadPolicyTable,
    ::testing::Values(
        loads("EmptyObject", "{}"), loads("Array", "[]"), loads("Null", "null"),
        loads("Number", "42"), loads("String", R"("policy")"),
        loads("ObjectInWhitespace", " \r\n\t{}  \n\n "),
        loads("UnknownMembersIgnored", R"({"extra": 1, "Policy_Name": "x"})"),
        fails("EmptyText", "", "Parse"), fails("OnlySpaces", "  ", "Parse"),
        fails("TrailingLetter", "{}x", "Parse"), fails("TwoValues", "{} {}", "Parse"),
        fails("TruncatedObject", R"({"policy_name": "a")", "Parse"),
        // Scalar members: taken only as strings.
        loads("Names", R"({"policy_name": "billing", "policy_version": "2.1"})",
              [](PolicyConfig& p) {
                p.policy_name = "billing";
                p.policy_version = "2.1";
              }),
        loads("NumericNameIgnored", R"({"policy_name": 5, "policy_version": ["x"]})"),
        loads("NumericSchemaIgnored", R"({"schema_version": 1.0})"),
        loads("SchemaOne", R"({"schema_version": "1.0"})"),
        fails("SchemaTwo", R"({"schema_version": "2.0"})", "UnsupportedSchema 2.0"),
        fails("SchemaEmpty", R"({"schema_version": ""})", "UnsupportedSchema "),
        fails("SchemaPadded", R"({"schema_version": "1.0 "})", "UnsupportedSchema 1.0 "),
        fails("SchemaLonger", R"({"schema_version": "1.00"})", "UnsupportedSchema 1.00"),
        fails("EmptyName", R"({"policy_name": ""})", "EmptyField policy_name"),
        fails("EmptyVersion", R"({"policy_version": ""})", "EmptyField policy_version"),
        fails("BothNamesEmpty", R"({"policy_version": "", "policy_name": ""})",
              "EmptyField policy_name"),
        fails("SchemaCheckedBeforeName", R"({"policy_name": "", "schema_version": "2.0"})",
              "UnsupportedSchema 2.0"),
        loads("DuplicateKeepsLater", R"({"policy_name": "first", "policy_name": "second"})",
              [](PolicyConfig& p) { p.policy_name = "second"; }),
        fails("DuplicateLaterEmpty", R"({"policy_name": "first", "policy_name": ""})",
              "EmptyField policy_name"),
        loads("DuplicateActive", R"({"active": false, "active": true})", activate)),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Active, ReadPolicyTable,
    ::testing::Values(
        loads("NullBody", R"({"quorvel_policy": null})", activate),
        loads("NumericBody", R"({"quorvel_policy": 7})", activate),
        loads("EmptyBody", R"({"quorvel_policy": {}})", activate),
        loads("FalseWithBody", R"({"active": false, "quorvel_policy": {}})"),
        loads("StringWithBody", R"({"active": "yes", "quorvel_policy": {}})"),
        loads("StringTrueWithBody", R"({"active": "true", "quorvel_policy": {}})"),
        loads("NullActive", R"({"active": null, "quorvel_policy": {}})"),
        loads("TrueWithoutBody", R"({"active": true})", activate),
        loads("TracingAloneLeavesOff", R"({"tracing_policy": {}})")),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    PolicyId, ReadPolicyTable,
    ::testing::Values(
        loads("Digits", R"({"policy_id": "0123456789abcdefABCDEF0123456789"})",
              [](PolicyConfig& p) { p.policy_id = kId; }),
        loads("Hyphens", R"({"policy_id": "01234567-89ab-cdef-ABCD-EF0123456789"})",
              [](PolicyConfig& p) { p.policy_id = kId; }),
        loads("Braces", R"({"policy_id": "{01234567-89AB-CDEF-abcd-ef0123456789}"})",
              [](PolicyConfig& p) { p.policy_id = kId; }),
        loads("Urn", R"({"policy_id": "urn:uuid:01234567-89ab-cdef-abcd-ef0123456789"})",
              [](PolicyConfig& p) { p.policy_id = kId; }),
        // Each of these leaves the random id in place and still loads.
        loads("Short", R"({"policy_id": "abc"})"),
        loads("UpperUrn", R"({"policy_id": "URN:UUID:01234567-89ab-cdef-abcd-ef0123456789"})"),
        loads("BadDigit", R"({"policy_id": "01234567-89ab-cdef-abcd-ef012345678g"})"),
        loads("MovedHyphen", R"({"policy_id": "0123456-789ab-cdef-abcd-ef0123456789"})"),
        loads("OpenBrace", R"j({"policy_id": "{01234567-89ab-cdef-abcd-ef0123456789)"})j"),
        loads("Numeric", R"({"policy_id": 1234})")),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    StrictBody, ReadPolicyTable,
    ::testing::Values(
        loads("Object", std::string(R"({"quorvel_policy": )") + kStrictBody + "}",
              [](PolicyConfig& p) {
                p.active = true;
                p.quorvel_policy = strict_body();
              }),
        loads("IgnoresRuleList",
              R"({"active": false, "quorvel_policy": {"masking": false, "mapping": true,
                 "masking_rules": [], "mapping_rules": [],
                 "pii_config": {"backend": {"type": "regex", "patterns": []}},
                 "pii_rules": [{"type": "regex", "name": "EMAIL", "pattern": "@"}]}})",
              [](PolicyConfig& p) { p.quorvel_policy.mapping = true; }),
        loads("ArrayFormEverywhere",
              R"({"quorvel_policy": [true, false, [["EMAIL", ["redact"]]],
                   [["a.b", "CAT", ["redact"]]], [["regex", [["EMAIL", "@"]]]]]})",
              [](PolicyConfig& p) {
                p.active = true;
                p.quorvel_policy.masking = true;
                p.quorvel_policy.masking_rules = {{"EMAIL", Redact{}}};
                p.quorvel_policy.mapping_rules = {{"a.b", "CAT", Redact{}}};
                p.quorvel_policy.pii_config.backend = Regex{{{"EMAIL", "@"}}};
              }),
        loads("LlmBackend",
              R"({"quorvel_policy": {"masking": true, "mapping": false, "masking_rules": [],
                 "mapping_rules": [], "pii_config": [["llm", "http://d", ["m", "p", 9]]]}})",
              [](PolicyConfig& p) {
                p.active = true;
                p.quorvel_policy = llm_body("http://d", {"m", "p", 9, {}});
              }),
        // Any failure inside drops the whole body.
        loads("MissingMapping",
              R"({"quorvel_policy": {"masking": true, "masking_rules": [], "mapping_rules": [],
                 "pii_config": {"backend": {"type": "regex", "patterns": []}}}})",
              activate),
        loads("UnknownTagDeepInside",
              R"({"quorvel_policy": {"masking": true, "mapping": true, "masking_rules": [],
                 "mapping_rules": [["a", "C", ["redact"]], ["b", "C", {"type": "Redact"}]],
                 "pii_config": {"backend": {"type": "regex", "patterns": []}}}})",
              activate),
        loads("FractionalPrefix",
              R"({"quorvel_policy": {"masking": true, "mapping": true, "mapping_rules": [],
                 "masking_rules": [["E", ["partial_mask", 5000.0, 1]]],
                 "pii_config": [["regex", []]]}})",
              activate),
        loads("ShortArray", R"({"quorvel_policy": [true, true, [], []]})", activate),
        loads("LongArray",
              R"({"quorvel_policy": [true, true, [], [], [["regex", []]], null]})", activate),
        loads("BooleanAsString",
              R"({"quorvel_policy": {"masking": "true", "mapping": true, "masking_rules": [],
                 "mapping_rules": [], "pii_config": [["regex", []]]}})",
              activate)),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    RuleList, ReadPolicyTable,
    ::testing::Values(
        loads("TwoRegexOneLlm",
              R"({"quorvel_policy": {"pii_rules": [
                   {"type": "regex", "name": "EMAIL", "pattern": "[a-z]+@[a-z]+"},
                   {"type": "llm", "llm_url": "http://d"},
                   {"type": "regex", "name": "PHONE", "pattern": "\\d{3}-\\d{4}"}]}})",
              [](PolicyConfig& p) {
                p.active = true;
                auto& b = p.quorvel_policy;
                b.masking = true;
                b.masking_rules = {{"EMAIL", Redact{}}, {"PHONE", Redact{}}};
                b.pii_config.backend =
                    Regex{{{"EMAIL", "[a-z]+@[a-z]+"}, {"PHONE", "\\d{3}-\\d{4}"}}};
              }),
        loads("RegexHonoursSwitches",
              R"({"quorvel_policy": {"masking": false, "mapping": true, "pii_rules": [
                   {"type": "regex", "name": "EMAIL", "pattern": "@"}]}})",
              [](PolicyConfig& p) {
                p.active = true;
                auto& b = p.quorvel_policy;
                b.mapping = true;
                b.masking_rules = {{"EMAIL", Redact{}}};
                b.pii_config.backend = Regex{{{"EMAIL", "@"}}};
              }),
        loads("RegexSwitchesOfWrongType",
              R"({"quorvel_policy": {"masking": 0, "mapping": "yes", "pii_rules": [
                   {"type": "regex", "name": "EMAIL", "pattern": "@"}]}})",
              [](PolicyConfig& p) {
                p.active = true;
                auto& b = p.quorvel_policy;
                b.masking = true;
                b.masking_rules = {{"EMAIL", Redact{}}};
                b.pii_config.backend = Regex{{{"EMAIL", "@"}}};
              }),
        loads("LlmOnlyForcesMasking",
              R"({"quorvel_policy": {"masking": false, "pii_rules": [{"type": "llm"}]}})",
              [](PolicyConfig& p) {
                p.active = true;
                p.quorvel_policy = llm_body("", default_llm_config());
              }),
        loads("LlmTakesMapping",
              R"({"quorvel_policy": {"mapping": true, "pii_rules": [
                   {"type": "llm", "llm_url": "http://d",
                    "llm_config": {"model": "m", "system_prompt": "p", "timeout_ms": 18446744073709551615,
                                   "extra": {"t": 0.5}}}]}})",
              [](PolicyConfig& p) {
                p.active = true;
                p.quorvel_policy =
                    llm_body("http://d", {"m", "p", UINT64_MAX, {{"t", "0.5"}}}, true);
              }),
        loads("LlmBadConfigFallsBack",
              R"({"quorvel_policy": {"pii_rules": [
                   {"type": "llm", "llm_url": 5,
                    "llm_config": {"model": "m", "system_prompt": "p", "timeout_ms": 5000.0}}]}})",
              [](PolicyConfig& p) {
                p.active = true;
                p.quorvel_policy = llm_body("", default_llm_config());
              }),
        loads("LastLlmWins",
              R"({"quorvel_policy": {"pii_rules": [
                   {"type": "llm", "llm_url": "first"}, {"type": "llm", "llm_url": "last"}]}})",
              [](PolicyConfig& p) {
                p.active = true;
                p.quorvel_policy = llm_body("last", default_llm_config());
              }),
        loads("NothingUsable",
              R"({"quorvel_policy": {"masking": true, "mapping": true, "pii_rules": [
                   {"type": "Regex", "name": "A", "pattern": "a"}, {"type": "LLM"},
                   {"type": 5}, {}, "regex", ["regex", "A", "a"],
                   {"type": "regex", "name": "A"}, {"type": "regex", "name": "A", "pattern": 5},
                   {"type": "regex", "name": null, "pattern": "a"}]}})",
              activate),
        loads("NumericPatternSkipped",
              R"({"quorvel_policy": {"pii_rules": [
                   {"type": "regex", "name": "A", "pattern": 5},
                   {"type": "regex", "name": "B", "pattern": "b+"}]}})",
              [](PolicyConfig& p) {
                p.active = true;
                auto& b = p.quorvel_policy;
                b.masking = true;
                b.masking_rules = {{"B", Redact{}}};
                b.pii_config.backend = Regex{{{"B", "b+"}}};
              }),
        fails("BadPatternFailsLoad",
              R"({"quorvel_policy": {"pii_rules": [
                   {"type": "regex", "name": "B", "pattern": "b+"},
                   {"type": "regex", "name": "A", "pattern": "("}]}})",
              "InvalidPattern ("),
        loads("RuleListNotArray",
              R"({"quorvel_policy": {"pii_rules": {"type": "regex", "name": "A", "pattern": "a"}}})",
              activate),
        loads("ArrayBodyHasNoRuleList",
              R"({"quorvel_policy": [{"pii_rules": [{"type": "regex", "name": "A", "pattern": "a"}]}]})",
              activate)),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Patterns, ReadPolicyTable,
    ::testing::Values(
        fails("FirstFailureInOrder",
              R"({"quorvel_policy": [true, false, [], [],
                   [["regex", [["A", "a"], ["B", "[b"], ["C", "("]]]]]})",
              "InvalidPattern [b"),
        fails("LookAhead",
              R"j({"quorvel_policy": [true, false, [], [], [["regex", [["A", "a(?=b)"]]]]]})j",
              "InvalidPattern a(?=b)"),
        fails("BackReference",
              R"({"quorvel_policy": [true, false, [], [], [["regex", [["A", "(a)\\1"]]]]]})",
              "InvalidPattern (a)\\1"),
        // An Llm backend compiles nothing, so no pattern can fail.
        loads("NoPatternsUnderLlm",
              R"({"quorvel_policy": [true, false, [], [], [["llm", "", ["m", "p", 1]]]]})",
              [](PolicyConfig& p) {
                p.active = true;
                p.quorvel_policy = llm_body("", {"m", "p", 1, {}});
              })),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Tracing, ReadPolicyTable,
    ::testing::Values(
        loads("Object", std::string(R"({"tracing_policy": )") + kTracing + "}",
              [](PolicyConfig& p) { p.tracing_policy = tracing(); }),
        loads("Array",
              R"({"tracing_policy": [false, false, true, false, true, true, true, false, true,
                                     false, ["file", "/var/trace"]]})",
              [](PolicyConfig& p) { p.tracing_policy = tracing(); }),
        loads("WithoutCaptureCot",
              R"({"tracing_policy": {"enabled": false, "capture_all_nodes": false,
                 "capture_inputs": true, "capture_outputs": false, "capture_timestamps": true,
                 "capture_llm_metadata": true, "capture_tool_calls": false,
                 "capture_agent_transitions": true, "capture_human_overrides": false,
                 "output_sink": {"type": "stdout"}}})"),
        loads("ShortArray",
              R"({"tracing_policy": [false, false, true, false, true, true, true, false, true,
                                     false]})"),
        loads("BadSinkTag",
              R"({"tracing_policy": [false, false, true, false, true, true, true, false, true,
                                     false, ["trace-collector", "c"]]})"),
        loads("WrongType", R"({"tracing_policy": "off"})")),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Salts, ReadPolicyTable,
    ::testing::Values(
        loads("BothSet", hash_body(kSaltSet, kSaltSet),
              [](PolicyConfig& p) {
                p.active = true;
                p.quorvel_policy = hash_policy(kSaltSet, kSaltSet);
              }),
        fails("MappingUnset", hash_body(kSaltSet, kSaltUnset),
              std::string("MissingSalt ") + kSaltUnset),
        fails("MaskingCheckedFirst", hash_body(kSaltUnset, kSaltNotUtf8),
              std::string("MissingSalt ") + kSaltUnset),
        fails("NotUtf8", hash_body(kSaltSet, kSaltNotUtf8),
              std::string("MissingSalt ") + kSaltNotUtf8),
        fails("EmptyName", hash_body("", kSaltSet), "MissingSalt "),
        // Names no variable can carry must not reach getenv, which would
        // find the wrong variable.
        fails("NameWithEquals", hash_body(std::string(kSaltWithEquals) + "=a", kSaltSet),
              std::string("MissingSalt ") + kSaltWithEquals + "=a"),
        fails("NameWithNul", hash_body(std::string(kSaltSet) + "\\u0000x", kSaltSet),
              std::string("MissingSalt ") + kSaltSet + std::string(1, '\0') + "x"),
        // A body dropped by the strict reading brings no Hash to check.
        loads("DroppedBodyNotChecked",
              R"({"quorvel_policy": {"masking": true, "masking_rules": [["E", ["hash", "sha256",
                 "QUORVEL_READER_TEST_SALT_UNSET"]]], "mapping_rules": [],
                 "pii_config": [["regex", []]]}})",
              activate)),
    case_name);

// ---- single behaviours

TEST(ReadPolicy, ParseErrorCarriesPosition) {
  auto r = read_policy("{\n  \"policy_name\": \"a\",\n  x\n}");
  ASSERT_FALSE(r.ok());
  const auto* parse = std::get_if<PolicyLoadError::Parse>(&r.error().data);
  ASSERT_NE(parse, nullptr);
  EXPECT_FALSE(parse->message.empty());
  EXPECT_EQ(parse->line, 3u);
  EXPECT_EQ(parse->column, 3u);
}

TEST(ReadPolicy, InvalidPatternCarriesEngineMessage) {
  auto r = read_policy(R"j({"quorvel_policy": [true, false, [], [], [["regex", [["A", "a)"]]]]]})j");
  ASSERT_FALSE(r.ok());
  const auto* bad = std::get_if<PolicyLoadError::InvalidPattern>(&r.error().data);
  ASSERT_NE(bad, nullptr);
  EXPECT_EQ(bad->pattern, "a)");
  EXPECT_FALSE(bad->message.empty());
}

TEST(ReadPolicy, SaltSetLaterLoads) {
  const char* name = "QUORVEL_READER_TEST_SALT_LATE";
  unsetenv(name);
  const std::string doc = hash_body(name, name);
  auto before = read_policy(doc);
  ASSERT_FALSE(before.ok());
  EXPECT_EQ(describe(before.error()), std::string("MissingSalt ") + name);
  setenv(name, "any text, \xC3\xA9", 1);
  auto after = read_policy(doc);
  unsetenv(name);
  ASSERT_TRUE(after.ok()) << describe(after.error());
  EXPECT_TRUE((*after)->quorvel_policy == hash_policy(name, name));
}

TEST(ReadPolicy, CompiledPatternsMatch) {
  auto r = read_policy(R"({"quorvel_policy": {"pii_rules": [
      {"type": "regex", "name": "EMAIL", "pattern": "[a-z]+@[a-z]+\\.com"},
      {"type": "regex", "name": "PHONE", "pattern": "\\d{3}-\\d{4}"}]}})");
  ASSERT_TRUE(r.ok()) << describe(r.error());
  const auto& entries = (*r)->compiled_patterns->entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "EMAIL");
  EXPECT_EQ(entries[1].name, "PHONE");
  EXPECT_TRUE(RE2::PartialMatch("write to bob@example.com today", *entries[0].re));
  EXPECT_FALSE(RE2::PartialMatch("call 555-0100", *entries[0].re));
  EXPECT_TRUE(RE2::PartialMatch("call 555-0100", *entries[1].re));
}

TEST(ReadPolicy, EachLoadDrawsItsOwnId) {
  auto a = read_policy("{}");
  auto b = read_policy("{}");
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_NE((*a)->policy_id, (*b)->policy_id);
}

// ---- the report

TEST(ReadReport, MemberOutcomes) {
  ReadReport rep;
  auto r = read_policy(R"({"schema_version": 1, "policy_id": "abc", "policy_name": "n",
      "active": "yes", "quorvel_policy": null, "tracing_policy": []})",
                       &rep);
  ASSERT_TRUE(r.ok());
  using M = ReadReport::Member;
  EXPECT_EQ(rep.schema_version, M::kWrongType);
  EXPECT_EQ(rep.policy_id, M::kUnparsable);
  EXPECT_EQ(rep.policy_name, M::kTaken);
  EXPECT_EQ(rep.policy_version, M::kAbsent);
  EXPECT_EQ(rep.active, M::kWrongType);
  EXPECT_EQ(rep.quorvel_policy, M::kWrongType);
  EXPECT_EQ(rep.tracing_policy, M::kTaken);
  EXPECT_EQ(rep.tracing, ReadReport::Source::kDefault);
  EXPECT_EQ(rep.tracing_failure, "tracing_policy: expected 11 elements, got 0");

  // The same report object is overwritten by the next read.
  r = read_policy(R"({"policy_id": 5, "schema_version": "1.0", "active": true})", &rep);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(rep.policy_id, M::kWrongType);
  EXPECT_EQ(rep.schema_version, M::kTaken);
  EXPECT_EQ(rep.policy_name, M::kAbsent);
  EXPECT_EQ(rep.active, M::kTaken);
  EXPECT_EQ(rep.tracing_policy, M::kAbsent);
  EXPECT_TRUE(rep.tracing_failure.empty());
}

TEST(ReadReport, FilledOnValidationFailureClearedOnParseFailure) {
  ReadReport rep;
  auto r = read_policy(R"({"policy_name": "", "quorvel_policy": {}})", &rep);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(rep.policy_name, ReadReport::Member::kTaken);
  EXPECT_EQ(rep.quorvel_policy, ReadReport::Member::kTaken);
  r = read_policy("{", &rep);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(rep.policy_name, ReadReport::Member::kAbsent);
  EXPECT_EQ(rep.quorvel_policy, ReadReport::Member::kAbsent);
  EXPECT_TRUE(rep.body_failure.empty());
}

TEST(ReadReport, BodySourcesAndFailures) {
  using S = ReadReport::Source;
  struct ReportCase {
    std::string document;
    S body;
    std::string body_failure;
    std::string llm_config_failure;
  };
  const std::vector<ReportCase> cases = {
      {"{}", S::kDefault, "", ""},
      {std::string(R"({"quorvel_policy": )") + kStrictBody + "}", S::kDocument, "", ""},
      {R"({"quorvel_policy": {"masking": true, "mapping": true, "masking_rules": [],
          "mapping_rules": [{"source_field": "a", "pii_category": "C", "strategy": ["redact"]},
                            {"source_field": "b", "pii_category": "C",
                             "strategy": {"type": "Redact"}}],
          "pii_config": {"backend": {"type": "regex", "patterns": []}}}})",
       S::kDefault, R"(quorvel_policy.mapping_rules[1].strategy: unknown type "Redact")", ""},
      {R"({"quorvel_policy": {"masking": true}})", S::kDefault,
       R"(quorvel_policy: missing member "mapping")", ""},
      {R"({"quorvel_policy": [true, false, [], []]})", S::kDefault,
       "quorvel_policy: expected 5 elements, got 4", ""},
      {R"({"quorvel_policy": null})", S::kDefault,
       "quorvel_policy: expected an object or an array, got null", ""},
      {R"({"quorvel_policy": [true, false, [], [], [["regex", [["A", 1]]]]]})", S::kDefault,
       "quorvel_policy[4][0][1][0][1]: expected a string, got an unsigned integer", ""},
      {R"({"quorvel_policy": {"pii_rules": [{"type": "regex", "name": "A", "pattern": "a"}]}})",
       S::kRuleListRegex, R"(quorvel_policy: missing member "masking")", ""},
      {R"({"quorvel_policy": {"pii_rules": [{"type": "x"}, {"type": "llm",
          "llm_config": ["m", "p", 1.5]}]}})",
       S::kRuleListLlm, R"(quorvel_policy: missing member "masking")",
       "quorvel_policy.pii_rules[1].llm_config[2]: expected an unsigned integer, got a number "
       "with fraction or exponent"},
  };
  for (const ReportCase& c : cases) {
    SCOPED_TRACE(c.document);
    ReadReport rep;
    auto r = read_policy(c.document, &rep);
    ASSERT_TRUE(r.ok()) << describe(r.error());
    EXPECT_EQ(rep.body, c.body);
    EXPECT_EQ(rep.body_failure, c.body_failure);
    EXPECT_EQ(rep.llm_config_failure, c.llm_config_failure);
  }
}

// ---- the defaults

TEST(Defaults, TwoDefaultPoliciesDifferOnlyInIdentity) {
  auto a = default_policy();
  auto b = default_policy();
  EXPECT_TRUE(is_random_v4(a->policy_id));
  EXPECT_TRUE(is_random_v4(b->policy_id));
  EXPECT_NE(a->policy_id, b->policy_id);
  b->policy_id = a->policy_id;
  b->built_at = a->built_at;
  expect_policy(*b, *a);
}

TEST(Defaults, DefaultPolicyValues) {
  auto p = default_policy();
  EXPECT_EQ(p->schema_version, "1.0");
  EXPECT_EQ(p->policy_name, "default");
  EXPECT_EQ(p->policy_version, "0.0.0");
  EXPECT_FALSE(p->active);
  EXPECT_FALSE(p->quorvel_policy.masking);
  EXPECT_FALSE(p->quorvel_policy.mapping);
  EXPECT_TRUE(p->quorvel_policy.masking_rules.empty());
  EXPECT_TRUE(p->quorvel_policy.mapping_rules.empty());
  const auto* regex = std::get_if<Regex>(&p->quorvel_policy.pii_config.backend);
  ASSERT_NE(regex, nullptr);
  EXPECT_TRUE(regex->patterns.empty());
  const TracingPolicy& t = p->tracing_policy;
  const bool flags[] = {t.enabled,
                        t.capture_all_nodes,
                        t.capture_inputs,
                        t.capture_outputs,
                        t.capture_timestamps,
                        t.capture_llm_metadata,
                        t.capture_cot,
                        t.capture_tool_calls,
                        t.capture_agent_transitions,
                        t.capture_human_overrides};
  const bool want[] = {true, true, true, true, true, false, false, true, true, true};
  for (size_t i = 0; i < std::size(flags); ++i) EXPECT_EQ(flags[i], want[i]) << "flag " << i;
  EXPECT_TRUE(std::holds_alternative<Stdout>(t.output_sink));
  expect_loaded_invariants(*p);
}

TEST(Defaults, DefaultLlmConfig) {
  const LlmConfig c = default_llm_config();
  EXPECT_EQ(c.model, "default");
  EXPECT_EQ(c.model.size(), 7u);
  EXPECT_EQ(c.system_prompt, "detect and replace pii");
  EXPECT_EQ(c.system_prompt.size(), 22u);
  EXPECT_EQ(c.timeout_ms, 5000u);
  EXPECT_TRUE(c.extra.empty());
}

// ---- malformed, huge and deep documents

// A document that touches every record and variant in both forms.
std::string rich_document() {
  return std::string(R"({"schema_version": "1.0", "policy_id": "urn:uuid:01234567-89ab-cdef-abcd-ef0123456789",
  "policy_name": "rich", "policy_version": "1.2.3", "active": true,
  "quorvel_policy": {"masking": true, "mapping": true,
    "masking_rules": [["EMAIL", ["hash", "sha256", "QUORVEL_READER_TEST_SALT_SET"]],
                      {"pii_name": "PHONE", "strategy": {"type": "partial_mask",
                       "preserve_prefix": 1, "preserve_suffix": 2}}],
    "mapping_rules": [["a.b", "CAT", ["replace", "#"]], ["c", "D", {"type": "redact"}]],
    "pii_config": {"backend": ["regex", [["EMAIL", "[a-z]+@[a-z]+"], {"name": "PHONE",
                   "pattern": "\\d{3}-\\d{4}"}]]},
    "pii_rules": [{"type": "llm", "llm_config": ["m", "p", 5, {"x": [1, {"y": null}]}]}]},
  "tracing_policy": )") +
         kTracing + "}";
}

std::string nested(const std::string& open, const std::string& close, size_t depth,
                   const std::string& middle = "") {
  std::string s;
  for (size_t i = 0; i < depth; ++i) s += open;
  s += middle;
  for (size_t i = 0; i < depth; ++i) s += close;
  return s;
}

TEST(Robustness, RichDocumentLoads) {
  auto r = read_policy(rich_document());
  ASSERT_TRUE(r.ok()) << describe(r.error());
  EXPECT_EQ((*r)->policy_name, "rich");
  EXPECT_EQ((*r)->compiled_patterns->entries().size(), 2u);
  EXPECT_TRUE((*r)->tracing_policy == tracing());
}

TEST(Robustness, EveryTruncationIsAParseError) {
  const std::string doc = rich_document();
  for (size_t n = 0; n < doc.size(); ++n) {
    auto r = read_policy(std::string_view(doc).substr(0, n));
    ASSERT_FALSE(r.ok()) << "prefix of " << n << " bytes loaded";
    const auto* parse = std::get_if<PolicyLoadError::Parse>(&r.error().data);
    ASSERT_NE(parse, nullptr) << n;
    EXPECT_GE(parse->line, 1u);
    EXPECT_GE(parse->column, 1u);
  }
}

TEST(Robustness, ByteFlipsGiveAPolicyOrAnError) {
  const std::string doc = rich_document();
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<size_t> position(0, doc.size() - 1);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> flips(1, 4);
  // Printable replacements keep many mutants parseable, so the readers
  // behind the parser see them too.
  const std::string printable = "{}[]\":,0123456789-.eE truefalsnl\\u";
  std::uniform_int_distribution<size_t> pick(0, printable.size() - 1);
  size_t loaded = 0;
  for (int round = 0; round < 600; ++round) {
    std::string mutant = doc;
    for (int k = flips(rng); k > 0; --k) {
      const size_t at = position(rng);
      mutant[at] = round % 2 == 0 ? printable[pick(rng)] : static_cast<char>(byte(rng));
    }
    auto r = read_policy(mutant);
    if (r.ok()) {
      ++loaded;
      SCOPED_TRACE(mutant);
      expect_loaded_invariants(**r);
    }
  }
  // Most single-character changes still parse; the readers must have run.
  EXPECT_GT(loaded, 0u);
}

TEST(Robustness, DeepDocuments) {
  struct DeepCase {
    std::string document;
    bool loads;
  };
  auto in_extra = [](const std::string& value) {
    return R"({"quorvel_policy": {"pii_rules": [{"type": "llm", "llm_config": ["m", "p", 1, {"k": )" +
           value + "}]}]}}";
  };
  // The extra value sits 6 levels down: object, object, array, object,
  // array, object.
  const std::vector<DeepCase> cases = {
      {nested("[", "]", 127), true},
      {nested("[", "]", 128), false},
      {nested("{\"quorvel_policy\":", "}", 127, "null"), true},
      {nested("{\"quorvel_policy\":", "}", 128, "null"), false},
      {in_extra(nested("[", "]", 121)), true},
      {in_extra(nested("[", "]", 122)), false},
      {R"({"quorvel_policy": )" + nested("[", "]", 126) + "}", true},
  };
  for (const DeepCase& c : cases) {
    SCOPED_TRACE(c.document.substr(0, 80));
    auto r = read_policy(c.document);
    ASSERT_EQ(r.ok(), c.loads);
    if (!c.loads) {
      EXPECT_EQ(r.error().kind(), PolicyLoadError::Kind::Parse);
      continue;
    }
    expect_loaded_invariants(**r);
  }
  auto r = read_policy(in_extra(nested("[", "]", 121)));
  ASSERT_TRUE(r.ok());
  const auto* llm = std::get_if<Llm>(&(*r)->quorvel_policy.pii_config.backend);
  ASSERT_NE(llm, nullptr);
  EXPECT_EQ(llm->llm_config.extra.at("k"), nested("[", "]", 121));
}

TEST(Robustness, HugeDocuments) {
  // Many rule-list entries, all compiled, in order.
  std::string rules;
  const size_t kRules = 3000;
  for (size_t i = 0; i < kRules; ++i) {
    if (i > 0) rules += ",";
    rules += R"({"type": "regex", "name": "P)" + std::to_string(i) + R"(", "pattern": "x)" +
             std::to_string(i) + R"("})";
  }
  auto r = read_policy(R"({"quorvel_policy": {"pii_rules": [)" + rules + "]}}");
  ASSERT_TRUE(r.ok()) << describe(r.error());
  ASSERT_EQ((*r)->compiled_patterns->entries().size(), kRules);
  EXPECT_EQ((*r)->compiled_patterns->entries()[kRules - 1].name, "P" + std::to_string(kRules - 1));

  // Many Hash strategies naming one variable.
  std::string mapping;
  for (size_t i = 0; i < kRules; ++i) {
    if (i > 0) mapping += ",";
    mapping += R"(["f", "C", ["hash", "sha256", "QUORVEL_READER_TEST_SALT_SET"]])";
  }
  r = read_policy(R"({"quorvel_policy": [true, true, [], [)" + mapping + R"(], [["regex", []]]]})");
  ASSERT_TRUE(r.ok()) << describe(r.error());
  EXPECT_EQ((*r)->quorvel_policy.mapping_rules.size(), kRules);

  // A one-megabyte name, and a huge tag whose failure text stays short.
  const std::string big(1 << 20, 'n');
  ReadReport rep;
  r = read_policy(R"({"policy_name": ")" + big + R"(", "quorvel_policy": [true, true, [["E", [")" +
                      big + R"("]]], [], [["regex", []]]]})",
                  &rep);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ((*r)->policy_name, big);
  EXPECT_EQ(rep.body, ReadReport::Source::kDefault);
  EXPECT_LT(rep.body_failure.size(), 200u);
}

}  // namespace
}  // namespace quorvel::policy
