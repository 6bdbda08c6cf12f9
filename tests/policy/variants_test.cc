// Strict readers of the tagged variants and of PiiPattern and LlmConfig, in
// object and array form, with the failure texts they give.
#include "policy/variants.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "json/arena.h"
#include "json/reader.h"

namespace quorvel::policy {
namespace {

template <class T>
struct Case {
  std::string json;
  std::optional<T> expected;  // nullopt: the reading must fail
};

template <class T>
using Reader = std::function<StrictResult<T>(const json::Value&)>;

template <class T>
void run_table(const std::vector<Case<T>>& cases, const Reader<T>& read) {
  for (const Case<T>& c : cases) {
    SCOPED_TRACE(c.json);
    json::Arena arena;
    auto v = json::parse(c.json, arena);
    ASSERT_TRUE(v.ok()) << "bad table entry: " << v.error().message;
    auto r = read(*v);
    if (!c.expected) {
      ASSERT_FALSE(r.ok());
      EXPECT_FALSE(r.error().empty());
      continue;
    }
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_TRUE(*r == *c.expected);
  }
}

constexpr auto kNone = std::nullopt;

TEST(MaskingStrategyReader, ObjectForm) {
  run_table<MaskingStrategy>(
      {
          {R"({"type":"redact"})", Redact{}},
          {R"({"type":"redact","with":"x"})", Redact{}},  // extra member ignored
          {R"({"with":"***","type":"replace"})", Replace{"***"}},
          {R"({"type":"replace","with":""})", Replace{""}},
          {R"({"type":"replace"})", kNone},
          {R"({"type":"replace","with":5})", kNone},
          {R"({"type":"replace","with":null})", kNone},
          {R"({"type":"hash","algorithm":"md5","salt_env":"S"})", Hash{"md5", "S"}},
          {R"({"type":"hash","algorithm":"sha256"})", kNone},
          {R"({"type":"hash","salt_env":"S"})", kNone},
          {R"({"type":"partial_mask","preserve_prefix":2,"preserve_suffix":3})",
           PartialMask{2, 3}},
          {R"({"type":"partial_mask","preserve_prefix":0,"preserve_suffix":18446744073709551615})",
           PartialMask{0, UINT64_MAX}},
          {R"({"type":"partial_mask","preserve_prefix":2})", kNone},
          {R"({"type":"partial_mask","preserve_prefix":2,"preserve_suffix":-1})", kNone},
          {R"({"type":"partial_mask","preserve_prefix":2,"preserve_suffix":3.0})", kNone},
          {R"({"type":"partial_mask","preserve_prefix":2,"preserve_suffix":3e0})", kNone},
          {R"({"type":"partial_mask","preserve_prefix":2,"preserve_suffix":"3"})", kNone},
          {R"({"type":"partial_mask","preserve_prefix":18446744073709551616,"preserve_suffix":3})",
           kNone},
          {R"({"type":"partial_mask","preserve_prefix":-0,"preserve_suffix":3})", kNone},
          // The later of two "type" members decides.
          {R"({"type":"redact","with":"x","type":"replace"})", Replace{"x"}},
      },
      read_masking_strategy);
}

TEST(MaskingStrategyReader, ArrayForm) {
  run_table<MaskingStrategy>(
      {
          {R"(["partial_mask",2,3])", PartialMask{2, 3}},
          {R"(["partial_mask",2])", kNone},
          {R"(["partial_mask",2,3,4])", kNone},
          {R"(["partial_mask","2",3])", kNone},
          {R"(["redact"])", Redact{}},
          {R"(["redact",null])", kNone},
          {R"(["replace"])", kNone},
          {R"(["replace","#"])", Replace{"#"}},
          {R"(["hash","sha256","SALT"])", Hash{"sha256", "SALT"}},
          {R"(["hash","sha256"])", kNone},
          {R"([])", kNone},
          {R"([5,2,3])", kNone},
          {R"([["redact"]])", kNone},
      },
      read_masking_strategy);
}

TEST(MaskingStrategyReader, TagsAreExact) {
  run_table<MaskingStrategy>(
      {
          {R"({"type":"Redact"})", kNone},
          {R"({"type":"REDACT"})", kNone},
          {R"({"type":"redact "})", kNone},
          {R"({"type":"partial-mask","preserve_prefix":1,"preserve_suffix":1})", kNone},
          {R"({"type":"Hash","algorithm":"a","salt_env":"S"})", kNone},
          {R"({"type":"regex","patterns":[]})", kNone},  // a tag of another variant
          {R"({"type":"stdout"})", kNone},
          {R"({"type":""})", kNone},
          {R"({"type":5})", kNone},
          {R"({"type":null})", kNone},
          {R"({"with":"x"})", kNone},
          {R"({})", kNone},
          {R"("redact")", kNone},
          {R"(null)", kNone},
          {R"(["Redact"])", kNone},
      },
      read_masking_strategy);
}

TEST(PiiBackendReader, BothForms) {
  Llm llm{"http://detector", LlmConfig{"m", "p", 100, {}}};
  Llm llm_extra{"u", LlmConfig{"m", "p", 100, {{"k", "true"}}}};
  run_table<PiiBackend>(
      {
          {R"({"type":"regex","patterns":[]})", Regex{}},
          {R"({"type":"regex","patterns":[{"name":"EMAIL","pattern":"@"},["PHONE","\\d+"]]})",
           Regex{{{"EMAIL", "@"}, {"PHONE", "\\d+"}}}},
          {R"(["regex",[]])", Regex{}},
          {R"({"type":"regex"})", kNone},
          {R"({"type":"regex","patterns":{}})", kNone},
          {R"({"type":"regex","patterns":[{"name":"EMAIL","pattern":"@"},{"name":"X"}]})",
           kNone},
          {R"({"type":"regex","patterns":[["a"]]})", kNone},
          {R"({"type":"llm","llm_url":"http://detector",)"
           R"("llm_config":{"model":"m","system_prompt":"p","timeout_ms":100}})",
           llm},
          {R"({"type":"llm","llm_url":"http://detector",)"
           R"("llm_config":{"model":"m","system_prompt":"p"}})",
           kNone},
          {R"({"type":"llm","llm_url":"http://detector",)"
           R"("llm_config":{"model":"m","system_prompt":"p","timeout_ms":100.5}})",
           kNone},
          {R"({"type":"llm","llm_config":{"model":"m","system_prompt":"p","timeout_ms":100}})",
           kNone},
          {R"(["llm","http://detector",["m","p",100]])", llm},
          {R"(["llm","u",["m","p",100,{"k":true}]])", llm_extra},
          {R"(["llm","u"])", kNone},
          {R"({"type":"Regex","patterns":[]})", kNone},
          {R"({"type":"LLM","llm_url":"u","llm_config":["m","p",1]})", kNone},
          {R"({"type":"redact"})", kNone},
      },
      read_pii_backend);
}

TEST(OutputSinkReader, BothForms) {
  run_table<OutputSink>(
      {
          {R"({"type":"stdout"})", Stdout{}},
          {R"({"type":"stdout","path":"/x"})", Stdout{}},
          {R"({"type":"file","path":"/var/trace"})", File{"/var/trace"}},
          {R"({"type":"file"})", kNone},
          {R"({"type":"file","path":1})", kNone},
          {R"({"type":"http","path":"http://collector"})", Http{"http://collector"}},
          {R"({"type":"trace_collector","path":"c"})", TraceCollector{"c"}},
          {R"({"type":"trace-collector","path":"c"})", kNone},
          {R"({"type":"Stdout"})", kNone},
          {R"(["stdout"])", Stdout{}},
          {R"(["stdout","/x"])", kNone},
          {R"(["file","p"])", File{"p"}},
          {R"(["file"])", kNone},
          {R"(["http","p","q"])", kNone},
          {R"(["trace_collector","p"])", TraceCollector{"p"}},
      },
      read_output_sink);
}

TEST(PiiPatternReader, BothForms) {
  run_table<PiiPattern>(
      {
          {R"({"name":"EMAIL","pattern":"@"})", PiiPattern{"EMAIL", "@"}},
          {R"({"pattern":"@","x":1,"name":"EMAIL"})", PiiPattern{"EMAIL", "@"}},
          {R"({"name":"","pattern":""})", PiiPattern{"", ""}},
          {R"(["EMAIL","@"])", PiiPattern{"EMAIL", "@"}},
          {R"(["EMAIL"])", kNone},
          {R"(["EMAIL","@","x"])", kNone},
          {R"({"name":"EMAIL"})", kNone},
          {R"({"name":"EMAIL","pattern":1})", kNone},
          {R"("EMAIL")", kNone},
      },
      read_pii_pattern);
}

TEST(LlmConfigReader, BothForms) {
  LlmConfig plain{"m", "p", 100, {}};
  run_table<LlmConfig>(
      {
          {R"({"model":"m","system_prompt":"p","timeout_ms":100})", plain},
          {R"({"model":"m","system_prompt":"p","timeout_ms":100,"extra":{}})", plain},
          {R"({"model":"m","system_prompt":"p","timeout_ms":0})", LlmConfig{"m", "p", 0, {}}},
          {R"({"model":"m","system_prompt":"p","timeout_ms":18446744073709551615})",
           LlmConfig{"m", "p", UINT64_MAX, {}}},
          {R"({"model":"m","system_prompt":"p","timeout_ms":5000.0})", kNone},
          {R"({"model":"m","system_prompt":"p","timeout_ms":5e3})", kNone},
          {R"({"model":"m","system_prompt":"p","timeout_ms":-1})", kNone},
          {R"({"model":"m","system_prompt":"p","timeout_ms":"100"})", kNone},
          {R"({"system_prompt":"p","timeout_ms":100})", kNone},
          {R"({"model":"m","system_prompt":"p","timeout_ms":100,"extra":[]})", kNone},
          {R"({"model":"m","system_prompt":"p","timeout_ms":100,"extra":null})", kNone},
          {R"({"model":"m","system_prompt":"p","timeout_ms":100,"extra":"x"})", kNone},
          {R"(["m","p",100])", plain},
          {R"(["m","p",100,{}])", plain},
          {R"(["m","p"])", kNone},
          {R"(["m","p",100,{},1])", kNone},
          {R"(["m","p",100,[]])", kNone},
          {R"(["m","p",100,null])", kNone},
      },
      read_llm_config);
}

TEST(LlmConfigReader, ExtraKeepsCompactJsonPerMember) {
  json::Arena arena;
  auto v = json::parse(R"({"model":"m","system_prompt":"p","timeout_ms":1,)"
                       R"("extra":{"b":{ "y" : 1, "x" : 2 },"a":[1, 2.5, "s\n"],"n":null}})",
                       arena);
  ASSERT_TRUE(v.ok());
  auto c = read_llm_config(*v);
  ASSERT_TRUE(c.ok()) << c.error();
  const std::map<std::string, std::string> want{
      {"a", R"([1,2.5,"s\n"])"}, {"b", R"({"x":2,"y":1})"}, {"n", "null"}};
  EXPECT_EQ(c->extra, want);
}

// The failure text names the first failure and the path that leads to it.
TEST(StrictReaders, FailureTexts) {
  struct TextCase {
    std::string json;
    Reader<bool> read;  // the reader, reduced to its failure
    std::string failure;
  };
  auto as = [](auto reader) -> Reader<bool> {
    return [reader](const json::Value& v) -> StrictResult<bool> {
      auto r = reader(v);
      if (!r.ok()) return Err(r.error());
      return true;
    };
  };
  const std::string long_tag(100, 'x');
  const std::vector<TextCase> cases = {
      {R"({"type":"Redact"})", as(read_masking_strategy), R"(unknown type "Redact")"},
      {R"({})", as(read_masking_strategy), R"(missing member "type")"},
      {R"({"type":1})", as(read_masking_strategy),
       ".type: expected a string, got an unsigned integer"},
      {R"([])", as(read_masking_strategy), "empty array, expected a tag first"},
      {R"(true)", as(read_masking_strategy), "expected an object or an array, got a boolean"},
      {R"({"type":"partial_mask","preserve_prefix":2,"preserve_suffix":-1})",
       as(read_masking_strategy),
       ".preserve_suffix: expected an unsigned integer, got a negative integer"},
      {R"(["partial_mask",2])", as(read_masking_strategy), "expected 3 elements, got 2"},
      {R"(["replace"])", as(read_masking_strategy), "expected 2 elements, got 1"},
      {R"(["stdout","x"])", as(read_output_sink), "expected 1 element, got 2"},
      {R"({"type":"regex","patterns":[{"name":"a","pattern":"b"},{"name":"c"}]})",
       as(read_pii_backend), R"(.patterns[1]: missing member "pattern")"},
      {R"(["llm","u",["m","p",1.5]])", as(read_pii_backend),
       "[2][2]: expected an unsigned integer, got a number with fraction or exponent"},
      {R"(["m"])", as(read_llm_config), "expected 3 to 4 elements, got 1"},
      {R"({"model":"m","system_prompt":"p","timeout_ms":1,"extra":[]})", as(read_llm_config),
       ".extra: expected an object, got an array"},
      {R"({"type":")" + long_tag + R"("})", as(read_output_sink),
       R"(unknown type ")" + std::string(40, 'x') + R"("...)"},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.json);
    json::Arena arena;
    auto v = json::parse(c.json, arena);
    ASSERT_TRUE(v.ok());
    auto r = c.read(*v);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), c.failure);
  }
}

TEST(StrictReaders, LongTagIsCutAtCharacterBoundary) {
  // 39 ASCII bytes then a 3-byte character straddling the 40-byte cut.
  const std::string tag = std::string(39, 'a') + "\xE2\x82\xAC" + "tail";
  const std::string doc = R"({"type":")" + tag + R"("})";
  json::Arena arena;
  auto v = json::parse(doc, arena);
  ASSERT_TRUE(v.ok());
  auto r = read_masking_strategy(*v);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), R"(unknown type ")" + std::string(39, 'a') + R"("...)");
}

TEST(Within, JoinsSegments) {
  EXPECT_EQ(within(".a", "[1].b: x"), ".a[1].b: x");
  EXPECT_EQ(within("[0]", ".b: x"), "[0].b: x");
  EXPECT_EQ(within("top", "missing member \"m\""), "top: missing member \"m\"");
}

}  // namespace
}  // namespace quorvel::policy
