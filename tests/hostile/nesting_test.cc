// A million levels of nesting: refused at level 128 without exhausting the
// stack, by every export that reads JSON.
#include <gtest/gtest.h>

#include <string>

#include "hostile/hostile_helpers.h"

namespace quorvel::testing {
namespace {

constexpr size_t kLevels = 1000000;

std::string repeated(std::string_view unit, size_t n) {
  std::string out;
  out.reserve(unit.size() * n);
  for (size_t i = 0; i < n; ++i) out.append(unit);
  return out;
}

class Nesting : public ::testing::Test {
 protected:
  void SetUp() override {
    cfg_ = config(active_policy(R"([{"name":"EMAIL","pattern":"[a-z]+@[a-z]+\\.com"}])"));
    ASSERT_NE(cfg_, nullptr);
    e_ = enforcer(cfg_, fresh_session("nesting"));
  }
  // Null from encode, decode and the policy reader.
  void expect_refused(const std::string& text) {
    EXPECT_FALSE(encode(e_, text, 1));
    EXPECT_FALSE(decode(e_, text, 1));
    EXPECT_EQ(quorvel_config_from_json(text.data(), text.size()), nullptr);
  }
  ConfigPtr cfg_;
  EnforcerPtr e_;
};

TEST_F(Nesting, MillionArraysAreRefused) {
  expect_refused(repeated("[", kLevels) + repeated("]", kLevels));
}

TEST_F(Nesting, MillionObjectsAreRefused) {
  expect_refused(repeated("{\"a\":", kLevels) + "\"ada@math.com\"" + repeated("}", kLevels));
}

TEST_F(Nesting, MillionAlternatingLevelsAreRefused) {
  expect_refused(repeated("[{\"k\":", kLevels / 2) + "1" + repeated("}]", kLevels / 2));
}

TEST_F(Nesting, MillionUnclosedLevelsAreRefused) {
  expect_refused(repeated("[", kLevels));
  expect_refused(repeated("{\"a\":", kLevels));
}

TEST_F(Nesting, DeepLevelsInsideAPolicyDocumentAreRefused) {
  const std::string doc = R"({"policy_name":"p","quorvel_policy":)" + repeated("[", kLevels) +
                          repeated("]", kLevels) + "}";
  EXPECT_EQ(quorvel_config_from_json(doc.data(), doc.size()), nullptr);
}

TEST_F(Nesting, LevelsUpToTheLimitGiveACorrectEnvelope) {
  // 127 levels alternate between arrays and objects, the innermost holding
  // an address that is tokenized and comes back on decoding.
  std::string open, close;
  for (int level = 0; level < 127; ++level) {
    open += level % 2 == 0 ? "[" : "{\"k\":";
    close.insert(0, level % 2 == 0 ? "]" : "}");
  }
  const std::string text = open + "\"ada@math.com\"" + close;
  auto encoded = encode(e_, text);
  ASSERT_TRUE(encoded);
  const std::string payload = payload_of(*encoded);
  EXPECT_EQ(payload.find("ada@math.com"), std::string::npos);
  EXPECT_NE(payload.find("<EMAIL:"), std::string::npos);
  auto decoded = decode(e_, payload);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(payload_of(*decoded), text);
  // One level more is refused.
  expect_refused("[" + text + "]");
}

}  // namespace
}  // namespace quorvel::testing
