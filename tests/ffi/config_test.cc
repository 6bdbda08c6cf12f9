#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "ffi/c_api_helpers.h"

namespace quorvel::testing {
namespace {

TEST(Config, DefaultPolicyFacts) {
  ConfigPtr c(quorvel_config_default());
  ASSERT_NE(c, nullptr);
  EXPECT_FALSE(quorvel_config_active(c.get()));
  EXPECT_EQ(take(quorvel_config_policy_name(c.get())), "default");
  EXPECT_EQ(take(quorvel_config_policy_version(c.get())), "0.0.0");
}

TEST(Config, CloneOutlivesTheOriginal) {
  ConfigPtr c = config(R"({"policy_name":"p","policy_version":"2","quorvel_policy":null})");
  ASSERT_NE(c, nullptr);
  ConfigPtr copy(quorvel_config_clone(c.get()));
  c.reset();
  EXPECT_TRUE(quorvel_config_active(copy.get()));
  EXPECT_EQ(take(quorvel_config_policy_name(copy.get())), "p");
  EXPECT_EQ(take(quorvel_config_policy_version(copy.get())), "2");
}

TEST(Config, NameHoldingNulComesBackEmpty) {
  ConfigPtr c = config(R"({"policy_name":"a\u0000b"})");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(take(quorvel_config_policy_name(c.get())), "");
}

TEST(Config, RefusedInputsGiveNull) {
  const std::string cases[] = {"", "{}x", "{\"policy_name\":\"\"}", "{\"schema_version\":\"2.0\"}",
                               "\"\xFF\"", "[1,"};
  for (const std::string& doc : cases) {
    EXPECT_EQ(quorvel_config_from_json(doc.data(), doc.size()), nullptr) << doc;
  }
  EXPECT_EQ(quorvel_config_from_json(nullptr, 3), nullptr);
}

TEST(Config, TextIsReadExactlyLengthBytes) {
  const char doc[] = "{\"policy_name\":\"short\"}GARBAGE";
  ConfigPtr c(quorvel_config_from_json(doc, sizeof("{\"policy_name\":\"short\"}") - 1));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(take(quorvel_config_policy_name(c.get())), "short");
}

TEST(Config, ConcurrentQueriesAndClonesOfOneHandle) {
  ConfigPtr c(quorvel_config_default());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        ConfigPtr copy(quorvel_config_clone(c.get()));
        EXPECT_FALSE(quorvel_config_active(copy.get()));
        quorvel_free(quorvel_config_policy_name(c.get()));
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(take(quorvel_config_policy_name(c.get())), "default");
}

TEST(Enforcer, NullHandleGivesNull) { EXPECT_EQ(quorvel_enforcer_create(nullptr, "a", 1), nullptr); }

TEST(Enforcer, MissingOrMalformedSessionIdsShareTheEmptySession) {
  ConfigPtr c = config(active_policy(R"([{"name":"PIN","pattern":"\\bPIN[0-9]{4}\\b"}])"));
  ASSERT_NE(c, nullptr);
  EnforcerPtr by_null(quorvel_enforcer_create(c.get(), nullptr, 0));
  EnforcerPtr by_empty(quorvel_enforcer_create(c.get(), "x", 0));
  EnforcerPtr by_bad(quorvel_enforcer_create(c.get(), "\xC3", 1));
  EnforcerPtr other = enforcer(c, fresh_session("other"));
  auto enc = encode(by_null, R"("PIN4821")");
  ASSERT_TRUE(enc);
  const size_t at = enc->find("<PIN:");
  ASSERT_NE(at, std::string::npos);
  const std::string token = enc->substr(at, 14);
  const std::string reply = "\"" + token + "\"";
  for (const EnforcerPtr* e : {&by_empty, &by_bad}) {
    auto dec = decode(*e, reply);
    ASSERT_TRUE(dec);
    EXPECT_NE(dec->find("\"payload\":\"PIN4821\""), std::string::npos) << *dec;
  }
  auto dec = decode(other, reply);
  ASSERT_TRUE(dec);
  EXPECT_NE(dec->find("\"payload\":\"" + token + "\""), std::string::npos) << *dec;
}

}  // namespace
}  // namespace quorvel::testing
