// Simulated platform: the call record and the control interface.
#include "sim_platform.hpp"

#include <utility>

#include "sim_state.h"

namespace ostrel::sim {
namespace detail {

State &state() {
    static State s;
    return s;
}

void record(Call call) { state().calls.push_back(std::move(call)); }

} // namespace detail

using detail::state;

const char *op_name(Op op) {
    switch (op) {
    case Op::Send:
        return "send";
    case Op::ErrnoGet:
        return "errno_get";
    case Op::RrTokenGet:
        return "rr_token_get";
    case Op::Drop:
        return "drop";
    case Op::Recv:
        return "recv";
    case Op::PayloadGet:
        return "payload_get";
    case Op::Heartbeat:
        return "heartbeat";
    case Op::IfTypeGet:
        return "if_type_get";
    case Op::PcInfoGet:
        return "pc_info_get";
    case Op::Sleep:
        return "sleep";
    case Op::Perror:
        return "perror";
    }
    return "?";
}

void reset() {
    // Swapping with fresh containers hands their memory back at once. The
    // call record keeps its capacity: a long run of resets and calls (a
    // benchmark) would otherwise grow it again after every reset.
    detail::State fresh;
    fresh.calls = std::move(state().calls);
    fresh.calls.clear();
    std::swap(state(), fresh);
    detail::reset_allocations();
}

const std::vector<Call> &calls() { return state().calls; }

std::string trace() {
    std::string out;
    for (const Call &c : state().calls) {
        if (!out.empty())
            out += ' ';
        out += op_name(c.op);
    }
    return out;
}

std::vector<Call> calls_of(Op op) {
    std::vector<Call> out;
    for (const Call &c : state().calls)
        if (c.op == op)
            out.push_back(c);
    return out;
}

size_t count_of(Op op) {
    size_t n = 0;
    for (const Call &c : state().calls)
        n += c.op == op;
    return n;
}

// ---- transport scripting ----

void fail_next_sends(int n, int errno_value) {
    state().send_failures = {n, errno_value};
}

void fail_next_recv(int errno_value) {
    state().recv_failures = {1, errno_value};
}

void next_reply_without_payload() { state().next_reply_without_payload = true; }

void set_reply_word(uint32_t word) { state().reply_word = word; }

int outstanding_records() { return static_cast<int>(state().records.size()); }

size_t pending_replies() { return state().replies.size(); }

void set_copy_payloads(bool copy) { state().copy_payloads = copy; }

// ---- heartbeat ----

size_t heartbeat_count() { return count_of(Op::Heartbeat); }

// ---- interface service ----

void set_if_type(uint32_t if_index, uint8_t type) {
    state().if_types[if_index] = type;
}

void fail_if_type_queries(int n, int result) {
    state().if_type_failures = {n, result};
}

// ---- port-channel service ----

void set_pc_members(uint32_t pc_if_index,
                    const std::vector<uint32_t> &members) {
    state().port_channels[pc_if_index].members = members;
}

void set_pc_reported_count(uint32_t pc_if_index, uint32_t count) {
    detail::PortChannel &pc = state().port_channels[pc_if_index];
    pc.count_overridden = true;
    pc.reported_count = count;
}

void fail_pc_queries(int n, int result) { state().pc_failures = {n, result}; }

// ---- seams ----

std::vector<uint32_t> sleeps() {
    std::vector<uint32_t> out;
    for (const Call &c : state().calls)
        if (c.op == Op::Sleep)
            out.push_back(c.arg);
    return out;
}

std::vector<std::string> perrors() {
    std::vector<std::string> out;
    for (const Call &c : state().calls)
        if (c.op == Op::Perror)
            out.push_back(c.text);
    return out;
}

} // namespace ostrel::sim
