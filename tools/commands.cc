#include "commands.h"

#include <charconv>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>

#include "command_line.h"
#include "input.h"
#include "json_text.h"
#include "library.h"
#include "policy_report.h"
#include "stand_in_model.h"
#include "text.h"

namespace quorvel::tools {
namespace {

constexpr std::string_view kDefaultSession = "cli";

constexpr std::string_view kCheckHelp =
    R"(Usage: quorvel check --policy FILE

Loads a policy document the way quorvel_config_from_json does and explains
the result: whether it is accepted and, if not, the reader's error with its
data (line and column of a syntax error, the pattern and the engine's
message, the missing variable); which top-level members were taken, ignored
or of the wrong type; whether the policy body was read strictly, fell back
to its "pii_rules" list or to the default body, and the first thing that
made the strict reading fail; the same for the tracing policy; whether the
policy is active; every pattern, compiled.

Options:
  --policy FILE   the policy document (required)
  --help          show this text

Exit status: 0 when the policy loads, 1 when it is rejected or cannot be
read, 2 on bad usage.
)";

constexpr std::string_view kEncodeHelp =
    R"(Usage: quorvel encode --policy FILE [--session ID] [--signature] [PAYLOAD_FILE]

Passes a JSON payload on its way to the model through quorvel_encode and
prints the encode envelope. The payload comes from PAYLOAD_FILE, or from
standard input when it is absent or "-".

Options:
  --policy FILE   the policy document (required)
  --session ID    the session id of the enforcer (default: "cli")
  --signature     sign every token of the call, and return the rule text for
                  the model's system prompt
  --help          show this text

Token values depend only on the payload and on the order of the calls in a
session, so 'quorvel decode --replay' can restore the tokens of this run.

Exit status: 0 on success, 1 when the policy is rejected or the payload is
not one JSON value, 2 on bad usage.
)";

constexpr std::string_view kDecodeHelp =
    R"(Usage: quorvel decode --policy FILE [--session ID] [--mode N] [--replay FILE]... [PAYLOAD_FILE]

Passes a JSON payload coming back from the model through quorvel_decode and
prints the decode envelope. The payload comes from PAYLOAD_FILE, or from
standard input when it is absent or "-".

Options:
  --policy FILE   the policy document (required)
  --session ID    the session id of the enforcer (default: "cli")
  --mode N        1 restores signed and unsigned tokens, any other number
                  unsigned tokens only (default: 1)
  --replay FILE   encode FILE first in the same session, as a separate
                  'quorvel encode' run would; may be given several times
  --help          show this text

Sessions and their token vaults live in memory until the process ends, so a
decode in a new process knows no tokens by itself. A fresh run gives every
token the value an earlier 'quorvel encode' of the same payload gave it, so
--replay with the payloads the host sent restores the tokens of those runs.

Exit status: 0 on success, 1 when the policy is rejected or a payload is
not one JSON value, 2 on bad usage.
)";

constexpr std::string_view kRoundtripHelp =
    R"(Usage: quorvel roundtrip --policy FILE [PAYLOAD_FILE]

Runs a host's round trip in one process and prints it in four parts: what
the host sent, what the model saw (the encoded payload, signed, and the
rule text for its system prompt), what a stand-in model replied, and what
the host got back from decode. The stand-in model quotes every token it saw
in reverse order with its signature, and passes them to a tool call without
their signatures, the first one also as its bare value.
The payload comes from PAYLOAD_FILE, or from standard input when it is
absent or "-".

Options:
  --policy FILE   the policy document (required)
  --help          show this text

Exit status: 0 on success, 1 when the policy is rejected or the payload is
not one JSON value, 2 on bad usage.
)";

int fail(std::string_view command, std::string_view what, std::string_view problem) {
  std::cerr << "quorvel " << command << ": " << what << ": " << problem << "\n";
  return 1;
}

