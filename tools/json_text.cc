#include "json_text.h"

#include <cstdint>

namespace quorvel::tools {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

size_t skip_space(std::string_view s, size_t i) {
  while (i < s.size() && is_space(s[i])) ++i;
  return i;
}

// End of the string literal that opens at `i`.
size_t string_end(std::string_view s, size_t i) {
  for (++i; i < s.size(); ++i) {
    if (s[i] == '\\') {
      ++i;
    } else if (s[i] == '"') {
      return i + 1;
    }
  }
  return s.size();
}

// End of the value that starts at `i`.
size_t value_end(std::string_view s, size_t i) {
  if (i >= s.size()) return i;
  if (s[i] == '"') return string_end(s, i);
  if (s[i] == '{' || s[i] == '[') {
    int depth = 0;
    while (i < s.size()) {
      const char c = s[i];
      if (c == '"') {
        i = string_end(s, i);
        continue;
      }
      if (c == '{' || c == '[') ++depth;
      if (c == '}' || c == ']') {
        if (--depth == 0) return i + 1;
      }
      ++i;
    }
    return i;
  }
  while (i < s.size() && !is_space(s[i]) && s[i] != ',' && s[i] != '}' && s[i] != ']') ++i;
  return i;
}

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::optional<uint32_t> hex4(std::string_view s, size_t i) {
  if (i + 4 > s.size()) return std::nullopt;
  uint32_t v = 0;
  for (size_t k = i; k < i + 4; ++k) {
    const char c = s[k];
    v <<= 4;
    if (c >= '0' && c <= '9') {
      v |= static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      v |= static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      v |= static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
  }
  return v;
}

}  // namespace

std::string pretty_json(std::string_view json) {
  std::string out;
  out.reserve(json.size() * 2);
  int depth = 0;
  auto newline = [&] {
    out += '\n';
    out.append(static_cast<size_t>(depth) * 2, ' ');
  };
  size_t i = skip_space(json, 0);
  while (i < json.size()) {
    const char c = json[i];
    if (c == '"') {
      const size_t end = string_end(json, i);
      out.append(json.substr(i, end - i));
      i = end;
      continue;
    }
    if (c == '{' || c == '[') {
      const size_t next = skip_space(json, i + 1);
      if (next < json.size() && (json[next] == '}' || json[next] == ']')) {
        out += c;
        out += json[next];
        i = next + 1;
        continue;
      }
      out += c;
      ++depth;
      newline();
      i = next;
      continue;
    }
    if (c == '}' || c == ']') {
      --depth;
      newline();
      out += c;
    } else if (c == ',') {
      out += ',';
      newline();
    } else if (c == ':') {
      out += ": ";
    } else if (!is_space(c)) {
      out += c;
    }
    ++i;
  }
  return out;
}

std::optional<std::string_view> member_text(std::string_view object, std::string_view key) {
  size_t i = skip_space(object, 0);
  if (i >= object.size() || object[i] != '{') return std::nullopt;
  i = skip_space(object, i + 1);
  while (i < object.size() && object[i] == '"') {
    const size_t key_end = string_end(object, i);
    const std::string_view written = object.substr(i + 1, key_end - i - 2);
    i = skip_space(object, key_end);
    if (i >= object.size() || object[i] != ':') return std::nullopt;
    i = skip_space(object, i + 1);
    const size_t end = value_end(object, i);
    if (written == key) return object.substr(i, end - i);
    i = skip_space(object, end);
    if (i >= object.size() || object[i] != ',') return std::nullopt;
    i = skip_space(object, i + 1);
  }
  return std::nullopt;
}

std::optional<std::string> string_content(std::string_view literal) {
  if (literal.size() < 2 || literal.front() != '"' || literal.back() != '"') return std::nullopt;
  const std::string_view s = literal.substr(1, literal.size() - 2);
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (++i >= s.size()) return std::nullopt;
    switch (s[i]) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case '/': out += '/'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': {
        auto cp = hex4(s, i + 1);
        if (!cp) return std::nullopt;
        i += 4;
        // A high surrogate followed by an escaped low one is one character.
        if (*cp >= 0xD800 && *cp <= 0xDBFF && i + 2 < s.size() && s[i + 1] == '\\' &&
            s[i + 2] == 'u') {
          if (auto low = hex4(s, i + 3); low && *low >= 0xDC00 && *low <= 0xDFFF) {
            *cp = 0x10000 + ((*cp - 0xD800) << 10) + (*low - 0xDC00);
            i += 6;
          }
        }
        append_utf8(out, *cp);
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return out;
}

}  // namespace quorvel::tools
