// Waitable objects of the device simulator: threads, processes and named mutexes
// share one handle type with a wait operation of their own.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/platform.h"

namespace plat {

struct Object {
  virtual ~Object() = default;
  // Waits up to timeoutMs (kInfinite for ever); kWaitObject0, kWaitTimeout or kWaitFailed.
  virtual std::uint32_t Wait(std::uint32_t timeoutMs) = 0;
};

namespace posix {

// A deadline for a wait of timeoutMs; never reached for kInfinite.
class Deadline {
 public:
  explicit Deadline(std::uint32_t timeoutMs)
      : infinite_(timeoutMs == kInfinite),
        end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {}
  bool infinite() const { return infinite_; }
  std::chrono::steady_clock::time_point end() const { return end_; }
  // Milliseconds left (rounded up, at least 0); -1 for an infinite wait.
  int RemainingMs() const {
    if (infinite_) return -1;
    const auto left = end_ - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
  }
  bool Passed() const { return !infinite_ && std::chrono::steady_clock::now() >= end_; }

 private:
  bool infinite_;
  std::chrono::steady_clock::time_point end_;
};

}  // namespace posix
}  // namespace plat
