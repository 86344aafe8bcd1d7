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

#include <cerrno>
#include <cstdint>
#include <ctime>
#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

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
    uint64_t wait_ns;    // timed with CLOCK_MONOTONIC (a hook was set)
    uint64_t wait_ticks; // timed in ticks (no hook was set)
    // Time waited in the send under way (its attempts and sleeps): the
    // duration of its failure event. Kept only while a hook is set.
    uint64_t send_wait_ns;
    // Entry points running: a nested entry point is not another call.
    uint32_t call_depth;
};

extern Tally tally;
extern ostrel_api_event_hook_t event_hook;
extern bool timing; // ostrel_api_counters_set_timing

// Hands the event to the hook (errno kept as it was).
void emit(uint32_t kind, uint32_t status, int32_t error, uint64_t bytes,
          uint64_t duration_ns);

#ifndef OSTREL_NO_COUNTING

inline uint64_t monotonic_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u +
           static_cast<uint64_t>(ts.tv_nsec);
}

// Ticks of the clock that times waits while no hook is set: the
// processor's time stamp counter on x86 (a few nanoseconds to read, where
// clock_gettime takes tens), converted to CLOCK_MONOTONIC nanoseconds when
// the counters are read; elsewhere CLOCK_MONOTONIC nanoseconds themselves.
#if defined(__x86_64__) || defined(__i386__)
inline uint64_t ticks_now() {
    return __rdtsc();
}
inline constexpr bool kTicksAreNs = false;
#else
inline uint64_t ticks_now() {
    return monotonic_ns();
}
inline constexpr bool kTicksAreNs = true;
#endif

// Pairs a tick reading with a CLOCK_MONOTONIC one, once: the start of the
// scale that converts ticks to nanoseconds.
void anchor_ticks();
extern uint64_t anchor_tick;
uint64_t ticks_to_ns(uint64_t ticks);

// Times one wait (a send, a receive, a retry sleep) into wait_ns. While a
// hook is set it reads CLOCK_MONOTONIC, as the events' durations need;
// otherwise, when timing is on, it counts ticks; else it reads nothing.
class Stopwatch {
  public:
    Stopwatch()
        : precise_(event_hook != nullptr), ticking_(!precise_ && timing),
          start_(precise_   ? monotonic_ns()
                 : ticking_ ? ticks_now()
                            : 0) {}
    // Adds the wait to the total; returns its nanoseconds while a hook is
    // set, else 0.
    uint64_t stop() const {
        if (!ticking_ && !precise_) {
            return 0;
        }
        if (precise_) {
            const uint64_t waited = monotonic_ns() - start_;
            tally.wait_ns += waited;
            return waited;
        }
        const uint64_t end = ticks_now();
        if (end > start_) { // a move to a processor behind is not a wait
            tally.wait_ticks += end - start_;
        }
        if (anchor_tick == 0) {
            anchor_ticks();
        }
        return 0;
    }

  private:
    bool precise_;
    bool ticking_;
    uint64_t start_;
};

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

// The events of the inline functions below, out of line: only run while
// a hook is set.
void report_send_attempt(int result, int error, uint32_t bytes,
                         uint64_t waited);
void report_retry_sleep(uint64_t waited);
void report_drain(uint32_t status, bool receive_failed, uint64_t waited);

// One send attempt that returned `result`, `waited` as Stopwatch::stop
// gave it; called right after the transport's send, while errno is as it
// left it.
inline void send_attempted(int result, uint32_t bytes, uint64_t waited) {
    ++tally.send_attempts;
    if (result == 0) {
        ++tally.messages_sent;
        tally.bytes_sent += bytes;
    }
    if (event_hook != nullptr) {
        report_send_attempt(result, errno, bytes, waited);
    }
}
// One retry sleep of `waited` ns.
inline void retry_slept(uint64_t waited) {
    ++tally.send_retries;
    if (event_hook != nullptr) {
        report_retry_sleep(waited);
    }
}
// A send given up (after its retries) with `status`.
void send_failed(uint32_t status, int error, uint32_t bytes);
// One drain whose receive took `waited` ns and that returns `status`;
// `receive_failed` when the receive itself failed.
inline void drained(uint32_t status, bool receive_failed, uint64_t waited) {
    ++tally.drains;
    if (status != OSTREL_STATUS_OK) {
        ++tally.drain_failures;
    }
    if (event_hook != nullptr) {
        report_drain(status, receive_failed, waited);
    }
}
// A bulk call's changes taken back, in `took` ns, after `status`.
void bulk_rolled_back(uint32_t status, uint64_t took);

#else // the baseline: nothing counted, nothing timed

inline uint64_t monotonic_ns() {
    return 0;
}
uint64_t ticks_to_ns(uint64_t ticks);
class Stopwatch {
  public:
    Stopwatch() {}
    uint64_t stop() const { return 0; }
};
class CallScope {
  public:
    CallScope() {}
};
inline void request_built() {}
inline void resync_started() {}
inline void send_attempted(int, uint32_t, uint64_t) {}
inline void retry_slept(uint64_t) {}
inline void send_failed(uint32_t, int, uint32_t) {}
inline void drained(uint32_t, bool, uint64_t) {}
inline void bulk_rolled_back(uint32_t, uint64_t) {}

#endif

} // namespace ostrel::observe
