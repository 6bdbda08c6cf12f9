#include "text.h"

namespace quorvel::tools {

std::string wrapped(std::string_view text, std::string_view indent, size_t width) {
  while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  std::string out;
  std::string line;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = text.find(' ', i);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view word = text.substr(i, end - i);
    if (!line.empty() && indent.size() + line.size() + 1 + word.size() > width) {
      out.append(indent).append(line) += '\n';
      line.clear();
    }
    if (!line.empty()) line += ' ';
    line += word;
    i = end + 1;
  }
  if (!line.empty()) out.append(indent).append(line) += '\n';
  return out;
}

}  // namespace quorvel::tools
