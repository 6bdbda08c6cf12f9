// The Detokenizer: finds tokens in the strings of a returned payload and puts
// back the originals that the session's vault holds.
#pragma once

#include <cstdint>
#include <string_view>

#include "json/arena.h"
#include "json/value.h"
#include "pipeline/call_state.h"
#include "vault/token_vault.h"

namespace quorvel::enforcer {

struct DetokenizeStats {
  uint32_t count = 0;            // restorations
  pipeline::NameList names;      // pii_type of restored mappings, first restoration first
};

// Restores tokens in every string of `value`, in place; keys are never
// touched. `signed_tokens` adds the pass over "<TYPE:VALUE-NNN>" tokens.
void detokenize(json::Value& value, const vault::TokenVault& vault, bool signed_tokens,
                DetokenizeStats& stats, json::Arena& arena);

// One string: the restored text (a view into `arena`, or `text` itself when
// nothing was restored).
std::string_view detokenize_string(std::string_view text, const vault::TokenVault& vault,
                                   bool signed_tokens, DetokenizeStats& stats,
                                   json::Arena& arena);

// The next token at or after `from`, as [start, end), or npos. Signed tokens
// are "<" [A-Z0-9_]+ ":" 8 hex "-" 3 digits ">", unsigned ones lack "-NNN".
struct TokenMatch {
  size_t start = std::string_view::npos;
  size_t end = 0;
};
TokenMatch find_token(std::string_view text, size_t from, bool want_signed);

}  // namespace quorvel::enforcer
