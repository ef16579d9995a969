// A point in time on the monotonic clock (std::chrono::steady_clock is
// CLOCK_MONOTONIC on Linux), so a wall-clock step never stretches or cuts
// a serial time-out. Internal to the link.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Deadline(uint64_t ms) : at_(Clock::now() + std::chrono::milliseconds(ms)) {}

  void Restart(uint64_t ms) { at_ = Clock::now() + std::chrono::milliseconds(ms); }

  bool Expired() const { return Clock::now() >= at_; }

  // Milliseconds left, rounded up so that a poll() for this long never
  // returns before the deadline; 0 once it has passed.
  uint32_t RemainingMs() const {
    const auto left = at_ - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT32_MAX ? INT32_MAX : static_cast<uint32_t>(ms);
  }

  void SleepUntil() const { std::this_thread::sleep_until(at_); }

 private:
  Clock::time_point at_;
};
