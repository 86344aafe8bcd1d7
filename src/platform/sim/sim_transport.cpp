// Simulated message transport. Every successful send queues one reply under
// a fresh token; a receive by that token delivers it. A yarl_msg the
// transport holds something for carries a marker, the token and the id of
// the transport's record in its first three words.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "sim_state.h"
#include "yarl.h"

namespace {

using ostrel::sim::Call;
using ostrel::sim::Op;
using ostrel::sim::detail::new_call;
using ostrel::sim::detail::Record;
using ostrel::sim::detail::state;

constexpr uint64_t kHeldMarker = 0x73696d2d68656c64ull;     // "sim-held"
constexpr uint64_t kReleasedMarker = 0x73696d2d66726565ull; // "sim-free"

struct MsgFields {
    uint64_t marker;
    uint64_t token;
    uint64_t record_id;
};

MsgFields fields_of(const yarl_msg *msg) {
    return {msg->opaque[0], msg->opaque[1], msg->opaque[2]};
}

void hold(yarl_msg *msg, uint32_t token, uint64_t record_id) {
    std::memset(msg, 0, sizeof *msg);
    msg->opaque[0] = kHeldMarker;
    msg->opaque[1] = token;
    msg->opaque[2] = record_id;
}

// The transport's record behind msg, or null when it holds nothing for it.
Record *held_record(const yarl_msg *msg) {
    if (msg == nullptr)
        return nullptr;
    MsgFields f = fields_of(msg);
    if (f.marker != kHeldMarker)
        return nullptr;
    auto it = state().records.find(f.record_id);
    return it == state().records.end() ? nullptr : &it->second;
}

// Record ids are never reused, not even across reset(), so a yarl_msg left
// over from before a reset never names a later record.
uint64_t new_record(Record record) {
    static uint64_t next_record_id = 1;
    uint64_t id = next_record_id++;
    state().records.emplace(id, std::move(record));
    return id;
}

Record reply_for(uint32_t token) {
    Record r;
    r.received = true;
    r.token = token;
    if (state().next_reply_without_payload) {
        state().next_reply_without_payload = false;
        return r;
    }
    r.has_payload = true;
    r.payload.resize(sizeof(uint32_t));
    std::memcpy(r.payload.data(), &state().reply_word, sizeof(uint32_t));
    return r;
}

int fail(Call &call, yarl_handle_t handle, int errno_value) {
    state().handle_errno[handle] = errno_value;
    call.result = -1;
    return -1;
}

// Records a send or receive and returns its result; a failed one leaves its
// error number in errno too, as a system call would, so a perror line
// after it names the error.
int finish(Call call, yarl_handle_t handle) {
    const int result = call.result;
    ostrel::sim::detail::record(std::move(call));
    if (result == -1)
        errno = state().handle_errno[handle];
    return result;
}

} // namespace

extern "C" {

int ostrel_sim_make_received_message(const void *payload, size_t size,
                                     yarl_msg *msg) {
    if (msg == nullptr || (payload == nullptr && size > 0))
        return -1;
    Record r;
    r.received = true;
    r.has_payload = size > 0;
    const auto *bytes = static_cast<const uint8_t *>(payload);
    r.payload.assign(bytes, bytes + size);
    hold(msg, 0, new_record(std::move(r)));
    return 0;
}

int yarl_send(yarl_handle_t handle, yarl_addr *dst, uint32_t opcode,
              const void *payload, uint32_t length, yarl_msg *msg,
              uint32_t zero, yarl_send_opts *opts) {
    Call call = new_call(Op::Send);
    call.handle = handle;
    call.msg = msg;
    if (dst != nullptr)
        call.dst = *dst;
    call.opcode = opcode;
    call.length = length;
    call.seventh = zero;
    if (opts != nullptr)
        call.send_opts = *opts;
    if (state().copy_payloads && payload != nullptr && length > 0) {
        const auto *bytes = static_cast<const uint8_t *>(payload);
        call.payload.assign(bytes, bytes + length);
    }

    if (state().send_failures.take()) {
        fail(call, handle, state().send_failures.result);
    } else if (msg == nullptr) {
        fail(call, handle, 22 /* EINVAL */);
    } else {
        uint32_t token = state().next_token++;
        Record sent;
        sent.token = token;
        // A msg still held from an earlier send keeps that record
        // outstanding: the leak shows in outstanding_records().
        hold(msg, token, new_record(std::move(sent)));
        state().replies.push_back(token);
        call.token = token;
    }
    return finish(std::move(call), handle);
}

int yarl_errno_get(yarl_handle_t handle) {
    Call call = new_call(Op::ErrnoGet);
    call.handle = handle;
    auto it = state().handle_errno.find(handle);
    call.result = it == state().handle_errno.end() ? 0 : it->second;
    int result = call.result;
    ostrel::sim::detail::record(std::move(call));
    return result;
}

uint32_t yarl_rr_token_get(yarl_msg *msg) {
    Call call = new_call(Op::RrTokenGet);
    call.msg = msg;
    if (msg != nullptr) {
        MsgFields f = fields_of(msg);
        // The token stays readable after the msg is dropped.
        if (f.marker == kHeldMarker || f.marker == kReleasedMarker)
            call.token = static_cast<uint32_t>(f.token);
    }
    uint32_t token = call.token;
    call.result = static_cast<int>(token);
    ostrel::sim::detail::record(std::move(call));
    return token;
}

int yarl_drop(yarl_handle_t handle, yarl_msg *msg) {
    Call call = new_call(Op::Drop);
    call.handle = handle;
    call.msg = msg;
    if (Record *r = held_record(msg)) {
        call.token = r->token;
        state().records.erase(fields_of(msg).record_id);
        msg->opaque[0] = kReleasedMarker;
    } else {
        call.result = -1; // nothing held for msg
    }
    int result = call.result;
    ostrel::sim::detail::record(std::move(call));
    return result;
}

int yarl_recv(yarl_handle_t handle, yarl_msg *record, yarl_recv_opts *opts) {
    Call call = new_call(Op::Recv);
    call.handle = handle;
    call.msg = record;
    if (opts != nullptr) {
        call.recv_opts = *opts;
        call.token = opts->word[3];
    }
    std::vector<uint32_t> &replies = state().replies;
    auto queued = std::find(replies.begin(), replies.end(), call.token);

    if (state().recv_failures.take()) {
        fail(call, handle, state().recv_failures.result);
    } else if (record == nullptr || opts == nullptr) {
        fail(call, handle, 22 /* EINVAL */);
    } else if (queued == replies.end()) {
        fail(call, handle, ostrel::sim::kNoReplyErrno);
    } else {
        replies.erase(queued);
        hold(record, call.token, new_record(reply_for(call.token)));
    }
    return finish(std::move(call), handle);
}

void *yarl_payload_get(yarl_msg *record) {
    Call call = new_call(Op::PayloadGet);
    call.msg = record;
    void *payload = nullptr;
    Record *r = held_record(record);
    if (r != nullptr && r->received && r->has_payload)
        payload = r->payload.data();
    call.result = payload != nullptr;
    ostrel::sim::detail::record(std::move(call));
    return payload;
}

} // extern "C"
