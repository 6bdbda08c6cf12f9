// The PII pass: which findings become tokens, in what order they draw counter
// values and join the name list, how their texts are replaced, and what it
// leaves alone (keys, numbers, strings without findings, text inside tokens
// it has written).
#include "pipeline/masker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"
#include "pipeline/tokens.h"
#include "vault/in_memory_token_vault.h"

namespace quorvel::pipeline {
namespace {

using ::testing::ElementsAre;

constexpr Uuid kUuid{9, 8, 7, 6, 5, 4, 0x40, 2, 0x80, 0, 1, 2, 3, 4, 5, 6};

std::shared_ptr<const policy::CompiledPatterns> compile(
    const std::vector<policy::PiiPattern>& patterns) {
  auto compiled = policy::CompiledPatterns::compile(patterns);
  EXPECT_TRUE(compiled.ok());
  return compiled.value();
}

// "<" type ":" the value of `text` at `counter` ">".
std::string token(std::string_view type, std::string_view text, uint64_t counter) {
  return "<" + std::string(type) + ":" + token_value(text, counter) + ">";
}

class Masker : public ::testing::Test {
 protected:
  // Masks the JSON `payload` with `patterns`; returns the compact result.
  std::string mask(const std::string& payload, const std::vector<policy::PiiPattern>& patterns) {
    const auto compiled = compile(patterns);
    json::Arena arena;
    auto parsed = json::parse(payload, arena);
    EXPECT_TRUE(parsed.ok()) << payload;
    json::Value root = parsed.value();
    mask_value(root, *compiled, sink(), call_, arena);
    return json::to_json(root);
  }
  // Masks one string value; returns its text.
  std::string mask_text(std::string_view text, const std::vector<policy::PiiPattern>& patterns) {
    const auto compiled = compile(patterns);
    json::Arena arena;
    return std::string(mask_string(text, *compiled, sink(), call_, arena));
  }
  TokenSink sink() { return TokenSink{"session-7", kUuid, &counter_, &vault_}; }
  std::string original_of(const std::string& key) const {
    const auto m = vault_.get(key);
    return m ? m->original_value : "<none>";
  }

