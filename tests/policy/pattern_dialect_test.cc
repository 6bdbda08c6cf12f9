// The pattern dialect on RE2: Unicode shorthand classes inside and outside
// bracket classes, named groups, refused constructs, literal text left alone,
// and the nesting, class-count and program-size limits.
#include "policy/pattern_dialect.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::policy {
namespace {

std::string utf8(uint32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

std::string repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out.append(s);
  return out;
}

// The leftmost-first match of re in text, if any.
std::optional<std::string> first_match(const re2::RE2& re, const std::string& text) {
  re2::StringPiece m;
  if (!re.Match(text, 0, text.size(), re2::RE2::UNANCHORED, &m, 1)) return std::nullopt;
  return std::string(m.data(), m.size());
}

// ---- Matching: {pattern, input, leftmost-first match or none}.

struct MatchCase {
  std::string pattern;
  std::string input;
  std::optional<std::string> match;
};

void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.pattern << " on " << c.input; }

class Matching : public ::testing::TestWithParam<MatchCase> {};

TEST_P(Matching, FindsTheExpectedMatch) {
  const MatchCase& c = GetParam();
  auto re = compile_pattern(c.pattern);
  ASSERT_TRUE(re.ok()) << re.error();
  EXPECT_EQ(first_match(**re, c.input), c.match);
}

const std::string kArabicIndic = "\u0660\u0661\u0662\u0663\u0664\u0665\u0666\u0667\u0668\u0669";
const std::optional<std::string> kNone;

INSTANTIATE_TEST_SUITE_P(
    Shorthands, Matching,
    ::testing::Values(
        // \d is \p{Nd}.
        MatchCase{R"(\d+)", "no. " + kArabicIndic + "!", kArabicIndic},
        MatchCase{R"(\d)", "abcXYZ\u00e9", kNone},
        MatchCase{R"(\d)", "\u2167\u00bd", kNone},  // a roman numeral and a fraction are not Nd
        MatchCase{R"(\D+)", "\u0663\u0664ab5", "ab"},
        // \w: letters, marks, decimal digits, connector punctuation.
        MatchCase{R"(\w+)", "-caf\u00e9_x-", "caf\u00e9_x"},
        MatchCase{R"(\w+)", " e\u0301te\u0301 ", "e\u0301te\u0301"},  // combining acute
        MatchCase{R"(\w+)", "!\u203f\u0663", "\u203f\u0663"},       // U+203F is Pc
        MatchCase{R"(\w)", "-+ \u00a0!", kNone},
        MatchCase{R"(\W+)", "ab-+\u00a0c", "-+\u00a0"},
        MatchCase{R"(\W)", "a\nb", "\n"},
        // \s is White_Space.
        MatchCase{R"(\s)", "a\u00a0b", "\u00a0"},
        MatchCase{R"(\s+)", "a\u3000\u2028\u0085\t\n\v\f\rb", "\u3000\u2028\u0085\t\n\v\f\r"},
        MatchCase{R"(\s)", "a\u200bb\u180e", kNone},  // zero-width space, Mongolian vowel separator
        MatchCase{R"(\S+)", " \u00a0x\u3000", "x"},
        // Inside bracket classes.
        MatchCase{R"([\d]+)", "x" + kArabicIndic, kArabicIndic},
        MatchCase{R"([\D]+)", "\u0663ab\u0664", "ab"},
        MatchCase{R"([^\D]+)", "ab\u0663\u0664c", "\u0663\u0664"},
        MatchCase{R"([^\W_]+)", "__\u00e91_", "\u00e91"},
        MatchCase{R"([^\W\d]+)", "12ab\u0663", "ab"},
        MatchCase{R"([^\S\n]+)", "a\n \u00a0\t\nb", " \u00a0\t"},
        MatchCase{R"([\W\d]+)", "ab\u0663-!c", "\u0663-!"},
        MatchCase{R"([^\w\s]+)", "a b.,c", ".,"},
        // A "-" next to a shorthand stays literal; it never makes a range.
        MatchCase{R"([a\W-z]+)", "bz-a!c", "z-a!"},
        MatchCase{R"([\d-z]+)", "y-\u0663z", "-\u0663z"},
        MatchCase{R"([\W^]+)", "a^!b", "^!"},
        MatchCase{R"([\W^-b]+)", "c^_ab!", "^_ab!"},  // still a range from "^" to "b"
        MatchCase{R"([]-a\d]+)", "b]^a\u0663c", "]^a\u0663"},  // "]" first starts a range
        // "]" first in a class is literal; POSIX classes stay ASCII.
        MatchCase{R"([]\d]+)", "x]\u0663]", "]\u0663]"},
        MatchCase{R"([^]\d]+)", "]\u0663ab]", "ab"},
        MatchCase{R"([[:alpha:]\d]+)", "-a\u00e9\u0663", "a"},
        // Case folding applies to the translated classes as well.
        MatchCase{R"((?i)\w+)", "\u00c9COLE\u00e9", "\u00c9COLE\u00e9"},
        MatchCase{R"((?i)[^\Wk]+)", "K\u212aab", "ab"},
        MatchCase{"(?i)caf\u00e9", "CAF\u00c9", "CAF\u00c9"}));

