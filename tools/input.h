// Reading the files a command is given, and saying in words why a payload or
// a policy could not be read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel::tools {

// How a file operand is named in messages: its path, or "standard input".
std::string display_name(std::string_view path);

// The whole content of `path`, or of standard input for "" and "-". On
// failure `error` holds the system's reason.
std::optional<std::string> read_input(std::string_view path, std::string* error);

// Why the library refuses `text` as a JSON value: not UTF-8 (with the byte
// offset), or the syntax error with its line and column. Empty when the text
// is one well-formed JSON value.
std::string json_problem(std::string_view text);

}  // namespace quorvel::tools
