// What each masking strategy makes of a value: redaction, partial masking by
// bytes without splitting a character, replacement, and keyed hashing whose
// key is read from the environment at each application.
#include "pipeline/masking_strategy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <variant>
#include <string>
#include <vector>

#include "util/utf8.h"

namespace quorvel::pipeline {
namespace {

using policy::Hash;
using policy::MaskingStrategy;
using policy::PartialMask;
using policy::Redact;
using policy::Replace;

struct Case {
  const char* what;
  MaskingStrategy strategy;
  std::string value;
  std::string expected;
};

TEST(MaskingStrategy, Table) {
  const std::vector<Case> cases = {
      {"redact", Redact{}, "Ada Lovelace", "[REDACTED]"},
      {"redact of the empty text", Redact{}, "", "[REDACTED]"},

      {"partial 2/2 masks the middle", PartialMask{2, 2}, "abcdefgh", "ab****gh"},
      {"partial 2/2 keeps a short value (P=2, S=1)", PartialMask{2, 2}, "abc", "abc"},
      {"partial 2/2 of the empty text", PartialMask{2, 2}, "", ""},
      {"partial 0/0 masks every byte", PartialMask{0, 0}, "abcdef", "******"},
      {"partial prefix only", PartialMask{3, 0}, "abcdef", "abc***"},
      {"partial suffix only", PartialMask{0, 3}, "abcdef", "***def"},
      {"prefix wins when both exceed the value", PartialMask{4, 4}, "abcdef", "abcdef"},
      {"partial 10/10 keeps a four-byte value", PartialMask{10, 10}, "abcd", "abcd"},
      {"huge counts do not overflow", PartialMask{UINT64_MAX, UINT64_MAX}, "abcd", "abcd"},
      {"huge suffix alone keeps the value", PartialMask{0, UINT64_MAX}, "abcd", "abcd"},
      {"P+S=L exactly keeps the value", PartialMask{2, 2}, "abcd", "abcd"},
      {"P+S=L-1 masks one byte", PartialMask{2, 1}, "abcd", "ab*d"},

      // Lengths are bytes: a masked two-byte character gives two asterisks.
      {"a masked two-byte character", PartialMask{1, 0}, "Jos\xC3\xA9", "J****"},
      {"cuts on character boundaries keep the character", PartialMask{0, 2}, "Jos\xC3\xA9",
       "***\xC3\xA9"},
      // A cut inside a character masks that character whole.
      {"prefix cut inside \xC3\xA9", PartialMask{1, 0}, "\xC3\xA9", "**"},
      {"suffix cut inside \xC3\xA9", PartialMask{0, 1}, "\xC3\xA9", "**"},
      {"suffix cut inside the last character", PartialMask{1, 1}, "Jos\xC3\xA9", "J****"},
      {"prefix cut inside the first character", PartialMask{1, 1}, "\xC3\xA9xy", "***y"},
      {"both cuts inside one three-byte character", PartialMask{1, 1}, "\xE2\x82\xAC", "***"},
      {"cut after two bytes of a four-byte character", PartialMask{2, 0},
       "\xF0\x9F\x98\x80!", "*****"},
      {"suffix cut inside a four-byte character", PartialMask{1, 3}, "a\xF0\x9F\x98\x80",
       "a****"},
      {"P+S=L with multi-byte characters keeps the value", PartialMask{1, 1}, "\xC3\xA9",
       "\xC3\xA9"},

      {"replace ignores the value", Replace{"<hidden>"}, "Ada", "<hidden>"},
      {"replace of the empty text", Replace{"<hidden>"}, "", "<hidden>"},
      {"replace with the empty text", Replace{""}, "Ada", ""},

      // Only the exact lower-case name selects the keyed hash.
      {"hash SHA256", Hash{"SHA256", "QUORVEL_TEST_SALT_SET"}, "Ada", "[REDACTED]"},
      {"hash sha-256", Hash{"sha-256", "QUORVEL_TEST_SALT_SET"}, "Ada", "[REDACTED]"},
      {"hash md5", Hash{"md5", "QUORVEL_TEST_SALT_SET"}, "Ada", "[REDACTED]"},
      {"hash empty algorithm", Hash{"", "QUORVEL_TEST_SALT_SET"}, "Ada", "[REDACTED]"},
      {"hash sha256 with a space", Hash{" sha256", "QUORVEL_TEST_SALT_SET"}, "Ada", "[REDACTED]"},
      {"hash RFC 4231 case 2", Hash{"sha256", "QUORVEL_TEST_SALT_SET"},
       "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
  };
  ASSERT_EQ(setenv("QUORVEL_TEST_SALT_SET", "Jefe", 1), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string got = apply_strategy(c.strategy, c.value);
    EXPECT_EQ(got, c.expected);
    EXPECT_TRUE(is_valid_utf8(got));
    if (std::holds_alternative<PartialMask>(c.strategy)) {
      EXPECT_EQ(got.size(), c.value.size());
    }
  }
}

// Every prefix and suffix count on a mixed text, against the rule: the
// preserved bytes shrink to whole characters, everything between them becomes
// one asterisk per byte, and a value with nothing to mask comes back as is.
TEST(MaskingStrategy, PartialMaskNeverSplitsACharacter) {
  const std::string value = "a\xC3\xA9\xE2\x82\xAC" "b\xF0\x9F\x98\x80" "c";
  const size_t len = value.size();
  auto boundary = [&](size_t i) {
    return i == len || (static_cast<unsigned char>(value[i]) & 0xC0) != 0x80;
  };
  for (size_t p = 0; p <= len + 1; ++p) {
    for (size_t s = 0; s <= len + 1; ++s) {
      SCOPED_TRACE(::testing::Message() << "prefix " << p << " suffix " << s);
      const size_t kp = std::min(p, len);
      const size_t ks = std::min(s, len - kp);
      std::string expected = value;
      if (kp + ks < len) {
        size_t front = kp;
        while (!boundary(front)) --front;
        size_t back = len - ks;
        while (!boundary(back)) ++back;
        expected.replace(front, back - front, back - front, '*');
      }
      const std::string got = apply_strategy(PartialMask{p, s}, value);
      EXPECT_EQ(got, expected);
      EXPECT_TRUE(is_valid_utf8(got));
    }
  }
}

class HashSalt : public ::testing::Test {
 protected:
  static constexpr const char* kVar = "QUORVEL_TEST_HASH_SALT";
  void TearDown() override { unsetenv(kVar); }
  static std::string hash(std::string_view value) {
    return apply_strategy(Hash{"sha256", kVar}, value);
  }
};

TEST_F(HashSalt, KeyIsReadAtEachApplication) {
  ASSERT_EQ(setenv(kVar, "not the key", 1), 0);
  const std::string before = hash("what do ya want for nothing?");
  EXPECT_EQ(before.size(), 64u);
  EXPECT_EQ(before.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(before, "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");

  ASSERT_EQ(setenv(kVar, "Jefe", 1), 0);
  EXPECT_EQ(hash("what do ya want for nothing?"),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  // Same key, same value, same text.
  EXPECT_EQ(hash("what do ya want for nothing?"),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

// Without a usable key the hash fails closed instead of hashing under the
// empty key; a variable holding the empty text is a usable (empty) key.
TEST_F(HashSalt, UnsetOrNonUtf8KeyRedacts) {
  const std::string empty_key_of_empty_value =
      "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad";

  ASSERT_EQ(unsetenv(kVar), 0);
  EXPECT_EQ(hash(""), "[REDACTED]");
  EXPECT_EQ(hash("Ada"), "[REDACTED]");

  ASSERT_EQ(setenv(kVar, "", 1), 0);
  EXPECT_EQ(hash(""), empty_key_of_empty_value);

  ASSERT_EQ(setenv(kVar, "\xFF\xFE", 1), 0);
  EXPECT_EQ(hash(""), "[REDACTED]");
  ASSERT_EQ(setenv(kVar, "\xC3", 1), 0);  // truncated sequence
  EXPECT_EQ(hash(""), "[REDACTED]");

  ASSERT_EQ(setenv(kVar, "Jefe", 1), 0);
  EXPECT_EQ(hash("what do ya want for nothing?"),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  ASSERT_EQ(unsetenv(kVar), 0);
  EXPECT_EQ(hash("what do ya want for nothing?"), "[REDACTED]");
}

}  // namespace
}  // namespace quorvel::pipeline
