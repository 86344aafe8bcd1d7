// The worker's C interface as the library builds it; tests reach the same
// path with a clock of their own.
#pragma once

#include "ostrelapi/worker.h"
#include "worker/clock.h"
#include "worker/worker.h"

struct ostrel_worker final : ostrel::worker::Worker {
    using Worker::Worker;
};

namespace ostrel::worker {

// ostrel_worker_create with the given clock.
int create(const ostrel_worker_config_t *config, Clock &clock,
           ostrel_worker_t **worker);

} // namespace ostrel::worker
