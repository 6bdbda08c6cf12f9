#include "policy/required_bytes.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace quorvel::policy {
namespace {

// Every byte that can start a multi-byte UTF-8 character.
ByteSet non_ascii_leads() {
  ByteSet s;
  for (int b = 0xC2; b <= 0xF4; ++b) s.set(static_cast<size_t>(b));
  return s;
}

ByteSet range(int lo, int hi) {
  ByteSet s;
  for (int b = lo; b <= hi; ++b) s.set(static_cast<size_t>(b));
  return s;
}

ByteSet ascii_letters() { return range('a', 'z') | range('A', 'Z'); }

// Commonness of a set in ordinary text: sets holding letters, spaces or
// sentence punctuation pass almost every string, so a concatenation
// prefers its rarest part.
int byte_weight(size_t b) {
  if (b == ' ') return 60;
  if (b >= 'a' && b <= 'z') return 40;
  if (b == '.' || b == ',') return 40;
  if (b >= 'A' && b <= 'Z') return 10;
  if (b == '-' || b == '\'' || b == '"' || b == '\n') return 10;
  if (b == '(' || b == ')' || b == ':' || b == ';' || b == '!' || b == '?') return 8;
  if (b >= '0' && b <= '9') return 3;
  return b < 0x80 ? 1 : 0;
}

int cost(const ByteSet& s) {
  int c = 0;
  for (size_t b = 0; b < 256; ++b) c += s.test(b) ? byte_weight(b) : 0;
  return c;
}

// The result for one sub-expression: `required` is empty when it may match
// the empty text (or its bytes are not known).
struct Node {
  std::optional<ByteSet> required;
};

class Analyzer {
 public:
  explicit Analyzer(std::string_view p) : p_(p) {}

  std::optional<ByteSet> run() {
    Node n = alternation();
    if (failed_ || pos_ != p_.size()) return std::nullopt;
    return n.required;
  }

 private:
  bool at_end() const { return pos_ >= p_.size(); }
  char peek() const { return p_[pos_]; }

  Node alternation() {
    Node acc = concatenation();
    while (!failed_ && !at_end() && peek() == '|') {
      ++pos_;
      Node next = concatenation();
      if (!acc.required || !next.required) {
        acc.required.reset();
      } else {
        *acc.required |= *next.required;
      }
    }
    return acc;
  }

  Node concatenation() {
    std::optional<ByteSet> best;
    while (!failed_ && !at_end() && peek() != '|' && peek() != ')') {
      Node atom_node = atom();
      if (failed_) break;
      atom_node = quantified(atom_node);
      if (atom_node.required && (!best || cost(*atom_node.required) < cost(*best))) {
        best = atom_node.required;
      }
    }
    return Node{best};
  }

  Node quantified(Node n) {
    while (!at_end()) {
      const char c = peek();
      if (c == '*' || c == '?') {
        ++pos_;
        n.required.reset();
      } else if (c == '+') {
        ++pos_;
      } else if (c == '{') {
        const size_t save = pos_;
        ++pos_;
        const size_t digits_start = pos_;
        while (!at_end() && peek() >= '0' && peek() <= '9') ++pos_;
        if (pos_ == digits_start) {
          pos_ = save;  // a "{" that starts no count is a literal
          return n;
        }
        const bool min_zero = p_.substr(digits_start, pos_ - digits_start).find_first_not_of('0') ==
                              std::string_view::npos;
        if (!at_end() && peek() == ',') {
          ++pos_;
          while (!at_end() && peek() >= '0' && peek() <= '9') ++pos_;
        }
        if (at_end() || peek() != '}') {
          pos_ = save;
          return n;
        }
        ++pos_;
        if (min_zero) n.required.reset();
      } else {
        return n;
      }
      if (!at_end() && peek() == '?') ++pos_;  // lazy form
    }
    return n;
  }

  Node literal_byte(unsigned char b) {
    ByteSet s;
    s.set(b);
    if (fold_ && b < 0x80 && ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z'))) {
      s.set(static_cast<size_t>(b ^ 0x20));
      s |= non_ascii_leads();  // Unicode folds such as K and the Kelvin sign
    }
    return Node{s};
  }

  Node atom() {
    const char c = peek();
    switch (c) {
      case '(':
        return group();
      case '[': {
        auto s = bracket_class();
        return Node{s};
      }
      case '.': {
        ++pos_;
        ByteSet s;
        s.set();
        if (!dot_all_) s.reset('\n');
        return Node{s};
      }
      case '^':
      case '$':
        ++pos_;
        return Node{};
      case '\\':
        return escape();
      default: {
        // One UTF-8 character: its first byte is required.
        const auto b = static_cast<unsigned char>(c);
        size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        pos_ += len;
        if (pos_ > p_.size()) failed_ = true;
        return literal_byte(b);
      }
    }
  }

