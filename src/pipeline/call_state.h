// What one encode call carries through its passes, and what the pipeline
// needs of an enforcer, as plain data.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/uuid.h"
#include "vault/token_vault.h"

namespace quorvel::pipeline {

// An ordered list of names without duplicates: a name joins only if no equal
// text is there, so its first occurrence fixes its place.
class NameList {
 public:
  void add(std::string_view name) {
    if (std::find(names_.begin(), names_.end(), name) == names_.end()) names_.emplace_back(name);
  }
  const std::vector<std::string>& names() const { return names_; }

 private:
  std::vector<std::string> names_;
};

// The session side of token making: where mappings go and which counter
// values derive token values.
struct TokenSink {
  std::string_view session_id;
  Uuid session_uuid{};
  std::atomic<uint64_t>* token_counter = nullptr;
  vault::TokenVault* vault = nullptr;
};

struct EncodeCall {
  uint32_t applied_count = 0;
  NameList rule_names;
  std::optional<uint16_t> signature;
};

}  // namespace quorvel::pipeline
