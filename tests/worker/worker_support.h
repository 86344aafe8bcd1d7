// What the worker's tests share: a clock that moves only when told, a gate
// that holds the worker's thread inside its connection-count call, and
// worker handles that are destroyed on every exit path.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "worker/worker_api.h"

namespace worker_test {

class TestClock final : public ostrel::worker::Clock {
  public:
    uint64_t now_ns() override { return now_; }
    void wait_until(std::unique_lock<std::mutex> &lock,
                    std::condition_variable &cv, uint64_t) override {
        cv.wait(lock);
    }
    void advance_ms(uint64_t ms, ostrel_worker_t *w) {
        now_ += ms * 1000000;
        w->wake();
    }

  private:
    std::atomic<uint64_t> now_{1000000000};
};

// A point on the worker's thread where it waits while the gate is closed;
// the instance() gate is in the connection count the worker reads after
// every core call, and returns `value`.
class Gate {
  public:
    static Gate &instance() {
        static Gate gate;
        return gate;
    }
    static uint32_t generation(yarl_handle_t) { return instance().pass(); }
    uint32_t pass() {
        std::unique_lock<std::mutex> lock(m_);
        ++passes_;
        held_ = !open_;
        cv_.notify_all();
        cv_.wait(lock, [this] { return open_; });
        held_ = false;
        return value;
    }
    void close() { set(false); }
    void open() { set(true); }
    void wait_until_held() {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [this] { return held_; });
    }
    void wait_until_passed(int n) {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [this, n] { return passes_ >= n; });
    }
    std::atomic<uint32_t> value{1};

  private:
    void set(bool open) {
        std::lock_guard<std::mutex> lock(m_);
        open_ = open;
        cv_.notify_all();
    }
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = true, held_ = false;
    int passes_ = 0;
};

struct Destroy {
    void operator()(ostrel_worker_t *w) const { ostrel_worker_destroy(w); }
};
using WorkerPtr = std::unique_ptr<ostrel_worker_t, Destroy>;

inline WorkerPtr
make_worker(ostrel::worker::Clock &clock, uint32_t queue_limit = 0,
            uint32_t (*generation)(yarl_handle_t) = Gate::generation) {
    ostrel_worker_config_t config{};
    config.struct_size = sizeof config;
    config.handle = 0x5a;
    config.queue_limit = queue_limit;
    config.generation = generation;
    ostrel_worker_t *w = nullptr;
    EXPECT_EQ(ostrel::worker::create(&config, clock, &w), 0);
    return WorkerPtr(w);
}

} // namespace worker_test
