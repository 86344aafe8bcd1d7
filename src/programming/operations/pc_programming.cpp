// Port-channel programming.
//
// ostrel_api_pc_program_acl records the ACE once in the port-channel
// registry and programs it on every member interface through the
// interface-level entry points, draining the ACL service's reply to one
// member before programming the next. ostrel_api_pc_program_acl_update
// re-sends an interface's request in every VLAN that holds it, with the
// builder's one-shot port-channel override set before each rebuild and a
// drain after each send.
//
// As the request builder does, a member count above the six entries of a
// PortChannelInfo is capped at six, and a null address is refused before
// the registry is looked at; both choices are listed in docs/design.md.
#include "observe/counters.h"
#include "programming/programming_internal.h"
#include "programming/registry/registry_update.h"

namespace {

using ostrel::registry::add_ace_to_entry;
using ostrel::registry::children;
using ostrel::registry::drop_emptied;
using ostrel::registry::NoJournal;
using ostrel::registry::remove_ace;

enum class MemberOp { Add, Del };

struct LoopResult {
    uint32_t status;
    bool member_failed; // a member's add or delete returned nonzero
};

// Queries the members of pc_if_index and adds or deletes the ACE
// on each in record order, draining before every member but the first. The
// status is the query's result when there is no member, else the last
// member's; the loop stops at the first member that fails. The full 32-bit
// qualifier is passed on.
LoopResult program_members(MemberOp op, yarl_handle_t handle,
                           const uint8_t *addr1, const uint8_t *addr2,
                           uint32_t vlan_id, uint32_t pc_if_index,
                           uint32_t qualifier, yarl_msg *msg) {
    const ostrel::PcMembers members = ostrel::query_pc_members(pc_if_index);
    uint32_t status = static_cast<uint32_t>(members.result);
    for (uint32_t i = 0; i < members.count; ++i) {
        if (i > 0) {
            (void)brisel_api_yarl_gobble(handle,
                                         msg); // the previous member's reply
        }
        const uint32_t member = members.if_index[i];
        status = op == MemberOp::Add
                     ? ostrel_api_add_acl(handle, addr1, addr2, vlan_id, member,
                                          qualifier, msg)
                     : ostrel_api_del_acl(handle, addr1, addr2, vlan_id, member,
                                          qualifier, msg);
        if (status != OSTREL_STATUS_OK) {
            return {status, true};
        }
    }
    return {status, false};
}

// Add: record the ACE (creating entries as needed), then program the
// members. Entries created here stay on any later failure.
uint32_t pc_add(yarl_handle_t handle, const uint8_t *addr1,
                const uint8_t *addr2, uint32_t vlan_id, uint32_t pc_if_index,
                uint32_t qualifier, yarl_msg *msg) {
    NoJournal journal;
    if (!add_ace_to_entry<&PcNode::if_index, &PoVlanNode::vlan_id>(
            journal, brisel_pchandle, pc_if_index, vlan_id,
            ostrel::make_ace_key(addr1, addr2, qualifier))) {
        return OSTREL_STATUS_NO_ENTRY;
    }
    return program_members(MemberOp::Add, handle, addr1, addr2, vlan_id,
                           pc_if_index, qualifier, msg)
        .status;
}

// Delete: check the ACE is recorded, program the members, then remove it
// and any emptied entries. The port-channel registry is changed only when
// no member failed.
uint32_t pc_del(yarl_handle_t handle, const uint8_t *addr1,
                const uint8_t *addr2, uint32_t vlan_id, uint32_t pc_if_index,
                uint32_t qualifier, yarl_msg *msg) {
    PcNode *pc = brisel_pc_lookup(pc_if_index);
    if (pc == nullptr) {
        return OSTREL_STATUS_NO_ENTRY;
    }
    PoVlanNode *povlan = brisel_povlan_lookup(pc, vlan_id);
    if (povlan == nullptr) {
        return OSTREL_STATUS_NO_ENTRY;
    }
    const AceKey key = ostrel::make_ace_key(addr1, addr2, qualifier);
    if (brisel_poace_lookup(povlan, &key) == nullptr) {
        return OSTREL_STATUS_NO_ENTRY;
    }
    const LoopResult result =
        program_members(MemberOp::Del, handle, addr1, addr2, vlan_id,
                        pc_if_index, qualifier, msg);
    if (result.member_failed) {
        return result.status;
    }
    NoJournal journal;
    (void)remove_ace(journal, children(*povlan), key); // the node found above
    drop_emptied<&PcNode::if_index, &PoVlanNode::vlan_id>(
        journal, brisel_pchandle, *pc, *povlan);
    return result.status;
}

} // namespace

// Adds (add != 0) or deletes the ACE on port channel pc_if_index of vlan_id.
// Returns 0; OSTREL_STATUS_NO_ENTRY when an entry cannot be created (add) or is
// not recorded (delete), with nothing sent; OSTREL_STATUS_INVALID for a null
// address; the result of port_channel_info_get when the port channel has no
// member; or the first failing member's status, with the remaining members not
// programmed and the port-channel registry not changed further. The last
// member's reply is left for the caller to drain.
extern "C" OSTREL_API uint32_t ostrel_api_pc_program_acl(
    yarl_handle_t handle, const uint8_t *addr1, const uint8_t *addr2,
    uint32_t vlan_id, uint32_t pc_if_index, uint32_t qualifier, yarl_msg *msg,
    uint32_t add) {
    const ostrel::observe::CallScope counted;
    if (addr1 == nullptr || addr2 == nullptr) {
        return OSTREL_STATUS_INVALID;
    }
    if (add != 0) {
        return pc_add(handle, addr1, addr2, vlan_id, pc_if_index, qualifier,
                      msg);
    }
    return pc_del(handle, addr1, addr2, vlan_id, pc_if_index, qualifier, msg);
}

// For every VLAN, in list order, whose interfaces include if_index: stores
// override into pc_override_if_index (whatever its value), rebuilds and
// sends that interface's request (install passed through, not deferred) and
// drains the reply, ignoring the drain's result. Returns 0 when every
// re-send succeeded or no VLAN holds if_index, else the first failing
// re-send's status at once, without draining and without re-sending later
// VLANs.
extern "C" OSTREL_API uint32_t ostrel_api_pc_program_acl_update(
    yarl_handle_t handle, uint32_t if_index, uint32_t override, yarl_msg *msg,
    uint32_t install) {
    const ostrel::observe::CallScope counted;
    for (VlanNode *vlan = brisel_handle.next; vlan != nullptr;
         vlan = vlan->next) {
        IntfNode *intf = brisel_intf_get_first(vlan);
        while (intf != nullptr && intf->if_index != if_index) {
            intf = brisel_intf_get_next(vlan, intf);
        }
        if (intf == nullptr) {
            continue;
        }
        ostrel::pc_override_if_index = override;
        const uint32_t status =
            ostrel_api_program_intf(handle, msg, vlan, intf, install, 0);
        if (status != OSTREL_STATUS_OK) {
            return status;
        }
        (void)brisel_api_yarl_gobble(handle, msg);
    }
    return OSTREL_STATUS_OK;
}
