#include "json/writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <random>

#include "json/reader.h"

namespace quorvel::json {
namespace {

TEST(Writer, EscapesExactlyTheRequiredCharacters) {
  std::string all;
  for (int c = 0; c < 0x80; ++c) all.push_back(static_cast<char>(c));
  Writer w;
  w.string(all);
  const std::string expected =
      "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r"
      "\\u000e\\u000f\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019"
      "\\u001a\\u001b\\u001c\\u001d\\u001e\\u001f !\\\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJ"
      "KLMNOPQRSTUVWXYZ[\\\\]^_`abcdefghijklmnopqrstuvwxyz{|}~\x7f\"";
  EXPECT_EQ(w.view(), expected);
}

TEST(Writer, ReleaseHandsOverANulTerminatedBlock) {
  Writer w;
  w.raw("{\"a\":");
  w.uint(1);
  w.raw('}');
  char* out = w.release();
  EXPECT_STREQ(out, "{\"a\":1}");
  std::free(out);
  EXPECT_EQ(w.size(), 0u);
}

TEST(Writer, DoublesAreShortestAndReadBackAsDoubles) {
  std::mt19937_64 rng(42);
  std::uniform_int_distribution<uint64_t> bits;
  int checked = 0;
  for (int i = 0; i < 20000; ++i) {
    double d;
    const uint64_t b = bits(rng);
    std::memcpy(&d, &b, sizeof d);
    if (!std::isfinite(d)) continue;
    Writer w;
    w.number(d);
    Arena arena;
    auto v = parse(w.view(), arena);
    ASSERT_TRUE(v.ok()) << w.view();
    ASSERT_EQ(v->kind, Kind::kDouble) << w.view();
    ASSERT_EQ(std::memcmp(&v->double_value, &d, sizeof d), 0) << w.view();
    ++checked;
  }
  EXPECT_GT(checked, 10000);
  for (double d : {100.0, 0.0, -0.0, 1e21, 123456789.0}) {
    Writer w;
    w.number(d);
    Arena arena;
    auto v = parse(w.view(), arena);
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(v->kind, Kind::kDouble) << w.view();
  }
}

TEST(Writer, IntegersAtTheirLimits) {
  Writer w;
  w.uint(std::numeric_limits<uint64_t>::max());
  w.raw(' ');
  w.int64(std::numeric_limits<int64_t>::min());
  EXPECT_EQ(w.view(), "18446744073709551615 -9223372036854775808");
}

}  // namespace
}  // namespace quorvel::json
