#include "vault/in_memory_token_vault.h"

#include <bit>
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
// between K's last ':' and its final '>'. That V is the key's token value.
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

// Where a key lives: the hash of its token value, or of the whole key when it
// has none. Keys that share a token value therefore share a shard and a probe
// run, which is what makes the value search a short scan.
size_t route_hash_of_key(std::string_view key) {
  const auto value = token_value_of(key);
  return hash_text(value ? *value : key);
}

uint32_t low32(size_t h) { return static_cast<uint32_t>(h); }

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
static_assert(sizeof(Entry) == 32 && sizeof(Entry) % alignof(Entry) == 0);

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
  auto* e = new (mem) Entry{session,
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

// The low 32 bits of the route hash place the slot and, with a 32-bit hash of
// the key, let a probe skip other keys without touching their entries.
struct Slot {
  uint32_t route;
  uint32_t key_tag;
  Entry* entry;  // null for a free slot
};

// Open-addressing table with linear probing and backward-shift deletion (no
// tombstones): every entry sits in the run of occupied slots that starts at
// its home, so all keys of one token value are found by scanning from that
// home to the next free slot.
class SlotTable {
 public:
  SlotTable() = default;
  SlotTable(const SlotTable&) = delete;
  SlotTable& operator=(const SlotTable&) = delete;
  ~SlotTable() { std::free(slots_); }

  size_t size() const { return size_; }
  size_t capacity() const { return slots_ == nullptr ? 0 : mask_ + 1; }
  Slot& at(size_t i) const { return slots_[i]; }
  size_t home(uint32_t route) const { return route & mask_; }
  size_t next(size_t i) const { return (i + 1) & mask_; }
  // True when probing may start: an empty table has no slots.
  bool empty() const { return size_ == 0; }

  // The caller has made sure that no slot holds the same key.
  void add(uint32_t route, uint32_t key_tag, Entry* entry) {
    if ((size_ + 1) * 4 > capacity() * 3) grow();
    place(Slot{route, key_tag, entry});
    ++size_;
  }

  void erase(size_t hole) {
    for (size_t j = next(hole); slots_[j].entry != nullptr; j = next(j)) {
      const size_t h = home(slots_[j].route);
      // An entry whose home lies cyclically in (hole, j] must stay put.
      const bool stays = hole <= j ? (hole < h && h <= j) : (hole < h || h <= j);
      if (stays) continue;
      slots_[hole] = slots_[j];
      hole = j;
    }
    slots_[hole] = Slot{0, 0, nullptr};
    --size_;
  }

 private:
  void place(Slot slot) {
    size_t i = home(slot.route);
    while (slots_[i].entry != nullptr) i = next(i);
    slots_[i] = slot;
  }

  void grow() {
    const size_t old_capacity = capacity();
    Slot* old = slots_;
    const size_t capacity = old_capacity == 0 ? 16 : old_capacity * 2;
    // Homes come from 32 bits of hash.
    if (capacity - 1 > std::numeric_limits<uint32_t>::max()) die_out_of_memory(capacity * sizeof(Slot));
    slots_ = static_cast<Slot*>(checked_malloc(capacity * sizeof(Slot)));
    for (size_t i = 0; i < capacity; ++i) slots_[i] = Slot{0, 0, nullptr};
    mask_ = capacity - 1;
    for (size_t i = 0; i < old_capacity; ++i) {
      if (old[i].entry != nullptr) place(old[i]);
    }
    std::free(old);
  }

  Slot* slots_ = nullptr;
  size_t mask_ = 0;
  size_t size_ = 0;
};

constexpr size_t kNotFound = std::numeric_limits<size_t>::max();

}  // namespace

// Members are guarded by `mu`.
struct alignas(64) InMemoryTokenVault::Shard {
  Shard() = default;
  Shard(const Shard&) = delete;
  Shard& operator=(const Shard&) = delete;
  ~Shard() {
    for (size_t i = 0; i < table.capacity(); ++i) {
      if (Entry* e = table.at(i).entry) free_entry(e);
    }
  }

  // The slot index of `key`, or kNotFound.
  size_t find_key(std::string_view key, uint32_t route, uint32_t key_tag) const {
    if (table.empty()) return kNotFound;
    for (size_t i = table.home(route); table.at(i).entry != nullptr; i = table.next(i)) {
      const Slot& s = table.at(i);
      if (s.route == route && s.key_tag == key_tag && s.entry->key() == key) return i;
    }
    return kNotFound;
  }

  // Counts, up to two, the keys whose token value is `value` (a text without
  // ':'), remembering the first.
  size_t count_value(std::string_view value, uint32_t route, const Entry** first) const {
    if (table.empty()) return 0;
    size_t count = 0;
    for (size_t i = table.home(route); table.at(i).entry != nullptr; i = table.next(i)) {
      const Slot& s = table.at(i);
      if (s.route != route || token_value_of(s.entry->key()) != value) continue;
      if (count++ == 0) *first = s.entry;
      if (count == 2) break;
    }
    return count;
  }

  // Counts, up to two, the keys ending with ":" value ">" by looking at all.
  void walk_value(std::string_view value, size_t& count, const Entry*& first) const {
    for (size_t i = 0; i < table.capacity() && count < 2; ++i) {
      const Entry* e = table.at(i).entry;
      if (e != nullptr && ends_with_value(e->key(), value)) {
        if (count++ == 0) first = e;
      }
    }
  }

