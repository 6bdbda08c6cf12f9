// The system clock as a UTC time point with nanoseconds.
#pragma once

#include <chrono>

namespace quorvel {

using UtcTime = std::chrono::sys_time<std::chrono::nanoseconds>;

inline UtcTime utc_now() noexcept {
  return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
}

}  // namespace quorvel
