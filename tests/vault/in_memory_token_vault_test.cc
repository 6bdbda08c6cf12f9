// Behaviour of InMemoryTokenVault, run with one shard and with many so that
// both the single-lock and the cross-shard paths are covered.
#include "vault/in_memory_token_vault.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "vault/mapping_maker.h"

namespace quorvel::vault {
namespace {

using testing::kSessionA;
using testing::kSessionB;
using testing::make_mapping;

class VaultTest : public ::testing::TestWithParam<size_t> {
 protected:
  VaultTest() : vault_(GetParam()) {}

  void put(std::string_view key, std::string_view original = "orig") {
    vault_.insert(key, make_mapping(key, original));
  }
  // The key of the mapping find_by_value returns, or nothing.
  std::optional<std::string> found_key(std::string_view value) const {
    auto m = vault_.find_by_value(value);
    if (!m) return std::nullopt;
    return m->token;
  }

  InMemoryTokenVault vault_;
};

TEST_P(VaultTest, ShardCountIsAPowerOfTwoWithinBounds) {
  const size_t n = vault_.shard_count();
  EXPECT_GE(n, 1u);
  EXPECT_LE(n, InMemoryTokenVault::kMaxShardCount);
  EXPECT_EQ(n & (n - 1), 0u);
  EXPECT_GE(n, std::min(GetParam(), InMemoryTokenVault::kMaxShardCount));
}

TEST_P(VaultTest, EmptyVaultFindsNothing) {
  EXPECT_FALSE(vault_.get("<EMAIL:1a2b3c4d>"));
  EXPECT_FALSE(vault_.get(""));
  EXPECT_FALSE(vault_.find_by_value("1a2b3c4d"));
  EXPECT_FALSE(vault_.find_by_value(""));
  EXPECT_FALSE(vault_.find_by_value("a:b"));
  EXPECT_EQ(vault_.size(), 0u);
}

TEST_P(VaultTest, GetReturnsEveryFieldOfTheStoredMapping) {
  const std::vector<TokenMapping> cases = {
      make_mapping("<EMAIL:1a2b3c4d>", "alice@example.com", "s1", kSessionA, 1'700'000'000'123'456'789),
      make_mapping("<NAME:00000000>", std::string("Zo\xc3\xab\0nul", 8), "s1", kSessionA, -5),
      make_mapping("<X:>", "", "", kSessionB, 0),
      make_mapping("", "empty key", "s2", kSessionB, 7),
      make_mapping("no-colon>", "v", "s1", kSessionB, 8),
  };
  for (const auto& m : cases) vault_.insert(m.token, m);
  for (const auto& m : cases) {
    SCOPED_TRACE(m.token);
    auto got = vault_.get(m.token);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, m);
  }
  EXPECT_EQ(vault_.size(), cases.size());
}

TEST_P(VaultTest, MappingTokenThatDiffersFromItsKeyIsKept) {
  const TokenMapping m = make_mapping("<EMAIL:feedbeef-042>", "bob@example.com");
  vault_.insert("<EMAIL:feedbeef>", m);
  auto got = vault_.get("<EMAIL:feedbeef>");
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, m);
  EXPECT_FALSE(vault_.get("<EMAIL:feedbeef-042>"));
  // The key, not the mapping's token, decides what the value search sees.
  EXPECT_EQ(found_key("feedbeef"), "<EMAIL:feedbeef-042>");
  EXPECT_FALSE(vault_.find_by_value("feedbeef-042"));
}

