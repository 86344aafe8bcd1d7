// Calls and state shared between the parts of ACL programming; hidden from
// the shared library's symbol table.
#pragma once

#include <cstdint>
#include <cstring>

#include "ifsvc.h"
#include "ostrelapi.h"
#include "programming/batch_layout.h"

extern "C" {

// Rebuilds the complete request of `intf` in `vlan` from the registry and
// appends it to the batch; with defer == 0 also sends the batch.
uint32_t ostrel_api_program_intf(yarl_handle_t handle, yarl_msg *msg,
                                 VlanNode *vlan, IntfNode *intf,
                                 uint32_t install, uint32_t defer);
// Sends length bytes at data to the ACL service, with retries.
uint32_t ostrel_api_send_batch(yarl_handle_t handle, yarl_msg *msg,
                               const void *data, uint32_t length);
// Records an ACE on an interface and reprograms the affected interfaces.
uint32_t ostrel_api_add_acl(yarl_handle_t handle, const uint8_t *addr1,
                            const uint8_t *addr2, uint32_t vlan_id,
                            uint32_t if_index, uint32_t qualifier,
                            yarl_msg *msg);

} // extern "C"

namespace ostrel {
// Open batch block and its used length (0 when none is open). In the
// library's namespace, so a program's own globals of these names never
// collide with them in a static link.
extern uint8_t *batch_buf;
extern uint32_t batch_len;
// One-shot interface index replacing a port channel's member fan-out.
extern uint32_t pc_override_if_index;

// True when the six bytes of an address are all zero: an ACE whose first
// address is all zero is left out of every request.
inline bool is_all_zero(const uint8_t *addr) {
    static constexpr uint8_t kZero[6] = {};
    return std::memcmp(addr, kZero, sizeof kZero) == 0;
}

// The identity of an ACE from a call's arguments: both addresses and the
// low 16 bits of the qualifier.
inline AceKey make_ace_key(const uint8_t *addr1, const uint8_t *addr2,
                           uint32_t qualifier) {
    AceKey key{};
    std::memcpy(key.addr1, addr1, sizeof key.addr1);
    std::memcpy(key.addr2, addr2, sizeof key.addr2);
    key.qualifier = static_cast<uint16_t>(qualifier & 0xffffu);
    return key;
}

// A port channel's members as the port-channel service reports them.
struct PcMembers {
    int result = 0;     // what port_channel_info_get returned
    uint32_t count = 0; // at most OSTREL_PC_MAX_MEMBERS
    uint32_t if_index[OSTREL_PC_MAX_MEMBERS] = {};
};

// Asks the port-channel service for the members of pc_if_index. The member
// entries are read from the record whatever the query returned; a count
// above the six entries the record holds is capped at six.
PcMembers query_pc_members(uint32_t pc_if_index);
} // namespace ostrel
