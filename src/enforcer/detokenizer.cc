#include "enforcer/detokenizer.h"

#include <cstring>
#include <string>
#include <vector>

namespace quorvel::enforcer {
namespace {

bool is_type_char(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }
bool is_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Length of the token starting with the "<" at `p`, or 0.
size_t token_length_at(std::string_view s, size_t p, bool want_signed) {
  size_t i = p + 1;
  const size_t type_start = i;
  while (i < s.size() && is_type_char(s[i])) ++i;
  if (i == type_start || i >= s.size() || s[i] != ':') return 0;
  ++i;
  if (s.size() - i < 9) return 0;
  for (size_t k = 0; k < 8; ++k) {
    if (!is_hex(s[i + k])) return 0;
  }
  i += 8;
  if (!want_signed) return s[i] == '>' ? i + 1 - p : 0;
  if (s.size() - i < 5 || s[i] != '-' || !is_digit(s[i + 1]) || !is_digit(s[i + 2]) ||
      !is_digit(s[i + 3]) || s[i + 4] != '>') {
    return 0;
  }
  return i + 5 - p;
}

// Replaces every non-overlapping occurrence of `from`, left to right.
void replace_all(std::string& w, std::string_view from, std::string_view to) {
  size_t p = w.find(from);
  if (p == std::string::npos) return;
  std::string out;
  out.reserve(w.size());
  size_t pos = 0;
  while (p != std::string::npos) {
    out.append(w, pos, p - pos).append(to);
    pos = p + from.size();
    p = w.find(from, pos);
  }
  out.append(w, pos, std::string::npos);
  w.swap(out);
}

bool is_bare_value(std::string_view s) {
  if (s.size() != 8) return false;
  for (char c : s) {
    if (!is_hex(c)) return false;
  }
  return true;
}

}  // namespace

TokenMatch find_token(std::string_view text, size_t from, bool want_signed) {
  while (from < text.size()) {
    const void* lt = std::memchr(text.data() + from, '<', text.size() - from);
    if (lt == nullptr) break;
    const size_t p = static_cast<size_t>(static_cast<const char*>(lt) - text.data());
    const size_t len = token_length_at(text, p, want_signed);
    if (len != 0) return {p, p + len};
    from = p + 1;
  }
  return {};
}

std::string_view detokenize_string(std::string_view text, const vault::TokenVault& vault,
                                   bool signed_tokens, DetokenizeStats& stats,
                                   json::Arena& arena) {
  if (is_bare_value(text)) {
    if (auto m = vault.find_by_value(text)) {
      ++stats.count;
      stats.names.add(m->pii_type);
      return arena.copy(m->original_value);
    }
    return text;
  }
  if (std::memchr(text.data(), '<', text.size()) == nullptr) return text;

  std::string w;
  bool changed = false;
  auto working = [&]() -> std::string& {
    if (!changed) {
      w.assign(text);
      changed = true;
    }
    return w;
  };

  if (signed_tokens) {
    // Matches come from the text as received; replacements go to the working
    // copy.
    for (TokenMatch m = find_token(text, 0, true); m.start != std::string_view::npos;
         m = find_token(text, m.end, true)) {
      const std::string_view token = text.substr(m.start, m.end - m.start);
      std::string key(token.substr(0, token.size() - 5));
      key.push_back('>');
      auto mapping = vault.get(key);
      if (!mapping) continue;
      replace_all(working(), token, mapping->original_value);
      stats.names.add(mapping->pii_type);
      ++stats.count;
    }
  }

  // The unsigned pass scans completely before it replaces anything.
  const std::string_view scanned = changed ? std::string_view(w) : text;
  struct Found {
    std::string token;
    vault::TokenMapping mapping;
  };
  std::vector<Found> found;
  for (TokenMatch m = find_token(scanned, 0, false); m.start != std::string_view::npos;
       m = find_token(scanned, m.end, false)) {
    const std::string_view token = scanned.substr(m.start, m.end - m.start);
    if (auto mapping = vault.get(token)) found.push_back({std::string(token), std::move(*mapping)});
  }
  for (const Found& f : found) {
    replace_all(working(), f.token, f.mapping.original_value);
    stats.names.add(f.mapping.pii_type);
    ++stats.count;
  }
  if (!changed) return text;
  return arena.copy(w);
}

void detokenize(json::Value& value, const vault::TokenVault& vault, bool signed_tokens,
                DetokenizeStats& stats, json::Arena& arena) {
  switch (value.kind) {
    case json::Kind::kString: {
      const std::string_view s = detokenize_string(value.string(), vault, signed_tokens, stats, arena);
      if (s.data() != value.chars || s.size() != value.size) value = json::Value::make_string(s);
      return;
    }
    case json::Kind::kArray:
      for (json::Value& item : value.array()) detokenize(item, vault, signed_tokens, stats, arena);
      return;
    case json::Kind::kObject:
      for (json::Member& m : value.object()) detokenize(m.value, vault, signed_tokens, stats, arena);
      return;
    default:
      return;
  }
}

}  // namespace quorvel::enforcer
