// The encode envelope through the public header.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "ffi/c_api_helpers.h"

namespace quorvel::testing {
namespace {

const char kPhone[] = R"([{"name":"PHONE","pattern":"555-[0-9]{4}"}])";
const char kRules[] =
    R"([{"source_field":"user.name","pii_category":"NAME","strategy":{"type":"redact"}},)"
    R"({"source_field":"user.age","pii_category":"AGE","strategy":["redact"]},)"
    R"({"source_field":"user.nick","pii_category":"NAME","strategy":["replace","anon"]}])";

std::string envelope(std::string_view payload, std::string_view injection, unsigned count,
                     std::string_view names, std::string_view policy) {
  return "{\"payload\":" + std::string(payload) + ",\"signature_injection_text\":\"" +
         std::string(injection) + "\",\"rules_applied_count\":" + std::to_string(count) +
         ",\"rule_names\":" + std::string(names) + ",\"policy_name\":\"" + std::string(policy) + "\"}";
}

TEST(Encode, PassThroughEnvelopes) {
  struct Case {
    std::string policy;
    std::string name;
  };
  const Case cases[] = {
      {"{}", "default"},
      {active_policy(kPhone, kRules, false, false), "test"},  // active, both switches off
      {R"({"active":false,"policy_name":"off","quorvel_policy":{"masking":true,"mapping":true,)"
       R"("masking_rules":[],"mapping_rules":[],"pii_config":{"backend":["regex",[["P","555"]]]}}})",
       "off"},
  };
  for (const Case& c : cases) {
    ConfigPtr cfg = config(c.policy);
    ASSERT_NE(cfg, nullptr) << c.policy;
    EnforcerPtr e = enforcer(cfg, fresh_session("pass"));
    for (int sig : {0, 1, 2, -1}) {
      EXPECT_EQ(encode(e, R"({ "b": 1, "a": [true, null], "t": "call 555-0100" })", sig),
                envelope(R"({"a":[true,null],"b":1,"t":"call 555-0100"})", "", 0, "[]", c.name))
          << c.policy << " sig " << sig;
    }
  }
}

TEST(Encode, MappingCategoriesListedEvenWhenNothingApplies) {
  ConfigPtr cfg = config(active_policy(kPhone, kRules));
  EnforcerPtr e = enforcer(cfg, fresh_session("names"));
  EXPECT_EQ(encode(e, R"({"other":"x"})", 1),
            envelope(R"({"other":"x"})", "", 0, R"(["NAME","AGE"])", "test"));
}

TEST(Encode, MappingRulesThenPatterns) {
  ConfigPtr cfg = config(active_policy(kPhone, kRules));
  EnforcerPtr e = enforcer(cfg, fresh_session("rules"));
  auto out = encode(e, R"({"user":{"name":"Ada","age":36,"nick":"555-0100"},"note":"555-0199"})");
  ASSERT_TRUE(out);
  EXPECT_TRUE(std::regex_search(
      *out, std::regex(R"re(^\{"payload":\{"note":"<PHONE:[0-9a-f]{8}>","user":\{"age":36,"name":"\[REDACTED\]","nick":"anon"\}\},"signature_injection_text":"","rules_applied_count":3,"rule_names":\["NAME","AGE","PHONE"\],"policy_name":"test"\}$)re")))
      << *out;
}

TEST(Encode, MaskingOffIgnoresMappingRules) {
  ConfigPtr cfg = config(active_policy(kPhone, kRules, true, false));
  EnforcerPtr e = enforcer(cfg, fresh_session("nomap"));
  auto out = encode(e, R"({"user":{"name":"Ada"},"t":"555-0100"})");
  ASSERT_TRUE(out);
  EXPECT_NE(out->find(R"("name":"Ada")"), std::string::npos);
  EXPECT_NE(out->find(R"("rules_applied_count":1,"rule_names":["PHONE"])"), std::string::npos) << *out;
}

TEST(Encode, SignatureMarksEveryTokenOfTheCall) {
  ConfigPtr cfg = config(active_policy(kPhone));
  EnforcerPtr e = enforcer(cfg, fresh_session("sig"));
  auto out = encode(e, R"(["555-0100","555-0101"])", 1);
  ASSERT_TRUE(out);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      *out, m, std::regex(R"re(\["<PHONE:[0-9a-f]{8}-([0-9]{3})>","<PHONE:[0-9a-f]{8}-([0-9]{3})>"\])re")))
      << *out;
  EXPECT_EQ(m[1], m[2]);
  const std::string sig = m[1];
  const int n = std::stoi(sig);
  EXPECT_GE(n, 100);
  EXPECT_LE(n, 999);
  const std::string rule =
      "RULE: Any token in the format <TYPE:VALUE-" + sig + "> is an opaque system placeholder, where " +
      sig +
      " is a 3-digit integrity signature. Preserve the entire token exactly as-is \xE2\x80\x94 "
      "including the angle brackets, the colon, the value, the hyphen, and the 3-digit signature "
      "\xE2\x80\x94 in all responses and tool call parameters. Never unwrap, reformat, split, or "
      "abbreviate any part of it.\\n\\n";
  EXPECT_NE(out->find("\"signature_injection_text\":\"" + rule + "\""), std::string::npos) << *out;

