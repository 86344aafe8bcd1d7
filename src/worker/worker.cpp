// The worker's queues, its thread's loop, flush and shutdown.
#include "worker/worker.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstring>

namespace ostrel::worker {

Settings settings_of(const ostrel_worker_config_t &config) {
    ostrel_worker_config_t c{};
    std::memcpy(&c, &config, std::min<size_t>(config.struct_size, sizeof c));
    Settings s;
    s.handle = c.handle;
    s.queue_limit =
        c.queue_limit != 0 ? c.queue_limit : Worker::kDefaultQueueLimit;
    s.resync_delay_ms = c.resync_delay_ms;
    s.generation = c.generation;
    return s;
}

Worker::Worker(const Settings &settings, Clock &clock)
    : queue_limit_(settings.queue_limit), clock_(clock),
      applier_(settings.handle, settings.generation, settings.resync_delay_ms,
               clock, counters_) {}

Worker::~Worker() {
    shutdown();
}

int Worker::start() {
    if (signal_.fd() < 0)
        return errno != 0 ? errno : ENOMEM;
    // The thread takes no signal: the process's handlers stay on the
    // threads that expect them.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const int error = pthread_create(&thread_, nullptr, thread_main, this);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    started_ = error == 0;
    return error;
}

void *Worker::thread_main(void *self) {
    static_cast<Worker *>(self)->run();
    return nullptr;
}

int Worker::submit(const ostrel_api_acl_change_t *changes, uint32_t count,
                   uint64_t cookie) {
    if (changes == nullptr && count != 0)
        return EINVAL;
    std::unique_ptr<Submission> s = Submission::copy_of(changes, count, cookie);
    if (!s)
        return ENOMEM;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stop_.load(std::memory_order_relaxed))
            return ESHUTDOWN;
        if (count > queue_limit_ - waiting_changes_)
            return EAGAIN;
        s->queued_ns = clock_.now_ns();
        waiting_changes_ += count;
        waiting_.push(std::move(s));
        ++submitted_;
    }
    work_cv_.notify_one();
    return 0;
}

void Worker::run() {
    applier_.start();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_.load(std::memory_order_relaxed)) {
        if (!waiting_.empty()) {
            SubmissionQueue group(std::move(waiting_));
            waiting_changes_ = 0;
            lock.unlock();
            applier_.apply(group, stop_);
            lock.lock();
            publish(std::move(group));
        } else if (applier_.resync_due_ns() <= clock_.now_ns()) {
            lock.unlock();
            applier_.resync_if_due(clock_.now_ns());
            lock.lock();
            publish(SubmissionQueue());
        } else {
            clock_.wait_until(lock, work_cv_, applier_.resync_due_ns());
        }
    }
    for (Submission *s = waiting_.front(); s != nullptr; s = s->next)
        s->settle_all(OSTREL_STATUS_NOT_EXECUTED);
    waiting_changes_ = 0;
    publish(std::move(waiting_));
    exited_ = true;
    done_cv_.notify_all();
}

// Hands completed submissions to the callers (lock held).
void Worker::publish(SubmissionQueue &&done) {
    const uint64_t now = clock_.now_ns();
    uint64_t n = 0;
    for (Submission *s = done.front(); s != nullptr; s = s->next, ++n)
        s->done_ns = now;
    if (n != 0 && finished_.empty())
        signal_.raise();
    finished_.append(std::move(done));
    completed_ += n;
    resync_due_ns_ = applier_.resync_due_ns();
    done_cv_.notify_all();
}

int Worker::next(ostrel_worker_completion_t *completion) {
    std::unique_ptr<Submission> previous; // freed after the lock is let go
    std::lock_guard<std::mutex> lock(mutex_);
    previous = std::move(handed_out_);
    if (finished_.empty())
        return 0;
    handed_out_ = finished_.pop();
    if (finished_.empty())
        signal_.lower();
    const Submission &s = *handed_out_;
    completion->cookie = s.cookie;
    completion->status = s.status;
    completion->count = s.count;
    completion->statuses = s.statuses.get();
    completion->queued_ns = s.queued_ns;
    completion->done_ns = s.done_ns;
    return 1;
}

// Whether the submissions up to number target are complete and no resync
// is due (lock held).
bool Worker::flushed(uint64_t target) {
    return completed_ >= target &&
           (exited_ || resync_due_ns_ > clock_.now_ns());
}

int Worker::flush(int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t target = submitted_;
    auto done = [&] { return flushed(target); };
    if (timeout_ms < 0) {
        done_cv_.wait(lock, done);
        return 0;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(timeout_ms);
    return done_cv_.wait_until(lock, deadline, done) ? 0 : ETIMEDOUT;
}

ostrel_worker_stats_t Worker::stats() {
    ostrel_worker_stats_t st{};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        st.submissions = submitted_;
        st.completions = completed_;
    }
    auto read = [](const std::atomic<uint64_t> &c) {
        return c.load(std::memory_order_relaxed);
    };
    st.struct_size = sizeof st;
    st.bulk_calls = read(counters_.bulk_calls);
    st.coalesced = read(counters_.coalesced);
    st.replayed = read(counters_.replayed);
    st.send_failures = read(counters_.send_failures);
    st.drain_failures = read(counters_.drain_failures);
    st.resyncs = read(counters_.resyncs);
    st.restarts_seen = read(counters_.restarts_seen);
    return st;
}

void Worker::request_stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true, std::memory_order_relaxed);
    }
    work_cv_.notify_all();
}

void Worker::shutdown() {
    request_stop();
    if (started_)
        std::call_once(joined_, [this] { pthread_join(thread_, nullptr); });
}

void Worker::wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    work_cv_.notify_all();
    done_cv_.notify_all();
}

} // namespace ostrel::worker
