// The Detokenizer: which token texts it recognises, what it looks up, how the
// signed pass, the unsigned pass and the bare-value fallback replace, and in
// what order restored types are listed. The token scanner is checked against
// the regular expressions that define the two token forms.
#include "enforcer/detokenizer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include <re2/re2.h>

#include "json/reader.h"
#include "json/writer.h"
#include "vault/in_memory_token_vault.h"

namespace quorvel::enforcer {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct Stored {
  std::string key;
  std::string original;
  std::string type;
};

// Every case starts from a vault holding "<PERSON:0a1b2c3d>" -> "Ada".
const Stored kAda{"<PERSON:0a1b2c3d>", "Ada", "PERSON"};

vault::TokenMapping mapping_of(const Stored& s) {
  return vault::TokenMapping{s.key, s.original, s.type, "session", Uuid{}, UtcTime{}};
}

// A vault that records the lookups made through it.
class RecordingVault final : public vault::TokenVault {
 public:
  explicit RecordingVault(const std::vector<Stored>& stored) {
    for (const Stored& s : stored) inner_.insert(s.key, mapping_of(s));
  }
  void insert(std::string_view token, vault::TokenMapping mapping) override {
    inner_.insert(token, std::move(mapping));
  }
  std::optional<vault::TokenMapping> get(std::string_view token) const override {
    gets.emplace_back(token);
    return inner_.get(token);
  }
  std::optional<vault::TokenMapping> find_by_value(std::string_view value) const override {
    value_lookups.emplace_back(value);
    return inner_.find_by_value(value);
  }
  void remove_session(const Uuid& uuid) override { inner_.remove_session(uuid); }
  void remove(std::string_view token) override { inner_.remove(token); }
  bool insert_if_value_free(std::string_view value, std::string_view token,
                            vault::TokenMapping mapping) override {
    return inner_.insert_if_value_free(value, token, std::move(mapping));
  }

  mutable std::vector<std::string> gets;
  mutable std::vector<std::string> value_lookups;

