// mask_string against a plain reference of the PII pass on random strings:
// candidates by find-all per pattern, a stable sort (longest, then earliest),
// greedy acceptance of non-empty candidates, then replacement by text in start
// order that leaves the tokens already written alone. Tokens come from the
// counter and the vault as the algorithm describes them, computed here
// independently. Both sides start from fresh vaults and counters.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <re2/re2.h>

#include "pipeline/masker.h"
#include "policy/pattern_dialect.h"
#include "util/crypto.h"
#include "vault/in_memory_token_vault.h"

namespace quorvel::pipeline {
namespace {

constexpr Uuid kUuid{3, 1, 4, 1, 5, 9, 0x42, 6, 0x85, 3, 5, 8, 9, 7, 9, 3};
constexpr std::string_view kSessionId = "diff-session";

// Overlapping patterns, patterns that match text found inside tokens (hex
// digits, upper-case type names followed by ":"), an anchored one and ones
// that can match the empty text.
const std::vector<policy::PiiPattern> kPatterns = {
    {"AB", "ab+"},
    {"NUM", "[0-9]+"},
    {"DASHNUM", "[0-9]-[0-9]+"},
    {"BX", "b[a-c]"},
    {"WORD", R"(\w{3})"},
    {"HEX", "[0-9a-f]{2}"},
    {"TYPE", "[A-Z]+:"},
    {"START", "^a"},
    {"OPT", "c*"},
    {"ACCENT", "\xC3\xA9+|x?"},
    {"GT", ">[0-9]"},
};

const std::vector<std::string> kFragments = {
    "a", "b", "c", "1", "2", "-", " ", "\xC3\xA9", "ab", "12", "f", "A", "B", ":", ">", "<",
    "x", "4b", "AB:",
};

struct Candidate {
  size_t pattern;
  size_t start;
  size_t end;
};

class Reference {
 public:
  explicit Reference(const std::vector<policy::PiiPattern>& patterns) {
    // Each pattern on its own, in the policy dialect (as the policy loads
    // them), without the multi-pattern filter.
    for (const policy::PiiPattern& p : patterns) {
      auto re = policy::compile_pattern(p.pattern);
      EXPECT_TRUE(re.ok()) << p.pattern;
      res_.push_back(std::move(re).value());
      names_.push_back(p.name);
    }
  }

  std::string mask(const std::string& s, std::optional<uint16_t> signature) {
    // 1. Candidates, pattern by pattern, by the usual find-all.
    std::vector<Candidate> candidates;
    for (size_t i = 0; i < res_.size(); ++i) {
      size_t pos = 0;
      re2::StringPiece m;
      while (pos <= s.size() &&
             res_[i]->Match(s, pos, s.size(), re2::RE2::UNANCHORED, &m, 1)) {
        const size_t start = static_cast<size_t>(m.data() - s.data());
        candidates.push_back({i, start, start + m.size()});
        pos = m.empty() ? start + 1 : start + m.size();
      }
    }
    // 2. Stable sort: longest first, then earliest.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) {
                       if (a.end - a.start != b.end - b.start) {
                         return a.end - a.start > b.end - b.start;
                       }
                       return a.start < b.start;
                     });
    // 3. Greedy acceptance; a candidate of length zero is never accepted.
    std::vector<Candidate> accepted;
    for (const Candidate& c : candidates) {
      if (c.end == c.start) continue;
      const bool overlaps = std::any_of(accepted.begin(), accepted.end(), [&](const Candidate& a) {
        return c.start < a.end && a.start < c.end;
      });
      if (!overlaps) accepted.push_back(c);
    }
    std::stable_sort(accepted.begin(), accepted.end(),
                     [](const Candidate& a, const Candidate& b) { return a.start < b.start; });
    for (const Candidate& c : accepted) add_name(names_[c.pattern]);

    // 4. Replacement by text, outside the tokens written so far.
    struct Piece {
      std::string text;
      bool token;
    };
    std::vector<Piece> current = {{s, false}};
    for (const Candidate& c : accepted) {
      const std::string found = s.substr(c.start, c.end - c.start);
      const std::string written = make_token(names_[c.pattern], found, signature);
      std::vector<Piece> next;
      for (Piece& piece : current) {
        if (piece.token) {
          next.push_back(std::move(piece));
          continue;
        }
        size_t pos = 0;
        for (size_t p = piece.text.find(found); p != std::string::npos;
             p = piece.text.find(found, pos)) {
          next.push_back({piece.text.substr(pos, p - pos), false});
          next.push_back({written, true});
          pos = p + found.size();
        }
        next.push_back({piece.text.substr(pos), false});
      }
      current = std::move(next);
      ++applied;
    }
    std::string out;
    for (const Piece& piece : current) out += piece.text;
    return out;
  }

