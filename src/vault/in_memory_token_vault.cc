#include "vault/in_memory_token_vault.h"

#include <bit>
#include <cassert>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "util/fatal.h"

namespace quorvel::vault {
namespace {

// A key K ends with ":" V ">" for a V without ':' exactly when V is the text
// between K's last ':' and its final '>'. That V is the key's token value;
// keys are routed to shards, and indexed, by it.
std::optional<std::string_view> token_value_of(std::string_view key) {
  if (key.empty() || key.back() != '>') return std::nullopt;
  const std::string_view body = key.substr(0, key.size() - 1);
  const size_t colon = body.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  return body.substr(colon + 1);
}

bool ends_with_value(std::string_view key, std::string_view value) {
  return key.size() >= value.size() + 2 && key.back() == '>' &&
         key[key.size() - value.size() - 2] == ':' &&
         key.substr(key.size() - value.size() - 1, value.size()) == value;
}

size_t hash_text(std::string_view text) { return std::hash<std::string_view>{}(text); }

// A session id and uuid shared by the mappings of one shard that carry them;
// a vault usually sees a single one.
struct Session {
  std::string id;
  Uuid uuid{};
  size_t refs = 0;
};

// Marks an entry whose mapping token equals its key, so the token is kept once.
constexpr uint32_t kTokenIsKey = std::numeric_limits<uint32_t>::max();

// One stored mapping in a single heap block: this header followed by the key,
// the original value, the PII type and, only when it differs from the key,
// the mapping's own token text.
struct Entry {
  // The other keys of the shard with the same token value, so the value index
  // can tell "one key" from "several" and unlink in constant time.
  Entry* prev_same_value;
  Entry* next_same_value;
  Session* session;
  int64_t created_ns;
  uint32_t key_len;
  uint32_t value_len;
  uint32_t type_len;
  uint32_t token_len;

  const char* texts() const { return reinterpret_cast<const char*>(this + 1); }
  std::string_view key() const { return {texts(), key_len}; }
  std::string_view original_value() const { return {texts() + key_len, value_len}; }
  std::string_view pii_type() const { return {texts() + key_len + value_len, type_len}; }
  std::string_view token() const {
    if (token_len == kTokenIsKey) return key();
    return {texts() + key_len + value_len + type_len, token_len};
  }

  TokenMapping to_mapping() const {
    TokenMapping m;
    m.token = std::string(token());
    m.original_value = std::string(original_value());
    m.pii_type = std::string(pii_type());
    m.session_id = session->id;
    m.session_uuid = session->uuid;
    m.created_at = UtcTime(std::chrono::nanoseconds(created_ns));
    return m;
  }
};
static_assert(alignof(Entry) == 8 && sizeof(Entry) % alignof(Entry) == 0);

uint32_t checked_len(size_t len, size_t block) {
  // Lengths are kept in 32 bits; a text of 4 GiB is treated like exhausted
  // memory rather than stored truncated.
  if (len >= kTokenIsKey) die_out_of_memory(block);
  return static_cast<uint32_t>(len);
}

Entry* make_entry(std::string_view key, const TokenMapping& m, Session* session) {
  const bool own_token = m.token != key;
  const size_t block = sizeof(Entry) + key.size() + m.original_value.size() + m.pii_type.size() +
                       (own_token ? m.token.size() : 0);
  void* mem = checked_malloc(block);
  auto* e = new (mem) Entry{nullptr,
                            nullptr,
                            session,
                            m.created_at.time_since_epoch().count(),
                            checked_len(key.size(), block),
                            checked_len(m.original_value.size(), block),
                            checked_len(m.pii_type.size(), block),
                            own_token ? checked_len(m.token.size(), block) : kTokenIsKey};
  char* out = reinterpret_cast<char*>(e + 1);
  const auto put = [&out](std::string_view text) {
    if (!text.empty()) std::memcpy(out, text.data(), text.size());
    out += text.size();
  };
  put(key);
  put(m.original_value);
  put(m.pii_type);
  if (own_token) put(m.token);
  return e;
}

void free_entry(Entry* e) { std::free(e); }

struct Slot {
  size_t hash;
  Entry* entry;  // null for a free slot
};

// Open-addressing table of entry pointers with linear probing and
// backward-shift deletion (no tombstones). The full hash sits in the slot so
// that probing rarely touches an entry.
class SlotTable {
 public:
  SlotTable() = default;
  SlotTable(const SlotTable&) = delete;
  SlotTable& operator=(const SlotTable&) = delete;
  ~SlotTable() { std::free(slots_); }

