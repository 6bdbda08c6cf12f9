// The commands of the quorvel tool. Each one takes the arguments after its
// name, writes its result to standard output and its errors to standard
// error, and returns the exit status: 0 done, 1 failed, 2 bad usage.
#pragma once

#include <span>
#include <string_view>

namespace quorvel::tools {

using Args = std::span<const std::string_view>;

int run_check(Args args);
int run_encode(Args args);
int run_decode(Args args);
int run_roundtrip(Args args);

// Shared by the commands and the top level: "quorvel CMD: MESSAGE" and a
// pointer to the command's help on standard error; returns 2.
int usage_error(std::string_view command, std::string_view message);

}  // namespace quorvel::tools
