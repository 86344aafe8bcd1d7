// State shared by the parts of the simulated platform. Internal: tests use
// the control interface of sim_platform.hpp.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "sim_platform.hpp"

namespace ostrel::sim::detail {

// What the transport holds for one message record: a sent message or a
// received one (a reply, or a message made by make_received_message).
struct Record {
    bool received = false;
    uint32_t token = 0;
    bool has_payload = false;
    std::vector<uint8_t> payload; // storage of a received record's payload
};

struct PortChannel {
    std::vector<uint32_t> members;
    bool count_overridden = false;
    uint32_t reported_count = 0;
};

// A scripted run of failures: after `pass` calls, the next `remaining`
// calls return `result`.
struct FailureScript {
    int remaining = 0;
    int result = 0;
    int pass = 0;
    // Consumes one call of the script; true when this call is to fail.
    bool take() {
        if (pass > 0) {
            --pass;
            return false;
        }
        if (remaining <= 0)
            return false;
        --remaining;
        return true;
    }
};

struct State {
    std::vector<Call> calls;

    // transport
    uint32_t next_token = kFirstToken;
    std::map<uint64_t, Record> records; // held, keyed by record id
    std::vector<uint32_t> replies;      // tokens of queued replies
    std::map<uint32_t, int> handle_errno;
    FailureScript send_failures;        // result: errno value
    FailureScript recv_failures;        // result: errno value
    bool next_reply_without_payload = false;
    uint32_t reply_word = 0;
    bool copy_payloads = true;

    // interface and port-channel services
    std::map<uint32_t, uint8_t> if_types;
    FailureScript if_type_failures;
    std::map<uint32_t, PortChannel> port_channels;
    FailureScript pc_failures;
};

State &state();
// A call of operation op with every other field at its default.
inline Call new_call(Op op) {
    Call call;
    call.op = op;
    return call;
}
// Appends a finished call to the record.
void record(Call call);

// Allocation accounting behind the malloc/calloc/free seams. These never
// allocate themselves.
// Counts one allocation attempt; true when it is scripted to fail.
bool allocation_should_fail();
void track_block(void *block);
void untrack_block(void *block);
void reset_allocations();

} // namespace ostrel::sim::detail