  size_t size() const { return size_; }

  template <class Match>
  Slot* find(size_t hash, Match match) const {
    if (slots_ == nullptr) return nullptr;
    for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (s.entry == nullptr) return nullptr;
      if (s.hash == hash && match(s.entry)) return &s;
    }
  }

  // The caller has made sure that no slot matches.
  void add(size_t hash, Entry* entry) {
    if ((size_ + 1) * 4 > capacity() * 3) grow();
    place(hash, entry);
    ++size_;
  }

  void erase(Slot* slot) {
    size_t hole = static_cast<size_t>(slot - slots_);
    for (size_t j = (hole + 1) & mask_; slots_[j].entry != nullptr; j = (j + 1) & mask_) {
      const size_t home = slots_[j].hash & mask_;
      // An entry whose home lies cyclically in (hole, j] must stay put.
      const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
      if (stays) continue;
      slots_[hole] = slots_[j];
      hole = j;
    }
    slots_[hole] = Slot{0, nullptr};
    --size_;
  }

  size_t capacity() const { return slots_ == nullptr ? 0 : mask_ + 1; }
  Slot* slot_at(size_t i) const { return &slots_[i]; }

 private:
  void place(size_t hash, Entry* entry) {
    size_t i = hash & mask_;
    while (slots_[i].entry != nullptr) i = (i + 1) & mask_;
    slots_[i] = Slot{hash, entry};
  }

  void grow() {
    const size_t old_capacity = capacity();
    Slot* old = slots_;
    const size_t capacity = old_capacity == 0 ? 16 : old_capacity * 2;
    slots_ = static_cast<Slot*>(checked_malloc(capacity * sizeof(Slot)));
    for (size_t i = 0; i < capacity; ++i) slots_[i] = Slot{0, nullptr};
    mask_ = capacity - 1;
    for (size_t i = 0; i < old_capacity; ++i) {
      if (old[i].entry != nullptr) place(old[i].hash, old[i].entry);
    }
    std::free(old);
  }

  Slot* slots_ = nullptr;
  size_t mask_ = 0;
  size_t size_ = 0;
};

}  // namespace

// Every key lives in the shard picked by its token value (or, without one, by
// the key itself), so all keys that can end with ":" V ">" for a V without ':'
// share one shard and one lock. Members are guarded by `mu`.
struct alignas(64) InMemoryTokenVault::Shard {
  Shard() = default;
  Shard(const Shard&) = delete;
  Shard& operator=(const Shard&) = delete;
  ~Shard() {
    for (size_t i = 0; i < keys.capacity(); ++i) {
      if (Entry* e = keys.slot_at(i)->entry) free_entry(e);
    }
  }

  Entry* find_key(std::string_view key, size_t key_hash) const {
    Slot* s = keys.find(key_hash, [key](const Entry* e) { return e->key() == key; });
    return s == nullptr ? nullptr : s->entry;
  }

  // The first of the keys whose token value is `value`, linked through
  // next_same_value.
  Slot* value_slot(std::string_view value, size_t value_hash) const {
    return values.find(value_hash,
                       [value](const Entry* e) { return *token_value_of(e->key()) == value; });
  }

  void put(std::string_view key, size_t key_hash, const TokenMapping& m) {
    Session* session = intern(m.session_id, m.session_uuid);
    Entry* e = make_entry(key, m, session);
    ++session->refs;
    const std::optional<std::string_view> value = token_value_of(key);
    if (Slot* ks = keys.find(key_hash, [key](const Entry* old) { return old->key() == key; })) {
      // Same key, so same token value: the new entry takes the old one's
      // place in the value chain.
      Entry* old = ks->entry;
      e->prev_same_value = old->prev_same_value;
      e->next_same_value = old->next_same_value;
      if (e->next_same_value != nullptr) e->next_same_value->prev_same_value = e;
      if (e->prev_same_value != nullptr) {
        e->prev_same_value->next_same_value = e;
      } else if (value) {
        Slot* vs = values.find(hash_text(*value), [old](const Entry* h) { return h == old; });
        assert(vs != nullptr);
        vs->entry = e;
      }
      ks->entry = e;
      release(old->session);
      free_entry(old);
      return;
    }
    keys.add(key_hash, e);
    if (value) {
      const size_t value_hash = hash_text(*value);
      if (Slot* vs = value_slot(*value, value_hash)) {
        e->next_same_value = vs->entry;
        vs->entry->prev_same_value = e;
        vs->entry = e;
      } else {
        values.add(value_hash, e);
      }
    }
  }

