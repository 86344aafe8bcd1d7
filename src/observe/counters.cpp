// The counters' state, the event hook and the registry census.
#include "observe/counters.h"

#include <cerrno>
#include <cstring>

#include "programming/programming_internal.h"

namespace ostrel::observe {

Tally tally = {};
ostrel_api_event_hook_t event_hook = nullptr;
bool timing = false;
namespace {
void *hook_context = nullptr;

template <typename N> uint64_t length_of(const N *n) {
    uint64_t count = 0;
    for (; n != nullptr; n = n->next) {
        ++count;
    }
    return count;
}

// The registries as they stand: their lists walked, their counts not
// trusted.
void count_registry(ostrel_api_counters_t &c) {
    for (const VlanNode *v = brisel_handle.next; v != nullptr; v = v->next) {
        ++c.vlans;
        for (const IntfNode *i = v->first; i != nullptr; i = i->next) {
            ++c.interfaces;
            c.aces += length_of(i->first);
        }
    }
    c.port_channels = length_of(brisel_pchandle.next);
}

} // namespace

void emit(uint32_t kind, uint32_t status, int32_t error, uint64_t bytes,
          uint64_t duration_ns) {
    if (event_hook == nullptr) {
        return;
    }
    const ostrel_api_event_t event = {sizeof event, kind,  status,
                                      error,        bytes, duration_ns};
    const int saved_errno = errno;
    event_hook(&event, hook_context);
    errno = saved_errno;
}

#ifndef OSTREL_NO_COUNTING

void report_send_attempt(int result, int error, uint32_t bytes,
                         uint64_t waited) {
    tally.send_wait_ns += waited;
    uint32_t status = OSTREL_STATUS_OK;
    if (result == 0) {
        tally.send_wait_ns = 0;
        error = 0;
    } else {
        status = OSTREL_STATUS_SEND_ERROR(error);
    }
    emit(OSTREL_EVENT_SEND_ATTEMPT, status, error, bytes, waited);
}

void report_retry_sleep(uint64_t waited) {
    tally.send_wait_ns += waited;
    emit(OSTREL_EVENT_RETRY_SLEEP, OSTREL_STATUS_OK, 0, 0, waited);
}

void send_failed(uint32_t status, int error, uint32_t bytes) {
    ++tally.send_failures;
    const uint64_t waited = tally.send_wait_ns;
    tally.send_wait_ns = 0;
    emit(OSTREL_EVENT_SEND_FAILED, status, error, bytes, waited);
}

void report_drain(uint32_t status, bool receive_failed, uint64_t waited) {
    emit(OSTREL_EVENT_DRAIN, status,
         receive_failed ? static_cast<int32_t>(status) : 0, 0, waited);
}

void bulk_rolled_back(uint32_t status, uint64_t took) {
    ++tally.bulk_rollbacks;
    emit(OSTREL_EVENT_BULK_ROLLBACK, status, 0, 0, took);
}

uint64_t anchor_tick = 0;
namespace {
uint64_t anchor_ns = 0;
} // namespace

void anchor_ticks() {
    anchor_ns = monotonic_ns();
    anchor_tick = ticks_now();
}

// Nanoseconds of `ticks`, at the rate the ticks and CLOCK_MONOTONIC have
// kept since the anchor (exact where ticks are nanoseconds; an estimate
// that improves as time passes on x86, within a percent a millisecond
// after the anchor).
uint64_t ticks_to_ns(uint64_t ticks) {
    if (kTicksAreNs || ticks == 0) {
        return ticks;
    }
    const uint64_t tick_span = ticks_now() - anchor_tick;
    const uint64_t ns_span = monotonic_ns() - anchor_ns;
    if (anchor_tick == 0 || tick_span == 0) {
        return 0;
    }
    return static_cast<uint64_t>(static_cast<double>(ticks) *
                                 static_cast<double>(ns_span) /
                                 static_cast<double>(tick_span));
}

#else

uint64_t ticks_to_ns(uint64_t) {
    return 0;
}

#endif

} // namespace ostrel::observe

extern "C" {

OSTREL_API void ostrel_api_counters_get(ostrel_api_counters_t *c) {
    if (c == nullptr) {
        return;
    }
    using ostrel::observe::tally;
    ostrel_api_counters_t all = {};
    all.struct_size = c->struct_size;
    all.calls = tally.calls;
    all.requests_built = tally.requests_built;
    all.messages_sent = tally.messages_sent;
    all.bytes_sent = tally.bytes_sent;
    all.send_attempts = tally.send_attempts;
    all.send_retries = tally.send_retries;
    all.send_failures = tally.send_failures;
    all.drains = tally.drains;
    all.drain_failures = tally.drain_failures;
    all.bulk_rollbacks = tally.bulk_rollbacks;
    all.resyncs = tally.resyncs;
    all.wait_ns =
        tally.wait_ns + ostrel::observe::ticks_to_ns(tally.wait_ticks);
    ostrel::observe::count_registry(all);
    // Whole fields only: a caller's struct that ends inside one keeps it.
    size_t size = c->struct_size < sizeof all ? c->struct_size : sizeof all;
    size -= size % sizeof(uint64_t);
    std::memcpy(c, &all, size);
}

OSTREL_API void ostrel_api_counters_reset(void) {
    const uint32_t depth = ostrel::observe::tally.call_depth;
    ostrel::observe::tally = {};
    ostrel::observe::tally.call_depth = depth;
}

OSTREL_API void ostrel_api_counters_set_timing(int on) {
    ostrel::observe::timing = on != 0;
}

OSTREL_API void ostrel_api_set_event_hook(ostrel_api_event_hook_t hook,
                                          void *context) {
    ostrel::observe::event_hook = hook;
    ostrel::observe::hook_context = context;
}

} // extern "C"
