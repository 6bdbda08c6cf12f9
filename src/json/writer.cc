#include "json/writer.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "json/string_scan.h"
#include "util/fatal.h"

namespace quorvel::json {

Writer::~Writer() { std::free(data_); }

void Writer::reserve(size_t capacity) {
  if (capacity <= capacity_) return;
  data_ = static_cast<char*>(checked_realloc(data_, capacity));
  capacity_ = capacity;
}

void Writer::grow(size_t extra) {
  size_t cap = capacity_ < 256 ? 256 : capacity_;
  while (cap - size_ < extra) cap *= 2;
  reserve(cap);
}

char* Writer::release() {
  raw('\0');
  char* out = data_;
  data_ = nullptr;
  size_ = capacity_ = 0;
  return out;
}

void Writer::string(std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  const char* p = s.data();
  const char* end = p + s.size();
  const char* q = find_string_special(p, end);
  if (q == end) {
    // The common case: nothing to escape, one capacity check.
    if (capacity_ - size_ < s.size() + 2) grow(s.size() + 2);
    char* w = data_ + size_;
    *w++ = '"';
    if (!s.empty()) std::memcpy(w, p, s.size());
    w[s.size()] = '"';
    size_ += s.size() + 2;
    return;
  }
  raw('"');
  while (true) {
    append(p, static_cast<size_t>(q - p));
    if (q == end) break;
    const auto c = static_cast<unsigned char>(*q);
    switch (c) {
      case '"': append("\\\"", 2); break;
      case '\\': append("\\\\", 2); break;
      case '\b': append("\\b", 2); break;
      case '\t': append("\\t", 2); break;
      case '\n': append("\\n", 2); break;
      case '\f': append("\\f", 2); break;
      case '\r': append("\\r", 2); break;
      default: {
        const char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        append(esc, 6);
      }
    }
    p = q + 1;
    q = find_string_special(p, end);
  }
  raw('"');
}

void Writer::uint(uint64_t u) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, u);
  append(buf, static_cast<size_t>(r.ptr - buf));
}

void Writer::int64(int64_t i) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, i);
  append(buf, static_cast<size_t>(r.ptr - buf));
}

void Writer::number(double d) {
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  size_t n = static_cast<size_t>(r.ptr - buf);
  // The shortest form of an integral double ("100") would read back as an
  // integer; a fraction keeps it a double.
  if (std::memchr(buf, '.', n) == nullptr && std::memchr(buf, 'e', n) == nullptr) {
    buf[n++] = '.';
    buf[n++] = '0';
  }
  append(buf, n);
}

void Writer::value(const Value& v) {
  switch (v.kind) {
    case Kind::kNull:
      append("null", 4);
      return;
    case Kind::kBool:
      if (v.boolean) {
        append("true", 4);
      } else {
        append("false", 5);
      }
      return;
    case Kind::kUint:
      uint(v.uint_value);
      return;
    case Kind::kInt:
      int64(v.int_value);
      return;
    case Kind::kDouble:
      number(v.double_value);
      return;
    case Kind::kString:
      string(v.string());
      return;
    case Kind::kArray: {
      raw('[');
      bool first = true;
      for (const Value& item : v.array()) {
        if (!first) raw(',');
        first = false;
        value(item);
      }
      raw(']');
      return;
    }
    case Kind::kObject: {
      raw('{');
      bool first = true;
      for (const Member& m : v.object()) {
        if (!first) raw(',');
        first = false;
        string(m.key);
        raw(':');
        value(m.value);
      }
      raw('}');
      return;
    }
  }
}

std::string to_json(const Value& v) {
  Writer w;
  w.value(v);
  return std::string(w.view());
}

}  // namespace quorvel::json
