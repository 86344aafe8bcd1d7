// ostrel_api_program_intf: builds one interface's request, addresses it
// (plain interface or port-channel fan-out), batches it and, unless more
// requests follow, sends the batch.
//
// Four cases the interface and ACL services leave open are decided here, as
// listed in docs/design.md: a failed type query reads as a plain interface,
// a port channel counts at most six members, a pending override on a port
// channel without members still counts one copy, and a request that can
// never fit a batch is refused before the flush (so the flush only ever
// sends an open batch, and an empty message is never sent).
#include <cstring>

#include "ifsvc.h"
#include "observe/counters.h"
#include "programming/programming_internal.h"
#include "programming/request/batch.h"
#include "programming/request/program_request.h"
#include "programming/request/record_reuse.h"

namespace ostrel {
namespace {

// Where the copies of one request go.
struct Fanout {
    bool port_channel = false;
    uint32_t members = 0; // at most OSTREL_PC_MAX_MEMBERS
    uint32_t member_if_index[OSTREL_PC_MAX_MEMBERS] = {};
};

// The type of if_index; a failed query reads as a plain interface.
bool is_port_channel(uint32_t if_index) {
    uint8_t type = 0;
    (void)if_index_get_type(if_index, &type);
    return type == OSTREL_IF_TYPE_PORT_CHANNEL;
}

// The members of port channel pc_if_index. False when the query
// fails.
bool query_members(uint32_t pc_if_index, Fanout &fanout) {
    const PcMembers members = query_pc_members(pc_if_index);
    if (members.result != 0) {
        return false;
    }
    fanout.members = members.count;
    std::memcpy(fanout.member_if_index, members.if_index,
                sizeof fanout.member_if_index);
    return true;
}

// Bytes the request's copies take in the batch: the request size times
// the member count for a port channel (at least one copy when an override
// is pending), the request size otherwise.
uint64_t space_needed(const Fanout &fanout, uint32_t request_size) {
    if (!fanout.port_channel) {
        return request_size;
    }
    uint64_t copies = fanout.members;
    if (pc_override_if_index != 0 && copies == 0) {
        copies = 1;
    }
    return copies * request_size;
}

// The bytes of the first copy, written in place: the records copied from
// an earlier request of the operation when there is one (in the open batch,
// or in the batch a flush has just sent), else built from the registry.
struct Source {
    VlanNode &vlan;
    const IntfNode &intf;
    uint32_t install;
    const void *flushed_earlier; // records in the flushed batch, or null
};

void fill(void *dst, uint32_t size, const Source &src) {
    const void *earlier = src.flushed_earlier != nullptr
                              ? src.flushed_earlier
                              : reusable_request(src.vlan, src.intf, size);
    if (earlier != nullptr) {
        write_request_reusing(dst, earlier, size, src.vlan, src.intf,
                              src.install);
    } else {
        write_request_into(dst, src.vlan, src.intf, src.install);
    }
}

// Appends `copies` copies of the request, the first written as `src` says,
// each further one copied from the first; each goes to its destination.
void append_copies(const Source &src, uint32_t size, uint32_t copies,
                   const uint32_t *dst_if_index) {
    if (copies == 0) {
        return;
    }
    void *first = batch_append_slot(size);
    fill(first, size, src);
    offer_request(src.vlan, src.intf, first, size);
    if (dst_if_index != nullptr) {
        set_request_dst_if_index(first, dst_if_index[0]);
    }
    for (uint32_t i = 1; i < copies; ++i) {
        void *copy = batch_append_slot(size);
        std::memcpy(copy, first, size);
        set_request_dst_if_index(copy, dst_if_index[i]);
    }
}

// Appends the request once per destination: the interface itself, the
// pending override (consumed), or each member of the port channel.
void append_for(const Source &src, uint32_t size, const Fanout &fanout) {
    if (!fanout.port_channel) {
        append_copies(src, size, 1, nullptr);
    } else if (pc_override_if_index != 0) {
        const uint32_t override = pc_override_if_index;
        pc_override_if_index = 0;
        append_copies(src, size, 1, &override);
    } else {
        append_copies(src, size, fanout.members, fanout.member_if_index);
    }
}

} // namespace
} // namespace ostrel

// Returns 0; OSTREL_STATUS_INVALID for a null node or message record, a failed
// allocation, a failed port-channel query or a request too large for any
// batch; or the status of a failed send. The request is released before
// every return (it is owned by a ProgramRequest).
extern "C" uint32_t ostrel_api_program_intf(yarl_handle_t handle, yarl_msg *msg,
                                            VlanNode *vlan, IntfNode *intf,
                                            uint32_t install, uint32_t defer) {
    using namespace ostrel;
    if (vlan == nullptr || intf == nullptr) {
        return OSTREL_STATUS_INVALID;
    }

    // The request's block, as the allocation contract of program_request.h
    // requires: its failure fails the build before anything else happens.
    // The request itself is written straight into the batch below.
    ProgramRequest request = ProgramRequest::allocate(*vlan, *intf);
    if (!request.ok()) {
        return OSTREL_STATUS_INVALID;
    }
    // A message record is needed from here on.
    if (msg == nullptr) {
        return OSTREL_STATUS_INVALID;
    }

    // Destinations: the interface itself or the port channel's members.
    Fanout fanout;
    fanout.port_channel = is_port_channel(intf->if_index);
    if (fanout.port_channel && !query_members(intf->if_index, fanout)) {
        return OSTREL_STATUS_INVALID;
    }
    const uint64_t space = space_needed(fanout, request.size());
    if (space > kBatchPayloadMax) {
        return OSTREL_STATUS_INVALID;
    }

    // Flush an open batch that has no room for the copies. When the request
    // takes its records from that batch, the sent block is kept until they
    // are copied into the next one.
    Source src{*vlan, *intf, install, nullptr};
    SentBatch flushed;
    if (batch_is_open() && space >= batch_room()) {
        src.flushed_earlier = reusable_request(*vlan, *intf, request.size());
        const uint32_t status = batch_send_and_detach(handle, msg, 0, &flushed);
        if (src.flushed_earlier == nullptr) {
            flushed.reset();
        }
        if (status != OSTREL_STATUS_OK) {
            return status;
        }
        (void)brisel_api_yarl_gobble(handle, msg);
    }

    // Open a batch unless one is open.
    bool created = false;
    if (!batch_is_open()) {
        if (!batch_open()) {
            return OSTREL_STATUS_INVALID;
        }
        created = true;
    }

    // Append the copies.
    append_for(src, request.size(), fanout);
    flushed.reset();
    observe::request_built();

    // More requests follow: keep the batch open.
    if (defer != 0) {
        did_yarl_send = 0;
        return OSTREL_STATUS_OK;
    }
    // Final request: send; the reply is left for the caller to drain.
    return batch_send_and_release(handle, msg, created ? 1 : 0);
}
