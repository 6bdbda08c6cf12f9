#include "stand_in_model.h"

#include <algorithm>

namespace quorvel::tools {
namespace {

bool is_type_char(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }
bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The length of the token that starts at `s[i]` ("<"), or 0.
size_t token_length(std::string_view s, size_t i) {
  size_t k = i + 1;
  while (k < s.size() && is_type_char(s[k])) ++k;
  if (k == i + 1 || k >= s.size() || s[k] != ':') return 0;
  ++k;
  for (size_t n = 0; n < 8; ++n, ++k) {
    if (k >= s.size() || !is_hex(s[k])) return 0;
  }
  if (k < s.size() && s[k] == '>') return k + 1 - i;
  if (k + 4 < s.size() && s[k] == '-' && is_digit(s[k + 1]) && is_digit(s[k + 2]) &&
      is_digit(s[k + 3]) && s[k + 4] == '>') {
    return k + 5 - i;
  }
  return 0;
}

}  // namespace

std::vector<Token> find_tokens(std::string_view json) {
  std::vector<Token> tokens;
  for (size_t i = json.find('<'); i != std::string_view::npos; i = json.find('<', i + 1)) {
    const size_t n = token_length(json, i);
    if (n == 0) continue;
    Token t;
    t.text = json.substr(i, n);
    const size_t colon = t.text.find(':');
    t.value = t.text.substr(colon + 1, 8);
    t.unsigned_ = t.text.substr(0, colon + 9) + ">";
    if (std::none_of(tokens.begin(), tokens.end(),
                     [&](const Token& seen) { return seen.text == t.text; })) {
      tokens.push_back(std::move(t));
    }
    i += n - 1;
  }
  return tokens;
}

std::string stand_in_reply(const std::vector<Token>& tokens) {
  if (tokens.empty()) {
    return R"({"content":"Thank you. I found nothing in your message that I need to look up.","role":"assistant"})";
  }
  std::string content = "Thank you. I have noted";
  for (auto it = tokens.rbegin(); it != tokens.rend(); ++it) {
    content += (it == tokens.rbegin() ? " " : ", ") + it->text;
  }
  content += ". I will send the confirmation to " + tokens.front().text + ".";

  std::string mentioned;
  for (auto it = tokens.rbegin(); it != tokens.rend(); ++it) {
    mentioned += (mentioned.empty() ? "\"" : ",\"") + it->unsigned_ + "\"";
  }
  return R"({"content":")" + content + R"(","role":"assistant","tool_calls":[{"arguments":{"mentioned":[)" +
         mentioned + R"(],"reference":")" + tokens.front().value + R"(","to":")" +
         tokens.front().unsigned_ + R"("},"name":"send_confirmation"}]})";
}

}  // namespace quorvel::tools
