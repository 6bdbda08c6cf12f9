// Every single-byte corruption of a small valid payload, at every position
// with every other byte value: ill-formed UTF-8 is always refused, and
// whatever is accepted comes back as a well-formed envelope whose payload
// is what the library reads from the corrupted text.
#include <gtest/gtest.h>

#include <string>

#include "hostile/hostile_helpers.h"

namespace quorvel::testing {
namespace {

// ASCII, two-, three- and four-byte characters, escapes, numbers and an
// address that the policy tokenizes.
const std::string kPayload =
    "{\"a\":\"ada@math.com\",\"b\":[\"h\xC3\xA9\",\"\xE2\x9C\x93\",\"\xF0\x9D\x84\x9E\",\"\\u00e9\\n\"],"
    "\"c\":{\"n\":-12.5e3,\"t\":true,\"z\":null}}";

// A plain reference check of UTF-8 (RFC 3629), independent of the library's.
bool reference_utf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n;
    unsigned cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    const unsigned least[] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

TEST(Corruption, ReferenceCheckAgreesOnKnownTexts) {
  EXPECT_TRUE(reference_utf8(kPayload));
  EXPECT_FALSE(reference_utf8("\xC3"));
  EXPECT_FALSE(reference_utf8("\xC0\xAF"));
  EXPECT_FALSE(reference_utf8("\xED\xA0\x80"));
  EXPECT_FALSE(reference_utf8("\xF4\x90\x80\x80"));
  EXPECT_TRUE(reference_utf8("\xF4\x8F\xBF\xBF"));
}

TEST(Corruption, EveryByteAtEveryPosition) {
  ConfigPtr cfg = config(active_policy(R"([{"name":"EMAIL","pattern":"[a-z]+@[a-z]+\\.com"}])"));
  ASSERT_NE(cfg, nullptr);
  EnforcerPtr e = enforcer(cfg, fresh_session("corruption"));

  size_t ill_formed = 0, not_json = 0, accepted = 0;
  for (size_t pos = 0; pos < kPayload.size(); ++pos) {
    for (int b = 0; b < 256; ++b) {
      if (static_cast<char>(b) == kPayload[pos]) continue;
      std::string text = kPayload;
      text[pos] = static_cast<char>(b);
      const bool utf8 = reference_utf8(text);
      const auto as_read = rewritten(text);
      auto encoded = encode(e, text, 1);
      auto decoded = decode(e, text, 1);
      SCOPED_TRACE("byte " + std::to_string(b) + " at " + std::to_string(pos));
      if (!utf8) {
        ++ill_formed;
        EXPECT_FALSE(encoded);
        EXPECT_FALSE(decoded);
        EXPECT_FALSE(as_read);
        continue;
      }
      ASSERT_EQ(encoded.has_value(), as_read.has_value());
      ASSERT_EQ(decoded.has_value(), as_read.has_value());
      if (!as_read) {
        ++not_json;
        continue;
      }
      ++accepted;
      // The envelopes read as JSON; decoding what encode made gives back the
      // payload as read (the corrupted text holds no "<").
      EXPECT_EQ(payload_of(*decoded), *as_read);
      const std::string encoded_payload = payload_of(*encoded);
      auto back = decode(e, encoded_payload, 1);
      ASSERT_TRUE(back);
      EXPECT_EQ(payload_of(*back), *as_read);
    }
  }
  // Each kind of outcome occurs.
  EXPECT_GT(ill_formed, kPayload.size() * 100);
  EXPECT_GT(not_json, 1000u);
  EXPECT_GT(accepted, 1000u);
  RecordProperty("ill_formed", static_cast<int>(ill_formed));
  RecordProperty("not_json", static_cast<int>(not_json));
  RecordProperty("accepted", static_cast<int>(accepted));
}

// Bytes that can never appear in UTF-8, and sequences cut short, inserted at
// every position of the payload.
TEST(Corruption, InsertedIllFormedSequencesAreRefused) {
  ConfigPtr cfg(quorvel_config_default());
  EnforcerPtr e = enforcer(cfg, fresh_session("corruption"));
  const std::string bad[] = {"\xFF", "\xFE", "\xC0\x80", "\xC1\xBF", "\x80", "\xBF", "\xC3",
                             "\xE2\x9C", "\xF0\x9D\x84", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80"};
  for (size_t pos = 0; pos <= kPayload.size(); ++pos) {
    for (const std::string& b : bad) {
      std::string text = kPayload;
      text.insert(pos, b);
      EXPECT_FALSE(encode(e, text)) << pos;
      EXPECT_FALSE(decode(e, text)) << pos;
      EXPECT_EQ(quorvel_config_from_json(text.data(), text.size()), nullptr);
    }
  }
}

}  // namespace
}  // namespace quorvel::testing