  std::atomic<uint64_t> counter_{0};
  vault::InMemoryTokenVault vault_;
  EncodeCall call_;
};

const policy::PiiPattern kPhone{"PHONE", R"(\d{3}-\d{4})"};
const policy::PiiPattern kEmail{"EMAIL", R"([a-z]+@[a-z]+\.[a-z]+)"};

TEST_F(Masker, TokenizesAndStoresEachFinding) {
  EXPECT_EQ(mask(R"({"text":"call 555-0100 now"})", {kPhone}),
            R"({"text":"call )" + token("PHONE", "555-0100", 0) + R"( now"})");
  EXPECT_EQ(call_.applied_count, 1u);
  EXPECT_THAT(call_.rule_names.names(), ElementsAre("PHONE"));
  EXPECT_EQ(counter_.load(), 1u);
  ASSERT_EQ(vault_.size(), 1u);
  const auto m = vault_.get(token("PHONE", "555-0100", 0));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->token, token("PHONE", "555-0100", 0));
  EXPECT_EQ(m->original_value, "555-0100");
  EXPECT_EQ(m->pii_type, "PHONE");
  EXPECT_EQ(m->session_id, "session-7");
  EXPECT_EQ(m->session_uuid, kUuid);
}

// Two patterns on the same span: the one listed first names the token, and
// only its name is listed.
TEST_F(Masker, SameSpanGoesToTheFirstListedPattern) {
  const policy::PiiPattern local{"LOCAL", R"(555-\d{4})"};
  EXPECT_EQ(mask_text("555-0100", {kPhone, local}), token("PHONE", "555-0100", 0));
  EXPECT_THAT(call_.rule_names.names(), ElementsAre("PHONE"));
  EXPECT_EQ(mask_text("555-0100", {local, kPhone}), token("LOCAL", "555-0100", 1));
  EXPECT_THAT(call_.rule_names.names(), ElementsAre("PHONE", "LOCAL"));
  EXPECT_EQ(call_.applied_count, 2u);
  EXPECT_EQ(vault_.size(), 2u);
}

TEST_F(Masker, OverlapsGoToTheLongerThenTheEarlierMatch) {
  // The longer match wins over a shorter one inside it, whatever the order of
  // the patterns.
  const policy::PiiPattern ext{"PHONE_EXT", R"(\d{3}-\d{4} ext \d+)"};
  EXPECT_EQ(mask_text("555-0100 ext 7", {kPhone, ext}), token("PHONE_EXT", "555-0100 ext 7", 0));
  EXPECT_THAT(call_.rule_names.names(), ElementsAre("PHONE_EXT"));
  EXPECT_EQ(call_.applied_count, 1u);
  EXPECT_EQ(vault_.size(), 1u);

  // At equal length the earlier start wins, whatever the order of the
  // patterns; the loser does not count.
  EXPECT_EQ(mask_text("abab", {{"BA", "ba"}, {"AB", "ab"}}),
            token("AB", "ab", 1) + token("AB", "ab", 1));
  EXPECT_THAT(call_.rule_names.names(), ElementsAre("PHONE_EXT", "AB"));
  // "ab" twice: two accepted matches, two mappings.
  EXPECT_EQ(call_.applied_count, 3u);
  EXPECT_EQ(vault_.size(), 3u);
}

// Replacement is by text: every occurrence gets the token of the first match
// with that text; later matches with the same text still make and store their
// own token and count.
TEST_F(Masker, SameTextTwiceGetsOneTokenAtBothPlaces) {
  const std::string first = token("PHONE", "555-0100", 0);
  const std::string second = token("PHONE", "555-0100", 1);
  EXPECT_EQ(mask_text("555-0100 or 555-0100", {kPhone}), first + " or " + first);
  EXPECT_EQ(call_.applied_count, 2u);
  EXPECT_EQ(counter_.load(), 2u);
  EXPECT_EQ(vault_.size(), 2u);
  EXPECT_EQ(original_of(first), "555-0100");
  EXPECT_EQ(original_of(second), "555-0100");
}

// The text is replaced also where the pattern did not match it.
TEST_F(Masker, ReplacementReachesOccurrencesThePatternDidNotMatch) {
  EXPECT_EQ(mask_text("555-0100 x555-0100y", {{"PHONE", R"(\b\d{3}-\d{4}\b)"}}),
            token("PHONE", "555-0100", 0) + " x" + token("PHONE", "555-0100", 0) + "y");
  EXPECT_EQ(call_.applied_count, 1u);
  // Occurrences are taken left to right without overlap.
  EXPECT_EQ(mask_text("aaa", {{"A", "^aa"}}), token("A", "aa", 1) + "a");
  // An earlier finding's text can cover a later finding: that one makes its
  // token, stores it and counts, but finds nothing left to replace.
  EXPECT_EQ(mask_text("abcab", {{"X", "^ab"}, {"Y", "ca"}}),
            token("X", "ab", 2) + "c" + token("X", "ab", 2));
  EXPECT_EQ(call_.applied_count, 4u);
  EXPECT_EQ(original_of(token("Y", "ca", 3)), "ca");
}

// Depth first; object members by ascending key, array elements by index. The
// order fixes the counter values and the order of names.
TEST_F(Masker, VisitingOrderFixesCountersAndNames) {
  EXPECT_EQ(mask(R"({"b":"555-0100","a":"555-0199"})", {kPhone}),
            R"({"a":")" + token("PHONE", "555-0199", 0) + R"(","b":")" +
                token("PHONE", "555-0100", 1) + R"("})");

  EXPECT_EQ(mask(R"({"z":["555-0100","bob@x.io"],"y":{"k":"ann@y.io 555-0199"}})",
                 {kPhone, kEmail}),
            R"({"y":{"k":")" + token("EMAIL", "ann@y.io", 2) + " " +
                token("PHONE", "555-0199", 3) + R"("},"z":[")" + token("PHONE", "555-0100", 4) +
                R"(",")" + token("EMAIL", "bob@x.io", 5) + R"("]})");
  EXPECT_EQ(call_.applied_count, 6u);
}

