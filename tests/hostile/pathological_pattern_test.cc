// Policies with pathological patterns (huge counted repetitions, deep
// nesting, long alternations, the classic backtracking traps) run over
// 1 MiB of text made to defeat them: a correct envelope, in linear time.
// Patterns beyond the dialect's limits are refused when the policy loads.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "hostile/hostile_helpers.h"

namespace quorvel::testing {
namespace {

constexpr size_t kMiB = size_t{1} << 20;

std::string repeat(std::string_view unit, size_t n) {
  std::string out;
  out.reserve(n + unit.size());
  while (out.size() + unit.size() <= n) out.append(unit);
  return out;
}

std::string alternation(int words, const char* prefix, const char* suffix) {
  std::string p;
  for (int i = 0; i < words; ++i) p += (i ? "|" : "") + std::string(prefix) + std::to_string(i) + suffix;
  return p;
}

std::string escaped(std::string_view pattern) {
  std::string out;
  for (char c : pattern) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::string policy_of(std::string_view pattern) {
  return active_policy(R"([{"name":"P","pattern":")" + escaped(pattern) + "\"}]");
}

struct Case {
  const char* what;
  std::string pattern;
  std::string text;
  int findings;
};

std::vector<Case> cases() {
  const std::string a = repeat("a", kMiB);
  return {
      {"counted repetition, no match", "a{1000}b", a, 0},
      {"counted repetition, one match at the end", "a{1000}b", a + "b", 1},
      {"counted range over letters", "[a-z]{1,1000}@[a-z]+\\.com", repeat("abcdefghij", kMiB) + "@x.com", 1},
      {"counted Unicode class", "\\w{300}!", repeat("wörd ", kMiB), 0},
      {"nested repetitions", "(?:(?:(?:a+)+)+)+b", a, 0},
      {"nested stars and alternatives", "(a|aa)+c|(a|a)*d", a, 0},
      {"250 nested groups", std::string(249, '(') + "a+b" + std::string(249, ')'), a, 0},
      {"anchored words", "^(\\w+\\s?)*$", repeat("word ", kMiB) + "!", 0},
      {"2000-word alternation, near misses", alternation(2000, "w", "q"), repeat("w1 w12 w123 w1999 ", kMiB), 0},
      {"2000-word alternation, some hits", alternation(2000, "w", "q"),
       repeat(repeat("w1 w12 w123 ", 64 * 1024) + "w1999q ", kMiB), 0 /* counted below */},
      {"50 overlapping alternatives", "(?:a|aa|aaa|aaaa|aaaaa|aaaaaa|aaaaaaa|aaaaaaaa){1,50}c", a, 0},
  };
}

TEST(PathologicalPatterns, OneMiBOfAdversarialText) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.what);
    ConfigPtr cfg = config(policy_of(c.pattern));
    ASSERT_NE(cfg, nullptr);
    EnforcerPtr e = enforcer(cfg, fresh_session("pathological"));
    const std::string payload = "{\"text\":\"" + c.text + "\"}";
    const auto start = std::chrono::steady_clock::now();
    auto encoded = encode(e, payload);
    ASSERT_TRUE(encoded);
    const std::string encoded_payload = payload_of(*encoded);
    auto decoded = decode(e, encoded_payload);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(payload_of(*decoded) == payload) << "the round trip changed the text";
    size_t tokens = 0;
    for (size_t p = encoded_payload.find("<P:"); p != std::string::npos; p = encoded_payload.find("<P:", p + 1)) {
      ++tokens;
    }
    if (c.findings > 0) {
      EXPECT_EQ(tokens, static_cast<size_t>(c.findings));
    } else if (std::string_view(c.what).find("some hits") != std::string_view::npos) {
      EXPECT_GE(tokens, 15u);
    } else {
      EXPECT_EQ(tokens, 0u);
    }
    RecordProperty(c.what, std::to_string(seconds));
  }
}

TEST(PathologicalPatterns, BeyondTheLimitsIsRefusedQuickly) {
  const std::string too_many_classes = repeat("\\d", 2 * 1001);
  const std::string too_deep = std::string(251, '(') + "a" + std::string(251, ')');
  const char* const refused[] = {
      "(?:a{1000}){1000}",       "((a{1000}){1000}){1000}", "\\w{1000}\\w{1000}\\w{1000}",
      "a{1001}",                 "(?:\\pL{1000}){20}",      "x{1000}y{1000}z{1000}(?:[a-z]{1000}){40}",
  };
  const auto start = std::chrono::steady_clock::now();
  for (const char* p : refused) EXPECT_EQ(config(policy_of(p)), nullptr) << p;
  EXPECT_EQ(config(policy_of(too_many_classes)), nullptr);
  EXPECT_EQ(config(policy_of(too_deep)), nullptr);
  RecordProperty("seconds", std::to_string(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()));
}

TEST(PathologicalPatterns, ManyLongAlternationsTogether) {
  std::string patterns = "[";
  for (int i = 0; i < 50; ++i) {
    patterns += std::string(i ? "," : "") + R"({"name":"ALT)" + std::to_string(i) + R"(","pattern":")" +
                alternation(200, ("p" + std::to_string(i) + "x").c_str(), "q") + "\"}";
  }
  patterns += "]";
  ConfigPtr cfg = config(active_policy(patterns));
  ASSERT_NE(cfg, nullptr);
  EnforcerPtr e = enforcer(cfg, fresh_session("pathological"));
  // A hit every 64 KiB among near misses of every alternation.
  const std::string text = repeat(repeat("p1x1 p49x199 p7x7 ", 64 * 1024) + "p7x7q ", kMiB);
  auto encoded = encode(e, "\"" + text + "\"");
  ASSERT_TRUE(encoded);
  const std::string encoded_payload = payload_of(*encoded);
  EXPECT_EQ(encoded_payload.find("p7x7q"), std::string::npos);
  auto decoded = decode(e, encoded_payload);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(payload_of(*decoded) == "\"" + text + "\"");
}

}  // namespace
}  // namespace quorvel::testing
