// The yarl transport functions over the socket connection. A yarl_msg the
// transport holds something for carries a marker, the token of its send or
// reply and, for a received reply, a malloc'ed copy of the payload.
#include "ostrelapi/platform/socket_transport.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "socket_connection.h"

namespace {

using ostrel::socket_frame::Head;
using ostrel::socket_frame::Kind;
using ostrel::socket_frame::make_head;
using ostrel::socket_transport::Connection;
using ostrel::socket_transport::ReceivedFrame;

constexpr uint64_t kHeldMarker = 0x736f636b2d68656cull;     // "sock-hel"
constexpr uint64_t kReleasedMarker = 0x736f636b2d667265ull; // "sock-fre"

// Word layout of a yarl_msg held by this transport.
enum Word { kMarker, kToken, kReceived, kHasPayload, kPayload, kLength };

struct TransportState {
    Connection connection;
    std::string path; // where to connect again; empty: never again
    uint32_t generation = 0;
    uint32_t next_token = ostrel::socket_transport::kFirstToken;
    // The first token of the current connection: the replies to sends
    // with a lower token were lost with an earlier connection.
    uint32_t connection_first_token = ostrel::socket_transport::kFirstToken;
    uint32_t next_query = 1;
    std::map<yarl_handle_t, int> errnos;
};

TransportState &state() {
    static TransportState s;
    return s;
}

void *payload_of(const yarl_msg *msg) {
    return reinterpret_cast<void *>(
        static_cast<uintptr_t>(msg->opaque[kPayload]));
}

// Records err for yarl_errno_get and leaves it in errno too, so that a
// caller's perror names the transport's error.
int fail(yarl_handle_t handle, int err) {
    state().errnos[handle] = err;
    errno = err;
    return -1;
}

// Releases the payload copy msg holds, if any, and marks it released.
void release(yarl_msg *msg) {
    if (msg->opaque[kMarker] != kHeldMarker)
        return;
    std::free(payload_of(msg));
    msg->opaque[kPayload] = 0;
    msg->opaque[kMarker] = kReleasedMarker;
}

void hold_sent(yarl_msg *msg, uint32_t token) {
    release(msg);
    std::memset(msg, 0, sizeof *msg);
    msg->opaque[kMarker] = kHeldMarker;
    msg->opaque[kToken] = token;
}

// 0, or ENOMEM when the payload copy cannot be made.
int hold_reply(yarl_msg *record, const ReceivedFrame &frame) {
    void *copy = nullptr;
    bool has_payload = (frame.head.flags & ostrel::socket_frame::kHasPayload);
    if (has_payload) {
        copy = std::malloc(frame.payload.empty() ? 1 : frame.payload.size());
        if (copy == nullptr)
            return ENOMEM;
        if (!frame.payload.empty())
            std::memcpy(copy, frame.payload.data(), frame.payload.size());
    }
    std::memset(record, 0, sizeof *record);
    record->opaque[kMarker] = kHeldMarker;
    record->opaque[kToken] = frame.head.token;
    record->opaque[kReceived] = 1;
    record->opaque[kHasPayload] = has_payload;
    record->opaque[kPayload] = reinterpret_cast<uintptr_t>(copy);
    record->opaque[kLength] = frame.payload.size();
    return 0;
}

// How a send ended: 0 or an errno value, and whether the frame may have
// reached the service (then its token is used up, whatever came back).
struct Delivery {
    int err;
    bool may_have_arrived;
};

// A new connection, counted by the generation.
int open_connection(const char *path,
                    const ostrel::socket_transport::Deadline &deadline) {
    TransportState &s = state();
    int err = s.connection.open(path, deadline);
    if (err == 0) {
        s.generation++;
        s.connection_first_token = s.next_token;
    }
    return err;
}

// Whether the reply to the send of `token` can no longer arrive: the send
// went out on a connection the service has closed since (whether or not
// the transport connected again). Its receive fails at once.
bool reply_lost(uint32_t token) {
    const TransportState &s = state();
    const bool service_closed =
        !s.connection.is_open() && !s.path.empty() && !s.connection.broken();
    return service_closed || token < s.connection_first_token;
}

// Connects again when the service went away (the connection was closed on
// a lost peer), unless the program disconnected or the service broke the
// protocol. 0, or why there is no connection.
int ensure_connected(const ostrel::socket_transport::Deadline &deadline) {
    TransportState &s = state();
    if (s.connection.is_open())
        return 0;
    if (s.path.empty() || s.connection.broken())
        return ENOTCONN;
    return open_connection(s.path.c_str(), deadline);
}

// Writes one frame, connecting again first when the service had gone
// away, and once more when it turns out gone as the frame is written
// (nothing was sent then).
int send_connected(const Head &head, const void *payload, uint32_t length,
                   const ostrel::socket_transport::Deadline &deadline) {
    int err = ECONNRESET;
    for (int attempt = 0; attempt < 2 && err == ECONNRESET; ++attempt) {
        err = ensure_connected(deadline);
        if (err == 0)
            err =
                state().connection.send_frame(head, payload, length, deadline);
    }
    return err;
}

// Sends a Send frame and waits for the service to accept or refuse it.
Delivery deliver(const yarl_addr *dst, uint32_t opcode, const void *payload,
                 uint32_t length, uint32_t token) {
    Head head = make_head(Kind::Send, token);
    head.node = dst != nullptr ? dst->node : 0;
    head.service = dst != nullptr ? dst->service : 0;
    head.opcode = opcode;
    Connection &c = state().connection;
    const auto deadline = c.deadline();
    int err = send_connected(head, payload, length, deadline);
    if (err != 0)
        return {err, false};
    ReceivedFrame accept;
    err = c.wait_for(Kind::Accept, token, &accept, deadline);
    if (err != 0)
        return {err, true};
    // Refused: the service says it did not take the message.
    return {accept.head.error, accept.head.error == 0};
}

} // namespace