std::optional<ParsedArgs> parse(std::string_view command, Args args,
                                 std::span<const OptionSpec> options, size_t max_operands,
                                 std::string_view help, int* status) {
  std::string error;
  auto parsed = parse_args(args, options, max_operands, &error);
  if (!parsed) {
    *status = usage_error(command, error);
    return std::nullopt;
  }
  if (parsed->help) {
    std::cout << help;
    *status = 0;
    return std::nullopt;
  }
  if (!parsed->has("policy")) {
    *status = usage_error(command, "--policy FILE is required");
    return std::nullopt;
  }
  return parsed;
}

std::optional<std::string> read_file(std::string_view command, std::string_view path) {
  std::string error;
  auto text = read_input(path, &error);
  if (!text) fail(command, display_name(path), error);
  return text;
}

// The policy as the library loads it; on rejection the reason goes to
// standard error.
Config load_policy(std::string_view command, std::string_view path) {
  auto text = read_file(command, path);
  if (!text) return nullptr;
  Config config = load_config(*text);
  if (!config) {
    fail(command, display_name(path),
         rejection_reason(*text) + "\n(quorvel check --policy " + std::string(path) +
             " explains the policy)");
  }
  return config;
}

std::optional<std::string> read_payload(std::string_view command, std::string_view path) {
  auto text = read_file(command, path);
  if (text) {
    if (std::string problem = json_problem(*text); !problem.empty()) {
      fail(command, display_name(path), problem);
      return std::nullopt;
    }
  }
  return text;
}

std::string session_of(const ParsedArgs& parsed) {
  return parsed.value("session").value_or(std::string(kDefaultSession));
}

std::string operand(const ParsedArgs& parsed) {
  return parsed.operands.empty() ? std::string("-") : parsed.operands.front();
}

void print_counts(std::string_view envelope) {
  std::cout << "rules_applied_count: " << member_text(envelope, "rules_applied_count").value_or("?")
            << ", rule_names: " << member_text(envelope, "rule_names").value_or("?") << "\n";
}

}  // namespace

int usage_error(std::string_view command, std::string_view message) {
  const std::string name = command.empty() ? "quorvel" : "quorvel " + std::string(command);
  std::cerr << name << ": " << message << "\nTry '" << name << " --help'.\n";
  return 2;
}

int run_check(Args args) {
  static constexpr OptionSpec kSpec[] = {{"policy", true}};
  int status = 0;
  auto parsed = parse("check", args, kSpec, 0, kCheckHelp, &status);
  if (!parsed) return status;
  const std::string path = *parsed->value("policy");
  auto text = read_file("check", path);
  if (!text) return 1;

  PolicyExplanation explanation = explain_policy(*text);
  // The verdict that counts is the one of the library that hosts load; the
  // explanation comes from the reader built into this tool, and the two can
  // differ only when the tool runs against another build of the library.
  const bool library_accepts = load_config(*text) != nullptr;
  if (library_accepts != explanation.accepted) {
    return fail("check", display_name(path),
                std::string("the library ") + (library_accepts ? "accepts" : "rejects") +
                    " the policy, but the reader of this tool does not agree; the tool and "
                    "the library come from different builds");
  }
  std::cout << display_name(path) << ": " << explanation.verdict << "\n" << explanation.details;
  return explanation.accepted ? 0 : 1;
}

int run_encode(Args args) {
  static constexpr OptionSpec kSpec[] = {{"policy", true}, {"session", true}, {"signature", false}};
  int status = 0;
  auto parsed = parse("encode", args, kSpec, 1, kEncodeHelp, &status);
  if (!parsed) return status;
  Config config = load_policy("encode", *parsed->value("policy"));
  if (!config) return 1;
  auto payload = read_payload("encode", operand(*parsed));
  if (!payload) return 1;
  EnforcerPtr enforcer = make_enforcer(config, session_of(*parsed));
  auto envelope = encode(enforcer, *payload, parsed->has("signature"));
  if (!envelope) return fail("encode", display_name(operand(*parsed)), "refused by the library");
  std::cout << *envelope << "\n";
  return 0;
}

