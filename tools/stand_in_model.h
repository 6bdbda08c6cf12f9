// A stand-in for the model in a round trip: it answers with the tokens it
// was shown, rearranged the way models do.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvel::tools {

struct Token {
  std::string text;        // as written in the payload, with its signature if any
  std::string unsigned_;   // "<TYPE:VALUE>"
  std::string value;       // the eight hexadecimal digits
};

// The distinct tokens that decode can recognise in `json`, in order of first
// appearance: "<TYPE:VALUE>" or "<TYPE:VALUE-NNN>", TYPE of A-Z, 0-9 and "_",
// VALUE of eight hexadecimal digits.
std::vector<Token> find_tokens(std::string_view json);

// The reply of the stand-in model, a compact JSON object: a message that
// quotes every token in reverse order as it was shown (signatures kept), and
// a tool call whose arguments carry the tokens without their signatures, the
// first one also as its bare value.
std::string stand_in_reply(const std::vector<Token>& tokens);

}  // namespace quorvel::tools
