// Transport tap of aclctl: reports, captures and counts what the library
// sends and receives, and dispatches each transport call to the embedded
// simulated platform (__real_*) or to the socket transport.
#include "transport_tap.h"

#include <cerrno>
#include <cstdio>
#include <map>
#include <unistd.h>

#include "ostrelapi/platform/socket_transport.h"
#include "pcapng.h"
#include "sim_platform.hpp"
#include "transport_report.h"
#include "yarl.h"

extern "C" {
int __real_yarl_send(yarl_handle_t, yarl_addr *, uint32_t, const void *,
                     uint32_t, yarl_msg *, uint32_t, yarl_send_opts *);
int __real_yarl_errno_get(yarl_handle_t);
uint32_t __real_yarl_rr_token_get(yarl_msg *);
int __real_yarl_drop(yarl_handle_t, yarl_msg *);
int __real_yarl_recv(yarl_handle_t, yarl_msg *, yarl_recv_opts *);
void *__real_yarl_payload_get(yarl_msg *);
int __real_heartbeat_update_and_send(uint32_t);
int __real_usleep(useconds_t);
}

namespace ostrel::aclctl::tap {

namespace {

struct TapState {
    bool socket = false;
    bool fast_retry = false;
    bool keep_going = false;
    int gone = 0;
    std::string capture_dir;
    tools::PcapngWriter pcap;
    unsigned sends = 0;
    unsigned long long bytes = 0;
    unsigned command_sends = 0;
    unsigned command_timeouts = 0;
    tools::ServiceModel service;
    std::map<uint32_t, uint32_t> reply_status; // embedded: token -> status
};

TapState &state() {
    static TapState s;
    return s;
}

// Keeps a copy of the payload for `aclctl decode`.
void capture(const void *payload, uint32_t length) {
    if (state().capture_dir.empty())
        return;
    char name[32];
    std::snprintf(name, sizeof name, "/send-%03u.bin", state().sends);
    std::string path = state().capture_dir + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    bool ok = f != nullptr &&
              (length == 0 || std::fwrite(payload, length, 1, f) == 1);
    if (f != nullptr)
        ok = std::fclose(f) == 0 && ok;
    out::report_captured(path, ok, errno);
}

int embedded_send(yarl_handle_t handle, yarl_addr *dst, uint32_t opcode,
                  const void *payload, uint32_t length, yarl_msg *msg,
                  uint32_t zero, yarl_send_opts *opts) {
    int r =
        __real_yarl_send(handle, dst, opcode, payload, length, msg, zero, opts);
    if (r == 0) {
        uint32_t token = __real_yarl_rr_token_get(msg);
        state().reply_status[token] = state().service.handle(
            opcode, static_cast<const uint8_t *>(payload), length, nullptr);
    }
    return r;
}

int embedded_recv(yarl_handle_t handle, yarl_msg *record,
                  yarl_recv_opts *opts) {
    if (opts != nullptr) {
        auto it = state().reply_status.find(opts->word[3]);
        if (it != state().reply_status.end()) {
            ostrel::sim::set_reply_word(it->second);
            state().reply_status.erase(it);
        }
    }
    return __real_yarl_recv(handle, record, opts);
}

} // namespace

void use_socket_backend(bool on) {
    state().socket = on;
}
bool socket_backend() {
    return state().socket;
}
void set_fast_retry(bool on) {
    state().fast_retry = on;
}
void set_keep_going(bool on) {
    state().keep_going = on;
}
int service_gone() {
    return state().gone;
}
void note_transport_error(int err) {
    if (state().socket && state().gone == 0 &&
        (err == ECONNRESET || err == ENOTCONN || err == EPIPE ||
         err == ECONNREFUSED || err == ENOENT))
        state().gone = err;
}
bool reconnect() {
    if (!state().socket || ostrel::socket_transport::reconnect() != 0)
        return false;
    state().gone = 0;
    return true;
}
uint32_t connection_generation() {
    return state().socket ? ostrel_socket_generation(0) : 0;
}
void begin_command() {
    state().command_sends = 0;
    state().command_timeouts = 0;
}
bool command_unanswered() {
    return state().command_sends > 0 &&
           state().command_timeouts == state().command_sends;
}
void set_capture_dir(const std::string &dir) {
    state().capture_dir = dir;
}
bool set_pcap_file(const std::string &path, std::string *err) {
    return state().pcap.open(path, err);
}
const tools::ServiceModel &embedded_service() {
    return state().service;
}

unsigned long long messages_sent() {
    return state().sends;
}
unsigned long long bytes_sent() {
    return state().bytes;
}

} // namespace ostrel::aclctl::tap

