// Applying submissions through the core's bulk call, and resyncing.
//
// Submissions waiting together are applied as one bulk call: the registry
// effects of a bulk call are those of its changes one at a time, so when
// the shared call applies every change, each submission would have been
// applied alone as well, and when every first address is nonzero the
// service ends up holding what one call per submission would give it. A
// change with an all-zero first address reprograms only its own
// interface when applied alone, while a shared call would refresh the
// whole VLAN: such a submission always gets a call of its own.
//
// When a change of a shared call fails, the call kept nothing and sent
// nothing, and the worker applies the submissions again, one bulk call
// each, in order: each then gets exactly the statuses it would have had
// alone.
#include "worker/applier.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace ostrel::worker {
namespace {

constexpr uint64_t kNsPerMs = 1000000;

bool is_send_failure(uint32_t status) {
    return (status & 0xfffff000u) == OSTREL_STATUS_SEND_FAILED;
}

// A bulk call writes 0 for every change it applied and kept, whatever its
// sends did; anything else means it kept nothing.
bool changes_kept(const uint32_t *statuses, uint32_t count) {
    return std::all_of(statuses, statuses + count,
                       [](uint32_t s) { return s == OSTREL_STATUS_OK; });
}

} // namespace

Applier::Applier(yarl_handle_t handle, GenerationFn generation,
                 uint32_t first_delay_ms, Clock &clock, Counters &counters)
    : handle_(handle), generation_fn_(generation), clock_(clock),
      counters_(counters), backoff_(first_delay_ms) {}

void Applier::start() {
    if (generation_fn_ != nullptr)
        generation_ = generation_fn_(handle_);
}

void Applier::apply(SubmissionQueue &group, const std::atomic<bool> &stop) {
    Submission *s = group.front();
    while (s != nullptr) {
        if (stop.load(std::memory_order_relaxed)) {
            for (; s != nullptr; s = s->next)
                s->settle_all(OSTREL_STATUS_NOT_EXECUTED);
            return;
        }
        // The longest run of submissions that can share one call.
        Submission *end = s->next;
        uint32_t n = 1;
        if (!s->has_zero_first_address()) {
            for (; end != nullptr && !end->has_zero_first_address();
                 end = end->next)
                ++n;
        }
        if (n == 1)
            apply_alone(*s);
        else
            apply_together(s, n);
        resync_after_restarts();
        s = end;
    }
}

uint32_t Applier::bulk(const ostrel_api_acl_change_t *changes, uint32_t count,
                       uint32_t *statuses) {
    bump(counters_.bulk_calls);
    const uint32_t status =
        ostrel_api_program_acl_bulk(handle_, changes, count, statuses, &msg_);
    after_call(status);
    return status;
}

void Applier::apply_alone(Submission &s) {
    std::fill_n(s.statuses.get(), s.count, OSTREL_STATUS_NOT_EXECUTED);
    s.status = bulk(s.changes.get(), s.count, s.statuses.get());
    if (s.status != OSTREL_STATUS_OK && changes_kept(s.statuses.get(), s.count))
        schedule_resync();
}

void Applier::apply_together(Submission *first, uint32_t n) {
    uint64_t total = 0;
    Submission *s = first;
    for (uint32_t i = 0; i < n; ++i, s = s->next)
        total += s->count;
    if (total > UINT32_MAX || !join(first, n, uint32_t(total))) {
        for (s = first; n-- > 0; s = s->next)
            apply_alone(*s);
        return;
    }
    const uint32_t status =
        bulk(joined_.get(), uint32_t(total), joined_statuses_.get());
    if (!changes_kept(joined_statuses_.get(), uint32_t(total))) {
        bump(counters_.replayed, n);
        for (s = first; n-- > 0; s = s->next)
            apply_alone(*s);
        return;
    }
    bump(counters_.coalesced, n);
    for (s = first; n-- > 0; s = s->next) {
        s->settle_all(OSTREL_STATUS_OK);
        s->status = status;
    }
    if (status != OSTREL_STATUS_OK)
        schedule_resync();
}

// Copies the changes of n submissions into one array; false when it
// cannot be allocated.
bool Applier::join(Submission *first, uint32_t n, uint32_t total) {
    if (total > joined_capacity_) {
        const uint32_t capacity =
            uint32_t(std::min<uint64_t>(UINT32_MAX, uint64_t(total) * 2));
        joined_.reset(new (std::nothrow) ostrel_api_acl_change_t[capacity]);
        joined_statuses_.reset(new (std::nothrow) uint32_t[capacity]);
        joined_capacity_ = joined_ && joined_statuses_ ? capacity : 0;
        if (joined_capacity_ == 0)
            return false;
    }
    ostrel_api_acl_change_t *out = joined_.get();
    for (Submission *s = first; n-- > 0; s = s->next) {
        std::copy_n(s->changes.get(), s->count, out);
        out += s->count;
    }
    std::fill_n(joined_statuses_.get(), total, OSTREL_STATUS_NOT_EXECUTED);
    return true;
}

// After every core call: drain the reply it left, and look for a restart.
void Applier::after_call(uint32_t status) {
    if (is_send_failure(status))
        bump(counters_.send_failures);
    watch_generation();
    if (did_yarl_send == 0)
        return;
    if (brisel_api_yarl_gobble(handle_, &msg_) != OSTREL_STATUS_OK) {
        // The service may not have applied what it was sent.
        bump(counters_.drain_failures);
        schedule_resync();
    }
    watch_generation();
}

void Applier::watch_generation() {
    if (generation_fn_ == nullptr)
        return;
    const uint32_t now = generation_fn_(handle_);
    if (now != generation_) {
        generation_ = now;
        restarted_ = true;
        bump(counters_.restarts_seen);
    }
}

// A restarted service forgot its table: send the whole registry at once,
// again as long as the service restarts meanwhile.
void Applier::resync_after_restarts() {
    while (restarted_) {
        restarted_ = false;
        resync();
    }
}

void Applier::resync_if_due(uint64_t now_ns) {
    if (due_ns_ <= now_ns)
        resync();
    resync_after_restarts();
}

void Applier::resync() {
    bump(counters_.resyncs);
    due_ns_ = kNever;
    const uint32_t status = ostrel_api_resync(handle_, nullptr, &msg_);
    after_call(status);
    if (status != OSTREL_STATUS_OK)
        schedule_resync();
    if (due_ns_ == kNever)
        backoff_.reset();
}

void Applier::schedule_resync() {
    if (due_ns_ == kNever)
        due_ns_ = clock_.now_ns() + backoff_.take_ms() * kNsPerMs;
}

} // namespace ostrel::worker
