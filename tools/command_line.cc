#include "command_line.h"

#include <algorithm>

namespace quorvel::tools {

std::optional<std::string> ParsedArgs::value(std::string_view name) const {
  auto it = options.find(name);
  if (it == options.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

std::vector<std::string> ParsedArgs::values(std::string_view name) const {
  auto it = options.find(name);
  return it == options.end() ? std::vector<std::string>{} : it->second;
}

std::optional<ParsedArgs> parse_args(std::span<const std::string_view> args,
                                     std::span<const OptionSpec> options, size_t max_operands,
                                     std::string* error) {
  ParsedArgs parsed;
  // --help answers even a command line that is wrong otherwise.
  for (std::string_view a : args) {
    if (a == "--") break;
    if (a == "--help" || a == "-h") {
      parsed.help = true;
      return parsed;
    }
  }

  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (options_done || a == "-" || !a.starts_with("-")) {
      parsed.operands.emplace_back(a);
      continue;
    }
    if (a == "--") {
      options_done = true;
      continue;
    }
    if (!a.starts_with("--")) {
      *error = "unknown option '" + std::string(a) + "'";
      return std::nullopt;
    }
    std::string_view name = a.substr(2);
    std::optional<std::string_view> inline_value;
    if (const size_t eq = name.find('='); eq != std::string_view::npos) {
      inline_value = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    const auto it = std::find_if(options.begin(), options.end(),
                                 [&](const OptionSpec& s) { return s.name == name; });
    if (it == options.end()) {
      *error = "unknown option '--" + std::string(name) + "'";
      return std::nullopt;
    }
    if (!it->repeatable && parsed.has(name)) {
      *error = "option '--" + std::string(name) + "' given twice";
      return std::nullopt;
    }
    std::vector<std::string>& values = parsed.options[std::string(name)];
    if (!it->takes_value) {
      if (inline_value) {
        *error = "option '--" + std::string(name) + "' takes no value";
        return std::nullopt;
      }
      continue;
    }
    if (inline_value) {
      values.emplace_back(*inline_value);
    } else if (i + 1 < args.size()) {
      values.emplace_back(args[++i]);
    } else {
      *error = "option '--" + std::string(name) + "' needs a value";
      return std::nullopt;
    }
  }
  if (parsed.operands.size() > max_operands) {
    *error = "unexpected argument '" + parsed.operands[max_operands] + "'";
    return std::nullopt;
  }
  return parsed;
}

}  // namespace quorvel::tools
