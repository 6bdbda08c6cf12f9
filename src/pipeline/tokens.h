// Tokens: "<" TYPE ":" VALUE ">", optionally signed as "<" TYPE ":" VALUE
// "-" SIG ">", and the rule text that asks the model to keep them intact.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pipeline/call_state.h"

namespace quorvel::pipeline {

// Eight lower-case hex digits: the first four bytes of SHA-256 over the text
// followed by the counter as eight little-endian bytes.
std::string token_value(std::string_view text, uint64_t counter);

struct MadeToken {
  std::string key;      // unsigned form, the vault key
  std::string payload;  // what the payload receives: signed when the call is
};

// Draws counter values until a value no key of the session's vault uses,
// stores the mapping under the unsigned token in the same step, and returns
// both forms.
MadeToken make_token(const TokenSink& sink, std::string_view type, std::string_view text,
                     std::optional<uint16_t> signature);

// A signature in 100..999 from this thread's generator.
uint16_t draw_signature();

// The rule sentence with the signature, followed by two line feeds.
std::string signature_injection_text(uint16_t signature);

}  // namespace quorvel::pipeline