INSTANTIATE_TEST_SUITE_P(
    DefaultFlags, Matching,
    ::testing::Values(
        MatchCase{R"(a.b)", "a\nb", kNone},          // "." does not match a line feed
        MatchCase{R"(a.b)", "a\rb", "a\rb"},
        MatchCase{R"(^b)", "a\nb", kNone},           // "^" only at the start of the text
        MatchCase{R"(a$)", "a\n", kNone},            // "$" only at the very end
        MatchCase{R"((?m)^b$)", "a\nb\nc", "b"},     // unless (?m) says otherwise
        MatchCase{R"(a|ab)", "ab", "a"},             // leftmost-first, not longest
        MatchCase{R"(a+?)", "aaa", "a"},
        MatchCase{R"(x{2,3})", "xxxx", "xxx"},
        MatchCase{R"(ab)", "AB", kNone},             // case-sensitive
        MatchCase{R"(\p{Greek}+)", "x\u03b1\u03b2y", "\u03b1\u03b2"},
        // \b is an ASCII word boundary in RE2: none between "f" and "é".
        MatchCase{R"(caf\b)", "caf\u00e9", "caf"}));

// Text that is literal is never rewritten: an escaped backslash, a backslash
// in a class, \Q...\E, a brace that is not a count.
INSTANTIATE_TEST_SUITE_P(
    LiteralText, Matching,
    ::testing::Values(
        MatchCase{R"(\\d)", "5\\d", "\\d"}, MatchCase{R"(\\d)", "5", kNone},
        MatchCase{R"([\\]d)", "7\\d", "\\d"}, MatchCase{R"([\\]d)", "7", kNone},
        MatchCase{R"(\Q\d\E)", "7\\d", "\\d"}, MatchCase{R"(\Q\d\E)", "7", kNone},
        MatchCase{R"(\Q(?<n>[\W]\E+)", "(?<n>[\\W]]]", "(?<n>[\\W]]]"},
        MatchCase{R"(\Qa\w)", "a\\w", "a\\w"},  // \Q without \E runs to the end
        MatchCase{R"([(?<n>]+)", "x?<(n>", "?<(n>"},
        MatchCase{R"([[:x]+)", "a[:x:b", "[:x:"},  // "[:" without ":]" is literal
        MatchCase{R"(x{abc})", "x{abc}", "x{abc}"}));

// ---- Every code point: the translated classes against independent sets.

