// The worker thread's side: the only caller of the core's programming
// functions while a worker exists. It applies submissions (several at
// once when that cannot change any outcome), drains every reply, and
// resyncs the ACL service after failed sends (with backoff) and after a
// restart (at once). It holds no lock: the worker hands it submissions it
// has taken off the shared queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "ostrelapi.h"
#include "worker/backoff.h"
#include "worker/clock.h"
#include "worker/counters.h"
#include "worker/submission.h"

namespace ostrel::worker {

using GenerationFn = uint32_t (*)(yarl_handle_t);

class Applier {
  public:
    Applier(yarl_handle_t handle, GenerationFn generation,
            uint32_t first_delay_ms, Clock &clock, Counters &counters);

    // Reads the connection count the transport starts with.
    void start();
    // Applies the submissions in order, each with its own all-or-none
    // outcome, and gives each its status and statuses. Once `stop` is set,
    // the submissions not yet begun are cancelled instead.
    void apply(SubmissionQueue &group, const std::atomic<bool> &stop);
    // Resyncs when the backoff's resync is due at now_ns.
    void resync_if_due(uint64_t now_ns);
    // When the next resync is due, or kNever.
    uint64_t resync_due_ns() const { return due_ns_; }

  private:
    uint32_t bulk(const ostrel_api_acl_change_t *changes, uint32_t count,
                  uint32_t *statuses);
    void apply_alone(Submission &s);
    void apply_together(Submission *first, uint32_t n);
    bool join(Submission *first, uint32_t n, uint32_t total);
    void after_call(uint32_t status);
    void watch_generation();
    void resync();
    void resync_after_restarts();
    void schedule_resync();

    yarl_handle_t handle_;
    GenerationFn generation_fn_;
    uint32_t generation_ = 0;
    bool restarted_ = false;
    Clock &clock_;
    Counters &counters_;
    Backoff backoff_;
    uint64_t due_ns_ = kNever;
    yarl_msg msg_{};
    // The changes of submissions applied together, and their statuses.
    std::unique_ptr<ostrel_api_acl_change_t[]> joined_;
    std::unique_ptr<uint32_t[]> joined_statuses_;
    uint32_t joined_capacity_ = 0;
};

} // namespace ostrel::worker
