// The waits between resyncs after failed sends: the configured first wait,
// doubled after every failed resync, never above 30 s; back to the first
// wait once a resync went through.
#pragma once

#include <algorithm>
#include <cstdint>

namespace ostrel::worker {

class Backoff {
  public:
    static constexpr uint32_t kDefaultFirstMs = 100;
    static constexpr uint32_t kLongestMs = 30000;

    explicit Backoff(uint32_t first_ms)
        : first_ms_(
              std::min(first_ms != 0 ? first_ms : kDefaultFirstMs, kLongestMs)),
          next_ms_(first_ms_) {}

    // The wait before the next resync; the one after it is twice as long.
    uint32_t take_ms() {
        const uint32_t wait = next_ms_;
        next_ms_ = std::min(next_ms_ * 2, kLongestMs);
        return wait;
    }
    void reset() { next_ms_ = first_ms_; }

  private:
    uint32_t first_ms_;
    uint32_t next_ms_;
};

} // namespace ostrel::worker