using namespace ostrel::aclctl::tap;
namespace out = ostrel::aclctl::out;

extern "C" {

int __wrap_yarl_send(yarl_handle_t handle, yarl_addr *dst, uint32_t opcode,
                     const void *payload, uint32_t length, yarl_msg *msg,
                     uint32_t zero, yarl_send_opts *opts) {
    state().sends++;
    state().bytes += length;
    state().command_sends++;
    out::report_send(dst, opcode, payload, length);
    capture(payload, length);
    int r = socket_backend()
                ? ostrel_socket_yarl_send(handle, dst, opcode, payload, length,
                                          msg, zero, opts)
                : embedded_send(handle, dst, opcode, payload, length, msg, zero,
                                opts);
    uint32_t sent_token = r == 0 ? yarl_rr_token_get(msg) : 0;
    if (state().pcap.is_open()) { // a frame copies the whole payload
        state().pcap.write(
            ostrel::tools::send_frame(sent_token, opcode, payload, length));
        state().pcap.write(ostrel::tools::accept_frame(
            sent_token, r == 0 ? 0 : yarl_errno_get(handle)));
    }
    if (r == 0) {
        state().gone = 0; // back after a restart: the transport reconnected
        out::report_accepted(sent_token);
    } else {
        int err = yarl_errno_get(handle);
        note_transport_error(err);
        state().command_timeouts += err == ETIMEDOUT;
        out::report_refused(err);
        errno = err; // for the library's perror line
    }
    return r;
}

int __wrap_yarl_errno_get(yarl_handle_t handle) {
    return socket_backend() ? ostrel_socket_yarl_errno_get(handle)
                            : __real_yarl_errno_get(handle);
}

uint32_t __wrap_yarl_rr_token_get(yarl_msg *msg) {
    return socket_backend() ? ostrel_socket_yarl_rr_token_get(msg)
                            : __real_yarl_rr_token_get(msg);
}

int __wrap_yarl_drop(yarl_handle_t handle, yarl_msg *msg) {
    return socket_backend() ? ostrel_socket_yarl_drop(handle, msg)
                            : __real_yarl_drop(handle, msg);
}

void *__wrap_yarl_payload_get(yarl_msg *record) {
    return socket_backend() ? ostrel_socket_yarl_payload_get(record)
                            : __real_yarl_payload_get(record);
}

int __wrap_yarl_recv(yarl_handle_t handle, yarl_msg *record,
                     yarl_recv_opts *opts) {
    uint32_t token = opts != nullptr ? opts->word[3] : 0;
    int r = socket_backend() ? ostrel_socket_yarl_recv(handle, record, opts)
                             : embedded_recv(handle, record, opts);
    if (r == -1) {
        int err = yarl_errno_get(handle);
        note_transport_error(err);
        out::report_receive_failed(token, err);
        errno = err;
        return r;
    }
    // The transport gives no payload length: a reply's payload is the
    // service's 4-byte status word.
    const void *payload = yarl_payload_get(record);
    state().pcap.write(ostrel::tools::reply_frame(
        token, payload, payload != nullptr ? sizeof(uint32_t) : 0));
    out::report_reply(token, payload);
    return r;
}

int __wrap_heartbeat_update_and_send(uint32_t arg) {
    return socket_backend() ? ostrel_socket_heartbeat_update_and_send(arg)
                            : __real_heartbeat_update_and_send(arg);
}

int __wrap_usleep(useconds_t us) {
    const bool skip =
        state().fast_retry || (state().gone != 0 && !state().keep_going);
    out::report_retry(us, skip);
    return skip ? 0 : __real_usleep(us);
}

} // extern "C"
