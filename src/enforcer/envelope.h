// Writing the members shared by the encode and decode envelopes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "json/writer.h"

namespace quorvel::enforcer {

inline void write_names(json::Writer& w, const std::vector<std::string>& names) {
  w.raw('[');
  for (size_t i = 0; i < names.size(); ++i) {
    if (i != 0) w.raw(',');
    w.string(names[i]);
  }
  w.raw(']');
}

// Room for a payload of `payload_bytes` plus the envelope around it, so that
// an unchanged payload is written without growing the buffer.
inline size_t envelope_capacity(size_t payload_bytes) { return payload_bytes + payload_bytes / 8 + 256; }

}  // namespace quorvel::enforcer
