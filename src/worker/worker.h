// A worker: the queue of submissions that any thread fills, the thread
// that empties it through an Applier, and the completions it hands back.
// One mutex guards the queues and counts; it is held only while they are
// touched, never across a core call, so a submit never waits for the ACL
// service.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <pthread.h>

#include "ostrelapi/worker.h"
#include "worker/applier.h"
#include "worker/clock.h"
#include "worker/completion_signal.h"
#include "worker/counters.h"
#include "worker/submission.h"

namespace ostrel::worker {

struct Settings {
    yarl_handle_t handle = 0;
    uint32_t queue_limit = 0;
    uint32_t resync_delay_ms = 0;
    GenerationFn generation = nullptr;
};

// The settings of a config, with the defaults of its zero fields and of
// the fields an older (smaller) config lacks.
Settings settings_of(const ostrel_worker_config_t &config);

class Worker {
  public:
    static constexpr uint32_t kDefaultQueueLimit = 1u << 20;

    Worker(const Settings &settings, Clock &clock);
    ~Worker();
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    // Starts the thread; 0 or an errno value.
    int start();
    int submit(const ostrel_api_acl_change_t *changes, uint32_t count,
               uint64_t cookie);
    int fd() const { return signal_.fd(); }
    int next(ostrel_worker_completion_t *completion);
    int flush(int timeout_ms);
    ostrel_worker_stats_t stats();
    // Stops taking submissions and tells the thread to stop.
    void request_stop();
    // request_stop, then waits for the thread to end.
    void shutdown();
    // Makes the thread and the flushes look at the clock again (a test
    // clock that moved).
    void wake();

  private:
    static void *thread_main(void *self);
    void run();
    void publish(SubmissionQueue &&done);
    bool flushed(uint64_t target);

    const uint32_t queue_limit_;
    Clock &clock_;
    Counters counters_;
    Applier applier_; // the thread's only
    CompletionSignal signal_;

    std::mutex mutex_;
    std::condition_variable work_cv_; // the thread waits for work
    std::condition_variable done_cv_; // flushes wait for progress
    SubmissionQueue waiting_;
    uint64_t waiting_changes_ = 0;
    SubmissionQueue finished_;
    std::unique_ptr<Submission> handed_out_;
    uint64_t submitted_ = 0;
    uint64_t completed_ = 0;
    uint64_t resync_due_ns_ = kNever;
    bool exited_ = false;
    std::atomic<bool> stop_{false};

    pthread_t thread_{};
    bool started_ = false;
    std::once_flag joined_;
};

} // namespace ostrel::worker
