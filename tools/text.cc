#include "text.h"

namespace quorvel::tools {

std::string wrapped(std::string_view text, std::string_view indent, size_t width) {
  return wrapped(indent, text, indent, width);
}

std::string wrapped(std::string_view first, std::string_view text, std::string_view indent,
                    size_t width) {
  while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  std::string out;
  std::string line;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = text.find(' ', i);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view word = text.substr(i, end - i);
    const std::string_view lead = out.empty() ? first : indent;
    if (!line.empty() && lead.size() + line.size() + 1 + word.size() > width) {
      out.append(lead).append(line) += '\n';
      line.clear();
    }
    if (!line.empty()) line += ' ';
    line += word;
    i = end + 1;
  }
  if (!line.empty()) out.append(out.empty() ? first : indent).append(line) += '\n';
  return out;
}

}  // namespace quorvel::tools