bool is_white_space(uint32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

TEST(PatternDialect, ShorthandsMatchTheirSetsOnEveryCodePoint) {
  // References written directly in RE2's syntax, never translated.
  re2::RE2::Options quiet;
  quiet.set_log_errors(false);
  const re2::RE2 word_ref(R"(^[\p{L}\p{M}\p{Nd}\p{Pc}]$)", quiet);
  const re2::RE2 digit_ref(R"(^\p{Nd}$)", quiet);
  ASSERT_TRUE(word_ref.ok() && digit_ref.ok());

  struct ClassCase {
    std::string pattern;
    std::function<bool(uint32_t, bool w, bool d, bool s)> member;
  };
  const std::vector<ClassCase> cases = {
      {R"(\d)", [](uint32_t, bool, bool d, bool) { return d; }},
      {R"(\D)", [](uint32_t, bool, bool d, bool) { return !d; }},
      {R"((?i)\D)", [](uint32_t, bool, bool d, bool) { return !d; }},
      {R"([^\D])", [](uint32_t, bool, bool d, bool) { return d; }},
      {R"(\w)", [](uint32_t, bool w, bool, bool) { return w; }},
      {R"((?i)\w)", [](uint32_t, bool w, bool, bool) { return w; }},
      {R"(\W)", [](uint32_t, bool w, bool, bool) { return !w; }},
      {R"([\W])", [](uint32_t, bool w, bool, bool) { return !w; }},
      {R"([^\W])", [](uint32_t, bool w, bool, bool) { return w; }},
      {R"((?i)[^\W])", [](uint32_t, bool w, bool, bool) { return w; }},
      {R"([^\W_])", [](uint32_t c, bool w, bool, bool) { return w && c != '_'; }},
      {R"((?i)[^\W_])", [](uint32_t c, bool w, bool, bool) { return w && c != '_'; }},
      {R"([^\W\d])", [](uint32_t, bool w, bool d, bool) { return w && !d; }},
      {R"([\W\d])", [](uint32_t, bool w, bool d, bool) { return !w || d; }},
      {R"([a\W-z])",
       [](uint32_t c, bool w, bool, bool) { return !w || c == 'a' || c == '-' || c == 'z'; }},
      {R"(\s)", [](uint32_t, bool, bool, bool s) { return s; }},
      {R"(\S)", [](uint32_t, bool, bool, bool s) { return !s; }},
      {R"([\s])", [](uint32_t, bool, bool, bool s) { return s; }},
      {R"((?i)[^\S])", [](uint32_t, bool, bool, bool s) { return s; }},
      {R"([^\S\n])", [](uint32_t c, bool, bool, bool s) { return s && c != '\n'; }},
      {R"([\S\n])", [](uint32_t c, bool, bool, bool s) { return !s || c == '\n'; }},
      {R"([^\W\S])", [](uint32_t, bool w, bool, bool s) { return w && s; }},
      {R"([^\D\s])", [](uint32_t, bool, bool d, bool s) { return d && !s; }},
      {R"([^\W\S\D])", [](uint32_t, bool w, bool d, bool s) { return w && s && d; }},
  };
  std::vector<std::unique_ptr<const re2::RE2>> compiled;
  for (const ClassCase& c : cases) {
    auto re = compile_pattern("^" + c.pattern + "$");
    ASSERT_TRUE(re.ok()) << c.pattern << ": " << re.error();
    compiled.push_back(std::move(re).value());
  }

  // The whole Basic Multilingual Plane, then a stride through the rest.
  std::vector<uint32_t> code_points;
  for (uint32_t c = 0; c < 0x10000; ++c) {
    if (c < 0xD800 || c > 0xDFFF) code_points.push_back(c);
  }
  for (uint32_t c = 0x10000; c <= 0x10FFFF; c += 61) code_points.push_back(c);
  code_points.push_back(0x1D7CE);  // MATHEMATICAL BOLD DIGIT ZERO, Nd
  code_points.push_back(0x10FFFF);

  int failures = 0;
  for (uint32_t cp : code_points) {
    const std::string text = utf8(cp);
    const bool w = re2::RE2::FullMatch(text, word_ref);
    const bool d = re2::RE2::FullMatch(text, digit_ref);
    const bool s = is_white_space(cp);
    for (size_t i = 0; i < cases.size() && failures < 20; ++i) {
      const bool expected = cases[i].member(cp, w, d, s);
      if (re2::RE2::FullMatch(text, *compiled[i]) != expected) {
        ADD_FAILURE() << cases[i].pattern << " on U+" << std::hex << cp << ": expected "
                      << expected;
        ++failures;
      }
    }
  }
}

// ---- Named groups.

TEST(PatternDialect, NamedGroupsCaptureByName) {
  struct NamedCase {
    std::string pattern;
    std::string input;
    std::string name;
    std::string captured;
  };
  const std::vector<NamedCase> cases = {
      {R"((?<year>\d{4})-(?<month>\d\d))", "on \u0662\u0660\u0662\u0664-05.", "year",
       "\u0662\u0660\u0662\u0664"},
      {R"((?<year>\d{4})-(?<month>\d\d))", "on 2024-05.", "month", "05"},
      {R"((?P<id>\w+)@)", "mail jos\u00e9@example", "id", "jos\u00e9"},
      {R"((x)(?<last>[^\W\d]+))", "x12xab", "last", "ab"},
  };
  for (const NamedCase& c : cases) {
    SCOPED_TRACE(c.pattern);
    auto re = compile_pattern(c.pattern);
    ASSERT_TRUE(re.ok()) << re.error();
    const auto& groups = (*re)->NamedCapturingGroups();
    auto it = groups.find(c.name);
    ASSERT_NE(it, groups.end());
    std::vector<re2::StringPiece> subs(static_cast<size_t>((*re)->NumberOfCapturingGroups()) + 1);
    ASSERT_TRUE((*re)->Match(c.input, 0, c.input.size(), re2::RE2::UNANCHORED, subs.data(),
                             static_cast<int>(subs.size())));
    EXPECT_EQ(subs[static_cast<size_t>(it->second)].as_string(), c.captured);
  }
}

// ---- Refusals: {pattern, a part of the message}.

struct RefusalCase {
  std::string pattern;
  std::string message;  // empty: any message (RE2's own)
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.pattern; }

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, DoNotCompile) {
  const RefusalCase& c = GetParam();
  auto re = compile_pattern(c.pattern);
  ASSERT_FALSE(re.ok()) << "compiled: " << c.pattern;
  EXPECT_FALSE(re.error().empty());
  EXPECT_NE(re.error().find(c.message), std::string::npos) << re.error();
}

