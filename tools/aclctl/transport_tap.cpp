// Transport tap of aclctl: prints what the library sends and receives and
// dispatches each transport call to the embedded simulated platform
// (__real_*) or to the socket transport.
#include "transport_tap.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <unistd.h>

#include "counted.h"
#include "pcapng.h"
#include "progress_line.h"
#include "sim_platform.hpp"
#include "ostrelapi/platform/socket_transport.h"
#include "status_names.h"
#include "wire_decode.h"
#include "wire_json.h"
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

using tools::JsonObject;

struct TapState {
    bool socket = false;
    bool fast_retry = false;
    bool json = false;
    bool brief = false;
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
    const int err = errno;
    if (state().brief && ok)
        return;
    emit(ok ? "  captured " + path + "\n"
            : "  capture to " + path + " failed: " + std::strerror(err) + "\n",
         JsonObject().add("event", "captured").add("path", path).add("ok", ok));
}

void print_send(const yarl_addr *dst, uint32_t opcode, const void *payload,
                uint32_t length) {
    std::string head = "  send " + tools::counted(length, "byte") +
                       ", opcode " + std::to_string(opcode);
    if (dst != nullptr)
        head += ", to " + tools::hex_word(dst->node) + ":" +
                std::to_string(dst->service);
    std::string text;
    std::string err;
    const auto *bytes = static_cast<const uint8_t *>(payload);
    if (!tools::decode_message(bytes, length, &text, &err))
        text = "undecodable: " + err + "\n";
    JsonObject event;
    event.add("event", "send").add("opcode", opcode).add("length", length);
    if (dst != nullptr)
        event.add("node", dst->node).add("service", dst->service);
    event.raw("message", tools::message_json(bytes, length));
    emit(head + "\n" + indent(text, 4), event);
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

void set_brief(bool on) {
    state().brief = on;
}
bool brief() {
    return state().brief;
}
unsigned long long messages_sent() {
    return state().sends;
}
unsigned long long bytes_sent() {
    return state().bytes;
}

void set_json(bool on) {
    state().json = on;
}
bool json() {
    return state().json;
}

void emit(const std::string &text, const JsonObject &event) {
    emit(text, event.str());
}

void emit(const std::string &text, const std::string &event_json) {
    if (state().json)
        print(event_json + "\n");
    else if (!text.empty())
        print(text);
}

void print(const std::string &text) {
    progress::erase();
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

std::string indent(const std::string &text, int spaces) {
    std::string pad(static_cast<size_t>(spaces), ' ');
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        size_t end = nl == std::string::npos ? text.size() : nl + 1;
        out += pad + text.substr(start, end - start);
        start = end;
    }
    if (!out.empty() && out.back() != '\n')
        out += '\n';
    return out;
}

} // namespace ostrel::aclctl::tap

using namespace ostrel::aclctl::tap;
using ostrel::tools::JsonObject;

extern "C" {

int __wrap_yarl_send(yarl_handle_t handle, yarl_addr *dst, uint32_t opcode,
                     const void *payload, uint32_t length, yarl_msg *msg,
                     uint32_t zero, yarl_send_opts *opts) {
    state().sends++;
    state().bytes += length;
    state().command_sends++;
    if (!state().brief)
        print_send(dst, opcode, payload, length);
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
    if (r == 0)
        state().gone = 0; // back after a restart: the transport reconnected
    if (r == 0 && state().brief)
        return r;
    if (r == 0) {
        uint32_t token = sent_token;
        emit("  -> accepted, reply token " + std::to_string(token) + "\n",
             JsonObject().add("event", "accepted").add("token", token));
    } else {
        int err = yarl_errno_get(handle);
        note_transport_error(err);
        state().command_timeouts += err == ETIMEDOUT;
        if (!state().brief)
            emit("  -> refused, errno " + std::to_string(err) + "\n",
                 JsonObject().add("event", "refused").add("errno", err));
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
        emit("  reply token " + std::to_string(token) +
                 ": receive failed, errno " + std::to_string(err) + "\n",
             JsonObject()
                 .add("event", "receive_failed")
                 .add("token", token)
                 .add("errno", err));
        errno = err;
        return r;
    }
    const void *payload = yarl_payload_get(record);
    uint32_t word = 0;
    if (payload != nullptr)
        std::memcpy(&word, payload, sizeof word);
    // The transport gives no payload length: a reply's payload is the
    // service's 4-byte status word.
    state().pcap.write(ostrel::tools::reply_frame(
        token, payload, payload != nullptr ? sizeof word : 0));
    if (state().brief)
        return r;
    JsonObject event;
    event.add("event", "reply").add("token", token);
    event.add("payload", payload != nullptr);
    if (payload != nullptr)
        event.add("status", word).add("name", ostrel::tools::status_name(word));
    emit("  reply token " + std::to_string(token) + ": " +
             (payload != nullptr ? "status " + ostrel::tools::status_text(word)
                                 : std::string("no payload")) +
             "\n",
         event);
    return r;
}

int __wrap_heartbeat_update_and_send(uint32_t arg) {
    return socket_backend() ? ostrel_socket_heartbeat_update_and_send(arg)
                            : __real_heartbeat_update_and_send(arg);
}

int __wrap_usleep(useconds_t us) {
    const bool skip =
        state().fast_retry || (state().gone != 0 && !state().keep_going);
    if (!state().brief)
        emit("  retry after " + std::to_string(us) + " us" +
                 (skip ? " (skipped)" : "") + "\n",
             JsonObject()
                 .add("event", "retry")
                 .add("sleep_us", us)
                 .add("skipped", skip));
    return skip ? 0 : __real_usleep(us);
}

} // extern "C"
