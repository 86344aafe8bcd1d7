// The exported ostrel_worker_* functions: argument checks, the one worker
// a process may have, and the calls into the Worker.
#include "worker/worker_api.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <new>

namespace ostrel::worker {
namespace {

// Set while the process has a worker: the core's state is process-wide.
std::atomic<bool> worker_exists{false};

constexpr size_t kSmallestConfig =
    offsetof(ostrel_worker_config_t, generation) +
    sizeof(ostrel_worker_config_t::generation);

} // namespace

int create(const ostrel_worker_config_t *config, Clock &clock,
           ostrel_worker_t **worker) {
    if (config == nullptr || worker == nullptr ||
        config->struct_size < kSmallestConfig)
        return EINVAL;
    if (worker_exists.exchange(true))
        return EBUSY;
    ostrel_worker_t *w =
        new (std::nothrow) ostrel_worker(settings_of(*config), clock);
    const int error = w == nullptr ? ENOMEM : w->start();
    if (error != 0) {
        delete w;
        worker_exists = false;
        return error;
    }
    *worker = w;
    return 0;
}

} // namespace ostrel::worker

extern "C" {

OSTREL_WORKER_API int ostrel_worker_create(const ostrel_worker_config_t *config,
                                           ostrel_worker_t **worker) {
    return ostrel::worker::create(config, ostrel::worker::monotonic_clock(),
                                  worker);
}

OSTREL_WORKER_API int
ostrel_worker_submit(ostrel_worker_t *w, const ostrel_api_acl_change_t *changes,
                     uint32_t count, uint64_t cookie) {
    return w != nullptr ? w->submit(changes, count, cookie) : EINVAL;
}

OSTREL_WORKER_API int ostrel_worker_fd(ostrel_worker_t *w) {
    return w != nullptr ? w->fd() : -1;
}

OSTREL_WORKER_API int
ostrel_worker_next(ostrel_worker_t *w, ostrel_worker_completion_t *completion) {
    return w != nullptr && completion != nullptr ? w->next(completion) : EINVAL;
}

OSTREL_WORKER_API int ostrel_worker_flush(ostrel_worker_t *w, int timeout_ms) {
    return w != nullptr ? w->flush(timeout_ms) : EINVAL;
}

OSTREL_WORKER_API int ostrel_worker_stats(ostrel_worker_t *w,
                                          ostrel_worker_stats_t *stats) {
    if (w == nullptr || stats == nullptr || stats->struct_size < 8)
        return EINVAL;
    const ostrel_worker_stats_t all = w->stats();
    const size_t size = std::min<size_t>(stats->struct_size, sizeof all);
    std::memcpy(reinterpret_cast<char *>(stats) + 8,
                reinterpret_cast<const char *>(&all) + 8, size - 8);
    return 0;
}

OSTREL_WORKER_API void ostrel_worker_shutdown(ostrel_worker_t *w) {
    if (w != nullptr)
        w->shutdown();
}

OSTREL_WORKER_API void ostrel_worker_destroy(ostrel_worker_t *w) {
    if (w == nullptr)
        return;
    delete w;
    ostrel::worker::worker_exists = false;
}

} // extern "C"
