/*
 * ostrelapi/worker.h - ACL programming that never blocks the caller
 * (libostrelapi-worker, pkg-config module ostrelapi-worker, CMake target
 * ostrelapi::worker).
 *
 * A worker owns one thread, the only caller of the core library's
 * programming functions while the worker exists. Callers hand it changes
 * (ostrel_api_acl_change_t, as for ostrel_api_program_acl_bulk); it copies
 * them and returns at once. The worker thread applies them, drains every
 * reply, resyncs the ACL service after a failed send and after a service
 * restart, and reports one completion per submission through a file
 * descriptor that poll and epoll can watch. A daemon needs no thread of its
 * own to use it.
 *
 * Threads:
 *  | call                    | from which thread, and concurrently        |
 *  |-------------------------|--------------------------------------------|
 *  | ostrel_worker_create    | any; one worker per process at a time      |
 *  | ostrel_worker_submit    | any, at any time, concurrently with every  |
 *  |                         | call below except destroy                  |
 *  | ostrel_worker_fd        | any                                        |
 *  | ostrel_worker_next      | any, one thread at a time: the statuses of |
 *  |                         | a completion stay valid until the next call|
 *  | ostrel_worker_flush     | any, concurrently with each other          |
 *  | ostrel_worker_stats     | any                                        |
 *  | ostrel_worker_shutdown  | any thread but the worker's own, once      |
 *  | ostrel_worker_destroy   | any thread but the worker's own, once, when|
 *  |                         | no other call on the worker is running     |
 * The worker guards its queues only while it touches them, never across a
 * call into the core library: a submit never waits for the ACL service,
 * not even while the worker sits in a send's retries.
 *
 * While a worker exists, the process makes no call of the core library's
 * programming functions itself (ostrel_api_program_acl, _del_acl,
 * _pc_program_acl, _pc_program_acl_update, _program_acl_bulk, _resync,
 * brisel_api_yarl_gobble, the brisel_ registry calls) and does not read the
 * registries or the core's counters, nor reset them or set the event hook:
 * that state is process-wide and unguarded, and only the worker's thread
 * touches it (an event hook set before the worker starts is called on the
 * worker's thread). The codec calls are free to use.
 *
 * How long the worker's thread can be held by one core call: a send is
 * tried up to 4 times, each attempt bounded by the transport's timeout
 * (5 s by default with the socket transport), with 3 sleeps of 800 ms
 * between them; then the drain's receive, bounded by the transport's
 * timeout again. A call that fills several batches sends and drains each.
 * With the socket transport's defaults, one batch against a service that
 * accepts but never answers can take 4 x 5 s + 3 x 0.8 s + 5 s. A
 * submission waits behind the call in progress; ostrel_worker_destroy
 * waits for it too.
 *
 * What the core prints: a send that fails after its retries prints one
 * perror line, "Unable to send YARL message" with the error's text, on
 * stderr, from the worker's thread. Nothing else is printed.
 *
 * Valid C99 and C++.
 */
#ifndef OSTRELAPI_WORKER_H
#define OSTRELAPI_WORKER_H

#include <stdint.h>

#include "ostrelapi.h"

#if defined(OSTREL_STATIC_DEFINE)
#define OSTREL_WORKER_API
#elif defined(OSTREL_BUILDING_WORKER)
#define OSTREL_WORKER_API __attribute__((visibility("default")))
#else
#define OSTREL_WORKER_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** A worker; opaque. */
typedef struct ostrel_worker ostrel_worker_t;

/** How a worker is set up. Zero it, set struct_size and handle; every other
 *  zero field takes its default. Fields may be added at the end; a config
 *  from an older header (a smaller struct_size, at least up to generation)
 *  gets the defaults of the fields it lacks. */
typedef struct ostrel_worker_config_t {
    uint32_t struct_size;     /* sizeof (ostrel_worker_config_t) */
    yarl_handle_t handle;     /* the transport handle of every call */
    uint32_t queue_limit;     /* most changes waiting; 0 means 1,048,576 */
    uint32_t resync_delay_ms; /* first wait before a resync after a failed
                                 send, doubling up to 30 s; 0 means 100 */
    uint32_t (*generation)(yarl_handle_t); /* optional: the transport's
                                 connection count; a new value means the
                                 service restarted (the socket transport's
                                 ostrel_socket_generation). Called on the
                                 worker's thread after every core call; it
                                 must not call the worker. */
} ostrel_worker_config_t;

