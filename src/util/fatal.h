// The two ways the library ends the process: exhausted memory and a counter
// that would overflow. Neither can be reported across the C interface.
#pragma once

#include <cstddef>

namespace quorvel {

[[noreturn]] void die_out_of_memory(std::size_t requested) noexcept;
[[noreturn]] void die_refcount_overflow() noexcept;

// malloc/realloc that never return null: on failure they report the size on
// stderr and abort.
void* checked_malloc(std::size_t size) noexcept;
void* checked_realloc(void* block, std::size_t size) noexcept;

}  // namespace quorvel
