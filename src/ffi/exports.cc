// The twelve exports. Each is a thin shim: check the arguments, call one
// function of the library, convert its result to a C value. Nothing throws
// out of here; running out of memory aborts.
#include <cstdlib>
#include <memory>
#include <string_view>

#include "enforcer/decode_flow.h"
#include "enforcer/encode_flow.h"
#include "enforcer/enforcer.h"
#include "ffi/c_string.h"
#include "policy/model.h"
#include "policy/reader.h"
#include "quorvel/quorvel.h"
#include "util/utf8.h"

struct ConfigHandle {
  quorvel::policy::PolicyRef policy;
};

struct Enforcer {
  std::unique_ptr<quorvel::enforcer::Enforcer> impl;
};

namespace {

// A text argument as a view, or nothing for a null pointer or ill-formed
// UTF-8.
bool utf8_text(const char* p, size_t len, std::string_view& out) {
  if (p == nullptr) return false;
  if (!quorvel::is_valid_utf8(p, len)) return false;
  out = std::string_view(p, len);
  return true;
}

ConfigHandle* new_handle(quorvel::policy::PolicyRef policy) {
  return new ConfigHandle{std::move(policy)};
}

}  // namespace

extern "C" {

ConfigHandle* quorvel_config_default(void) noexcept {
  return new_handle(quorvel::policy::PolicyRef::adopt(quorvel::policy::default_policy().release()));
}

ConfigHandle* quorvel_config_from_json(const char* json, size_t len) noexcept {
  std::string_view text;
  if (!utf8_text(json, len, text)) return nullptr;
  auto policy = quorvel::policy::read_policy(text);
  if (!policy.ok()) return nullptr;
  return new_handle(quorvel::policy::PolicyRef::adopt(std::move(policy).value().release()));
}

ConfigHandle* quorvel_config_clone(const ConfigHandle* handle) noexcept {
  if (handle == nullptr) return nullptr;
  return new_handle(handle->policy);
}

void quorvel_config_drop(ConfigHandle* handle) noexcept { delete handle; }

bool quorvel_config_active(const ConfigHandle* handle) noexcept {
  return handle != nullptr && handle->policy->active;
}

char* quorvel_config_policy_name(const ConfigHandle* handle) noexcept {
  if (handle == nullptr) return nullptr;
  return quorvel::ffi::to_c_string(handle->policy->policy_name);
}

char* quorvel_config_policy_version(const ConfigHandle* handle) noexcept {
  if (handle == nullptr) return nullptr;
  return quorvel::ffi::to_c_string(handle->policy->policy_version);
}

Enforcer* quorvel_enforcer_create(const ConfigHandle* handle, const char* session_id,
                                  size_t len) noexcept {
  if (handle == nullptr) return nullptr;
  std::string_view id;
  if (!utf8_text(session_id, len, id)) id = {};
  return new Enforcer{quorvel::enforcer::create_enforcer(handle->policy, id)};
}

void quorvel_enforcer_drop(Enforcer* enforcer) noexcept { delete enforcer; }

char* quorvel_encode(const Enforcer* enforcer, const char* json, size_t len,
                     int32_t with_signature) noexcept {
  if (enforcer == nullptr || json == nullptr) return nullptr;
  return quorvel::enforcer::encode(*enforcer->impl, std::string_view(json, len), with_signature == 1);
}

char* quorvel_decode(const Enforcer* enforcer, const char* json, size_t len, int32_t mode) noexcept {
  if (enforcer == nullptr || json == nullptr) return nullptr;
  return quorvel::enforcer::decode(*enforcer->impl, std::string_view(json, len), mode == 1);
}

void quorvel_free(char* str) noexcept { std::free(str); }

}  // extern "C"
