// Small helpers over JSON texts that the library has already checked: a
// re-indenter for people, the raw text of one object member, and the
// unescaped content of a string. They scan the text and build no values.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel::tools {

// `json` written with two-space indentation, one member or element per line;
// empty objects and arrays stay "{}" and "[]". Whitespace between tokens is
// dropped, strings and numbers are copied byte for byte. The text must be
// well-formed JSON.
std::string pretty_json(std::string_view json);

// The raw text of the member `key` of a top-level JSON object, or nothing.
// `key` is compared with the member's key as written, escapes and all.
std::optional<std::string_view> member_text(std::string_view object, std::string_view key);

// The content of a JSON string literal (quotes included in `literal`), with
// its escapes resolved; nothing when `literal` is not a string.
std::optional<std::string> string_content(std::string_view literal);

}  // namespace quorvel::tools
