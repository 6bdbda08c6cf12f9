// Arena: bump allocation for one call's JSON tree, released all at once.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace quorvel::json {

class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena();

  void* allocate(size_t size, size_t align = alignof(std::max_align_t)) {
    const auto addr = reinterpret_cast<uintptr_t>(cur_);
    const uintptr_t aligned = (addr + align - 1) & ~(uintptr_t{align} - 1);
    if (cur_ != nullptr && aligned + size <= reinterpret_cast<uintptr_t>(end_)) {
      cur_ = reinterpret_cast<char*>(aligned + size);
      return reinterpret_cast<void*>(aligned);
    }
    return allocate_slow(size, align);
  }

  template <class T>
  T* allocate_array(size_t n) {
    return static_cast<T*>(allocate(n * sizeof(T), alignof(T)));
  }

  // A copy of `s` that lives as long as the arena.
  std::string_view copy(std::string_view s) {
    if (s.empty()) return std::string_view("", 0);
    char* p = static_cast<char*>(allocate(s.size(), 1));
    std::memcpy(p, s.data(), s.size());
    return {p, s.size()};
  }

  size_t bytes_reserved() const { return reserved_; }

 private:
  struct Block {
    Block* next;
  };
  void* allocate_slow(size_t size, size_t align);

  char* cur_ = nullptr;
  char* end_ = nullptr;
  Block* head_ = nullptr;
  size_t next_block_size_ = 4096;
  size_t reserved_ = 0;
};

}  // namespace quorvel::json
