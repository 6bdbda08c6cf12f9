#include "pipeline/masker.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "pipeline/tokens.h"
#include "util/utf8.h"

namespace quorvel::pipeline {
namespace {

struct Candidate {
  int pattern;
  size_t start;
  size_t end;
};

// Every non-overlapping leftmost-first match of `re` in `text`, in order.
// Empty matches are never candidates; after one the search moves on by one
// character.
void find_all(const re2::RE2& re, int pattern, std::string_view text,
              std::vector<Candidate>& out) {
  const re2::StringPiece piece(text.data(), text.size());
  size_t pos = 0;
  re2::StringPiece match;
  while (pos <= text.size() &&
         re.Match(piece, pos, text.size(), re2::RE2::UNANCHORED, &match, 1)) {
    const size_t start = static_cast<size_t>(match.data() - text.data());
    const size_t end = start + match.size();
    if (end > start) {
      out.push_back({pattern, start, end});
      pos = end;
      continue;
    }
    if (start >= text.size()) break;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + start;
    const size_t step = utf8_sequence_length(p, p + (text.size() - start));
    pos = start + (step == 0 ? 1 : step);
  }
}

// Accepted findings by start; they never overlap.
using Accepted = std::map<size_t, Candidate>;

bool overlaps_accepted(const Accepted& accepted, size_t start, size_t end) {
  auto next = accepted.lower_bound(start);
  if (next != accepted.end() && next->first < end) return true;
  if (next == accepted.begin()) return false;
  return std::prev(next)->second.end > start;
}

// Spans of the original text that tokens now stand in for, by start.
struct Replacement {
  size_t end;
  std::string_view token;
};
using Replacements = std::map<size_t, Replacement>;

bool overlaps_replaced(const Replacements& replaced, size_t start, size_t end) {
  auto next = replaced.lower_bound(start);
  if (next != replaced.end() && next->first < end) return true;
  if (next == replaced.begin()) return false;
  return std::prev(next)->second.end > start;
}

}  // namespace

std::string_view mask_string(std::string_view text, const policy::CompiledPatterns& patterns,
                             const TokenSink& sink, EncodeCall& call, json::Arena& arena) {
  if (patterns.entries().empty()) return text;
  thread_local std::vector<int> which;
  patterns.candidates(text, &which);
  if (which.empty()) return text;

  std::vector<Candidate> candidates;
  for (int i : which) {
    find_all(*patterns.entries()[static_cast<size_t>(i)].re, i, text, candidates);
  }
  if (candidates.empty()) return text;

  // Longest first, then earliest; ties keep pattern order, then position.
  std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    const size_t la = a.end - a.start;
    const size_t lb = b.end - b.start;
    return la != lb ? la > lb : a.start < b.start;
  });
  Accepted accepted;
  for (const Candidate& c : candidates) {
    if (!overlaps_accepted(accepted, c.start, c.end)) accepted.emplace(c.start, c);
  }

  for (const auto& [start, c] : accepted) {
    call.rule_names.add(patterns.entries()[static_cast<size_t>(c.pattern)].name);
  }

  // Each finding's text is replaced wherever it occurs in text that no token
  // has taken yet, left to right without overlap. Tokens written earlier are
  // never rewritten, so the current text is always the original with some
  // spans replaced.
  Replacements replaced;
  for (const auto& [start, c] : accepted) {
    const std::string_view found = text.substr(c.start, c.end - c.start);
    const std::string_view type = patterns.entries()[static_cast<size_t>(c.pattern)].name;
    const MadeToken token = make_token(sink, type, found, call.signature);
    const std::string_view written = arena.copy(token.payload);
    ++call.applied_count;
    size_t last_end = 0;
    for (size_t p = text.find(found); p != std::string_view::npos; p = text.find(found, p + 1)) {
      if (p < last_end || overlaps_replaced(replaced, p, p + found.size())) continue;
      replaced.emplace(p, Replacement{p + found.size(), written});
      last_end = p + found.size();
    }
  }
  if (replaced.empty()) return text;

  size_t size = text.size();
  for (const auto& [p, r] : replaced) size = size - (r.end - p) + r.token.size();
  char* out = static_cast<char*>(arena.allocate(size, 1));
  char* w = out;
  size_t pos = 0;
  for (const auto& [p, r] : replaced) {
    std::memcpy(w, text.data() + pos, p - pos);
    w += p - pos;
    std::memcpy(w, r.token.data(), r.token.size());
    w += r.token.size();
    pos = r.end;
  }
  std::memcpy(w, text.data() + pos, text.size() - pos);
  return {out, size};
}

void mask_value(json::Value& value, const policy::CompiledPatterns& patterns,
                const TokenSink& sink, EncodeCall& call, json::Arena& arena) {
  switch (value.kind) {
    case json::Kind::kString: {
      const std::string_view s = mask_string(value.string(), patterns, sink, call, arena);
      if (s.data() != value.chars) value = json::Value::make_string(s);
      return;
    }
    case json::Kind::kArray:
      for (json::Value& item : value.array()) mask_value(item, patterns, sink, call, arena);
      return;
    case json::Kind::kObject:
      for (json::Member& m : value.object()) mask_value(m.value, patterns, sink, call, arena);
      return;
    default:
      return;
  }
}

}  // namespace quorvel::pipeline
