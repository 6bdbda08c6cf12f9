#include "util/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>
#include <random>

namespace quorvel {

void fill_random(void* out, size_t len) noexcept {
  auto* p = static_cast<unsigned char*>(out);
  while (len > 0) {
    const ssize_t n = getrandom(p, len, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::abort();  // no random source: nothing sound to fall back on
    }
    p += n;
    len -= static_cast<size_t>(n);
  }
}

uint64_t thread_random_uniform(uint64_t lo, uint64_t hi) noexcept {
  thread_local std::mt19937_64 engine = [] {
    std::seed_seq::result_type seed[8];
    fill_random(seed, sizeof seed);
    std::seed_seq seq(std::begin(seed), std::end(seed));
    return std::mt19937_64(seq);
  }();
  std::uniform_int_distribution<uint64_t> dist(lo, hi);
  return dist(engine);
}

}  // namespace quorvel