/** What became of one submission. */
typedef struct ostrel_worker_completion_t {
    uint64_t cookie;             /* the submission's cookie */
    uint32_t status;             /* 0; a change's failure (nothing of the
                                    submission kept); or a send failure (the
                                    changes kept, a resync scheduled) */
    uint32_t count;              /* the submission's number of changes */
    const uint32_t *statuses;    /* count words, as the bulk call gives them;
                                    valid until the next ostrel_worker_next */
    uint64_t queued_ns, done_ns; /* CLOCK_MONOTONIC */
} ostrel_worker_completion_t;

/** Counters of a worker since it was created (ostrel_worker_stats). Read
 *  them for logs and monitoring; a newer library may add fields at the end
 *  (struct_size tells how many the caller's struct holds). */
typedef struct ostrel_worker_stats_t {
    uint32_t struct_size; /* sizeof (ostrel_worker_stats_t), set by the
                             caller */
    uint32_t reserved;
    uint64_t submissions;    /* accepted by ostrel_worker_submit */
    uint64_t completions;    /* completed, cancelled ones included */
    uint64_t bulk_calls;     /* ostrel_api_program_acl_bulk calls made */
    uint64_t coalesced;      /* submissions applied by a call that also
                                applied others */
    uint64_t replayed;       /* submissions applied again on their own
                                after a change of a shared call failed */
    uint64_t send_failures;  /* core calls that returned a send failure */
    uint64_t drain_failures; /* replies that could not be received */
    uint64_t resyncs;        /* ostrel_api_resync calls made */
    uint64_t restarts_seen;  /* new connection counts reported */
} ostrel_worker_stats_t;

/** Starts a worker and its thread. Returns 0 with *worker set; EINVAL for
 *  a null argument or a struct_size smaller than the fields up to
 *  generation; EBUSY when the process already has a worker; ENOMEM, or
 *  the error of the thread's creation. */
OSTREL_WORKER_API int ostrel_worker_create(const ostrel_worker_config_t *config,
                                           ostrel_worker_t **worker);

/** Queues count changes (copied; changes may be null when count is 0) as
 *  one submission, applied all or none as one bulk call would apply them,
 *  and returns without waiting for the service. Returns 0; EINVAL for a
 *  null worker, or null changes with a nonzero count; EAGAIN when the
 *  changes waiting would pass the queue limit (a submission larger than
 *  the limit is always refused); ENOMEM when the copy cannot be allocated;
 *  ESHUTDOWN after ostrel_worker_shutdown. */
OSTREL_WORKER_API int
ostrel_worker_submit(ostrel_worker_t *w, const ostrel_api_acl_change_t *changes,
                     uint32_t count, uint64_t cookie);

/** A file descriptor, owned by the worker, that is readable while a
 *  completion waits and stops being readable once all are taken. Watch it
 *  for input with poll or epoll (level-triggered); never read or close it.
 *  -1 for a null worker. */
OSTREL_WORKER_API int ostrel_worker_fd(ostrel_worker_t *w);

/** Takes the oldest waiting completion: completions come one per
 *  submission, in submission order. Returns 1 with *completion filled, 0
 *  when none waits, EINVAL for a null argument. */
OSTREL_WORKER_API int
ostrel_worker_next(ostrel_worker_t *w, ostrel_worker_completion_t *completion);

/** Waits until every submission made before the call has completed and no
 *  resync is due (one due meanwhile is sent and drained first), at most
 *  timeout_ms milliseconds (a negative value waits as long as it takes).
 *  Returns 0, ETIMEDOUT, or EINVAL for a null worker. */
OSTREL_WORKER_API int ostrel_worker_flush(ostrel_worker_t *w, int timeout_ms);

/** Fills the first stats->struct_size bytes of *stats. Returns 0, or EINVAL
 *  for a null argument or a struct_size below 8. */
OSTREL_WORKER_API int ostrel_worker_stats(ostrel_worker_t *w,
                                          ostrel_worker_stats_t *stats);

/** Stops taking submissions, lets the worker finish the call in progress,
 *  completes the submissions still waiting as cancelled (status and every
 *  change's status OSTREL_STATUS_NOT_EXECUTED; a resync not yet due is
 *  dropped) and joins the thread. The completions can still be taken with
 *  ostrel_worker_next. Calling it again does nothing. */
OSTREL_WORKER_API void ostrel_worker_shutdown(ostrel_worker_t *w);

/** Shuts the worker down as ostrel_worker_shutdown, then frees it and the
 *  completions not taken; the registries stay as the worker left them, and
 *  the process may make core calls again (or create a new worker). Null
 *  does nothing. */
OSTREL_WORKER_API void ostrel_worker_destroy(ostrel_worker_t *w);

#ifdef __cplusplus
}
#endif

#endif /* OSTRELAPI_WORKER_H */