// Names join after what the call already lists, in the order in which the
// walk first accepts a match of each pattern, not in pattern order.
TEST_F(Masker, NamesJoinInFirstAcceptanceOrder) {
  call_.rule_names.add("CATEGORY");
  call_.applied_count = 1;
  mask(R"({"a":"x bob@x.io 555-0100","b":"ann@y.io 555-0199"})",
       {{"SSN", R"(\d{3}-\d{2}-\d{4})"}, kPhone, {"CARD", R"(\d{16})"}, kEmail});
  EXPECT_THAT(call_.rule_names.names(), ElementsAre("CATEGORY", "EMAIL", "PHONE"));
  EXPECT_EQ(call_.applied_count, 5u);

  call_ = EncodeCall{};
  call_.rule_names.add("PHONE");
  mask(R"({"b":"bob@x.io","a":"555-0100 ann@y.io"})", {kEmail, {"CARD", R"(\d{16})"}, kPhone});
  EXPECT_THAT(call_.rule_names.names(), ElementsAre("PHONE", "EMAIL"));
}

TEST_F(Masker, KeysNumbersAndOtherScalarsAreLeftAlone) {
  const std::string payload =
      R"({"555-0100":"x","n":5550100,"m":-5550100,"d":555.01,"t":true,"z":null,)"
      R"("a":[],"o":{"555-0199":{}}})";
  json::Arena arena;
  const std::string expected = json::to_json(json::parse(payload, arena).value());
  EXPECT_EQ(mask(payload, {kPhone, {"DIGITS", R"(\d+)"}}), expected);
  EXPECT_EQ(call_.applied_count, 0u);
  EXPECT_TRUE(call_.rule_names.names().empty());
  EXPECT_EQ(counter_.load(), 0u);
  EXPECT_EQ(vault_.size(), 0u);
}

// A string without findings comes back as the very same view, without
// touching the arena, the counter, the names or the vault. Patterns that only
// ever match the empty text find nothing either.
TEST_F(Masker, StringWithoutFindingsIsTheSameView) {
  const std::vector<std::vector<policy::PiiPattern>> pattern_sets = {
      {},
      {kPhone},
      {kPhone, kEmail},
      {{"EMPTY", "z*"}},
      {{"START", "^"}, {"END", "$"}, {"EDGE", R"(\b)"}},
  };
  const std::string text = "no findings here: 555-01 and bob@x";
  for (const auto& patterns : pattern_sets) {
    SCOPED_TRACE(patterns.size());
    const auto compiled = compile(patterns);
    json::Arena arena;
    const size_t reserved = arena.bytes_reserved();
    const std::string_view out = mask_string(text, *compiled, sink(), call_, arena);
    EXPECT_EQ(out.data(), text.data());
    EXPECT_EQ(out.size(), text.size());
    EXPECT_EQ(arena.bytes_reserved(), reserved);
  }
  EXPECT_EQ(call_.applied_count, 0u);
  EXPECT_TRUE(call_.rule_names.names().empty());
  EXPECT_EQ(counter_.load(), 0u);
  EXPECT_EQ(vault_.size(), 0u);
}

