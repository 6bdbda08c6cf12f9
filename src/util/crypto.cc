#include "util/crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdlib>
#include <memory>

namespace quorvel {
namespace {

// The digest is fetched once per process and the context reused per thread:
// both are costly to set up compared with hashing a few dozen bytes.
const EVP_MD* sha256_md() {
  static const EVP_MD* md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  return md;
}

struct ContextDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

}  // namespace

Sha256Digest sha256(std::string_view a, std::string_view b) noexcept {
  thread_local std::unique_ptr<EVP_MD_CTX, ContextDeleter> ctx(EVP_MD_CTX_new());
  Sha256Digest out{};
  unsigned int len = 0;
  if (!ctx || sha256_md() == nullptr || EVP_DigestInit_ex2(ctx.get(), sha256_md(), nullptr) != 1 ||
      EVP_DigestUpdate(ctx.get(), a.data(), a.size()) != 1 ||
      EVP_DigestUpdate(ctx.get(), b.data(), b.size()) != 1 ||
      EVP_DigestFinal_ex(ctx.get(), out.data(), &len) != 1) {
    std::abort();  // libcrypto without SHA-256: nothing sound to fall back on
  }
  return out;
}

Sha256Digest hmac_sha256(std::string_view key, std::string_view message) noexcept {
  Sha256Digest out{};
  unsigned int len = 0;
  static const unsigned char kEmpty = 0;
  const auto* k = key.empty() ? &kEmpty : reinterpret_cast<const unsigned char*>(key.data());
  const auto* m = message.empty() ? &kEmpty : reinterpret_cast<const unsigned char*>(message.data());
  if (HMAC(sha256_md(), k, static_cast<int>(key.size()), m, message.size(), out.data(), &len) ==
      nullptr) {
    std::abort();
  }
  return out;
}

std::string to_hex(const uint8_t* bytes, size_t n) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out(n * 2, '\0');
  for (size_t i = 0; i < n; ++i) {
    out[2 * i] = kHex[bytes[i] >> 4];
    out[2 * i + 1] = kHex[bytes[i] & 0xF];
  }
  return out;
}

}  // namespace quorvel
