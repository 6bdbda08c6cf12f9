// StartLine: lets racing threads start each round together, for tests that
// look for interleavings.
#pragma once

#include <algorithm>
#include <atomic>
#include <thread>

namespace quorvel::testing {

// Lets the threads of a round go together: each spins until the last one
// has arrived, so the calls that follow overlap as far as the cores allow (a
// blocking barrier wakes its waiters one after another, too slowly for their
// calls to collide). Each thread then waits a short delay that varies from
// round to round, so that the threads' relative offsets sweep across the
// narrow windows where a non-atomic operation would interleave.
class StartLine {
 public:
  explicit StartLine(int threads) : threads_(threads) {}
  void arrive_and_wait(int round, int thread) {
    arrived_.fetch_add(1);
    const int everyone = threads_ * (round + 1);
    for (int spins = 0; arrived_.load(std::memory_order_acquire) < everyone; ++spins) {
      if (spins > 4096) std::this_thread::yield();
    }
    const unsigned delay = (static_cast<unsigned>(round) * 7919u + static_cast<unsigned>(thread) * 104729u) % 512u;
    for (unsigned i = 0; i < delay; ++i) (void)arrived_.load(std::memory_order_relaxed);
  }

 private:
  const int threads_;
  std::atomic<int> arrived_{0};
};

// As many threads as cores run at once, at least two.
inline int racing_threads() {
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 2u, 8u));
}

}  // namespace quorvel::testing
