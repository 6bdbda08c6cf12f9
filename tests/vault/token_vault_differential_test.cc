// Runs random operation sequences against InMemoryTokenVault and against a
// plain ordered map whose value search walks every key, and requires the two
// to agree after every step.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "vault/in_memory_token_vault.h"
#include "vault/mapping_maker.h"

namespace quorvel::vault {
namespace {

using testing::kSessionA;
using testing::kSessionB;
using testing::make_mapping;

// The straightforward model: every search walks all keys.
class WalkingVault {
 public:
  void insert(const std::string& key, TokenMapping m) { map_[key] = std::move(m); }
  std::optional<TokenMapping> get(const std::string& key) const {
    auto it = map_.find(key);
    if (it == map_.end()) return std::nullopt;
    return it->second;
  }
  std::optional<TokenMapping> find_by_value(const std::string& value) const {
    const std::string suffix = ":" + value + ">";
    std::optional<TokenMapping> found;
    int count = 0;
    for (const auto& [key, m] : map_) {
      if (key.size() >= suffix.size() && key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0) {
        ++count;
        found = m;
      }
    }
    return count == 1 ? found : std::nullopt;
  }
  bool insert_if_value_free(const std::string& value, const std::string& key, TokenMapping m) {
    const std::string suffix = ":" + value + ">";
    for (const auto& entry : map_) {
      const std::string& k = entry.first;
      if (k.size() >= suffix.size() && k.compare(k.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return false;
      }
    }
    insert(key, std::move(m));
    return true;
  }
  void remove(const std::string& key) { map_.erase(key); }
  void remove_session(const Uuid& uuid) {
    std::erase_if(map_, [&](const auto& entry) { return entry.second.session_uuid == uuid; });
  }
  size_t size() const { return map_.size(); }
  const std::map<std::string, TokenMapping>& entries() const { return map_; }

 private:
  std::map<std::string, TokenMapping> map_;
};

class Generator {
 public:
  explicit Generator(uint64_t seed) : rng_(seed) {}

  size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

  // Few distinct values so that several keys share one.
  std::string value() {
    static const char* const kValues[] = {"1a2b3c4d", "1A2B3C4D", "00000000", "ffffffff",
                                          "",         "x",        "b>c",      "1a2b3c4d-123"};
    return kValues[below(std::size(kValues))];
  }

  std::string key() {
    static const char* const kTypes[] = {"EMAIL", "email", "PHONE", "A", ""};
    switch (below(6)) {
      case 0:
      case 1:
      case 2:
        return "<" + std::string(kTypes[below(std::size(kTypes))]) + ":" + value() + ">";
      case 3:  // several colons, or a value with one
        return "<" + std::string(kTypes[below(std::size(kTypes))]) + ":y:" + value() + ">";
      default:  // arbitrary short text over the characters that matter
        return noise(below(9));
    }
  }

  // What a search asks for: mostly plain values, sometimes with ':', '>' or
  // a fragment of noise.
  std::string query() {
    switch (below(5)) {
      case 0:
        return "y:" + value();
      case 1:
        return noise(below(4));
      default:
        return value();
    }
  }

 private:
  std::string noise(size_t len) {
    static constexpr char kChars[] = "<>:aA-";
    std::string s;
    for (size_t i = 0; i < len; ++i) s += kChars[below(sizeof(kChars) - 1)];
    return s;
  }

