// The worker's counters: plain increments on the worker's thread, read
// from any thread (ostrel_worker_stats).
#pragma once

#include <atomic>
#include <cstdint>

namespace ostrel::worker {

struct Counters {
    std::atomic<uint64_t> bulk_calls{0};
    std::atomic<uint64_t> coalesced{0};
    std::atomic<uint64_t> replayed{0};
    std::atomic<uint64_t> send_failures{0};
    std::atomic<uint64_t> drain_failures{0};
    std::atomic<uint64_t> resyncs{0};
    std::atomic<uint64_t> restarts_seen{0};
};

inline void bump(std::atomic<uint64_t> &counter, uint64_t by = 1) {
    counter.fetch_add(by, std::memory_order_relaxed);
}

} // namespace ostrel::worker
