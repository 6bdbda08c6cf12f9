// The required-bytes analysis decides which patterns may be skipped for a
// text, so a wrong answer would let PII through: every match RE2 finds must
// hold one of the bytes the analysis names.
#include "policy/required_bytes.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "policy/compiled_patterns.h"
#include "policy/pattern_dialect.h"

namespace quorvel::policy {
namespace {

std::string members(const ByteSet& s) {
  std::string out;
  for (size_t b = 0x20; b < 0x7F; ++b) {
    if (s.test(b)) out.push_back(static_cast<char>(b));
  }
  return out;
}

std::optional<ByteSet> analyse(const std::string& dialect_pattern) {
  auto translated = translate_pattern(dialect_pattern);
  EXPECT_TRUE(translated.ok()) << dialect_pattern;
  return required_bytes(translated.value());
}

TEST(RequiredBytes, PicksTheRarestRequiredPart) {
  struct Case {
    std::string pattern;
    std::string ascii;  // printable ASCII members; empty for no set
  };
  const Case cases[] = {
      {R"([a-z]+@[a-z]+\.com)", "@"},
      {R"(\d{3}-\d{4})", "-"},
      {R"(\b\d+\b)", "0123456789"},
      {"abc", "a"},
      {"(?i)k", "Kk"},
      {"(?i:x)y", "y"},
      {"(a|b)c?", "ab"},
      {"(a|b?)", ""},
      {"x*", ""},
      {"x{0,3}", ""},
      {"x{2}", "x"},
      {"^$", ""},
      {R"([^a-z]#)", "#"},
      {"[.]", "."},
      {R"(\Q+-\E)", "+"},
  };
  for (const Case& c : cases) {
    auto got = analyse(c.pattern);
    if (c.ascii.empty()) {
      EXPECT_FALSE(got.has_value()) << c.pattern;
    } else {
      ASSERT_TRUE(got.has_value()) << c.pattern;
      EXPECT_EQ(members(*got), c.ascii) << c.pattern;
    }
  }
}

TEST(RequiredBytes, CaseFoldingKeepsNonAsciiForms) {
  // Under (?i) "k" also matches the Kelvin sign U+212A, whose first byte is
  // not ASCII.
  auto got = analyse("(?i)k");
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(got->test(0xE2));
}

// Random patterns over a small alphabet, random texts: every non-empty match
// holds a required byte.
TEST(RequiredBytes, EveryMatchHoldsARequiredByte) {
  std::mt19937 rng(7);
  const std::vector<std::string> atoms = {
      "a", "b", "@", "-", ".", "\\.", "\\d", "\\w", "\\s", "\\D", "[ab]", "[^a]", "[a-c@]",
      "[\\d-]", "é", "[é-ü]", "\\x{41}", "(?i:b)", "\\bk", "[[:digit:]]", "\\p{Lu}", "\\PL", "(?s:.)"};
  const std::vector<std::string> quantifiers = {"", "", "", "*", "+", "?", "{2}", "{0,2}", "{1,}", "+?"};
  const std::string alphabet[] = {"a", "b", "c", "@", "-", ".", "1", "7", " ", "\n", "é", "ü", "K", "k",
                                  "\xE2\x84\xAA", "B", "_"};
  int checked = 0;
  for (int round = 0; round < 400; ++round) {
    std::string pattern;
    const int pieces = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < pieces; ++i) {
      std::string piece = atoms[rng() % atoms.size()];
      if (rng() % 4 == 0) piece = "(" + piece + "|" + atoms[rng() % atoms.size()] + ")";
      pattern += piece + quantifiers[rng() % quantifiers.size()];
    }
    if (rng() % 5 == 0) pattern = "(?i)" + pattern;
    auto translated = translate_pattern(pattern);
    if (!translated.ok()) continue;
    auto compiled = compile_pattern(pattern);
    ASSERT_TRUE(compiled.ok()) << pattern;
    const auto required = required_bytes(translated.value());
    for (int t = 0; t < 30; ++t) {
      std::string text;
      const int len = static_cast<int>(rng() % 12);
      for (int i = 0; i < len; ++i) text += alphabet[rng() % std::size(alphabet)];
      re2::StringPiece input(text), match;
      size_t pos = 0;
      while (pos <= text.size() &&
             compiled.value()->Match(input, pos, text.size(), re2::RE2::UNANCHORED, &match, 1)) {
        const size_t start = static_cast<size_t>(match.data() - text.data());
        if (!match.empty()) {
          if (!required) break;  // no set: the pattern always runs
          bool holds = false;
          for (char c : match) holds = holds || required->test(static_cast<unsigned char>(c));
          ASSERT_TRUE(holds) << "pattern " << pattern << " matched \"" << std::string(match)
                             << "\" without a required byte " << members(*required);
          ++checked;
        }
        pos = start + std::max<size_t>(match.size(), 1);
      }
    }
  }
  EXPECT_GT(checked, 500);
}

TEST(RequiredBytes, CandidatesNeverMissAMatchingPattern) {
  const std::vector<PiiPattern> patterns = {
      {"EMAIL", R"([a-z]+@[a-z]+\.com)"}, {"DIGITS", R"(\d{3})"}, {"WORD", "(?i)secret"},
      {"ANY", "x*y?"}, {"DASH", "-+"}};
  auto compiled = CompiledPatterns::compile(patterns);
  ASSERT_TRUE(compiled.ok());
  const std::string texts[] = {"", "plain words", "mail ada@math.com", "call 555", "SECRET",
                               "a-b", "y", "\xD9\xA1\xD9\xA2\xD9\xA3", "Ｓecret"};
  std::vector<int> got;
  for (const std::string& text : texts) {
    compiled.value()->candidates(text, &got);
    for (size_t i = 0; i < patterns.size(); ++i) {
      if (!compiled.value()->entries()[i].re->Match(text, 0, text.size(), re2::RE2::UNANCHORED,
                                                    nullptr, 0)) {
        continue;
      }
      // A pattern that matches only the empty text need not be a candidate.
      re2::StringPiece m;
      compiled.value()->entries()[i].re->Match(text, 0, text.size(), re2::RE2::UNANCHORED, &m, 1);
      bool non_empty = !m.empty();
      for (size_t p = 0; p < text.size() && !non_empty; ++p) {
        non_empty = compiled.value()->entries()[i].re->Match(text, p, text.size(),
                                                              re2::RE2::UNANCHORED, &m, 1) &&
                    !m.empty();
      }
      if (non_empty) {
        EXPECT_NE(std::find(got.begin(), got.end(), static_cast<int>(i)), got.end())
            << patterns[i].name << " on \"" << text << "\"";
      }
    }
  }
}

}  // namespace
}  // namespace quorvel::policy