  void put(std::string_view key, uint32_t route, uint32_t key_tag, const TokenMapping& m) {
    Session* session = intern(m.session_id, m.session_uuid);
    Entry* e = make_entry(key, m, session);
    ++session->refs;
    if (const size_t i = find_key(key, route, key_tag); i != kNotFound) {
      Entry* old = table.at(i).entry;
      table.at(i).entry = e;
      release(old->session);
      free_entry(old);
      return;
    }
    table.add(route, key_tag, e);
  }

  void erase(size_t i) {
    Entry* e = table.at(i).entry;
    table.erase(i);
    release(e->session);
    free_entry(e);
  }

  void erase_session(const Uuid& uuid) {
    // Erasing shifts later slots back into slot i, so i is examined again
    // until it holds a survivor or nothing.
    for (size_t i = 0; i < table.capacity(); ++i) {
      while (table.at(i).entry != nullptr && table.at(i).entry->session->uuid == uuid) erase(i);
    }
  }

  Session* intern(const std::string& id, const Uuid& uuid) {
    if (last_session != nullptr && last_session->uuid == uuid && last_session->id == id) {
      return last_session;
    }
    auto [it, added] = sessions.try_emplace(session_name(id, uuid));
    if (added) it->second = Session{id, uuid, 0};
    last_session = &it->second;
    return last_session;
  }

  void release(Session* session) {
    if (--session->refs != 0) return;
    if (last_session == session) last_session = nullptr;
    sessions.erase(session_name(session->id, session->uuid));
  }

  static std::string session_name(const std::string& id, const Uuid& uuid) {
    std::string name(reinterpret_cast<const char*>(uuid.data()), uuid.size());
    name += id;
    return name;
  }

  mutable std::shared_mutex mu;
  SlotTable table;
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

}  // namespace

InMemoryTokenVault::InMemoryTokenVault(size_t shard_count)
    : shard_count_(round_shard_count(shard_count)),
      shard_shift_(std::numeric_limits<size_t>::digits - std::countr_zero(shard_count_)),
      shards_(new Shard[shard_count_]) {}

InMemoryTokenVault::~InMemoryTokenVault() = default;

InMemoryTokenVault::Shard& InMemoryTokenVault::shard_of_hash(size_t route_hash) const {
  // The top bits pick the shard; the table inside uses the low bits.
  if (shard_count_ == 1) return shards_[0];
  return shards_[route_hash >> shard_shift_];
}

void InMemoryTokenVault::insert(std::string_view token, TokenMapping mapping) {
  const size_t route = route_hash_of_key(token);
  Shard& shard = shard_of_hash(route);
  const uint32_t key_tag = low32(hash_text(token));
  std::unique_lock lock(shard.mu);
  shard.put(token, low32(route), key_tag, mapping);
}

std::optional<TokenMapping> InMemoryTokenVault::get(std::string_view token) const {
  const size_t route = route_hash_of_key(token);
  Shard& shard = shard_of_hash(route);
  const uint32_t key_tag = low32(hash_text(token));
  std::shared_lock lock(shard.mu);
  const size_t i = shard.find_key(token, low32(route), key_tag);
  if (i == kNotFound) return std::nullopt;
  return shard.table.at(i).entry->to_mapping();
}

std::optional<TokenMapping> InMemoryTokenVault::find_by_value(std::string_view value) const {
  if (value.find(':') == std::string_view::npos) {
    const size_t route = hash_text(value);
    Shard& shard = shard_of_hash(route);
    std::shared_lock lock(shard.mu);
    const Entry* first = nullptr;
    if (shard.count_value(value, low32(route), &first) != 1) return std::nullopt;
    return first->to_mapping();
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
  const size_t route = route_hash_of_key(token);
  Shard& shard = shard_of_hash(route);
  const uint32_t key_tag = low32(hash_text(token));
  std::unique_lock lock(shard.mu);
  if (const size_t i = shard.find_key(token, low32(route), key_tag); i != kNotFound) shard.erase(i);
}

bool InMemoryTokenVault::insert_if_value_free(std::string_view value, std::string_view token,
                                              TokenMapping mapping) {
  const size_t key_route = route_hash_of_key(token);
  Shard& key_shard = shard_of_hash(key_route);
  const uint32_t key_tag = low32(hash_text(token));
  if (value.find(':') == std::string_view::npos) {
    const size_t value_route = hash_text(value);
    Shard& value_shard = shard_of_hash(value_route);
    // Usually the token carries the value and both are one shard; otherwise
    // the two locks are taken in shard order.
    Shard* lo = &value_shard < &key_shard ? &value_shard : &key_shard;
    Shard* hi = &value_shard < &key_shard ? &key_shard : &value_shard;
    std::unique_lock first_lock(lo->mu);
    std::unique_lock<std::shared_mutex> second_lock;
    if (hi != lo) second_lock = std::unique_lock(hi->mu);
    const Entry* first = nullptr;
    if (value_shard.count_value(value, low32(value_route), &first) != 0) return false;
    key_shard.put(token, low32(key_route), key_tag, mapping);
    return true;
  }
  AllShards<Exclusive, Shard> all(shards_.get(), shard_count_);
  size_t count = 0;
  const Entry* first = nullptr;
  for (size_t i = 0; i < shard_count_ && count == 0; ++i) shards_[i].walk_value(value, count, first);
  if (count != 0) return false;
  key_shard.put(token, low32(key_route), key_tag, mapping);
  return true;
}

size_t InMemoryTokenVault::size() const {
  size_t total = 0;
  for (size_t i = 0; i < shard_count_; ++i) {
    std::shared_lock lock(shards_[i].mu);
    total += shards_[i].table.size();
  }
  return total;
}

}  // namespace quorvel::vault