  uint32_t applied = 0;
  uint64_t counter = 0;
  std::vector<std::string> names;
  std::vector<std::string> keys;  // every key stored, in order
  vault::InMemoryTokenVault vault;

 private:
  void add_name(const std::string& name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }

  // SHA-256 over the text and the counter (eight bytes, least significant
  // first); the first four bytes in lower-case hex; taken values are skipped.
  std::string make_token(const std::string& type, const std::string& text,
                         std::optional<uint16_t> signature) {
    std::string value;
    while (true) {
      std::string le;
      for (int i = 0; i < 8; ++i) le.push_back(static_cast<char>((counter >> (8 * i)) & 0xFF));
      ++counter;
      const Sha256Digest d = sha256(text + le);
      char hex[9];
      std::snprintf(hex, sizeof hex, "%02x%02x%02x%02x", d[0], d[1], d[2], d[3]);
      value = hex;
      if (!vault.find_by_value(value)) break;
    }
    const std::string key = "<" + type + ":" + value + ">";
    vault.insert(key, vault::TokenMapping{key, text, type, std::string(kSessionId), kUuid, {}});
    keys.push_back(key);
    if (!signature) return key;
    char sig[8];
    std::snprintf(sig, sizeof sig, "-%03u>", static_cast<unsigned>(*signature));
    return key.substr(0, key.size() - 1) + sig;
  }

  std::vector<std::unique_ptr<const re2::RE2>> res_;
  std::vector<std::string> names_;
};

TEST(MaskerDifferential, MatchesTheReferenceOnRandomStrings) {
  std::mt19937 rng(20240611);
  constexpr int kRounds = 60;
  constexpr int kStringsPerRound = 80;
  size_t tokens_made = 0;
  size_t strings_changed = 0;
  for (int round = 0; round < kRounds; ++round) {
    // A random selection of the patterns, in random order.
    std::vector<policy::PiiPattern> patterns = kPatterns;
    std::shuffle(patterns.begin(), patterns.end(), rng);
    patterns.resize(1 + rng() % patterns.size());
    auto compiled = policy::CompiledPatterns::compile(patterns);
    ASSERT_TRUE(compiled.ok());
    const std::optional<uint16_t> signature =
        rng() % 2 == 0 ? std::nullopt : std::optional<uint16_t>(100 + rng() % 900);

    Reference ref(patterns);
    std::atomic<uint64_t> counter{0};
    vault::InMemoryTokenVault vault;
    const TokenSink sink{kSessionId, kUuid, &counter, &vault};
    EncodeCall call;
    call.signature = signature;
    json::Arena arena;

    for (int k = 0; k < kStringsPerRound; ++k) {
      std::string s;
      const size_t n = rng() % 16;
      for (size_t i = 0; i < n; ++i) s += kFragments[rng() % kFragments.size()];
      std::string names;
      for (const auto& p : patterns) names += p.name + " ";
      SCOPED_TRACE("round " + std::to_string(round) + " text \"" + s + "\" patterns " + names);

      const std::string expected = ref.mask(s, signature);
      const std::string_view got = mask_string(s, *compiled.value(), sink, call, arena);
      ASSERT_EQ(got, expected);
      ASSERT_EQ(call.applied_count, ref.applied);
      ASSERT_EQ(call.rule_names.names(), ref.names);
      ASSERT_EQ(counter.load(), ref.counter);
      if (got != s) ++strings_changed;
    }
    ASSERT_EQ(vault.size(), ref.vault.size());
    for (const std::string& key : ref.keys) {
      const auto want = ref.vault.get(key);
      const auto have = vault.get(key);
      ASSERT_TRUE(have) << key;
      EXPECT_EQ(have->token, want->token);
      EXPECT_EQ(have->original_value, want->original_value);
      EXPECT_EQ(have->pii_type, want->pii_type);
      EXPECT_EQ(have->session_id, want->session_id);
      EXPECT_EQ(have->session_uuid, want->session_uuid);
    }
    tokens_made += ref.keys.size();
  }
  // The generator does reach the interesting paths.
  EXPECT_GT(tokens_made, 5000u);
  EXPECT_GT(strings_changed, 2500u);
}

}  // namespace
}  // namespace quorvel::pipeline
