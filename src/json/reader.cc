#include "json/reader.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <vector>

#include "json/string_scan.h"
#include "util/utf8.h"

namespace quorvel::json {
namespace {

bool is_ws(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(char*& out, uint32_t cp) {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void sort_members(Member* m, size_t n) {
  auto less = [](const Member& a, const Member& b) { return a.key < b.key; };
  if (std::is_sorted(m, m + n, less)) return;
  if (n <= 16) {
    for (size_t i = 1; i < n; ++i) {
      Member x = m[i];
      size_t j = i;
      while (j > 0 && x.key < m[j - 1].key) {
        m[j] = m[j - 1];
        --j;
      }
      m[j] = x;
    }
  } else {
    std::stable_sort(m, m + n, less);
  }
}

class Parser {
 public:
  Parser(std::string_view text, Arena& arena)
      : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()), arena_(arena) {}

  Result<Value, ParseError> run() {
    if (!is_valid_utf8(begin_, static_cast<size_t>(end_ - begin_))) {
      return fail_at(first_invalid_utf8(), "invalid UTF-8");
    }
    skip_ws();
    Value v;
    if (!parse_value(v, 0)) return error();
    skip_ws();
    if (p_ != end_) return fail_at(p_, "unexpected character after the JSON value");
    return v;
  }

 private:
  const char* first_invalid_utf8() const {
    const auto* p = reinterpret_cast<const unsigned char*>(begin_);
    const auto* e = reinterpret_cast<const unsigned char*>(end_);
    while (p < e) {
      const size_t n = utf8_sequence_length(p, e);
      if (n == 0) break;
      p += n;
    }
    return reinterpret_cast<const char*>(p);
  }

  Err<ParseError> error() { return Err(std::move(error_)); }

  Err<ParseError> fail_at(const char* where, const char* message) {
    set_error(where, message);
    return error();
  }

  bool set_error(const char* where, const char* message) {
    size_t line = 1;
    const char* line_start = begin_;
    for (const char* q = begin_; q < where; ++q) {
      if (*q == '\n') {
        ++line;
        line_start = q + 1;
      }
    }
    error_.message = message;
    error_.line = line;
    error_.column = static_cast<size_t>(where - line_start) + 1;
    error_.offset = static_cast<size_t>(where - begin_);
    return false;
  }

  void skip_ws() {
    while (p_ < end_ && is_ws(*p_)) ++p_;
  }

  bool literal(std::string_view word) {
    if (static_cast<size_t>(end_ - p_) < word.size() ||
        std::memcmp(p_, word.data(), word.size()) != 0) {
      return set_error(p_, "invalid literal");
    }
    p_ += word.size();
    return true;
  }

  bool parse_value(Value& out, int depth) {
    if (p_ == end_) return set_error(p_, "unexpected end of text");
    switch (*p_) {
      case '{':
        return parse_object(out, depth + 1);
      case '[':
        return parse_array(out, depth + 1);
      case '"': {
        std::string_view s;
        if (!parse_string(s)) return false;
        out = Value::make_string(s);
        return true;
      }
      case 't':
        if (!literal("true")) return false;
        out = Value::make_bool(true);
        return true;
      case 'f':
        if (!literal("false")) return false;
        out = Value::make_bool(false);
        return true;
      case 'n':
        if (!literal("null")) return false;
        out = Value::null();
        return true;
      default:
        if (*p_ == '-' || (*p_ >= '0' && *p_ <= '9')) return parse_number(out);
        return set_error(p_, "unexpected character");
    }
  }

  bool parse_array(Value& out, int depth) {
    if (depth > kMaxDepth) return set_error(p_, "nesting deeper than 127 levels");
    ++p_;  // '['
    const size_t base = items_.size();
    skip_ws();
    if (p_ < end_ && *p_ == ']') {
      ++p_;
      out = Value::make_array(nullptr, 0);
      return true;
    }
    while (true) {
      Value v;
      if (!parse_value(v, depth)) return false;
      items_.push_back(v);
      skip_ws();
      if (p_ == end_) return set_error(p_, "unterminated array");
      if (*p_ == ',') {
        ++p_;
        skip_ws();
        continue;
      }
      if (*p_ == ']') {
        ++p_;
        break;
      }
      return set_error(p_, "expected ',' or ']'");
    }
    const size_t n = items_.size() - base;
    Value* items = arena_.allocate_array<Value>(n);
    std::copy(items_.begin() + static_cast<ptrdiff_t>(base), items_.end(), items);
    items_.resize(base);
    out = Value::make_array(items, n);
    return true;
  }

  bool parse_object(Value& out, int depth) {
    if (depth > kMaxDepth) return set_error(p_, "nesting deeper than 127 levels");
    ++p_;  // '{'
    const size_t base = members_.size();
    skip_ws();
    if (p_ < end_ && *p_ == '}') {
      ++p_;
      out = Value::make_object(nullptr, 0);
      return true;
    }
    while (true) {
      if (p_ == end_ || *p_ != '"') return set_error(p_, "expected a string key");
      Member m;
      if (!parse_string(m.key)) return false;
      skip_ws();
      if (p_ == end_ || *p_ != ':') return set_error(p_, "expected ':'");
      ++p_;
      skip_ws();
      if (!parse_value(m.value, depth)) return false;
      members_.push_back(m);
      skip_ws();
      if (p_ == end_) return set_error(p_, "unterminated object");
      if (*p_ == ',') {
        ++p_;
        skip_ws();
        continue;
      }
      if (*p_ == '}') {
        ++p_;
        break;
      }
      return set_error(p_, "expected ',' or '}'");
    }
    Member* first = members_.data() + base;
    size_t n = members_.size() - base;
    sort_members(first, n);
    // Equal keys sit next to each other in parse order; the last one wins.
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
      if (i + 1 < n && first[i].key == first[i + 1].key) continue;
      first[kept++] = first[i];
    }
    Member* members = arena_.allocate_array<Member>(kept);
    std::copy(first, first + kept, members);
    members_.resize(base);
    out = Value::make_object(members, kept);
    return true;
  }

  bool parse_string(std::string_view& out) {
    const char* start = ++p_;  // after the opening quote
    const char* q = find_string_special(start, end_);
    if (q < end_ && *q == '"') {
      out = std::string_view(start, static_cast<size_t>(q - start));
      p_ = q + 1;
      return true;
    }
    // Escapes (or an error): find the closing quote, then decode into the arena.
    const char* scan = q;
    while (true) {
      if (scan >= end_) return set_error(scan, "unterminated string");
      const char c = *scan;
      if (c == '"') break;
      if (static_cast<unsigned char>(c) < 0x20) return set_error(scan, "control character in string");
      if (c == '\\') {
        if (scan + 1 >= end_) return set_error(scan, "unterminated string");
        scan += 2;
      } else {
        ++scan;
      }
      scan = find_string_special(scan, end_);
    }
    char* buf = static_cast<char*>(arena_.allocate(static_cast<size_t>(scan - start), 1));
    char* w = buf;
    const char* r = start;
    while (r < scan) {
      const char* s = find_string_special(r, scan);
      std::memcpy(w, r, static_cast<size_t>(s - r));
      w += s - r;
      r = s;
      if (r == scan) break;
      // *r is a backslash: control characters were ruled out above.
      const char e = r[1];
      r += 2;
      switch (e) {
        case '"': *w++ = '"'; break;
        case '\\': *w++ = '\\'; break;
        case '/': *w++ = '/'; break;
        case 'b': *w++ = '\b'; break;
        case 'f': *w++ = '\f'; break;
        case 'n': *w++ = '\n'; break;
        case 'r': *w++ = '\r'; break;
        case 't': *w++ = '\t'; break;
        case 'u': {
          uint32_t cp = 0;
          if (!read_hex4(r, scan, cp)) return set_error(r - 2, "invalid \\u escape");
          r += 4;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t lo = 0;
            if (scan - r < 6 || r[0] != '\\' || r[1] != 'u' || !read_hex4(r + 2, scan, lo) ||
                lo < 0xDC00 || lo > 0xDFFF) {
              return set_error(r - 6, "unpaired surrogate in \\u escape");
            }
            r += 6;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return set_error(r - 6, "unpaired surrogate in \\u escape");
          }
          append_utf8(w, cp);
          break;
        }
        default:
          return set_error(r - 2, "invalid escape");
      }
    }
    out = std::string_view(buf, static_cast<size_t>(w - buf));
    p_ = scan + 1;
    return true;
  }

