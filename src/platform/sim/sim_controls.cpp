// Simulated platform: the controls that script the transport and the
// services (what the next calls return, what the tables hold).
#include <vector>

#include "sim_state.h"

using ostrel::sim::detail::state;

extern "C" {

// ---- transport scripting ----

void ostrel_sim_fail_next_sends(int n, int errno_value) {
    state().send_failures = {n, errno_value};
}

void ostrel_sim_fail_sends_after(int succeed, int n, int errno_value) {
    state().send_failures = {n, errno_value, succeed};
}

void ostrel_sim_fail_next_recv(int errno_value) {
    state().recv_failures = {1, errno_value};
}

void ostrel_sim_next_reply_without_payload(void) {
    state().next_reply_without_payload = true;
}

void ostrel_sim_set_reply_word(uint32_t word) {
    state().reply_word = word;
}

size_t ostrel_sim_outstanding_records(void) {
    return state().records.size();
}

size_t ostrel_sim_pending_replies(void) {
    return state().replies.size();
}

void ostrel_sim_set_copy_payloads(int copy) {
    state().copy_payloads = copy != 0;
}

// ---- interface service ----

void ostrel_sim_set_if_type(uint32_t if_index, uint8_t type) {
    state().if_types[if_index] = type;
}

void ostrel_sim_fail_if_type_queries(int n, int result) {
    state().if_type_failures = {n, result};
}

// ---- port-channel service ----

void ostrel_sim_set_pc_members(uint32_t pc_if_index, const uint32_t *members,
                               size_t count) {
    std::vector<uint32_t> &list = state().port_channels[pc_if_index].members;
    if (members == nullptr)
        count = 0;
    list.assign(members, members + count);
}

void ostrel_sim_set_pc_reported_count(uint32_t pc_if_index, uint32_t count) {
    ostrel::sim::detail::PortChannel &pc = state().port_channels[pc_if_index];
    pc.count_overridden = true;
    pc.reported_count = count;
}

void ostrel_sim_fail_pc_queries(int n, int result) {
    state().pc_failures = {n, result};
}

} // extern "C"