  Node group() {
    ++pos_;  // '('
    if (!at_end() && peek() == '?') {
      ++pos_;
      if (!at_end() && peek() == 'P') {
        ++pos_;
        if (at_end() || peek() != '<') return fail();
        const size_t close = p_.find('>', pos_);
        if (close == std::string_view::npos) return fail();
        pos_ = close + 1;
      } else {
        // Flags: (?flags) or (?flags:...)
        bool negate = false;
        bool fold = fold_, dot_all = dot_all_;
        while (!at_end() && peek() != ')' && peek() != ':') {
          const char f = p_[pos_++];
          if (f == '-') {
            negate = true;
          } else if (f == 'i') {
            fold = !negate;
          } else if (f == 's') {
            dot_all = !negate;
          } else if (f != 'm' && f != 'U') {
            return fail();
          }
        }
        if (at_end()) return fail();
        if (peek() == ')') {
          ++pos_;
          fold_ = fold;
          dot_all_ = dot_all;
          return Node{};
        }
        ++pos_;  // ':'
        return group_body(fold, dot_all);
      }
    }
    return group_body(fold_, dot_all_);
  }

  // The rest of a group up to its ")", read with the given flags; flags set
  // inside end with the group.
  Node group_body(bool fold, bool dot_all) {
    const bool saved_fold = fold_, saved_dot_all = dot_all_;
    fold_ = fold;
    dot_all_ = dot_all;
    Node inner = alternation();
    fold_ = saved_fold;
    dot_all_ = saved_dot_all;
    if (at_end() || peek() != ')') return fail();
    ++pos_;
    return inner;
  }

  Node fail() {
    failed_ = true;
    return Node{};
  }

  // The bytes a \p{Name} class can start with: its ASCII members where the
  // category is known, and every non-ASCII lead byte.
  ByteSet property(std::string_view name, bool negated) {
    ByteSet s = non_ascii_leads();
    if (negated) {
      s.set();
      return s;
    }
    if (name == "Nd" || name == "N") {
      s |= range('0', '9');
    } else if (name == "L" || name == "Lu" || name == "Ll" || name == "Lt") {
      s |= ascii_letters();
    } else if (name == "Pc") {
      s.set('_');
    } else if (name == "Z" || name == "Zs") {
      s.set(' ');
    } else if (name == "M" || name == "Mn" || name == "Mc" || name == "Me" || name == "Lm" ||
               name == "Lo") {
      // no ASCII members
    } else {
      s |= range(0, 0x7F);
    }
    return s;
  }

  // Reads the escape at pos_ (a backslash) inside or outside a class; the
  // bytes its character or class can start with. Sets `zero_width` for
  // assertions.
  std::optional<ByteSet> escape_bytes(bool& zero_width) {
    zero_width = false;
    ++pos_;  // '\'
    if (at_end()) return fail_set();
    const char c = p_[pos_++];
    ByteSet s;
    switch (c) {
      case 'd':
        return range('0', '9') | non_ascii_leads();
      case 'w':
        return ascii_letters() | range('0', '9') | ByteSet().set('_') | non_ascii_leads();
      case 's':
        return range('\t', '\r') | ByteSet().set(' ') | non_ascii_leads();
      case 'D':
      case 'W':
      case 'S':
        return ByteSet().set();
      case 'p':
      case 'P': {
        std::string_view name;
        if (!at_end() && peek() == '{') {
          const size_t close = p_.find('}', pos_);
          if (close == std::string_view::npos) return fail_set();
          name = p_.substr(pos_ + 1, close - pos_ - 1);
          pos_ = close + 1;
        } else if (!at_end()) {
          name = p_.substr(pos_++, 1);
        }
        bool negated = c == 'P';
        if (!name.empty() && name.front() == '^') {
          negated = !negated;
          name.remove_prefix(1);
        }
        ByteSet p = property(name, negated);
        if (fold_) p |= ascii_letters();
        return p;
      }
      case 'b':
      case 'B':
      case 'A':
      case 'z':
        zero_width = true;
        return std::nullopt;
      case 'x': {
        uint32_t cp = 0;
        if (!at_end() && peek() == '{') {
          const size_t close = p_.find('}', pos_);
          if (close == std::string_view::npos) return fail_set();
          for (size_t i = pos_ + 1; i < close; ++i) cp = cp * 16 + hex(p_[i]);
          pos_ = close + 1;
        } else if (pos_ + 2 <= p_.size()) {
          cp = hex(p_[pos_]) * 16 + hex(p_[pos_ + 1]);
          pos_ += 2;
        }
        return code_point(cp);
      }
      case 'n': s.set('\n'); return s;
      case 't': s.set('\t'); return s;
      case 'r': s.set('\r'); return s;
      case 'f': s.set('\f'); return s;
      case 'v': s.set('\v'); return s;
      case 'a': s.set('\a'); return s;
      case 'Q': {
        // A literal span up to \E: its first byte.
        const size_t end = p_.find("\\E", pos_);
        const std::string_view lit = p_.substr(pos_, end == std::string_view::npos ? end : end - pos_);
        pos_ = end == std::string_view::npos ? p_.size() : end + 2;
        if (lit.empty()) {
          zero_width = true;
          return std::nullopt;
        }
        return literal_byte(static_cast<unsigned char>(lit.front())).required;
      }
      default:
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
          return fail_set();  // octal and other escapes: not followed
        }
        return literal_byte(static_cast<unsigned char>(c)).required;
    }
  }

