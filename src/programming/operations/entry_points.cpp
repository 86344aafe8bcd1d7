// ACL add and delete entry points on an interface.
//
// Each updates the VLAN registry first and then has the request builder
// rebuild every affected interface's request: when the ACE's first address
// is all zero only the named interface (the builder leaves such ACEs out of
// every request), otherwise every other interface of the VLAN in list
// order, deferred into the batch, and then the named one, whose call sends
// the batch. Registry changes are never rolled back.
//
// A null addr1 or addr2 is refused with OSTREL_STATUS_INVALID before the
// registry is looked at, so the registry and the batch stay untouched (a
// choice listed in docs/design.md).
#include <cstring>

#include "observe/counters.h"
#include "programming/programming_internal.h"
#include "programming/registry/registry_update.h"
#include "programming/request/record_reuse.h"

namespace {

constexpr uint32_t kInstall = 1;
constexpr uint32_t kDefer = 1;
constexpr uint32_t kSend = 0;

using ostrel::is_all_zero;
using ostrel::registry::add_ace;
using ostrel::registry::children;
using ostrel::registry::drop_emptied;
using ostrel::registry::find_or_add_entry;
using ostrel::registry::NoJournal;
using ostrel::registry::remove_ace;

// Rebuilds, deferred, the request of every interface of vlan other than
// if_index, in list order. Returns 0, or the first nonzero status at once.
uint32_t reprogram_others(yarl_handle_t handle, yarl_msg *msg, VlanNode *vlan,
                          uint32_t if_index) {
    for (IntfNode *intf = brisel_intf_get_first(vlan); intf != nullptr;
         intf = brisel_intf_get_next(vlan, intf)) {
        if (intf->if_index == if_index) {
            continue;
        }
        const uint32_t status =
            ostrel_api_program_intf(handle, msg, vlan, intf, kInstall, kDefer);
        if (status != OSTREL_STATUS_OK) {
            return status;
        }
    }
    return OSTREL_STATUS_OK;
}

} // namespace

// Records the ACE on if_index of vlan_id (creating the VLAN and interface
// entries as needed) and reprograms the affected interfaces. Returns 0,
// OSTREL_STATUS_NO_ENTRY when a VLAN or interface entry cannot be created
// (nothing sent), OSTREL_STATUS_INVALID for a null address, or the first
// nonzero status of the builder. A failed AceNode allocation is not reported:
// the interfaces are reprogrammed all the same.
extern "C" uint32_t ostrel_api_add_acl(yarl_handle_t handle,
                                       const uint8_t *addr1,
                                       const uint8_t *addr2, uint32_t vlan_id,
                                       uint32_t if_index, uint32_t qualifier,
                                       yarl_msg *msg) {
    if (addr1 == nullptr || addr2 == nullptr) {
        return OSTREL_STATUS_INVALID;
    }
    NoJournal journal;
    const auto [vlan, intf] =
        find_or_add_entry<&VlanNode::vlan_id, &IntfNode::if_index>(
            journal, brisel_handle, vlan_id, if_index);
    if (intf == nullptr) {
        return OSTREL_STATUS_NO_ENTRY; // a new VLAN entry stays
    }
    // An ACE node that cannot be allocated is left out: the interfaces are
    // reprogrammed all the same.
    (void)add_ace(journal, children(*intf),
                  ostrel::make_ace_key(addr1, addr2, qualifier));

    // The registry stays as it is until every request is built: they may
    // share their records.
    const ostrel::RecordReuse reuse(vlan);
    if (!is_all_zero(addr1)) {
        const uint32_t status = reprogram_others(handle, msg, vlan, if_index);
        if (status != OSTREL_STATUS_OK) {
            return status;
        }
    }
    return ostrel_api_program_intf(handle, msg, vlan, intf, kInstall, kSend);
}

// Removes the newest equal ACE from if_index of vlan_id and reprograms the
// affected interfaces; the named interface's last request installs (1) when
// it still holds ACEs and removes (0) when it holds none. After that last
// call, whatever it returned, the interface and then the VLAN entry are
// removed if they have become empty. Returns 0, OSTREL_STATUS_NO_ENTRY when the
// VLAN, the interface or the ACE is not registered (nothing changed or sent),
// OSTREL_STATUS_INVALID for a null address, or the first nonzero status of the
// builder. When a deferred call fails, the named interface is not reprogrammed
// and its (possibly empty) entries stay.
extern "C" OSTREL_API uint32_t ostrel_api_del_acl(
    yarl_handle_t handle, const uint8_t *addr1, const uint8_t *addr2,
    uint32_t vlan_id, uint32_t if_index, uint32_t qualifier, yarl_msg *msg) {
    const ostrel::observe::CallScope counted;
    if (addr1 == nullptr || addr2 == nullptr) {
        return OSTREL_STATUS_INVALID;
    }
    VlanNode *vlan = brisel_vlan_lookup(vlan_id);
    if (vlan == nullptr) {
        return OSTREL_STATUS_NO_ENTRY;
    }
    IntfNode *intf = brisel_intf_lookup(vlan, if_index);
    if (intf == nullptr) {
        return OSTREL_STATUS_NO_ENTRY;
    }
    NoJournal journal;
    if (!remove_ace(journal, children(*intf),
                    ostrel::make_ace_key(addr1, addr2, qualifier))) {
        return OSTREL_STATUS_NO_ENTRY;
    }

    // The registry stays as it is until every request is built: they may
    // share their records.
    const ostrel::RecordReuse reuse(vlan);
    if (!is_all_zero(addr1)) {
        const uint32_t status = reprogram_others(handle, msg, vlan, if_index);
        if (status != OSTREL_STATUS_OK) {
            return status;
        }
    }
    const uint32_t install = intf->count != 0 ? 1 : 0;
    const uint32_t status =
        ostrel_api_program_intf(handle, msg, vlan, intf, install, kSend);
    drop_emptied<&VlanNode::vlan_id, &IntfNode::if_index>(
        journal, brisel_handle, *vlan, *intf);
    return status;
}

// Adds (add != 0) or deletes the ACE: exactly ostrel_api_add_acl or
// ostrel_api_del_acl with the same first seven arguments.
extern "C" OSTREL_API uint32_t ostrel_api_program_acl(
    yarl_handle_t handle, const uint8_t *addr1, const uint8_t *addr2,
    uint32_t vlan_id, uint32_t if_index, uint32_t qualifier, yarl_msg *msg,
    uint32_t add) {
    const ostrel::observe::CallScope counted;
    if (add != 0) {
        return ostrel_api_add_acl(handle, addr1, addr2, vlan_id, if_index,
                                  qualifier, msg);
    }
    return ostrel_api_del_acl(handle, addr1, addr2, vlan_id, if_index,
                              qualifier, msg);
}

// Kept for compatibility: no effect, returns 0.
extern "C" OSTREL_API uint32_t ostrel_api_dump_memory(uint32_t, uint32_t) {
    return 0;
}
