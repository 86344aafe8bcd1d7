// What the library did, counted with plain integers on the caller's thread,
// and the event hook that sees each send attempt, retry sleep, failed send,
// drain and bulk rollback as it happens.
//
// The instrumentation points call the inline functions below: an increment,
// and a clock reading around the calls that wait (the transport's send and
// receive, the retry sleep). The hook is called only when one is set. With
// OSTREL_NO_COUNTING defined (the benchmarks' baseline build) every one of
// them compiles to nothing.
//
// Nothing here calls the platform or allocates, and errno is the same after
// an event as before it, so the specified calls see no difference.
#pragma once

#include <cstdint>
#include <ctime>

#include "ostrelapi.h"

namespace ostrel::observe {

// The running totals; the registry figures are counted when asked for.
struct Tally {
    uint64_t calls;
    uint64_t requests_built;
    uint64_t messages_sent;
    uint64_t bytes_sent;
    uint64_t send_attempts;
    uint64_t send_retries;
    uint64_t send_failures;
    uint64_t drains;
    uint64_t drain_failures;
    uint64_t bulk_rollbacks;
    uint64_t resyncs;
    uint64_t wait_ns;
    // Time waited in the send under way (its attempts and sleeps): the
    // duration of its failure event.
    uint64_t send_wait_ns;
    // Entry points running: a nested entry point is not another call.
    uint32_t call_depth;
};

extern Tally tally;
extern ostrel_api_event_hook_t event_hook;

// Hands the event to the hook (errno kept as it was).
void emit(uint32_t kind, uint32_t status, int32_t error, uint64_t bytes,
          uint64_t duration_ns);

#ifndef OSTREL_NO_COUNTING

inline uint64_t clock_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u +
           static_cast<uint64_t>(ts.tv_nsec);
}

// Counts an exported programming call, once however deeply entry points
// call each other.
class CallScope {
  public:
    CallScope() {
        if (tally.call_depth++ == 0) {
            ++tally.calls;
        }
    }
    ~CallScope() { --tally.call_depth; }
    CallScope(const CallScope &) = delete;
    CallScope &operator=(const CallScope &) = delete;
};

inline void request_built() {
    ++tally.requests_built;
}
inline void resync_started() {
    ++tally.resyncs;
}

// One send attempt that started at `start` and returned `result`; `error`
// is errno as the transport left it.
void send_attempted(int result, int error, uint32_t bytes, uint64_t start);
// One retry sleep that started at `start`.
void retry_slept(uint64_t start);
// A send given up (after its retries) with `status`.
void send_failed(uint32_t status, int error, uint32_t bytes);
// One drain whose receive took `waited` ns and that returns `status`;
// `receive_failed` when the receive itself failed.
void drained(uint32_t status, bool receive_failed, uint64_t waited);
// A bulk call's changes taken back after `status`, the undo having started
// at `start`.
void bulk_rolled_back(uint32_t status, uint64_t start);

#else // the baseline: nothing counted, nothing timed

inline uint64_t clock_ns() {
    return 0;
}
class CallScope {
  public:
    CallScope() {}
};
inline void request_built() {}
inline void resync_started() {}
inline void send_attempted(int, int, uint32_t, uint64_t) {}
inline void retry_slept(uint64_t) {}
inline void send_failed(uint32_t, int, uint32_t) {}
inline void drained(uint32_t, bool, uint64_t) {}
inline void bulk_rolled_back(uint32_t, uint64_t) {}

#endif

} // namespace ostrel::observe
