#include "json/arena.h"

#include <cstdint>
#include <cstdlib>

#include "util/fatal.h"

namespace quorvel::json {

namespace {
constexpr size_t kMaxBlockSize = size_t{1} << 20;
}

Arena::~Arena() {
  while (head_ != nullptr) {
    Block* next = head_->next;
    std::free(head_);
    head_ = next;
  }
}

void* Arena::allocate_slow(size_t size, size_t align) {
  const size_t header = (sizeof(Block) + alignof(std::max_align_t) - 1) &
                        ~(alignof(std::max_align_t) - 1);
  const size_t need = size + align + header;
  if (need > next_block_size_ / 2 && need > 4096) {
    // A large request gets a block of its own, linked behind the current one
    // so that the rest of the current block stays in use.
    auto* block = static_cast<Block*>(checked_malloc(need));
    reserved_ += need;
    if (head_ == nullptr) {
      block->next = nullptr;
      head_ = block;
    } else {
      block->next = head_->next;
      head_->next = block;
    }
    const auto base = reinterpret_cast<uintptr_t>(block) + header;
    return reinterpret_cast<void*>((base + align - 1) & ~(uintptr_t{align} - 1));
  }
  size_t block_size = next_block_size_;
  while (block_size < need) block_size *= 2;
  if (next_block_size_ < kMaxBlockSize) next_block_size_ *= 2;
  auto* block = static_cast<Block*>(checked_malloc(block_size));
  reserved_ += block_size;
  block->next = head_;
  head_ = block;
  cur_ = reinterpret_cast<char*>(block) + header;
  end_ = reinterpret_cast<char*>(block) + block_size;
  return allocate(size, align);
}

}  // namespace quorvel::json
