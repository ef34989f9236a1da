#pragma once

#include <chrono>
#include <cstdint>

namespace tavrin {

// Tells a front end when to show the run's progress again. A run reports every
// token, millions a second, and even reading the clock for each would slow it:
// the clock is read only every so many calls.
class ProgressPacer {
 public:
  explicit ProgressPacer(std::chrono::steady_clock::duration interval) : m_interval(interval) {}

  // Whether the interval has passed since progress was last shown.
  bool isDue() {
    if (++m_calls % kCallsPerClockReading != 0) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastShown < m_interval) return false;
    m_lastShown = now;
    return true;
  }

 private:
  static constexpr std::uint32_t kCallsPerClockReading = 64;
  std::chrono::steady_clock::duration m_interval;
  std::chrono::steady_clock::time_point m_lastShown{};
  std::uint32_t m_calls = kCallsPerClockReading - 1;  // the first call reads the clock
};

}  // namespace tavrin
