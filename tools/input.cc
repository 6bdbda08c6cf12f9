#include "input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "json/arena.h"
#include "json/reader.h"
#include "util/utf8.h"

namespace quorvel::tools {

std::string display_name(std::string_view path) {
  return path.empty() || path == "-" ? std::string("standard input") : std::string(path);
}

std::optional<std::string> read_input(std::string_view path, std::string* error) {
  const bool from_stdin = path.empty() || path == "-";
  std::FILE* f = from_stdin ? stdin : std::fopen(std::string(path).c_str(), "rb");
  if (f == nullptr) {
    *error = std::strerror(errno);
    return std::nullopt;
  }
  std::string content;
  char buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) content.append(buf, got);
  const bool failed = std::ferror(f) != 0;
  const int saved = errno;
  if (!from_stdin) std::fclose(f);
  if (failed) {
    *error = std::strerror(saved);
    return std::nullopt;
  }
  return content;
}

std::string json_problem(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  for (const auto* q = p; q < end;) {
    const size_t n = utf8_sequence_length(q, end);
    if (n == 0) return "not UTF-8 (byte offset " + std::to_string(q - p) + ")";
    q += n;
  }
  json::Arena arena;
  auto parsed = json::parse(text, arena);
  if (parsed.ok()) return {};
  const json::ParseError& e = parsed.error();
  return "not one JSON value: line " + std::to_string(e.line) + ", column " +
         std::to_string(e.column) + ": " + e.message;
}

}  // namespace quorvel::tools
