// Randomness: the OS cryptographic source, and a per-thread generator seeded
// from it for uniform integers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel {

// Fills `len` bytes from the OS cryptographic random source.
void fill_random(void* out, size_t len) noexcept;

// A uniform integer in [lo, hi] from this thread's generator.
uint64_t thread_random_uniform(uint64_t lo, uint64_t hi) noexcept;

}  // namespace quorvel