  std::mt19937_64 rng_;
};

void expect_same(const std::optional<TokenMapping>& got, const std::optional<TokenMapping>& want,
                 const std::string& what) {
  ASSERT_EQ(got.has_value(), want.has_value()) << what;
  if (got) {
    ASSERT_EQ(*got, *want) << what;
  }
}

class DifferentialTest : public ::testing::TestWithParam<size_t> {};

TEST_P(DifferentialTest, AgreesWithAWalkOverEveryKey) {
  Generator gen(0x5eed0000 + GetParam());
  InMemoryTokenVault vault(GetParam());
  WalkingVault model;
  std::vector<std::string> queries;
  for (int i = 0; i < 64; ++i) queries.push_back(gen.query());
  queries.push_back("1a2b3c4d");
  queries.push_back("y:1a2b3c4d");
  queries.push_back("");

  int64_t stamp = 0;
  for (int step = 0; step < 6000; ++step) {
    const std::string key = gen.key();
    const bool session_b = gen.below(4) == 0;
    const Uuid& uuid = session_b ? kSessionB : kSessionA;
    const char* sid = session_b ? "sid-b" : "sid-a";
    std::string op;
    switch (gen.below(10)) {
      case 0:
      case 1:
      case 2:
      case 3: {
        op = "insert " + key;
        TokenMapping m = make_mapping(key, "v" + std::to_string(step), sid, uuid, ++stamp);
        model.insert(key, m);
        vault.insert(key, std::move(m));
        break;
      }
      case 4:
      case 5: {
        const std::string value = gen.below(3) == 0 ? gen.query() : gen.value();
        op = "reserve " + value + " for " + key;
        TokenMapping m = make_mapping(key, "r" + std::to_string(step), sid, uuid, ++stamp);
        ASSERT_EQ(vault.insert_if_value_free(value, key, m), model.insert_if_value_free(value, key, m))
            << op;
        break;
      }
      case 6:
      case 7:
      case 8: {
        // Remove a stored key most of the time.
        std::string victim = key;
        if (model.size() > 0 && gen.below(4) != 0) {
          auto it = model.entries().begin();
          std::advance(it, static_cast<std::ptrdiff_t>(gen.below(model.size())));
          victim = it->first;
        }
        op = "remove " + victim;
        model.remove(victim);
        vault.remove(victim);
        break;
      }
      default:
        if (gen.below(20) == 0) {
          op = "remove_session";
          model.remove_session(uuid);
          vault.remove_session(uuid);
        } else {
          op = "get " + key;
          expect_same(vault.get(key), model.get(key), op);
        }
        break;
    }
    ASSERT_EQ(vault.size(), model.size()) << "after " << op << " at step " << step;
    for (const auto& q : queries) {
      expect_same(vault.find_by_value(q), model.find_by_value(q),
                  "find_by_value(" + q + ") after " + op + " at step " + std::to_string(step));
    }
    if (step % 50 == 0) {
      for (const auto& [k, m] : model.entries()) expect_same(vault.get(k), m, "get " + k);
    }
  }
}

// Many distinct keys with removals make the tables grow and shift entries
// back on erase; the index must follow.
TEST_P(DifferentialTest, AgreesAtScaleWithRemovals) {
  Generator gen(0xb16b00b5 + GetParam());
  InMemoryTokenVault vault(GetParam());
  WalkingVault model;
  std::vector<std::string> values;
  for (int i = 0; i < 3000; ++i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(gen.below(1u << 31)));
    values.emplace_back(buf);
  }
  const char* types[] = {"EMAIL", "PHONE", "NAME"};
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 4000; ++i) {
      const std::string& v = values[gen.below(values.size())];
      const std::string key = "<" + std::string(types[gen.below(3)]) + ":" + v + ">";
      TokenMapping m = make_mapping(key, "o", "sid-a", gen.below(2) ? kSessionA : kSessionB);
      if (gen.below(2) == 0) {
        ASSERT_EQ(vault.insert_if_value_free(v, key, m), model.insert_if_value_free(v, key, m));
      } else {
        model.insert(key, m);
        vault.insert(key, std::move(m));
      }
    }
    for (int i = 0; i < 2500 && model.size() > 0; ++i) {
      auto it = model.entries().begin();
      std::advance(it, static_cast<std::ptrdiff_t>(gen.below(model.size())));
      const std::string victim = it->first;
      model.remove(victim);
      vault.remove(victim);
    }
    if (round == 1) {
      model.remove_session(kSessionB);
      vault.remove_session(kSessionB);
    }
    ASSERT_EQ(vault.size(), model.size());
    for (const auto& v : values) expect_same(vault.find_by_value(v), model.find_by_value(v), v);
    for (const auto& [k, m] : model.entries()) expect_same(vault.get(k), m, k);
  }
}

INSTANTIATE_TEST_SUITE_P(Shards, DifferentialTest, ::testing::Values(1, 4, 64),
                         [](const auto& param_info) { return "x" + std::to_string(param_info.param); });

}  // namespace
}  // namespace quorvel::vault