extern "C" {

int ostrel_socket_transport_connect(const char *path) {
    TransportState &s = state();
    s.path.clear();
    s.next_token = ostrel::socket_transport::kFirstToken;
    int err = open_connection(path, s.connection.deadline());
    if (err == 0)
        s.path = path;
    else
        errno = err;
    return err;
}

void ostrel_socket_transport_disconnect(void) {
    state().path.clear();
    state().connection.close();
}

uint32_t ostrel_socket_generation(yarl_handle_t) {
    return state().generation;
}

void ostrel_socket_transport_set_timeout_ms(int timeout_ms) {
    state().connection.set_timeout_ms(timeout_ms);
}

int ostrel_socket_yarl_send(yarl_handle_t handle, yarl_addr *dst,
                            uint32_t opcode, const void *payload,
                            uint32_t length, yarl_msg *msg, uint32_t,
                            yarl_send_opts *) {
    if (msg == nullptr || (payload == nullptr && length > 0))
        return fail(handle, EINVAL);
    uint32_t token = state().next_token;
    Delivery d = deliver(dst, opcode, payload, length, token);
    if (d.may_have_arrived)
        state().next_token++;
    if (d.err != 0)
        return fail(handle, d.err);
    hold_sent(msg, token);
    return 0;
}

int ostrel_socket_yarl_errno_get(yarl_handle_t handle) {
    auto it = state().errnos.find(handle);
    return it == state().errnos.end() ? 0 : it->second;
}

uint32_t ostrel_socket_yarl_rr_token_get(yarl_msg *msg) {
    if (msg == nullptr)
        return 0;
    uint64_t marker = msg->opaque[kMarker];
    if (marker != kHeldMarker && marker != kReleasedMarker)
        return 0;
    return static_cast<uint32_t>(msg->opaque[kToken]);
}

int ostrel_socket_yarl_drop(yarl_handle_t, yarl_msg *msg) {
    if (msg == nullptr || msg->opaque[kMarker] != kHeldMarker)
        return -1;
    release(msg);
    return 0;
}

int ostrel_socket_yarl_recv(yarl_handle_t handle, yarl_msg *record,
                            yarl_recv_opts *opts) {
    if (record == nullptr || opts == nullptr)
        return fail(handle, EINVAL);
    const uint32_t token = opts->word[3];
    if (reply_lost(token))
        return fail(handle, ECONNRESET);
    ReceivedFrame reply;
    Connection &c = state().connection;
    int err = c.wait_for(Kind::Reply, token, &reply, c.deadline());
    if (err == 0)
        err = hold_reply(record, reply);
    return err == 0 ? 0 : fail(handle, err);
}

void *ostrel_socket_yarl_payload_get(yarl_msg *record) {
    if (record == nullptr || record->opaque[kMarker] != kHeldMarker ||
        record->opaque[kReceived] == 0 || record->opaque[kHasPayload] == 0)
        return nullptr;
    return payload_of(record);
}

int ostrel_socket_heartbeat_update_and_send(uint32_t) {
    return 0;
}

} // extern "C"

namespace ostrel::socket_transport {

void adopt_connection(int fd) {
    TransportState &s = state();
    s.path.clear();
    s.next_token = kFirstToken;
    s.connection_first_token = kFirstToken;
    s.next_query = 1;
    s.connection.adopt(fd);
    s.generation++;
}

namespace {

// Longest answer taken from a service: far more than any table.
constexpr size_t kMaxAnswer = 256u << 20;

// Collects the pages of the answer to the Query `token`, each awaited
// within the timeout. An error page ends the answer with its error.
int receive_answer(uint32_t token, std::vector<uint8_t> *answer) {
    Connection &c = state().connection;
    answer->clear();
    ReceivedFrame page;
    do {
        int err = c.wait_for(Kind::Answer, token, &page, c.deadline());
        if (err == 0)
            err = page.head.error;
        if (err == 0 && answer->size() + page.payload.size() > kMaxAnswer)
            err = EMSGSIZE;
        if (err != 0)
            return err;
        answer->insert(answer->end(), page.payload.begin(), page.payload.end());
    } while (page.head.flags & ostrel::socket_frame::kMorePages);
    return 0;
}

} // namespace

int reconnect() {
    return ensure_connected(state().connection.deadline());
}

int query(uint32_t opcode, std::vector<uint8_t> *answer) {
    uint32_t token = state().next_query++;
    Head head = make_head(Kind::Query, token);
    head.opcode = opcode;
    int err = send_connected(head, nullptr, 0, state().connection.deadline());
    std::vector<uint8_t> received;
    if (err == 0)
        err = receive_answer(token, &received);
    if (err == 0 && answer != nullptr)
        *answer = std::move(received);
    if (err != 0)
        errno = err;
    return err;
}

} // namespace ostrel::socket_transport
