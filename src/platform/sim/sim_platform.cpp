// Simulated platform: the call record, as C++ values and through the C
// interface, and reset.
#include "sim_platform.hpp"

#include <utility>

#include "sim_state.h"

namespace ostrel::sim {
namespace detail {

State &state() {
    static State s;
    return s;
}

void record(Call call) {
    state().calls.push_back(std::move(call));
}

} // namespace detail

using detail::state;

const std::vector<Call> &calls() {
    return state().calls;
}

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

std::vector<uint32_t> sleeps() {
    std::vector<uint32_t> out;
    for (const Call &c : calls_of(Op::Sleep))
        out.push_back(c.arg);
    return out;
}

std::vector<std::string> perrors() {
    std::vector<std::string> out;
    for (const Call &c : calls_of(Op::Perror))
        out.push_back(c.text);
    return out;
}

} // namespace ostrel::sim

using ostrel::sim::Call;
using ostrel::sim::detail::state;

extern "C" {

const char *ostrel_sim_op_name(ostrel_sim_op op) {
    switch (op) {
    case OSTREL_SIM_OP_SEND:
        return "send";
    case OSTREL_SIM_OP_ERRNO_GET:
        return "errno_get";
    case OSTREL_SIM_OP_RR_TOKEN_GET:
        return "rr_token_get";
    case OSTREL_SIM_OP_DROP:
        return "drop";
    case OSTREL_SIM_OP_RECV:
        return "recv";
    case OSTREL_SIM_OP_PAYLOAD_GET:
        return "payload_get";
    case OSTREL_SIM_OP_HEARTBEAT:
        return "heartbeat";
    case OSTREL_SIM_OP_IF_TYPE_GET:
        return "if_type_get";
    case OSTREL_SIM_OP_PC_INFO_GET:
        return "pc_info_get";
    case OSTREL_SIM_OP_SLEEP:
        return "sleep";
    case OSTREL_SIM_OP_PERROR:
        return "perror";
    }
    return "?";
}

void ostrel_sim_reset(void) {
    // Swapping with fresh containers hands their memory back at once. The
    // call record keeps its capacity: a long run of resets and calls (a
    // benchmark) would otherwise grow it again after every reset.
    ostrel::sim::detail::State fresh;
    fresh.calls = std::move(state().calls);
    fresh.calls.clear();
    std::swap(state(), fresh);
    ostrel::sim::detail::reset_allocations();
}

// ---- the recording ----

size_t ostrel_sim_call_count(void) {
    return state().calls.size();
}

size_t ostrel_sim_count_of(ostrel_sim_op op) {
    size_t n = 0;
    for (const Call &c : state().calls)
        n += c.op == static_cast<ostrel::sim::Op>(op);
    return n;
}

int ostrel_sim_call_at(size_t index, ostrel_sim_call_t *call) {
    if (call == nullptr || index >= state().calls.size())
        return -1;
    const Call &c = state().calls[index];
    *call = {static_cast<ostrel_sim_op>(c.op),
             c.handle,
             c.opcode,
             c.length,
             c.token,
             c.arg,
             c.result,
             c.payload.empty() ? nullptr : c.payload.data(),
             c.payload.size(),
             c.text.c_str()};
    return 0;
}

} // extern "C"
