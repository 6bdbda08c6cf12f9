// InMemoryTokenVault: the token vault kept in process memory, striped into
// shards that each hold a reader-writer lock and a hash table of packed
// mappings placed by token value, so that searching by value is as cheap as
// looking up a key.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

#include "util/uuid.h"
#include "vault/token_mapping.h"
#include "vault/token_vault.h"

namespace quorvel::vault {

class InMemoryTokenVault final : public TokenVault {
 public:
  static constexpr size_t kDefaultShardCount = 16;
  static constexpr size_t kMaxShardCount = 64;

  // `shard_count` is rounded up to a power of two in [1, kMaxShardCount].
  explicit InMemoryTokenVault(size_t shard_count = kDefaultShardCount);
  ~InMemoryTokenVault() override;
  InMemoryTokenVault(const InMemoryTokenVault&) = delete;
  InMemoryTokenVault& operator=(const InMemoryTokenVault&) = delete;

  void insert(std::string_view token, TokenMapping mapping) override;
  std::optional<TokenMapping> get(std::string_view token) const override;
  std::optional<TokenMapping> find_by_value(std::string_view value) const override;
  void remove_session(const Uuid& session_uuid) override;
  void remove(std::string_view token) override;
  bool insert_if_value_free(std::string_view value, std::string_view token,
                            TokenMapping mapping) override;

  // Number of stored mappings; takes every shard lock in turn, so it is exact
  // only while no writer runs.
  size_t size() const;
  size_t shard_count() const { return shard_count_; }

 private:
  struct Shard;

  Shard& shard_of_hash(size_t route_hash) const;

  size_t shard_count_;
  int shard_shift_;  // route hash >> shard_shift_ picks the shard
  std::unique_ptr<Shard[]> shards_;
};

}  // namespace quorvel::vault
