// ostrel_api_resync: sends the registry's requests again, so that an ACL
// service that restarted, or missed a batch that failed to send, holds
// again what the registry says.
#include "observe/counters.h"
#include "programming/programming_internal.h"
#include "programming/registry/malloc_array.h"
#include "programming/request/send_requests.h"

namespace {

// The interfaces of vlan in list order; an interface without ACEs (left by
// a failed call) gets the remove request that emptying it sends.
void add_targets(ostrel::MallocArray<ostrel::RequestTarget> &targets,
                 VlanNode *vlan) {
    for (IntfNode *intf = brisel_intf_get_first(vlan); intf != nullptr;
         intf = brisel_intf_get_next(vlan, intf)) {
        targets.push({vlan, intf, intf->count != 0 ? 1u : 0u});
    }
}

} // namespace

extern "C" OSTREL_API uint32_t ostrel_api_resync(yarl_handle_t handle,
                                                 const uint32_t *vlan_id,
                                                 yarl_msg *msg) {
    const ostrel::observe::CallScope counted;
    ostrel::observe::resync_started();
    if (msg == nullptr) {
        return OSTREL_STATUS_INVALID;
    }
    VlanNode *only = nullptr;
    if (vlan_id != nullptr) {
        only = brisel_vlan_lookup(*vlan_id);
        if (only == nullptr) {
            return OSTREL_STATUS_NO_ENTRY;
        }
    }
    size_t count = 0; // the lists walked, not their counts trusted
    for (VlanNode *v = brisel_handle.next; v != nullptr; v = v->next) {
        for (IntfNode *i = v->first;
             i != nullptr && (only == nullptr || v == only); i = i->next) {
            ++count;
        }
    }
    ostrel::MallocArray<ostrel::RequestTarget> targets;
    if (!targets.reserve(count)) {
        return OSTREL_STATUS_INVALID;
    }
    for (VlanNode *v = brisel_handle.next; v != nullptr; v = v->next) {
        if (only == nullptr || v == only) {
            add_targets(targets, v);
        }
    }
    return ostrel::send_requests(handle, msg, targets.begin(), targets.size());
}
