// Simulated heartbeat, interface service and port-channel service.
#include <algorithm>
#include <utility>

#include "ifsvc.h"
#include "sim_state.h"
#include "yarl.h"

using ostrel::sim::Call;
using ostrel::sim::Op;
using ostrel::sim::detail::new_call;
using ostrel::sim::detail::state;

namespace {

int finish(Call call) {
    int result = call.result;
    ostrel::sim::detail::record(std::move(call));
    return result;
}

// Writes what the port-channel table says about info->pc_if_index. Only
// the six entries of the record are ever written, whatever count is
// reported.
void fill(PortChannelInfo *info) {
    // A copy: the packed record's field is not aligned for a reference.
    const uint32_t pc_if_index = info->pc_if_index;
    auto it = state().port_channels.find(pc_if_index);
    if (it == state().port_channels.end()) {
        info->member_count = 0;
        return;
    }
    const ostrel::sim::detail::PortChannel &pc = it->second;
    info->member_count = pc.count_overridden
                             ? pc.reported_count
                             : static_cast<uint32_t>(pc.members.size());
    size_t n = std::min<size_t>(pc.members.size(), OSTREL_PC_MAX_MEMBERS);
    for (size_t i = 0; i < n; ++i)
        info->members[i].if_index = pc.members[i];
}

} // namespace

extern "C" {

int heartbeat_update_and_send(uint32_t arg) {
    Call call = new_call(Op::Heartbeat);
    call.arg = arg;
    return finish(std::move(call));
}

int if_index_get_type(uint32_t if_index, uint8_t *type) {
    Call call = new_call(Op::IfTypeGet);
    call.arg = if_index;
    if (state().if_type_failures.take()) {
        call.result = state().if_type_failures.result;
    } else if (type == nullptr) {
        call.result = -1;
    } else {
        auto it = state().if_types.find(if_index);
        *type = it == state().if_types.end() ? 1 : it->second;
    }
    return finish(std::move(call));
}

int port_channel_info_get(PortChannelInfo *info) {
    Call call = new_call(Op::PcInfoGet);
    if (info == nullptr) {
        call.result = -1;
        return finish(std::move(call));
    }
    call.arg = info->pc_if_index;
    if (state().pc_failures.take())
        call.result = state().pc_failures.result;
    else
        fill(info);
    return finish(std::move(call));
}

} // extern "C"