  std::optional<ByteSet> fail_set() {
    failed_ = true;
    return std::nullopt;
  }

  static uint32_t hex(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<uint32_t>(c - 'A' + 10);
    return 0;
  }

  ByteSet code_point(uint32_t cp) {
    if (cp < 0x80) return *literal_byte(static_cast<unsigned char>(cp)).required;
    return non_ascii_leads();
  }

  Node escape() {
    bool zero_width = false;
    auto s = escape_bytes(zero_width);
    if (zero_width || failed_) return Node{};
    return Node{s};
  }

  // One member of a bracket class: a single code point, or a class escape
  // whose bytes go to `set`.
  bool class_member(uint32_t& cp, std::optional<ByteSet>& set) {
    set.reset();
    if (peek() != '\\') {
      const auto b = static_cast<unsigned char>(peek());
      const size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
      pos_ += len;
      cp = b < 0x80 ? b : 0x80;  // only "ASCII or not" matters here
      return pos_ <= p_.size();
    }
    if (pos_ + 1 >= p_.size()) return false;
    const char e = p_[pos_ + 1];
    switch (e) {
      case 'x': {
        pos_ += 2;
        cp = 0;
        if (!at_end() && peek() == '{') {
          const size_t close = p_.find('}', pos_);
          if (close == std::string_view::npos) return false;
          for (size_t i = pos_ + 1; i < close; ++i) cp = std::min<uint32_t>(cp * 16 + hex(p_[i]), 0x110000);
          pos_ = close + 1;
        } else {
          if (pos_ + 2 > p_.size()) return false;
          cp = hex(p_[pos_]) * 16 + hex(p_[pos_ + 1]);
          pos_ += 2;
        }
        return true;
      }
      case 'n': cp = '\n'; pos_ += 2; return true;
      case 't': cp = '\t'; pos_ += 2; return true;
      case 'r': cp = '\r'; pos_ += 2; return true;
      case 'f': cp = '\f'; pos_ += 2; return true;
      case 'v': cp = '\v'; pos_ += 2; return true;
      case 'a': cp = '\a'; pos_ += 2; return true;
      case 'd': case 'w': case 's': case 'D': case 'W': case 'S': case 'p': case 'P': {
        bool zero_width = false;
        set = escape_bytes(zero_width);
        return !failed_ && set.has_value();
      }
      default:
        if (std::isalnum(static_cast<unsigned char>(e))) return false;
        cp = static_cast<unsigned char>(e);
        pos_ += 2;
        return true;
    }
  }

  // The bytes the code points lo..hi start with, folded when (?i) is on.
  ByteSet span(uint32_t lo, uint32_t hi) const {
    ByteSet r;
    if (lo < 0x80) r |= range(static_cast<int>(lo), static_cast<int>(std::min<uint32_t>(hi, 0x7F)));
    if (hi >= 0x80) r |= non_ascii_leads();
    if (fold_) {
      for (int b = 'a'; b <= 'z'; ++b) {
        if (r.test(static_cast<size_t>(b)) || r.test(static_cast<size_t>(b - 32))) {
          r.set(static_cast<size_t>(b));
          r.set(static_cast<size_t>(b - 32));
        }
      }
      r |= non_ascii_leads();
    }
    return r;
  }

  // [...] or [^...]: the bytes its members can start with.
  std::optional<ByteSet> bracket_class() {
    ++pos_;  // '['
    bool negated = false;
    if (!at_end() && peek() == '^') {
      negated = true;
      ++pos_;
    }
    ByteSet members;
    bool first = true;
    while (!at_end() && (peek() != ']' || first)) {
      first = false;
      if (p_.substr(pos_, 2) == "[:") {
        const size_t close = p_.find(":]", pos_ + 2);
        if (close == std::string_view::npos) return fail_set();
        members |= range(0, 0x7F);  // POSIX classes are ASCII
        pos_ = close + 2;
        continue;
      }
      uint32_t lo = 0;
      std::optional<ByteSet> lo_set;
      if (!class_member(lo, lo_set)) return fail_set();
      if (lo_set) {
        members |= *lo_set;
        continue;
      }
      uint32_t hi = lo;
      if (pos_ + 1 < p_.size() && peek() == '-' && p_[pos_ + 1] != ']') {
        ++pos_;
        std::optional<ByteSet> hi_set;
        if (!class_member(hi, hi_set) || hi_set) return fail_set();
      }
      members |= span(lo, hi);
    }
    if (at_end()) return fail_set();
    ++pos_;  // ']'
    if (!negated) return members;
    // A negated class can start with any byte but its ASCII members.
    ByteSet s;
    s.set();
    if (!fold_) {
      for (size_t b = 0; b < 0x80; ++b) {
        if (members.test(b)) s.reset(b);
      }
    }
    return s;
  }

  std::string_view p_;
  size_t pos_ = 0;
  bool failed_ = false;
  bool fold_ = false;
  bool dot_all_ = false;
};

}  // namespace

std::optional<ByteSet> required_bytes(std::string_view re2_pattern) {
  return Analyzer(re2_pattern).run();
}

}  // namespace quorvel::policy
