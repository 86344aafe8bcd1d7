// Simulated switch platform: an in-process stand-in for the message
// transport, heartbeat, interface service and port-channel service. It
// records every call with its arguments (and a copy of every payload) and
// can be scripted to fail. Test binaries also link the seams below with
// -Wl,--wrap=usleep,--wrap=perror,--wrap=malloc,--wrap=calloc,--wrap=free
// so that retry sleeps are instant and observable, perror output is
// captured, and allocations can be counted and made to fail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ostrelapi.h"

namespace ostrel::sim {

enum class Op {
    Send,
    ErrnoGet,
    RrTokenGet,
    Drop,
    Recv,
    PayloadGet,
    Heartbeat,
    IfTypeGet,
    PcInfoGet,
    Sleep,
    Perror,
};

// Short lower-case name of an operation: "send", "errno_get",
// "rr_token_get", "drop", "recv", "payload_get", "heartbeat", "if_type_get",
// "pc_info_get", "sleep", "perror".
const char *op_name(Op op);

// One recorded platform call.
struct Call {
    Op op;
    uint32_t handle = 0;                // transport calls
    const yarl_msg *msg = nullptr;      // record argument (send, drop, recv...)
    yarl_addr dst{};                    // send
    uint32_t opcode = 0;                // send
    uint32_t length = 0;                // send: length argument
    uint32_t seventh = 0;               // send: the always-zero argument
    yarl_send_opts send_opts{};         // send
    yarl_recv_opts recv_opts{};         // recv
    std::vector<uint8_t> payload;       // send: copy of the bytes sent
    uint32_t token = 0;                 // send: token given; rr_token_get: result;
                                        // recv: token asked for; drop: token
                                        // of the record released
    uint32_t arg = 0;                   // heartbeat arg, if index, pc index,
                                        // sleep microseconds
    int result = 0;                     // what the call returned
    std::string text;                   // perror message
};

// Forgets every recorded call and scripted behaviour; releases every
// message record and queued reply; clears the interface and port-channel
// tables and the allocation counters. Tokens start again at kFirstToken.
void reset();

// Token of the first successful send after reset(); each further send
// gets the next integer.
constexpr uint32_t kFirstToken = 1001;
// Error number of a receive that finds no reply for its token.
constexpr int kNoReplyErrno = 42; // ENOMSG on Linux

// Every call since reset(), in order.
const std::vector<Call> &calls();
// Names of the calls since reset() joined with ' ', e.g.
// "if_type_get send rr_token_get drop heartbeat recv payload_get drop".
std::string trace();
// Only the calls of one operation.
std::vector<Call> calls_of(Op op);
size_t count_of(Op op);

// ---- transport scripting ----
// The next n sends fail, each with errno_value as the handle's error number.
void fail_next_sends(int n, int errno_value);
// The next receive returns -1 with errno_value as the error number.
void fail_next_recv(int errno_value);
// The next reply delivered has no payload.
void next_reply_without_payload();
// First 32-bit word of the payload of replies (default 0).
void set_reply_word(uint32_t word);
// Number of message records held by the transport and not yet dropped
// (sends not dropped plus received replies not dropped).
int outstanding_records();
// Replies queued by successful sends and not yet received.
size_t pending_replies();
// Whether sends keep a copy of their payload bytes in Call::payload
// (default true; reset() restores it). Off, only the length is recorded.
void set_copy_payloads(bool copy);

// A message record as a received policy update message would be, with the
// given payload bytes (empty: no payload). Its storage is the sim's.
yarl_msg make_received_message(const std::vector<uint8_t> &payload);

// ---- heartbeat ----
size_t heartbeat_count();

// ---- interface service ----
void set_if_type(uint32_t if_index, uint8_t type); // unknown indexes: type 1
// The next n type queries return `result` and do not write the type byte.
void fail_if_type_queries(int n, int result);

// ---- port-channel service ----
void set_pc_members(uint32_t pc_if_index, const std::vector<uint32_t> &members);
// Report `count` as the member count of pc_if_index whatever the table
// holds (for counts above six; only six entries are ever filled).
void set_pc_reported_count(uint32_t pc_if_index, uint32_t count);
// The next n queries return `result` (nonzero) and fill nothing.
void fail_pc_queries(int n, int result);

// ---- seams (active in test binaries linked with the wraps) ----
std::vector<uint32_t> sleeps();      // microseconds of each usleep
std::vector<std::string> perrors();  // text of each perror
// Allocation number `nth` from now (1 = the next one) returns null;
// 0 disables. Counts malloc and calloc made by code linked with the wraps.
void fail_allocation(long nth);
// Fail every allocation from number `nth` from now on (0 disables).
void fail_allocations_from(long nth);
// Calls of wrapped malloc and calloc since reset(), failed ones included.
long allocations_made();
// Blocks from wrapped malloc/calloc not yet released with free.
long live_allocations();

} // namespace ostrel::sim
