// Several threads encode and decode at once, through one enforcer and through
// several enforcers of one session; every token restores its own original.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "ffi/c_api_helpers.h"

namespace quorvel::testing {
namespace {

const char kPatterns[] = R"([{"name":"USER","pattern":"user-[0-9]+-[0-9]+"}])";

// The first token in an envelope, found without std::regex, whose locale
// caches are not safe to fill from several threads.
std::string first_token(const std::string& envelope) {
  const size_t at = envelope.find("<USER:");
  if (at == std::string::npos) return {};
  return envelope.substr(at, envelope.find('>', at) + 1 - at);
}

void round_trips(const EnforcerPtr& e, int thread, int rounds) {
  for (int i = 0; i < rounds; ++i) {
    // Every thread also encodes one value that all threads share, so that
    // equal texts race for token values.
    const std::string mine = "user-" + std::to_string(thread) + "-" + std::to_string(i);
    const std::string payload = R"({"a":")" + mine + R"(","b":"user-0-0"})";
    auto enc = encode(e, payload, i % 2);
    ASSERT_TRUE(enc);
    const std::string token = first_token(*enc);
    ASSERT_TRUE(token.size() == 15 || token.size() == 19) << *enc;
    auto dec = decode(e, "\"" + token + "\"", 1);
    ASSERT_TRUE(dec);
    ASSERT_EQ(*dec, R"({"payload":")" + mine + R"(","rules_applied_count":1,"rule_names":["USER"],"policy_name":"test"})");
  }
}

TEST(RoundTripConcurrency, ThreadsShareOneEnforcer) {
  ConfigPtr cfg = config(active_policy(kPatterns));
  ASSERT_NE(cfg, nullptr);
  EnforcerPtr e = enforcer(cfg, fresh_session("threads-one"));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back([&, t] { round_trips(e, t, 300); });
  for (auto& t : threads) t.join();
}

TEST(RoundTripConcurrency, ThreadsUseEnforcersOfOneSession) {
  ConfigPtr cfg = config(active_policy(kPatterns));
  ASSERT_NE(cfg, nullptr);
  const std::string session = fresh_session("threads-many");
  std::vector<EnforcerPtr> enforcers;
  for (int t = 0; t < 4; ++t) enforcers.push_back(enforcer(cfg, session));
  cfg.reset();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back([&, t] { round_trips(enforcers[static_cast<size_t>(t)], t, 300); });
  for (auto& t : threads) t.join();
  // Every enforcer restores what any other stored.
  auto enc = encode(enforcers[0], R"("user-9-9")");
  ASSERT_TRUE(enc);
  const size_t at = enc->find("<USER:");
  ASSERT_NE(at, std::string::npos);
  auto dec = decode(enforcers[3], "\"" + enc->substr(at, 15) + "\"");
  ASSERT_TRUE(dec);
  EXPECT_NE(dec->find(R"("payload":"user-9-9")"), std::string::npos) << *dec;
}

}  // namespace
}  // namespace quorvel::testing
