// Small RAII helpers over the public header for C++ tests.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "quorvel/quorvel.h"

namespace quorvel::testing {

struct ConfigDeleter {
  void operator()(ConfigHandle* h) const { quorvel_config_drop(h); }
};
struct EnforcerDeleter {
  void operator()(Enforcer* e) const { quorvel_enforcer_drop(e); }
};
using ConfigPtr = std::unique_ptr<ConfigHandle, ConfigDeleter>;
using EnforcerPtr = std::unique_ptr<Enforcer, EnforcerDeleter>;

inline ConfigPtr config(std::string_view json) {
  return ConfigPtr(quorvel_config_from_json(json.data(), json.size()));
}
inline EnforcerPtr enforcer(const ConfigPtr& c, std::string_view session) {
  return EnforcerPtr(quorvel_enforcer_create(c.get(), session.data(), session.size()));
}

// The returned string, released; nothing for null.
inline std::optional<std::string> take(char* s) {
  if (s == nullptr) return std::nullopt;
  std::string out(s);
  quorvel_free(s);
  return out;
}

inline std::optional<std::string> encode(const EnforcerPtr& e, std::string_view json, int32_t sig = 0) {
  return take(quorvel_encode(e.get(), json.data(), json.size(), sig));
}
inline std::optional<std::string> decode(const EnforcerPtr& e, std::string_view json, int32_t mode = 0) {
  return take(quorvel_decode(e.get(), json.data(), json.size(), mode));
}

// A policy that is active with both switches on, the given patterns (a JSON
// array of {"name","pattern"}) and mapping rules (a JSON array).
inline std::string active_policy(std::string_view patterns, std::string_view mapping_rules = "[]",
                                 bool masking = true, bool mapping = true) {
  return std::string(R"({"policy_name":"test","quorvel_policy":{"masking":)") +
         (masking ? "true" : "false") + R"(,"mapping":)" + (mapping ? "true" : "false") +
         R"(,"masking_rules":[],"mapping_rules":)" + std::string(mapping_rules) +
         R"(,"pii_config":{"backend":{"type":"regex","patterns":)" + std::string(patterns) + "}}}}";
}

// A session id no other test uses.
inline std::string fresh_session(std::string_view prefix) {
  static int n = 0;
  return std::string(prefix) + "-" + std::to_string(++n) + "-" +
         std::to_string(reinterpret_cast<uintptr_t>(&n));
}

}  // namespace quorvel::testing