  void erase(Slot* key_slot) {
    Entry* e = key_slot->entry;
    if (e->prev_same_value != nullptr) {
      e->prev_same_value->next_same_value = e->next_same_value;
      if (e->next_same_value != nullptr) e->next_same_value->prev_same_value = e->prev_same_value;
    } else if (const auto value = token_value_of(e->key())) {
      Slot* vs = values.find(hash_text(*value), [e](const Entry* h) { return h == e; });
      assert(vs != nullptr);
      if (e->next_same_value != nullptr) {
        e->next_same_value->prev_same_value = nullptr;
        vs->entry = e->next_same_value;
      } else {
        values.erase(vs);
      }
    }
    keys.erase(key_slot);
    release(e->session);
    free_entry(e);
  }

  void erase_session(const Uuid& uuid) {
    // Erasing shifts later slots back into slot i, so i is examined again
    // until it holds a survivor or nothing.
    for (size_t i = 0; i < keys.capacity(); ++i) {
      Slot* s = keys.slot_at(i);
      while (s->entry != nullptr && s->entry->session->uuid == uuid) erase(s);
    }
  }

  // Counts keys ending with ":" value ">" up to two, remembering the first.
  void walk_value(std::string_view value, size_t& count, const Entry*& first) const {
    for (size_t i = 0; i < keys.capacity() && count < 2; ++i) {
      const Entry* e = keys.slot_at(i)->entry;
      if (e != nullptr && ends_with_value(e->key(), value)) {
        if (count++ == 0) first = e;
      }
    }
  }

  Session* intern(const std::string& id, const Uuid& uuid) {
    if (last_session != nullptr && last_session->uuid == uuid && last_session->id == id) {
      return last_session;
    }
    std::string name(reinterpret_cast<const char*>(uuid.data()), uuid.size());
    name += id;
    auto [it, added] = sessions.try_emplace(std::move(name));
    if (added) it->second = Session{id, uuid, 0};
    last_session = &it->second;
    return last_session;
  }

  void release(Session* session) {
    if (--session->refs != 0) return;
    if (last_session == session) last_session = nullptr;
    std::string name(reinterpret_cast<const char*>(session->uuid.data()), session->uuid.size());
    name += session->id;
    sessions.erase(name);
  }

  mutable std::shared_mutex mu;
  SlotTable keys;    // hash of the key
  SlotTable values;  // hash of the token value, one slot per distinct value
  // Keyed by the uuid bytes followed by the session id; node-based, so
  // entries can point at the values.
  std::unordered_map<std::string, Session> sessions;
  Session* last_session = nullptr;
};

namespace {

// Takes every shard lock in index order, which is the one order in which
// more than one shard lock is ever held.
template <class Lock, class ShardT>
class AllShards {
 public:
  AllShards(ShardT* shards, size_t count) : shards_(shards), count_(count) {
    for (size_t i = 0; i < count_; ++i) Lock::lock(shards_[i].mu);
  }
  ~AllShards() {
    for (size_t i = count_; i-- > 0;) Lock::unlock(shards_[i].mu);
  }
  AllShards(const AllShards&) = delete;
  AllShards& operator=(const AllShards&) = delete;

 private:
  ShardT* shards_;
  size_t count_;
};

struct Exclusive {
  static void lock(std::shared_mutex& mu) { mu.lock(); }
  static void unlock(std::shared_mutex& mu) { mu.unlock(); }
};
struct Shared {
  static void lock(std::shared_mutex& mu) { mu.lock_shared(); }
  static void unlock(std::shared_mutex& mu) { mu.unlock_shared(); }
};

size_t round_shard_count(size_t requested) {
  if (requested <= 1) return 1;
  if (requested >= InMemoryTokenVault::kMaxShardCount) return InMemoryTokenVault::kMaxShardCount;
  return std::bit_ceil(requested);
}

size_t route_hash_of_key(std::string_view key) {
  const auto value = token_value_of(key);
  return hash_text(value ? *value : key);
}

}  // namespace

InMemoryTokenVault::InMemoryTokenVault(size_t shard_count)
    : shard_count_(round_shard_count(shard_count)),
      shard_shift_(std::numeric_limits<size_t>::digits - std::countr_zero(shard_count_)),
      shards_(new Shard[shard_count_]) {}

