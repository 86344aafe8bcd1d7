// Wall-clock timing of one region inside a benchmark iteration, for
// benchmarks registered with UseManualTime(): only the region is counted.
#pragma once

#include <chrono>
#include <ctime>

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

// Processor time of the calling thread so far, in seconds.
inline double thread_cpu_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) +
           static_cast<double>(ts.tv_nsec) * 1e-9;
}

} // namespace bench