// A match of length zero is never accepted: it neither draws a counter value
// nor stores a mapping nor grows the text, while the same pattern's
// non-empty matches are tokenized.
TEST_F(Masker, EmptyMatchesAreNeverAccepted) {
  EXPECT_EQ(mask_text("abbcb", {{"B", "b*"}}),
            "a" + token("B", "bb", 0) + "c" + token("B", "b", 1));
  EXPECT_EQ(counter_.load(), 2u);
  EXPECT_EQ(mask_text("", {{"B", "b*"}}), "");
  EXPECT_EQ(mask_text("\xC3\xA9t\xC3\xA9", {{"E", "(?:)"}, {"X", "x?"}}), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(counter_.load(), 2u);
  EXPECT_EQ(call_.applied_count, 2u);
  EXPECT_THAT(call_.rule_names.names(), ElementsAre("B"));
  EXPECT_EQ(vault_.size(), 2u);
}

// A later finding's text that also occurs inside a token written earlier in
// the same string is replaced only outside that token.
TEST_F(Masker, TokensWrittenEarlierAreNeverRewritten) {
  // "abc" at counter 0 has the value 4b5c6fd3, which holds "4b".
  const std::string abc = token("T", "abc", 0);
  ASSERT_EQ(abc, "<T:4b5c6fd3>");
  EXPECT_EQ(mask_text("abc 4b", {{"T", "abc"}, {"H", "4b"}}),
            abc + " " + token("H", "4b", 1));

  // A pattern named "A" writes "<A:", which a later finding's text holds.
  EXPECT_EQ(mask_text("q <A:", {{"A", "q"}, {"B", "<A:"}}),
            token("A", "q", 2) + " " + token("B", "<A:", 3));

  // An occurrence that straddles the end of an earlier token (its ">" and
  // the text after it) is not one to replace either.
  EXPECT_EQ(mask_text("ac>c", {{"Z", "a"}, {"Y", ">c"}}),
            token("Z", "a", 4) + "c" + token("Y", ">c", 5));
  EXPECT_EQ(call_.applied_count, 6u);
}

TEST_F(Masker, SignedCallWritesSignedTokensUnderUnsignedKeys) {
  call_.signature = 417;
  const std::string v0 = token_value("555-0100", 0);
  const std::string v1 = token_value("bob@x.io", 1);
  EXPECT_EQ(mask(R"({"a":"555-0100","b":"bob@x.io"})", {kPhone, kEmail}),
            R"({"a":"<PHONE:)" + v0 + R"(-417>","b":"<EMAIL:)" + v1 + R"(-417>"})");
  EXPECT_EQ(original_of("<PHONE:" + v0 + ">"), "555-0100");
  EXPECT_EQ(original_of("<EMAIL:" + v1 + ">"), "bob@x.io");
  EXPECT_FALSE(vault_.get("<PHONE:" + v0 + "-417>"));
}

// The same original in two string values gets two tokens; an original stored
// earlier is never looked up for reuse.
TEST_F(Masker, EachStringMakesItsOwnTokens) {
  EXPECT_EQ(mask(R"({"a":"555-0100","b":"555-0100"})", {kPhone}),
            R"({"a":")" + token("PHONE", "555-0100", 0) + R"(","b":")" +
                token("PHONE", "555-0100", 1) + R"("})");
  EXPECT_EQ(mask_text("555-0100", {kPhone}), token("PHONE", "555-0100", 2));
  EXPECT_EQ(vault_.size(), 3u);
}

TEST_F(Masker, MultiByteTextAroundAndInsideFindings) {
  // "é" comes first by position, and its text is replaced everywhere, also
  // inside the longer finding "éé", which then has nothing left to replace.
  const std::string e = token("E", "\xC3\xA9", 0);
  EXPECT_EQ(mask_text("caf\xC3\xA9 \xC3\xA9\xC3\xA9!", {{"E", "\xC3\xA9+"}}),
            "caf" + e + " " + e + e + "!");
  EXPECT_EQ(original_of(token("E", "\xC3\xA9\xC3\xA9", 1)), "\xC3\xA9\xC3\xA9");
  // Character classes see characters, not bytes.
  EXPECT_EQ(mask_text("\xC3\x9F\xC3\xA9x", {{"L", R"(\pL{2})"}}),
            token("L", "\xC3\x9F\xC3\xA9", 2) + "x");
}

}  // namespace
}  // namespace quorvel::pipeline
