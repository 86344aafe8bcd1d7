// CLOCK_MONOTONIC for the worker; std::chrono::steady_clock is that clock
// on Linux, so its time points and ours are the same numbers.
#include "worker/clock.h"

#include <chrono>
#include <time.h>

namespace ostrel::worker {

uint64_t MonotonicClock::now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}

void MonotonicClock::wait_until(std::unique_lock<std::mutex> &lock,
                                std::condition_variable &cv,
                                uint64_t deadline_ns) {
    if (deadline_ns == kNever) {
        cv.wait(lock);
        return;
    }
    using std::chrono::steady_clock;
    const steady_clock::time_point deadline{
        std::chrono::nanoseconds(static_cast<steady_clock::rep>(deadline_ns))};
    cv.wait_until(lock, deadline);
}

Clock &monotonic_clock() {
    static MonotonicClock clock;
    return clock;
}

} // namespace ostrel::worker
