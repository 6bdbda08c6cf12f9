#include "util/fatal.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace quorvel {

void die_out_of_memory(std::size_t requested) noexcept {
  std::fprintf(stderr, "libquorvel_ffi: out of memory allocating %zu bytes\n", requested);
  std::abort();
}

void die_refcount_overflow() noexcept { std::abort(); }

void* checked_malloc(std::size_t size) noexcept {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) die_out_of_memory(size);
  return p;
}

void* checked_realloc(void* block, std::size_t size) noexcept {
  void* p = std::realloc(block, size == 0 ? 1 : size);
  if (p == nullptr) die_out_of_memory(size);
  return p;
}

}  // namespace quorvel
