// InMemoryTokenVault under concurrent callers: reservations are atomic,
// readers never see a half-made mapping, and operations that take several
// shard locks neither deadlock nor leave the value index out of step.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "vault/in_memory_token_vault.h"
#include "vault/mapping_maker.h"

#include "start_line.h"

namespace quorvel::vault {
namespace {

using testing::kSessionA;
using testing::kSessionB;
using testing::make_mapping;

std::string hex8(uint64_t n) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%08llx", static_cast<unsigned long long>(n));
  return buf;
}

using quorvel::testing::StartLine;
using quorvel::testing::racing_threads;

class VaultConcurrencyTest : public ::testing::TestWithParam<size_t> {};

// All threads walk the same fresh values in the same order, each trying to
// reserve every value with its own token, so they keep colliding on one
// value; a find-then-insert would let several of them in.
TEST_P(VaultConcurrencyTest, OneReservationWinsEachValue) {
  const int kThreads = racing_threads();
  constexpr int kRounds = 5000;
  constexpr int kValuesPerRound = 1;
  constexpr size_t kValues = kRounds * kValuesPerRound;
  InMemoryTokenVault vault(GetParam());
  std::vector<std::string> values;
  for (size_t v = 0; v < kValues; ++v) values.push_back(hex8(v));
  std::vector<std::vector<char>> won(static_cast<size_t>(kThreads), std::vector<char>(kValues, 0));
  StartLine start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<TokenMapping> mine;
      for (const auto& value : values) {
        mine.push_back(make_mapping("<T" + std::to_string(t) + ":" + value + ">", std::to_string(t)));
      }
      auto& my_wins = won[static_cast<size_t>(t)];
      for (int r = 0; r < kRounds; ++r) {
        start.arrive_and_wait(r, t);
        for (size_t v = static_cast<size_t>(r) * kValuesPerRound; v < static_cast<size_t>(r + 1) * kValuesPerRound; ++v) {
          const std::string token = mine[v].token;
          my_wins[v] = vault.insert_if_value_free(values[v], token, std::move(mine[v]));
        }
      }
    });
  }
  for (auto& th : threads) th.join();

  for (size_t v = 0; v < kValues; ++v) {
    SCOPED_TRACE(values[v]);
    int winners = 0;
    int winner = -1;
    for (int t = 0; t < kThreads; ++t) {
      if (won[static_cast<size_t>(t)][v]) {
        ++winners;
        winner = t;
      }
    }
    ASSERT_EQ(winners, 1);
    auto found = vault.find_by_value(values[v]);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->original_value, std::to_string(winner));
  }
  EXPECT_EQ(vault.size(), kValues);
}