TEST_P(VaultTest, GetMatchesTheKeyExactly) {
  put("<EMAIL:1a2b3c4d>");
  const struct {
    const char* query;
    bool hit;
  } cases[] = {
      {"<EMAIL:1a2b3c4d>", true},       {"<email:1a2b3c4d>", false},
      {"<EMAIL:1A2B3C4D>", false},      {"<EMAIL:1a2b3c4d", false},
      {"EMAIL:1a2b3c4d>", false},       {"<EMAIL:1a2b3c4d>>", false},
      {"<EMAIL:1a2b3c4d-123>", false},  {"<PHONE:1a2b3c4d>", false},
      {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    EXPECT_EQ(vault_.get(c.query).has_value(), c.hit);
  }
}

TEST_P(VaultTest, InsertUnderAnExistingKeyReplacesTheMapping) {
  vault_.insert("<EMAIL:1a2b3c4d>", make_mapping("<EMAIL:1a2b3c4d>", "first", "s1", kSessionA, 1));
  const TokenMapping second = make_mapping("<EMAIL:1a2b3c4d>", "second", "s2", kSessionB, 2);
  vault_.insert("<EMAIL:1a2b3c4d>", second);
  EXPECT_EQ(vault_.size(), 1u);
  EXPECT_EQ(vault_.get("<EMAIL:1a2b3c4d>"), second);
  // A replacement is still one key for the value, not two.
  EXPECT_EQ(vault_.find_by_value("1a2b3c4d"), second);
  // The first mapping's session is gone with it.
  vault_.remove_session(kSessionA);
  EXPECT_EQ(vault_.get("<EMAIL:1a2b3c4d>"), second);
  vault_.remove("<EMAIL:1a2b3c4d>");
  EXPECT_FALSE(vault_.get("<EMAIL:1a2b3c4d>"));
  EXPECT_FALSE(vault_.find_by_value("1a2b3c4d"));
}

TEST_P(VaultTest, ReplacingOneOfSeveralKeysWithOneValueKeepsTheSearchExact) {
  // Replace the first, middle and last of three keys that share a value,
  // then remove the others: the replaced key must be the one found.
  const char* keys[] = {"<A:cafe0001>", "<B:cafe0001>", "<C:cafe0001>"};
  for (int replaced = 0; replaced < 3; ++replaced) {
    SCOPED_TRACE(replaced);
    InMemoryTokenVault vault(GetParam());
    for (const char* k : keys) vault.insert(k, make_mapping(k, "old"));
    vault.insert(keys[replaced], make_mapping(keys[replaced], "new"));
    EXPECT_FALSE(vault.find_by_value("cafe0001"));
    for (int i = 0; i < 3; ++i) {
      if (i != replaced) vault.remove(keys[i]);
    }
    auto found = vault.find_by_value("cafe0001");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->token, keys[replaced]);
    EXPECT_EQ(found->original_value, "new");
  }
}

TEST_P(VaultTest, RemovingKeysOfOneValueInAnyOrderKeepsTheSearchExact) {
  std::vector<std::string> keys = {"<A:cafe0002>", "<B:cafe0002>", "<C:cafe0002>"};
  std::sort(keys.begin(), keys.end());
  do {
    SCOPED_TRACE(keys[0] + " " + keys[1] + " " + keys[2]);
    InMemoryTokenVault vault(GetParam());
    vault.insert("<A:cafe0002>", make_mapping("<A:cafe0002>", "a"));
    vault.insert("<B:cafe0002>", make_mapping("<B:cafe0002>", "b"));
    vault.insert("<C:cafe0002>", make_mapping("<C:cafe0002>", "c"));
    vault.remove(keys[0]);
    EXPECT_FALSE(vault.find_by_value("cafe0002"));
    vault.remove(keys[1]);
    auto last = vault.find_by_value("cafe0002");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->token, keys[2]);
    vault.remove(keys[2]);
    EXPECT_FALSE(vault.find_by_value("cafe0002"));
    EXPECT_TRUE(vault.insert_if_value_free("cafe0002", keys[0], make_mapping(keys[0], "again")));
    EXPECT_EQ(vault.find_by_value("cafe0002")->original_value, "again");
  } while (std::next_permutation(keys.begin(), keys.end()));
}

struct FindCase {
  const char* name;
  std::vector<std::string> keys;
  std::string value;
  std::optional<std::string> expected_key;
};