INSTANTIATE_TEST_SUITE_P(
    LookAroundAndBackReferences, Refusals,
    ::testing::Values(RefusalCase{"a(?=b)", "look-ahead"}, RefusalCase{"a(?!b)", "look-ahead"},
                      RefusalCase{"(?<=a)b", "look-behind"},
                      RefusalCase{"(?<!a)b", "look-behind"},
                      RefusalCase{"(?i:(?<=a))b", "look-behind"},
                      RefusalCase{R"((a)\1)", "back-reference"},
                      RefusalCase{R"((a)\12)", "back-reference"},
                      RefusalCase{R"((a)\9)", "back-reference"},
                      RefusalCase{R"((a)\g1)", "back-reference"},
                      RefusalCase{R"((a)\g{-1})", "back-reference"},
                      RefusalCase{R"((?<x>a)\k<x>)", "back-reference"},
                      RefusalCase{R"((?P<x>a)(?P=x))", "back-reference"}));

INSTANTIATE_TEST_SUITE_P(
    ReadDifferentlyByRe2, Refusals,
    ::testing::Values(RefusalCase{R"(\C)", "\\C"}, RefusalCase{R"(a\v)", "\\v"},
                      RefusalCase{R"([\v])", "\\v"}, RefusalCase{R"(\b{wb})", "\\b{"},
                      RefusalCase{R"(a{,3})", "counted repetition"},
                      RefusalCase{R"(a{ 2 })", "counted repetition"},
                      RefusalCase{R"(a{02})", "counted repetition"},
                      RefusalCase{R"(a{1001})", "1000"},
                      RefusalCase{R"(a{2,99999999999})", "1000"},
                      RefusalCase{R"([a-\d])", "range"}));