// Writers keep replacing a small set of keys; readers check that whatever
// they get is one whole mapping of the key they asked for.
TEST_P(VaultConcurrencyTest, ReadersSeeWholeMappingsWhileWritersReplace) {
  constexpr int kKeys = 32;
  constexpr int kWrites = 3000;
  InMemoryTokenVault vault(GetParam());
  auto key_of = [](int i) { return "<K:" + hex8(static_cast<uint64_t>(i)) + ">"; };
  std::atomic<int> writers_left{2};
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < 2; ++w) {
    threads.emplace_back([&, w] {
      for (int n = 0; n < kWrites; ++n) {
        const std::string key = key_of(n % kKeys);
        const std::string sid = w == 0 ? "sid-a" : "sid-b";
        vault.insert(key, make_mapping(key, key + "#" + std::to_string(n), sid,
                                       w == 0 ? kSessionA : kSessionB, n));
      }
      writers_left.fetch_sub(1);
    });
  }
  for (int reader = 0; reader < 2; ++reader) {
    threads.emplace_back([&, reader] {
      int i = reader;
      while (writers_left.load() > 0) {
        const std::string key = key_of(i % kKeys);
        const auto check = [&](const std::optional<TokenMapping>& m) {
          if (!m) return;
          const bool whole = m->token == key && m->original_value.starts_with(key + "#") &&
                             m->pii_type == "K" &&
                             (m->session_id == "sid-a" ? m->session_uuid == kSessionA
                                                       : m->session_uuid == kSessionB);
          if (!whole) bad.fetch_add(1);
        };
        check(vault.get(key));
        check(vault.find_by_value(hex8(static_cast<uint64_t>(i % kKeys))));
        ++i;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(vault.size(), static_cast<size_t>(kKeys));
  for (int i = 0; i < kKeys; ++i) {
    auto m = vault.find_by_value(hex8(static_cast<uint64_t>(i)));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->token, key_of(i));
  }
}

// Reservations whose token carries another value than the one checked take
// two shard locks in either order; searches with ':' and remove_session take
// all of them. Afterwards the value search must match the stored keys.
TEST_P(VaultConcurrencyTest, MultiShardOperationsStayConsistent) {
  constexpr int kThreads = 4;
  constexpr int kOps = 2000;
  constexpr int kValues = 24;
  InMemoryTokenVault vault(GetParam());
  // Both forms of key end with ":" V ">"; only the second ends with ":y:" V ">".
  auto plain_key = [](const char* type, int v) {
    return std::string("<") + type + ":" + hex8(static_cast<uint64_t>(v)) + ">";
  };
  auto y_key = [](const char* type, int v) {
    return std::string("<") + type + ":y:" + hex8(static_cast<uint64_t>(v)) + ">";
  };
  const char* const types[] = {"A", "B", "C"};
  std::vector<std::string> keys;
  for (const char* type : types) {
    for (int v = 0; v < kValues; ++v) {
      keys.push_back(plain_key(type, v));
      keys.push_back(y_key(type, v));
    }
  }
  StartLine start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(static_cast<unsigned>(t + 1));
      auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
      start.arrive_and_wait(0, t);
      for (int n = 0; n < kOps; ++n) {
        const std::string& key = keys[static_cast<size_t>(pick(static_cast<int>(keys.size())))];
        const std::string other = hex8(static_cast<uint64_t>(pick(kValues)));
        const bool b = pick(2) == 0;
        switch (pick(8)) {
          case 0:
          case 1:
            (void)vault.insert_if_value_free(other, key,
                                             make_mapping(key, "r", "s", b ? kSessionB : kSessionA));
            break;
          case 2:
            vault.insert(key, make_mapping(key, "i", "s", b ? kSessionB : kSessionA));
            break;
          case 3:
            vault.remove(key);
            break;
          case 4:
            (void)vault.insert_if_value_free("y:" + other, key, make_mapping(key, "c", "s", kSessionA));
            break;
          case 5:
            (void)vault.find_by_value("y:" + other);
            break;
          case 6:
            if (pick(10) == 0) vault.remove_session(kSessionB);
            break;
          default:
            (void)vault.find_by_value(other);
            break;
        }
      }
    });
  }
  for (auto& th : threads) th.join();

  size_t present = 0;
  for (const auto& k : keys) present += vault.get(k).has_value() ? 1u : 0u;
  EXPECT_EQ(vault.size(), present);
  for (int v = 0; v < kValues; ++v) {
    SCOPED_TRACE(v);
    int plain_holders = 0;
    int y_holders = 0;
    std::string plain_holder;
    std::string y_holder;
    for (const char* type : types) {
      if (vault.get(plain_key(type, v))) {
        ++plain_holders;
        plain_holder = plain_key(type, v);
      }
      if (vault.get(y_key(type, v))) {
        ++plain_holders;
        ++y_holders;
        plain_holder = y_holder = y_key(type, v);
      }
    }
    const std::string value = hex8(static_cast<uint64_t>(v));
    auto found = vault.find_by_value(value);
    ASSERT_EQ(found.has_value(), plain_holders == 1);
    if (found) {
      EXPECT_EQ(found->token, plain_holder);
    }
    auto found_y = vault.find_by_value("y:" + value);
    ASSERT_EQ(found_y.has_value(), y_holders == 1);
    if (found_y) {
      EXPECT_EQ(found_y->token, y_holder);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Shards, VaultConcurrencyTest, ::testing::Values(1, 16),
                         [](const auto& param_info) { return "x" + std::to_string(param_info.param); });

}  // namespace
}  // namespace quorvel::vault
