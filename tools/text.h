// Laying out text for a terminal.
#pragma once

#include <string>
#include <string_view>

namespace quorvel::tools {

// `text` broken at spaces into lines of at most `width` bytes where the words
// allow, each line indented by `indent` and ended by a line feed. Trailing
// line feeds of `text` are dropped; a word longer than a line stands alone.
std::string wrapped(std::string_view text, std::string_view indent, size_t width = 78);

// The same with `first` in front of the first line in place of `indent`.
std::string wrapped(std::string_view first, std::string_view text, std::string_view indent,
                    size_t width = 78);

}  // namespace quorvel::tools
