// The port-channel query shared by the request builder (a port channel's
// request goes to every member) and port-channel programming (an ACE is
// programmed on every member).
#include <cstring>

#include "ifsvc.h"
#include "programming/programming_internal.h"

namespace ostrel {

PcMembers query_pc_members(uint32_t pc_if_index) {
    PortChannelInfo info;
    std::memset(&info, 0, sizeof info);
    info.pc_if_index = pc_if_index;
    PcMembers members;
    members.result = port_channel_info_get(&info);
    // Read by value: the record is packed, its fields unaligned.
    const uint32_t reported = info.member_count;
    members.count =
        reported < OSTREL_PC_MAX_MEMBERS ? reported : OSTREL_PC_MAX_MEMBERS;
    for (uint32_t i = 0; i < members.count; ++i) {
        members.if_index[i] = info.members[i].if_index;
    }
    return members;
}

} // namespace ostrel