int run_decode(Args args) {
  static constexpr OptionSpec kSpec[] = {
      {"policy", true}, {"session", true}, {"mode", true}, {"replay", true, true}};
  int status = 0;
  auto parsed = parse("decode", args, kSpec, 1, kDecodeHelp, &status);
  if (!parsed) return status;

  int32_t mode = 1;
  if (auto text = parsed->value("mode")) {
    const char* end = text->data() + text->size();
    auto [ptr, ec] = std::from_chars(text->data(), end, mode);
    if (ec != std::errc() || ptr != end) {
      return usage_error("decode", "--mode takes a 32-bit integer, not '" + *text + "'");
    }
  }
  Config config = load_policy("decode", *parsed->value("policy"));
  if (!config) return 1;
  const std::string session = session_of(*parsed);
  for (const std::string& path : parsed->values("replay")) {
    auto sent = read_payload("decode", path);
    if (!sent) return 1;
    // A new enforcer per file starts its token counter at 0, as the separate
    // encode run did.
    if (!encode(make_enforcer(config, session), *sent, false)) {
      return fail("decode", path, "refused by the library");
    }
  }
  auto payload = read_payload("decode", operand(*parsed));
  if (!payload) return 1;
  auto envelope = decode(make_enforcer(config, session), *payload, mode);
  if (!envelope) return fail("decode", display_name(operand(*parsed)), "refused by the library");
  std::cout << *envelope << "\n";
  return 0;
}

int run_roundtrip(Args args) {
  static constexpr OptionSpec kSpec[] = {{"policy", true}};
  int status = 0;
  auto parsed = parse("roundtrip", args, kSpec, 1, kRoundtripHelp, &status);
  if (!parsed) return status;
  Config config = load_policy("roundtrip", *parsed->value("policy"));
  if (!config) return 1;
  auto payload = read_payload("roundtrip", operand(*parsed));
  if (!payload) return 1;

  const auto name = take_string(quorvel_config_policy_name(config.get()));
  const auto version = take_string(quorvel_config_policy_version(config.get()));
  std::cout << "Policy \"" << name.value_or("") << "\", version \"" << version.value_or("")
            << "\": " << (quorvel_config_active(config.get()) ? "active" : "inactive") << "\n";

  EnforcerPtr enforcer = make_enforcer(config, "roundtrip");
  config.reset();  // the enforcer holds the policy from here on

  std::cout << "\n== What the host sent\n" << pretty_json(*payload) << "\n";

  auto encoded = encode(enforcer, *payload, true);
  if (!encoded) return fail("roundtrip", display_name(operand(*parsed)), "refused by the library");
  const std::string_view sent = member_text(*encoded, "payload").value_or("null");
  std::cout << "\n== What the model saw\n" << pretty_json(sent) << "\n";
  const auto rule = string_content(member_text(*encoded, "signature_injection_text").value_or(""));
  if (rule && !rule->empty()) {
    std::cout << "signature_injection_text, for the system prompt:\n"
              << wrapped(*rule, "  ");
  }
  print_counts(*encoded);

  const std::vector<Token> tokens = find_tokens(sent);
  const std::string reply = stand_in_reply(tokens);
  std::cout << "\n== What the model replied\n" << pretty_json(reply) << "\n";

  auto decoded = decode(enforcer, reply, 1);
  if (!decoded) return fail("roundtrip", "the stand-in reply", "refused by the library");
  const std::string_view back = member_text(*decoded, "payload").value_or("null");
  std::cout << "\n== What the host got back\n" << pretty_json(back) << "\n";
  print_counts(*decoded);

  const std::vector<Token> left = find_tokens(back);
  std::cout << "\n";
  if (tokens.empty()) {
    std::cout << "The model saw no token.\n";
  } else if (left.empty()) {
    std::cout << "Every token of the reply was restored.\n";
  } else {
    std::cout << left.size() << " of the reply's tokens stayed in place:";
    for (const Token& t : left) std::cout << " " << t.text;
    std::cout << "\n";
  }
  return 0;
}

}  // namespace quorvel::tools
