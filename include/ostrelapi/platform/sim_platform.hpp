// C++ view of the simulated platform (sim_platform.h): the recording as
// values (calls with their payload bytes and messages), and the C controls
// under shorter names taking standard containers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim_platform.h"

namespace ostrel::sim {

enum class Op {
    Send = OSTREL_SIM_OP_SEND,
    ErrnoGet = OSTREL_SIM_OP_ERRNO_GET,
    RrTokenGet = OSTREL_SIM_OP_RR_TOKEN_GET,
    Drop = OSTREL_SIM_OP_DROP,
    Recv = OSTREL_SIM_OP_RECV,
    PayloadGet = OSTREL_SIM_OP_PAYLOAD_GET,
    Heartbeat = OSTREL_SIM_OP_HEARTBEAT,
    IfTypeGet = OSTREL_SIM_OP_IF_TYPE_GET,
    PcInfoGet = OSTREL_SIM_OP_PC_INFO_GET,
    Sleep = OSTREL_SIM_OP_SLEEP,
    Perror = OSTREL_SIM_OP_PERROR,
};

inline const char *op_name(Op op) {
    return ostrel_sim_op_name(static_cast<ostrel_sim_op>(op));
}

// One recorded platform call.
struct Call {
    Op op;
    uint32_t handle = 0;           // transport calls
    const yarl_msg *msg = nullptr; // record argument (send, drop, recv...)
    yarl_addr dst{};               // send
    uint32_t opcode = 0;           // send
    uint32_t length = 0;           // send: length argument
    uint32_t seventh = 0;          // send: the always-zero argument
    yarl_send_opts send_opts{};    // send
    yarl_recv_opts recv_opts{};    // recv
    std::vector<uint8_t> payload;  // send: copy of the bytes sent
    uint32_t token = 0;            // as ostrel_sim_call_t::token
    uint32_t arg = 0;              // as ostrel_sim_call_t::arg
    int result = 0;                // what the call returned
    std::string text;              // perror message
};

inline void reset() {
    ostrel_sim_reset();
}

constexpr uint32_t kFirstToken = OSTREL_SIM_FIRST_TOKEN;
constexpr int kNoReplyErrno = OSTREL_SIM_NO_REPLY_ERRNO;

// Every call since reset(), in order.
const std::vector<Call> &calls();
// Names of the calls since reset() joined with ' ', e.g.
// "if_type_get send rr_token_get drop heartbeat recv payload_get drop".
std::string trace();
// Only the calls of one operation.
std::vector<Call> calls_of(Op op);
inline size_t count_of(Op op) {
    return ostrel_sim_count_of(static_cast<ostrel_sim_op>(op));
}

// ---- transport ----
inline void fail_next_sends(int n, int errno_value) {
    ostrel_sim_fail_next_sends(n, errno_value);
}
inline void fail_sends_after(int succeed, int n, int errno_value) {
    ostrel_sim_fail_sends_after(succeed, n, errno_value);
}
inline void fail_next_recv(int errno_value) {
    ostrel_sim_fail_next_recv(errno_value);
}
inline void next_reply_without_payload() {
    ostrel_sim_next_reply_without_payload();
}
inline void set_reply_word(uint32_t word) {
    ostrel_sim_set_reply_word(word);
}
inline int outstanding_records() {
    return static_cast<int>(ostrel_sim_outstanding_records());
}
inline size_t pending_replies() {
    return ostrel_sim_pending_replies();
}
inline void set_copy_payloads(bool copy) {
    ostrel_sim_set_copy_payloads(copy);
}
// A message record as a received policy update message would be, with the
// given payload bytes (empty: no payload).
inline yarl_msg make_received_message(const std::vector<uint8_t> &payload) {
    yarl_msg msg{};
    (void)ostrel_sim_make_received_message(payload.data(), payload.size(),
                                           &msg);
    return msg;
}

// ---- heartbeat, interface and port-channel services ----
inline size_t heartbeat_count() {
    return count_of(Op::Heartbeat);
}
inline void set_if_type(uint32_t if_index, uint8_t type) {
    ostrel_sim_set_if_type(if_index, type);
}
inline void fail_if_type_queries(int n, int result) {
    ostrel_sim_fail_if_type_queries(n, result);
}
inline void set_pc_members(uint32_t pc_if_index,
                           const std::vector<uint32_t> &members) {
    ostrel_sim_set_pc_members(pc_if_index, members.data(), members.size());
}
inline void set_pc_reported_count(uint32_t pc_if_index, uint32_t count) {
    ostrel_sim_set_pc_reported_count(pc_if_index, count);
}
inline void fail_pc_queries(int n, int result) {
    ostrel_sim_fail_pc_queries(n, result);
}

// ---- seams ----
std::vector<uint32_t> sleeps();     // microseconds of each usleep
std::vector<std::string> perrors(); // text of each perror
inline void fail_allocation(long nth) {
    ostrel_sim_fail_allocation(nth);
}
inline void fail_allocations_from(long nth) {
    ostrel_sim_fail_allocations_from(nth);
}
inline long allocations_made() {
    return ostrel_sim_allocations_made();
}
inline long live_allocations() {
    return ostrel_sim_live_allocations();
}

} // namespace ostrel::sim