INSTANTIATE_TEST_SUITE_P(
    RefusedByRe2, Refusals,
    ::testing::Values(RefusalCase{"(?>a)", ""}, RefusalCase{"a*+", ""}, RefusalCase{"a++", ""},
                      RefusalCase{"(?x) a", ""}, RefusalCase{"(?#note)a", ""},
                      RefusalCase{"(?'n'a)", ""}, RefusalCase{"(?|a)", ""},
                      RefusalCase{"(a)(?1)", ""}, RefusalCase{"(?R)", ""},
                      RefusalCase{"(a", ""}, RefusalCase{"a)", ""}, RefusalCase{"[a", ""},
                      RefusalCase{"[]", ""}, RefusalCase{"a\\", ""},
                      RefusalCase{R"(\Z)", ""}, RefusalCase{R"(\e)", ""},
                      RefusalCase{R"(\p{NoSuchScript})", ""}, RefusalCase{R"((?<>a))", ""},
                      RefusalCase{R"([[:nope:]])", ""},
                      RefusalCase{"(a{1000}){1000}", ""},
                      RefusalCase{"\xff", ""}));

// ---- Translation leaves everything but the dialect's own syntax alone.

TEST(PatternDialect, TranslationLeavesOtherTextUnchanged) {
  const std::vector<std::string> unchanged = {
      R"(\\d\\w\\s)", R"([\\]d)", R"(\Q\d(?<n>\E)", R"([(?<n>\]])", R"([[:alpha:][:^digit:]])",
      R"(\x{64}\x64\0144)", R"((?P<d>x)(?:y)(?i:z)(?i)a)", R"(x{abc}y{2}z{2,}w{2,5}?)",
      R"(\p{Greek}\pL\P{Nd}[\p{Han}])", R"(^a.b*c+?d??$\A\z\b\B)", "caf\u00e9|\u00e9t\u00e9",
  };
  for (const std::string& p : unchanged) {
    auto t = translate_pattern(p);
    ASSERT_TRUE(t.ok()) << p << ": " << t.error();
    EXPECT_EQ(*t, p);
  }
}

// ---- Nesting: groups and repetition operators, at 250 and at 251 levels.

TEST(PatternDialect, NestingLimitIsTwoHundredFifty) {
  struct DepthCase {
    std::string pattern;
    int depth;
  };
  auto groups = [](int n) { return repeat("(", n) + "a" + repeat(")", n); };
  auto quantified = [](int n, std::string_view inner) {
    return repeat("(?:", n) + std::string(inner) + repeat(")*", n);
  };
  const std::vector<DepthCase> cases = {
      {groups(250), 250},
      {groups(251), 251},
      {repeat("(?:", 250) + repeat(")", 250), 250},  // empty groups count too
      {repeat("(?:", 251) + repeat(")", 251), 251},
      {quantified(125, "a"), 250},  // each level: a group and a repetition
      {quantified(125, "a*"), 251},
      {quantified(124, "(a)+?"), 250},
      {quantified(124, "(a){2}"), 250},
      {quantified(124, "(a){2}") + "|b", 250},
      {repeat("(?i:", 249) + "a*" + repeat(")", 249), 250},
      {repeat("(?i:", 250) + "a*" + repeat(")", 250), 251},
      {"(?i)" + repeat("(?P<g>", 1) + groups(249) + ")", 250},
      {repeat("(a|", 251) + repeat(")", 251), 251},
      {groups(200) + groups(200) + "|" + groups(250), 250},
  };
  for (const DepthCase& c : cases) {
    SCOPED_TRACE(c.pattern.substr(0, 40));
    auto re = compile_pattern(c.pattern);
    if (c.depth <= kMaxPatternNesting) {
      EXPECT_TRUE(re.ok()) << re.error();
    } else {
      ASSERT_FALSE(re.ok());
      EXPECT_NE(re.error().find("nest"), std::string::npos) << re.error();
    }
  }
}

