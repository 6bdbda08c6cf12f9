// quorvel: try a policy on payloads from the command line, and find out why
// the library reads a policy document the way it does.
#include <quorvel/quorvel.h>

#include <iostream>
#include <string_view>
#include <vector>

#include "commands.h"

namespace {

constexpr std::string_view kHelp =
    R"(Usage: quorvel COMMAND [OPTIONS] [FILE]

Tries the policies of libquorvel_ffi, which keeps personal data out of the
JSON payloads that an application exchanges with an LLM agent.

Commands:
  check      explain a policy document: accepted or rejected, and why
  encode     mask and tokenize a payload on its way to the model
  decode     restore the tokens in a payload coming back from the model
  roundtrip  encode, let a stand-in model reply, decode, and show all four

'quorvel COMMAND --help' describes the options of a command.
'quorvel --version' prints the version of the library this tool was built
with.
)";

struct Command {
  std::string_view name;
  int (*run)(quorvel::tools::Args);
};

constexpr Command kCommands[] = {
    {"check", quorvel::tools::run_check},
    {"encode", quorvel::tools::run_encode},
    {"decode", quorvel::tools::run_decode},
    {"roundtrip", quorvel::tools::run_roundtrip},
};

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.empty()) return quorvel::tools::usage_error("", "no command given");
  const std::string_view first = args.front();
  if (first == "--help" || first == "-h" || first == "help") {
    std::cout << kHelp;
    return 0;
  }
  if (first == "--version") {
    std::cout << "quorvel " << QUORVEL_VERSION_MAJOR << "." << QUORVEL_VERSION_MINOR << "."
              << QUORVEL_VERSION_PATCH << "\n";
    return 0;
  }
  for (const Command& c : kCommands) {
    if (c.name == first) {
      const int status = c.run(quorvel::tools::Args(args).subspan(1));
      std::cout.flush();
      return std::cout.fail() ? 1 : status;
    }
  }
  return quorvel::tools::usage_error("", "unknown command '" + std::string(first) + "'");
}
