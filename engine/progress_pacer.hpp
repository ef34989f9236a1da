#pragma once

#include <chrono>
#include <cstdint>

namespace tavrin {

// Tells when to show the run's progress again. A run has millions of tokens a
// second, and even reading the clock for each would slow it: the clock is read
// only every so many calls. With an interval of zero every call is due.
class ProgressPacer {
 public:
  explicit ProgressPacer(std::chrono::steady_clock::duration interval) : m_interval(interval) {}

  // Whether the interval has passed since progress was last shown.
  bool isDue() {
    if (--m_callsLeft != 0) return false;
    if (m_interval == std::chrono::steady_clock::duration::zero()) {
      m_callsLeft = 1;
      return true;
    }
    m_callsLeft = kCallsPerClockReading;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastShown < m_interval) return false;
    m_lastShown = now;
    return true;
  }

 private:
  static constexpr std::uint32_t kCallsPerClockReading = 1024;
  std::chrono::steady_clock::duration m_interval;
  std::chrono::steady_clock::time_point m_lastShown{};
  std::uint32_t m_callsLeft = 1;  // the first call reads the clock
};

}  // namespace tavrin