// ---- Program size: just under and just over 10 MiB.

// "a" n times, written with counts so the pattern text stays short. Each
// literal character is one 8-byte RE2 instruction.
std::string literal_run(int n) {
  return repeat("a{1000}", n / 1000) + (n % 1000 ? "a{" + std::to_string(n % 1000) + "}" : "");
}

constexpr int kInstructionBytes = 8;
constexpr int kMaxInstructions = static_cast<int>(kMaxPatternProgramBytes / kInstructionBytes);

TEST(PatternDialect, ProgramJustUnderTenMebibytesCompiles) {
  // 1 KiB of instructions under the limit, so RE2's own header fits too.
  const std::string pattern = "x|" + literal_run(kMaxInstructions - 128);
  auto re = compile_pattern(pattern);
  ASSERT_TRUE(re.ok()) << re.error();
  const int64_t bytes = int64_t{(*re)->ProgramSize()} * kInstructionBytes;
  EXPECT_LE(bytes, kMaxPatternProgramBytes);
  EXPECT_GT(bytes, kMaxPatternProgramBytes - 2048);
  EXPECT_EQ(first_match(**re, "zzx"), "x");
}

TEST(PatternDialect, ProgramJustOverTenMebibytesFails) {
  const std::string pattern = literal_run(kMaxInstructions);
  // Compiled without our limit, its program is over 10 MiB by a few bytes.
  re2::RE2::Options roomy;
  roomy.set_log_errors(false);
  roomy.set_max_mem(int64_t{64} << 20);
  const re2::RE2 unlimited(pattern, roomy);
  ASSERT_TRUE(unlimited.ok()) << unlimited.error();
  const int64_t bytes = int64_t{unlimited.ProgramSize()} * kInstructionBytes;
  EXPECT_GT(bytes, kMaxPatternProgramBytes);
  EXPECT_LT(bytes, kMaxPatternProgramBytes + 64);

  auto re = compile_pattern(pattern);
  ASSERT_FALSE(re.ok());
  EXPECT_NE(re.error().find("10485760"), std::string::npos) << re.error();
}

// ---- Hostile patterns are refused or compile within the limits.

TEST(PatternDialect, HostilePatternsAreRefusedOrBounded) {
  struct HostileCase {
    std::string name;
    std::string pattern;
    bool compiles;
  };
  std::string alternation;
  for (int i = 0; i < 50000; ++i) alternation += (i ? "|w" : "w") + std::to_string(i);
  const std::vector<HostileCase> cases = {
      {"nested counts", "(a{1000}){1000}", false},
      {"nested counts, four levels", "(((a{10}){10}){10}){10}", false},
      {"a million open groups", repeat("(", 1000000), false},
      {"a million flag groups", repeat("(?i:", 1000000), false},
      {"Unicode classes beyond the program", R"(\w{1000})", false},
      {"repeated Unicode classes", R"((?:\w{100}){10})", false},
      {"many Unicode classes", repeat(R"(\pL)", 1001), false},
      {"1001 Unicode classes", "x" + repeat(R"(|\d)", 1001), false},
      {"1000 Unicode classes", "x" + repeat(R"(|\d)", 1000), true},
      {"a long alternation", alternation, true},
      {"many \"[:\" without \":]\"", "[" + repeat("[:", 200000) + "x]", true},
  };
  for (const HostileCase& c : cases) {
    auto re = compile_pattern(c.pattern);
    EXPECT_EQ(re.ok(), c.compiles) << c.name << ": " << (re.ok() ? "" : re.error());
  }
}

}  // namespace
}  // namespace quorvel::policy
