// Parsing of one command's arguments: long options, with their value as the
// next argument or after "=", and file operands.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::tools {

struct OptionSpec {
  std::string_view name;  // without the leading "--"
  bool takes_value = false;
  bool repeatable = false;
};

struct ParsedArgs {
  std::map<std::string, std::vector<std::string>, std::less<>> options;
  std::vector<std::string> operands;
  bool help = false;

  bool has(std::string_view name) const { return options.find(name) != options.end(); }
  // The value of a single-valued option, or nothing when it was not given.
  std::optional<std::string> value(std::string_view name) const;
  // Every value of a repeatable option, in the order given.
  std::vector<std::string> values(std::string_view name) const;
};

// Reads `args` (the arguments after the command name). "--help" anywhere
// sets `help` and wins over every other problem; "--" ends the options, and
// "-" is an operand (standard input). On failure `error` says what is wrong
// in one line.
std::optional<ParsedArgs> parse_args(std::span<const std::string_view> args,
                                     std::span<const OptionSpec> options, size_t max_operands,
                                     std::string* error);

}  // namespace quorvel::tools