TEST_P(VaultTest, FindByValueNeedsExactlyOneKeyEndingInColonValueBracket) {
  const FindCase cases[] = {
      {"one key", {"<EMAIL:1a2b3c4d>"}, "1a2b3c4d", "<EMAIL:1a2b3c4d>"},
      {"two types, one value", {"<EMAIL:1a2b3c4d>", "<PHONE:1a2b3c4d>"}, "1a2b3c4d", std::nullopt},
      {"signed key is another value", {"<EMAIL:1a2b3c4d-123>"}, "1a2b3c4d", std::nullopt},
      {"signed value itself", {"<EMAIL:1a2b3c4d-123>"}, "1a2b3c4d-123", "<EMAIL:1a2b3c4d-123>"},
      {"letter case", {"<EMAIL:1A2B3C4D>"}, "1a2b3c4d", std::nullopt},
      {"colon must precede", {"<EMAIL:abc>"}, "bc", std::nullopt},
      {"key without final bracket",
       {"<EMAIL:abc>", "<PHONE:abc", "<NAME:abc>x"},
       "abc",
       "<EMAIL:abc>"},
      {"key shorter than suffix", {"x>"}, "x", std::nullopt},
      {"bare suffix as key", {":x>"}, "x", ":x>"},
      {"empty value", {"<A:>"}, "", "<A:>"},
      {"empty value twice", {"<A:>", ":>"}, "", std::nullopt},
      {"bracket inside value", {"<A:b>c>"}, "b>c", "<A:b>c>"},
      {"tail after inner bracket", {"<A:b>c>"}, "c", std::nullopt},
      {"last colon decides", {"<a:b:c>"}, "c", "<a:b:c>"},
      {"value with colon", {"<a:b:c>"}, "b:c", "<a:b:c>"},
      {"value with colon, whole key", {"<a:b:c>"}, "<a:b:c", std::nullopt},
      {"colon value and plain value share a key", {"<A:x>", "<B:y:x>"}, "x", std::nullopt},
      {"colon value picks one", {"<A:x>", "<B:y:x>"}, "y:x", "<B:y:x>"},
      {"colon value matches two", {"<A:y:x>", "<B:y:x>"}, "y:x", std::nullopt},
      {"value that is a colon", {"<A::>", "<B:x>"}, ":", "<A::>"},
      {"many values, one asked",
       {"<A:00000001>", "<A:00000002>", "<B:00000002>", "<A:00000003>"},
       "00000003",
       "<A:00000003>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InMemoryTokenVault vault(GetParam());
    for (const auto& k : c.keys) vault.insert(k, make_mapping(k, "orig of " + k));
    auto found = vault.find_by_value(c.value);
    ASSERT_EQ(found.has_value(), c.expected_key.has_value());
    if (found) {
      EXPECT_EQ(found->token, *c.expected_key);
      EXPECT_EQ(found->original_value, "orig of " + *c.expected_key);
    }
  }
}

TEST_P(VaultTest, RemoveTakesExactlyOneKeyAndUpdatesTheValueSearch) {
  put("<EMAIL:1a2b3c4d>");
  put("<PHONE:1a2b3c4d>");
  EXPECT_FALSE(vault_.find_by_value("1a2b3c4d"));

  vault_.remove("<email:1a2b3c4d>");
  vault_.remove("<EMAIL:1a2b3c4d-123>");
  vault_.remove("<NAME:1a2b3c4d>");
  EXPECT_EQ(vault_.size(), 2u);
  EXPECT_FALSE(vault_.find_by_value("1a2b3c4d"));

  vault_.remove("<EMAIL:1a2b3c4d>");
  EXPECT_FALSE(vault_.get("<EMAIL:1a2b3c4d>"));
  EXPECT_EQ(found_key("1a2b3c4d"), "<PHONE:1a2b3c4d>");

  vault_.remove("<PHONE:1a2b3c4d>");
  EXPECT_FALSE(vault_.find_by_value("1a2b3c4d"));
  EXPECT_EQ(vault_.size(), 0u);
  // The freed value can be taken again.
  put("<NAME:1a2b3c4d>");
  EXPECT_EQ(found_key("1a2b3c4d"), "<NAME:1a2b3c4d>");
}

TEST_P(VaultTest, RemoveSessionTakesOnlyThatSessionsMappings) {
  // Interleaved so that erasing shifts survivors within the tables.
  for (int i = 0; i < 200; ++i) {
    const std::string value = std::to_string(10000000 + i);
    const std::string a = "<A:" + value + ">";
    const std::string b = "<B:" + value + ">";
    vault_.insert(a, make_mapping(a, "a", "sid-a", kSessionA));
    if (i % 3 == 0) vault_.insert(b, make_mapping(b, "b", "sid-b", kSessionB));
  }
  vault_.remove_session(kSessionA);
  for (int i = 0; i < 200; ++i) {
    const std::string value = std::to_string(10000000 + i);
    EXPECT_FALSE(vault_.get("<A:" + value + ">"));
    auto found = vault_.find_by_value(value);
    ASSERT_EQ(found.has_value(), i % 3 == 0) << value;
    if (found) {
      EXPECT_EQ(found->token, "<B:" + value + ">");
      EXPECT_EQ(found->session_id, "sid-b");
      EXPECT_EQ(found->session_uuid, kSessionB);
    }
  }
  EXPECT_EQ(vault_.size(), 67u);
  vault_.remove_session(kSessionA);
  EXPECT_EQ(vault_.size(), 67u);
}

TEST_P(VaultTest, EachMappingKeepsItsOwnSessionIdAndUuid) {
  // Same id with two uuids and two ids with one uuid are four sessions.
  const struct {
    const char* key;
    const char* sid;
    Uuid uuid;
  } cases[] = {
      {"<A:1>", "s", kSessionA}, {"<A:2>", "s", kSessionB}, {"<A:3>", "t", kSessionA},
      {"<A:4>", "t", kSessionB}, {"<A:5>", "s", kSessionA}, {"<A:6>", "", kSessionA},
  };
  for (const auto& c : cases) vault_.insert(c.key, make_mapping(c.key, "o", c.sid, c.uuid));
  vault_.remove("<A:1>");  // the first holder of ("s", A) goes; <A:5> still needs it
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    auto got = vault_.get(c.key);
    if (std::string_view(c.key) == "<A:1>") {
      EXPECT_FALSE(got);
      continue;
    }
    ASSERT_TRUE(got);
    EXPECT_EQ(got->session_id, c.sid);
    EXPECT_EQ(got->session_uuid, c.uuid);
  }
}