  for (int other : {0, 2, -1}) {
    auto plain = encode(e, R"("555-0102")", other);
    ASSERT_TRUE(plain);
    EXPECT_TRUE(std::regex_search(*plain, std::regex(R"re("<PHONE:[0-9a-f]{8}>")re"))) << *plain;
    EXPECT_NE(plain->find(R"("signature_injection_text":"")"), std::string::npos);
  }
}

TEST(Encode, SignatureTextOnlyWhenSomethingApplied) {
  ConfigPtr cfg = config(active_policy(kPhone, kRules));
  EnforcerPtr e = enforcer(cfg, fresh_session("sigtext"));
  auto none = encode(e, R"({"t":"nothing here"})", 1);
  ASSERT_TRUE(none);
  EXPECT_NE(none->find(R"("signature_injection_text":"")"), std::string::npos);
  auto rule_only = encode(e, R"({"user":{"name":"Ada"}})", 1);
  ASSERT_TRUE(rule_only);
  EXPECT_NE(rule_only->find(R"("signature_injection_text":"RULE: )"), std::string::npos);
}

TEST(Encode, LlmBackendChangesNothing) {
  ConfigPtr cfg = config(
      R"({"policy_name":"llm","quorvel_policy":{"masking":true,"mapping":false,"masking_rules":[],)"
      R"("mapping_rules":[],"pii_config":{"backend":{"type":"llm","llm_url":"http://x",)"
      R"("llm_config":{"model":"m","system_prompt":"s","timeout_ms":100}}}}})");
  ASSERT_NE(cfg, nullptr);
  EnforcerPtr e = enforcer(cfg, fresh_session("llm"));
  EXPECT_EQ(encode(e, R"({"t":"555-0100"})", 1), envelope(R"({"t":"555-0100"})", "", 0, "[]", "llm"));
}

TEST(Encode, BarePayloadsAndRefusedTexts) {
  ConfigPtr cfg = config(active_policy(kPhone, kRules));
  EnforcerPtr e = enforcer(cfg, fresh_session("bare"));
  auto s = encode(e, R"("555-0100")");
  ASSERT_TRUE(s);
  EXPECT_TRUE(std::regex_search(*s, std::regex(R"re(^\{"payload":"<PHONE:[0-9a-f]{8}>")re"))) << *s;
  EXPECT_EQ(encode(e, "42"), envelope("42", "", 0, R"(["NAME","AGE"])", "test"));
  EXPECT_EQ(encode(e, "[1] \n "), envelope("[1]", "", 0, R"(["NAME","AGE"])", "test"));
  const std::string refused[] = {"", "{", "[1] [2]", "{\"a\":1}x", std::string(128, '[') + std::string(128, ']'),
                                 "\"\xFF\"", "\"a\x01\""};
  for (const std::string& text : refused) EXPECT_EQ(encode(e, text), std::nullopt) << text;
  EXPECT_TRUE(encode(e, std::string(127, '[') + std::string(127, ']')));
}

TEST(Encode, NulInsideAStringIsWrittenEscaped) {
  ConfigPtr cfg(quorvel_config_default());
  EnforcerPtr e(quorvel_enforcer_create(cfg.get(), nullptr, 0));
  EXPECT_EQ(encode(e, R"({"k\u0000":"a\u0000b"})"),
            envelope(R"({"k\u0000":"a\u0000b"})", "", 0, "[]", "default"));
}

}  // namespace
}  // namespace quorvel::testing
