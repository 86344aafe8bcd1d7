// Wall-clock timing of one region inside a benchmark iteration, for
// benchmarks registered with UseManualTime(): only the region is counted.
#pragma once

#include <chrono>

#include <benchmark/benchmark.h>

namespace bench {

class RegionTimer {
  public:
    void start() { start_ = Clock::now(); }
    // Seconds since start().
    double stop() const {
        return std::chrono::duration<double>(Clock::now() - start_).count();
    }

  private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point start_;
};

} // namespace bench