struct ReserveCase {
  const char* name;
  std::vector<std::string> keys;
  std::string value;
  std::string token;
  bool stored;
};

TEST_P(VaultTest, InsertIfValueFreeStoresOnlyWhenNoKeyEndsWithTheValue) {
  const ReserveCase cases[] = {
      {"empty vault", {}, "1a2b3c4d", "<EMAIL:1a2b3c4d>", true},
      {"other value", {"<EMAIL:00000000>"}, "1a2b3c4d", "<EMAIL:1a2b3c4d>", true},
      {"taken by another type", {"<PHONE:1a2b3c4d>"}, "1a2b3c4d", "<EMAIL:1a2b3c4d>", false},
      {"taken twice", {"<PHONE:1a2b3c4d>", "<NAME:1a2b3c4d>"}, "1a2b3c4d", "<EMAIL:1a2b3c4d>", false},
      {"taken by the same key", {"<EMAIL:1a2b3c4d>"}, "1a2b3c4d", "<EMAIL:1a2b3c4d>", false},
      {"only a signed key", {"<EMAIL:1a2b3c4d-123>"}, "1a2b3c4d", "<EMAIL:1a2b3c4d>", true},
      {"other letter case", {"<EMAIL:1A2B3C4D>"}, "1a2b3c4d", "<EMAIL:1a2b3c4d>", true},
      {"token not carrying the value", {}, "1a2b3c4d", "<EMAIL:ffffffff>", true},
      {"value taken, token elsewhere", {"<A:1a2b3c4d>"}, "1a2b3c4d", "<EMAIL:ffffffff>", false},
      {"colon value free", {"<A:x>"}, "y:x", "<B:y:x>", true},
      {"colon value taken", {"<A:y:x>"}, "y:x", "<B:y:x>", false},
      {"plain value taken through a colon key", {"<A:y:x>"}, "x", "<B:x>", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InMemoryTokenVault vault(GetParam());
    for (const auto& k : c.keys) vault.insert(k, make_mapping(k, "before"));
    EXPECT_EQ(vault.insert_if_value_free(c.value, c.token, make_mapping(c.token, "after")), c.stored);
    const bool preexisting = std::find(c.keys.begin(), c.keys.end(), c.token) != c.keys.end();
    EXPECT_EQ(vault.size(), c.keys.size() + (c.stored && !preexisting ? 1 : 0));
    auto got = vault.get(c.token);
    if (c.stored) {
      ASSERT_TRUE(got);
      EXPECT_EQ(got->original_value, "after");
    } else if (preexisting) {
      ASSERT_TRUE(got);
      EXPECT_EQ(got->original_value, "before");
    } else {
      EXPECT_FALSE(got);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Shards, VaultTest, ::testing::Values(1, 64),
                         [](const auto& param_info) { return "x" + std::to_string(param_info.param); });

}  // namespace
}  // namespace quorvel::vault
