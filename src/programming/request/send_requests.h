// Sending a list of interfaces' requests, as a bulk call and a resync do:
// each request is built from the registry once and batched by the same
// rules as the single calls' (flush a full batch and drain, port channels
// fan out to their members), and the last one sends the batch, leaving
// its reply for the caller to drain.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ostrelapi.h"

namespace ostrel {

// One interface whose request is sent: install 1 gives request operation 1
// (install), 0 operation 2 (remove).
struct RequestTarget {
    VlanNode *vlan;
    IntfNode *intf;
    uint32_t install;
};

// Builds and batches the request of every target in order; targets of one
// VLAN next to each other share their records. The last target's call sends
// the batch. Returns 0 (nothing is sent for no targets) or the first
// failing status, at once: requests batched before it stay in the open
// batch, as after a failing single call.
[[nodiscard]] uint32_t send_requests(yarl_handle_t handle, yarl_msg *msg,
                                     const RequestTarget *targets,
                                     size_t count);

} // namespace ostrel