 private:
  vault::InMemoryTokenVault inner_;
};

struct Outcome {
  std::string payload;
  uint32_t count = 0;
  std::vector<std::string> names;
};

Outcome detokenize_json(const std::string& payload, const vault::TokenVault& vault,
                        bool signed_tokens) {
  json::Arena arena;
  auto parsed = json::parse(payload, arena);
  EXPECT_TRUE(parsed.ok()) << payload;
  json::Value root = parsed.value();
  DetokenizeStats stats;
  detokenize(root, vault, signed_tokens, stats, arena);
  return Outcome{json::to_json(root), stats.count, stats.names.names()};
}

std::string canonical(const std::string& payload) {
  json::Arena arena;
  return json::to_json(json::parse(payload, arena).value());
}

std::string str(const std::string& text) { return R"({"t":")" + text + R"("})"; }

struct Case {
  const char* what;
  bool signed_tokens;
  std::string payload;
  std::string expected;  // empty: unchanged
  uint32_t count;
  std::vector<std::string> names;
  std::vector<Stored> extra = {};
};

TEST(Detokenizer, Table) {
  const std::vector<Case> cases = {
      {"unsigned token, mode 0", false, str("Hi <PERSON:0a1b2c3d>"), str("Hi Ada"), 1, {"PERSON"}},
      {"unsigned token, mode 1", true, str("Hi <PERSON:0a1b2c3d>"), str("Hi Ada"), 1, {"PERSON"}},
      {"signed token, mode 0", false, str("Hi <PERSON:0a1b2c3d-417>"), "", 0, {}},
      {"signed token, mode 1", true, str("Hi <PERSON:0a1b2c3d-417>"), str("Hi Ada"), 1,
       {"PERSON"}},
      {"any three digits, mode 1", true, str("<PERSON:0a1b2c3d-999>"), str("Ada"), 1, {"PERSON"}},
      {"signed token without mapping, mode 1", true, str("<PERSON:ffffffff-417>"), "", 0, {}},
      {"the same token twice", false, str("<PERSON:0a1b2c3d> and <PERSON:0a1b2c3d>"),
       str("Ada and Ada"), 2, {"PERSON"}},
      {"the same signed token twice, mode 1", true,
       str("<PERSON:0a1b2c3d-417><PERSON:0a1b2c3d-417>"), str("AdaAda"), 2, {"PERSON"}},
      {"one from each pass, mode 1", true, str("<PERSON:0a1b2c3d-417> / <PERSON:0a1b2c3d>"),
       str("Ada / Ada"), 2, {"PERSON"}},
      {"only the unsigned one, mode 0", false, str("<PERSON:0a1b2c3d-417> / <PERSON:0a1b2c3d>"),
       str("<PERSON:0a1b2c3d-417> / Ada"), 1, {"PERSON"}},
      {"unknown token", false, str("<PERSON:ffffffff>"), "", 0, {}},
      {"lower-case type is never recognised", true, str("<person:0a1b2c3d> <person:0a1b2c3d-1>"),
       "", 0, {}, {{"<person:0a1b2c3d>", "Eve", "person"}}},
      {"upper-case hex needs that exact key", false, str("<PERSON:0A1B2C3D>"), "", 0, {}},
      {"upper-case hex with that exact key", false, str("<PERSON:0A1B2C3D>"), str("Upper"), 1,
       {"PERSON"}, {{"<PERSON:0A1B2C3D>", "Upper", "PERSON"}}},
      {"keys are never restored", true, R"({"<PERSON:0a1b2c3d>":"x","0a1b2c3d":1})", "", 0, {}},
      {"names are the stored types", false, str("<ID:12345678>"), str("x"), 1, {"CUSTOM"},
       {{"<ID:12345678>", "x", "CUSTOM"}}},
      {"malformed tokens", true,
       str("<PERSON:0a1b2c3d-41> <PERSON:0a1b2c3d-4170> <PERSON:0a1b2c3> <:0a1b2c3d> "
           "<PER SON:0a1b2c3d> <PERSON:0a1b2c3g> <PERSON 0a1b2c3d> PERSON:0a1b2c3d>"),
       "", 0, {}},
      {"tokens inside other text", false, str("<<PERSON:0a1b2c3d>>x<PERSON:0a1b2c3d>0"),
       str("<Ada>xAda0"), 2, {"PERSON"}},
      {"empty original", false, str("[<E:00000000>]"), str("[]"), 1, {"E"},
       {{"<E:00000000>", "", "E"}}},

      // Bare values.
      {"bare value", false, str("0a1b2c3d"), str("Ada"), 1, {"PERSON"}},
      {"bare value, mode 1", true, str("0a1b2c3d"), str("Ada"), 1, {"PERSON"}},
      {"bare value held by two keys", false, str("0a1b2c3d"), "", 0, {},
       {{"<PHONE:0a1b2c3d>", "555", "PHONE"}}},
      {"bare value after a space", false, str(" 0a1b2c3d"), "", 0, {}},
      {"nine digits", false, str("0a1b2c3d9"), "", 0, {}},
      {"seven digits", false, str("0a1b2c3"), "", 0, {}},
      {"bare upper-case value is matched exactly", false, str("0A1B2C3D"), "", 0, {}},
      {"bare upper-case value with its key", false, str("0A1B2C3D"), str("Up"), 1, {"X"},
       {{"<X:0A1B2C3D>", "Up", "X"}}},

      {"scalars and empty containers", true, R"([1,-2,3.5,true,false,null,[],{},""])", "", 0,
       {}},
      {"arrays and nested objects", false,
       R"(["<PERSON:0a1b2c3d>",{"k":["0a1b2c3d"]}])", R"(["Ada",{"k":["Ada"]}])", 2,
       {"PERSON"}},

      // An original that holds a token text.
      {"signed pass, then the unsigned pass on its result", true, str("<WRAP:11111111-123>"),
       str("see Ada"), 2, {"WRAP", "PERSON"},
       {{"<WRAP:11111111>", "see <PERSON:0a1b2c3d>", "WRAP"}}},
      {"the unsigned pass replaces only what it scanned", false, str("<WRAP:11111111>"),
       str("see <PERSON:0a1b2c3d>"), 1, {"WRAP"},
       {{"<WRAP:11111111>", "see <PERSON:0a1b2c3d>", "WRAP"}}},
      {"a token brought in is replaced if also scanned", false,
       str("<WRAP:11111111> <PERSON:0a1b2c3d>"), str("see Ada Ada"), 2, {"WRAP", "PERSON"},
       {{"<WRAP:11111111>", "see <PERSON:0a1b2c3d>", "WRAP"}}},
      {"the signed pass scans the text as received", true, str("<WRAP:22222222-100>"),
       str("x <PERSON:0a1b2c3d-555>"), 1, {"WRAP"},
       {{"<WRAP:22222222>", "x <PERSON:0a1b2c3d-555>", "WRAP"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Stored> stored = {kAda};
    stored.insert(stored.end(), c.extra.begin(), c.extra.end());
    const RecordingVault vault(stored);
    const Outcome out = detokenize_json(c.payload, vault, c.signed_tokens);
    EXPECT_EQ(out.payload, canonical(c.expected.empty() ? c.payload : c.expected));
    EXPECT_EQ(out.count, c.count);
    EXPECT_THAT(out.names, ElementsAreArray(c.names));
  }
}

// Names merge depth first: object members by key, array elements by index.
TEST(Detokenizer, NamesFollowTheVisitingOrder) {
  const RecordingVault vault({{"<A:00000001>", "a", "A"},
                              {"<B:00000002>", "b", "B"},
                              {"<M:00000003>", "m", "M"},
                              {"<Z:00000004>", "z", "Z"}});
  const Outcome flat = detokenize_json(R"({"b":"<B:00000002>","a":"<A:00000001>"})", vault, false);
  EXPECT_EQ(flat.payload, R"({"a":"a","b":"b"})");
  EXPECT_THAT(flat.names, ElementsAre("A", "B"));

  const Outcome nested = detokenize_json(
      R"([{"z":"<Z:00000004>","m":["<M:00000003> <A:00000001>"]},"<B:00000002> <Z:00000004>"])",
      vault, false);
  EXPECT_THAT(nested.names, ElementsAre("M", "A", "Z", "B"));
  EXPECT_EQ(nested.count, 5u);
}

// What is looked up, and how: the signed form is looked up under its
// unsigned key, lookups are exact, keys and non-tokens are never looked up,
// and only an exact eight-digit string is looked up by value.
TEST(Detokenizer, Lookups) {
  struct LookupCase {
    std::string text;
    bool signed_tokens;
    std::vector<std::string> gets;
    std::vector<std::string> value_lookups;
  };
  const std::vector<LookupCase> cases = {
      {"<PERSON:0a1b2c3d-417>", true, {"<PERSON:0a1b2c3d>"}, {}},
      {"<PERSON:ffffffff-417> <PERSON:ffffffff>", true,
       {"<PERSON:ffffffff>", "<PERSON:ffffffff>"}, {}},
      {"<PERSON:0a1b2c3d-417>", false, {}, {}},
      {"<PERSON:0A1B2C3D>", false, {"<PERSON:0A1B2C3D>"}, {}},
      {"<person:0a1b2c3d>", true, {}, {}},
      {"0a1b2c3d", false, {}, {"0a1b2c3d"}},
      {"0A1B2C3D", true, {}, {"0A1B2C3D"}},
      {" 0a1b2c3d", false, {}, {}},
      {"0a1b2c3d ", false, {}, {}},
      {"0a1b2c3d9", false, {}, {}},
      {"0a1b2c3g", false, {}, {}},
      {"", false, {}, {}},
  };
  for (const LookupCase& c : cases) {
    SCOPED_TRACE(c.text);
    const RecordingVault vault({kAda});
    (void)detokenize_json(str(c.text), vault, c.signed_tokens);
    EXPECT_THAT(vault.gets, ElementsAreArray(c.gets));
    EXPECT_THAT(vault.value_lookups, ElementsAreArray(c.value_lookups));
  }

  const RecordingVault vault({kAda});
  (void)detokenize_json(R"({"<PERSON:0a1b2c3d>":1,"0a1b2c3d":null})", vault, true);
  EXPECT_TRUE(vault.gets.empty());
  EXPECT_TRUE(vault.value_lookups.empty());
}

// Restoring does not use up a mapping: the same token is restored again by
// later walks.
TEST(Detokenizer, VaultIsOnlyRead) {
  vault::InMemoryTokenVault vault;
  vault.insert(kAda.key, mapping_of(kAda));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(detokenize_json(str("<PERSON:0a1b2c3d>"), vault, false).payload, str("Ada"));
  }
  EXPECT_EQ(vault.size(), 1u);
}

// find_token against RE2 find-all with the two patterns that define the
// token forms, on random strings built from token fragments.
TEST(FindToken, MatchesTheTokenPatterns) {
  const re2::RE2 signed_re("<[A-Z0-9_]+:[0-9a-fA-F]{8}-[0-9]{3}>");
  const re2::RE2 unsigned_re("<[A-Z0-9_]+:[0-9a-fA-F]{8}>");
  ASSERT_TRUE(signed_re.ok() && unsigned_re.ok());
  const std::vector<std::string> fragments = {
      "<", ">", ":", "-", "A", "Z", "_", "0", "9", "a", "f", "F", "g", " ", "\xC3\xA9",
      "0a1b2c3d", "0A1B2C3D", "1234567", "PERSON", "<PERSON:", "<A_1:", "-417>", "-41", "-4170>",
      "ffffffff>", "12345678-999>", "<<", "::", "<PERSON:0a1b2c3d>", "<X_9:FFFFFFFF-000>",
      "<PERSON:0a1b2c3d-417", "<Q:0a1b2c3d", "<person:0a1b2c3d>", "<Person:", "<a:", "<A-B:",
  };
  std::mt19937 rng(4242);
  size_t spans[2] = {0, 0};
  for (int iteration = 0; iteration < 20000; ++iteration) {
    std::string s;
    const size_t n = rng() % 12;
    for (size_t i = 0; i < n; ++i) s += fragments[rng() % fragments.size()];
    for (const bool want_signed : {false, true}) {
      SCOPED_TRACE((want_signed ? "signed: \"" : "unsigned: \"") + s + "\"");
      const re2::RE2& re = want_signed ? signed_re : unsigned_re;
      std::vector<std::pair<size_t, size_t>> expected;
      re2::StringPiece m;
      for (size_t pos = 0; pos <= s.size() &&
                           re.Match(s, pos, s.size(), re2::RE2::UNANCHORED, &m, 1);) {
        const size_t start = static_cast<size_t>(m.data() - s.data());
        expected.emplace_back(start, start + m.size());
        pos = start + m.size();
      }
      std::vector<std::pair<size_t, size_t>> got;
      for (TokenMatch t = find_token(s, 0, want_signed); t.start != std::string_view::npos;
           t = find_token(s, t.end, want_signed)) {
        got.emplace_back(t.start, t.end);
        ASSERT_LE(got.size(), s.size());
      }
      ASSERT_EQ(got, expected);
      spans[want_signed ? 1 : 0] += got.size();
    }
  }
  // Both forms occur often enough for the comparison to mean something.
  EXPECT_GT(spans[0], 3000u);
  EXPECT_GT(spans[1], 3000u);
}

}  // namespace
}  // namespace quorvel::enforcer