  static bool read_hex4(const char* r, const char* end, uint32_t& cp) {
    if (end - r < 4) return false;
    cp = 0;
    for (int i = 0; i < 4; ++i) {
      const int d = hex_digit(r[i]);
      if (d < 0) return false;
      cp = cp << 4 | static_cast<uint32_t>(d);
    }
    return true;
  }

  bool parse_number(Value& out) {
    const char* start = p_;
    const char* q = p_;
    const bool negative = *q == '-';
    if (negative) ++q;
    if (q == end_ || !(*q >= '0' && *q <= '9')) return set_error(q, "invalid number");
    if (*q == '0') {
      ++q;
    } else {
      while (q < end_ && *q >= '0' && *q <= '9') ++q;
    }
    const char* int_end = q;
    bool is_integer = true;
    if (q < end_ && *q == '.') {
      is_integer = false;
      ++q;
      if (q == end_ || !(*q >= '0' && *q <= '9')) return set_error(q, "invalid number");
      while (q < end_ && *q >= '0' && *q <= '9') ++q;
    }
    if (q < end_ && (*q == 'e' || *q == 'E')) {
      is_integer = false;
      ++q;
      if (q < end_ && (*q == '+' || *q == '-')) ++q;
      if (q == end_ || !(*q >= '0' && *q <= '9')) return set_error(q, "invalid number");
      while (q < end_ && *q >= '0' && *q <= '9') ++q;
    }
    p_ = q;
    if (is_integer) {
      const char* digits = negative ? start + 1 : start;
      uint64_t magnitude = 0;
      auto [ptr, ec] = std::from_chars(digits, int_end, magnitude);
      if (ec == std::errc() && ptr == int_end) {
        if (!negative) {
          out = Value::make_uint(magnitude);
          return true;
        }
        if (magnitude != 0 && magnitude <= uint64_t{1} << 63) {
          out = Value::make_int(static_cast<int64_t>(0 - magnitude));
          return true;
        }
      }
      // Negative zero and integers beyond 64 bits are held as doubles.
    }
    double d = 0;
    auto [ptr, ec] = std::from_chars(start, q, d);
    if (ec == std::errc::result_out_of_range) {
      if (overflows(start, q)) return set_error(start, "number too large for a double");
      d = negative ? -0.0 : 0.0;  // underflow rounds to zero
    } else if (ec != std::errc() || ptr != q) {
      return set_error(start, "invalid number");
    }
    out = Value::make_double(d);
    return true;
  }

