// Owning wrappers around the handles and strings of the C interface, so that
// every path of a command releases what it got.
#pragma once

#include <quorvel/quorvel.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::tools {

struct ConfigDrop {
  void operator()(ConfigHandle* h) const { quorvel_config_drop(h); }
};
struct EnforcerDrop {
  void operator()(Enforcer* e) const { quorvel_enforcer_drop(e); }
};
using Config = std::unique_ptr<ConfigHandle, ConfigDrop>;
using EnforcerPtr = std::unique_ptr<Enforcer, EnforcerDrop>;

// Takes a string returned by the library, copies it and releases it; nothing
// for a null result.
inline std::optional<std::string> take_string(char* s) {
  if (s == nullptr) return std::nullopt;
  std::string copy(s);
  quorvel_free(s);
  return copy;
}

inline Config load_config(std::string_view document) {
  return Config(quorvel_config_from_json(document.data(), document.size()));
}

inline EnforcerPtr make_enforcer(const Config& config, std::string_view session_id) {
  return EnforcerPtr(quorvel_enforcer_create(config.get(), session_id.data(), session_id.size()));
}

inline std::optional<std::string> encode(const EnforcerPtr& e, std::string_view payload,
                                         bool with_signature) {
  return take_string(
      quorvel_encode(e.get(), payload.data(), payload.size(), with_signature ? 1 : 0));
}

inline std::optional<std::string> decode(const EnforcerPtr& e, std::string_view payload,
                                         int32_t mode) {
  return take_string(quorvel_decode(e.get(), payload.data(), payload.size(), mode));
}

}  // namespace quorvel::tools
