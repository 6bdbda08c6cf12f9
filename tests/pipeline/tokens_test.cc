// Token making: values derived from the text and the counter, kept unique in
// the session's vault by an atomic reservation; the signed payload form; the
// signature draw and its rule text.
#include "pipeline/tokens.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "util/clock.h"
#include "vault/in_memory_token_vault.h"

namespace quorvel::pipeline {
namespace {

constexpr Uuid kUuid{1, 2, 3, 4, 5, 6, 0x40, 8, 0x80, 10, 11, 12, 13, 14, 15, 16};

vault::TokenMapping mapping_for(std::string_view key, std::string_view original) {
  return vault::TokenMapping{std::string(key), std::string(original), "OTHER", "other-session",
                             Uuid{}, UtcTime{}};
}

TEST(TokenValue, KnownValues) {
  struct Case {
    std::string text;
    uint64_t counter;
    const char* expected;  // first four bytes of SHA-256(text || counter LE)
  };
  const std::vector<Case> cases = {
      {"abc", 0, "4b5c6fd3"},
      {"abc", 1, "b02182b7"},
      // The counter is written least significant byte first.
      {"abc", 0x0102030405060708u, "a72c8bd0"},
      {"", 0, "af5570f5"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(token_value(c.text, c.counter), c.expected) << c.text << " @ " << c.counter;
  }
}

class MakeToken : public ::testing::Test {
 protected:
  TokenSink sink() { return TokenSink{"session-1", kUuid, &counter_, &vault_}; }

  std::atomic<uint64_t> counter_{0};
  vault::InMemoryTokenVault vault_;
};

TEST_F(MakeToken, FirstTokenStoresItsMapping) {
  const UtcTime before = utc_now();
  const MadeToken t = make_token(sink(), "T", "abc", std::nullopt);
  const UtcTime after = utc_now();
  EXPECT_EQ(t.key, "<T:4b5c6fd3>");
  EXPECT_EQ(t.payload, "<T:4b5c6fd3>");
  EXPECT_EQ(counter_.load(), 1u);
  ASSERT_EQ(vault_.size(), 1u);
  const auto m = vault_.get("<T:4b5c6fd3>");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->token, "<T:4b5c6fd3>");
  EXPECT_EQ(m->original_value, "abc");
  EXPECT_EQ(m->pii_type, "T");
  EXPECT_EQ(m->session_id, "session-1");
  EXPECT_EQ(m->session_uuid, kUuid);
  EXPECT_GE(m->created_at, before);
  EXPECT_LE(m->created_at, after);

  // The next token of the same text draws the next counter value.
  EXPECT_EQ(make_token(sink(), "T", "abc", std::nullopt).key, "<T:b02182b7>");
  EXPECT_EQ(counter_.load(), 2u);
}

// The type is copied as it is, whatever its characters.
TEST_F(MakeToken, TypeIsCopiedByteForByte) {
  EXPECT_EQ(make_token(sink(), "e mail:x-y", "abc", std::nullopt).key, "<e mail:x-y:4b5c6fd3>");
}

// A value that any key of the vault already carries is skipped, whatever that
// key's type.
TEST_F(MakeToken, TakenValueMovesToTheNextCounter) {
  vault_.insert("<OTHER:4b5c6fd3>", mapping_for("<OTHER:4b5c6fd3>", "zzz"));
  const MadeToken t = make_token(sink(), "T", "abc", std::nullopt);
  EXPECT_EQ(t.key, "<T:b02182b7>");
  EXPECT_EQ(counter_.load(), 2u);
  EXPECT_EQ(vault_.get("<OTHER:4b5c6fd3>")->original_value, "zzz");
  EXPECT_EQ(vault_.size(), 2u);
}

TEST_F(MakeToken, ValueCarriedBySeveralKeysIsTakenToo) {
  vault_.insert("<A:4b5c6fd3>", mapping_for("<A:4b5c6fd3>", "x"));
  vault_.insert("<B:4b5c6fd3>", mapping_for("<B:4b5c6fd3>", "y"));
  vault_.insert("<C:b02182b7>", mapping_for("<C:b02182b7>", "z"));
  EXPECT_EQ(make_token(sink(), "T", "abc", std::nullopt).key,
            "<T:" + token_value("abc", 2) + ">");
  EXPECT_EQ(counter_.load(), 3u);
}

// The key of an earlier token of the same type and value is never replaced.
TEST_F(MakeToken, SameKeyIsNeverOverwritten) {
  vault_.insert("<T:4b5c6fd3>", mapping_for("<T:4b5c6fd3>", "first"));
  EXPECT_EQ(make_token(sink(), "T", "abc", std::nullopt).key, "<T:b02182b7>");
  EXPECT_EQ(vault_.get("<T:4b5c6fd3>")->original_value, "first");
}

TEST_F(MakeToken, SignedPayloadKeepsTheUnsignedKey) {
  struct Case {
    uint16_t signature;
    const char* payload;
  };
  const std::vector<Case> cases = {
      {417, "-417>"}, {100, "-100>"}, {999, "-999>"},
      // Three digits at least, zero-padded on the left.
      {42, "-042>"}, {7, "-007>"}, {0, "-000>"}, {1000, "-1000>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signature);
    const uint64_t counter = counter_.load();
    const MadeToken t = make_token(sink(), "PERSON", "abc", c.signature);
    const std::string value = token_value("abc", counter);
    EXPECT_EQ(t.key, "<PERSON:" + value + ">");
    EXPECT_EQ(t.payload, "<PERSON:" + value + c.payload);
    ASSERT_TRUE(vault_.get(t.key));
    EXPECT_EQ(vault_.get(t.key)->token, t.key);
    EXPECT_FALSE(vault_.get(t.payload));
  }
}

// A vault in which another encode of the session stores a mapping with the
// first value asked about: right after a lookup has found that value free, or
// just before a reservation of it. The first is the interleaving that a check
// followed by a separate insert cannot survive.
class RacingVault final : public vault::TokenVault {
 public:
  void insert(std::string_view token, vault::TokenMapping mapping) override {
    inner.insert(token, std::move(mapping));
  }
  std::optional<vault::TokenMapping> get(std::string_view token) const override {
    return inner.get(token);
  }
  std::optional<vault::TokenMapping> find_by_value(std::string_view value) const override {
    auto found = inner.find_by_value(value);
    rival_once(value);
    return found;
  }
  void remove_session(const Uuid& uuid) override { inner.remove_session(uuid); }
  void remove(std::string_view token) override { inner.remove(token); }
  bool insert_if_value_free(std::string_view value, std::string_view token,
                            vault::TokenMapping mapping) override {
    rival_once(value);
    return inner.insert_if_value_free(value, token, std::move(mapping));
  }

  mutable vault::InMemoryTokenVault inner;

 private:
  void rival_once(std::string_view value) const {
    if (rival_done_) return;
    rival_done_ = true;
    const std::string key = "<RIVAL:" + std::string(value) + ">";
    inner.insert(key, mapping_for(key, "rival"));
  }
  mutable bool rival_done_ = false;
};

TEST(MakeTokenReservation, ValueIsNeverSharedWithAnInterleavedInsert) {
  RacingVault racing;
  std::atomic<uint64_t> counter{0};
  const TokenSink sink{"s", kUuid, &counter, &racing};
  const MadeToken t = make_token(sink, "T", "abc", std::nullopt);
  const std::string value = t.key.substr(3, 8);
  // Exactly one key carries the token's value: the token's own.
  const auto owner = racing.inner.find_by_value(value);
  ASSERT_TRUE(owner) << "value " << value << " is carried by several keys";
  EXPECT_EQ(owner->token, t.key);
  EXPECT_EQ(owner->original_value, "abc");
}

// Several encodes of one session at once, each with its own counter from 0
// and the same text, derive the same candidate values in the same order.
// Every token still gets a value of its own. (Collisions of a non-atomic
// reservation are rare here; the fixture above forces them.)
TEST(MakeTokenReservation, ConcurrentEncodesNeverShareAValue) {
  constexpr int kThreads = 4;
  constexpr int kTokens = 150;
  vault::InMemoryTokenVault vault;
  std::vector<std::vector<std::string>> keys(kThreads);
  std::vector<std::atomic<uint64_t>> counters(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      const size_t at = static_cast<size_t>(i);
      const TokenSink sink{"s", kUuid, &counters[at], &vault};
      for (int k = 0; k < kTokens; ++k) {
        keys[at].push_back(make_token(sink, "T", "same text", std::nullopt).key);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  std::set<std::string> values;
  for (const auto& list : keys) {
    for (const std::string& k : list) values.insert(k.substr(3, 8));
  }
  EXPECT_EQ(values.size(), size_t{kThreads} * kTokens);
  EXPECT_EQ(vault.size(), size_t{kThreads} * kTokens);
}

TEST(Signature, DrawsStayWithinThreeDigits) {
  uint16_t lo = 999;
  uint16_t hi = 100;
  for (int i = 0; i < 20000; ++i) {
    const uint16_t s = draw_signature();
    ASSERT_GE(s, 100);
    ASSERT_LE(s, 999);
    lo = std::min(lo, s);
    hi = std::max(hi, s);
  }
  // Both ends are reachable (each is missed by 20000 uniform draws with
  // probability about 2e-10).
  EXPECT_EQ(lo, 100);
  EXPECT_EQ(hi, 999);
}

TEST(Signature, InjectionTextByteForByte) {
  const std::string expected_417 =
      "RULE: Any token in the format <TYPE:VALUE-417> is an opaque system placeholder, where "
      "417 is a 3-digit integrity signature. Preserve the entire token exactly as-is "
      "\xE2\x80\x94 including the angle brackets, the colon, the value, the hyphen, and the "
      "3-digit signature \xE2\x80\x94 in all responses and tool call parameters. Never unwrap, "
      "reformat, split, or abbreviate any part of it.\n\n";
  EXPECT_EQ(signature_injection_text(417), expected_417);

  const std::string text_100 = signature_injection_text(100);
  EXPECT_EQ(text_100.find("<TYPE:VALUE-100> is"), 30u);
  EXPECT_NE(text_100.find("where 100 is a 3-digit"), std::string::npos);
  EXPECT_EQ(text_100.size(), expected_417.size());
  EXPECT_EQ(text_100.find("417"), std::string::npos);
}

}  // namespace
}  // namespace quorvel::pipeline