  // Whether an out-of-range number is too large (rather than too small): its
  // decimal exponent, counted from the first significant digit, is positive.
  static bool overflows(const char* s, const char* e) {
    if (*s == '-') ++s;
    int64_t lead = 0;  // position of the first non-zero digit relative to the point
    bool seen_point = false;
    bool found = false;
    int64_t int_digits = 0;
    const char* q = s;
    for (; q < e && *q != 'e' && *q != 'E'; ++q) {
      if (*q == '.') {
        seen_point = true;
        continue;
      }
      if (!seen_point) ++int_digits;
      if (!found && *q != '0') {
        found = true;
        lead = seen_point ? -(static_cast<int64_t>(q - s) - int_digits) : int_digits;
      }
    }
    int64_t exp = 0;
    if (q < e) {
      ++q;
      bool neg = false;
      if (*q == '+' || *q == '-') neg = *q++ == '-';
      for (; q < e; ++q) {
        exp = std::min<int64_t>(exp * 10 + (*q - '0'), int64_t{1} << 40);
      }
      if (neg) exp = -exp;
    }
    return lead + exp > 0;
  }

  const char* begin_;
  const char* p_;
  const char* end_;
  Arena& arena_;
  ParseError error_;
  std::vector<Value> items_;
  std::vector<Member> members_;
};

}  // namespace

Result<Value, ParseError> parse(std::string_view text, Arena& arena) {
  Parser parser(text, arena);
  return parser.run();
}

}  // namespace quorvel::json