InMemoryTokenVault::~InMemoryTokenVault() = default;

InMemoryTokenVault::Shard& InMemoryTokenVault::shard_of_hash(size_t route_hash) const {
  // The top bits pick the shard; the tables inside use the low bits.
  if (shard_count_ == 1) return shards_[0];
  return shards_[route_hash >> shard_shift_];
}

InMemoryTokenVault::Shard& InMemoryTokenVault::shard_of_key(std::string_view key) const {
  return shard_of_hash(route_hash_of_key(key));
}

InMemoryTokenVault::Shard& InMemoryTokenVault::shard_of_value(std::string_view value) const {
  return shard_of_hash(hash_text(value));
}

void InMemoryTokenVault::insert(std::string_view token, TokenMapping mapping) {
  Shard& shard = shard_of_key(token);
  const size_t key_hash = hash_text(token);
  std::unique_lock lock(shard.mu);
  shard.put(token, key_hash, mapping);
}

std::optional<TokenMapping> InMemoryTokenVault::get(std::string_view token) const {
  Shard& shard = shard_of_key(token);
  const size_t key_hash = hash_text(token);
  std::shared_lock lock(shard.mu);
  const Entry* e = shard.find_key(token, key_hash);
  if (e == nullptr) return std::nullopt;
  return e->to_mapping();
}

std::optional<TokenMapping> InMemoryTokenVault::find_by_value(std::string_view value) const {
  if (value.find(':') == std::string_view::npos) {
    const size_t value_hash = hash_text(value);
    Shard& shard = shard_of_hash(value_hash);
    std::shared_lock lock(shard.mu);
    const Slot* vs = shard.value_slot(value, value_hash);
    if (vs == nullptr || vs->entry->next_same_value != nullptr) return std::nullopt;
    return vs->entry->to_mapping();
  }
  // A value with ':' can end keys of any token value: walk them all.
  AllShards<Shared, Shard> all(shards_.get(), shard_count_);
  size_t count = 0;
  const Entry* first = nullptr;
  for (size_t i = 0; i < shard_count_ && count < 2; ++i) shards_[i].walk_value(value, count, first);
  if (count != 1) return std::nullopt;
  return first->to_mapping();
}

void InMemoryTokenVault::remove_session(const Uuid& session_uuid) {
  AllShards<Exclusive, Shard> all(shards_.get(), shard_count_);
  for (size_t i = 0; i < shard_count_; ++i) shards_[i].erase_session(session_uuid);
}

void InMemoryTokenVault::remove(std::string_view token) {
  Shard& shard = shard_of_key(token);
  const size_t key_hash = hash_text(token);
  std::unique_lock lock(shard.mu);
  if (Slot* s = shard.keys.find(key_hash, [token](const Entry* e) { return e->key() == token; })) {
    shard.erase(s);
  }
}

bool InMemoryTokenVault::insert_if_value_free(std::string_view value, std::string_view token,
                                              TokenMapping mapping) {
  Shard& key_shard = shard_of_key(token);
  const size_t key_hash = hash_text(token);
  if (value.find(':') == std::string_view::npos) {
    const size_t value_hash = hash_text(value);
    Shard& value_shard = shard_of_hash(value_hash);
    // Usually the token carries the value and both are one shard; otherwise
    // the two locks are taken in shard order.
    Shard* lo = &value_shard < &key_shard ? &value_shard : &key_shard;
    Shard* hi = &value_shard < &key_shard ? &key_shard : &value_shard;
    std::unique_lock first(lo->mu);
    std::unique_lock<std::shared_mutex> second;
    if (hi != lo) second = std::unique_lock(hi->mu);
    if (value_shard.value_slot(value, value_hash) != nullptr) return false;
    key_shard.put(token, key_hash, mapping);
    return true;
  }
  AllShards<Exclusive, Shard> all(shards_.get(), shard_count_);
  size_t count = 0;
  const Entry* first = nullptr;
  for (size_t i = 0; i < shard_count_ && count == 0; ++i) shards_[i].walk_value(value, count, first);
  if (count != 0) return false;
  key_shard.put(token, key_hash, mapping);
  return true;
}

size_t InMemoryTokenVault::size() const {
  size_t total = 0;
  for (size_t i = 0; i < shard_count_; ++i) {
    std::shared_lock lock(shards_[i].mu);
    total += shards_[i].keys.size();
  }
  return total;
}

}  // namespace quorvel::vault
