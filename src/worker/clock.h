// The worker's sense of time: CLOCK_MONOTONIC, and a wait on a condition
// variable until a point of that clock. Tests put a clock of their own in
// its place, which moves only when they say, so the resync backoff is
// checked without waiting for it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace ostrel::worker {

inline constexpr uint64_t kNever = UINT64_MAX;

class Clock {
  public:
    virtual ~Clock() = default;
    // Nanoseconds of CLOCK_MONOTONIC (or of the test's clock).
    virtual uint64_t now_ns() = 0;
    // Waits on cv (lock held) until it is notified or the clock reaches
    // deadline_ns (kNever: until notified). May return early: the caller
    // looks again at what it waits for.
    virtual void wait_until(std::unique_lock<std::mutex> &lock,
                            std::condition_variable &cv,
                            uint64_t deadline_ns) = 0;
};

// The system's monotonic clock.
class MonotonicClock final : public Clock {
  public:
    uint64_t now_ns() override;
    void wait_until(std::unique_lock<std::mutex> &lock,
                    std::condition_variable &cv, uint64_t deadline_ns) override;
};

// The process's one monotonic clock.
Clock &monotonic_clock();

} // namespace ostrel::worker
