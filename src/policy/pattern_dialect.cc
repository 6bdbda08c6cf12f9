// Translation of dialect patterns into RE2 syntax, and their compilation
// under the dialect's flags and limits.
//
// The translator walks the pattern the way RE2's parser does (escapes,
// bracket classes, \Q...\E spans, groups and flag groups, repetitions), so it
// can tell syntax from literal text. It only ever rewrites "(?<name>" into
// "(?P<name>", the shorthand classes into Unicode property classes, and a
// bracket class holding a shorthand (or a literal "[:") into an equivalent
// class or alternation of classes. Text it refuses is refused with a
// message; everything else reaches RE2 byte for byte, so whatever RE2
// rejects stays rejected.
#include "policy/pattern_dialect.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace quorvel::policy {
namespace {

// RE2 hands two thirds of max_mem to the forward program, and its compiler
// stops once the program (a header of about 430 bytes plus 8 bytes per
// instruction) would outgrow that share. With 15 MiB the program therefore
// tops out at 10 MiB, header included: a run of 1310662 literal characters
// ("a{1000}" 1310 times, then "a{662}", 1310666 instructions) compiles, one
// more character does not. The remaining third bounds the reverse program,
// which RE2 builds lazily and, when it does not fit, replaces by its NFA;
// the DFA caches live on what each program leaves of its share.
constexpr int64_t kEngineMaxMem = kMaxPatternProgramBytes * 3 / 2;

// Largest count of a counted repetition that RE2 accepts.
constexpr int kMaxRepeatCount = 1000;

// A set that a bracket class can name directly, as itself and as its
// complement. Each text is self-contained: it starts with a property or a
// full range and ends with one, so no neighbouring "-" can extend it.
struct ClassPart {
  std::string_view itself;
  std::string_view complement;
};

constexpr ClassPart kLetters{R"(\p{L})", R"(\P{L})"};
constexpr ClassPart kMarks{R"(\p{M})", R"(\P{M})"};
constexpr ClassPart kDecimalDigits{R"(\p{Nd})", R"(\P{Nd})"};
constexpr ClassPart kConnectors{R"(\p{Pc})", R"(\P{Pc})"};
// Zs, Zl and Zp together with the controls U+0009..U+000D and U+0085 make
// up exactly the Unicode White_Space set.
constexpr ClassPart kSeparators{R"(\p{Z})", R"(\P{Z})"};
constexpr ClassPart kSpaceControls{R"(\x{9}-\x{D}\x{85}-\x{85})",
                                   R"(\x{0}-\x{8}\x{E}-\x{84}\x{86}-\x{10FFFF})"};

constexpr std::array kDigitParts{kDecimalDigits};
constexpr std::array kWordParts{kLetters, kMarks, kDecimalDigits, kConnectors};
constexpr std::array kSpaceParts{kSeparators, kSpaceControls};

// A shorthand class: the union of its parts, or the complement of that union.
struct Shorthand {
  char letter;  // lower case: d, w or s
  std::span<const ClassPart> parts;
  bool negated;
};

std::optional<Shorthand> shorthand_for(char c) {
  switch (c) {
    case 'd': return Shorthand{'d', kDigitParts, false};
    case 'D': return Shorthand{'d', kDigitParts, true};
    case 'w': return Shorthand{'w', kWordParts, false};
    case 'W': return Shorthand{'w', kWordParts, true};
    case 's': return Shorthand{'s', kSpaceParts, false};
    case 'S': return Shorthand{'s', kSpaceParts, true};
    default: return std::nullopt;
  }
}

void append_parts(std::string& out, std::span<const ClassPart> parts) {
  for (const ClassPart& p : parts) out.append(p.itself);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_octal(char c) { return c >= '0' && c <= '7'; }
bool is_hex(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool is_flag_char(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-'; }

// Byte length of the UTF-8 sequence that the lead byte c starts; malformed
// bytes count as one (RE2 reports them).
size_t rune_length(char c) {
  const auto b = static_cast<unsigned char>(c);
  if (b < 0xC0) return 1;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  return 4;
}

// How a brace after an operand reads.
enum class Brace {
  kLiteral,       // not a count in either syntax: a literal "{"
  kCount,         // a count RE2 reads the same way
  kForeignCount,  // a count RE2 would take for literal text
};

class Translator {
 public:
  explicit Translator(std::string_view pattern) : in_(pattern) {
    frames_.push_back(0);
  }

  Result<std::string, std::string> run() {
    while (pos_ < in_.size()) {
      if (!step()) return Err(std::move(error_));
    }
    return std::move(out_);
  }

 private:
  // One element of the pattern at pos_.
  bool step() {
    const char c = in_[pos_];
    switch (c) {
      case '\\':
        return escape();
      case '[':
        return bracket_class();
      case '(':
        return open_group();
      case ')':
        return close_group();
      case '|':
        copy(1);
        last_.reset();
        return true;
      case '*':
      case '+':
      case '?':
        copy(1);
        return repeat();
      case '{':
        return brace();
      default:
        copy(rune_length(c));
        return item(0);
    }
  }

  // ---- Escapes outside bracket classes.

  bool escape() {
    if (pos_ + 1 >= in_.size()) {  // trailing backslash: RE2 reports it
      copy(1);
      return true;
    }
    const char e = in_[pos_ + 1];
    if (auto sh = shorthand_for(e)) {
      if (!count_unicode_class()) return false;
      out_.append(sh->negated ? "[^" : "[");
      append_parts(out_, sh->parts);
      out_.push_back(']');
      pos_ += 2;
      return item(0);
    }
    switch (e) {
      case 'Q':
        return quoted_span();
      case '1': case '2': case '3': case '4': case '5':
      case '6': case '7': case '8': case '9':
        return fail("back-references are not supported (an octal escape is written \\0nn)");
      case 'g':
      case 'k':
        return fail("back-references are not supported");
      case 'C':
        return fail("\\C is not supported: it can match part of a UTF-8 character");
      case 'v':
        return fail("\\v is not supported (a vertical tab is written \\x0B)");
      case 'b':
      case 'B':
        if (pos_ + 2 < in_.size() && in_[pos_ + 2] == '{') {
          return fail("boundaries of the form \\b{...} are not supported");
        }
        break;
      case 'p':
      case 'P':
        if (!count_unicode_class()) return false;
        break;
      default:
        break;
    }
    copy(escape_length(pos_));
    return item(0);
  }

  // \Q...\E: everything up to the first \E (or the end) is literal text.
  bool quoted_span() {
    const size_t body = pos_ + 2;
    const size_t close = in_.find("\\E", body);
    const size_t end = close == std::string_view::npos ? in_.size() : close + 2;
    const bool empty = close == body || body == in_.size();
    copy(end - pos_);
    return empty ? true : item(0);
  }

  // Length of the escape starting with the backslash at p, as RE2 delimits
  // it: \x{...}, \xHH, \p{...}, \pX, octal \0 to \777, or a backslash and
  // one character.
  size_t escape_length(size_t p) const {
    const size_t n = in_.size();
    if (p + 1 >= n) return 1;
    const char e = in_[p + 1];
    if (e == 'x' || e == 'p' || e == 'P') {
      if (p + 2 < n && in_[p + 2] == '{') {
        const size_t close = in_.find('}', p + 3);
        return close == std::string_view::npos ? n - p : close + 1 - p;
      }
      if (e != 'x') return p + 2 < n ? 2 + std::min(rune_length(in_[p + 2]), n - p - 2) : 2;
      size_t len = 2;
      while (len < 4 && p + len < n && is_hex(in_[p + len])) ++len;
      return len;
    }
    if (is_octal(e)) {
      size_t len = 2;
      while (len < 4 && p + len < n && is_octal(in_[p + len])) ++len;
      return len;
    }
    return 1 + std::min(rune_length(e), n - p - 1);
  }

  // ---- Bracket classes.

  // Length of one class character at p (a literal character or an escape).
  size_t class_char_length(size_t p) const {
    if (in_[p] == '\\') return escape_length(p);
    return std::min(rune_length(in_[p]), in_.size() - p);
  }

  bool bracket_class() {
    const size_t n = in_.size();
    size_t p = pos_ + 1;
    const bool negated = p < n && in_[p] == '^';
    if (negated) ++p;

    // The class's other members, each written so that it stays one member
    // wherever it ends up, and the shorthands it holds.
    std::string members;
    std::vector<Shorthand> shorthands;
    bool rebuild = false;  // write the class from `members` even without shorthands
    bool first = true;
    for (;;) {
      if (p >= n) {  // no closing "]": RE2 reports it
        copy(n - pos_);
        return true;
      }
      const char c = in_[p];
      if (c == ']' && !first) break;
      first = false;

      if (c == '[' && p + 2 < n && in_[p + 1] == ':') {  // [:alpha:]
        const size_t close = find_posix_close(p + 2);
        if (close != std::string_view::npos) {
          members.append(in_.substr(p, close + 2 - p));
          p = close + 2;
          continue;
        }
        // A literal "[", written "\[" below: RE2 would search the rest of
        // the pattern for ":]" again at every such "[:".
        rebuild = true;
      }
      if (c == '\\' && p + 1 < n) {
        const char e = in_[p + 1];
        if (auto sh = shorthand_for(e)) {
          if (!count_unicode_class()) return false;
          shorthands.push_back(*sh);
          p += 2;
          continue;
        }
        if (e == 'v') {
          pos_ = p;
          return fail("\\v is not supported (a vertical tab is written \\x0B)");
        }
        if (e == 'p' || e == 'P') {  // a property never starts a range
          if (!count_unicode_class()) return false;
          const size_t len = escape_length(p);
          members.append(in_.substr(p, len));
          p += len;
          continue;
        }
      }

      // A character, or a range of two. A leading "-", "]", "[" or "^" is
      // escaped, so that the member means the same at any place in a class.
      size_t end = p + class_char_length(p);
      if (end + 1 < n && in_[end] == '-' && in_[end + 1] != ']') {
        const size_t hi = end + 1;
        if (in_[hi] == '\\' && hi + 1 < n && shorthand_for(in_[hi + 1])) {
          pos_ = hi;
          return fail("a range cannot end in a shorthand class");
        }
        end = hi + class_char_length(hi);
      }
      if (c == '-' || c == ']' || c == '[' || c == '^') members.push_back('\\');
      members.append(in_.substr(p, end - p));
      p = end;
    }

    if (shorthands.empty() && !rebuild) {
      copy(p + 1 - pos_);
    } else {
      write_class(negated, members, shorthands);
      pos_ = p + 1;
    }
    return item(0);
  }

  // Writes a class from its members and shorthands. RE2 names each part of a
  // shorthand and its complement, but not the complement of a union of
  // parts, so:
  //  - [X \W]  = X or not-word: the class without \W, or [^ word parts ];
  //  - [^X \W] = word and not X: one class per word part P, [^X \P{P}].
  // A negated class with several negated shorthands takes one class per
  // combination of their parts (at most 4 x 2 x 1). Case folding commutes
  // with all of it, because each part is closed under folding up to
  // characters of another part of the same shorthand.
  void write_class(bool negated, const std::string& members,
                   const std::vector<Shorthand>& shorthands) {
    std::vector<std::string> alternatives;
    if (!negated) {
      std::string base = members;
      for (const Shorthand& sh : shorthands) {
        if (!sh.negated) {
          append_parts(base, sh.parts);
        } else if (sh.parts.size() == 1) {
          base.append(sh.parts[0].complement);
        } else {
          std::string alt = "[^";
          append_parts(alt, sh.parts);
          alt.push_back(']');
          alternatives.push_back(std::move(alt));
        }
      }
      if (!base.empty()) alternatives.insert(alternatives.begin(), "[" + base + "]");
    } else {
      std::string fixed = members;
      std::vector<std::span<const ClassPart>> intersected;
      std::array<bool, 3> seen{};  // one entry per letter d, w, s
      for (const Shorthand& sh : shorthands) {
        if (!sh.negated) {
          append_parts(fixed, sh.parts);
          continue;
        }
        const size_t slot = sh.letter == 'd' ? 0 : sh.letter == 'w' ? 1 : 2;
        if (seen[slot]) continue;
        seen[slot] = true;
        intersected.push_back(sh.parts);
      }
      // Enumerate one part of each intersected shorthand, odometer style.
      std::vector<size_t> choice(intersected.size(), 0);
      for (;;) {
        std::string alt = "[^" + fixed;
        for (size_t i = 0; i < intersected.size(); ++i) {
          alt.append(intersected[i][choice[i]].complement);
        }
        alt.push_back(']');
        alternatives.push_back(std::move(alt));
        size_t i = 0;
        while (i < choice.size() && ++choice[i] == intersected[i].size()) choice[i++] = 0;
        if (i == choice.size()) break;
      }
    }
    if (alternatives.size() == 1) {
      out_.append(alternatives[0]);
      return;
    }
    out_.append("(?:");
    for (size_t i = 0; i < alternatives.size(); ++i) {
      if (i > 0) out_.push_back('|');
      out_.append(alternatives[i]);
    }
    out_.push_back(')');
  }

  // The first ":]" at or after `from`. Calls come with growing `from`, so
  // the previous answer usually still holds and the scan stays linear.
  size_t find_posix_close(size_t from) {
    if (from < posix_search_from_ ||
        (posix_close_ != std::string_view::npos && posix_close_ < from)) {
      posix_close_ = in_.find(":]", from);
    }
    posix_search_from_ = from;
    return posix_close_;
  }

  // ---- Groups.

  bool open_group() {
    if (open_groups() + 1 > static_cast<size_t>(kMaxPatternNesting)) return too_deep();
    const size_t n = in_.size();
    if (pos_ + 1 >= n || in_[pos_ + 1] != '?') {
      copy(1);
      return push_group();
    }
    const size_t p = pos_ + 2;
    const char c = p < n ? in_[p] : '\0';
    const char next = p + 1 < n ? in_[p + 1] : '\0';
    if (c == '=' || c == '!') return fail("look-ahead is not supported");
    if (c == '<' && (next == '=' || next == '!')) return fail("look-behind is not supported");
    if (c == 'P' && next == '=') return fail("back-references are not supported");
    if (c == '<' || (c == 'P' && next == '<')) {
      // A named group: RE2 checks the name, so it is copied as written.
      out_.append("(?P<");
      pos_ = c == '<' ? p + 1 : p + 2;
      const size_t close = in_.find('>', pos_);
      copy(close == std::string_view::npos ? n - pos_ : close + 1 - pos_);
      return push_group();
    }
    size_t q = p;
    while (q < n && is_flag_char(in_[q])) ++q;
    if (q < n && in_[q] == ')') {  // flags for the rest of the enclosing group
      copy(q + 1 - pos_);
      last_.reset();
      return true;
    }
    if (q < n && in_[q] == ':') {
      copy(q + 1 - pos_);
      return push_group();
    }
    // Some other "(?" construct: RE2 rejects it with its own message.
    copy(2);
    return push_group();
  }

  bool push_group() {
    frames_.push_back(0);
    last_.reset();
    return true;
  }

  bool close_group() {
    copy(1);
    if (open_groups() == 0) {  // unmatched: RE2 reports it
      last_.reset();
      return true;
    }
    const int height = frames_.back() + 1;
    frames_.pop_back();
    return item(height);
  }

  // ---- Repetitions.

  bool brace() {
    const size_t n = in_.size();
    size_t p = pos_ + 1;
    auto blanks = [&] {
      bool any = false;
      while (p < n && (in_[p] == ' ' || in_[p] == '\t')) {
        ++p;
        any = true;
      }
      return any;
    };
    auto digits = [&] {
      const size_t start = p;
      while (p < n && is_digit(in_[p])) ++p;
      return in_.substr(start, p - start);
    };
    bool spaced = blanks();
    const std::string_view lo = digits();
    spaced = blanks() || spaced;
    std::string_view hi;
    if (p < n && in_[p] == ',') {
      ++p;
      spaced = blanks() || spaced;
      hi = digits();
      spaced = blanks() || spaced;
    }
    Brace kind = Brace::kLiteral;
    if (p < n && in_[p] == '}' && (!lo.empty() || !hi.empty())) {
      auto plain = [](std::string_view d) {
        return d.size() < 2 || d[0] != '0';
      };
      kind = (!spaced && !lo.empty() && plain(lo) && plain(hi)) ? Brace::kCount
                                                                  : Brace::kForeignCount;
      if (kind == Brace::kCount && (too_big(lo) || too_big(hi))) {
        return fail("a counted repetition may not exceed 1000");
      }
    }
    switch (kind) {
      case Brace::kLiteral:
        copy(1);
        return item(0);
      case Brace::kForeignCount:
        return fail(
            "write a counted repetition as {n}, {n,} or {n,m}, without blanks or "
            "leading zeros (a literal brace is written \\{)");
      case Brace::kCount:
        copy(p + 1 - pos_);
        return repeat();
    }
    return true;
  }

  static bool too_big(std::string_view d) {
    if (d.size() > 4) return true;
    int v = 0;
    for (char c : d) v = v * 10 + (c - '0');
    return v > kMaxRepeatCount;
  }

  // A repetition operator was just copied; a "?" right after it makes it lazy.
  bool repeat() {
    if (pos_ < in_.size() && in_[pos_] == '?') copy(1);
    if (!last_) return true;  // no operand: RE2 reports it
    return item(*last_ + 1);
  }

  // ---- Bookkeeping.

  size_t open_groups() const { return frames_.size() - 1; }

  // Records an operand of the given height (its own depth of groups and
  // repetitions) at the current point.
  bool item(int height) {
    last_ = height;
    frames_.back() = std::max(frames_.back(), height);
    if (static_cast<size_t>(height) + open_groups() > static_cast<size_t>(kMaxPatternNesting)) {
      return too_deep();
    }
    return true;
  }

  bool count_unicode_class() {
    if (++unicode_classes_ <= kMaxPatternUnicodeClasses) return true;
    return fail("more than " + std::to_string(kMaxPatternUnicodeClasses) +
                " Unicode classes (\\d, \\w, \\s, \\p{..} and their negations)");
  }

  bool too_deep() {
    return fail("groups and repetitions nest deeper than " + std::to_string(kMaxPatternNesting) +
                " levels");
  }

  void copy(size_t len) {
    len = std::min(len, in_.size() - pos_);
    out_.append(in_.substr(pos_, len));
    pos_ += len;
  }

  bool fail(const std::string& message) {
    error_ = message + " (at byte " + std::to_string(pos_) + ")";
    return false;
  }

  std::string_view in_;
  size_t pos_ = 0;
  std::string out_;
  std::string error_;
  // Deepest operand so far inside each open group; the first entry is the
  // whole pattern.
  std::vector<int> frames_;
  // Height of the operand a repetition operator would apply to, if any.
  std::optional<int> last_;
  int unicode_classes_ = 0;
  // Last answer of find_posix_close and the position it was asked for.
  size_t posix_close_ = std::string_view::npos;
  size_t posix_search_from_ = std::string_view::npos;
};

}  // namespace

Result<std::string, std::string> translate_pattern(std::string_view pattern) {
  return Translator(pattern).run();
}

Result<std::unique_ptr<const re2::RE2>, std::string> compile_pattern(std::string_view pattern) {
  auto translated = translate_pattern(pattern);
  if (!translated.ok()) return Err(translated.error());
  re2::RE2::Options options;
  options.set_encoding(re2::RE2::Options::EncodingUTF8);
  options.set_posix_syntax(false);
  options.set_longest_match(false);
  options.set_log_errors(false);
  options.set_max_mem(kEngineMaxMem);
  options.set_literal(false);
  options.set_never_nl(false);
  options.set_dot_nl(false);
  options.set_never_capture(false);
  options.set_case_sensitive(true);
  auto re = std::make_unique<const re2::RE2>(translated.value(), options);
  if (re->error_code() == re2::RE2::ErrorPatternTooLarge) {
    return Err("the compiled pattern would exceed " + std::to_string(kMaxPatternProgramBytes) +
               " bytes");
  }
  if (!re->ok()) return Err(re->error());
  return std::unique_ptr<const re2::RE2>(std::move(re));
}

}  // namespace quorvel::policy
